// Modules over the Win32 loader: the main program, libraries loaded by their own names, and
// exports looked up by the names they are exported under, decorated ones included.
#include <windows.h>
// windows.h defines FreeModule as a macro for FreeLibrary; the name is this layer's own.
#undef FreeModule

#include <string>

#include "platform/modules.h"
#include "platform/process.h"

namespace platform {

namespace {

// Why the last LoadModule on this thread failed: the loader's error code, kept at once
// because any later OS call may overwrite the thread's last error.
thread_local DWORD t_loadError = 0;

// Whether a library name is an absolute path: a drive ("C:\...") or a UNC or root path.
bool IsAbsolute(const char* name) {
    if (name[0] == '\\' || name[0] == '/')
        return true;
    return ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')) &&
           name[1] == ':';
}

HMODULE Load(const std::string& file) {
    HMODULE h = LoadLibraryA(file.c_str());
    if (h == nullptr)
        t_loadError = GetLastError();
    return h;
}

}  // namespace

// Windows exports a decorated name ("_OPAGetMailbox@0") as it is.
std::string ExportedSymbolName(const char* name) {
    return name != nullptr ? std::string(name) : std::string();
}

// Windows loads a ".dll" by its own name.
std::string LibraryFileName(const char* name) {
    return name != nullptr ? std::string(name) : std::string();
}

ModuleHandle MainModule() {
    return GetModuleHandleA(nullptr);
}

ModuleHandle ModuleOf(const void* address) {
    HMODULE module = nullptr;
    if (address == nullptr || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                      GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                                  static_cast<LPCSTR>(address), &module))
        return nullptr;
    return module;
}

ModuleHandle LoadModule(const char* name) {
    if (name == nullptr || *name == 0)
        return nullptr;
    t_loadError = 0;
    const std::string file = LibraryFileName(name);
    if (!IsAbsolute(name)) {
        const std::string dir = MainProgramDirectory();
        if (!dir.empty()) {
            if (HMODULE h = Load(dir + file))
                return h;
        }
    }
    return Load(file);
}

void* FindSymbol(ModuleHandle module, const char* name) {
    if (module == nullptr || name == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

int FreeModule(ModuleHandle module) {
    if (module == nullptr)
        return 0;
    return FreeLibrary(static_cast<HMODULE>(module)) ? 1 : 0;
}

// The directory of the main program, ending with "\".
std::string MainProgramDirectory() {
    char buf[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof(buf));
    if (n == 0 || n >= sizeof(buf))
        return std::string();
    std::string path(buf, n);
    const size_t sep = path.find_last_of("\\/");
    if (sep == std::string::npos)
        return std::string();
    return path.substr(0, sep + 1);
}

std::string LastModuleLoadError() {
    if (t_loadError == 0)
        return std::string();
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, t_loadError, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out =
        n > 0 && text != nullptr ? std::string(text, n) : "error " + std::to_string(t_loadError);
    if (text != nullptr)
        LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
        out.pop_back();
    return out;
}

}  // namespace platform
