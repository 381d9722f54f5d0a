// Base64: encoding in groups of three bytes and decoding in groups of four characters. The
// codec keeps its result in one buffer of its own. Decoding in groups never skips a character:
// line breaks, blanks and pad characters all take the value 0, so every read and write stays
// inside the buffer sized from the text's length. The transfer decoding reads a stream of
// six-bit values instead, passing over or stopping at what is not base64.
#include "mime/base64.h"

#include <cstdint>
#include <cstring>

namespace {

const char kStandardAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kMailboxNameAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

// The value of every byte in a 64-character alphabet, and whether it is in the alphabet.
struct Positions {
    unsigned char of[256];
    bool in[256];
};

Positions MakePositions(const char* alphabet) {
    Positions positions{};
    // From the end, so a character listed twice keeps its first position.
    for (int i = 63; i >= 0; --i) {
        positions.of[static_cast<unsigned char>(alphabet[i])] = static_cast<unsigned char>(i);
        positions.in[static_cast<unsigned char>(alphabet[i])] = true;
    }
    return positions;
}

const char* AlphabetOf(Base64Codec::Variant variant) {
    return variant == Base64Codec::kMailboxName ? kMailboxNameAlphabet : kStandardAlphabet;
}

const Positions& PositionsOf(Base64Codec::Variant variant) {
    static const Positions standard = MakePositions(kStandardAlphabet);
    static const Positions mailboxName = MakePositions(kMailboxNameAlphabet);
    return variant == Base64Codec::kMailboxName ? mailboxName : standard;
}

// The pad character of a variant; 0 for none.
char PadOf(Base64Codec::Variant variant) {
    return variant == Base64Codec::kMailboxName ? 0 : '=';
}

}  // namespace

size_t Base64EncodedLength(size_t n, Base64Codec::Variant variant) {
    const size_t rest = n % 3;
    if (rest == 0 || PadOf(variant) != 0)
        return (n + 2) / 3 * 4;
    return n / 3 * 4 + rest + 1;
}

size_t Base64EncodeTo(const void* data, size_t n, char* out, Base64Codec::Variant variant) {
    const char* alphabet = AlphabetOf(variant);
    const char pad = PadOf(variant);
    const unsigned char* in = static_cast<const unsigned char*>(data);
    char* const start = out;
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
        *out++ = alphabet[b0 >> 2];
        *out++ = alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        *out++ = alphabet[((b1 & 15) << 2) | (b2 >> 6)];
        *out++ = alphabet[b2 & 63];
    }
    size_t rest = n - i;
    if (rest > 0) {
        unsigned b0 = in[i];
        unsigned b1 = rest == 2 ? in[i + 1] : 0;
        *out++ = alphabet[b0 >> 2];
        *out++ = alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        if (rest == 2)
            *out++ = alphabet[(b1 & 15) << 2];
        if (pad != 0) {
            for (size_t k = rest; k < 3; ++k)
                *out++ = pad;
        }
    }
    return static_cast<size_t>(out - start);
}

size_t Base64DecodeTo(const char* text, size_t length, unsigned char* out,
                      Base64Codec::Variant variant) {
    const Positions& positions = PositionsOf(variant);
    unsigned char* const start = out;
    for (size_t at = 0; at < length; at += 4) {
        unsigned x[4] = {0, 0, 0, 0};
        for (size_t k = 0; k < 4 && at + k < length; ++k)
            x[k] = positions.of[static_cast<unsigned char>(text[at + k])];
        *out++ = static_cast<unsigned char>((x[0] << 2) | (x[1] >> 4));
        *out++ = static_cast<unsigned char>(((x[1] & 15) << 4) | (x[2] >> 2));
        *out++ = static_cast<unsigned char>(((x[2] & 3) << 6) | x[3]);
    }
    return static_cast<size_t>(out - start);
}

bool Base64Decode16(const char* text, unsigned char* out) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    bool stop = false;
    for (int k = 0; k < 16; ++k)
        stop |= in[k] == '\0' || in[k] == '\r' || in[k] == '\n';
    if (stop)
        return false;
    const Positions& positions = PositionsOf(Base64Codec::kStandard);
    for (int group = 0; group < 4; ++group) {
        const unsigned x0 = positions.of[in[0]], x1 = positions.of[in[1]];
        const unsigned x2 = positions.of[in[2]], x3 = positions.of[in[3]];
        out[0] = static_cast<unsigned char>((x0 << 2) | (x1 >> 4));
        out[1] = static_cast<unsigned char>(((x1 & 15) << 4) | (x2 >> 2));
        out[2] = static_cast<unsigned char>(((x2 & 3) << 6) | x3);
        in += 4;
        out += 3;
    }
    return true;
}

void Base64DecodeAppend(const char* text, size_t n, Base64Stray stray, std::string* out) {
    const Positions& positions = PositionsOf(Base64Codec::kStandard);
    uint32_t bits = 0;
    int count = 0;
    for (size_t i = 0; i < n && text[i] != '='; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!positions.in[c]) {
            if (stray == Base64Stray::kStop)
                break;
            continue;
        }
        bits = bits << 6 | positions.of[c];
        count += 6;
        if (count >= 8) {
            count -= 8;
            out->push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
}

Base64Codec::Base64Codec(Variant variant) : variant_(variant) {}

Base64Codec::~Base64Codec() {
    delete[] result_;
}

const char* Base64Codec::Encode(const void* data, size_t n) {
    delete[] result_;
    result_ = nullptr;
    if (n == 0 || data == nullptr)
        return nullptr;

    result_ = new unsigned char[4 * ((n - 1) / 3) + 5];
    char* out = reinterpret_cast<char*>(result_);
    out[Base64EncodeTo(data, n, out, variant_)] = 0;
    return out;
}

const unsigned char* Base64Codec::Decode(const char* text, size_t* count) {
    if (text == nullptr)
        text = "";
    size_t length = std::strlen(text);
    size_t size = (length / 4 + 1) * 3;
    delete[] result_;
    result_ = new unsigned char[size]();
    Base64DecodeTo(text, length, result_, variant_);

    // Each group adds one byte less than it has characters other than the pad; a group of
    // pad characters only adds nothing rather than taking a byte away.
    const char pad = PadOf(variant_);
    size_t total = 0;
    for (size_t start = 0; start < length; start += 4) {
        int data = 0;
        for (size_t k = 0; k < 4 && start + k < length; ++k) {
            if (text[start + k] != pad)
                ++data;
        }
        if (data > 0)
            total += static_cast<size_t>(data - 1);
    }
    if (count != nullptr)
        *count = total;
    return result_;
}
