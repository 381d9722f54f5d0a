// Tests of the folder tree: Load over store trees written here (Shift_JIS titles, subfolders,
// folders without "Entry.ini", "."-directories), mailbox names in both naming modes, FindFolder
// in both modes, and the names and patterns that must not leave the root. (LSUB's filter is
// tested end to end.)
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_host.h"
#include "store/mail_store.h"
#include "store/name_codec.h"

namespace {

namespace fs = std::filesystem;

// Shift_JIS titles.
const std::string kShigoto = "\x8E\x64\x8E\x96";                             // 仕事
const std::string kJushinTray = "\x8E\xF3\x90\x4D\x83\x67\x83\x8C\x83\x43";  // 受信トレイ
const std::string kSoushinbako = "\x91\x97\x90\x4D\x94\xA0";                 // 送信箱
const std::string kMeiwaku = "\x96\xC0\x98\x66";                             // 迷惑
const std::string kFukai = "\x90\x5B\x82\xA2";                               // 深い

class MailStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int serial = 0;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir_ = fs::temp_directory_path() /
               ("orv_mst_" + std::to_string(stamp) + "_" + std::to_string(++serial));
        fs::create_directories(dir_);
        host_.SetMailboxDirectory(dir_.string() + "/");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // A folder directory under the mailbox directory ("/" separated), with an "Entry.ini" of
    // the given lines unless ini is null.
    void Folder(const std::string& path, const char* ini = nullptr) {
        fs::create_directories(dir_ / path);
        if (ini != nullptr)
            std::ofstream(dir_ / path / "Entry.ini", std::ios::binary) << ini;
    }
    void File(const std::string& path) { std::ofstream(dir_ / path, std::ios::binary) << "x\r\n"; }

    // The tree of user1 that most tests use. Directory search order: .hidden, ab.box, backup,
    // inbox.box, outbox.box, twin1.box, twin2.box, work.box.
    void WriteTree() {
        const std::string work =
            "[Property]\r\nTitle=" + kShigoto + "\r\nType=Subfolder\r\n[IMAP4]\r\nSubscribe=1\r\n";
        Folder("user1/inbox.box",
               ("[Property]\nTitle=" + kJushinTray + "\nType=Subfolder\n").c_str());
        Folder("user1/inbox.box/spam.box", ("[Property]\r\nTitle=" + kMeiwaku + "\r\n").c_str());
        Folder("user1/outbox.box", "[Property]\r\nTitle=Sent\r\nType=Subfolder\r\n");
        Folder("user1/work.box", work.c_str());
        Folder("user1/work.box/2001.box", "[Property]\r\nTitle=2001\r\nType=Subfolder\r\n");
        Folder("user1/work.box/2001.box/deep.box",
               ("[Property]\r\nTitle=" + kFukai + "\r\n[IMAP4]\r\nSubscribe=0\r\n").c_str());
        Folder("user1/work.box/notes", "[Property]\r\nTitle=notes\r\n");  // not *.box
        File("user1/work.box/file.box");                                  // not a directory
        Folder("user1/backup");                                           // no Entry.ini
        Folder("user1/.hidden", "[Property]\r\nTitle=hidden\r\n");
        // Type is compared case-sensitively: "subfolder" has no subfolders.
        Folder("user1/ab.box", "[Property]\r\nTitle=a/b\r\nType=subfolder\r\n");
        Folder("user1/ab.box/x.box", "[Property]\r\nTitle=x\r\n");
        Folder("user1/twin1.box", "[Property]\r\nTitle=Same\r\n[IMAP4]\r\nSubscribe=2\r\n");
        Folder("user1/twin2.box", "[Property]\r\nTitle=Same\r\n[IMAP4]\r\nSubscribe=0\r\n");
        File("user1/passwd");
    }

