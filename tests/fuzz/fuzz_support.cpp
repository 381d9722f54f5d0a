#include "fuzz_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>
#include <vector>

#include "mime/base64.h"
#include "shell/host_binding.h"
#include "store/password.h"

namespace fuzz {

const char kSjisInbox[] = "\x8E\xF3\x90\x4D\x83\x67\x83\x8C\x83\x43";
const char kSjisWork[] = "\x8E\x64\x8E\x96";
const char kSjisMeeting[] = "\x91\xC5\x82\xBF\x8D\x87\x82\xED\x82\xB9";
const char kSjisHyou[] = "\x95\x5C";

namespace {

std::string& Directory() {
    static std::string directory;
    return directory;
}

void RemoveDirectory() {
    std::error_code ignored;
    if (!Directory().empty())
        std::filesystem::remove_all(Directory(), ignored);
}

// The host's three functions the server calls. Import and mark change nothing, so every input
// meets the store as it was written; they read their arguments whole, so a bad pointer or a
// missing terminator shows up here.
const char* ORV_HOSTCALL GetMailbox() {
    return Directory().c_str();
}
int ORV_HOSTCALL ImportFile(const char* file, const char* folder, uint32_t status) {
    (void)status;
    if (file == nullptr || folder == nullptr || std::strlen(file) + std::strlen(folder) == 0)
        std::abort();
    return 1;
}
int ORV_HOSTCALL MarkMail(const char* key, uint32_t mask, int value) {
    (void)mask;
    (void)value;
    if (key == nullptr || std::strlen(key) == 0)
        std::abort();
    return 1;
}

void BindHost() {
    static void* functions[kHostFunctionCount] = {};
    for (int i = 0; i < kHostFunctionCount; ++i) {
        const char* name = kHostFunctionNames[i];
        if (std::strcmp(name, "_OPAGetMailbox@0") == 0)
            functions[i] = reinterpret_cast<void*>(&GetMailbox);
        else if (std::strcmp(name, "_OPAImportFile@12") == 0)
            functions[i] = reinterpret_cast<void*>(&ImportFile);
        else if (std::strcmp(name, "_OPAMarkMail@12") == 0)
            functions[i] = reinterpret_cast<void*>(&MarkMail);
    }
    static int module = 0;
    BindHostApiFrom(&module, functions);
}

}  // namespace

const std::string& MailboxDirectory() {
    std::string& directory = Directory();
    if (!directory.empty())
        return directory;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::mt19937_64 random(
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "orv-fuzz-%016llx",
                      static_cast<unsigned long long>(random()));
        std::error_code failure;
        const std::filesystem::path candidate = base / name;
        if (std::filesystem::create_directory(candidate, failure)) {
            directory = candidate.string() + "/";
            break;
        }
    }
    if (directory.empty()) {
        std::fprintf(stderr, "fuzz: cannot make a scratch directory in %s\n",
                     base.string().c_str());
        std::abort();
    }
    std::atexit(RemoveDirectory);
    BindHost();
    return directory;
}

