// Tests of the path mapping: "\" separators become "/", while a 0x5C byte that is the second
// byte of a Shift_JIS character stays part of the name, also through real file calls.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/files.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

// 表 and ソ in Shift_JIS: both end in the byte 0x5C.
const char kHyo[] = "\x95\x5C";
const char kSo[] = "\x83\x5C";

TEST(MapPathTest, SeparatorsBecomeSlashes) {
    EXPECT_EQ(MapPath("C:\\mail\\inbox.box\\Entry.ini"), "C:/mail/inbox.box/Entry.ini");
    EXPECT_EQ(MapPath("/root/user\\work.box"), "/root/user/work.box");
    EXPECT_EQ(MapPath("a\\\\b\\"), "a//b/");
    EXPECT_EQ(MapPath(""), "");
    EXPECT_EQ(MapPath(nullptr), "");
}

TEST(MapPathTest, TrailByte5CStaysPartOfTheName) {
    const std::string hyo = kHyo;
    const std::string so = kSo;
    EXPECT_EQ(MapPath(("root\\" + hyo + "\\x").c_str()), "root/" + hyo + "/x");
    EXPECT_EQ(MapPath(("root\\" + so + "\\x").c_str()), "root/" + so + "/x");
    // The trail byte ends the character; the "\" right after it is a separator again.
    EXPECT_EQ(MapPath((so + "\\\\x").c_str()), so + "//x");
    EXPECT_EQ(MapPath((hyo + so + "\\" + hyo).c_str()), hyo + so + "/" + hyo);
    // Single-byte katakana (0xA1-0xDF) are not lead bytes.
    EXPECT_EQ(MapPath("\xB1\\x"), "\xB1/x");
    // A lead byte at the very end has no trail byte to take.
    EXPECT_EQ(MapPath("a\\\x95"), "a/\x95");
}

TEST(MapPathTest, FileWithTrailByteNameIsCreatedAndFound) {
    const std::string marker = MakeTempFileName(TempDirectory().c_str(), "pts");
    ASSERT_FALSE(marker.empty());
    const std::string root = marker + ".d";
    ASSERT_TRUE(fs::create_directory(root));
    ASSERT_TRUE(fs::create_directory(root + "/" + kHyo));

    // Every path below is in system form: "\" separators only.
    const std::string folder = root + "\\" + kHyo;
    const std::string file = folder + "\\" + kSo + ".txt";
    EXPECT_TRUE(DirectoryExists(folder.c_str()));
    FileHandle f = OpenFile(file.c_str(), kAccessReadWrite, kOpenAlways);
    ASSERT_NE(f, kInvalidFile);
    uint32_t done = 0;
    EXPECT_EQ(WriteFile(f, "so", 2, &done), 1);
    CloseFile(f);
    EXPECT_TRUE(fs::is_regular_file(root + "/" + kHyo + "/" + kSo + ".txt"))
        << "the 0x5C bytes stay inside the names";

    DirectorySearch search((folder + "\\*.TXT").c_str());
    FindData found;
    ASSERT_TRUE(search.Next(&found));
    EXPECT_EQ(found.name, std::string(kSo) + ".txt");
    EXPECT_FALSE(found.directory);
    EXPECT_FALSE(search.Next(&found));

    DirectorySearch folders((root + "\\*").c_str());
    bool sawFolder = false;
    while (folders.Next(&found)) {
        if (found.name == kHyo)
            sawFolder = found.directory;
    }
    EXPECT_TRUE(sawFolder);

    EXPECT_EQ(DeleteFilePath(file.c_str()), 1);
    EXPECT_FALSE(fs::exists(root + "/" + kHyo + "/" + kSo + ".txt"));

    std::error_code ec;
    fs::remove_all(root, ec);
    fs::remove(marker, ec);
}

}  // namespace
