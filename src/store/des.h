// Des: the DES block cipher (FIPS 46) on one 8-byte block, with CBC over whole blocks. The
// server uses it only to decrypt the stored passwords of the account file; the tools encrypt.
//
// The key schedule is built once at construction from an 8-byte key; DES ignores the least
// significant bit of every key byte. Blocks are big-endian: byte 0 holds bits 1 to 8.
#ifndef ORV_STORE_DES_H_
#define ORV_STORE_DES_H_

#include <cstddef>
#include <cstdint>

class Des {
  public:
    explicit Des(const unsigned char key[8]);

    // One block; in and out may be the same buffer.
    void EncryptBlock(const unsigned char in[8], unsigned char out[8]) const;
    void DecryptBlock(const unsigned char in[8], unsigned char out[8]) const;

    // CBC over blocks * 8 bytes of data, in place, starting from the initialisation vector iv.
    void CbcEncrypt(unsigned char* data, size_t blocks, const unsigned char iv[8]) const;
    void CbcDecrypt(unsigned char* data, size_t blocks, const unsigned char iv[8]) const;

  private:
    uint64_t Crypt(uint64_t block, bool decrypt) const;

    uint64_t subkeys_[16];  // 48-bit round keys in the low bits
};

#endif  // ORV_STORE_DES_H_
