// The plug-in's face to the host: the twenty OPC entry points the host calls by their plain
// names, and PluginMain, the load notification that builds the process-wide objects, binds the
// host's functions and registers the version dialog's resources (or refuses the load).
#include <cstdint>
#include <cstdio>

#include "platform/modules.h"
#include "platform/sockets.h"
#include "platform/ui.h"
#include "shell/host_binding.h"
#include "shell/imap_server.h"
#include "store/user_table.h"

// The host finds the entry points by their plain names, so they are C names and stay visible
// while everything else in the library is kept to itself. The host calls them with its own
// (callee-pops) convention.
#define ORV_EXPORT extern "C" __attribute__((visibility("default"))) ORV_HOSTCALL

namespace {

const char kPlugName[] = "OrvImapS Ver0.1";

// Load notification reasons, as the platform loader passes them.
constexpr uint32_t kProcessDetach = 0;
constexpr uint32_t kProcessAttach = 1;

// Resources of this library: the version dialog and its two strings.
constexpr int kVersionDialog = 100;
constexpr int kVersionString = 105;
constexpr int kNoticeString = 106;
constexpr int kVersionControl = 1000;
constexpr int kNoticeControl = 1002;
constexpr int kStringBufferSize = 128;

// The socket library's start and stop, tied to the lifetime of one object (the first of the
// process-wide objects, so it is stopped last).
class SocketsSession {
  public:
    SocketsSession() { platform::SocketsStartup(0x0101); }
    ~SocketsSession() { platform::SocketsCleanup(); }
    SocketsSession(const SocketsSession&) = delete;
    SocketsSession& operator=(const SocketsSession&) = delete;
};

// The process-wide objects, built at attach in this order and destroyed in reverse order.
SocketsSession* g_sockets = nullptr;
UserTable* g_users = nullptr;
ImapServer* g_server = nullptr;
// This library's own module handle, where its resources are registered.
platform::ModuleHandle g_module = nullptr;

void CreateObjects() {
    g_sockets = new SocketsSession;
    g_users = new UserTable(true);
    g_server = new ImapServer(g_users, BoundHost());
}

void DestroyObjects() {
    delete g_server;
    g_server = nullptr;
    delete g_users;
    g_users = nullptr;
    delete g_sockets;
    g_sockets = nullptr;
}

void RegisterResources(platform::ModuleHandle module) {
    platform::DialogTemplate dialog;
    // "ﾊﾞｰｼﾞｮﾝ情報(OrvImapS)"
    dialog.title = "\xCA\xDE\xB0\xBC\xDE\xAE\xDD\x8F\xEE\x95\xF1(OrvImapS)";
    // "ＭＳ Ｐゴシック"
    dialog.font =
        "\x82l\x82r \x82o\x83S\x83V\x83"
        "b\x83N";
    dialog.pointSize = 9;
    dialog.width = 187;
    dialog.height = 95;
    dialog.controls = {
        {"ICON", -1, "1", 7, 7, 20, 20},
        {"STATIC", kVersionControl, "", 39, 10, 106, 8},
        {"STATIC", kNoticeControl, "", 7, 29, 173, 8},
        {"BUTTON", platform::kIdOk, "OK", 148, 7, 32, 14},
    };
    platform::RegisterDialogResource(module, kVersionDialog, dialog);
    platform::RegisterStringResource(module, kVersionString, "OrvImapS.dll  Version 0.1");
    platform::RegisterStringResource(module, kNoticeString,
                                     "Copyright (C) The OrvImapS authors. All rights reserved.");
}

// Shows the box that tells the user the host lacks a function this plug-in needs.
void ShowLoadError() {
    char text[256];
    // "プラグイン「%s」でエラーが発生しました。\r\nOrvex32とプラグインのバージョンを確認してください"
    std::snprintf(text, sizeof(text),
                  "\x83v\x83\x89\x83O\x83"
                  "C\x83\x93\x81u%s\x81v\x82\xC5\x83G\x83\x89\x81[\x82"
                  "\xAA\x94\xAD\x90\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81"
                  "B\r\nOrvex32\x82"
                  "\xC6\x83v\x83\x89\x83O\x83"
                  "C\x83\x93\x82\xCC\x83o\x81[\x83W\x83\x87\x83\x93"
                  "\x82\xF0\x8Am\x94"
                  "F\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2",
                  kPlugName);
    // "プラグインエラー"
    platform::MessageBoxA(nullptr, text,
                          "\x83v\x83\x89\x83O\x83"
                          "C\x83\x93\x83G\x83\x89\x81[",
                          platform::kMbIconError);
}

int Attach(platform::ModuleHandle module) {
    // A second attach of a library that is already set up changes nothing.
    if (g_server != nullptr)
        return 1;
    CreateObjects();
    g_module = module;
    if (!BindHostApi()) {
        ShowLoadError();
        DestroyObjects();
        g_module = nullptr;
        return 0;
    }
    RegisterResources(module);
    return 1;
}

void Detach() {
    UnbindHostApi();
    DestroyObjects();
    if (g_module != nullptr)
        platform::UnregisterResources(g_module);
    g_module = nullptr;
}

intptr_t VersionDialogProc(platform::WindowHandle dialog, uint32_t message, uintptr_t wparam,
                           intptr_t /*lparam*/) {
    if (message == platform::kWmInitDialog) {
        char buf[kStringBufferSize];
        platform::LoadStringA(g_module, kVersionString, buf, sizeof(buf));
        platform::SetWindowTextA(platform::GetDlgItem(dialog, kVersionControl), buf);
        platform::LoadStringA(g_module, kNoticeString, buf, sizeof(buf));
        platform::SetWindowTextA(platform::GetDlgItem(dialog, kNoticeControl), buf);
        return 1;
    }
    if (message == platform::kWmCommand) {
        const uintptr_t id = wparam & 0xFFFF;
        if (id == static_cast<uintptr_t>(platform::kIdOk) ||
            id == static_cast<uintptr_t>(platform::kIdCancel)) {
            platform::EndDialog(dialog, 1);
            return 1;
        }
    }
    return 0;
}

using SetUpFn = int (*)(const char* mailboxRoot);

}  // namespace

