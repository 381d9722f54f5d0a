// FindUser, VerifyPassword and the stored-password form: base64 of the DES-CBC encryption of
// user name + password, zero-filled to whole blocks, under a fixed key and initialisation
// vector whose bytes get odd parity in bit 7 before use.
#include "store/password.h"

#include <cstring>

#include "mime/base64.h"
#include "store/des.h"

const unsigned char PasswordKey[8] = {'O', 'r', 'v', 'I', 'm', 'a', 'p', 'S'};
const unsigned char PasswordIv[8] = {'I', 'M', 'A', 'P', '4', 'r', 'e', 'v'};

namespace {

// Rewrites bit 7 of a byte so the byte holds an odd number of 1 bits.
unsigned char WithOddParity(unsigned char b) {
    int ones = 0;
    for (int bit = 0; bit < 7; ++bit)
        ones += (b >> bit) & 1;
    return static_cast<unsigned char>((b & 0x7F) | (ones % 2 == 0 ? 0x80 : 0));
}

void Prepare(const unsigned char in[8], unsigned char out[8]) {
    for (int i = 0; i < 8; ++i)
        out[i] = WithOddParity(in[i]);
}

// The uncounted case-sensitive compare, with a Text that never got a buffer read as "".
bool SameText(const Text& a, const Text& b) {
    if (!a.HasBuffer())
        return b.c_str()[0] == 0;
    return a.Compare(b.c_str()) == 0;
}

}  // namespace

const UserRecord* FindUser(const UserTable& table, const Text& name) {
    for (int i = 0; i < table.Count(); ++i) {
        const UserRecord* user = table.At(i);
        if (user != nullptr && SameText(user->userName, name))
            return user;
    }
    return nullptr;
}

Text DecryptStoredPassword(const UserRecord& user, bool* ok) {
    unsigned char key[8];
    unsigned char iv[8];
    Prepare(PasswordKey, key);
    Prepare(PasswordIv, iv);
    Des des(key);

    Base64Codec codec;
    size_t n = 0;
    const unsigned char* cipher = codec.Decode(user.storedPassword.c_str(), &n);

    // Whole blocks plus at least one byte for the terminator at offset n; a last block the
    // ciphertext does not fill stays zero.
    size_t size = (n + 8) / 8 * 8;
    size_t blocks = (n + 7) / 8;
    unsigned char* plain = new unsigned char[size]();
    std::memcpy(plain, cipher, n);
    des.CbcDecrypt(plain, blocks, iv);
    plain[n] = 0;

    // The user-name prefix is skipped by its length alone.
    size_t skip = static_cast<size_t>(user.userName.Length());
    bool fits = skip <= n;
    Text password(fits ? reinterpret_cast<const char*>(plain + skip) : "");
    std::memset(plain, 0, size);
    delete[] plain;
    if (ok != nullptr)
        *ok = fits;
    return password;
}

bool VerifyPassword(const UserRecord& user, const Text& password) {
    bool ok = false;
    Text clear = DecryptStoredPassword(user, &ok);
    return ok && SameText(clear, password);
}

Text EncryptStoredPassword(const Text& userName, const Text& password) {
    unsigned char key[8];
    unsigned char iv[8];
    Prepare(PasswordKey, key);
    Prepare(PasswordIv, iv);
    Des des(key);

    size_t nameLength = static_cast<size_t>(userName.Length());
    size_t passwordLength = static_cast<size_t>(password.Length());
    size_t n = nameLength + passwordLength;
    size_t size = (n + 7) / 8 * 8;
    unsigned char* plain = new unsigned char[size + 1]();
    std::memcpy(plain, userName.c_str(), nameLength);
    std::memcpy(plain + nameLength, password.c_str(), passwordLength);
    des.CbcEncrypt(plain, size / 8, iv);

    Base64Codec codec;
    Text stored(codec.Encode(plain, size));
    delete[] plain;
    return stored;
}
