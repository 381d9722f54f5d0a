// Tests of the profile-file functions: lookup rules, integer and string reads, in-place edits
// that keep the rest of the file byte for byte, Shift_JIS names, and atomic concurrent writes.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

class ProfileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int serial = 0;
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir_ = fs::temp_directory_path() /
               ("orv_profile_" + std::to_string(stamp) + "_" + std::to_string(++serial));
        fs::create_directories(dir_);
        path_ = (dir_ / "Imap4.ini").string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    void Put(const std::string& bytes) {
        std::ofstream f(path_, std::ios::binary | std::ios::trunc);
        f << bytes;
    }
    std::string Contents() const {
        std::ifstream f(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    std::string Str(const char* section, const char* key, const char* def = "<def>") const {
        char buf[256];
        platform::ProfileString(section, key, def, buf, sizeof buf, path_.c_str());
        return buf;
    }
    uint32_t Int(const char* section, const char* key, int def = 77) const {
        return platform::ProfileInt(section, key, def, path_.c_str());
    }
    int Write(const char* section, const char* key, const char* value) {
        return platform::WriteProfileString(section, key, value, path_.c_str());
    }

    fs::path dir_;
    std::string path_;
};

// ---- lookup rules ----

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesDefault) {
    EXPECT_EQ(Str("Server", "PortNo"), "<def>");
    EXPECT_EQ(Int("Server", "PortNo", 143), 143u);
    EXPECT_FALSE(fs::exists(path_)) << "a read must not create the file";

    Put("[Server]\r\nPortNo=110\r\n");
    EXPECT_EQ(Str("Other", "PortNo"), "<def>");
    EXPECT_EQ(Str("Server", "Port"), "<def>");
    EXPECT_EQ(Int("Server", "FolderName", 1), 1u);
    EXPECT_EQ(Int("Server", "Missing", -1), 0xFFFFFFFFu);

    char buf[16];
    EXPECT_EQ(platform::ProfileString("Server", "Missing", nullptr, buf, sizeof buf, path_.c_str()),
              0u);
    EXPECT_STREQ(buf, "");
}

TEST_F(ProfileTest, SectionsAndKeysIgnoreAsciiCaseAndFirstMatchWins) {
    Put("[server]\nportno=1\nPORTNO=2\n[SERVER]\nPortNo=3\nOnlyInSecond=4\n"
        // 0x83 0x41 and 0x83 0x61 are two different katakana: the trail byte is no letter.
        "[Kana]\n\x83\x41=a\n\x83\x61=b\n");
    EXPECT_EQ(Str("Server", "PortNo"), "1");
    EXPECT_EQ(Str("SeRvEr", "pOrTnO"), "1");
    EXPECT_EQ(Str("Server", "OnlyInSecond"), "<def>") << "only the first section is searched";
    EXPECT_EQ(Str("Kana", "\x83\x41"), "a");
    EXPECT_EQ(Str("Kana", "\x83\x61"), "b");
}

TEST_F(ProfileTest, NonKeyLinesAndLinesBeforeTheFirstSectionAreNotKeys) {
    Put("Top=0\r\n"
        "; Comment=1\r\n"
        "[ Main ]  trailing\r\n"
        "just words\r\n"
        ";Note=2\r\n"
        "\tKey\t =  value with  inner blanks \t\r\n"
        "Empty=\n"
        "Eq=a=b\n"
        "Last=no line end");
    EXPECT_EQ(Str("", "Top"), "<def>");
    EXPECT_EQ(Str("Main", "just words"), "<def>");
    EXPECT_EQ(Str("Main", ";Note"), "2") << "a comment is an ordinary line in its section";
    EXPECT_EQ(Str("Main", "Key"), "value with  inner blanks");
    EXPECT_EQ(Str("Main", "Empty"), "");
    EXPECT_EQ(Str("Main", "Eq"), "a=b");
    EXPECT_EQ(Str("Main", "Last"), "no line end");
}

TEST_F(ProfileTest, OnePairOfEnclosingQuotesIsRemoved) {
    Put("[Q]\n"
        "D=\"  spaced  \"\n"
        "S='single'\n"
        "Two=\"\"x\"\"\n"
        "Open=\"open\n"
        "Mixed=\"mixed'\n"
        "Lone=\"\n"
        "Inner=a\"b\"\n");
    EXPECT_EQ(Str("Q", "D"), "  spaced  ");
    EXPECT_EQ(Str("Q", "S"), "single");
    EXPECT_EQ(Str("Q", "Two"), "\"x\"");
    EXPECT_EQ(Str("Q", "Open"), "\"open");
    EXPECT_EQ(Str("Q", "Mixed"), "\"mixed'");
    EXPECT_EQ(Str("Q", "Lone"), "\"");
    EXPECT_EQ(Str("Q", "Inner"), "a\"b\"");
}

