#include "imap/message_set.h"

namespace {

// The number at the start of text as the C library's atoi reads it: leading white space and a
// sign accepted, reading stops at the first byte that is not a digit. Wraps instead of
// overflowing.
uint32_t LeadingNumber(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    uint32_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = value * 10u + static_cast<uint32_t>(*p - '0');
    return negative ? 0u - value : value;
}

}  // namespace

MessageRange ParseRange(Text* set, int uidMode, uint32_t uidNext, uint32_t count) {
    const char* text = set->c_str();
    const char* mark = text;
    while (*mark != 0 && *mark != ':' && *mark != ',')
        ++mark;

    MessageRange r{0, 0};
    const char* rest = "";
    if (*mark == 0) {
        r.lo = r.hi = LeadingNumber(text);
    } else if (*mark == ',') {
        r.lo = r.hi = LeadingNumber(text);
        rest = mark + 1;
    } else {
        r.lo = LeadingNumber(text);
        const char* after = mark + 1;
        if (*after == '*') {
            r.hi = uidMode ? uidNext : count;
            rest = after + 1;
            if (*rest == ',')
                ++rest;
        } else {
            r.hi = LeadingNumber(after);
            const char* p = after;
            while (*p >= '0' && *p <= '9')
                ++p;
            if (*p != 0)
                ++p;  // the separator after the number, whatever it is
            rest = p;
        }
    }
    Text remaining(rest);
    *set = remaining;

    uint32_t top = uidMode ? uidNext : count;
    if (r.lo == 0) {
        // A leading "*", a missing number or 0: the whole folder.
        r.lo = 1;
        r.hi = top;
    }
    if (uidMode) {
        if (r.lo > uidNext)
            r.lo = uidNext;
        if (r.hi == 0)
            r.hi = 1;
        if (r.hi > uidNext)
            r.hi = uidNext;
    } else {
        if (r.lo > count)
            r.lo = count + 1;
        if (r.hi == 0)
            r.hi = 1;
        if (r.hi > count)
            r.hi = count;
    }
    return r;
}

namespace {

// One number of a UID set: decimal digits without a leading zero, or "*" (the largest UID
// of the folder). Moves *p past it; false when there is none or it overflows.
bool ReadUidSetNumber(const char** p, uint32_t largest, uint32_t* value) {
    const char* s = *p;
    if (*s == '*') {
        *value = largest;
        *p = s + 1;
        return true;
    }
    if (*s < '1' || *s > '9')
        return false;
    uint64_t n = 0;
    while (*s >= '0' && *s <= '9') {
        n = n * 10 + static_cast<uint64_t>(*s - '0');
        if (n > UINT32_MAX)
            return false;
        ++s;
    }
    *value = static_cast<uint32_t>(n);
    *p = s;
    return true;
}

}  // namespace

bool ParseUidSet(const Text& text, uint32_t largest, std::vector<MessageRange>* ranges) {
    ranges->clear();
    const char* p = text.c_str();
    for (;;) {
        MessageRange range{0, 0};
        if (!ReadUidSetNumber(&p, largest, &range.lo))
            return false;
        range.hi = range.lo;
        if (*p == ':') {
            ++p;
            if (!ReadUidSetNumber(&p, largest, &range.hi))
                return false;
            if (range.lo > range.hi) {
                const uint32_t low = range.hi;
                range.hi = range.lo;
                range.lo = low;
            }
        }
        ranges->push_back(range);
        if (*p == '\0')
            return true;
        if (*p != ',')
            return false;
        ++p;
    }
}
