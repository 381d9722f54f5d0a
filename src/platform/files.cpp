// Wildcard matching of directory search patterns. Pure code, the same on every OS.
#include <cstring>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"

namespace platform {

namespace {

// Marks the bytes of s that are the second byte of a double-byte character; such a byte is
// never an ASCII letter, so it is compared exactly and only with another second byte.
std::vector<bool> TrailBytes(const char* s, size_t n) {
    std::vector<bool> trail(n, false);
    for (size_t i = 0; i < n; ++i) {
        if (IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < n)
            trail[++i] = true;
    }
    return trail;
}

unsigned char FoldAscii(unsigned char b, bool trail) {
    return (!trail && b >= 'a' && b <= 'z') ? static_cast<unsigned char>(b - 0x20) : b;
}

// Whether pattern[from..] is a run of stars, at least one.
bool OnlyStars(const char* pattern, size_t from, size_t n) {
    if (from >= n)
        return false;
    for (size_t i = from; i < n; ++i) {
        if (pattern[i] != '*')
            return false;
    }
    return true;
}

}  // namespace

bool WildcardMatch(const char* pattern, const char* name) {
    if (pattern == nullptr)
        pattern = "";
    if (name == nullptr)
        name = "";
    const size_t pn = std::strlen(pattern);
    const size_t nn = std::strlen(name);
    const std::vector<bool> ptrail = TrailBytes(pattern, pn);
    const std::vector<bool> ntrail = TrailBytes(name, nn);

    // row[j]: whether pattern[i..] matches name[j..], filled from the end of the pattern so
    // that any number of stars costs at most pn * nn steps.
    std::vector<bool> next(nn + 1, false);
    std::vector<bool> row(nn + 1, false);
    next[nn] = true;  // the empty pattern matches only the empty name
    for (size_t i = pn; i-- > 0;) {
        const unsigned char p = static_cast<unsigned char>(pattern[i]);
        // The end of the name: a star matches nothing; "." before stars only is an extension
        // the name may lack ("*.*" and "name.*" match a name without a dot).
        row[nn] = p == '*' ? next[nn] : (p == '.' && OnlyStars(pattern, i + 1, pn));
        for (size_t j = nn; j-- > 0;) {
            const unsigned char c = static_cast<unsigned char>(name[j]);
            if (p == '*') {
                row[j] = next[j] || row[j + 1];
            } else if (p == '?') {
                row[j] = next[j + 1];
            } else {
                // A byte of a double-byte character never matches a single-byte one, so a
                // pattern cannot match half a character.
                row[j] = ptrail[i] == ntrail[j] &&
                         FoldAscii(p, ptrail[i]) == FoldAscii(c, ntrail[j]) && next[j + 1];
            }
        }
        next.swap(row);
    }
    return next[0];
}

}  // namespace platform
