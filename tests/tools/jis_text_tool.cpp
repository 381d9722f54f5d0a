// Runs the ISO-2022-JP conversions on texts read from stdin, for a test to compare with a
// reference encoder. "c HEX": ConvertToJis of the bytes; "h HEX": EncodeHeaderWords of them;
// "k HEX4": SjisToJisCode of the 16-bit code. Prints the result in hex, one line per line in.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mime/jis_text.h"

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

}  // namespace

int main() {
    static char line[1 << 16];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        line[std::strcspn(line, "\r\n")] = 0;
        if (line[0] == 'k' && line[1] == ' ') {
            std::printf("%04X",
                        SjisToJisCode(static_cast<uint16_t>(std::strtoul(line + 2, nullptr, 16))));
        } else if ((line[0] == 'c' || line[0] == 'h') && line[1] == ' ') {
            JisText text(FromHex(line + 2).c_str());
            if (line[0] == 'c')
                text.ConvertToJis();
            else
                text.EncodeHeaderWords();
            PrintHex(text);
        }
        std::printf("\n");
    }
    return 0;
}
