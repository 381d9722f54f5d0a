// Output: where the FETCH item writers and the other renderers put their bytes. The IMAP
// session writes them to its connection; tests collect them in a string.
#ifndef ORV_RENDER_OUTPUT_H_
#define ORV_RENDER_OUTPUT_H_

#include <cstdint>
#include <string>

class Output {
  public:
    virtual ~Output() = default;
    // Writes len bytes (len < 0: up to the terminating NUL).
    virtual void Write(const char* data, int len = -1) = 0;
    // True when the connection is closing: long walks stop after the current message.
    virtual bool Closing() const { return false; }

    // A signed 32-bit number in decimal ("%d").
    void WriteNumber(int32_t n) {
        const uint32_t magnitude = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
        WriteDigits(magnitude, n < 0);
    }
    // An unsigned 32-bit number in decimal.
    void WriteUnsigned(uint32_t n) { WriteDigits(n, false); }
    // An unsigned 64-bit number in decimal (a modification sequence).
    void WriteUnsigned64(uint64_t n) { WriteDigits(n, false); }

  private:
    // Written for every message of a listing, so without the formatter: digits from the end
    // of a small buffer.
    void WriteDigits(uint64_t n, bool minus) {
        char buffer[24];
        int first = sizeof buffer;
        do {
            buffer[--first] = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n != 0);
        if (minus)
            buffer[--first] = '-';
        Write(buffer + first, static_cast<int>(sizeof buffer) - first);
    }
};

// Collects everything written, for tests and for renderers that build text first.
class StringOutput : public Output {
  public:
    void Write(const char* data, int len = -1) override {
        if (data == nullptr)
            return;
        if (len < 0) {
            text.append(data);
        } else {
            text.append(data, static_cast<size_t>(len));
        }
    }
    std::string text;
};

#endif  // ORV_RENDER_OUTPUT_H_