bool WriteBytes(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    return WriteBytes(path, bytes.data(), bytes.size());
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::string();
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void MakeDirectory(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
}

namespace {

constexpr uint32_t kUnread = 0x40000000;
constexpr uint32_t kAnswered = 0x20000000;
constexpr uint32_t kDraft = 0x01000000;
constexpr uint32_t kDeleted = 0x00020000;

// An "Entry.lst" line as the host writes it: name, "=", base64 of status, size and time.
std::string IndexLine(const char* name, uint32_t status, uint32_t size) {
    unsigned char record[12];
    const uint32_t words[3] = {status, size, 1741000000u};
    for (int w = 0; w < 3; ++w) {
        for (int b = 0; b < 4; ++b)
            record[w * 4 + b] = static_cast<unsigned char>(words[w] >> (8 * b));
    }
    Base64Codec codec;
    return std::string(name) + "=" + codec.Encode(record, sizeof record) + "\r\n";
}

// A message file: the host's status line, then the message with CR LF line ends.
std::string MessageFile(uint32_t status, const std::string& text) {
    char line[64];
    std::snprintf(line, sizeof line, "X-Orvex-Status: %08X\r\n", status);
    std::string out = line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

std::string PlainMessage() {
    return "From: Alice Walker <alice@example.com>\n"
           "To: fuzz <fuzz@example.jp>, \"Bob, Jr.\" <bob@example.com>\n"
           "Cc: team: carol@example.com, dave@example.com;\n"
           "Subject: Lunch on Friday?\n"
           "Date: Wed, 05 Mar 2025 12:30:00 +0000\n"
           "Message-ID: <20250305123000.1003@example.com>\n"
           "Content-Type: text/plain; charset=us-ascii\n"
           "\n"
           "Hi,\n"
           "are you free for lunch on Friday?\n"
           ".\n"
           "Alice\n";
}

std::string JapaneseMessage() {
    return std::string("From: ") + "\x8E\x52\x93\x63\x20\x91\xBE\x98\x59" +
           " <yamada@example.jp>\n"
           "To: =?ISO-2022-JP?B?GyRCO1FFRBsoQg==?= <fuzz@example.jp>\n"
           "Subject: " +
           kSjisMeeting + " " + kSjisHyou + "\n" +
           "Date: Mon, 3 Mar 2025 10:15:00 +0900 (JST)\n"
           "In-Reply-To: <20250301.1@example.jp>\n"
           "MIME-Version: 1.0\n"
           "Content-Type: text/plain; charset=ISO-2022-JP\n"
           "Content-Transfer-Encoding: 7bit\n"
           "\n" +
           "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x96\x7B\x95\xB6\x82\xC5\x82\xB7\x81\x42\n" +
           kSjisHyou + "\x83\x5C\x83\x74\x83\x67\n";
}

std::string MultipartMessage() {
    return std::string(
               "From: sato@example.jp\n"
               "To: fuzz@example.jp\n"
               "Subject: =?ISO-2022-JP?B?GyRCOCtAUUpxGyhC?= estimate\n"
               "Date: Tue, 04 Mar 2025 14:02:10 +0900\n"
               "MIME-Version: 1.0\n"
               "Content-Type: multipart/mixed; boundary=\"outer\"\n"
               "\n"
               "preamble\n"
               "--outer\n"
               "Content-Type: multipart/alternative; boundary=inner\n"
               "\n"
               "--inner\n"
               "Content-Type: text/plain; charset=Shift_JIS\n"
               "\n") +
           kSjisWork + "\n" +
           "--inner\n"
           "Content-Type: text/html; charset=us-ascii\n"
           "Content-Transfer-Encoding: quoted-printable\n"
           "\n"
           "<p>soft=\n"
           "ware =E3=81=82</p>\n"
           "--inner--\n"
           "--outer\n"
           "Content-Type: text/csv; charset=Shift_JIS; name=\"estimate.csv\"\n"
           "Content-Transfer-Encoding: base64\n"
           "Content-Disposition: attachment; filename=\"estimate.csv\"\n"
           "Content-ID: <part2@example.jp>\n"
           "\n"
           "lWmWvCyQlJfKLJJQ\n"
           "\n"
           "--outer\n"
           "Content-Type: message/rfc822\n"
           "\n"
           "Subject: inner\n"
           "\n"
           "inner body\n"
           "--outer--\n"
           "epilogue\n";
}

std::string OddMessage() {
    std::string longLine(600, 'x');
    return "Subject: a folded\n"
           "\tsubject line =?UTF-8?Q?caf=C3=A9?= and =?iso-2022-jp?q?broken\n"
           "From: \"Quoted \\\"Name\\\"\" (comment) <odd@example.com>\n"
           "From: second@example.com\n"
           "Reply-To: <>\n"
           "Sender: @\n"
           "Bcc: undisclosed-recipients:;\n"
           "Date: 31 Dec 99 23:59:59 GMT\n"
           "X-Long: " +
           longLine +
           "\n"
           "Content-Type: multipart/mixed\n"
           "\n"
           "body without boundary\n" +
           longLine + "\n";
}

struct StoreFile {
    std::string path;
    std::string bytes;
};

struct SessionStore {
    std::vector<StoreFile> files;         // written once; the mutable ones restored each time
    std::vector<StoreFile> mutableFiles;  // settings and "Entry.ini" files
    std::vector<std::string> directories;
};

SessionStore& Store() {
    static SessionStore store;
    return store;
}

void AddFile(const std::string& path, const std::string& bytes, bool mutableFile) {
    Store().files.push_back({path, bytes});
    if (mutableFile)
        Store().mutableFiles.push_back({path, bytes});
}

void AddFolder(const std::string& root, const std::string& directory, const std::string& ini,
               const char* uidValidity) {
    const std::string path = root + directory + "/";
    Store().directories.push_back(path);
    if (!ini.empty())
        AddFile(path + "Entry.ini", ini, true);
    if (uidValidity != nullptr)
        AddFile(path + "Imap4.ini", std::string("[IMAP4]\r\nUID=") + uidValidity + "\r\n", false);
}

}  // namespace

std::vector<std::string> SampleMessages() {
    return {MessageFile(kUnread, PlainMessage()), MessageFile(kAnswered, JapaneseMessage()),
            MessageFile(kUnread | kDraft, MultipartMessage()), MessageFile(kDeleted, OddMessage()),
            std::string()};
}

void MakeSessionStore() {
    static bool made = false;
    if (made)
        return;
    made = true;
    const std::string mailbox = MailboxDirectory();
    AddFile(mailbox + "Imap4.ini", "[Server]\r\nPortNo=143\r\nFolderName=1\r\n[IMAP4]\r\nUID=7\r\n",
            true);
    const Text stored = EncryptStoredPassword(Text(kUser), Text(kPassword));
    AddFile(mailbox + "passwd", std::string(kUser) + ":" + kUser + ":" + stored.c_str() + "\r\n",
            false);

    const std::string root = mailbox + kUser + "/";
    Store().directories.push_back(root);

    AddFolder(root, "inbox.box",
              std::string("[Property]\r\nTitle=") + kSjisInbox + "\r\nTotal=7\r\n", "101");
    const std::string inbox = root + "inbox.box/";
    const std::string plain = MessageFile(kUnread, PlainMessage());
    const std::string japanese = MessageFile(kAnswered, JapaneseMessage());
    const std::string multipart = MessageFile(kUnread | kDraft, MultipartMessage());
    const std::string odd = MessageFile(kDeleted, OddMessage());
    AddFile(inbox + "AAAA0001.orv", plain, false);
    AddFile(inbox + "AAAA0002.orv", japanese, false);
    AddFile(inbox + "AAAA0003.orv", multipart, false);
    AddFile(inbox + "AAAA0005.orv", "", false);
    AddFile(inbox + "AAAB0001.orv", odd, false);
    // AAAA0004 is listed but has no file; "junk" is a line the host never writes.
    AddFile(inbox + "Entry.lst",
            IndexLine("AAAA0001", kUnread, static_cast<uint32_t>(plain.size())) +
                IndexLine("AAAA0002", kAnswered, static_cast<uint32_t>(japanese.size())) +
                IndexLine("AAAB0001", kDeleted, static_cast<uint32_t>(odd.size())) +
                IndexLine("AAAA0003", kUnread | kDraft, static_cast<uint32_t>(multipart.size())) +
                IndexLine("AAAA0004", 0, 0) + IndexLine("AAAA0005", kUnread, 0) + "junk\r\n",
            false);

    AddFolder(root, "outbox.box", "[Property]\r\nTitle=Outbox\r\nTotal=0\r\n", "102");
    AddFolder(root, "work.box",
              std::string("[Property]\r\nTitle=") + kSjisWork +
                  "\r\nType=Subfolder\r\nTotal=1\r\n[IMAP4]\r\nSubscribe=0\r\n",
              nullptr);
    AddFile(root + "work.box/Entry.lst", IndexLine("aaaa0009", 0, 10), false);
    AddFile(root + "work.box/AAAA0009.orv", MessageFile(0, PlainMessage()), false);
    AddFolder(root, "work.box/projects.box", "[Property]\r\nTitle=Projects & Plans\r\nTotal=2\r\n",
              "104");
    AddFile(root + "work.box/projects.box/Entry.lst",
            IndexLine("AAAA0001", kUnread, 0) + IndexLine("AAAA0001", 0, 0), false);
    AddFile(root + "work.box/projects.box/AAAA0001.orv", MessageFile(0, MultipartMessage()), false);
    AddFolder(root, std::string("work.box/") + "\x83\x65\x83\x58\x83\x67" + ".box",
              std::string("[Property]\r\nTitle=") + kSjisHyou + "/" + kSjisMeeting + "\r\n",
              nullptr);
    AddFolder(root, "news.box", "[Property]\r\nTitle=\r\nTotal=1\r\n", nullptr);
    AddFile(root + "news.box/Entry.lst", "ZZZZ9999=////////////////\n", false);
    // Only a directory: no properties, no index.
    AddFolder(root, "backup", "", nullptr);

    for (const std::string& directory : Store().directories)
        MakeDirectory(directory);
    for (const StoreFile& file : Store().files) {
        if (!WriteBytes(file.path, file.bytes)) {
            std::fprintf(stderr, "fuzz: cannot write %s\n", file.path.c_str());
            std::abort();
        }
    }
}

void RestoreSessionStore() {
    for (const StoreFile& file : Store().mutableFiles) {
        if (ReadBytes(file.path) != file.bytes)
            WriteBytes(file.path, file.bytes);
    }
    // A subscription change of a directory without properties creates its "Entry.ini".
    for (const std::string& directory : Store().directories) {
        const std::string ini = directory + "Entry.ini";
        bool known = false;
        for (const StoreFile& file : Store().mutableFiles)
            known = known || file.path == ini;
        std::error_code ignored;
        if (!known)
            std::filesystem::remove(ini, ignored);
    }
}

}  // namespace fuzz