    static std::vector<std::string> Items(const TextList& list) {
        std::vector<std::string> out;
        for (int i = 0; i < list.Count(); ++i)
            out.push_back(list.At(i)->c_str());
        return out;
    }
    static std::vector<std::string> Unique(const MailStore& store, int useTitles) {
        std::vector<std::string> out;
        for (const Text& name : store.UniqueNames(useTitles))
            out.push_back(name.c_str());
        return out;
    }
    static std::vector<std::string> Names(const MailStore& store, int useTitles) {
        std::vector<std::string> out;
        for (int i = 0; i < store.Count(); ++i)
            out.push_back(store.NameAt(i, useTitles).c_str());
        return out;
    }
    MailStore Loaded(const char* pattern, int subscribedOnly = 0, const char* root = "user1") {
        MailStore store{host_, Text(root)};
        store.Load(Text(""), Text(pattern), subscribedOnly);
        return store;
    }

    fs::path dir_;
    // What the host reports: the scratch directory with a trailing "/".
    FakeHost host_;
};

using Strings = std::vector<std::string>;

TEST_F(MailStoreTest, LoadAllListsTheTreeDepthFirstWithNames) {
    WriteTree();
    const MailStore store = Loaded("*");
    EXPECT_EQ(
        Items(store.FolderPaths()),
        (Strings{"ab.box", "backup", "INBOX", "inbox.box/spam.box", "outbox.box", "twin1.box",
                 "twin2.box", "work.box", "work.box/2001.box", "work.box/2001.box/deep.box"}));
    EXPECT_EQ(Items(store.DisplayPaths()),
              (Strings{"a/b", "", "INBOX", "INBOX/" + kMeiwaku, kSoushinbako, "Same", "Same",
                       kShigoto, kShigoto + "/2001", kShigoto + "/2001/" + kFukai}));
    EXPECT_EQ(Names(store, 1),
              (Strings{"a/b", "", "INBOX", "INBOX/&j,dg0Q-", "&kAFP4Xux-", "Same", "Same",
                       "&TtVOiw-", "&TtVOiw-/2001", "&TtVOiw-/2001/&bfEwRA-"}));
    EXPECT_TRUE(store.NameAt(-1, 1).IsEmpty());
    EXPECT_TRUE(store.NameAt(store.Count(), 1).IsEmpty());
    EXPECT_TRUE(store.NameAt(store.Count(), 0).IsEmpty());
}

TEST_F(MailStoreTest, DisplayPathSeparatorsInNames) {
    Folder("user1/a.box", "[Property]\r\nTitle=//x//y//\r\nType=Subfolder\r\n");
    Folder("user1/a.box/b.box", "[Property]\r\nTitle=z\r\n");
    Folder("user1/c.box", "[Property]\r\nType=Subfolder\r\n");  // no title
    Folder("user1/c.box/d.box", ("[Property]\r\nTitle=" + kShigoto + "\r\n").c_str());
    const MailStore store = Loaded("*");
    // A run of "/" is one separator; a leading "/" stays; empty components vanish.
    EXPECT_EQ(Names(store, 1), (Strings{"/x/y", "/x/y/z", "", "/&TtVOiw-"}));
    EXPECT_EQ(Names(store, 0), (Strings{"a.box", "a.box/b.box", "c.box", "c.box/d.box"}));
}

TEST_F(MailStoreTest, PatternsSelectTopLevelDirectories) {
    WriteTree();
    for (const char* inbox : {"InBoX", "inbox.box"})
        EXPECT_EQ(Items(Loaded(inbox).FolderPaths()), (Strings{"INBOX", "inbox.box/spam.box"}))
            << inbox;
    EXPECT_EQ(Items(Loaded("w*").FolderPaths()),
              (Strings{"work.box", "work.box/2001.box", "work.box/2001.box/deep.box"}));
    EXPECT_EQ(Items(Loaded("?????.box").FolderPaths()),
              (Strings{"INBOX", "inbox.box/spam.box", "twin1.box", "twin2.box"}));
    // No folder root: nothing, without a failure.
    EXPECT_EQ(Loaded("*", 0, "nobody").Count(), 0);
}

