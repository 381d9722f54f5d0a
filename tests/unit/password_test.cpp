// Tests of the stored-password form and of FindUser / VerifyPassword: values pinned from a
// reference DES-CBC encryption, block-length edge cases, the zero byte that ends a password,
// the user-name prefix skipped by length, short plaintexts and the order of the user table.
#include "store/password.h"

#include <gtest/gtest.h>

#include <string>

#include "mime/base64.h"

namespace {

UserRecord Record(const char* name, const Text& stored) {
    UserRecord user;
    user.mailRoot = "root";
    user.userName = name;
    user.storedPassword = stored;
    return user;
}

// A Text holding exactly the bytes of s, zero bytes included.
Text Bytes(const std::string& s) {
    Text t("");
    for (char c : s)
        t.Append(c);
    return t;
}

// The number of ciphertext bytes a stored form holds.
size_t CipherLength(const Text& stored) {
    Base64Codec codec;
    size_t n = 0;
    codec.Decode(stored.c_str(), &n);
    return n;
}

TEST(PasswordConstants, AreTheFixedAsciiTexts) {
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(PasswordKey), 8), "OrvImapS");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(PasswordIv), 8), "IMAP4rev");
}

TEST(StoredPassword, MatchesValuesFromAReferenceEncryption) {
    // DES-CBC under the parity-rewritten key 4FF276496D6170D3 and vector 49CDC1D034F2E576,
    // zero-filled plaintext, standard base64.
    EXPECT_STREQ(EncryptStoredPassword("alice", "Secret1").c_str(), "If5AmGg3cRi++XTQjOe9NA==");
    EXPECT_STREQ(EncryptStoredPassword("userone", "password1").c_str(), "wOzqX1F9rYvJ7yPZ70Xnug==");

    EXPECT_TRUE(VerifyPassword(Record("alice", "If5AmGg3cRi++XTQjOe9NA=="), "Secret1"));
    EXPECT_STREQ(DecryptStoredPassword(Record("alice", "If5AmGg3cRi++XTQjOe9NA==")).c_str(),
                 "Secret1");
    // The same text without its pad characters decodes alike.
    EXPECT_TRUE(VerifyPassword(Record("alice", "If5AmGg3cRi++XTQjOe9NA"), "Secret1"));
}

TEST(VerifyPassword, AcceptsOnlyTheExactPassword) {
    UserRecord user = Record("bob", EncryptStoredPassword("bob", "Hunter2"));
    EXPECT_TRUE(VerifyPassword(user, "Hunter2"));
    EXPECT_FALSE(VerifyPassword(user, "hunter2"));
    EXPECT_FALSE(VerifyPassword(user, "HUNTER2"));
    EXPECT_FALSE(VerifyPassword(user, "Hunter"));
    EXPECT_FALSE(VerifyPassword(user, "Hunter22"));
    EXPECT_FALSE(VerifyPassword(user, ""));
    EXPECT_FALSE(VerifyPassword(user, Text()));
    // Decrypting again on every call: the same record answers the same way twice.
    EXPECT_TRUE(VerifyPassword(user, "Hunter2"));
}

TEST(VerifyPassword, WholeBlocksAndEmptyPasswords) {
    // 8 and 16 bytes of plaintext: no zero byte in it, the password ends with the plaintext.
    Text eight = EncryptStoredPassword("user", "pass");
    EXPECT_EQ(CipherLength(eight), 8u);
    EXPECT_TRUE(VerifyPassword(Record("user", eight), "pass"));
    EXPECT_STREQ(DecryptStoredPassword(Record("user", eight)).c_str(), "pass");

    Text sixteen = EncryptStoredPassword("username", "password");
    EXPECT_EQ(CipherLength(sixteen), 16u);
    EXPECT_TRUE(VerifyPassword(Record("username", sixteen), "password"));
    EXPECT_FALSE(VerifyPassword(Record("username", sixteen), "passwor"));

    // One byte more needs a third block.
    EXPECT_EQ(CipherLength(EncryptStoredPassword("username", "password!")), 24u);

    // A user name filling the plaintext exactly leaves the empty password.
    Text nameOnly = EncryptStoredPassword("12345678", "");
    EXPECT_EQ(CipherLength(nameOnly), 8u);
    EXPECT_TRUE(VerifyPassword(Record("12345678", nameOnly), ""));
    EXPECT_TRUE(VerifyPassword(Record("12345678", nameOnly), Text()));
    EXPECT_FALSE(VerifyPassword(Record("12345678", nameOnly), "x"));

    // An empty stored value with an empty user name is the empty password.
    EXPECT_TRUE(EncryptStoredPassword("", "").IsEmpty());
    EXPECT_TRUE(VerifyPassword(Record("", ""), ""));
    EXPECT_TRUE(VerifyPassword(Record("", Text()), Text()));
    EXPECT_FALSE(VerifyPassword(Record("", ""), "x"));
}

