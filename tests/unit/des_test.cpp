// Tests of Des: known-answer vectors of the standard and vectors computed once with a reference
// implementation, decryption back to the plaintext, the key bits DES ignores, and CBC chaining.
#include "store/des.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Block {
    unsigned char b[8];
};

Block FromHex(const char* hex) {
    Block out{};
    for (int i = 0; i < 8; ++i) {
        unsigned v = 0;
        std::sscanf(hex + 2 * i, "%2x", &v);
        out.b[i] = static_cast<unsigned char>(v);
    }
    return out;
}

std::string ToHex(const unsigned char* bytes, size_t n) {
    std::string out;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        out += two;
    }
    return out;
}

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// The first is the worked example of the standard; the others are classic known answers and
// values taken from a reference implementation in ECB mode.
const Vector kVectors[] = {
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
    {"0101010101010101", "95F8A5E5DD31D900", "8000000000000000"},
    {"FEDCBA9876543210", "0000000000000000", "A68CDCA90C9021F9"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"1F1F1F1F0E0E0E0E", "FFFFFFFFFFFFFFFF", "D0A2DF15C684B879"},
};

TEST(Des, KnownAnswersEncryptAndDecrypt) {
    for (const Vector& v : kVectors) {
        Block key = FromHex(v.key);
        Block plain = FromHex(v.plain);
        Des des(key.b);
        unsigned char out[8];
        des.EncryptBlock(plain.b, out);
        EXPECT_EQ(ToHex(out, 8), v.cipher) << "key " << v.key;
        des.DecryptBlock(out, out);  // in place
        EXPECT_EQ(ToHex(out, 8), v.plain) << "key " << v.key;
    }
}

TEST(Des, TheLowBitOfEveryKeyByteIsIgnoredButBitSevenIsNot) {
    Block key = FromHex("133457799BBCDFF1");
    Block plain = FromHex("0123456789ABCDEF");
    unsigned char expected[8];
    Des(key.b).EncryptBlock(plain.b, expected);

    Block flipped = key;
    for (unsigned char& b : flipped.b)
        b ^= 0x01;
    unsigned char out[8];
    Des(flipped.b).EncryptBlock(plain.b, out);
    EXPECT_EQ(ToHex(out, 8), ToHex(expected, 8));

    for (int i = 0; i < 8; ++i) {
        Block high = key;
        high.b[i] ^= 0x80;
        Des(high.b).EncryptBlock(plain.b, out);
        EXPECT_NE(ToHex(out, 8), ToHex(expected, 8)) << "key byte " << i;
    }
}

TEST(Des, CbcChainsEveryBlockToThePreviousCiphertext) {
    Block key = FromHex("133457799BBCDFF1");
    Block iv = FromHex("0102030405060708");
    const char* plainHex = "0123456789ABCDEF0011223344556677DEADBEEFCAFEBABE";
    unsigned char data[24];
    for (int i = 0; i < 3; ++i)
        std::memcpy(data + 8 * i, FromHex(plainHex + 16 * i).b, 8);
    unsigned char plain[24];
    std::memcpy(plain, data, 24);

    Des des(key.b);
    des.CbcEncrypt(data, 3, iv.b);
    // Computed once with a reference implementation in CBC mode without padding.
    EXPECT_EQ(ToHex(data, 24), "E61690CC695580F65B65F8FA3B0D931C49C33B1EBA70098A");

    // The first block is the plain block mixed with the vector, the second with the first
    // ciphertext block.
    unsigned char mixed[8];
    unsigned char one[8];
    for (int i = 0; i < 8; ++i)
        mixed[i] = plain[8 + i] ^ data[i];
    des.EncryptBlock(mixed, one);
    EXPECT_EQ(ToHex(one, 8), ToHex(data + 8, 8));

    des.CbcDecrypt(data, 3, iv.b);
    EXPECT_EQ(ToHex(data, 24), ToHex(plain, 24));
}

}  // namespace
