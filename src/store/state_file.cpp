// Reading and replacing the plug-in's own state files, and the readers of their lines.
#include "store/state_file.h"

#include <cstdint>
#include <cstring>

#include "base/file.h"
#include "platform/files.h"

bool ReadStateFile(const std::string& path, std::string* out) {
    File file;
    if (!file.Open(path.c_str(), platform::kAccessRead, platform::kOpenExisting))
        return false;
    const int64_t size = file.Size();
    if (size < 0 || size > INT32_MAX)
        return false;
    out->resize(static_cast<size_t>(size));
    return size == 0 ||
           file.Read(&(*out)[0], static_cast<uint32_t>(size)) == static_cast<uint32_t>(size);
}

bool ReplaceStateFile(const std::string& path, const std::string& fresh, const std::string& text) {
    bool ok = false;
    {
        File file;
        ok = file.Open(fresh.c_str(), platform::kAccessWrite, platform::kCreateAlways) &&
             file.Write(text.data(), static_cast<uint32_t>(text.size()));
    }
    ok = ok && platform::ReplaceByRename(fresh.c_str(), path.c_str()) != 0;
    if (!ok)
        platform::DeleteFilePath(fresh.c_str());
    return ok;
}

bool ReadStateNumber(const char** p, const char* end, char after, uint32_t* out) {
    uint64_t n = 0;
    const char* s = *p;
    if (!ReadStateNumber64(&s, end, after, &n) || n > UINT32_MAX)
        return false;
    *out = static_cast<uint32_t>(n);
    *p = s;
    return true;
}

bool ReadStateNumber64(const char** p, const char* end, char after, uint64_t* out) {
    const char* s = *p;
    uint64_t n = 0;
    const char* digits = s;
    // At most 19 digits: every such number fits 63 bits.
    while (s < end && *s >= '0' && *s <= '9' && s - digits < 19) {
        n = n * 10 + static_cast<uint64_t>(*s - '0');
        ++s;
    }
    if (s == digits || n > INT64_MAX || s >= end || *s != after)
        return false;
    *out = n;
    *p = s + 1;
    return true;
}

bool ReadStateWord(const char** p, const char* end, const char* word) {
    const size_t n = std::strlen(word);
    if (static_cast<size_t>(end - *p) < n || std::memcmp(*p, word, n) != 0)
        return false;
    *p += n;
    return true;
}
