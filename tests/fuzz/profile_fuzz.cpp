// A profile file ("Imap4.ini", "Entry.ini") of any bytes, read with the keys the server reads
// and with a section and key taken from the input, into buffers of several sizes; then edited,
// and a value written must read back as written.
//
// Input: a section name, a NUL, a key name, a NUL, then the file (missing parts are empty).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "platform/profile.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

void ReadString(const char* section, const char* key, const char* path) {
    for (uint32_t size : {1u, 2u, 9u, 32u, 1024u}) {
        char out[1024];
        std::memset(out, 'x', sizeof out);
        const uint32_t n = platform::ProfileString(section, key, "default", out, size, path);
        Require(n < size && out[n] == 0);
    }
    (void)platform::ProfileInt(section, key, -3, path);
}

// The next NUL-terminated part of the input; the rest when there is no NUL.
std::string TakePart(const std::string& input, size_t* pos) {
    if (*pos >= input.size())
        return std::string();
    size_t end = input.find('\0', *pos);
    if (end == std::string::npos)
        end = input.size();
    std::string part = input.substr(*pos, end - *pos);
    *pos = end + 1;
    return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20)
        return 0;
    static const std::string path = fuzz::MailboxDirectory() + "Imap4.ini";
    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t pos = 0;
    const std::string section = TakePart(input, &pos);
    const std::string key = TakePart(input, &pos);
    const std::string file = pos < input.size() ? input.substr(pos) : std::string();
    if (!fuzz::WriteBytes(path, file))
        std::abort();

    const char* p = path.c_str();
    static const char* const kKeys[][2] = {
        {"Server", "PortNo"},  {"Server", "FolderName"}, {"Server", "Extended"},
        {"IMAP4", "UID"},      {"IMAP4", "Subscribe"},   {"Property", "Title"},
        {"Property", "Total"}, {"Property", "Type"},     {"", ""},
    };
    for (const auto& k : kKeys)
        ReadString(k[0], k[1], p);
    ReadString(section.c_str(), key.c_str(), p);

    // Edits keep the file readable, and a plain value reads back as written.
    Require(platform::WriteProfileString("IMAP4", "UID", "12345", p) == 1);
    Require(platform::ProfileInt("IMAP4", "UID", 0, p) == 12345u);
    char back[64];
    platform::ProfileString("IMAP4", "UID", "", back, sizeof back, p);
    Require(std::strcmp(back, "12345") == 0);
    (void)platform::WriteProfileString(section.c_str(), key.c_str(), "value", p);
    ReadString(section.c_str(), key.c_str(), p);
    (void)platform::WriteProfileString(section.c_str(), key.c_str(), nullptr, p);
    (void)platform::WriteProfileString(section.c_str(), nullptr, nullptr, p);
    ReadString(section.c_str(), key.c_str(), p);
    return 0;
}
