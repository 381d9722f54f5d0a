// Output: where the FETCH item writers and the other renderers put their bytes. The IMAP
// session writes them to its connection; tests collect them in a string.
#ifndef ORV_RENDER_OUTPUT_H_
#define ORV_RENDER_OUTPUT_H_

#include <cstdint>
#include <cstdio>
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
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%d", n);
        Write(buffer);
    }
    // An unsigned 32-bit number in decimal.
    void WriteUnsigned(uint32_t n) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%u", n);
        Write(buffer);
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
