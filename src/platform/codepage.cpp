// The byte classes, upper-casing and compares of code page 932. Pure code, the same on every
// OS; the conversions to and from UTF-16 live in the OS backends.
#include "platform/codepage.h"

namespace platform {

bool IsLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool IsTrailByte(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

char* CharUpperA(char* s) {
    if (s == nullptr)
        return s;
    for (unsigned char* p = reinterpret_cast<unsigned char*>(s); *p != 0; ++p) {
        if (IsLeadByte(*p) && p[1] != 0) {
            ++p;  // skip the trail byte: it is part of the character, never a letter
        } else if (*p >= 'a' && *p <= 'z') {
            *p = static_cast<unsigned char>(*p - 0x20);
        }
    }
    return s;
}

namespace {

int CompareBytes(const char* a, const char* b, bool fold) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a ? a : "");
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b ? b : "");
    bool trailP = false;
    bool trailQ = false;
    for (;; ++p, ++q) {
        unsigned int x = *p;
        unsigned int y = *q;
        if (fold) {
            if (!trailP && x >= 'A' && x <= 'Z')
                x += 0x20;
            if (!trailQ && y >= 'A' && y <= 'Z')
                y += 0x20;
            trailP = !trailP && IsLeadByte(*p);
            trailQ = !trailQ && IsLeadByte(*q);
        }
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            return 0;
    }
}

}  // namespace

int lstrcmpA(const char* a, const char* b) {
    return CompareBytes(a, b, false);
}

int lstrcmpiA(const char* a, const char* b) {
    return CompareBytes(a, b, true);
}

}  // namespace platform
