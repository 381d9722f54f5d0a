// The users of the account file "passwd": one record per line, in file order. LOGIN looks a
// user up here; the table is filled at start-up, before any connection is accepted.
#ifndef ORV_STORE_USER_TABLE_H_
#define ORV_STORE_USER_TABLE_H_

#include "base/locked_list.h"
#include "base/text.h"

struct UserRecord {
    Text mailRoot;        // the user's folder tree, relative to the mailbox directory
    Text userName;        // the LOGIN name, compared case-sensitively
    Text storedPassword;  // base64 of the encrypted user name and password
};

using UserTable = LockedList<UserRecord>;

// Appends the users of the account file at path (system form) to table: one line per user,
// mailRoot:userName:storedPassword; reading stops at the first empty line. A missing file is
// created empty. Returns the number of records appended.
int LoadPasswordFile(const char* path, UserTable* table);

#endif  // ORV_STORE_USER_TABLE_H_
