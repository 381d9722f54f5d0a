// Text: the system's one string type, a growable NUL-terminated byte string holding ASCII or
// Shift_JIS bytes. Besides assign, append and compare it carries the two splitting operations
// the IMAP parser rests on (SplitToken, SplitArgument) and the trimming rules that decide how
// arguments are read.
//
// Growth: when the needed length reaches the capacity, the buffer grows to the needed length
// plus 64 bytes (plus half the length for a text past 128 bytes, so long texts grow linearly); an
// assignment always allocates a fresh buffer of length plus 64. A default Text has no buffer: it
// reads as "" wherever it is copied or used as an argument, but as the left side of a compare it
// compares below everything (even "").
#ifndef ORV_BASE_TEXT_H_
#define ORV_BASE_TEXT_H_

#include <cstdint>

class Text {
  public:
    Text();
    Text(const char* s);  // NOLINT: implicit, like a C string
    Text(const Text& other);
    Text(Text&& other) noexcept;
    ~Text();
    Text& operator=(const Text& other);
    Text& operator=(Text&& other) noexcept;
    Text& operator=(const char* s);

    // Assign: all of a C string, its first n bytes (fewer when it is shorter), another Text,
    // one byte. A null C string assigns "".
    void Assign(const char* s);
    void Assign(const char* s, int n);
    void Assign(const Text& other);
    void Assign(char c);
    // Replaces the contents with exactly n bytes from s (NUL bytes included) in a buffer of
    // exactly n + 1 bytes: for texts kept in great numbers that never grow (the file names of
    // a folder's messages). A later append grows it by the usual rule.
    void AssignCompact(const char* s, int n);
    // Places exactly n bytes from s in room, a buffer of roomSize bytes the text does not own
    // (n < roomSize; else as AssignCompact): for texts kept in great numbers beside their
    // owner (the file names of a folder's pooled entries), which costs no allocation. The room
    // must outlive the text and serve no other; a text that must grow takes a buffer of its
    // own, and a copy always has its own.
    void AssignInRoom(char* room, int roomSize, const char* s, int n);

    // Append: a C string (null appends nothing), its first n bytes, one byte, an unsigned
    // number in decimal.
    void Append(const char* s);
    void Append(const char* s, int n);
    void Append(const Text& other);
    void Append(char c) {
        // Room for the byte and the terminator: no growth rule to apply.
        if (length_ + 1 < capacity_) {
            data_[length_++] = c;
            data_[length_] = 0;
        } else {
            AppendBytes(&c, 1);
        }
    }
    void AppendNumber(uint32_t n);
    // Appends exactly n bytes from s, NUL bytes included; s may point into this text's own
    // buffer. The growth rule is that of every append.
    void AppendBytes(const char* s, int n);
    Text& operator+=(const char* s) {
        Append(s);
        return *this;
    }
    Text& operator+=(const Text& t) {
        Append(t);
        return *this;
    }
    Text& operator+=(char c) {
        Append(c);
        return *this;
    }

    // Case-sensitive compare. Without a count: the platform's locale compare (lstrcmpA). With a
    // count n: the first n bytes as signed 8-bit values; stops early when both end together;
    // the end of the shorter string is smaller. <0, 0 or >0.
    int Compare(const char* s) const;
    int Compare(const char* s, int n) const;
    // Case-insensitive compare. Without a count: lstrcmpiA. With a count: as above after
    // folding every byte whose signed value is above 0x60 down by 0x20.
    int CompareNoCase(const char* s) const;
    int CompareNoCase(const char* s, int n) const;

    bool operator==(const char* s) const { return Compare(s) == 0; }
    bool operator!=(const char* s) const { return Compare(s) != 0; }
    bool operator==(const Text& t) const { return Compare(t.c_str()) == 0; }
    bool operator!=(const Text& t) const { return Compare(t.c_str()) != 0; }

    // Index of the first occurrence of byte c, or -1.
    int Find(char c) const;
    // The first n bytes (fewer if the text is shorter).
    Text Left(int n) const;
    // count bytes from start; a negative count means to the end.
    Text Mid(int start, int count = -1) const;
    // The value of the leading run of decimal digits (no sign, no blanks); 0 without one.
    // Wraps modulo 2^32 on overflow.
    uint32_t ToNumber() const;
    // Upper-cases in place through the platform (ASCII letters; double-byte characters intact).
    void MakeUpper();
    // Replaces every byte a by b; returns the number replaced.
    int Replace(char a, char b);
    // Removes blanks and tabs at both ends.
    void Trim();
    // When at least two bytes long and first and last byte are both c, removes both.
    void Unquote(char c);
    // When at least two bytes long and enclosed in a matching pair of (), [] or {}, removes the
    // first and last byte. One pair only.
    void Unbracket();

    // Returns the text up to the first byte c (all of it when there is none) and leaves what
    // follows the run of c bytes after it.
    Text SplitToken(char c);
    // Returns the first IMAP argument (quotes and brackets kept) and leaves the rest after the
    // blanks that follow it. Only the blank separates; "..." is taken whole without escapes;
    // () and [] nest; braces are ordinary bytes.
    Text SplitArgument();

    const char* c_str() const { return data_ ? data_ : ""; }
    int Length() const { return length_; }
    bool IsEmpty() const { return length_ == 0; }
    bool HasBuffer() const { return data_ != nullptr; }
    int Capacity() const { return capacity_ < 0 ? -capacity_ : capacity_; }
    // The byte at index i (0 past the end).
    char operator[](int i) const { return (i >= 0 && i < length_) ? data_[i] : 0; }
    // Drops everything after the first n bytes (no-op when n >= Length()).
    void Truncate(int n);
    // Empties the text, keeping its buffer.
    void Clear() { Truncate(0); }
    // Ensures room for n bytes plus the terminator (growth rule as above).
    void Reserve(int n);
    // Appending in place, for a writer that puts bytes where they go (a file read straight into
    // a message text): the buffer has room for Spare() bytes after the text (Reserve makes
    // more), from SpareBytes() on, where its terminator lies; Extend(n) takes the first n of
    // them into the text (at most Spare(); 0 puts the terminator back).
    int Spare() const { return capacity_ > length_ ? capacity_ - length_ - 1 : 0; }
    char* SpareBytes() { return data_ != nullptr ? data_ + length_ : nullptr; }
    void Extend(int n);

  private:
    // Replaces the contents with exactly n bytes from s (a fresh buffer of n plus 64); s may
    // point into this text's own buffer.
    void AssignBytes(const char* s, int n);
    // Drops the first n bytes, keeping the buffer.
    void DropFront(int n);
    // Frees the buffer when the text owns it.
    void FreeBuffer() {
        if (capacity_ > 0)
            delete[] data_;
    }

    char* data_;
    int capacity_;  // negative: the size of a room the text does not own (AssignInRoom)
    int length_;
};

Text operator+(const Text& a, const Text& b);
Text operator+(const Text& a, const char* b);
Text operator+(const char* a, const Text& b);
Text operator+(const Text& a, char c);

#endif  // ORV_BASE_TEXT_H_
