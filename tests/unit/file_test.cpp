// Tests of File and TempFile: the line rules of both read modes, byte-exact buffered reads,
// peeking, line views and runs of whole lines across block ends, block reads, reads mixed with
// writes and seeks, open dispositions, and temporary file clean-up.
#include "base/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/text.h"

namespace fs = std::filesystem;

namespace {

// A file with the given contents in a temporary directory of its own, removed afterwards.
class FileFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        marker_ = platform::MakeTempFileName(platform::TempDirectory().c_str(), "fxt");
        dir_ = marker_ + ".d";
        fs::create_directory(dir_);
        path_ = dir_ + "\\data.txt";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
        fs::remove(marker_, ec);
    }
    void Create(const std::string& contents) {
        File f;
        ASSERT_TRUE(f.Open(path_.c_str(), platform::kAccessWrite, platform::kCreateAlways));
        ASSERT_TRUE(f.Write(contents.data(), static_cast<uint32_t>(contents.size())));
    }
    std::string Contents() {
        File f;
        if (!f.Open(path_.c_str(), platform::kAccessRead, platform::kOpenExisting))
            return "<none>";
        std::string out;
        for (int c = f.ReadByte(); c >= 0; c = f.ReadByte())
            out += static_cast<char>(c);
        return out;
    }
    std::string marker_;
    std::string dir_;
    std::string path_;
};

using FileLinesTest = FileFixture;

TEST_F(FileLinesTest, LineModeDropsCrAndEmptyLineReadsLikeEnd) {
    Create("ab\r\ncd\n\r\nef\r\rgh\r\n\nlast");
    File f;
    ASSERT_TRUE(f.Open(path_.c_str(), platform::kAccessRead, platform::kOpenExisting));
    Text line("junk");
    EXPECT_EQ(f.ReadLine(&line), 2);
    EXPECT_STREQ(line.c_str(), "ab");
    EXPECT_EQ(f.ReadLine(&line), 2);
    EXPECT_STREQ(line.c_str(), "cd");
    EXPECT_EQ(f.ReadLine(&line), 0) << "CR LF alone is an empty line";
    EXPECT_STREQ(line.c_str(), "");
    EXPECT_EQ(f.ReadLine(&line), 4) << "every CR is dropped, wherever it stands";
    EXPECT_STREQ(line.c_str(), "efgh");
    EXPECT_EQ(f.ReadLine(&line), 0);
    EXPECT_EQ(f.ReadLine(&line), 4) << "the last line needs no LF";
    EXPECT_STREQ(line.c_str(), "last");
    EXPECT_EQ(f.ReadLine(&line), 0);
    EXPECT_TRUE(f.AtEnd());
}

TEST_F(FileLinesTest, RawModeKeepsEveryByte) {
    Create("ab\r\ncd\n\r\n\nx\ry");
    File f;
    ASSERT_TRUE(f.Open(path_.c_str(), platform::kAccessRead, platform::kOpenExisting));
    Text line;
    EXPECT_EQ(f.ReadLine(&line, File::kRaw), 4);
    EXPECT_STREQ(line.c_str(), "ab\r\n");
    EXPECT_EQ(f.ReadLine(&line, File::kRaw), 3);
    EXPECT_STREQ(line.c_str(), "cd\n");
    EXPECT_EQ(f.ReadLine(&line, File::kRaw), 2);
    EXPECT_STREQ(line.c_str(), "\r\n");
    EXPECT_EQ(f.ReadLine(&line, File::kRaw), 1);
    EXPECT_STREQ(line.c_str(), "\n");
    EXPECT_EQ(f.ReadLine(&line, File::kRaw), 3) << "a lone CR does not end a raw line";
    EXPECT_STREQ(line.c_str(), "x\ry");
    EXPECT_EQ(f.ReadLine(&line, File::kRaw), 0);
    EXPECT_STREQ(line.c_str(), "");
}