TEST_F(MailStoreTest, FindFolderByTitle) {
    WriteTree();
    const MailStore store = Loaded("*");
    const struct {
        std::string name;
        const char* folder;
    } cases[] = {
        {"INBOX", "INBOX"},
        {"inbox", "INBOX"},
        {"INBOX/" + kMeiwaku, "inbox.box/spam.box"},
        {kShigoto, "work.box"},
        {kSoushinbako, "outbox.box"},
        {"a/b", "ab.box"},      // a title holding "/" is found as a whole
        {"Same", "twin1.box"},  // the first of two equal display paths
        {"", "backup"},
        {"Sent", ""},       // the outbox's own title is not its name
        {kJushinTray, ""},  // nor is the inbox's
        {"same", ""},       // titles are compared case-sensitively
        {"work.box", ""},   // directory names are not names in this mode
    };
    for (const auto& c : cases)
        EXPECT_EQ(store.FindFolder(Text(c.name.c_str()), 1).c_str(), std::string(c.folder))
            << c.name;
    // Every listed name, decoded as a client would send it, leads back to its folder (the
    // second twin to the first).
    for (int i = 0; i < store.Count(); ++i) {
        Text decoded;
        ASSERT_TRUE(DecodeName(store.NameAt(i, 1), &decoded)) << i;
        const Text found = store.FindFolder(decoded, 1);
        const int expected = i == 6 ? 5 : i;
        EXPECT_EQ(found.c_str(), std::string(store.FolderPaths().At(expected)->c_str())) << i;
    }
}

TEST_F(MailStoreTest, FindFolderByTitleAcrossDuplicateCodes) {
    // 纊 written with its NEC-selected IBM code is listed under a name that decodes to its
    // IBM code (0xFA 0x5C); both spellings must find the folder.
    Folder("user1/k.box", "[Property]\r\nTitle=\xED\x40-x\r\n");
    const MailStore store = Loaded("*");
    Text decoded;
    ASSERT_TRUE(DecodeName(store.NameAt(0, 1), &decoded));
    EXPECT_EQ(decoded.c_str(), std::string("\xFA\x5C-x"));
    EXPECT_EQ(store.FindFolder(decoded, 1).c_str(), std::string("k.box"));
    EXPECT_EQ(store.FindFolder(Text("\xED\x40-x"), 1).c_str(), std::string("k.box"));
    EXPECT_TRUE(store.FindFolder(Text("\xFA\x5C"), 1).IsEmpty());
}

TEST_F(MailStoreTest, FindFolderByDirectoryName) {
    WriteTree();
    const MailStore store = Loaded("*");
    for (const char* name : {"work.box/2001.box", "nosuch.box", "INBOX", "inbox", "..a", "a..",
                             "...", ".x", "a/.../b"})
        EXPECT_EQ(store.FindFolder(Text(name), 0).c_str(), std::string(name));
    for (const char* name : {"..", "../user2", "a/../../b", "work.box\\..\\..\\x", "..\\x", "x/..",
                             "/etc", "\\x", "c:x", "inbox.box:y"})
        EXPECT_TRUE(store.FindFolder(Text(name), 0).IsEmpty()) << name;
}

TEST_F(MailStoreTest, TraversalPatternsListNothing) {
    WriteTree();
    Folder("user2/secret.box", "[Property]\r\nTitle=secret\r\n");
    Folder("user1/c:x", "[Property]\r\nTitle=colon\r\n");
    Folder("user1/work.box/c:y.box", "[Property]\r\nTitle=colon\r\n");
    // Without the refusal each of these would list folders of the root or beside it.
    for (const char* pattern :
         {"../user2/*", "..\\user2\\*", "work.box/../../user2/*", "work.box\\..\\*", "/*", "\\*",
          "c:*", "work.box/c:*", "..", "*/.."})
        EXPECT_EQ(Loaded(pattern).Count(), 0) << pattern;
    EXPECT_EQ(Loaded("c?x").Count(), 1);  // the name itself is listed by a plain pattern
    // A "/" inside the pattern is handed to the search as it is.
    EXPECT_EQ(Items(Loaded("work.box/2*").FolderPaths()), (Strings{"2001.box"}));
}

