// Tests of the settings: values read from the mailbox directory the host reports (asked at
// each read), and TLS paths made absolute from it.
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

TEST_F(SettingsTest, PathsAndValuesAsTheServerReadsThem) {
    Put("[Server]\r\nPortNo=70143\r\nBacklog=0\r\n"
        "TlsCert=cert.pem\r\nTlsKey=\\\\server\\key.pem\r\n");
    EXPECT_EQ(ReadPortNo(host_), 70143 & 0xFFFF);  // the low 16 bits
    EXPECT_EQ(ReadBacklog(host_), 5);              // below one is the default
    // A relative TLS path is taken from the mailbox directory; a rooted one is kept.
    const TlsSettings tls = ReadTlsSettings(host_);
    EXPECT_EQ(std::string(tls.certificate.c_str()), host_.Directory() + "cert.pem");
    EXPECT_STREQ(tls.key.c_str(), "\\\\server\\key.pem");
    // Nothing is kept: a directory that changes is followed at the next read.
    const fs::path other = dir_ / "other";
    fs::create_directories(other);
    std::ofstream(other / "Imap4.ini", std::ios::binary) << "[Server]\r\nPortNo=993\r\n";
    host_.SetMailboxDirectory(other.string() + "/");
    EXPECT_EQ(ReadPortNo(host_), 993);
}

}  // namespace
