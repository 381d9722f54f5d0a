// Profile files over the Win32 private-profile functions, which keep the format, the case
// rules, the trimming and the serialised writes themselves.
#include <windows.h>
// windows.h defines WriteProfileString as a macro; the name is this layer's own.
#undef WriteProfileString

#include "platform/profile.h"

namespace platform {

uint32_t ProfileInt(const char* section, const char* key, int def, const char* path) {
    return GetPrivateProfileIntA(section, key, def, path);
}

uint32_t ProfileString(const char* section, const char* key, const char* def, char* out,
                       uint32_t size, const char* path) {
    if (out == nullptr || size == 0)
        return 0;
    return GetPrivateProfileStringA(section, key, def != nullptr ? def : "", out, size, path);
}

int WriteProfileString(const char* section, const char* key, const char* value, const char* path) {
    if (section == nullptr)
        return 0;
    return WritePrivateProfileStringA(section, key, value, path) ? 1 : 0;
}

}  // namespace platform
