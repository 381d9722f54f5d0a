// Password verification for LOGIN: the account file stores base64 of the DES-CBC encryption of
// the user name followed by the password (zero-filled to whole blocks) under a fixed key and
// initialisation vector. The server only decrypts; EncryptStoredPassword is for the tools.
#ifndef ORV_STORE_PASSWORD_H_
#define ORV_STORE_PASSWORD_H_

#include "base/text.h"
#include "store/user_table.h"

// The fixed key and initialisation vector, before their bit-7 parity rewrite.
extern const unsigned char PasswordKey[8];  // "OrvImapS"
extern const unsigned char PasswordIv[8];   // "IMAP4rev"

// The first record whose userName equals name exactly, or null.
const UserRecord* FindUser(const UserTable& table, const Text& name);
// True when password is the record's password.
bool VerifyPassword(const UserRecord& user, const Text& password);
// The clear password of a record (empty, and a failed check, when the plaintext is shorter
// than the user name).
Text DecryptStoredPassword(const UserRecord& user, bool* ok = nullptr);
// The stored form for a user name and password.
Text EncryptStoredPassword(const Text& userName, const Text& password);

#endif  // ORV_STORE_PASSWORD_H_
