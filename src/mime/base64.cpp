// Base64Codec: encoding in groups of three bytes and decoding in groups of four characters,
// with the result in one buffer owned by the codec. Decoding never skips a character: line
// breaks, blanks and pad characters all take the value 0, so every read and write stays inside
// the buffer sized from the text's length.
#include "mime/base64.h"

#include <cstring>

namespace {

const char kStandardAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kMailboxNameAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

// The position of every byte in a 64-character alphabet; 0 for a byte outside it.
struct Positions {
    unsigned char of[256];
};

Positions MakePositions(const char* alphabet) {
    Positions positions{};
    // From the end, so a character listed twice keeps its first position.
    for (int i = 63; i >= 0; --i)
        positions.of[static_cast<unsigned char>(alphabet[i])] = static_cast<unsigned char>(i);
    return positions;
}

const Positions& PositionsOf(const char* alphabet) {
    static const Positions standard = MakePositions(kStandardAlphabet);
    static const Positions mailboxName = MakePositions(kMailboxNameAlphabet);
    return alphabet == kMailboxNameAlphabet ? mailboxName : standard;
}

}  // namespace

Base64Codec::Base64Codec(Variant variant)
    : alphabet_(variant == kMailboxName ? kMailboxNameAlphabet : kStandardAlphabet),
      pad_(variant == kMailboxName ? 0 : '=') {}

Base64Codec::~Base64Codec() {
    delete[] result_;
}

const char* Base64Codec::Encode(const void* data, size_t n) {
    delete[] result_;
    result_ = nullptr;
    if (n == 0 || data == nullptr)
        return nullptr;

    const unsigned char* in = static_cast<const unsigned char*>(data);
    result_ = new unsigned char[4 * ((n - 1) / 3) + 5];
    char* out = reinterpret_cast<char*>(result_);
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
        *out++ = alphabet_[b0 >> 2];
        *out++ = alphabet_[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = alphabet_[((b1 & 15) << 2) | (b2 >> 6)];
        *out++ = alphabet_[b2 & 63];
    }
    size_t rest = n - i;
    if (rest > 0) {
        unsigned b0 = in[i];
        unsigned b1 = rest == 2 ? in[i + 1] : 0;
        *out++ = alphabet_[b0 >> 2];
        *out++ = alphabet_[((b0 & 3) << 4) | (b1 >> 4)];
        if (rest == 2)
            *out++ = alphabet_[(b1 & 15) << 2];
        if (pad_ != 0) {
            for (size_t k = rest; k < 3; ++k)
                *out++ = pad_;
        }
    }
    *out = 0;
    return reinterpret_cast<const char*>(result_);
}

const unsigned char* Base64Codec::Decode(const char* text, size_t* count) {
    if (text == nullptr)
        text = "";
    size_t length = std::strlen(text);
    size_t size = (length / 4 + 1) * 3;
    delete[] result_;
    result_ = new unsigned char[size]();

    const Positions& positions = PositionsOf(alphabet_);
    size_t total = 0;
    unsigned char* out = result_;
    for (size_t start = 0; start < length; start += 4) {
        unsigned x[4] = {0, 0, 0, 0};
        int data = 0;
        for (size_t k = 0; k < 4 && start + k < length; ++k) {
            char c = text[start + k];
            x[k] = positions.of[static_cast<unsigned char>(c)];
            if (c != pad_)
                ++data;
        }
        *out++ = static_cast<unsigned char>((x[0] << 2) | (x[1] >> 4));
        *out++ = static_cast<unsigned char>(((x[1] & 15) << 4) | (x[2] >> 2));
        *out++ = static_cast<unsigned char>(((x[2] & 3) << 6) | x[3]);
        // A group of pad characters only adds nothing rather than taking a byte away.
        if (data > 0)
            total += static_cast<size_t>(data - 1);
    }
    if (count != nullptr)
        *count = total;
    return result_;
}
