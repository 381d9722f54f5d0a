// Tests of LoadPasswordFile: records in file order, the empty line that ends the load, runs of
// colons, CR LF line ends, missing fields, a missing file created empty, and a loaded account
// logging in through FindUser and VerifyPassword.
#include "store/user_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/files.h"
#include "store/password.h"

namespace fs = std::filesystem;

namespace {

// A fresh directory under the temporary directory, removed with everything in it.
class ScratchDir {
  public:
    ScratchDir() {
        marker_ = platform::MakeTempFileName(platform::TempDirectory().c_str(), "utt");
        path_ = marker_ + ".d";
        fs::create_directory(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
        fs::remove(marker_, ec);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string marker_;
    std::string path_;
};

class LoadPasswordFileTest : public ::testing::Test {
  protected:
    // Writes the account file with exactly these bytes and loads it into table_.
    int Load(const std::string& contents) {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << contents;
        return LoadPasswordFile(path_.c_str(), &table_);
    }
    // "mailRoot|userName|storedPassword" of the record at index.
    std::string Fields(int index) const {
        const UserRecord* user = table_.At(index);
        if (user == nullptr)
            return "<none>";
        return std::string(user->mailRoot.c_str()) + "|" + user->userName.c_str() + "|" +
               user->storedPassword.c_str();
    }

    ScratchDir dir_;
    std::string path_ = dir_.File("passwd");
    UserTable table_;
};

TEST_F(LoadPasswordFileTest, RecordsInFileOrderUpToTheFirstEmptyLine) {
    EXPECT_EQ(Load("r1:u1:p1\nr2:u2:p2\n\nr4:u4:p4\n"), 2);
    ASSERT_EQ(table_.Count(), 2);
    EXPECT_EQ(Fields(0), "r1|u1|p1");
    EXPECT_EQ(Fields(1), "r2|u2|p2");
}

TEST_F(LoadPasswordFileTest, LineEndsAndCarriageReturns) {
    // CR LF lines, a CR anywhere in a line, and a last line without a line end.
    EXPECT_EQ(Load("r1:u1:p1\r\nr\r2:u2:p2\r\nr3:u3:p3"), 3);
    EXPECT_EQ(Fields(0), "r1|u1|p1");
    EXPECT_EQ(Fields(1), "r2|u2|p2");
    EXPECT_EQ(Fields(2), "r3|u3|p3");

    // A line of a lone CR holds no bytes and ends the load like an empty line.
    table_.Clear();
    EXPECT_EQ(Load("r1:u1:p1\r\n\r\nr2:u2:p2\r\n"), 1);
    EXPECT_EQ(table_.Count(), 1);
}

TEST_F(LoadPasswordFileTest, ColonRunsAndMissingOrExtraFields) {
    EXPECT_EQ(Load("root::alice:pw\n"
                   "root:alice:pw\n"
                   "root:::alice:::pw\n"
                   "root:bob\n"
                   "root:carol:\n"
                   "lonely\n"
                   "root:dave:pw:extra:more\n"),
              7);
    EXPECT_EQ(Fields(0), "root|alice|pw");
    EXPECT_EQ(Fields(1), "root|alice|pw");
    EXPECT_EQ(Fields(2), "root|alice|pw");
    EXPECT_EQ(Fields(3), "root|bob|");
    EXPECT_EQ(Fields(4), "root|carol|");
    EXPECT_EQ(Fields(5), "lonely||");
    EXPECT_EQ(Fields(6), "root|dave|pw");
}

TEST_F(LoadPasswordFileTest, MissingFileIsCreatedEmpty) {
    ASSERT_FALSE(fs::exists(path_));
    EXPECT_EQ(LoadPasswordFile(path_.c_str(), &table_), 0);
    EXPECT_EQ(table_.Count(), 0);
    ASSERT_TRUE(fs::exists(path_));
    EXPECT_EQ(fs::file_size(path_), 0u);

    // A directory in the way cannot be opened as a file: nothing is loaded.
    EXPECT_EQ(LoadPasswordFile(dir_.File("").c_str(), &table_), 0);
    EXPECT_EQ(table_.Count(), 0);
}

TEST_F(LoadPasswordFileTest, ASecondLoadAppendsAgainAndTheFirstRecordStillWins) {
    std::string stored = EncryptStoredPassword("alice", "Secret1").c_str();
    std::string other = EncryptStoredPassword("alice", "Other").c_str();
    std::string contents = "alice.box:alice:" + stored + "\r\nbob.box:alice:" + other + "\r\n";
    EXPECT_EQ(Load(contents), 2);
    EXPECT_EQ(LoadPasswordFile(path_.c_str(), &table_), 2);
    EXPECT_EQ(table_.Count(), 4);

    const UserRecord* user = FindUser(table_, "alice");
    ASSERT_EQ(user, table_.At(0));
    EXPECT_STREQ(user->mailRoot.c_str(), "alice.box");
    EXPECT_TRUE(VerifyPassword(*user, "Secret1"));
    EXPECT_FALSE(VerifyPassword(*user, "Other"));
    EXPECT_EQ(FindUser(table_, "Alice"), nullptr);
}

}  // namespace
