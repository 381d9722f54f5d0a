// Tests of the message files: UIDs from file names, the message path and host key with the path
// limit, the client form of a message (status line dropped, separator rules, line ends, JIS
// conversion, files larger than a read block, the extended form), exact sizes measured without
// loading and kept, and which operations ask the host to mark a message as seen.
#include "store/message_entry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fake_host.h"
#include "mime/extended_form.h"
#include "mime/jis_text.h"

namespace {

namespace fs = std::filesystem;

class MessageEntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int serial = 0;
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root_ = fs::temp_directory_path() /
                ("orv_msg_" + std::to_string(stamp) + "_" + std::to_string(++serial));
        fs::create_directories(root_ / "user" / "work.box");
        fs::create_directories(root_ / "user" / "inbox.box");
        host_.SetMailboxDirectory(root_.string() + "/");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // Writes the message file of entry_ in work.box.
    void PutMessage(const std::string& bytes) {
        std::ofstream f(root_ / "user" / "work.box" / "AAAA0001.orv",
                        std::ios::binary | std::ios::trunc);
        f << bytes;
    }
    std::string Whole() {
        return std::string(entry_.headerText.c_str()) + "\r\n" + entry_.bodyText.c_str();
    }

    fs::path root_;
    // The stand-in host: the mailbox directory it reports and the mark requests it received.
    FakeHost host_;
    Text mailRoot_{"user"};
    Text folder_{"work.box"};
    MessageEntry entry_ = [] {
        MessageEntry e;
        e.fileName = "AAAA0001";
        e.uid = 1;
        return e;
    }();
};

TEST(UidFromFileNameTest, LettersDigitsShortNamesAndWrapping) {
    EXPECT_EQ(UidFromFileName("AAAA0001"), 1u);
    EXPECT_EQ(UidFromFileName("AaAb0023"), 10023u);
    EXPECT_EQ(UidFromFileName("ABCD0000"), 7310000u);
    // The number ends at the first byte that is not a digit; no digits give 0.
    EXPECT_EQ(UidFromFileName("AAAA12x34"), 12u);
    EXPECT_EQ(UidFromFileName("AAABx7"), 10000u);
    // Missing characters count as "A".
    EXPECT_EQ(UidFromFileName("AB"), UidFromFileName("ABAA"));
    EXPECT_EQ(UidFromFileName("AB"), 6760000u);
    EXPECT_EQ(UidFromFileName(""), 0u);
    // Wrapping 32-bit arithmetic: ZZZZ9999 and a digit where a letter belongs.
    EXPECT_EQ(UidFromFileName("ZZZZ9999"), 274792703u);
    EXPECT_EQ(UidFromFileName("0AAA0000"), 1307047296u);
    EXPECT_EQ(UidFromFileName("AAAA4294967297"), 1u);
    // A double-byte character is not upper-cased: its trail byte "a" stays lower case.
    EXPECT_EQ(UidFromFileName("\x82"
                              "aAA"),
              1005898368u);
    // Upper-casing stops at a NUL, as the platform's does; the NUL counts as a byte.
    Text withNul;
    withNul.AppendBytes("ab\0c7", 5);
    EXPECT_EQ(UidFromFileName(withNul), 4285167303u);
    Text shortNul;
    shortNul.AppendBytes("a\0b", 3);
    EXPECT_EQ(UidFromFileName(shortNul), 3864147296u);
}

TEST_F(MessageEntryTest, PathAndKeyForms) {
    EXPECT_STREQ(MessageFilePath(host_, entry_, mailRoot_, folder_).c_str(),
                 (host_.Directory() + "user\\work.box\\AAAA0001.orv").c_str());
    EXPECT_STREQ(MessageKey(entry_, mailRoot_, folder_).c_str(), "user\\work.box\\AAAA0001");
    EXPECT_STREQ(MessageKey(entry_, mailRoot_, "work.box\\2001.box").c_str(),
                 "user\\work.box\\2001.box\\AAAA0001");
    // "INBOX" in any case names the inbox directory.
    EXPECT_STREQ(MessageKey(entry_, mailRoot_, "Inbox").c_str(), "user\\inbox.box\\AAAA0001");
    EXPECT_STREQ(MessageKey(entry_, mailRoot_, "inbox.box2").c_str(), "user\\inbox.box2\\AAAA0001");
}

