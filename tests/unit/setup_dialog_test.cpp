// The setup dialog driven through its controls as a user would: the files it leaves are the
// bytes the same changes make through SetupStore (which orimapst uses), a bad value is refused
// with a message and the dialog stays, and Cancel leaves every file as it was.
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

// A port no program listens on, as the system hands one out.
unsigned FreePort() {
    const platform::SocketHandle s = platform::TcpSocket();
    platform::BindAny(s, 0);
    const int port = platform::SocketLocalPort(s);
    platform::CloseSocket(s);
    return static_cast<unsigned>(port);
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

TEST_F(SetupDialogTest, ChangesThroughTheControlsWriteWhatOrimapstWrites) {
    const unsigned port = FreePort();
    platform::SetDialogDriver([&](WindowHandle d) {
        EXPECT_EQ(Text(d, kPort), "14300");
        // Where the server's log is, in the mailbox directory itself.
        EXPECT_NE(Text(d, kLogFile).find(Dir("mailbox") + "Imap4.log"), std::string::npos)
            << Text(d, kLogFile);
        EXPECT_TRUE(platform::IsDlgButtonChecked(d, kFolderTitles)) << "the default";
        Type(d, kPort, std::to_string(port));
        platform::PressButton(d, kExtended);
        Type(d, kTlsPort, "0");

        Type(d, kMailRoot, "root2");
        Type(d, kUserName, "user2");
        Type(d, kPassword, "pass2");
        Type(d, kPasswordAgain, "pass2x");
        ExpectRefused(d, kAdd, "differ");
        Type(d, kPasswordAgain, "pass2");
        platform::PressButton(d, kAdd);
        EXPECT_EQ(Text(d, kPassword), "") << "a password added is not left on the screen";
        Type(d, kPassword, "pass3");
        Type(d, kPasswordAgain, "pass3");
        ExpectRefused(d, kAdd, "user2");  // twice the same name

        // Picking a user fills the fields; a new password for the first one.
        ASSERT_TRUE(platform::ChooseListItem(d, kUsers, 0));
        EXPECT_EQ(Text(d, kUserName), "user1");
        EXPECT_EQ(Text(d, kMailRoot), "root1");
        Type(d, kPassword, "better");
        Type(d, kPasswordAgain, "better");
        platform::PressButton(d, kChangePassword);

        Type(d, kTlsCert, "missing.pem");
        ExpectRefused(d, platform::kIdOk, "TlsCert");
        Type(d, kTlsCert, "");
        platform::PressButton(d, platform::kIdOk);
    });
    EXPECT_EQ(setup_dialog::Run(kModule, Dir("mailbox")), 1);

    SetupStore expected(Dir("expected"));
    std::string error;
    ASSERT_TRUE(expected.SetPortNo(std::to_string(port), &error));
    ASSERT_TRUE(expected.SetExtended("1", &error));
    ASSERT_TRUE(expected.AddUser("root2", "user2", "pass2", &error));
    ASSERT_TRUE(expected.ChangePassword("user1", "better", &error));
    ExpectSameFiles();
}

TEST_F(SetupDialogTest, CancelOrBadValuesChangeNothing) {
    // A port another program listens on.
    const platform::SocketHandle other = platform::TcpSocket();
    ASSERT_EQ(platform::BindAny(other, 0), 0);
    ASSERT_EQ(platform::ListenSocket(other, 1), 0);
    const std::string taken = std::to_string(platform::SocketLocalPort(other));
    platform::SetDialogDriver([&](WindowHandle d) {
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
