#include "host/demo_store.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "host/store.h"
#include "host/store_format.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "setup/setup_store.h"

namespace {

constexpr uint32_t kRead = 0;
constexpr uint32_t kUnread = 0x40000000;
constexpr uint32_t kAnswered = 0x20000000;

// One folder of the demo: its directory under the mail root, its title (UTF-8), its type, and
// the UIDVALIDITY its own "Imap4.ini" keeps stable for clients that cache mail.
struct DemoFolder {
    const char* path;
    const char* title;
    const char* type;
    const char* uidValidity;
};

const DemoFolder kFolders[] = {
    {"inbox.box", "受信トレイ", "", "101"},
    {"outbox.box", "送信箱", "", "102"},
    {"work.box", "仕事", "Subfolder", "103"},
    {"work.box/projects.box", "プロジェクト", "", "104"},
    {"work.box/reports.box", "報告書", "", "105"},
    {"news.box", "Newsletters", "", "106"},
};

// A folder that is only a directory, with neither "Entry.ini" nor "Imap4.ini": the server lists
// it (in the extended mode under its directory name; the exact mode's title names give it an
// empty one) and finds no mail in it.
const char kBareFolder[] = "backup";

// UTF-8 text (from this source file) in the host's Shift_JIS form.
std::string Sjis(const std::string& utf8) {
    std::u16string wide;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char b = static_cast<unsigned char>(utf8[i]);
        const int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < utf8.size(); ++k)
            c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += static_cast<size_t>(extra) + 1;
        if (c >= 0x10000) {
            wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<char16_t>(c);
        }
    }
    if (wide.empty())
        return std::string();
    const int n = static_cast<int>(wide.size());
    const int size = platform::WideCharToMultiByte(wide.data(), n, nullptr, 0);
    std::string out(static_cast<size_t>(size), '\0');
    platform::WideCharToMultiByte(wide.data(), n, &out[0], size);
    return out;
}

// Base64 in lines of 76 characters, as a mail attachment carries it.
std::string AttachmentLines(const std::string& bytes) {
    const std::string text = Base64Encode(bytes);
    std::string out;
    for (size_t i = 0; i < text.size(); i += 76)
        out += text.substr(i, 76) + "\n";
    return out;
}

// The common header of a demo message.
std::string Header(const std::string& from, const std::string& to, const std::string& subject,
                   const std::string& date, const std::string& id) {
    return "From: " + from + "\nTo: " + to + "\nSubject: " + subject + "\nDate: " + date +
           "\nMessage-ID: <" + id + "@demo.example>\nMIME-Version: 1.0\n";
}

const char kJapaneseText[] =
    "Content-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: 7bit\n";
const char kEnglishText[] =
    "Content-Type: text/plain; charset=us-ascii\nContent-Transfer-Encoding: 7bit\n";

std::string Meeting() {
    return Header("山田 太郎 <yamada@example.jp>", "demo <demo@example.jp>", "打ち合わせの件",
                  "Mon, 03 Mar 2025 10:15:00 +0900", "20250303101500.1001") +
           kJapaneseText +
           "\n"
           "デモ様\n"
           "\n"
           "お疲れさまです。山田です。\n"
           "来週の打ち合わせですが、水曜日の午後二時からでいかがでしょうか。\n"
           "場所は第三会議室を予約してあります。\n"
           "資料は前日までにお送りします。\n"
           "\n"
           "よろしくお願いいたします。\n"
           "--\n"
           "山田 太郎\n";
}

std::string Welcome() {
    return Header("Orvex Demo <postmaster@demo.example>", "demo <demo@example.jp>",
                  "Welcome to the OrvImapS demo", "Mon, 03 Mar 2025 09:00:00 +0900",
                  "20250303090000.1000") +
           kEnglishText +
           "\n"
           "Hello,\n"
           "\n"
           "this mailbox belongs to the demo store that orvex-host made with --make-demo.\n"
           "The host keeps its mail in Shift_JIS; the server hands it to you as\n"
           "ISO-2022-JP with encoded-word headers, and folder titles as modified UTF-7.\n"
           "\n"
           "Things to try:\n"
           "  - list the folders: the inbox, the outbox, a folder with two subfolders,\n"
           "    a folder with English mail and one folder whose directory has no\n"
           "    properties file (listed under its directory name, backup);\n"
           "  - read a message: it is marked as read in the host's store;\n"
           "  - append a message or copy one into another folder: the host stores it and\n"
           "    the next SELECT of that folder shows it.\n"
           "\n"
           "Delete the directory demo-store/ to start again from this state.\n";
}

