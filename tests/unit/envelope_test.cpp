// Tests of ENVELOPE: reading the header (folding, end of header, line ends), the field keys and
// their prefixes, the from/sender/reply-to rules, the address parser and writer, encoded words
// for Shift_JIS text, the escaping of quotes and backslashes, and the value kept per message.
#include "render/envelope.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "fake_host.h"
#include "imap/fetch_message.h"
#include "render/items.h"
#include "store/mailbox.h"

namespace {

namespace fs = std::filesystem;

// The rendered envelope of a message file holding bytes.
std::string EnvelopeOf(const std::string& bytes) {
    static int serial = 0;
    const fs::path path =
        fs::temp_directory_path() /
        ("orv_env_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
         "_" + std::to_string(++serial) + ".orv");
    std::ofstream(path, std::ios::binary) << bytes;
    Envelope env;
    {
        File file;
        EXPECT_TRUE(file.Open(path.c_str(), platform::kAccessRead, platform::kOpenExisting));
        ReadEnvelope(&file, &env);
    }
    fs::remove(path);
    Text out;
    RenderEnvelope(env, &out);
    return out.c_str();
}

// The rendered address list of one header value.
std::string Addresses(const char* value) {
    Text v(value);
    Text out;
    int pos = 0;
    while (pos < v.Length()) {
        EnvelopeAddress address;
        const int before = pos;
        ParseAddress(v, &pos, &address);
        EXPECT_GT(pos, before);
        WriteAddress(address, &out);
    }
    return out.c_str();
}

const std::string kTaro = "((\"Taro\" NIL \"taro\" \"example.jp\"))";

TEST(EnvelopeTest, HeaderFieldsFoldingAndEnd) {
    EXPECT_EQ(EnvelopeOf(""), " (NIL NIL NIL NIL NIL NIL NIL NIL NIL NIL)");
    EXPECT_EQ(EnvelopeOf("Date: Sun, 4 Mar 2001 10:02:03 +0900\r\n"
                         "X-Orvex-Status: 40000000\r\n"
                         "Subject: long\r\n\tsubject\r\n  line\r\n"
                         "From: Taro <taro@example.jp>\r\n"
                         "To: a@x,\r\n b@y\r\n"
                         "In-Reply-To: <1@x>\r\n"
                         "Message-ID: <2@x>\r\n"
                         "\r\n"
                         "To: body@x\r\nSubject: body\r\n"),
              " (\"Sun, 4 Mar 2001 10:02:03 +0900\" \"long subject  line\" " + kTaro + " " + kTaro +
                  " " + kTaro +
                  " ((\"\" NIL \"a\" \"x\")(\"\" NIL \"b\" \"y\")) NIL NIL \"<1@x>\" \"<2@x>\")");
    // LF line ends; the last field ends with the file; a present but empty list is ().
    EXPECT_EQ(EnvelopeOf("Cc:\nBcc: \t c@z\nSubject:"),
              " (NIL \"\" NIL NIL NIL NIL () ((\"\" NIL \"c\" \"z\")) NIL NIL)");
}

TEST(EnvelopeTest, KeysMatchByPrefixInOrder) {
    // "Tomorrow" counts as To, "Ccc" as Cc, "Dated" as Date; the value follows the colon run.
    EXPECT_EQ(
        EnvelopeOf("TOMORROW: t@x\nccc: c@x\nDATED::: d\nResent-From: r@x\nFrom\n"),
        " (\"d\" NIL () () () ((\"\" NIL \"t\" \"x\")) ((\"\" NIL \"c\" \"x\")) NIL NIL NIL)");
    // A later field of a kind replaces the earlier one.
    EXPECT_EQ(EnvelopeOf("Subject: one\nsubject: two\n"),
              " (NIL \"two\" NIL NIL NIL NIL NIL NIL NIL NIL)");
}

TEST(EnvelopeTest, FromStandsInForSenderAndReplyTo) {
    const std::string s = "((\"\" NIL \"s\" \"x\"))";
    const std::string r = "((\"\" NIL \"r\" \"x\"))";
    const std::string f = "((\"\" NIL \"f\" \"x\"))";
    // Sender after From replaces it; Reply-To before From stays.
    EXPECT_EQ(EnvelopeOf("Reply-To: r@x\nFrom: f@x\nSender: s@x\n"),
              " (NIL NIL " + f + " " + s + " " + r + " NIL NIL NIL NIL NIL)");
    // Empty Sender and Reply-To lines are filled by a later From.
    EXPECT_EQ(EnvelopeOf("Sender:\nReply-To: \nFrom: f@x\n"),
              " (NIL NIL " + f + " " + f + " " + f + " NIL NIL NIL NIL NIL)");
    // Sender before From keeps its value.
    EXPECT_EQ(EnvelopeOf("Sender: s@x\nFrom: f@x\n"),
              " (NIL NIL " + f + " " + s + " " + f + " NIL NIL NIL NIL NIL)");
}

TEST(EnvelopeTest, AddressForms) {
    EXPECT_EQ(Addresses("\"Yamada, Taro\" <taro@example.jp>"),
              "(\"Yamada, Taro\" NIL \"taro\" \"example.jp\")");
    EXPECT_EQ(Addresses("taro@example.jp (Taro Yamada)"),
              "(\"Taro Yamada\" NIL \"taro\" \"example.jp\")");
    EXPECT_EQ(Addresses("<a@b>, ,, c ,\td@@e.f"),
              "(\"\" NIL \"a\" \"b\")(\"\" NIL \"c\" \"\")(\"\" NIL \"d\" \"e.f\")");
    EXPECT_EQ(Addresses("Name <a b@c, d"), "(\"Name\" NIL \"a b\" \"c, d\")");
    // Text before the angle brackets becomes the name, replacing a comment seen earlier.
    EXPECT_EQ(Addresses("(team) Bob <b@x>, (c)d@y"),
              "(\"Bob\" NIL \"b\" \"x\")(\"c\" NIL \"d\" \"y\")");
    EXPECT_EQ(Addresses(","), "(\"\" NIL \"\" \"\")");
    // Group syntax has no meaning of its own here: the text is one address without a host.
    EXPECT_EQ(Addresses("undisclosed-recipients:;"),
              "(\"\" NIL \"undisclosed-recipients:;\" \"\")");
    // Backslashes and quotes that reach a quoted string are escaped.
    EXPECT_EQ(Addresses("\"A \\\"B\\\" C\" <a\\b@c>"), "(\"A \\\\B\\\\ C\" NIL \"a\\\\b\" \"c\")");
}

TEST(EnvelopeTest, ShiftJisBecomesEncodedWordsAndQuotesAreEscaped) {
    // テスト in Shift_JIS: in the Subject the blank after it belongs to the encoded word; the
    // display name is trimmed first.
    const std::string subject = "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhCIA==?=test";
    const std::string name = "((\"=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\" NIL \"t\" \"x\"))";
    EXPECT_EQ(EnvelopeOf("Subject: \x83\x65\x83\x58\x83\x67 test\r\n"
                         "From: \"\x83\x65\x83\x58\x83\x67 \" <t@x>\r\n"
                         "Message-ID: <a\"b\\c>\r\n"),
              " (NIL \"" + subject + "\" " + name + " " + name + " " + name +
                  " NIL NIL NIL NIL \"<a\\\"b\\\\c>\")");
}

TEST(EnvelopeItemTest, KeptInTheEntryUntilDroppedOrRewritten) {
    const fs::path root =
        fs::temp_directory_path() /
        ("orv_envitem_" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(root / "user" / "work.box");
    FakeHost host(root.string() + "/");
    auto put = [&](const std::string& bytes) {
        std::ofstream(root / "user" / "work.box" / "AAAA0001.orv", std::ios::binary) << bytes;
    };
    Mailbox mailbox(host, Text("user"), Text("work.box"));
    MessageEntry* entry = new MessageEntry;
    entry->fileName = "AAAA0001";
    mailbox.Index().Append(entry);
    auto render = [&]() {
        StringOutput out;
        RenderItems(host, *entry, mailbox.MailRoot(), mailbox.FolderPath(), "ENVELOPE", 0, out);
        mailbox.NoteServed(*entry);
        return out.text;
    };
    put("Subject: first\r\n\r\n");
    const std::string first = render();
    EXPECT_NE(first.find("\"first\""), std::string::npos) << first;
    EXPECT_EQ(entry->cachedSize, static_cast<uint32_t>(entry->envelope.Length()));
    // The folder's bound drops the kept value; while the file is unchanged it comes back.
    MessageEntry* other = new MessageEntry;
    other->headerText = Text(std::string(Mailbox::kMaxCachedText + 1, 'x').c_str());
    mailbox.Index().Append(other);
    mailbox.NoteServed(*other);
    EXPECT_TRUE(entry->envelope.IsEmpty());
    EXPECT_EQ(render(), first);
    // A file the host rewrote is read again at the next FETCH.
    put("Subject: second\r\n\r\n");
    EXPECT_NE(render().find("\"second\""), std::string::npos);
    std::error_code ec;
    fs::remove_all(root, ec);
}

}  // namespace
