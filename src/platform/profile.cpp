// Profile files: "[Section]" headers and "key=value" lines, read and edited in place.
//
// Readers take no lock: a write builds the whole new file under a temporary name in the same
// directory and renames it over the old one, so a reader opens either the old or the new file,
// never one being written. Writes of this process are serialised, so two read-modify-write
// cycles never lose each other's change.
#include "platform/profile.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"

namespace platform {

namespace {

// One line of a profile file, as offsets into the file's bytes.
struct Line {
    enum Kind { kOther, kBlank, kSection, kKey };
    size_t begin = 0;    // first byte of the line
    size_t textEnd = 0;  // end of its text, before the CR LF or LF
    size_t end = 0;      // after its line end
    Kind kind = kOther;
    std::string_view name;   // section name or key, trimmed
    std::string_view value;  // a key's value, trimmed (quotes still on)
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Compares a name from the file with a caller's name, folding ASCII letters only. A trail byte
// of a double-byte character is never folded: 0x83 0x41 and 0x83 0x61 are different
// characters.
bool SameName(std::string_view a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    bool trail = false;
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (!trail) {
            if (x >= 'A' && x <= 'Z')
                x = static_cast<unsigned char>(x + 0x20);
            if (y >= 'A' && y <= 'Z')
                y = static_cast<unsigned char>(y + 0x20);
        }
        if (x != y)
            return false;
        trail = !trail && IsLeadByte(static_cast<unsigned char>(a[i]));
    }
    return true;
}

// The name of a "[name]" header: up to the first "]" that is not the trail byte of a
// double-byte character (or to the end of the line when there is none).
std::string_view SectionName(std::string_view text) {
    size_t i = 1;
    while (i < text.size() && text[i] != ']') {
        i += IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
    }
    return Trim(text.substr(1, (i < text.size() ? i : text.size()) - 1));
}

std::vector<Line> Parse(const std::string& data) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < data.size()) {
        Line line;
        line.begin = pos;
        size_t lf = data.find('\n', pos);
        line.end = lf == std::string::npos ? data.size() : lf + 1;
        line.textEnd = lf == std::string::npos ? data.size() : lf;
        if (line.textEnd > line.begin && data[line.textEnd - 1] == '\r')
            --line.textEnd;
        std::string_view text =
            Trim(std::string_view(data).substr(line.begin, line.textEnd - line.begin));
        if (text.empty()) {
            line.kind = Line::kBlank;
        } else if (text.front() == '[') {
            line.kind = Line::kSection;
            line.name = SectionName(text);
        } else {
            size_t eq = text.find('=');  // "=" is never a trail byte
            if (eq != std::string_view::npos) {
                line.kind = Line::kKey;
                line.name = Trim(text.substr(0, eq));
                line.value = Trim(text.substr(eq + 1));
            }
        }
        lines.push_back(line);
        pos = line.end;
    }
    return lines;
}

constexpr size_t kNone = static_cast<size_t>(-1);

// The index of the first header of the section, or kNone.
size_t FindSection(const std::vector<Line>& lines, const char* section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == Line::kSection && SameName(lines[i].name, section))
            return i;
    }
    return kNone;
}

// The index of the line after the section that starts at header (the next header, or the
// line count).
size_t SectionEnd(const std::vector<Line>& lines, size_t header) {
    size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != Line::kSection)
        ++i;
    return i;
}

// The index of the first line of the key in the section that starts at header, or kNone.
size_t FindKey(const std::vector<Line>& lines, size_t header, const char* key) {
    size_t end = SectionEnd(lines, header);
    for (size_t i = header + 1; i < end; ++i) {
        if (lines[i].kind == Line::kKey && SameName(lines[i].name, key))
            return i;
    }
    return kNone;
}

enum class ReadResult { kRead, kMissing, kFailed };

ReadResult ReadWholeFile(const std::string& osPath, std::string* out) {
    out->clear();
    errno = 0;
    std::FILE* f = std::fopen(osPath.c_str(), "rb");
    if (f == nullptr)
        return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out->append(buf, n);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    return failed ? ReadResult::kFailed : ReadResult::kRead;
}

// Looks a key up; false when the file, the section or the key is missing (or unreadable).
bool LookUp(const char* section, const char* key, const char* path, std::string* value) {
    if (section == nullptr || key == nullptr || path == nullptr)
        return false;
    std::string data;
    if (ReadWholeFile(MapPath(path), &data) != ReadResult::kRead)
        return false;
    std::vector<Line> lines = Parse(data);
    size_t header = FindSection(lines, section);
    if (header == kNone)
        return false;
    size_t k = FindKey(lines, header, key);
    if (k == kNone)
        return false;
    std::string_view v = lines[k].value;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    value->assign(v.data(), v.size());
    return true;
}