std::string Estimate() {
    const std::string csv = Sjis(
        "品名,数量,単価\r\n"
        "IMAPサーバー導入,1,50000\r\n"
        "設定作業,2,15000\r\n"
        "保守（一年）,1,24000\r\n");
    return Header("佐藤 花子 <sato@example.jp>", "demo <demo@example.jp>", "見積書を送付します",
                  "Tue, 04 Mar 2025 14:02:10 +0900", "20250304140210.1002") +
           "Content-Type: multipart/mixed; boundary=\"demo-boundary-1\"\n"
           "\n"
           "This is a multi-part message in MIME format.\n"
           "\n"
           "--demo-boundary-1\n" +
           kJapaneseText +
           "\n"
           "デモ様\n"
           "\n"
           "いつもお世話になっております。佐藤です。\n"
           "ご依頼の件、見積書を添付いたします。\n"
           "ご不明な点がございましたら、お気軽にお問い合わせください。\n"
           "\n"
           "--demo-boundary-1\n"
           "Content-Type: text/csv; charset=Shift_JIS; name=\"estimate.csv\"\n"
           "Content-Transfer-Encoding: base64\n"
           "Content-Disposition: attachment; filename=\"estimate.csv\"\n"
           "\n" +
           AttachmentLines(csv) +
           "\n"
           "--demo-boundary-1--\n";
}

std::string Lunch() {
    return Header("Alice Walker <alice@example.com>", "demo <demo@example.jp>", "Lunch on Friday?",
                  "Wed, 05 Mar 2025 12:30:00 +0000", "20250305123000.1003") +
           kEnglishText +
           "\n"
           "Hi,\n"
           "\n"
           "are you free for lunch on Friday? The new ramen place near the station\n"
           "opens at 11:30. I can book a table for three.\n"
           "\n"
           "Alice\n";
}

std::string BuildReport() {
    std::string body;
    for (int i = 1; i <= 240; ++i) {
        char line[128];
        std::snprintf(line, sizeof line, "%4d  build %05d  %s  %3d.%d s  tests %3d passed\n", i,
                      41000 + i * 7, i % 17 == 0 ? "失敗" : "成功", 80 + (i * 37) % 90, i % 10,
                      300 + i % 40);
        body += line;
    }
    return Header("ビルドサーバー <ci@example.jp>", "demo <demo@example.jp>",
                  "週次ビルド報告 (Weekly build report)", "Thu, 06 Mar 2025 06:00:00 +0900",
                  "20250306060000.1004") +
           kJapaneseText +
           "\n"
           "今週のビルド結果をお知らせします。\n"
           "This is the weekly digest of every build, one line each.\n"
           "\n"
           "   #  build        結果   time      tests\n" +
           body +
           "\n"
           "以上、240件のビルドのうち失敗は14件でした。\n";
}

std::string Photo() {
    return Header("Bob Tanaka <bob@example.com>", "demo <demo@example.jp>",
                  "Photo from the offsite", "Fri, 07 Mar 2025 18:45:00 -0800",
                  "20250307184500.1005") +
           "Content-Type: multipart/mixed; boundary=\"demo-boundary-2\"\n"
           "\n"
           "--demo-boundary-2\n" +
           kEnglishText +
           "\n"
           "Here is the (very small) picture of the team board.\n"
           "\n"
           "Bob\n"
           "\n"
           "--demo-boundary-2\n"
           "Content-Type: image/png; name=\"board.png\"\n"
           "Content-Transfer-Encoding: base64\n"
           "Content-Disposition: attachment; filename=\"board.png\"\n"
           "\n"
           "iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAEklEQVR4nGP4z8DA0PCfAUIBACFyBP1T\n"
           "VaZ3AAAAAElFTkSuQmCC\n"
           "\n"
           "--demo-boundary-2--\n";
}

