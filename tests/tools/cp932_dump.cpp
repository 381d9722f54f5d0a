// Dumps both directions of the code page 932 conversion for a test to compare with a reference:
// first one line per single byte and per lead/trail pair, "d CODE UNIT...", with what
// MultiByteToWideChar gives for that code alone; then, for each code point read from stdin (hex,
// one a line), "e CODEPOINT BYTES" with what WideCharToMultiByte gives (BYTES in hex).
#include <cstdio>
#include <cstdlib>

#include "platform/codepage.h"

namespace {

void DumpCode(const char* bytes, int len, unsigned code) {
    char16_t wide[8];
    int n = platform::MultiByteToWideChar(bytes, len, wide, 8);
    std::printf(len == 1 ? "d %02X" : "d %04X", code);
    for (int i = 0; i < n; ++i)
        std::printf(" %04X", static_cast<unsigned>(wide[i]));
    std::printf("\n");
}

void DumpCodePoint(unsigned long cp) {
    char16_t wide[2];
    int units = 1;
    if (cp >= 0x10000) {
        wide[0] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        wide[1] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        units = 2;
    } else {
        wide[0] = static_cast<char16_t>(cp);
    }
    char out[8];
    int n = platform::WideCharToMultiByte(wide, units, out, sizeof out);
    std::printf("e %04lX ", cp);
    for (int i = 0; i < n; ++i)
        std::printf("%02X", static_cast<unsigned char>(out[i]));
    std::printf("\n");
}

}  // namespace

int main() {
    for (unsigned b = 0; b < 0x100; ++b) {
        char one = static_cast<char>(b);
        DumpCode(&one, 1, b);
    }
    for (unsigned lead = 0; lead < 0x100; ++lead) {
        if (!platform::IsLeadByte(static_cast<unsigned char>(lead)))
            continue;
        for (unsigned trail = 0; trail < 0x100; ++trail) {
            if (!platform::IsTrailByte(static_cast<unsigned char>(trail)))
                continue;
            char two[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            DumpCode(two, 2, lead << 8 | trail);
        }
    }
    char line[64];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        char* end = nullptr;
        unsigned long cp = std::strtoul(line, &end, 16);
        if (end == line || cp > 0x10FFFF)
            continue;
        DumpCodePoint(cp);
    }
    return 0;
}
