// The setup dialog driven through its controls as a user would: a bad value is refused with a
// message and the dialog stays, and Cancel leaves every file as it was. (That the changes it
// makes are the bytes orimapst writes is checked on the Windows build, tests/win32.)
#include "setup/setup_dialog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/files.h"
#include "platform/sockets.h"
#include "setup/setup_store.h"

namespace fs = std::filesystem;
using platform::WindowHandle;
using namespace setup_dialog;

namespace {

int g_moduleTag;
const platform::ModuleHandle kModule = &g_moduleTag;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class SetupDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("setup_dialog_test." + std::to_string(getpid()));
        fs::remove_all(root_);
        for (const char* dir : {"mailbox", "expected", "tmp"})
            fs::create_directories(root_ / dir);
        // The staging copies go to a temporary directory of the test's own, to see them go.
        setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
        for (const char* dir : {"mailbox", "expected"}) {
            SetupStore store(Dir(dir));
            std::string error;
            ASSERT_TRUE(store.SetPortNo("14300", &error)) << error;
            ASSERT_TRUE(store.AddUser("root1", "user1", "secret", &error)) << error;
        }
        platform::RegisterDialogResource(kModule, kTemplate, Template());
        platform::ClearShown();
    }
    void TearDown() override {
        platform::SetDialogDriver(nullptr);
        platform::UnregisterResources(kModule);
        unsetenv("TMPDIR");
        fs::remove_all(root_);
    }
    std::string Dir(const char* name) const { return (root_ / name).string() + "/"; }
    void ExpectSameFiles() const {
        for (const char* file : {"Imap4.ini", "passwd"})
            EXPECT_EQ(Slurp(root_ / "mailbox" / file), Slurp(root_ / "expected" / file)) << file;
        EXPECT_TRUE(fs::is_empty(root_ / "tmp")) << "the staging copies are removed";
    }
    static std::string Text(WindowHandle d, int id) {
        std::string text;
        platform::GetWindowTextA(platform::GetDlgItem(d, id), &text);
        return text;
    }
    static void Type(WindowHandle d, int id, const std::string& text) {
        platform::SetWindowTextA(platform::GetDlgItem(d, id), text.c_str());
    }
    // Presses a button that must be refused: a message box tells why, and the dialog stays.
    static void ExpectRefused(WindowHandle d, int button, const std::string& why) {
        platform::ClearShown();
        ASSERT_TRUE(platform::PressButton(d, button));
        const platform::ShownMessageBox box = platform::LastMessageBox();
        EXPECT_TRUE(box.shown) << why;
        EXPECT_EQ(box.caption, kCaption);
        EXPECT_NE(box.text.find(why), std::string::npos) << box.text;
        EXPECT_FALSE(platform::LastDialog().shown) << "still running";
    }

    fs::path root_;
};

TEST_F(SetupDialogTest, CancelOrBadValuesChangeNothing) {
    // A port another program listens on.
    const platform::SocketHandle other = platform::TcpSocket();
    ASSERT_EQ(platform::BindAny(other, 0), 0);
    ASSERT_EQ(platform::ListenSocket(other, 1), 0);
    const std::string taken = std::to_string(platform::SocketLocalPort(other));
    platform::SetDialogDriver([&](WindowHandle d) {
        // Where the server's log is, in the mailbox directory itself.
        EXPECT_NE(Text(d, kLogFile).find(Dir("mailbox") + "Imap4.log"), std::string::npos)
            << Text(d, kLogFile);
        for (const char* bad : {"0", "65536", "12ab", ""}) {
            Type(d, kPort, bad);
            ExpectRefused(d, platform::kIdOk, "PortNo");
        }
        Type(d, kPort, taken);
        ExpectRefused(d, platform::kIdOk, "in use");
        Type(d, kPort, "14300");
        Type(d, kTlsPort, "14300");
        ExpectRefused(d, platform::kIdOk, "TLS port");
        Type(d, kUserName, "user1");
        platform::PressButton(d, kRemove);
        EXPECT_EQ(Text(d, kUserName), "");
        platform::PressButton(d, platform::kIdCancel);
    });
    EXPECT_EQ(setup_dialog::Run(kModule, Dir("mailbox")), 0);
    ExpectSameFiles();
    platform::CloseSocket(other);

    // OK without a change writes nothing either.
    const auto before = fs::last_write_time(root_ / "mailbox" / "passwd");
    platform::SetDialogDriver([](WindowHandle d) { platform::PressButton(d, platform::kIdOk); });
    EXPECT_EQ(setup_dialog::Run(kModule, Dir("mailbox")), 0);
    ExpectSameFiles();
    EXPECT_EQ(fs::last_write_time(root_ / "mailbox" / "passwd"), before);
}

}  // namespace