TEST_F(FileLinesTest, ModesMixOnOneFile) {
    Create("Subject: a\r\n b\r\n\r\nbody\r\n");
    File f;
    ASSERT_TRUE(f.Open(path_.c_str(), platform::kAccessRead, platform::kOpenAlways));
    Text line;
    EXPECT_EQ(f.ReadLine(&line), 10);
    EXPECT_EQ(f.PeekByte(), ' ');
    EXPECT_EQ(f.ReadLine(&line), 2);
    EXPECT_STREQ(line.c_str(), " b");
    EXPECT_EQ(f.ReadLine(&line), 0);
    EXPECT_EQ(f.ReadLine(&line, File::kRaw), 6);
    EXPECT_STREQ(line.c_str(), "body\r\n");
    EXPECT_EQ(f.PeekByte(), -1);
}

TEST_F(FileLinesTest, LargerThanBufferReadsByteExactly) {
    // Lines of growing length so line ends, and one CR LF pair, fall across the 4096-byte
    // buffer boundary.
    std::string contents;
    for (int i = 0; contents.size() < 20000; ++i) {
        contents += std::string(static_cast<size_t>(i % 97), static_cast<char>('A' + i % 26));
        contents += (i % 3 == 0) ? "\r\n" : "\n";
        contents += static_cast<char>(1 + i % 255);  // every byte value but NUL
    }
    contents.insert(4095, "\r\n");
    Create(contents);

    EXPECT_EQ(Contents(), contents);

    File f;
    ASSERT_TRUE(f.Open(path_.c_str(), platform::kAccessRead, platform::kOpenExisting));
    std::string joined;
    Text line;
    int n;
    while ((n = f.ReadLine(&line, File::kRaw)) > 0) {
        ASSERT_EQ(n, line.Length());
        joined.append(line.c_str(), static_cast<size_t>(line.Length()));
    }
    EXPECT_EQ(joined.size(), contents.size());
    EXPECT_TRUE(joined == contents);
}

TEST_F(FileLinesTest, PeekThenRead) {
    Create(std::string(4096, 'a') + "\xFF" + "z");
    File f;
    ASSERT_TRUE(f.Open(path_.c_str(), platform::kAccessRead, platform::kOpenExisting));
    EXPECT_EQ(f.PeekByte(), 'a');
    EXPECT_EQ(f.PeekByte(), 'a');
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(f.ReadByte(), 'a') << i;
    EXPECT_FALSE(f.AtEnd());
    EXPECT_EQ(f.PeekByte(), 0xFF) << "bytes come back unsigned, across the buffer end";
    EXPECT_EQ(f.ReadByte(), 0xFF);
    EXPECT_EQ(f.ReadByte(), 'z');
    EXPECT_EQ(f.PeekByte(), -1);
    EXPECT_EQ(f.ReadByte(), -1);
    EXPECT_TRUE(f.AtEnd());
}

// Contents whose lines (LF, CR LF, NUL and high bytes in them) have lengths up to a few times
// the 4 KiB buffer, ending without an LF.
std::string MixedLines() {
    std::string contents;
    for (int i = 0; contents.size() < 60000; ++i) {
        const size_t length = static_cast<size_t>((i * 7919) % (i % 25 == 0 ? 9000 : 90));
        for (size_t k = 0; k < length; ++k)
            contents += static_cast<char>((i + k * 31) % 256 == '\n' ? 'x' : (i + k * 31) % 256);
        contents += (i % 3 == 0) ? "\r\n" : "\n";
    }
    return contents + "tail";
}