TEST_F(MailStoreTest, ClashesAreResolvedByDirectoryNames) {
    Folder("user1/inbox.box", "[Property]\r\nTitle=x\r\n");
    Folder("user1/a.box", "[Property]\r\nTitle=INBOX\r\n");  // INBOX is the inbox's only
    Folder("user1/b.box", "[Property]\r\nTitle=inbox\r\n");
    Folder("user1/backup");  // untitled, like c.box's title
    Folder("user1/c.box", "[Property]\r\nTitle=backup\r\n");
    Folder("user1/d.box", ("[Property]\r\nTitle=" + kSoushinbako + "\r\n").c_str());
    Folder("user1/outbox.box");  // keeps its name
    Folder("user1/e.box", "[Property]\r\nTitle=X (f.box)\r\n");
    Folder("user1/f.box", "[Property]\r\nTitle=X\r\n");  // X (f.box) is e.box's already
    Folder("user1/g.box", "[Property]\r\nTitle=X\r\n");
    // 纊 by its NEC-selected code and by its IBM code: one name for a client.
    Folder("user1/k1.box", "[Property]\r\nTitle=\xED\x40\r\n");
    Folder("user1/k2.box", "[Property]\r\nTitle=\xFA\x5C\r\n");
    Folder("user1/m.box", "[Property]\r\nTitle=M\r\nType=Subfolder\r\n");
    Folder("user1/m.box/n.box", "[Property]\r\nTitle=INBOX\r\n");  // not the top level
    const MailStore store = Loaded("*");
    const Strings names = Unique(store, 1);
    EXPECT_EQ(names, (Strings{"INBOX (a.box)", "inbox (b.box)", "backup (backup)", "backup (c.box)",
                              kSoushinbako + " (d.box)", "X (f.box)", "X (f.box) (f.box)",
                              "X (g.box)", "INBOX", "\xED\x40 (k1.box)", "\xFA\x5C (k2.box)", "M",
                              "M/INBOX", kSoushinbako}));
    for (int i = 0; i < store.Count(); ++i) {
        EXPECT_EQ(store.FindUniqueFolder(store.UniqueNames(1)[static_cast<size_t>(i)], 1).c_str(),
                  std::string(store.FolderPaths().At(i)->c_str()))
            << names[static_cast<size_t>(i)];
    }
    EXPECT_EQ(store.FindUniqueFolder(Text("inbox"), 1).c_str(), std::string("INBOX"));
    EXPECT_TRUE(store.FindUniqueFolder(Text("X"), 1).IsEmpty());
}

TEST_F(MailStoreTest, PathsOverTheLimitAreNeverFormed) {
    // mailbox directory + "user1" + "\" + folder path + "\Entry.ini" may take 259 bytes.
    const int room = 259 - static_cast<int>(host_.Directory().size() + 6 + 10);
    ASSERT_GT(room, 40);
    const int child = room - 9;  // "long.box" + "\" before it
    const std::string fits = std::string(child - 4, 'a') + ".box";
    const std::string over = std::string(child - 3, 'b') + ".box";
    Folder("user1/long.box", "[Property]\r\nTitle=L\r\nType=Subfolder\r\n");
    Folder("user1/long.box/" + fits, "[Property]\r\nTitle=fits\r\n");
    Folder("user1/long.box/" + over, "[Property]\r\nTitle=over\r\n");
    const MailStore store = Loaded("*");
    EXPECT_EQ(Items(store.DisplayPaths()), (Strings{"L", "L/fits"}));

    const std::string topFits(room, 'c');
    const std::string topOver(room + 1, 'c');
    EXPECT_EQ(store.FindFolder(Text(topFits.c_str()), 0).c_str(), topFits);
    EXPECT_TRUE(store.FindFolder(Text(topOver.c_str()), 0).IsEmpty());
    EXPECT_EQ(Loaded(std::string(room + 20, '*').c_str()).Count(), 0);
}

TEST_F(MailStoreTest, BackslashTrailBytesStayInDirectoryNames) {
    // 表 is 0x95 0x5C: its second byte is not a separator.
    const std::string hyo = "\x95\x5C";
    Folder("user1/" + hyo + ".box",
           "[Property]\r\nTitle="
           "\x95\x5C"
           "\r\nType=Subfolder\r\n");
    Folder("user1/" + hyo + ".box/x.box", "[Property]\r\nTitle=x\r\n");
    const MailStore store = Loaded("*");
    EXPECT_EQ(Items(store.FolderPaths()), (Strings{hyo + ".box", hyo + ".box/x.box"}));
    EXPECT_EQ(Names(store, 1), (Strings{"&iGg-", "&iGg-/x"}));
}

}  // namespace