std::mutex& WriteLock() {
    static std::mutex lock;
    return lock;
}

// Replaces the file with data through a temporary file in the same directory. The name takes
// a per-process salt and a counter; exclusive creation skips a name that is already taken
// (by another process, or a leftover).
bool ReplaceFile(const std::string& osPath, const std::string& data) {
    static unsigned long counter = 0;  // guarded by WriteLock
    static const unsigned long long salt =
        static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count()) ^
        reinterpret_cast<uintptr_t>(&counter);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".%llx.%lu.tmp", salt & 0xFFFFFFFFFFull, ++counter);
        std::string tmp = osPath + suffix;
        errno = 0;
        std::FILE* f = std::fopen(tmp.c_str(), "wbx");
        if (f == nullptr) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
        ok = std::fflush(f) == 0 && ok;
        ok = std::fclose(f) == 0 && ok;
        if (ok && std::rename(tmp.c_str(), osPath.c_str()) == 0)
            return true;
        std::remove(tmp.c_str());
        return false;
    }
    return false;
}

// Builds the edited file in *out. Returns false when the edit changes nothing.
bool Edit(const std::string& data, const char* section, const char* key, const char* value,
          std::string* out) {
    std::vector<Line> lines = Parse(data);
    size_t header = FindSection(lines, section);
    if (key == nullptr) {
        if (header == kNone)
            return false;
        size_t end = SectionEnd(lines, header);
        size_t cutEnd = end < lines.size() ? lines[end].begin : data.size();
        *out = data.substr(0, lines[header].begin) + data.substr(cutEnd);
        return true;
    }
    std::string added = std::string(key) + "=" + (value != nullptr ? value : "");
    if (header == kNone) {
        if (value == nullptr)
            return false;
        *out = data;
        if (!out->empty() && out->back() != '\n')
            *out += "\r\n";
        *out += "[" + std::string(section) + "]\r\n" + added + "\r\n";
        return true;
    }
    size_t k = FindKey(lines, header, key);
    if (k != kNone) {
        const Line& line = lines[k];
        if (value == nullptr) {
            *out = data.substr(0, line.begin) + data.substr(line.end);
        } else {
            // The key keeps the spelling it has in the file; the line keeps its line end.
            *out = data.substr(0, line.begin) + std::string(line.name) + "=" + value +
                   data.substr(line.textEnd);
        }
        return true;
    }
    if (value == nullptr)
        return false;
    // A new key goes after the section's last non-blank line, so blank lines that separate
    // it from the next section stay where they are.
    size_t last = header;
    for (size_t i = header + 1; i < SectionEnd(lines, header); ++i) {
        if (lines[i].kind != Line::kBlank)
            last = i;
    }
    size_t at = lines[last].end;
    std::string insert = data[at - 1] == '\n' ? added + "\r\n" : "\r\n" + added + "\r\n";
    *out = data.substr(0, at) + insert + data.substr(at);
    return true;
}

}  // namespace

uint32_t ProfileInt(const char* section, const char* key, int def, const char* path) {
    std::string value;
    if (!LookUp(section, key, path, &value))
        return static_cast<uint32_t>(def);
    size_t i = 0;
    bool negative = !value.empty() && value[0] == '-';
    if (negative)
        i = 1;
    uint32_t n = 0;  // wraps like the target platform's unsigned arithmetic
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        n = n * 10u + static_cast<uint32_t>(value[i] - '0');
    }
    return negative ? 0u - n : n;
}

uint32_t ProfileString(const char* section, const char* key, const char* def, char* out,
                       uint32_t size, const char* path) {
    if (out == nullptr || size == 0)
        return 0;
    std::string value;
    if (!LookUp(section, key, path, &value))
        value = def != nullptr ? def : "";
    size_t n = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(out, value.data(), n);
    out[n] = 0;
    return static_cast<uint32_t>(n);
}

int WriteProfileString(const char* section, const char* key, const char* value, const char* path) {
    if (section == nullptr || path == nullptr)
        return 0;
    std::lock_guard<std::mutex> hold(WriteLock());
    std::string osPath = MapPath(path);
    std::string data;
    if (ReadWholeFile(osPath, &data) == ReadResult::kFailed)
        return 0;
    std::string edited;
    if (!Edit(data, section, key, value, &edited))
        return 1;
    return ReplaceFile(osPath, edited) ? 1 : 0;
}

}  // namespace platform
