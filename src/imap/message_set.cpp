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
