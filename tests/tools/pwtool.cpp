// Drives Des and the stored-password functions for a test that compares them with a reference
// cipher. Reads one command a line from stdin and writes one answer a line; byte strings are
// hex, "-" standing for none:
//   ecb KEY DATA                  DES encryption of each 8-byte block of DATA
//   store USER PASSWORD           the stored form (base64 text, "-" when empty)
//   verify USER STORED PASSWORD   "1" or "0"
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "store/des.h"
#include "store/password.h"

namespace {

std::vector<unsigned char> FromHex(const std::string& hex) {
    std::vector<unsigned char> out;
    for (size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Text TextOf(const std::string& hex) {
    Text t("");
    for (unsigned char c : FromHex(hex))
        t.Append(static_cast<char>(c));
    return t;
}

std::string Run(const std::string& line) {
    std::istringstream in(line);
    std::string op, a, b, c;
    in >> op >> a >> b >> c;
    if (op == "ecb") {
        std::vector<unsigned char> key = FromHex(a), data = FromHex(b);
        if (key.size() != 8 || data.size() % 8 != 0)
            return "error";
        Des des(key.data());
        std::string out;
        char two[3];
        for (size_t i = 0; i < data.size(); i += 8)
            des.EncryptBlock(&data[i], &data[i]);
        for (unsigned char byte : data) {
            std::snprintf(two, sizeof two, "%02x", byte);
            out += two;
        }
        return out;
    }
    if (op == "store") {
        Text stored = EncryptStoredPassword(TextOf(a), TextOf(b));
        return stored.IsEmpty() ? "-" : stored.c_str();
    }
    if (op == "verify") {
        UserRecord user;
        user.userName = TextOf(a);
        user.storedPassword = b == "-" ? "" : b.c_str();
        return VerifyPassword(user, TextOf(c)) ? "1" : "0";
    }
    return "error";
}

}  // namespace

int main() {
    char line[8192];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        std::printf("%s\n", Run(line).c_str());
        std::fflush(stdout);
    }
    return 0;
}
