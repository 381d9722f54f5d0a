// ASCII letter case, as protocol words, flag names, charset names and header field names
// compare: only A-Z and a-z change; every other byte, a Shift_JIS trail byte among them, stays.
#ifndef ORV_BASE_ASCII_H_
#define ORV_BASE_ASCII_H_

#include <cstddef>
#include <cstring>
#include <string>

inline char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether the n bytes at a and the m bytes at b are the same but for ASCII letter case.
inline bool SameAsciiNoCase(const char* a, size_t n, const char* b, size_t m) {
    if (n != m)
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
            return false;
    }
    return true;
}

// The same of a string and a NUL-terminated text (a NUL in a makes them differ).
inline bool SameAsciiNoCase(const std::string& a, const char* b) {
    return SameAsciiNoCase(a.data(), a.size(), b, std::strlen(b));
}

// Whether the byte may stand in an atom of the protocol (a flag name, a folder name sent
// unquoted): printable ASCII but for the specials ( ) { % * " \ ].
inline bool IsAtomChar(unsigned char c) {
    return c > 0x20 && c < 0x7F && std::strchr("(){%*\"\\]", c) == nullptr;
}

#endif  // ORV_BASE_ASCII_H_
