// Code page 932 <-> UTF-16 over the Win32 conversions in the system code page, which is 932 on
// the Japanese systems the plug-in serves; the OS's own tables then decide every mapping.
#include <windows.h>

#include "platform/codepage.h"

namespace platform {

// wchar_t is the 16-bit UTF-16 unit on Windows, so the buffers are shared as they are.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units are wchar_t on Windows");

int MultiByteToWideChar(const char* src, int srcLen, char16_t* dst, int dstLen) {
    if (src == nullptr || srcLen == 0 || srcLen < -1 || dstLen < 0 ||
        (dstLen > 0 && dst == nullptr)) {
        return 0;
    }
    return ::MultiByteToWideChar(CP_ACP, 0, src, srcLen, reinterpret_cast<wchar_t*>(dst), dstLen);
}

int WideCharToMultiByte(const char16_t* src, int srcLen, char* dst, int dstLen) {
    if (src == nullptr || srcLen == 0 || srcLen < -1 || dstLen < 0 ||
        (dstLen > 0 && dst == nullptr)) {
        return 0;
    }
    return ::WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(src), srcLen, dst,
                                 dstLen, nullptr, nullptr);
}

}  // namespace platform