TEST_F(MessageEntryTest, KeyLimitOf259Bytes) {
    // "user\" + folder + "\AAAA0001" = 14 bytes + the folder's length.
    const Text atLimit(std::string(259 - 14, 'f').c_str());
    const Text overLimit(std::string(260 - 14, 'f').c_str());
    bool fits = false;
    EXPECT_EQ(MessageKey(entry_, mailRoot_, atLimit, &fits).Length(), 259);
    EXPECT_TRUE(fits);
    EXPECT_TRUE(MessageKey(entry_, mailRoot_, overLimit, &fits).IsEmpty());
    EXPECT_FALSE(fits);

    MarkSeen(host_, entry_, mailRoot_, atLimit);
    ASSERT_EQ(host_.Marks().size(), 1u);
    EXPECT_EQ(host_.Marks()[0].key.size(), 259u);
    host_.ClearCalls();
    MarkSeen(host_, entry_, mailRoot_, overLimit);
    LoadMessage(host_, entry_, mailRoot_, overLimit, false);
    EXPECT_TRUE(host_.Marks().empty());
}

TEST_F(MessageEntryTest, OverlongPathIsNotFormed) {
    const int room =
        259 - static_cast<int>(host_.Directory().size()) - 18;  // "user\" "\AAAA0001.orv"
    ASSERT_GT(room, 0);
    EXPECT_FALSE(
        MessageFilePath(host_, entry_, mailRoot_, std::string(room, 'f').c_str()).IsEmpty());
    EXPECT_TRUE(
        MessageFilePath(host_, entry_, mailRoot_, std::string(room + 1, 'f').c_str()).IsEmpty());
    EXPECT_EQ(MessageSize(host_, entry_, mailRoot_, std::string(room + 1, 'f').c_str()), 2u);
}

TEST_F(MessageEntryTest, NamesReachingOutsideTheFolderFormNoPathAndNoKey) {
    EXPECT_TRUE(IsPlainFileName("AAAA0001"));
    EXPECT_TRUE(IsPlainFileName(""));
    EXPECT_TRUE(IsPlainFileName("..."));
    EXPECT_TRUE(IsPlainFileName(".AAAA0001"));
    EXPECT_TRUE(IsPlainFileName("AAAA..0001"));
    // 表 is 0x95 0x5C: its second byte is part of the name, not a separator.
    EXPECT_TRUE(
        IsPlainFileName("\x95\x5C"
                        "0001"));
    EXPECT_TRUE(IsPlainFileName("AAAA\x95"));  // a lead byte at the end
    const std::vector<std::string> unsafe = {"..\\..\\evil",
                                             "../../evil",
                                             "a/b",
                                             "a\\b",
                                             "\\evil",
                                             "/evil",
                                             "C:evil",
                                             "evil:$DATA",
                                             ".",
                                             "..",
                                             std::string("AAAA\0/../evil", 13),
                                             std::string("AAAA\0", 5),
                                             std::string("\x95\0..\\evil", 9),
                                             "\x95\x5C\\evil",
                                             "\x81/evil"};
    // Names as the index reader keeps them, NUL bytes included.
    const auto asRead = [](const std::string& name) {
        Text text;
        text.AssignCompact(name.data(), static_cast<int>(name.size()));
        return text;
    };
    for (const std::string& name : unsafe)
        EXPECT_FALSE(IsPlainFileName(asRead(name))) << name;

    // Such an entry has no path and no key, so nothing is opened, created or asked of the host
    // for it (the end-to-end traversal test follows every command that uses them).
    for (const std::string& name : unsafe) {
        MessageEntry entry;
        entry.fileName = asRead(name);
        EXPECT_TRUE(MessageFilePath(host_, entry, mailRoot_, folder_).IsEmpty()) << name;
        bool fits = true;
        EXPECT_TRUE(MessageKey(entry, mailRoot_, folder_, &fits).IsEmpty()) << name;
        EXPECT_FALSE(fits) << name;
    }
}

TEST_F(MessageEntryTest, StatusLineInAnyCaseIsDroppedButContinuationKept) {
    PutMessage(
        "x-orvex-status: 1\r\n"
        "\tcontinued\r\n"
        "X-ORVEX-STATUS:2\r\n"
        "X-Orvex-Status\r\n"
        "X-Orvex-Stat\r\n"
        " X-Orvex-Status: 3\r\n"
        "\r\n"
        "X-Orvex-Status: in the body\r\n");
    LoadMessage(host_, entry_, mailRoot_, folder_, true);
    EXPECT_STREQ(entry_.headerText.c_str(),
                 "\tcontinued\r\nX-Orvex-Status\r\nX-Orvex-Stat\r\n X-Orvex-Status: 3\r\n");
    EXPECT_STREQ(entry_.bodyText.c_str(), "X-Orvex-Status: in the body\r\n");
}