std::string MeetingReply() {
    return Header("demo <demo@example.jp>", "山田 太郎 <yamada@example.jp>", "Re: 打ち合わせの件",
                  "Mon, 03 Mar 2025 11:02:00 +0900", "20250303110200.2001") +
           "In-Reply-To: <20250303101500.1001@demo.example>\n" + kJapaneseText +
           "\n"
           "山田様\n"
           "\n"
           "ご連絡ありがとうございます。\n"
           "水曜日の午後二時で問題ありません。当日はよろしくお願いします。\n"
           "\n"
           "> 来週の打ち合わせですが、水曜日の午後二時からでいかがでしょうか。\n";
}

std::string Goals() {
    return Header("鈴木 一郎 <suzuki@example.jp>", "チーム <team@example.jp>", "今期の目標",
                  "Mon, 10 Mar 2025 09:30:00 +0900", "20250310093000.3001") +
           kJapaneseText +
           "\n"
           "皆さん\n"
           "\n"
           "今期の目標をまとめました。\n"
           "  1. IMAPサーバーを社内に展開する\n"
           "  2. 日本語のメールを文字化けなく読めるようにする\n"
           "  3. 問い合わせ対応の時間を半分にする\n"
           "\n"
           "鈴木\n";
}

std::string Checklist() {
    return Header("Carol Smith <carol@example.com>", "demo <demo@example.jp>",
                  "Release checklist for 0.1", "Tue, 11 Mar 2025 16:20:00 +0000",
                  "20250311162000.3002") +
           kEnglishText +
           "\n"
           "Before we tag 0.1:\n"
           "\n"
           "  [x] LOGIN, LIST and SELECT against the demo store\n"
           "  [x] APPEND and COPY stored by the host\n"
           "  [ ] FETCH of the long build report\n"
           "  [ ] a client on a phone\n"
           "\n"
           "Carol\n";
}

std::string Review() {
    return Header("高橋 美咲 <takahashi@example.jp>", "demo <demo@example.jp>",
                  "仕様レビューのお願い", "Wed, 12 Mar 2025 13:05:00 +0900",
                  "20250312130500.3003") +
           kJapaneseText +
           "\n"
           "デモ様\n"
           "\n"
           "新しい受信フォルダーの仕様書ができました。\n"
           "金曜日までにレビューをお願いできますでしょうか。\n"
           "\n"
           "高橋\n";
}

std::string Monthly() {
    const std::string notes = Sjis(
        "三月の作業時間\r\n"
        "  設計    32時間\r\n"
        "  実装    58時間\r\n"
        "  試験    21時間\r\n");
    return Header("demo <demo@example.jp>", "部長 <manager@example.jp>", "月次報告（三月）",
                  "Mon, 31 Mar 2025 17:40:00 +0900", "20250331174000.3004") +
           "Content-Type: multipart/mixed; boundary=\"demo-boundary-3\"\n"
           "\n"
           "--demo-boundary-3\n" +
           kJapaneseText +
           "\n"
           "部長\n"
           "\n"
           "三月の月次報告をお送りします。作業時間の内訳を添付しました。\n"
           "\n"
           "--demo-boundary-3\n"
           "Content-Type: text/plain; charset=Shift_JIS; name=\"hours.txt\"\n"
           "Content-Transfer-Encoding: base64\n"
           "Content-Disposition: attachment; filename=\"hours.txt\"\n"
           "\n" +
           AttachmentLines(notes) +
           "\n"
           "--demo-boundary-3--\n";
}

std::string Newsletter() {
    return Header("Orvex News <news@example.com>", "demo <demo@example.jp>",
                  "Orvex Newsletter - March", "Sat, 15 Mar 2025 08:00:00 +0000",
                  "20250315080000.4001") +
           kEnglishText +
           "\n"
           "ORVEX NEWSLETTER\n"
           "================\n"
           "\n"
           "* Read your mail from any IMAP client with the OrvImapS plug-in.\n"
           "* Folder titles in Japanese reach your client as modified UTF-7.\n"
           "* Tip: a folder of type Subfolder holds its subfolders as *.box directories.\n"
           "\n"
           "You receive this letter because you tried the demo.\n";
}

