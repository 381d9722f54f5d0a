// The host's function table, bound by the decorated names, and the HostPort over it.
#include "shell/host_binding.h"

const char* const kHostFunctionNames[kHostFunctionCount] = {
    "_OPARegistCallback@8",
    "_OPASetTimer@12",
    "_OPAKillTimer@4",
    "_OPAIsBusy@0",
    "_OPAExecOrvex@4",
    "_OPAGetMailbox@0",
    "_OPAGetAccount@4",
    "_OPAGetFolderName@4",
    "_OPAImportFile@12",
    "_OPASaveMail@16",
    "_OPAMoveMail@8",
    "_OPAMarkMail@12",
    "_OPADeleteMail@4",
    "_OPAFolderGetCurrentFolder@4",
    "_OPAFolderGetCurrentEntry@4",
    "_OPAFolderGetSelectEntry@8",
    "_OPAFolderChangePassword@8",
    "_OPAFolderMailTo@8",
    "_OPAFolderReply@8",
    "_OPAFolderForward@8",
    "_OPAFolderOpenMail@12",
    "_OPASendGetText@8",
    "_OPASendGetHeader@4",
    "_OPASendSetText@8",
    "_OPASendSetHeader@8",
    "_OPASendGetEditor@4",
    "_OPAViewGetText@4",
    "_OPAViewGetHeader@4",
    "_OPAViewSetText@8",
    "_OPAViewGetPath@4",
    "_OPAViewGetEditor@4",
    "_OPAViewChangeMail@8",
    "_OPASjisToJis@12",
    "_OPAJisToSjis@12",
};

namespace {
constexpr int kGetMailbox = 5;
constexpr int kImportFile = 8;
constexpr int kMarkMail = 11;
constexpr int kDeleteMail = 12;

using GetMailboxFn = const char*(ORV_HOSTCALL*)();
using ImportFileFn = int(ORV_HOSTCALL*)(const char*, const char*, uint32_t);
using MarkMailFn = int(ORV_HOSTCALL*)(const char*, uint32_t, int);
using DeleteMailFn = int(ORV_HOSTCALL*)(const char*);
}  // namespace

HostApi& Host() {
    static HostApi table;
    return table;
}

bool BindHostApi() {
    HostApi& host = Host();
    if (host.module != nullptr)
        return true;
    platform::ModuleHandle main = platform::MainModule();
    if (main == nullptr)
        return false;
    host.module = main;
    for (int i = 0; i < kHostFunctionCount; ++i) {
        host.functions[i] = platform::FindSymbol(main, kHostFunctionNames[i]);
        if (host.functions[i] == nullptr) {
            host = HostApi();
            return false;
        }
    }
    return true;
}

void UnbindHostApi() {
    Host().module = nullptr;
}

void BindHostApiFrom(platform::ModuleHandle module, void* const* functions) {
    HostApi& host = Host();
    host.module = module;
    for (int i = 0; i < kHostFunctionCount; ++i)
        host.functions[i] = functions[i];
}

const char* HostBinding::MailboxDirectory() {
    void* f = Host().functions[kGetMailbox];
    if (f == nullptr)
        return "";
    const char* root = reinterpret_cast<GetMailboxFn>(f)();
    return root != nullptr ? root : "";
}

void HostBinding::ImportFile(const char* file, const char* folder, uint32_t status) {
    void* f = Host().functions[kImportFile];
    if (f != nullptr)
        reinterpret_cast<ImportFileFn>(f)(file, folder, status);
}

void HostBinding::MarkMail(const char* key, uint32_t mask, int value) {
    void* f = Host().functions[kMarkMail];
    if (f != nullptr)
        reinterpret_cast<MarkMailFn>(f)(key, mask, value);
}

void HostBinding::DeleteMail(const char* key) {
    void* f = Host().functions[kDeleteMail];
    if (f != nullptr)
        reinterpret_cast<DeleteMailFn>(f)(key);
}

HostBinding& BoundHost() {
    // Never destroyed: connection threads may still call through it while the process ends.
    static HostBinding* const binding = new HostBinding;
    return *binding;
}