TEST_F(MessageEntryTest, LfOnlyFileKeepsBareLf) {
    PutMessage("Subject: lf\nTo: b\n\nbody\nlast");
    const uint32_t size = MessageSize(host_, entry_, mailRoot_, folder_);
    LoadMessage(host_, entry_, mailRoot_, folder_, true);
    EXPECT_STREQ(entry_.headerText.c_str(), "Subject: lf\nTo: b\n");
    EXPECT_STREQ(entry_.bodyText.c_str(), "body\nlast");
    EXPECT_EQ(Whole(), "Subject: lf\nTo: b\n\r\nbody\nlast");
    EXPECT_EQ(size, 18u + 2u + 9u);
}

TEST_F(MessageEntryTest, OnlyExactEmptyLineSeparates) {
    // A blank before the line end, or a lone CR, is a header line; no separator: all header.
    PutMessage("A: 1\r\n \r\n\r\r\nB: 2\r\n");
    const uint32_t size = MessageSize(host_, entry_, mailRoot_, folder_);
    LoadMessage(host_, entry_, mailRoot_, folder_, true);
    EXPECT_STREQ(entry_.headerText.c_str(), "A: 1\r\n \r\n\r\r\nB: 2\r\n");
    EXPECT_TRUE(entry_.bodyText.IsEmpty());
    EXPECT_EQ(size, 18u + 2u);
    EXPECT_EQ(Whole(), "A: 1\r\n \r\n\r\r\nB: 2\r\n\r\n");
}

TEST_F(MessageEntryTest, MissingFileIsCreatedEmptyAndGivesSizeTwo) {
    const fs::path file = root_ / "user" / "work.box" / "AAAA0001.orv";
    ASSERT_FALSE(fs::exists(file));
    EXPECT_EQ(MessageSize(host_, entry_, mailRoot_, folder_), 2u);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), 0u);
    EXPECT_EQ(Whole(), "\r\n");
    // The request to mark it seen is made even so.
    EXPECT_EQ(host_.Marks().size(), 1u);
}

TEST_F(MessageEntryTest, SizeIsMeasuredWithoutLoadingAndKept) {
    PutMessage("Subject: \x83\x65\r\n\r\n\x93\xFA\x96\x7B\r\nend\r\n");
    const uint32_t size = MessageSize(host_, entry_, mailRoot_, folder_);
    EXPECT_TRUE(entry_.headerText.IsEmpty());
    EXPECT_TRUE(entry_.bodyText.IsEmpty());
    LoadMessage(host_, entry_, mailRoot_, folder_, true);
    EXPECT_EQ(size, Whole().size());
    // Once measured the size stands, also when the folder's cache has dropped the texts: the
    // host gives a changed message a new file name.
    entry_.headerText = Text();
    entry_.bodyText = Text();
    PutMessage("Subject: other\r\n\r\nbody\r\n");
    host_.ClearCalls();
    EXPECT_EQ(MessageSize(host_, entry_, mailRoot_, folder_), size);
    EXPECT_EQ(host_.Marks().size(), 1u) << "each size still asks for the mark";
}

