// Tests of Base64Codec: the known encodings of both configurations, the decoding rules for pad,
// missing and foreign characters, the byte count, and random round trips checked against an
// independent bit-stream encoder; and of the transfer decoding's stray bytes. Everything runs under
// AddressSanitizer, so any read or write outside the result buffer fails the test.
#include "mime/base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

const char kStandard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kMailbox[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

// A reference encoder that takes six bits at a time from a bit accumulator.
std::string ReferenceEncode(const std::string& in, const char* alphabet, bool pad) {
    std::string out;
    unsigned acc = 0;
    int bits = 0;
    for (unsigned char c : in) {
        acc = (acc << 8) | c;
        bits += 8;
        while (bits >= 6) {
            out += alphabet[(acc >> (bits - 6)) & 63];
            bits -= 6;
        }
    }
    if (bits > 0)
        out += alphabet[(acc << (6 - bits)) & 63];
    while (pad && out.size() % 4 != 0)
        out += '=';
    return out;
}

std::string Encoded(Base64Codec& codec, const std::string& in) {
    const char* text = codec.Encode(in.data(), in.size());
    return text ? std::string(text) : std::string("<null>");
}

// The decoded bytes as a string of the reported count.
std::string Decoded(Base64Codec& codec, const char* text, size_t* count = nullptr) {
    size_t n = 12345;
    const unsigned char* bytes = codec.Decode(text, &n);
    if (count)
        *count = n;
    return std::string(reinterpret_cast<const char*>(bytes), n);
}

TEST(Base64Encode, KnownTextsInBothConfigurations) {
    Base64Codec standard;
    EXPECT_EQ(Encoded(standard, "abc"), "YWJj");
    EXPECT_EQ(Encoded(standard, "ab"), "YWI=");
    EXPECT_EQ(Encoded(standard, "a"), "YQ==");
    EXPECT_EQ(Encoded(standard, "foobar"), "Zm9vYmFy");
    EXPECT_EQ(Encoded(standard, std::string("\xfb\xff\xbf", 3)), "+/+/");
    EXPECT_EQ(Encoded(standard, std::string("\0\0", 2)), "AAA=");

    Base64Codec mailbox(Base64Codec::kMailboxName);
    EXPECT_EQ(Encoded(mailbox, "a"), "YQ");
    EXPECT_EQ(Encoded(mailbox, std::string("\xfb\xff\xbf", 3)), "+,+,");
    // UTF-16 of U+65E5 U+672C, as a mailbox name carries it.
    EXPECT_EQ(Encoded(mailbox, std::string("\x65\xe5\x67\x2c", 4)), "ZeVnLA");
}

TEST(Base64Encode, ZeroBytesGiveNullAndReleaseTheOldResult) {
    Base64Codec codec;
    ASSERT_NE(codec.Encode("abc", 3), nullptr);
    EXPECT_EQ(codec.Encode("abc", 0), nullptr);
    EXPECT_EQ(codec.Encode(nullptr, 0), nullptr);
    // The text fills its allocation exactly: four characters per group and the terminator.
    for (size_t n = 1; n <= 9; ++n) {
        const char* text = codec.Encode("abcdefghi", n);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::strlen(text), 4 * ((n - 1) / 3) + 4) << n;
    }
}

TEST(Base64Decode, PadAndMissingCharactersAreNotCounted) {
    Base64Codec codec;
    size_t n = 0;
    EXPECT_EQ(Decoded(codec, "YWJj", &n), "abc");
    EXPECT_EQ(Decoded(codec, "YWI=", &n), "ab");
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(Decoded(codec, "YWI", &n), "ab");
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(Decoded(codec, "YQ==", &n), "a");
    // One lone character carries no whole byte.
    EXPECT_EQ(Decoded(codec, "Y", &n), "");
    EXPECT_EQ(Decoded(codec, "YWJjZ", &n), "abc");
    // A group of pad characters only contributes nothing.
    EXPECT_EQ(Decoded(codec, "YQ======", &n), "a");
    EXPECT_EQ(Decoded(codec, "====", &n), "");
}

TEST(Base64Decode, EveryGroupWritesThreeBytesIntoAZeroFilledBuffer) {
    Base64Codec codec;
    size_t n = 0;
    const unsigned char* bytes = codec.Decode("YQ", &n);
    EXPECT_EQ(n, 1u);
    // The bytes past the count are there and zero; (2/4 + 1) * 3 = 3 were allocated.
    EXPECT_EQ(bytes[0], 'a');
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 0);

    // The cut-short last group still writes its third byte from the bits it has: the low two
    // bits of 'J' (9) land in the top of the byte past the count.
    bytes = codec.Decode("YWJjYWJ", &n);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 6), "abcab\x40");
}

TEST(Base64Decode, EmptyAndNullTextGiveCountZero) {
    Base64Codec codec;
    size_t n = 99;
    const unsigned char* bytes = codec.Decode("", &n);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(bytes[0] | bytes[1] | bytes[2], 0);
    n = 99;
    ASSERT_NE(codec.Decode(nullptr, &n), nullptr);
    EXPECT_EQ(n, 0u);
}