TEST(VerifyPassword, AZeroByteEndsThePassword) {
    // User name "carol", then "pw", a zero byte and further bytes.
    Text stored = EncryptStoredPassword("carol", Bytes(std::string("pw\0trailing", 11)));
    bool ok = false;
    EXPECT_STREQ(DecryptStoredPassword(Record("carol", stored), &ok).c_str(), "pw");
    EXPECT_TRUE(ok);
    EXPECT_TRUE(VerifyPassword(Record("carol", stored), "pw"));
    EXPECT_FALSE(VerifyPassword(Record("carol", stored), "pwtrailing"));
}

TEST(VerifyPassword, TheUserNamePrefixIsSkippedByLengthOnly) {
    Text stored = EncryptStoredPassword("carol", "secret");
    // Another name of the same length verifies the same password.
    EXPECT_TRUE(VerifyPassword(Record("david", stored), "secret"));
    // A shorter or longer name shifts where the password starts.
    EXPECT_STREQ(DecryptStoredPassword(Record("caro", stored)).c_str(), "lsecret");
    EXPECT_STREQ(DecryptStoredPassword(Record("carols", stored)).c_str(), "ecret");
    EXPECT_FALSE(VerifyPassword(Record("caro", stored), "secret"));
}

TEST(VerifyPassword, PlaintextShorterThanTheUserNameFails) {
    // 8 bytes of plaintext, a user name of 16: nothing may be read past the buffer.
    Text stored = EncryptStoredPassword("", "abc");
    UserRecord user = Record("a-long-user-name", stored);
    bool ok = true;
    EXPECT_STREQ(DecryptStoredPassword(user, &ok).c_str(), "");
    EXPECT_FALSE(ok);
    EXPECT_FALSE(VerifyPassword(user, ""));
    EXPECT_FALSE(VerifyPassword(user, Text()));

    // One byte beyond the plaintext is too far as well.
    Text eight = EncryptStoredPassword("", "12345678");
    EXPECT_FALSE(VerifyPassword(Record("123456789", eight), ""));
    // An empty stored value with a user name.
    EXPECT_FALSE(VerifyPassword(Record("bob", ""), ""));
}

TEST(VerifyPassword, DamagedStoredValuesDecodeWithoutHarm) {
    // Foreign characters, a ciphertext that is not a whole block, line breaks: no crash, no
    // read past the buffer, and no match for the original password.
    Text good = EncryptStoredPassword("eve", "letmein");
    const char* damaged[] = {"!!!!!!!!!!!!", "AAAAAAA", "YWJjZA==", "If5A\r\nmGg3cRi++XTQ", "*"};
    for (const char* text : damaged) {
        UserRecord user = Record("eve", text);
        DecryptStoredPassword(user);
        EXPECT_FALSE(VerifyPassword(user, "letmein")) << text;
    }
    std::string flipped = good.c_str();
    flipped[0] = flipped[0] == 'A' ? 'B' : 'A';
    EXPECT_FALSE(VerifyPassword(Record("eve", flipped.c_str()), "letmein"));
    EXPECT_TRUE(VerifyPassword(Record("eve", good), "letmein"));
}

TEST(FindUser, FirstExactMatchWins) {
    UserTable table;
    EXPECT_EQ(FindUser(table, "alice"), nullptr);

    UserRecord* first = new UserRecord(Record("alice", EncryptStoredPassword("alice", "one")));
    UserRecord* bob = new UserRecord(Record("bob", EncryptStoredPassword("bob", "two")));
    UserRecord* second = new UserRecord(Record("alice", EncryptStoredPassword("alice", "three")));
    table.Append(first);
    table.Append(bob);
    table.Append(second);

    const UserRecord* found = FindUser(table, "alice");
    EXPECT_EQ(found, first);
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(VerifyPassword(*found, "one"));
    EXPECT_FALSE(VerifyPassword(*found, "three"));

    EXPECT_EQ(FindUser(table, "bob"), bob);
    EXPECT_EQ(FindUser(table, "Alice"), nullptr);
    EXPECT_EQ(FindUser(table, "ALICE"), nullptr);
    EXPECT_EQ(FindUser(table, "alic"), nullptr);
    EXPECT_EQ(FindUser(table, "alice "), nullptr);
    EXPECT_EQ(FindUser(table, ""), nullptr);
}

}  // namespace