TEST_F(MessageEntryTest, FileLargerThanAReadBlock) {
    // Lines of ASCII and of double-byte characters, some longer than a read block, so lines
    // and runs of characters fall across the ends of the blocks.
    std::string body;
    std::string expected;
    for (int i = 0; body.size() < 900000; ++i) {
        std::string line;
        std::string jis;
        if (i % 3 == 0) {
            line = std::string(static_cast<size_t>(i % 200), 'a') + "\r\n";
            jis = line;
        } else {
            const int characters = i % 50 == 1 ? 150000 : i % 40;
            for (int k = 0; k < characters; ++k) {
                line += "\x82\xA0";  // あ
                jis += "\x24\x22";
            }
            if (characters > 0)
                jis = "\x1B$B" + jis + "\x1B(B";
            line += "x\r\n";
            jis += "x\r\n";
        }
        body += line;
        expected += jis;
    }
    PutMessage("Subject: big\r\n\r\n" + body);
    const uint32_t size = MessageSize(host_, entry_, mailRoot_, folder_);
    LoadMessage(host_, entry_, mailRoot_, folder_, true);
    EXPECT_STREQ(entry_.headerText.c_str(), "Subject: big\r\n");
    ASSERT_EQ(static_cast<size_t>(entry_.bodyText.Length()), expected.size());
    EXPECT_TRUE(std::string(entry_.bodyText.c_str(), expected.size()) == expected);
    EXPECT_EQ(size, Whole().size());

    // Plain lines read in place around double-byte text: a lead byte as the last byte of the
    // first block read so (after the header's 4 KiB read-ahead, a block of 16 KiB), a NUL,
    // text that outgrows the body's reservation, plain lines again, a lead byte at the end;
    // against the converter over the whole body.
    const std::string header = "Subject: mix\r\n\r\n";
    std::string mixed(4096 + 16384 - 1 - header.size(), 'b');
    mixed += std::string("\x83\x65x\r\nab\0\x82\xA0zz\r\n", 13);
    for (int i = 0; mixed.size() < 300000; ++i)
        mixed += std::string(76, static_cast<char>('A' + i % 26)) + "\r\n";
    for (int i = 0; i < 30000; ++i)
        mixed += i % 500 == 0 ? "\r\n" : "\x82\xA0z";
    mixed += std::string(100000, 'c') + "\r\n\x82";
    PutMessage(header + mixed);
    MessageEntry other;
    other.fileName = "AAAA0001";
    const uint32_t mixedSize = MessageSize(host_, other, mailRoot_, folder_);
    LoadMessage(host_, other, mailRoot_, folder_, true);
    Text converted;
    AppendJisLines(mixed.data(), static_cast<int>(mixed.size()), &converted);
    ASSERT_EQ(other.bodyText.Length(), converted.Length());
    EXPECT_EQ(std::memcmp(other.bodyText.c_str(), converted.c_str(), converted.Length()), 0);
    EXPECT_EQ(mixedSize, static_cast<uint32_t>(other.headerText.Length() + 2 + converted.Length()));
}

TEST_F(MessageEntryTest, ExtendedFormIsTheWholeMessagesFormHoweverLoaded) {
    // A part whose text needs UTF-8 (髙) relabels its header: the header alone must say so too.
    const std::string message =
        "X-Orvex-Status: 40000000\r\n"
        "Subject: \x83\x65\r\n"
        "\r\n"
        "\xFB\xFC\x8B\xB4 \"\x83\x65\"\r\n";
    PutMessage(message);
    Text header;
    Text body;
    ExtendedClientForm(message.data(), message.size(), TextForm::kMime, &header, &body);
    const LoadPolicy extended{Mode::kExtended, true};
    EXPECT_EQ(MessageSize(host_, entry_, mailRoot_, folder_, extended),
              static_cast<uint32_t>(header.Length() + 2 + body.Length()));
    LoadHeader(host_, entry_, mailRoot_, folder_, true, extended);
    EXPECT_STREQ(entry_.headerText.c_str(), header.c_str());
    EXPECT_NE(std::string(header.c_str()).find("charset=UTF-8"), std::string::npos);
    LoadBody(host_, entry_, mailRoot_, folder_, true, extended);
    EXPECT_STREQ(entry_.bodyText.c_str(), body.c_str());
}

TEST_F(MessageEntryTest, TextIsReadOnceUnlessEmpty) {
    PutMessage("Subject: first\r\n\r\nbody one\r\n");
    LoadMessage(host_, entry_, mailRoot_, folder_, true);
    PutMessage("Subject: second\r\n\r\nbody two\r\n");
    LoadMessage(host_, entry_, mailRoot_, folder_, true);
    LoadHeader(host_, entry_, mailRoot_, folder_, true);
    LoadBody(host_, entry_, mailRoot_, folder_, true);
    EXPECT_STREQ(entry_.headerText.c_str(), "Subject: first\r\n");
    EXPECT_STREQ(entry_.bodyText.c_str(), "body one\r\n");

    // An empty header counts as not loaded and is read again.
    MessageEntry other;
    other.fileName = "AAAA0001";
    PutMessage("\r\nbody\r\n");
    LoadMessage(host_, other, mailRoot_, folder_, true);
    EXPECT_TRUE(other.headerText.IsEmpty());
    PutMessage("Late: yes\r\n\r\nchanged\r\n");
    LoadHeader(host_, other, mailRoot_, folder_, true);
    EXPECT_STREQ(other.headerText.c_str(), "Late: yes\r\n");
    EXPECT_STREQ(other.bodyText.c_str(), "body\r\n");
}

