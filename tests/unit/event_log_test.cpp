// Tests of the server's log: a client's bytes cannot start a line of their own, and rotation
// keeps the files within their bound with whole lines only, newest in the file itself.
#include "base/event_log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

TEST(EventLogTest, ClientBytesAreQuotedOnOneLine) {
    EXPECT_EQ(EventLog::Quoted("alice"), "\"alice\"");
    EXPECT_EQ(EventLog::Quoted(std::string("a\"b\\c\r\nd\x7f\x01\xe3\x81\x82", 13)),
              "\"a\\\"b\\\\c\\x0D\\x0Ad\\x7F\\x01\\xE3\\x81\\x82\"");
    EXPECT_EQ(EventLog::Quoted(std::string("\0", 1)), "\"\\x00\"");
}

TEST(EventLogTest, RotationKeepsTheBoundAndWholeLines) {
    const fs::path dir =
        fs::temp_directory_path() /
        ("orv_log_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
    const std::string path = (dir / "Imap4.log").string();
    EventLog log;
    // Off until configured, and when off.
    log.Write(1, "10.0.0.1", "nothing");
    log.Configure({false, path, 1000, 2});
    log.Write(1, "10.0.0.1", "nothing");
    EXPECT_FALSE(fs::exists(path));

    log.Configure({true, path, 1000, 2});
    for (int i = 1; i <= 100; ++i)
        log.Write(static_cast<uint32_t>(i), i % 2 ? "192.0.2.7" : "", "event " + std::to_string(i));
    const std::regex line(
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d [+-]\\d{4} #(\\d+) (192\\.0\\.2\\.7|-) event "
        "(\\d+)\r\n");
    int last = 0;
    for (const char* suffix : {".2", ".1", ""}) {
        const std::string text = Read(path + suffix);
        EXPECT_LE(text.size(), 1000u) << suffix;
        // A rotated file was full: the next line did not fit.
        if (*suffix != '\0')
            EXPECT_GT(text.size() + 50, 1000u) << suffix;
        // Whole lines, numbered on from the older file to the newer.
        auto begin = std::sregex_iterator(text.begin(), text.end(), line);
        size_t covered = 0;
        for (auto it = begin; it != std::sregex_iterator(); ++it) {
            EXPECT_EQ((*it)[1], (*it)[3]);
            const int n = std::stoi((*it)[1]);
            if (last != 0)
                EXPECT_EQ(n, last + 1);
            last = n;
            covered += static_cast<size_t>(it->length());
        }
        EXPECT_EQ(covered, text.size()) << suffix;
    }
    EXPECT_EQ(last, 100);
    EXPECT_FALSE(fs::exists(path + ".3"));
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