// One demo message: its folder, its status word and its text (UTF-8).
struct DemoMessage {
    const char* folder;
    uint32_t status;
    std::string (*text)();
};

const DemoMessage kMessages[] = {
    {"inbox.box", kUnread, Welcome},
    {"inbox.box", kAnswered, Meeting},
    {"inbox.box", kUnread, Estimate},
    {"inbox.box", kRead, Lunch},
    {"inbox.box", kRead, BuildReport},
    {"inbox.box", kUnread, Photo},
    {"outbox.box", kRead, MeetingReply},
    {"work.box", kRead, Goals},
    {"work.box/projects.box", kUnread, Checklist},
    {"work.box/projects.box", kRead, Review},
    {"work.box/reports.box", kRead, Monthly},
    {"news.box", kUnread, Newsletter},
};

bool IsEmptyDirectory(const std::string& directory) {
    platform::DirectorySearch search((directory + "*").c_str());
    platform::FindData found;
    while (search.Next(&found)) {
        if (found.name != "." && found.name != "..")
            return false;
    }
    return true;
}

bool MakeDirectory(const std::string& path, std::string* error) {
    std::error_code failure;
    std::filesystem::create_directories(platform::MapPath(path.c_str()), failure);
    if (failure) {
        *error = "cannot create the directory " + path + ": " + failure.message();
        return false;
    }
    return true;
}

bool WriteKey(const std::string& file, const char* section, const char* key,
              const std::string& value, std::string* error) {
    if (platform::WriteProfileString(section, key, value.c_str(), file.c_str()) == 0) {
        *error = "cannot write " + file;
        return false;
    }
    return true;
}

bool MakeFolders(const std::string& root, std::string* error) {
    for (const DemoFolder& folder : kFolders) {
        const std::string directory = root + folder.path + "/";
        if (!MakeDirectory(directory, error) ||
            !WriteKey(directory + "Entry.ini", "Property", "Title", Sjis(folder.title), error) ||
            (*folder.type != 0 &&
             !WriteKey(directory + "Entry.ini", "Property", "Type", folder.type, error)) ||
            !WriteKey(directory + "Imap4.ini", "IMAP4", "UID", folder.uidValidity, error)) {
            return false;
        }
    }
    return MakeDirectory(root + kBareFolder + "/", error);
}

}  // namespace

bool MakeDemoStore(const std::string& directory, std::string* error) {
    std::string mailbox = directory;
    if (mailbox.empty() || mailbox.back() != '/')
        mailbox += '/';
    if (platform::DirectoryExists(mailbox.c_str()) && !IsEmptyDirectory(mailbox)) {
        *error = "the directory " + directory + " is not empty; the demo store goes only into " +
                 "a new or empty directory";
        return false;
    }
    if (!MakeDirectory(mailbox, error))
        return false;

    // The settings and the user, as the setup tool writes them.
    SetupStore setup(mailbox);
    // Extended mode, so today's clients (which open folders with EXAMINE, expunge, and sync
    // by UID) work with the demo.
    if (!setup.SetPortNo(std::to_string(kDemoPort), error) || !setup.SetFolderName("1", error) ||
        !setup.SetExtended("1", error) ||
        !setup.AddUser(kDemoUser, kDemoUser, kDemoPassword, error)) {
        return false;
    }

    const std::string root = mailbox + kDemoUser + "/";
    if (!MakeFolders(root, error))
        return false;
    HostStore store(mailbox);
    for (const DemoMessage& message : kMessages) {
        const std::string destination = std::string(kDemoUser) + "\\" + message.folder;
        if (store.ImportBytes(Sjis(message.text()), destination.c_str(), message.status).empty()) {
            *error = "cannot store a message in " + root + message.folder;
            return false;
        }
    }
    return true;
}