TEST_F(FileLinesTest, LineViewsAndRunsOfLinesMatchRawLines) {
    const std::string contents = MixedLines();
    Create(contents);
    for (uint32_t readAhead : {0u, 5000u, 70000u}) {
        File raw;
        File views;
        File runs;
        ASSERT_TRUE(raw.Open(path_.c_str(), platform::kAccessRead, platform::kOpenExisting));
        ASSERT_TRUE(views.Open(path_.c_str(), platform::kAccessRead, platform::kOpenExisting));
        ASSERT_TRUE(runs.Open(path_.c_str(), platform::kAccessRead, platform::kOpenExisting));
        views.SetReadAhead(readAhead);
        runs.SetReadAhead(readAhead);
        std::string joinedRuns;
        const char* run = nullptr;
        for (int n = runs.NextLines(&run); n > 0; n = runs.NextLines(&run)) {
            const std::string piece(run, static_cast<size_t>(n));
            // Whole lines only: an LF ends the run unless the file ended.
            ASSERT_TRUE(piece.back() == '\n' ||
                        joinedRuns.size() + piece.size() == contents.size());
            joinedRuns += piece;
        }
        EXPECT_TRUE(joinedRuns == contents) << readAhead;
        Text line;
        const char* view = nullptr;
        int lines = 0;
        for (;;) {
            const int expected = raw.ReadLine(&line, File::kRaw);
            const int n = views.NextLine(&view);
            ASSERT_EQ(n, expected) << "line " << lines;
            if (n == 0)
                break;
            ASSERT_EQ(std::string(view, static_cast<size_t>(n)),
                      std::string(line.c_str(), static_cast<size_t>(line.Length())));
            ++lines;
        }
        EXPECT_GT(lines, 100);
    }
}

TEST_F(FileLinesTest, BlockReadsUnreadAndSizeKeepThePosition) {
    std::string contents;
    for (int i = 0; i < 30000; ++i)
        contents += static_cast<char>(i * 13);
    Create(contents);
    File f;
    ASSERT_TRUE(f.Open(path_.c_str(), platform::kAccessRead, platform::kOpenExisting));
    EXPECT_EQ(f.ReadByte(), static_cast<unsigned char>(contents[0]));
    ASSERT_TRUE(f.Unread(1));  // back over a byte, with more read ahead: the same byte again
    EXPECT_EQ(f.ReadByte(), static_cast<unsigned char>(contents[0]));
    EXPECT_EQ(f.Size(), 30000);
    char block[20000];
    // The read-ahead's bytes first, then straight from the file.
    EXPECT_EQ(f.Read(block, sizeof block), sizeof block);
    EXPECT_TRUE(std::string(block, sizeof block) == contents.substr(1, sizeof block));
    ASSERT_TRUE(f.Unread(10));
    EXPECT_EQ(f.Read(block, 10), 10u);
    EXPECT_TRUE(std::string(block, 10) == contents.substr(sizeof block - 9, 10));
    f.SetReadAhead(1u << 30);  // capped, and what was read ahead is kept
    EXPECT_EQ(f.PeekByte(), static_cast<unsigned char>(contents[20001]));
    f.SetReadAhead(100);  // never shrinks
    EXPECT_EQ(f.Read(block, sizeof block), 30000u - 20001u);
    EXPECT_TRUE(std::string(block, 30000 - 20001) == contents.substr(20001));
    EXPECT_EQ(f.Read(block, sizeof block), 0u);
    EXPECT_EQ(f.Size(), 30000);
    File closed;
    EXPECT_EQ(closed.Size(), -1);
    EXPECT_EQ(closed.Read(block, 1), 0u);
}

TEST_F(FileLinesTest, WriteAfterLineViewsLandsAfterTheLastLine) {
    Create("first\nsecond\nthird\n");
    File f;
    ASSERT_TRUE(f.Open(path_.c_str(), platform::kAccessReadWrite, platform::kOpenExisting));
    f.SetReadAhead(64 * 1024);
    const char* view = nullptr;
    ASSERT_EQ(f.NextLine(&view), 6);
    ASSERT_TRUE(f.Write("SECOND", 6));
    ASSERT_EQ(f.NextLine(&view), 1) << "reading goes on after the written bytes";
    EXPECT_EQ(view[0], '\n');
    f.Close();
    EXPECT_EQ(Contents(), "first\nSECOND\nthird\n");
}