TEST_F(ProfileTest, IntegersTakeTheLeadingDigits) {
    Put("[N]\nA=12abc\nB=-3\nC=abc\nD=\nE= 42 \nF=\"7\"\nG=-\nH=4294967297\n");
    EXPECT_EQ(Int("N", "A"), 12u);
    EXPECT_EQ(Int("N", "B"), static_cast<uint32_t>(-3));
    EXPECT_EQ(Int("N", "C"), 0u) << "a value without digits is 0, not the default";
    EXPECT_EQ(Int("N", "D"), 0u);
    EXPECT_EQ(Int("N", "E"), 42u);
    EXPECT_EQ(Int("N", "F"), 7u);
    EXPECT_EQ(Int("N", "G"), 0u);
    EXPECT_EQ(Int("N", "H"), 1u) << "wraps in 32 bits";
    EXPECT_EQ(Int("N", "Missing", 5), 5u);
}

TEST_F(ProfileTest, StringIsCutToTheBuffer) {
    Put("[S]\nK=abcdef\n");
    char buf[8];
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(platform::ProfileString("S", "K", "", buf, 4, path_.c_str()), 3u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(buf[4], 'X') << "nothing written past size";

    EXPECT_EQ(platform::ProfileString("S", "K", "", buf, 7, path_.c_str()), 6u);
    EXPECT_STREQ(buf, "abcdef");

    EXPECT_EQ(platform::ProfileString("S", "Missing", "defaultvalue", buf, 5, path_.c_str()), 4u);
    EXPECT_STREQ(buf, "defa");

    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(platform::ProfileString("S", "K", "", buf, 0, path_.c_str()), 0u);
    EXPECT_EQ(buf[0], 'X');
    EXPECT_EQ(platform::ProfileString("S", "K", "", buf, 1, path_.c_str()), 0u);
    EXPECT_EQ(buf[0], 0);
}

// ---- edits ----

TEST_F(ProfileTest, WriteKeepsEveryOtherLineByteForByte) {
    const std::string head = "; top comment\r\norphan=1\n\r\n[First]\r\n; about alpha\r\n";
    const std::string tail = "beta=2\n\r\n\t\n[Second]\nalpha=keep\n";
    Put(head + "  Alpha = \"old\"  \r\n" + tail);

    ASSERT_EQ(Write("FIRST", "ALPHA", "new"), 1);
    EXPECT_EQ(Contents(), head + "Alpha=new\r\n" + tail);
    EXPECT_EQ(Str("First", "alpha"), "new");
    EXPECT_EQ(Str("Second", "alpha"), "keep");

    // A new key goes after the section's last non-blank line, before its trailing blanks.
    ASSERT_EQ(Write("First", "gamma", "3"), 1);
    EXPECT_EQ(Contents(), head + "Alpha=new\r\nbeta=2\ngamma=3\r\n\r\n\t\n[Second]\nalpha=keep\n");

    ASSERT_EQ(Write("Second", "delta", "4"), 1);
    ASSERT_EQ(Write("Third", "k", "v"), 1);
    EXPECT_EQ(Contents(), head +
                              "Alpha=new\r\nbeta=2\ngamma=3\r\n\r\n\t\n[Second]\nalpha=keep\n"
                              "delta=4\r\n[Third]\r\nk=v\r\n");
}

TEST_F(ProfileTest, WriteCreatesFileSectionAndKey) {
    ASSERT_EQ(Write("IMAP4", "UID", "1"), 1);
    EXPECT_EQ(Contents(), "[IMAP4]\r\nUID=1\r\n");
    ASSERT_EQ(Write("IMAP4", "UID", "2"), 1);
    EXPECT_EQ(Contents(), "[IMAP4]\r\nUID=2\r\n");
    EXPECT_EQ(Int("IMAP4", "UID", 0), 2u);

    // A last line without a line end gets one before anything is added after it.
    Put("[S]\r\na=1");
    ASSERT_EQ(Write("S", "b", "2"), 1);
    EXPECT_EQ(Contents(), "[S]\r\na=1\r\nb=2\r\n");
    Put("x=1");
    ASSERT_EQ(Write("N", "k", ""), 1);
    EXPECT_EQ(Contents(), "x=1\r\n[N]\r\nk=\r\n");
    EXPECT_EQ(Str("N", "k"), "");

    // The only files left in the directory are the profiles: no temporary file survives.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        EXPECT_EQ(entry.path().filename(), "Imap4.ini");
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(ProfileTest, WriteFollowsSystemPathsAndReportsFailure) {
    fs::create_directories(dir_ / "inbox.box");
    std::string system = dir_.string() + "\\inbox.box\\Entry.ini";
    ASSERT_EQ(platform::WriteProfileString("IMAP4", "Subscribe", "0", system.c_str()), 1);
    EXPECT_TRUE(fs::exists(dir_ / "inbox.box" / "Entry.ini"));
    EXPECT_EQ(platform::ProfileInt("IMAP4", "Subscribe", 1, system.c_str()), 0u);

    std::string nowhere = (dir_ / "missing" / "Entry.ini").string();
    EXPECT_EQ(platform::WriteProfileString("IMAP4", "Subscribe", "1", nowhere.c_str()), 0);
    EXPECT_EQ(platform::WriteProfileString("IMAP4", "Subscribe", "1", dir_.string().c_str()), 0);
}

TEST_F(ProfileTest, NullValueRemovesKeyAndNullKeyRemovesSection) {
    const std::string original = "[A]\r\nx=1\r\n; note\r\ny=2\r\n\r\n[B]\nz=3\n[C]\r\nw=4\r\n";
    Put(original);

    ASSERT_EQ(Write("a", "X", nullptr), 1);
    EXPECT_EQ(Contents(), "[A]\r\n; note\r\ny=2\r\n\r\n[B]\nz=3\n[C]\r\nw=4\r\n");
    EXPECT_EQ(Str("A", "x"), "<def>");

    ASSERT_EQ(Write("A", "nosuch", nullptr), 1);
    ASSERT_EQ(Write("nosuch", "y", nullptr), 1);
    ASSERT_EQ(Write("nosuch", nullptr, nullptr), 1);
    EXPECT_EQ(Contents(), "[A]\r\n; note\r\ny=2\r\n\r\n[B]\nz=3\n[C]\r\nw=4\r\n");

    ASSERT_EQ(Write("b", nullptr, nullptr), 1);
    EXPECT_EQ(Contents(), "[A]\r\n; note\r\ny=2\r\n\r\n[C]\r\nw=4\r\n");
    ASSERT_EQ(Write("A", nullptr, "ignored"), 1);
    EXPECT_EQ(Contents(), "[C]\r\nw=4\r\n");
    EXPECT_EQ(Str("A", "y"), "<def>");

    // Removing from a missing file does not create it.
    fs::remove(path_);
    ASSERT_EQ(Write("C", "w", nullptr), 1);
    ASSERT_EQ(Write("C", nullptr, nullptr), 1);
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(ProfileTest, ShiftJisSectionsKeysAndValuesRoundTrip) {
    // "ゾ" (0x83 0x5D) ends in "]", "表" (0x95 0x5C) in "\", "ソ" (0x83 0x5C) in "\".
    const char* section = "\x83\x5D\x8E\xF3\x90\x4D";
    const char* key = "\x95\x5C\x91\xE8";
    const char* value = "\x83\x5C\x83\x74\x83\x67 \x8E\xF3\x90\x4D\x83\x67\x83\x8C\x83\x43";
    ASSERT_EQ(Write(section, key, value), 1);
    ASSERT_EQ(Write(section, "Title", "\x8E\x64\x8E\x96"), 1);
    EXPECT_EQ(Contents(), std::string("[") + section + "]\r\n" + key + "=" + value +
                              "\r\nTitle=\x8E\x64\x8E\x96\r\n");
    EXPECT_EQ(Str(section, key), value);
    EXPECT_EQ(Str(section, "title"), "\x8E\x64\x8E\x96");
    EXPECT_EQ(Str("\x83\x5D", key), "<def>") << "the header's name does not stop at a trail byte";
}

// ---- concurrency ----

TEST_F(ProfileTest, ReaderNeverSeesAPartialFile) {
    Put("[S]\r\nLong=start\r\nMarker=here\r\n");
    constexpr int kWrites = 150;
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};

    std::thread writer([&] {
        for (int i = 0; i < kWrites; ++i) {
            std::string v(20000 + (i % 5) * 3000, static_cast<char>('a' + i % 26));
            if (Write("S", "Long", v.c_str()) != 1)
                ++failures;
        }
        done = true;
    });
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            std::vector<char> buf(40000);
            for (int n = 0; n < 200000 && (n < 100 || !done); ++n) {
                char marker[16];
                platform::ProfileString("S", "Marker", "", marker, sizeof marker, path_.c_str());
                if (std::string(marker) != "here")
                    ++failures;
                uint32_t len = platform::ProfileString(
                    "S", "Long", "", buf.data(), static_cast<uint32_t>(buf.size()), path_.c_str());
                std::string v(buf.data(), len);
                bool uniform = v.find_first_not_of(v[0]) == std::string::npos;
                if (v != "start" && (!uniform || len < 20000 || (len - 20000) % 3000 != 0)) {
                    ++failures;
                }
            }
        });
    }
    writer.join();
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(Str("S", "Marker"), "here");
}

TEST_F(ProfileTest, ConcurrentWritersOfDifferentKeysBothLand) {
    constexpr int kKeys = 60;
    auto writeKeys = [&](char prefix) {
        for (int i = 0; i < kKeys; ++i) {
            std::string key = prefix + std::to_string(i);
            std::string value = key + "-value";
            Write("Shared", key.c_str(), value.c_str());
            Write(std::string(1, prefix).c_str(), "Last", std::to_string(i).c_str());
        }
    };
    std::thread a(writeKeys, 'A');
    std::thread b(writeKeys, 'B');
    a.join();
    b.join();
    for (char prefix : {'A', 'B'}) {
        for (int i = 0; i < kKeys; ++i) {
            std::string key = prefix + std::to_string(i);
            EXPECT_EQ(Str("Shared", key.c_str()), key + "-value");
        }
        EXPECT_EQ(Int(std::string(1, prefix).c_str(), "Last"), kKeys - 1u);
    }
}

}  // namespace
