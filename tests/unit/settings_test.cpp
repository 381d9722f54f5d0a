// Tests of the settings: the files named from the mailbox directory the host reports, every
// key of section "Server" with its default, the process-wide folder-name mode, TLS paths made
// absolute from the mailbox directory, and how often the host is asked for the directory.
#include "store/settings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "fake_host.h"

namespace {

namespace fs = std::filesystem;

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int serial = 0;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir_ = fs::temp_directory_path() /
               ("orv_settings_" + std::to_string(stamp) + "_" + std::to_string(++serial));
        fs::create_directories(dir_);
        host_.SetMailboxDirectory(dir_.string() + "/");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
        UseTitles.store(1);
    }
    void Put(const std::string& bytes) {
        std::ofstream(dir_ / "Imap4.ini", std::ios::binary | std::ios::trunc) << bytes;
    }

    fs::path dir_;
    FakeHost host_;
};

TEST_F(SettingsTest, FilesLieDirectlyInTheMailboxDirectory) {
    EXPECT_EQ(std::string(SettingsPath(host_).c_str()), host_.Directory() + "Imap4.ini");
    EXPECT_EQ(std::string(PasswordFilePath(host_).c_str()), host_.Directory() + "passwd");
    // A host that reports no directory names the files in the current directory.
    FakeHost unbound;
    EXPECT_STREQ(SettingsPath(unbound).c_str(), "Imap4.ini");
    EXPECT_STREQ(PasswordFilePath(unbound).c_str(), "passwd");
}

TEST_F(SettingsTest, DefaultsWithoutASettingsFile) {
    EXPECT_EQ(ReadPortNo(host_), 143);
    EXPECT_EQ(ReadBacklog(host_), 5);
    EXPECT_EQ(ReadExtended(host_), 0);
    const ServerLimits limits = ReadLimits(host_);
    EXPECT_EQ(limits.maxLineLength, 1u << 20);
    EXPECT_EQ(limits.maxConnections, 256u);
    EXPECT_EQ(limits.maxAppendSize, 64u << 20);
    const TlsSettings tls = ReadTlsSettings(host_);
    EXPECT_TRUE(tls.certificate.IsEmpty());
    EXPECT_TRUE(tls.key.IsEmpty());
    EXPECT_EQ(tls.port, 0);
    EXPECT_EQ(tls.required, 0);
    UseTitles.store(0);
    RefreshUseTitles(host_);
    EXPECT_EQ(UseTitles.load(), 1);
    EXPECT_FALSE(fs::exists(dir_ / "Imap4.ini")) << "reading creates no file";
}

TEST_F(SettingsTest, EveryKeyOfTheServerSection) {
    Put("[Server]\r\nPortNo=70143\r\nBacklog=64\r\nExtended=1\r\nFolderName=0\r\n"
        "MaxLineLength=100\r\nMaxConnections=3\r\nMaxAppendSize=0\r\n"
        "TlsCert=/etc/cert.pem\r\nTlsKey=key.pem\r\nTlsPort=10993\r\nRequireTls=1\r\n");
    EXPECT_EQ(ReadPortNo(host_), 70143 & 0xFFFF);  // the low 16 bits
    EXPECT_EQ(ReadBacklog(host_), 64);
    EXPECT_EQ(ReadExtended(host_), 1);
    RefreshUseTitles(host_);
    EXPECT_EQ(UseTitles.load(), 0);
    const ServerLimits limits = ReadLimits(host_);
    EXPECT_EQ(limits.maxLineLength, 100u);
    EXPECT_EQ(limits.maxConnections, 3u);
    EXPECT_EQ(limits.maxAppendSize, 0u);
    const TlsSettings tls = ReadTlsSettings(host_);
    EXPECT_STREQ(tls.certificate.c_str(), "/etc/cert.pem");
    // A relative path is taken from the mailbox directory.
    EXPECT_EQ(std::string(tls.key.c_str()), host_.Directory() + "key.pem");
    EXPECT_EQ(tls.port, 10993);
    EXPECT_EQ(tls.required, 1);
}

TEST_F(SettingsTest, ABacklogBelowOneIsTheDefault) {
    Put("[Server]\r\nBacklog=0\r\n");
    EXPECT_EQ(ReadBacklog(host_), 5);
    Put("[Server]\r\nBacklog=-3\r\n");
    EXPECT_EQ(ReadBacklog(host_), 5);
}

TEST_F(SettingsTest, AbsolutePathFormsAreKept) {
    Put("[Server]\r\nTlsCert=\\\\server\\cert.pem\r\nTlsKey=C:key.pem\r\n");
    const TlsSettings tls = ReadTlsSettings(host_);
    EXPECT_STREQ(tls.certificate.c_str(), "\\\\server\\cert.pem");
    EXPECT_STREQ(tls.key.c_str(), "C:key.pem");
}

TEST_F(SettingsTest, TheHostIsAskedForTheDirectoryAtEveryRead) {
    // Nothing is kept: each read asks once, and each relative TLS path once more.
    Put("[Server]\r\nTlsCert=cert.pem\r\nTlsKey=key.pem\r\n");
    ReadPortNo(host_);
    ReadBacklog(host_);
    ReadExtended(host_);
    ReadLimits(host_);
    RefreshUseTitles(host_);
    EXPECT_EQ(host_.MailboxCalls(), 5);
    host_.ClearCalls();
    ReadTlsSettings(host_);
    EXPECT_EQ(host_.MailboxCalls(), 3);
    // A directory that changes is followed at the next read.
    const fs::path other = dir_ / "other";
    fs::create_directories(other);
    std::ofstream(other / "Imap4.ini", std::ios::binary) << "[Server]\r\nPortNo=993\r\n";
    host_.SetMailboxDirectory(other.string() + "/");
    EXPECT_EQ(ReadPortNo(host_), 993);
}

}  // namespace