TEST(Base64Decode, ForeignCharactersCountAsDataOfValueZero) {
    Base64Codec codec;
    size_t n = 0;
    // '@' and '*' are not in the alphabet: they read as 'A'.
    EXPECT_EQ(Decoded(codec, "Y@J*", &n), Decoded(codec, "YAJA"));
    EXPECT_EQ(n, 3u);
    // High bytes, blanks and a pad character in mid-group are data of value 0 too.
    EXPECT_EQ(Decoded(codec, "\xff\x80\xc1\xfe", &n), std::string("\0\0\0", 3));
    EXPECT_EQ(Decoded(codec, "Y= j", &n), std::string("\x60\0", 2));
    EXPECT_EQ(n, 2u);
    // The variant has no pad character: "=" is one more foreign data character.
    Base64Codec mailbox(Base64Codec::kMailboxName);
    EXPECT_EQ(Decoded(mailbox, "YQ==", &n), std::string("a\0\0", 3));
    EXPECT_EQ(Decoded(mailbox, "+,8", &n), "\xfb\xff");
    EXPECT_EQ(Decoded(mailbox, "+/8", &n), std::string("\xf8\x0f", 2));
}

TEST(Base64Decode, LineBreaksAreNotSkippedAndShiftWhatFollows) {
    std::string data;
    for (int i = 0; i < 60; ++i)
        data += static_cast<char>('A' + i % 26);
    Base64Codec codec;
    std::string text = Encoded(codec, data);
    ASSERT_EQ(text.size(), 80u);
    std::string broken = text.substr(0, 76) + "\r\n" + text.substr(76);

    size_t n = 0;
    std::string out = Decoded(codec, broken.c_str(), &n);
    // 20 whole groups and a last group of two characters, all of them data.
    EXPECT_EQ(n, 61u);
    EXPECT_EQ(out.substr(0, 57), data.substr(0, 57));
    // The group "\r\n" + two characters: two zero values, then the shifted rest.
    EXPECT_EQ(out[57], 0);
    EXPECT_NE(out.substr(57, 3), data.substr(57, 3));
}

TEST(Base64RoundTrip, RandomDataMatchesTheReferenceAndDecodesBack) {
    std::mt19937 random(4711);
    Base64Codec standard;
    Base64Codec mailbox(Base64Codec::kMailboxName);
    for (int round = 0; round < 400; ++round) {
        std::string data(random() % 100 + 1, '\0');
        for (char& c : data)
            c = static_cast<char>(random());
        std::string s = Encoded(standard, data);
        ASSERT_EQ(s, ReferenceEncode(data, kStandard, true));
        std::string m = Encoded(mailbox, data);
        ASSERT_EQ(m, ReferenceEncode(data, kMailbox, false));
        size_t n = 0;
        ASSERT_EQ(Decoded(standard, s.c_str(), &n), data);
        ASSERT_EQ(Decoded(mailbox, m.c_str(), &n), data);
    }
}

TEST(Base64Decode, ArbitraryInputStaysInsideTheBuffer) {
    // Random texts of every short length, foreign bytes included; ASan checks each access. The
    // count never exceeds the three bytes per group written, and the rest stays zero.
    std::mt19937 random(99);
    Base64Codec codec;
    for (size_t length = 0; length < 40; ++length) {
        for (int round = 0; round < 20; ++round) {
            std::string text(length, 'A');
            for (char& c : text)
                c = static_cast<char>(random() % 255 + 1);
            size_t n = 0;
            const unsigned char* bytes = codec.Decode(text.c_str(), &n);
            size_t written = (length + 3) / 4 * 3;
            ASSERT_LE(n, written);
            for (size_t i = written; i < (length / 4 + 1) * 3; ++i)
                ASSERT_EQ(bytes[i], 0);
        }
    }
}

std::string TransferDecoded(const std::string& text, Base64Stray stray) {
    std::string out = "kept:";
    Base64DecodeAppend(text.data(), text.size(), stray, &out);
    EXPECT_EQ(out.compare(0, 5, "kept:"), 0) << "appends to what is there";
    return out.substr(5);
}

TEST(Base64DecodeAppend, SkipsOrStopsAtStrayBytesAndEndsAtThePad) {
    EXPECT_EQ(TransferDecoded("YWJj", Base64Stray::kSkip), "abc");
    EXPECT_EQ(TransferDecoded("YW\r\nJj", Base64Stray::kSkip), "abc");
    EXPECT_EQ(TransferDecoded("YW\r\nJj", Base64Stray::kStop), "a");
    EXPECT_EQ(TransferDecoded("YWI=Zm9v", Base64Stray::kSkip), "ab");
    EXPECT_EQ(TransferDecoded("YWI=Zm9v", Base64Stray::kStop), "ab");
    // Bits that do not fill a byte are dropped.
    EXPECT_EQ(TransferDecoded("Y", Base64Stray::kSkip), "");
    EXPECT_EQ(TransferDecoded("YWJjZ", Base64Stray::kSkip), "abc");
    // A NUL is a stray byte like any other.
    EXPECT_EQ(TransferDecoded(std::string("YW\0Jj", 5), Base64Stray::kSkip), "abc");
    EXPECT_EQ(TransferDecoded(std::string("YW\0Jj", 5), Base64Stray::kStop), "a");
    // The mailbox-name alphabet's "," is not base64 here.
    EXPECT_EQ(TransferDecoded("+,8A", Base64Stray::kSkip), "\xfb\xc0");
    EXPECT_EQ(TransferDecoded("", Base64Stray::kSkip), "");
}

}  // namespace