using FileAccessTest = FileFixture;

TEST_F(FileAccessTest, WritesLandWhereReadingStopped) {
    Create("0123456789");
    File f;
    ASSERT_TRUE(f.Open(path_.c_str(), platform::kAccessReadWrite, platform::kOpenExisting));
    EXPECT_EQ(f.ReadByte(), '0');
    EXPECT_EQ(f.ReadByte(), '1');
    EXPECT_EQ(f.ReadByte(), '2');
    ASSERT_TRUE(f.WriteByte('X'));
    EXPECT_EQ(f.ReadByte(), '4') << "reading goes on after the written byte";
    EXPECT_EQ(f.PeekByte(), '5');
    ASSERT_TRUE(f.Write("YZ", 2)) << "a peeked byte is not consumed";
    EXPECT_EQ(f.ReadByte(), '7');
    EXPECT_EQ(f.SeekTo(1), 1);
    EXPECT_EQ(f.ReadByte(), '1') << "a seek drops the read-ahead";
    EXPECT_EQ(f.SeekTo(10), 10);
    ASSERT_TRUE(f.Write("!", 1));
    f.Close();
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(Contents(), "012X4YZ789!");
}

TEST_F(FileAccessTest, OpenDispositionsAndClosedFile) {
    File f;
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.ReadByte(), -1);
    EXPECT_FALSE(f.WriteByte('x'));
    EXPECT_EQ(f.SeekTo(0), -1);
    platform::SystemTime t{};
    EXPECT_FALSE(f.LastWriteTime(&t));

    EXPECT_FALSE(f.Open(path_.c_str(), platform::kAccessRead, platform::kOpenExisting));
    ASSERT_TRUE(f.Open(path_.c_str(), platform::kAccessRead, platform::kOpenAlways));
    EXPECT_TRUE(fs::is_regular_file(dir_ + "/data.txt")) << "open-always creates it empty";
    EXPECT_TRUE(f.AtEnd());
    EXPECT_TRUE(f.LastWriteTime(&t));
    EXPECT_GE(t.year, 2020);

    Create("old contents");
    ASSERT_TRUE(f.Open(path_.c_str(), platform::kAccessRead, platform::kOpenExisting));
    EXPECT_EQ(f.ReadByte(), 'o') << "a second Open replaces the first handle";
    ASSERT_TRUE(f.Open(path_.c_str(), platform::kAccessReadWrite, platform::kCreateAlways));
    EXPECT_TRUE(f.AtEnd()) << "create-always truncates, and no old read-ahead survives";
    EXPECT_FALSE(f.Open(dir_.c_str(), platform::kAccessRead, platform::kOpenExisting));
    EXPECT_FALSE(f.IsOpen());
}

TEST(TempFileTest, ReadWriteThenDeletedOnDestruction) {
    std::string first;
    {
        TempFile a;
        TempFile b;
        first = a.Path().c_str();
        const std::string head = platform::TempDirectory() + "imp";
        ASSERT_EQ(first.compare(0, head.size(), head), 0) << first;
        EXPECT_EQ(first.substr(first.size() - 4), ".tmp");
        EXPECT_NE(first, b.Path().c_str());
        ASSERT_TRUE(a.IsOpen());
        ASSERT_TRUE(a.Write("Hello", 5));
        EXPECT_EQ(a.SeekTo(0), 0);
        Text line;
        EXPECT_EQ(a.ReadLine(&line), 5);
        EXPECT_STREQ(line.c_str(), "Hello");
        EXPECT_TRUE(fs::is_regular_file(first));
        EXPECT_EQ(fs::file_size(first), 5u);
    }
    EXPECT_FALSE(fs::exists(first)) << "the destructor deletes the file";
}

}  // namespace
