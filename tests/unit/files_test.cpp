// Tests of the file and directory calls of the OS layer: wildcard matching, open dispositions,
// reads, writes and seeks, last-write times, temporary names and the sorted directory search.
#include <gtest/gtest.h>

#include <cstdlib>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/stamp_notices.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

// A fresh directory under the temporary directory, removed with everything in it.
class ScratchDir {
  public:
    ScratchDir() {
        marker_ = MakeTempFileName(TempDirectory().c_str(), "fts");
        path_ = marker_ + ".d";
        fs::create_directory(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
        fs::remove(marker_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string marker_;
    std::string path_;
};

void WriteAll(const std::string& path, const std::string& data) {
    FileHandle f = OpenFile(path.c_str(), kAccessWrite, kCreateAlways);
    ASSERT_NE(f, kInvalidFile) << path;
    uint32_t done = 0;
    ASSERT_EQ(WriteFile(f, data.data(), static_cast<uint32_t>(data.size()), &done), 1);
    ASSERT_EQ(done, data.size());
    CloseFile(f);
}

std::string ReadAll(const std::string& path) {
    FileHandle f = OpenFile(path.c_str(), kAccessRead, kOpenExisting);
    if (f == kInvalidFile)
        return "<missing>";
    std::string out;
    char buf[100];
    uint32_t done = 0;
    while (ReadFile(f, buf, sizeof buf, &done) && done > 0)
        out.append(buf, done);
    CloseFile(f);
    return out;
}

std::vector<FindData> Search(const std::string& pattern) {
    std::vector<FindData> found;
    DirectorySearch search(pattern.c_str());
    FindData d;
    while (search.Next(&d))
        found.push_back(d);
    EXPECT_FALSE(search.Next(&d)) << "a finished search stays finished";
    return found;
}

std::string Names(const std::vector<FindData>& found) {
    std::string out;
    for (const FindData& d : found)
        out += (out.empty() ? "" : " ") + d.name + (d.directory ? "/" : "");
    return out;
}

// Seconds since 1970 of a UTC calendar date and time.
int64_t UtcSeconds(const SystemTime& t) {
    int y = t.year - (t.month <= 2 ? 1 : 0);
    int era = (y >= 0 ? y : y - 399) / 400;
    int yoe = y - era * 400;
    int doy = (153 * (t.month + (t.month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
    return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

TEST(WildcardMatchTest, StarQuestionMarkAndCase) {
    EXPECT_TRUE(WildcardMatch("*.BOX", "inbox.box"));
    EXPECT_TRUE(WildcardMatch("*.box", "Work.BoX"));
    EXPECT_FALSE(WildcardMatch("*.box", "inbox.boxes"));
    EXPECT_FALSE(WildcardMatch("*.box", "inbox.bo"));
    EXPECT_TRUE(WildcardMatch("INBOX.BOX", "inbox.box"));
    EXPECT_TRUE(WildcardMatch("a?c", "abc"));
    EXPECT_TRUE(WildcardMatch("a?c", "a.c"));
    EXPECT_FALSE(WildcardMatch("a?c", "ac"));
    EXPECT_FALSE(WildcardMatch("a?c", "abbc"));
    EXPECT_TRUE(WildcardMatch("*", ""));
    EXPECT_TRUE(WildcardMatch("a*b*c", "aXXbYYc"));
    EXPECT_FALSE(WildcardMatch("a*b*c", "aXXcYYb"));
    EXPECT_FALSE(WildcardMatch("", "a"));
    // Letters are folded, other bytes are not: "[" is not "{" although they differ by 0x20.
    EXPECT_FALSE(WildcardMatch("[", "{"));
}

TEST(WildcardMatchTest, DotStarAlsoMatchesNamesWithoutExtension) {
    EXPECT_TRUE(WildcardMatch("*.*", "README"));
    EXPECT_TRUE(WildcardMatch("*.*", "a.b.c"));
    EXPECT_TRUE(WildcardMatch("*.*", "."));
    EXPECT_TRUE(WildcardMatch("*.*", ".."));
    EXPECT_TRUE(WildcardMatch("name.*", "name"));
    EXPECT_FALSE(WildcardMatch("name.*", "names"));
}

TEST(WildcardMatchTest, PercentAndOtherBytesAreLiteral) {
    EXPECT_TRUE(WildcardMatch("%", "%"));
    EXPECT_FALSE(WildcardMatch("%", "a"));
    EXPECT_FALSE(WildcardMatch("%", ""));
    EXPECT_FALSE(WildcardMatch("a%", "ab"));
    EXPECT_TRUE(WildcardMatch("b%c*", "b%cd"));
}

TEST(WildcardMatchTest, TrailBytesAreNotCaseFolded) {
    // ア is 0x83 0x41 and ピ is 0x83 0x73: their trail bytes look like "A" and "s".
    EXPECT_TRUE(WildcardMatch("\x83\x41", "\x83\x41"));
    EXPECT_FALSE(WildcardMatch("\x83\x61", "\x83\x41"));
    EXPECT_FALSE(WildcardMatch("*a", "\x83\x41"));
    EXPECT_FALSE(WildcardMatch("*S", "\x83\x73"));
}

TEST(WildcardMatchTest, ManyStarsStillDecideCorrectly) {
    const std::string name(200, 'a');
    EXPECT_FALSE(WildcardMatch("*a*a*a*a*a*a*a*a*a*a*b", name.c_str()));
    EXPECT_TRUE(WildcardMatch("*a*a*a*a*a*a*a*a*a*a*", name.c_str()));
}

TEST(OpenFileTest, Dispositions) {
    ScratchDir dir;
    const std::string path = dir / "data.txt";

    EXPECT_EQ(OpenFile(path.c_str(), kAccessRead, kOpenExisting), kInvalidFile);
    EXPECT_FALSE(fs::exists(path)) << "open-existing must not create";

    FileHandle f = OpenFile(path.c_str(), kAccessReadWrite, kOpenAlways);
    ASSERT_NE(f, kInvalidFile);
    EXPECT_EQ(SeekFile(f, 0, kSeekEnd), 0) << "open-always creates an empty file";
    CloseFile(f);

    WriteAll(path, "content");
    f = OpenFile(path.c_str(), kAccessReadWrite, kOpenAlways);
    ASSERT_NE(f, kInvalidFile);
    CloseFile(f);
    EXPECT_EQ(ReadAll(path), "content") << "open-always keeps an existing file";

    f = OpenFile(path.c_str(), kAccessReadWrite, kCreateAlways);
    ASSERT_NE(f, kInvalidFile);
    CloseFile(f);
    EXPECT_EQ(ReadAll(path), "") << "create-always truncates";
}

TEST(OpenFileTest, AccessModesSharingAndDirectories) {
    ScratchDir dir;
    const std::string path = dir / "shared.txt";
    WriteAll(path, "abc");

    FileHandle a = OpenFile(path.c_str(), kAccessRead, kOpenExisting);
    FileHandle b = OpenFile(path.c_str(), kAccessRead, kOpenExisting);
    ASSERT_NE(a, kInvalidFile);
    ASSERT_NE(b, kInvalidFile) << "a second reader is allowed";
    uint32_t done = 99;
    EXPECT_EQ(WriteFile(a, "x", 1, &done), 0) << "a read-only handle cannot write";
    EXPECT_EQ(done, 0u);
    char buf[8];
    EXPECT_EQ(ReadFile(b, buf, sizeof buf, &done), 1);
    EXPECT_EQ(std::string(buf, done), "abc");
    CloseFile(a);
    CloseFile(b);

    FileHandle w = OpenFile(path.c_str(), kAccessWrite, kOpenExisting);
    ASSERT_NE(w, kInvalidFile);
    EXPECT_EQ(ReadFile(w, buf, sizeof buf, &done), 0) << "a write-only handle cannot read";
    CloseFile(w);

    EXPECT_EQ(OpenFile(dir.path().c_str(), kAccessRead, kOpenExisting), kInvalidFile);
    EXPECT_EQ(OpenFile(dir.path().c_str(), kAccessRead, kOpenAlways), kInvalidFile);
    EXPECT_EQ(CloseFile(kInvalidFile), 0);

    // A named pipe in a store is refused at once instead of blocking the opener for ever.
    const std::string fifo = dir / "pipe";
    ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
    EXPECT_EQ(OpenFile(fifo.c_str(), kAccessRead, kOpenAlways), kInvalidFile);
    EXPECT_EQ(OpenFile(fifo.c_str(), kAccessReadWrite, kOpenExisting), kInvalidFile);
}

TEST(OpenFileTest, ReadWriteSeek) {
    ScratchDir dir;
    const std::string path = dir / "rw.bin";
    FileHandle f = OpenFile(path.c_str(), kAccessReadWrite, kCreateAlways);
    ASSERT_NE(f, kInvalidFile);
    uint32_t done = 0;
    ASSERT_EQ(WriteFile(f, "hello world", 11, &done), 1);
    EXPECT_EQ(done, 11u);
    EXPECT_EQ(SeekFile(f, 0, kSeekCurrent), 11);
    EXPECT_EQ(SeekFile(f, 6, kSeekBegin), 6);
    char buf[32];
    ASSERT_EQ(ReadFile(f, buf, 3, &done), 1);
    EXPECT_EQ(std::string(buf, done), "wor");
    EXPECT_EQ(SeekFile(f, -2, kSeekCurrent), 7);
    ASSERT_EQ(ReadFile(f, buf, sizeof buf, &done), 1);
    EXPECT_EQ(std::string(buf, done), "orld") << "a short read only at the end";
    ASSERT_EQ(ReadFile(f, buf, sizeof buf, &done), 1);
    EXPECT_EQ(done, 0u) << "end of file reads zero bytes and succeeds";
    EXPECT_EQ(SeekFile(f, -5, kSeekEnd), 6);
    EXPECT_EQ(SeekFile(f, -20, kSeekBegin), -1);

    // At an offset: in place, short only at the end, nothing past it.
    ASSERT_EQ(WriteFileAt(f, 6, "WORLD", 5, &done), 1);
    EXPECT_EQ(done, 5u);
    ASSERT_EQ(ReadFileAt(f, 4, buf, 4, &done), 1);
    EXPECT_EQ(std::string(buf, done), "o WO");
    ASSERT_EQ(ReadFileAt(f, 9, buf, sizeof buf, &done), 1);
    EXPECT_EQ(std::string(buf, done), "LD");
    ASSERT_EQ(ReadFileAt(f, 40, buf, sizeof buf, &done), 1);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(ReadFileAt(f, -1, buf, 1, &done), 0);
    CloseFile(f);
    EXPECT_EQ(ReadAll(path), "hello WORLD");
}

TEST(FileLastWriteTimeTest, IsUtcCalendarTimeWithDayOfWeek) {
    ScratchDir dir;
    const std::string path = dir / "dated.txt";
    WriteAll(path, "x");

    // 2001-02-03 04:05:06.500 UTC, a Saturday; set through the file clock's offset from the
    // system clock.
    using namespace std::chrono;
    const system_clock::time_point target =
        system_clock::time_point(seconds(981173106)) + milliseconds(500);
    const auto shift = duration_cast<fs::file_time_type::duration>(target - system_clock::now());
    fs::last_write_time(path, fs::file_time_type::clock::now() + shift);

    FileHandle f = OpenFile(path.c_str(), kAccessRead, kOpenExisting);
    ASSERT_NE(f, kInvalidFile);
    SystemTime t{};
    ASSERT_EQ(FileLastWriteTime(f, &t), 1);
    CloseFile(f);
    EXPECT_EQ(t.year, 2001);
    EXPECT_EQ(t.month, 2);
    EXPECT_EQ(t.day, 3);
    EXPECT_EQ(t.dayOfWeek, 6);
    EXPECT_EQ(t.hour, 4);
    EXPECT_EQ(t.minute, 5);
    EXPECT_EQ(t.second, 6);
    EXPECT_NEAR(t.milliseconds, 500, 100);

    EXPECT_EQ(FileLastWriteTime(kInvalidFile, &t), 0);
}

TEST(FileLastWriteTimeTest, NewFileIsCloseToNow) {
    ScratchDir dir;
    const std::string path = dir / "fresh.txt";
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    WriteAll(path, "x");
    FileHandle f = OpenFile(path.c_str(), kAccessRead, kOpenExisting);
    ASSERT_NE(f, kInvalidFile);
    SystemTime t{};
    ASSERT_EQ(FileLastWriteTime(f, &t), 1);
    CloseFile(f);
    const int64_t stamp = UtcSeconds(t);
    EXPECT_GE(stamp, before - 2);
    EXPECT_LE(stamp, static_cast<int64_t>(std::time(nullptr)) + 2);
    EXPECT_LT(t.milliseconds, 1000);
    EXPECT_EQ(t.dayOfWeek, ((stamp / 86400) + 4) % 7) << "1970-01-01 was a Thursday";
}

TEST(DirectoryCallsTest, DeleteAndExists) {
    ScratchDir dir;
    const std::string file = dir / "gone.txt";
    WriteAll(file, "x");
    EXPECT_FALSE(DirectoryExists(file.c_str()));
    EXPECT_TRUE(DirectoryExists(dir.path().c_str()));
    EXPECT_TRUE(DirectoryExists((dir.path() + "\\").c_str()));
    EXPECT_FALSE(DirectoryExists((dir / "none").c_str()));

    EXPECT_EQ(DeleteFilePath((dir.path() + "\\gone.txt").c_str()), 1);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(DeleteFilePath(file.c_str()), 0) << "deleting a missing file fails";
    EXPECT_EQ(DeleteFilePath(dir.path().c_str()), 0) << "a directory is not a file";
    EXPECT_TRUE(fs::is_directory(dir.path()));
}

// A stamp given by a directory's walk always equals the file's stamp looked up afresh, whatever
// the file went through since an earlier walk (or, within one walk, a few stamps before):
// rewritten, its time set, replaced, deleted and made again, the whole directory replaced.
// With room for one stamp only, two directories take turns and stay right.
TEST(DirectoryStampsTest, FollowEveryChangeOfTheFiles) {
    for (size_t bound : {size_t{0}, size_t{1}}) {
        SCOPED_TRACE(bound);
        notices::SetBound(bound);
        ScratchDir dir;
        const std::string directory = dir.path() + "/";
        const std::string a = dir / "a.orv";
        WriteAll(a, "first");
        WriteAll(dir / "b.orv", "other");
        auto walk = [&](const std::string& name) {
            DirectoryStamps stamps(directory.c_str());
            FileStamp got, fresh;
            const int have = stamps.StampOf(name.c_str(), &got);
            EXPECT_EQ(have, FileStampOf((directory + name).c_str(), &fresh)) << name;
            EXPECT_TRUE(!have || got == fresh) << name;
            return got;
        };
        FileStamp before = walk("a.orv");
        walk("b.orv");
        WriteAll(a, "longer text");
        EXPECT_NE(walk("a.orv"), before) << "rewritten";
        before = walk("a.orv");
        fs::last_write_time(a, fs::last_write_time(a) - std::chrono::hours(30));
        EXPECT_NE(walk("a.orv"), before) << "time set back";
        WriteAll(dir / "new.tmp", "replacement");
        fs::rename(dir / "new.tmp", a);
        EXPECT_EQ(walk("a.orv").size, 11) << "replaced by a rename";
        fs::remove(a);
        walk("a.orv");
        WriteAll(a, "made again, bigger");
        EXPECT_EQ(walk("a.orv").size, 18);

        // Within one walk, a change is seen once the walk has taken its next reports.
        DirectoryStamps long_walk(directory.c_str());
        FileStamp got, fresh;
        ASSERT_TRUE(long_walk.StampOf("a.orv", &got));
        WriteAll(a, "short");
        for (uint32_t i = 0; i < DirectoryStamps::kTakeEvery; ++i)
            long_walk.StampOf("b.orv", &got);
        ASSERT_TRUE(long_walk.StampOf("a.orv", &got));
        ASSERT_TRUE(FileStampOf(a.c_str(), &fresh));
        EXPECT_EQ(got, fresh);
        EXPECT_EQ(got.size, 5);

        // The directory moved away and another made under its name.
        ScratchDir elsewhere;
        fs::rename(dir.path(), elsewhere / "moved");
        fs::create_directory(dir.path());
        WriteAll(a, "in the new directory");
        EXPECT_EQ(walk("a.orv").size, 20);
        WriteAll(elsewhere / "moved/a.orv", "x");
        EXPECT_EQ(walk("a.orv").size, 20) << "the old directory's changes are not this one's";
    }
    notices::SetBound(0);
}

// A file held open is known unchanged without a lookup until a change to it, or a move of its
// directory, is reported; where nothing is watched, never.
TEST(DirectoryStampsTest, UnchangedUntilAChangeIsReported) {
#ifdef __linux__
    const bool watched = true;
#else
    const bool watched = false;
#endif
    ScratchDir dir;
    const std::string index = dir / "Entry.lst";
    WriteAll(index, "first");
    DirectoryStamps stamps((dir.path() + "/").c_str());
    FileStamp stamp;
    auto restamp = [&] { ASSERT_TRUE(stamps.StampOf("Entry.lst", &stamp)); };
    restamp();
    EXPECT_EQ(stamps.Unchanged("Entry.lst", stamp), watched);
    WriteAll(index, "other");
    EXPECT_FALSE(stamps.Unchanged("Entry.lst", stamp)) << "written in place, same size";
    restamp();
    WriteAll(dir / "new.tmp", "third");
    fs::rename(dir / "new.tmp", index);
    EXPECT_FALSE(stamps.Unchanged("Entry.lst", stamp)) << "replaced by a rename";
    restamp();
    ScratchDir elsewhere;
    fs::rename(dir.path(), elsewhere / "moved");
    EXPECT_FALSE(stamps.Unchanged("Entry.lst", stamp)) << "the directory moved away";
}

// Two walks stamping the same folder at once while the files are rewritten: once the writes
// stop, every stamp given is the file's own (the remembered stamps are shared by all walks).
TEST(DirectoryStampsTest, ConcurrentWalksAndWritesEndInAgreement) {
    ScratchDir dir;
    const std::string directory = dir.path() + "/";
    constexpr int kFiles = 64;
    auto name = [](int i) { return "m" + std::to_string(i) + ".orv"; };
    for (int i = 0; i < kFiles; ++i)
        WriteAll(dir / name(i), "x");
    std::atomic<bool> writing{true};
    auto walk = [&] {
        while (writing) {
            DirectoryStamps stamps(directory.c_str());
            FileStamp got;
            for (int i = 0; i < kFiles; ++i)
                stamps.StampOf(name(i).c_str(), &got);
        }
    };
    std::thread first(walk), second(walk);
    for (int round = 0; round < 300; ++round)
        WriteAll(dir / name(round % kFiles), std::string(static_cast<size_t>(round % 7 + 1), 'y'));
    writing = false;
    first.join();
    second.join();
    DirectoryStamps stamps(directory.c_str());
    for (int i = 0; i < kFiles; ++i) {
        FileStamp got, fresh;
        ASSERT_TRUE(stamps.StampOf(name(i).c_str(), &got));
        ASSERT_TRUE(FileStampOf((dir / name(i)).c_str(), &fresh));
        EXPECT_EQ(got, fresh) << name(i);
    }
}

TEST(TempNameTest, TempDirectoryAndUniqueNames) {
    const std::string tmp = TempDirectory();
    ASSERT_FALSE(tmp.empty());
    EXPECT_EQ(tmp.back(), '/');
    EXPECT_TRUE(DirectoryExists(tmp.c_str()));

    ScratchDir dir;
    std::vector<std::string> names;
    for (int i = 0; i < 20; ++i) {
        std::string name = MakeTempFileName((dir.path() + "/").c_str(), "impossible");
        ASSERT_FALSE(name.empty());
        const std::string head = dir.path() + "/imp";
        ASSERT_EQ(name.compare(0, head.size(), head), 0) << name;
        ASSERT_GT(name.size(), head.size() + 4);
        EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
        const std::string digits = name.substr(head.size(), name.size() - head.size() - 4);
        EXPECT_EQ(digits.find_first_not_of("0123456789ABCDEFabcdef"), std::string::npos) << name;
        EXPECT_TRUE(fs::is_regular_file(name)) << "the name is taken by an empty file";
        EXPECT_EQ(fs::file_size(name), 0u);
        for (const std::string& other : names)
            EXPECT_NE(name, other);
        names.push_back(name);
    }

    const std::string noSeparator = MakeTempFileName(dir.path().c_str(), "ab");
    EXPECT_EQ(noSeparator.compare(0, dir.path().size() + 3, dir.path() + "/ab"), 0) << noSeparator;
    EXPECT_TRUE(MakeTempFileName((dir / "missing/").c_str(), "imp").empty());
}

class DirectorySearchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory(dir_ / "inbox.box");
        fs::create_directory(dir_ / "Work.BOX");
        fs::create_directory(dir_ / "alpha.box");
        fs::create_directory_symlink(dir_ / "alpha.box", dir_ / "link.box");
        WriteAll(dir_ / "zeta.box", "a file, not a folder");
        WriteAll(dir_ / "README", "");
        WriteAll(dir_ / "notes.txt", "");
        WriteAll(dir_ / "b%c", "");
        WriteAll(dir_ / "_under", "");
    }
    ScratchDir dir_;
};

TEST_F(DirectorySearchTest, SortedCaseInsensitiveWithDirectoryAttribute) {
    EXPECT_EQ(Names(Search(dir_ / "*.BOX")), "alpha.box/ inbox.box/ link.box/ Work.BOX/ zeta.box");
    EXPECT_EQ(Names(Search(dir_.path() + "\\*.box")),
              "alpha.box/ inbox.box/ link.box/ Work.BOX/ zeta.box")
        << "a \\ separator is mapped";
    EXPECT_EQ(Names(Search(dir_ / "INBOX.BOX")), "inbox.box/");
}

TEST_F(DirectorySearchTest, DotEntriesAndWildcards) {
    EXPECT_EQ(Names(Search(dir_ / "*")),
              "./ ../ _under alpha.box/ b%c inbox.box/ link.box/ notes.txt README Work.BOX/ "
              "zeta.box");
    EXPECT_EQ(Names(Search(dir_ / "*.*")), Names(Search(dir_ / "*")));
    EXPECT_EQ(Names(Search(dir_ / "?EADME")), "README");
    EXPECT_EQ(Names(Search(dir_ / "?")), "./");
    EXPECT_EQ(Names(Search(dir_ / "%")), "");
    EXPECT_EQ(Names(Search(dir_ / "b%c")), "b%c");
    EXPECT_EQ(Names(Search(dir_ / "*.txt")), "notes.txt");
}

TEST_F(DirectorySearchTest, MissingDirectoryOrEmptyPatternYieldsNothing) {
    EXPECT_EQ(Names(Search(dir_ / "nosuch/*")), "");
    EXPECT_EQ(Names(Search(dir_ / "README/*")), "");
    EXPECT_EQ(Names(Search(dir_.path() + "/")), "");
    EXPECT_EQ(Names(Search(dir_ / "nomatch*")), "");
}

TEST(DirectorySearchRootTest, RootHasNoDotEntries) {
    for (const FindData& d : Search("/*")) {
        EXPECT_NE(d.name, ".");
        EXPECT_NE(d.name, "..");
    }
}

}  // namespace
