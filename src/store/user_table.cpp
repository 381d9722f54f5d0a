// LoadPasswordFile: reads the account file "passwd" line by line into UserRecord entries.
// The first line without bytes (the end of the file or an empty line) ends the load.
#include "store/user_table.h"

#include "base/file.h"

int LoadPasswordFile(const char* path, UserTable* table) {
    if (path == nullptr || table == nullptr)
        return 0;
    File file;
    // Open-always: a missing account file is created empty, so no user can log in.
    if (!file.Open(path, platform::kAccessRead, platform::kOpenAlways))
        return 0;

    int added = 0;
    Text line;
    while (file.ReadLine(&line, File::kLine) > 0) {
        UserRecord* user = new UserRecord;
        user->mailRoot = line.SplitToken(':');
        user->userName = line.SplitToken(':');
        user->storedPassword = line.SplitToken(':');
        table->Append(user);
        ++added;
    }
    return added;
}
