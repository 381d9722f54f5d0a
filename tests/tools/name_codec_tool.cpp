// Runs the mailbox name codec on names read from stdin, for a test to compare with a reference.
// For each line "e HEX" it prints the modified UTF-7 form of the bytes, a blank and, in hex,
// what that form decodes back to; for each line "d NAME" what the name decodes to. A name that
// decodes to no local name (a character without a code) prints "none". One line out per line
// in.
#include <cstdio>
#include <cstring>
#include <string>

#include "store/name_codec.h"

namespace {

std::string FromHex(const char* hex) {
    std::string bytes;
    unsigned value = 0;
    while (std::sscanf(hex, "%2x", &value) == 1) {
        bytes.push_back(static_cast<char>(value));
        hex += 2;
    }
    return bytes;
}

void PrintHex(const Text& t) {
    for (int i = 0; i < t.Length(); ++i)
        std::printf("%02X", static_cast<unsigned char>(t[i]));
}

void PrintDecoded(const Text& wire) {
    Text decoded;
    if (DecodeName(wire, &decoded))
        PrintHex(decoded);
    else
        std::printf("none");
}

}  // namespace

int main() {
    char line[4096];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        line[std::strcspn(line, "\r\n")] = 0;
        if (line[0] == 'e' && line[1] == ' ') {
            const Text wire = EncodeName(Text(FromHex(line + 2).c_str()));
            std::printf("%s ", wire.c_str());
            PrintDecoded(wire);
        } else if (line[0] == 'd' && line[1] == ' ') {
            PrintDecoded(Text(line + 2));
        }
        std::printf("\n");
    }
    return 0;
}