// The load notification: 1 = the library is being loaded into the process, 0 = unloaded;
// thread notifications (2, 3) need nothing. Returns 0 to refuse the load.
ORV_EXPORT int PluginMain(void* module, uint32_t reason) {
    if (reason == kProcessAttach)
        return Attach(module);
    if (reason == kProcessDetach)
        Detach();
    return 1;
}

ORV_EXPORT const char* OPCGetPlugName() {
    return kPlugName;
}

ORV_EXPORT int OPCVersionInfo(platform::WindowHandle owner) {
    return static_cast<int>(
        platform::DialogBoxParamA(g_module, kVersionDialog, owner, &VersionDialogProc, 0));
}

ORV_EXPORT int OPCStartUp(uint32_t /*unused*/) {
    return g_server != nullptr ? g_server->StartFromSettings() : 0;
}

ORV_EXPORT int OPCCleanUp() {
    return g_server != nullptr ? g_server->Stop() : 0;
}

// Hands the settings over to the separate setup module, looked for in the host's plug-in
// folder, its setup folder and then on the library search path.
ORV_EXPORT int OPCSetup(platform::WindowHandle owner) {
    static const char* const kSetupModules[] = {"Plugins\\OrImapSt.dll", "Setup\\OrImapSt.dll",
                                                "OrImapSt.dll"};
    platform::ModuleHandle setup = nullptr;
    for (const char* name : kSetupModules) {
        setup = platform::LoadModule(name);
        if (setup != nullptr)
            break;
    }
    if (setup == nullptr)
        return 0;
    SetUpFn setUp = reinterpret_cast<SetUpFn>(platform::FindSymbol(setup, "SetUpImap4"));
    if (setUp != nullptr && setUp(BoundHost().MailboxDirectory()) == 1) {
        // The server reads its port and users only at start-up.
        // "サーバーの設定を変更した場合は Orvexを再起動してください"
        platform::MessageBoxA(owner,
                              "\x83T\x81[\x83o\x81[\x82\xCC\x90\xDD\x92\xE8\x82\xF0\x95\xCF\x8DX"
                              "\x82\xB5\x82\xBD\x8F\xEA\x8D\x87\x82\xCD Orvex\x82\xF0\x8D\xC4\x8B"
                              "N\x93\xAE\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2",
                              "OrImap4S", platform::kMbOk);
    }
    return platform::FreeModule(setup);
}

// Events this plug-in answers with fixed results.
ORV_EXPORT int OPCRecFilter(uint32_t /*unused*/) {
    return 0;
}
ORV_EXPORT int OPCFolderPreOpenView(uint32_t /*unused*/, uint32_t /*unused*/) {
    return 1;
}
ORV_EXPORT int OPCSendPost(uint32_t /*unused*/, uint32_t /*unused*/) {
    return 1;
}
ORV_EXPORT void OPCFolderLoad(uint32_t /*unused*/, uint32_t /*unused*/) {}
ORV_EXPORT void OPCFolderClose(uint32_t /*unused*/) {}
ORV_EXPORT void OPCFolderCreate(uint32_t /*unused*/) {}
ORV_EXPORT void OPCFolderEndRetrieve(uint32_t /*unused*/) {}
ORV_EXPORT void OPCSendClose(uint32_t /*unused*/) {}
ORV_EXPORT void OPCSendCreate(uint32_t /*unused*/) {}
ORV_EXPORT void OPCViewClose(uint32_t /*unused*/) {}
ORV_EXPORT void OPCViewCreate(uint32_t /*unused*/) {}
ORV_EXPORT void OPCFolderInitMenu(uint32_t /*unused*/, uint32_t /*unused*/, uint32_t /*unused*/) {}
ORV_EXPORT void OPCSendInitMenu(uint32_t /*unused*/, uint32_t /*unused*/, uint32_t /*unused*/) {}
ORV_EXPORT void OPCViewInitMenu(uint32_t /*unused*/, uint32_t /*unused*/, uint32_t /*unused*/) {}
ORV_EXPORT void OPCViewLoadMail(uint32_t /*unused*/, uint32_t /*unused*/, uint32_t /*unused*/) {}
