// The account file "passwd" of any bytes, loaded as start-up loads it, and every record's stored
// password decrypted and checked as LOGIN checks it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "store/password.h"
#include "store/user_table.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20)
        return 0;
    static const std::string path = fuzz::MailboxDirectory() + "passwd";
    if (!fuzz::WriteBytes(path, data, size))
        std::abort();

    UserTable users;
    const int added = LoadPasswordFile(path.c_str(), &users);
    Require(added == users.Count());
    for (int i = 0; i < users.Count(); ++i) {
        const UserRecord& user = *users.At(i);
        const UserRecord* found = FindUser(users, user.userName);
        Require(found != nullptr && found->userName == user.userName);

        bool ok = false;
        const Text clear = DecryptStoredPassword(user, &ok);
        if (ok)
            Require(VerifyPassword(user, clear));
        (void)VerifyPassword(user, user.storedPassword);
        (void)VerifyPassword(user, Text(""));

        // The tools' stored form of this user's name and the found text verifies.
        UserRecord made;
        made.userName = user.userName;
        made.storedPassword = EncryptStoredPassword(user.userName, user.mailRoot);
        Require(VerifyPassword(made, Text(user.mailRoot.c_str())));
    }
    return 0;
}
