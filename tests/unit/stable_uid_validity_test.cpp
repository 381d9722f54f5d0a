// Tests of the lasting UIDVALIDITY of extended mode: a folder without its own value gets the
// shared counter's next one written into its "Imap4.ini" once, and keeps it; a folder with one
// is left alone; concurrent first opens agree on one value; the exact opening is unchanged.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fake_host.h"
#include "platform/profile.h"
#include "store/mailbox.h"

namespace {

namespace fs = std::filesystem;

class StableUidValidityTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int serial = 0;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root_ = fs::temp_directory_path() /
                ("orv_uidv_" + std::to_string(stamp) + "_" + std::to_string(++serial));
        fs::create_directories(root_ / "user" / "work.box");
        fs::create_directories(root_ / "user" / "inbox.box");
        host_.SetMailboxDirectory(root_.string() + "/");
        Put(root_ / "Imap4.ini", "[Server]\r\nPortNo=143\r\n[IMAP4]\r\nUID=40\r\n");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    void Put(const fs::path& path, const std::string& bytes) {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f << bytes;
    }
    uint32_t Counter() { return ProfileUid(root_ / "Imap4.ini"); }
    uint32_t FolderUid(const char* folder) {
        return ProfileUid(root_ / "user" / folder / "Imap4.ini");
    }
    static uint32_t ProfileUid(const fs::path& path) {
        return platform::ProfileInt("IMAP4", "UID", 0, path.c_str());
    }
    uint32_t Open(const char* folder, bool keep) {
        Mailbox box(host_, "user", folder);
        box.OpenIndex(keep);
        return box.UidValidity();
    }

    fs::path root_;
    FakeHost host_;
};

TEST_F(StableUidValidityTest, FirstOpenWritesTheValueLaterOpensReadIt) {
    EXPECT_EQ(Open("INBOX", true), 41u);
    EXPECT_EQ(FolderUid("inbox.box"), 41u);
    EXPECT_EQ(Counter(), 41u);
    // Both ways of opening now report it; the counter stays where it is.
    EXPECT_EQ(Open("INBOX", true), 41u);
    EXPECT_EQ(Open("INBOX", false), 41u);
    Mailbox status(host_, "user", "INBOX");
    status.KeepUidValidity();
    EXPECT_EQ(status.UidValidity(), 41u);
    EXPECT_EQ(Counter(), 41u);
    // The next folder gets the next value.
    EXPECT_EQ(Open("work.box", true), 42u);
    EXPECT_EQ(FolderUid("work.box"), 42u);
}

TEST_F(StableUidValidityTest, FolderValueLeftAloneAndExactOpeningUnchanged) {
    Put(root_ / "user" / "work.box" / "Imap4.ini", "[IMAP4]\r\nUID=5\r\n");
    EXPECT_EQ(Open("work.box", true), 5u);
    EXPECT_EQ(Counter(), 40u);
    // The exact opening draws a new value every time and writes nothing into the folder.
    EXPECT_EQ(Open("INBOX", false), 41u);
    EXPECT_EQ(Open("INBOX", false), 42u);
    EXPECT_FALSE(fs::exists(root_ / "user" / "inbox.box" / "Imap4.ini"));
}

TEST_F(StableUidValidityTest, MissingFolderDirectoryIsNotCreated) {
    EXPECT_EQ(Open("gone.box", true), 41u);
    EXPECT_EQ(Open("gone.box", true), 42u);
    EXPECT_FALSE(fs::exists(root_ / "user" / "gone.box"));
}

TEST_F(StableUidValidityTest, ConcurrentFirstOpensAgree) {
    constexpr int kThreads = 8;
    std::vector<uint32_t> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, &seen, t] { seen[t] = Open("work.box", true); });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(std::set<uint32_t>(seen.begin(), seen.end()), std::set<uint32_t>{41u});
    EXPECT_EQ(FolderUid("work.box"), 41u);
    EXPECT_EQ(Counter(), 41u);
}

}  // namespace
