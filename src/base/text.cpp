// Text: the growable byte string every protocol line, path and response is built in.
// All scanning is bounded by the stored length, because the bytes come straight off the network.
#include "base/text.h"

#include <cstring>

#include "platform/codepage.h"

namespace {

constexpr int kSlack = 64;

// Length of s, but never looking at more than max bytes.
int BoundedLength(const char* s, int max) {
    const void* end = std::memchr(s, 0, static_cast<size_t>(max));
    return end != nullptr ? static_cast<int>(static_cast<const char*>(end) - s) : max;
}

int CStrLength(const char* s) {
    return s ? static_cast<int>(std::strlen(s)) : 0;
}

bool IsBlankOrTab(char c) {
    return c == ' ' || c == '\t';
}

// The counted compare: bytes as signed 8-bit values; the end of a string sorts before any
// byte, including the negative high bytes. Folding lowers every byte above 0x60 by 0x20.
int CountedCompare(const char* a, const char* b, int n, bool fold) {
    for (int i = 0; i < n; ++i) {
        int x = static_cast<signed char>(a[i]);
        int y = static_cast<signed char>(b[i]);
        if (x == 0 || y == 0) {
            if (x == y)
                return 0;
            return x == 0 ? -1 : 1;
        }
        if (fold) {
            if (x > 0x60)
                x -= 0x20;
            if (y > 0x60)
                y -= 0x20;
        }
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace

Text::Text() : data_(nullptr), capacity_(0), length_(0) {}

Text::Text(const char* s) : data_(nullptr), capacity_(0), length_(0) {
    Assign(s);
}

Text::Text(const Text& other) : data_(nullptr), capacity_(0), length_(0) {
    if (other.data_ != nullptr)
        AssignBytes(other.data_, other.length_);
}

Text::Text(Text&& other) noexcept
    : data_(other.data_), capacity_(other.capacity_), length_(other.length_) {
    other.data_ = nullptr;
    other.capacity_ = 0;
    other.length_ = 0;
}

Text::~Text() {
    FreeBuffer();
}

Text& Text::operator=(const Text& other) {
    Assign(other);
    return *this;
}

Text& Text::operator=(Text&& other) noexcept {
    if (this != &other) {
        FreeBuffer();
        data_ = other.data_;
        capacity_ = other.capacity_;
        length_ = other.length_;
        other.data_ = nullptr;
        other.capacity_ = 0;
        other.length_ = 0;
    }
    return *this;
}

Text& Text::operator=(const char* s) {
    Assign(s);
    return *this;
}

void Text::AssignBytes(const char* s, int n) {
    if (n < 0)
        n = 0;
    char* fresh = new char[n + kSlack];
    if (n > 0)
        std::memcpy(fresh, s, n);
    fresh[n] = 0;
    FreeBuffer();  // only now: s may have pointed into it
    data_ = fresh;
    capacity_ = n + kSlack;
    length_ = n;
}

void Text::AssignCompact(const char* s, int n) {
    if (n < 0)
        n = 0;
    char* fresh = new char[n + 1];
    if (n > 0)
        std::memcpy(fresh, s, n);
    fresh[n] = 0;
    FreeBuffer();  // only now: s may have pointed into it
    data_ = fresh;
    capacity_ = n + 1;
    length_ = n;
}

void Text::AssignInRoom(char* room, int roomSize, const char* s, int n) {
    if (n < 0 || n >= roomSize) {
        AssignCompact(s, n);
        return;
    }
    if (n > 0)
        std::memmove(room, s, n);
    room[n] = 0;
    FreeBuffer();
    data_ = room;
    capacity_ = -roomSize;
    length_ = n;
}

void Text::AppendBytes(const char* s, int n) {
    if (n < 0)
        n = 0;
    int needed = length_ + n;
    if (needed >= capacity_) {
        // The 64-byte slack makes appending a byte at a time cheap for short texts; a long
        // text (a message body, a long line) also grows by half its length, so building it
        // piece by piece stays linear.
        int slack = needed / 2 > kSlack ? needed / 2 : kSlack;
        char* grown = new char[needed + slack];
        if (length_ > 0)
            std::memcpy(grown, data_, length_);
        if (n > 0)
            std::memcpy(grown + length_, s, n);
        FreeBuffer();
        data_ = grown;
        capacity_ = needed + slack;
    } else if (n > 0) {
        std::memmove(data_ + length_, s, n);
    }
    length_ = needed;
    data_[length_] = 0;
}

void Text::DropFront(int n) {
    if (data_ == nullptr || n <= 0)
        return;
    if (n > length_)
        n = length_;
    std::memmove(data_, data_ + n, length_ - n + 1);  // the terminator moves too
    length_ -= n;
}

void Text::Assign(const char* s) {
    AssignBytes(s, CStrLength(s));
}

void Text::Assign(const char* s, int n) {
    if (s == nullptr || n < 0)
        n = 0;
    AssignBytes(s, s ? BoundedLength(s, n) : 0);
}

void Text::Assign(const Text& other) {
    AssignBytes(other.c_str(), other.length_);
}

void Text::Assign(char c) {
    AssignBytes(&c, 1);
}

void Text::Append(const char* s) {
    if (s == nullptr)
        return;
    AppendBytes(s, CStrLength(s));
}

void Text::Append(const char* s, int n) {
    if (s == nullptr || n <= 0)
        return;
    AppendBytes(s, BoundedLength(s, n));
}

void Text::Append(const Text& other) {
    AppendBytes(other.c_str(), other.length_);
}

void Text::AppendNumber(uint32_t n) {
    char digits[10];  // 4294967295 has ten
    int first = 10;
    do {
        digits[--first] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    AppendBytes(digits + first, 10 - first);
}

int Text::Compare(const char* s) const {
    if (data_ == nullptr)
        return -1;
    return platform::lstrcmpA(data_, s ? s : "");
}

int Text::Compare(const char* s, int n) const {
    if (data_ == nullptr)
        return -1;
    return CountedCompare(data_, s ? s : "", n, false);
}

int Text::CompareNoCase(const char* s) const {
    if (data_ == nullptr)
        return -1;
    return platform::lstrcmpiA(data_, s ? s : "");
}

int Text::CompareNoCase(const char* s, int n) const {
    if (data_ == nullptr)
        return -1;
    return CountedCompare(data_, s ? s : "", n, true);
}

int Text::Find(char c) const {
    if (length_ == 0)
        return -1;
    const void* at = std::memchr(data_, c, static_cast<size_t>(length_));
    return at != nullptr ? static_cast<int>(static_cast<const char*>(at) - data_) : -1;
}

Text Text::Left(int n) const {
    return Mid(0, n < 0 ? 0 : n);
}

Text Text::Mid(int start, int count) const {
    if (start < 0)
        start = 0;
    if (start > length_)
        start = length_;
    int available = length_ - start;
    if (count < 0 || count > available)
        count = available;
    Text part;
    part.AssignBytes(c_str() + start, count);
    return part;
}

uint32_t Text::ToNumber() const {
    uint32_t value = 0;
    for (int i = 0; i < length_ && data_[i] >= '0' && data_[i] <= '9'; ++i) {
        value = value * 10u + static_cast<uint32_t>(data_[i] - '0');
    }
    return value;
}

void Text::MakeUpper() {
    if (data_ != nullptr)
        platform::CharUpperA(data_);
}

int Text::Replace(char a, char b) {
    int replaced = 0;
    for (int i = 0; i < length_; ++i) {
        if (data_[i] == a) {
            data_[i] = b;
            ++replaced;
        }
    }
    return replaced;
}

void Text::Trim() {
    int end = length_;
    while (end > 0 && IsBlankOrTab(data_[end - 1]))
        --end;
    Truncate(end);
    int start = 0;
    while (start < length_ && IsBlankOrTab(data_[start]))
        ++start;
    DropFront(start);
}

void Text::Unquote(char c) {
    if (length_ < 2 || data_[0] != c || data_[length_ - 1] != c)
        return;
    Truncate(length_ - 1);
    DropFront(1);
}

void Text::Unbracket() {
    if (length_ < 2)
        return;
    char open = data_[0];
    char close = data_[length_ - 1];
    bool pair = (open == '(' && close == ')') || (open == '[' && close == ']') ||
                (open == '{' && close == '}');
    if (!pair)
        return;
    Truncate(length_ - 1);
    DropFront(1);
}

Text Text::SplitToken(char c) {
    int end = Find(c);
    Text head;
    if (end < 0) {
        head.AssignBytes(c_str(), length_);
        Truncate(0);
        return head;
    }
    head.AssignBytes(data_, end);
    int next = end;
    while (next < length_ && data_[next] == c)
        ++next;
    DropFront(next);
    return head;
}

Text Text::SplitArgument() {
    // Depth may go below zero on unbalanced closers; a blank then belongs to the argument,
    // exactly as at any depth other than zero. It can never exceed length_, so no overflow.
    int depth = 0;
    int i = 0;
    while (i < length_) {
        char ch = data_[i];
        if (ch == '"') {
            // A backslash inside quotes escapes the next byte, as IMAP defines, so a quoted
            // password may hold '"' and '\'.
            ++i;
            while (i < length_ && data_[i] != '"')
                i += (data_[i] == '\\' && i + 1 < length_) ? 2 : 1;
            if (i < length_)
                ++i;  // the closing quote; an unclosed one took the rest
            continue;
        }
        if (ch == '(' || ch == '[') {
            ++depth;
        } else if (ch == ')' || ch == ']') {
            --depth;
        } else if (ch == ' ' && depth == 0) {
            break;
        }
        ++i;
    }
    Text head;
    head.AssignBytes(c_str(), i);
    while (i < length_ && data_[i] == ' ')
        ++i;
    DropFront(i);
    return head;
}

void Text::Truncate(int n) {
    if (data_ == nullptr)
        return;
    if (n < 0)
        n = 0;
    if (n >= length_)
        return;
    length_ = n;
    data_[n] = 0;
}

void Text::Extend(int n) {
    if (data_ == nullptr)
        return;
    if (n > 0)
        length_ += n < Spare() ? n : Spare();
    data_[length_] = 0;
}

void Text::Reserve(int n) {
    if (n < 0 || (capacity_ > 0 && n < capacity_))  // a text in a room takes its own buffer
        return;
    char* grown = new char[n + kSlack];
    if (length_ > 0)
        std::memcpy(grown, data_, length_);
    grown[length_] = 0;
    FreeBuffer();
    data_ = grown;
    capacity_ = n + kSlack;
}

Text operator+(const Text& a, const Text& b) {
    Text sum;
    sum.Reserve(a.Length() + b.Length());
    sum.Append(a);
    sum.Append(b);
    return sum;
}

Text operator+(const Text& a, const char* b) {
    Text sum;
    sum.Reserve(a.Length() + (b ? static_cast<int>(std::strlen(b)) : 0));
    sum.Append(a);
    sum.Append(b);
    return sum;
}

Text operator+(const char* a, const Text& b) {
    Text sum;
    sum.Reserve((a ? static_cast<int>(std::strlen(a)) : 0) + b.Length());
    sum.Append(a);
    sum.Append(b);
    return sum;
}

Text operator+(const Text& a, char c) {
    Text sum;
    sum.Reserve(a.Length() + 1);
    sum.Append(a);
    sum.Append(c);
    return sum;
}
