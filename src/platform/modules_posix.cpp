// Modules over the POSIX dynamic loader: the main program, libraries loaded by their
// target-platform names, and symbols looked up by their decorated names.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstddef>

#include "platform/files.h"
#include "platform/modules.h"

namespace platform {

// The symbol naming rule of this platform, shared by every exporter and by FindSymbol: each
// "@" of a decorated name ("_OPAGetMailbox@0") is written "_at_" ("_OPAGetMailbox_at_0").
// glibc's dlsym reads whatever follows an "@" as a symbol version, so a name that keeps its
// "@" could never be found; a library exporting a decorated name must define it in this form.
std::string ExportedSymbolName(const char* name) {
    std::string out;
    if (name == nullptr)
        return out;
    for (const char* p = name; *p != 0; ++p) {
        if (*p == '@') {
            out += "_at_";
        } else {
            out += *p;
        }
    }
    return out;
}

std::string LibraryFileName(const char* name) {
    std::string out = MapPath(name);
    static const char kDll[] = ".dll";
    const size_t n = sizeof(kDll) - 1;
    if (out.size() >= n) {
        bool isDll = true;
        for (size_t i = 0; i < n; ++i) {
            char c = out[out.size() - n + i];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c + ('a' - 'A'));
            if (c != kDll[i])
                isDll = false;
        }
        if (isDll)
            out.replace(out.size() - n, n, ".so");
    }
    return out;
}

ModuleHandle MainModule() {
    return dlopen(nullptr, RTLD_NOW);
}

ModuleHandle ModuleOf(const void* address) {
    Dl_info info;
    if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr)
        return nullptr;
    // Looked up, not loaded: the count of loads stays as it was.
    void* module = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (module != nullptr)
        dlclose(module);
    return module;
}

ModuleHandle LoadModule(const char* name) {
    if (name == nullptr || *name == 0)
        return nullptr;
    const std::string file = LibraryFileName(name);
    if (file[0] != '/') {
        const std::string dir = MainProgramDirectory();
        if (!dir.empty()) {
            if (void* h = dlopen((dir + file).c_str(), RTLD_NOW))
                return h;
        }
    }
    return dlopen(file.c_str(), RTLD_NOW);
}

void* FindSymbol(ModuleHandle module, const char* name) {
    // A null handle would mean "search everywhere" to dlsym; here it finds nothing.
    if (module == nullptr || name == nullptr)
        return nullptr;
    return dlsym(module, ExportedSymbolName(name).c_str());
}

int FreeModule(ModuleHandle module) {
    if (module == nullptr)
        return 0;
    return dlclose(module) == 0 ? 1 : 0;
}

std::string MainProgramDirectory() {
    char buf[PATH_MAX];
    const ssize_t len = readlink("/proc/self/exe", buf, sizeof(buf));
    if (len <= 0 || static_cast<size_t>(len) >= sizeof(buf))
        return std::string();
    std::string path(buf, static_cast<size_t>(len));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return path.substr(0, slash + 1);
}

}  // namespace platform
