#include "setup/setup_dialog.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "setup/setup_store.h"

namespace setup_dialog {

const char kCaption[] = "OrImapSt";

namespace {

const char kSettingsFile[] = "Imap4.ini";
const char kAccountFile[] = "passwd";

// The Shift_JIS form of a text written here in UTF-16, for the controls.
std::string Sjis(const char16_t* text) {
    int n = 0;
    while (text[n] != 0)
        ++n;
    std::string out(static_cast<size_t>(n) * 2 + 1, '\0');
    const int used =
        platform::WideCharToMultiByte(text, n, &out[0], static_cast<int>(out.size()), nullptr);
    out.resize(static_cast<size_t>(used > 0 ? used : 0));
    return out;
}

bool ReadWhole(const std::string& path, std::string* out) {
    out->clear();
    platform::FileHandle f =
        platform::OpenFile(path.c_str(), platform::kAccessRead, platform::kOpenExisting);
    if (f == platform::kInvalidFile)
        return false;
    char block[8192];
    uint32_t done = 0;
    bool ok;
    while ((ok = platform::ReadFile(f, block, sizeof block, &done) != 0) && done > 0)
        out->append(block, done);
    platform::CloseFile(f);
    return ok;
}

// Writes bytes as the file at path: a new file beside it, then renamed over it, so the server
// reads the old or the new file whole. A secret file is made readable by its owner only.
bool WriteWhole(const std::string& path, const std::string& bytes, bool secret) {
    const std::string fresh = path + ".new";
    platform::FileHandle f =
        secret ? platform::CreatePrivateFile(fresh.c_str())
               : platform::OpenFile(fresh.c_str(), platform::kAccessWrite, platform::kCreateAlways);
    if (f == platform::kInvalidFile)
        return false;
    uint32_t done = 0;
    const bool written =
        platform::WriteFile(f, bytes.data(), static_cast<uint32_t>(bytes.size()), &done) != 0 &&
        done == bytes.size();
    platform::CloseFile(f);
    if (!written || !platform::ReplaceByRename(fresh.c_str(), path.c_str())) {
        platform::DeleteFilePath(fresh.c_str());
        return false;
    }
    return true;
}

// A running dialog: the mailbox directory, and the copies of its two files that the changes
// are made to.
struct Running {
    std::string directory;
    std::string staging;  // the copies' directory, ending with a separator
    std::unique_ptr<SetupStore> real;
    std::unique_ptr<SetupStore> staged;
    std::vector<Account> users;  // as the list shows them
    int result = 0;
};

// The running dialogs' states by window: the procedure is given only the window.
std::mutex g_lock;
std::map<platform::WindowHandle, Running*> g_running;

Running* Of(platform::WindowHandle dialog) {
    std::lock_guard<std::mutex> hold(g_lock);
    auto found = g_running.find(dialog);
    return found == g_running.end() ? nullptr : found->second;
}

std::string TextOf(platform::WindowHandle dialog, int id) {
    std::string text;
    platform::GetWindowTextA(platform::GetDlgItem(dialog, id), &text);
    return text;
}

void SetText(platform::WindowHandle dialog, int id, const std::string& text) {
    platform::SetWindowTextA(platform::GetDlgItem(dialog, id), text.c_str());
}

void Refuse(platform::WindowHandle dialog, const std::string& why) {
    platform::MessageBoxA(dialog, why.c_str(), kCaption, platform::kMbOk | platform::kMbIconError);
}

void ShowUsers(platform::WindowHandle dialog, Running& r) {
    int ignored = 0;
    std::string error;
    r.users.clear();
    if (!r.staged->ListUsers(&r.users, &ignored, &error))
        Refuse(dialog, error);
    std::vector<std::string> items;
    for (const Account& a : r.users)
        items.push_back(a.userName + "  (" + a.mailRoot + ")");
    platform::SetListItems(dialog, kUsers, items);
}

void Fill(platform::WindowHandle dialog, Running& r) {
    const SetupStore& s = *r.staged;
    SetText(dialog, kPort, std::to_string(s.PortNo()));
    platform::CheckDlgButton(dialog, kFolderTitles, s.FolderName() != 0);
    platform::CheckDlgButton(dialog, kExtended, s.Extended() != 0);
    SetText(dialog, kTlsCert, s.TlsCert());
    SetText(dialog, kTlsKey, s.TlsKey());
    SetText(dialog, kTlsPort, std::to_string(s.TlsPort()));
    platform::CheckDlgButton(dialog, kRequireTls, s.RequireTls() != 0);
    // The log is the real directory's: its keys are not changed here.
    const std::string log = r.real->LogFile();
    SetText(dialog, kLogFile, Sjis(u"ログ: ") + (log.empty() ? Sjis(u"(なし)") : log));
    ShowUsers(dialog, r);
}

// The password as typed twice; false (and the user told) when the two differ.
bool TypedPassword(platform::WindowHandle dialog, std::string* password) {
    *password = TextOf(dialog, kPassword);
    if (*password != TextOf(dialog, kPasswordAgain)) {
        Refuse(dialog, "the two passwords differ: type the same password twice");
        return false;
    }
    return true;
}

void ClearPasswords(platform::WindowHandle dialog) {
    SetText(dialog, kPassword, "");
    SetText(dialog, kPasswordAgain, "");
}

void AddUser(platform::WindowHandle dialog, Running& r) {
    std::string password, error;
    if (!TypedPassword(dialog, &password))
        return;
    const std::string mailRoot = TextOf(dialog, kMailRoot);
    const std::string name = TextOf(dialog, kUserName);
    if (!CheckAccountField("mail root", mailRoot, &error) ||
        !CheckAccountField("user name", name, &error) ||
        !r.staged->AddUser(mailRoot, name, password, &error)) {
        Refuse(dialog, error);
        return;
    }
    ClearPasswords(dialog);
    ShowUsers(dialog, r);
}

void ChangePassword(platform::WindowHandle dialog, Running& r) {
    std::string password, error;
    if (!TypedPassword(dialog, &password))
        return;
    if (!r.staged->ChangePassword(TextOf(dialog, kUserName), password, &error)) {
        Refuse(dialog, error);
        return;
    }
    ClearPasswords(dialog);
}

void RemoveUser(platform::WindowHandle dialog, Running& r) {
    std::string error;
    int removed = 0;
    const std::string name = TextOf(dialog, kUserName);
    if (!r.staged->RemoveUser(name, &removed, &error)) {
        Refuse(dialog, error);
        return;
    }
    SetText(dialog, kUserName, "");
    SetText(dialog, kMailRoot, "");
    ShowUsers(dialog, r);
}

// Whether another program listens on the port already.
bool PortTaken(unsigned port) {
    platform::SocketsStartup(0x0101);
    const platform::SocketHandle s = platform::TcpSocket();
    const bool taken =
        s == platform::kInvalidSocket || platform::BindAny(s, static_cast<uint16_t>(port)) != 0;
    if (s != platform::kInvalidSocket)
        platform::CloseSocket(s);
    platform::SocketsCleanup();
    return taken;
}

// Puts the settings of the controls into the copy, each checked as orimapst checks it; a new
// port must also be free (the server's own port is taken by the server itself). False, with
// the user told, on the first bad value.
bool TakeSettings(platform::WindowHandle dialog, Running& r) {
    SetupStore& s = *r.staged;
    std::string error;
    const std::string port = TextOf(dialog, kPort);
    const std::string tlsPort = TextOf(dialog, kTlsPort);
    const std::string folderTitles =
        platform::IsDlgButtonChecked(dialog, kFolderTitles) ? "1" : "0";
    const std::string extended = platform::IsDlgButtonChecked(dialog, kExtended) ? "1" : "0";
    const std::string requireTls = platform::IsDlgButtonChecked(dialog, kRequireTls) ? "1" : "0";
    // Only what differs is written, so an untouched file keeps its bytes.
    bool ok =
        (port == std::to_string(s.PortNo()) || s.SetPortNo(port, &error)) &&
        (folderTitles == std::to_string(s.FolderName()) || s.SetFolderName(folderTitles, &error)) &&
        (extended == std::to_string(s.Extended()) || s.SetExtended(extended, &error)) &&
        (TextOf(dialog, kTlsCert) == s.TlsCert() ||
         s.SetTlsFile("TlsCert", TextOf(dialog, kTlsCert), &error)) &&
        (TextOf(dialog, kTlsKey) == s.TlsKey() ||
         s.SetTlsFile("TlsKey", TextOf(dialog, kTlsKey), &error)) &&
        (tlsPort == std::to_string(s.TlsPort()) || s.SetTlsPort(tlsPort, &error)) &&
        (requireTls == std::to_string(s.RequireTls()) || s.SetRequireTls(requireTls, &error));
    if (ok && s.PortNo() != r.real->PortNo() && PortTaken(s.PortNo())) {
        error = "port " + std::to_string(s.PortNo()) + " is in use by another program";
        ok = false;
    }
    if (ok && s.TlsPort() != 0 && s.TlsPort() != r.real->TlsPort() && PortTaken(s.TlsPort())) {
        error = "TLS port " + std::to_string(s.TlsPort()) + " is in use by another program";
        ok = false;
    }
    if (ok && s.TlsPort() != 0 && s.TlsPort() == s.PortNo()) {
        error = "the TLS port must differ from the port number";
        ok = false;
    }
    if (!ok)
        Refuse(dialog, error);
    return ok;
}

// Puts the copies that differ from the mailbox directory's files in their place. 1 when one
// was, 0 when none differs, -1 on a failure.
int PutInPlace(const Running& r) {
    int result = 0;
    for (const char* name : {kSettingsFile, kAccountFile}) {
        std::string staged, real;
        if (!ReadWhole(r.staging + name, &staged))
            continue;  // never made: nothing changed
        const bool had = ReadWhole(r.directory + name, &real);
        if (had && real == staged)
            continue;
        if (!WriteWhole(r.directory + name, staged, name == kAccountFile))
            return -1;
        result = 1;
    }
    return result;
}

intptr_t Procedure(platform::WindowHandle dialog, uint32_t message, uintptr_t wparam,
                   intptr_t lparam) {
    if (message == platform::kWmInitDialog) {
        Running* r = reinterpret_cast<Running*>(lparam);
        {
            std::lock_guard<std::mutex> hold(g_lock);
            g_running[dialog] = r;
        }
        Fill(dialog, *r);
        return 1;
    }
    Running* r = Of(dialog);
    if (r == nullptr || message != platform::kWmCommand)
        return 0;
    const int id = static_cast<int>(wparam & 0xFFFF);
    const uint32_t notice = static_cast<uint32_t>((wparam >> 16) & 0xFFFF);
    if (id == kUsers) {
        const int chosen = platform::ListSelection(dialog, kUsers);
        if (notice == platform::kLbnSelChange && chosen >= 0 &&
            chosen < static_cast<int>(r->users.size())) {
            SetText(dialog, kUserName, r->users[static_cast<size_t>(chosen)].userName);
            SetText(dialog, kMailRoot, r->users[static_cast<size_t>(chosen)].mailRoot);
        }
        return 1;
    }
    if (notice != platform::kBnClicked)
        return 0;
    switch (id) {
        case kAdd:
            AddUser(dialog, *r);
            return 1;
        case kChangePassword:
            ChangePassword(dialog, *r);
            return 1;
        case kRemove:
            RemoveUser(dialog, *r);
            return 1;
        case platform::kIdOk:
            if (!TakeSettings(dialog, *r))
                return 1;
            r->result = PutInPlace(*r);
            if (r->result < 0)
                Refuse(dialog, "cannot write the settings or the users in " + r->directory);
            platform::EndDialog(dialog, platform::kIdOk);
            return 1;
        case platform::kIdCancel:
            platform::EndDialog(dialog, platform::kIdCancel);
            return 1;
        default:
            return 0;
    }
}

}  // namespace

int Run(platform::ModuleHandle module, const std::string& directory, platform::WindowHandle owner) {
    Running r;
    r.directory = directory;
    if (!r.directory.empty() && r.directory.back() != '/' && r.directory.back() != '\\')
        r.directory += '/';
    const std::string marker = platform::MakeTempFileName(platform::TempDirectory().c_str(), "ors");
    if (marker.empty())
        return -1;
    r.staging = marker + ".d/";
    if (!platform::CreatePrivateDirectory(r.staging.c_str())) {
        platform::DeleteFilePath(marker.c_str());
        return -1;
    }
    std::string bytes;
    bool copied = true;
    for (const char* name : {kSettingsFile, kAccountFile}) {
        if (ReadWhole(r.directory + name, &bytes))
            copied = copied && WriteWhole(r.staging + name, bytes, name == kAccountFile);
    }
    r.real.reset(new SetupStore(r.directory));
    r.staged.reset(new SetupStore(r.staging));
    intptr_t ended = -1;
    if (copied)
        ended = platform::DialogBoxParamA(module, kTemplate, owner, &Procedure,
                                          reinterpret_cast<intptr_t>(&r));
    {
        std::lock_guard<std::mutex> hold(g_lock);
        for (auto it = g_running.begin(); it != g_running.end();) {
            if (it->second == &r)
                it = g_running.erase(it);
            else
                ++it;
        }
    }
    for (const char* name : {kSettingsFile, kAccountFile})
        platform::DeleteFilePath((r.staging + name).c_str());
    platform::RemoveEmptyDirectory(r.staging.c_str());
    platform::DeleteFilePath(marker.c_str());
    if (ended < 0)
        return -1;
    return ended == platform::kIdOk ? r.result : 0;
}

platform::DialogTemplate Template() {
    platform::DialogTemplate t;
    t.title = Sjis(u"IMAP4サーバーの設定 - OrImapSt");
    t.font = Sjis(u"ＭＳ Ｐゴシック");
    t.pointSize = 9;
    t.width = 280;
    t.height = 230;
    t.controls = {
        {"STATIC", -1, Sjis(u"ポート番号(&P):"), 7, 9, 62, 8},
        {"EDIT", kPort, "", 72, 7, 40, 12},
        {"CHECKBOX", kFolderTitles, Sjis(u"メールボックス名をフォルダのタイトルから作る(&T)"), 7,
         23, 260, 10},
        {"CHECKBOX", kExtended, Sjis(u"拡張モード: 今日のクライアントが使うコマンド(&E)"), 7, 36,
         260, 10},
        {"STATIC", -1, Sjis(u"TLS証明書(&C):"), 7, 52, 62, 8},
        {"EDIT", kTlsCert, "", 72, 50, 201, 12},
        {"STATIC", -1, Sjis(u"秘密鍵(&K):"), 7, 66, 62, 8},
        {"EDIT", kTlsKey, "", 72, 64, 201, 12},
        {"STATIC", -1, Sjis(u"TLSポート(&L):"), 7, 80, 62, 8},
        {"EDIT", kTlsPort, "", 72, 78, 40, 12},
        {"CHECKBOX", kRequireTls, Sjis(u"LOGINはTLSの上でのみ(&R)"), 120, 79, 153, 10},
        {"STATIC", -1, Sjis(u"ユーザー"), 7, 96, 266, 8},
        {"LISTBOX", kUsers, "", 7, 107, 118, 88},
        {"STATIC", -1, Sjis(u"メールルート(&M):"), 132, 109, 52, 8},
        {"EDIT", kMailRoot, "", 188, 107, 85, 12},
        {"STATIC", -1, Sjis(u"ユーザー名(&U):"), 132, 124, 52, 8},
        {"EDIT", kUserName, "", 188, 122, 85, 12},
        {"STATIC", -1, Sjis(u"パスワード(&W):"), 132, 139, 52, 8},
        {"EDIT", kPassword, "", 188, 137, 85, 12},
        {"STATIC", -1, Sjis(u"もう一度(&G):"), 132, 154, 52, 8},
        {"EDIT", kPasswordAgain, "", 188, 152, 85, 12},
        {"BUTTON", kAdd, Sjis(u"追加(&A)"), 132, 174, 34, 14},
        {"BUTTON", kChangePassword, Sjis(u"パスワード変更(&H)"), 169, 174, 68, 14},
        {"BUTTON", kRemove, Sjis(u"削除(&D)"), 240, 174, 33, 14},
        {"STATIC", kLogFile, "", 7, 197, 266, 8},
        {"BUTTON", platform::kIdOk, "OK", 163, 209, 50, 14},
        {"BUTTON", platform::kIdCancel, Sjis(u"キャンセル"), 223, 209, 50, 14},
    };
    return t;
}

}  // namespace setup_dialog