TEST_F(MessageEntryTest, MarkSeenPerOperationAndPeek) {
    PutMessage("H: 1\r\n\r\nB\r\n");
    auto marksAfter = [&](auto operation) {
        host_.ClearCalls();
        operation();
        return host_.Marks().size();
    };
    EXPECT_EQ(marksAfter([&] { LoadMessage(host_, entry_, mailRoot_, folder_, true); }), 0u);
    EXPECT_EQ(marksAfter([&] { LoadHeader(host_, entry_, mailRoot_, folder_, true); }), 0u);
    EXPECT_EQ(marksAfter([&] { LoadBody(host_, entry_, mailRoot_, folder_, true); }), 0u);
    // Loaded already: LoadMessage and LoadBody still mark, LoadHeader does nothing at all.
    EXPECT_EQ(marksAfter([&] { LoadMessage(host_, entry_, mailRoot_, folder_, false); }), 1u);
    EXPECT_EQ(marksAfter([&] { LoadBody(host_, entry_, mailRoot_, folder_, false); }), 1u);
    EXPECT_EQ(marksAfter([&] { LoadHeader(host_, entry_, mailRoot_, folder_, false); }), 0u);
    EXPECT_EQ(marksAfter([&] { MessageSize(host_, entry_, mailRoot_, folder_); }), 1u);
    EXPECT_EQ(marksAfter([&] { MarkSeen(host_, entry_, mailRoot_, folder_); }), 1u);

    // The first LoadHeader of a fresh entry marks unless peeking.
    MessageEntry fresh;
    fresh.fileName = "AAAA0001";
    fresh.status = StatusUnread;
    EXPECT_EQ(marksAfter([&] { LoadHeader(host_, fresh, mailRoot_, folder_, false); }), 1u);
    ASSERT_EQ(host_.Marks().size(), 1u);
    EXPECT_EQ(host_.Marks()[0], (FakeHost::Mark{"user\\work.box\\AAAA0001", StatusUnread, 0}));
    // The entry's own status is not changed by the request.
    EXPECT_EQ(fresh.status, StatusUnread);
}

TEST(EntryBatchTest, PooledEntriesLiveAndDieLikeHeapEntries) {
    std::set<const void*> carved;
    std::vector<MessageEntry*> entries;
    {
        EntryBatch batch;
        for (int i = 0; i < 2000; ++i) {  // several blocks
            MessageEntry* e = new (batch) MessageEntry;
            EXPECT_EQ(e->uid, 0u);
            EXPECT_TRUE(e->fileName.IsEmpty());
            e->uid = static_cast<uint32_t>(i);
            e->fileName.AssignCompact("AAAA0001", 8);
            carved.insert(e);
            entries.push_back(e);
        }
        // A second batch carves as well; without one, entries are the heap's.
        EntryBatch other;
        entries.push_back(new (other) MessageEntry(*entries[5]));
    }
    MessageEntry* heap = new MessageEntry;
    heap->bodyText = "text";
    delete heap;
    EXPECT_EQ(entries.back()->uid, 5u);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(entries[static_cast<size_t>(i)]->uid, static_cast<uint32_t>(i));
    // Deleted in any order, half of them on another thread.
    std::thread other([&entries] {
        for (size_t i = 0; i < entries.size(); i += 2)
            delete entries[i];
    });
    other.join();
    for (size_t i = 1; i < entries.size(); i += 2)
        delete entries[i];
    // The blocks went back to the pool: the next batch carves from one of them.
    EntryBatch again;
    MessageEntry* reused = new (again) MessageEntry;
    EXPECT_EQ(carved.count(reused), 1u);
    delete reused;
}

TEST(LoadPolicyTest, APolicyWithoutMarksAsksTheHostForNothing) {
    FakeHost host;
    MessageEntry entry;
    entry.fileName = "AAAA0001";
    entry.clientSize = 10;  // measured before: the file is not read
    LoadPolicy quiet;
    quiet.marksSeen = false;
    EXPECT_EQ(MessageSize(host, entry, "user", "INBOX", quiet), 10u);
    EXPECT_TRUE(host.Marks().empty());
}

}  // namespace
