// What the fuzz targets share: a scratch mailbox directory made once per process, files written
// into it from the fuzzer's bytes, a host function table whose mailbox call names that directory,
// and a small but varied store (settings, one user, folders, index files, messages) for the
// targets that run whole commands against real files.
#ifndef ORV_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define ORV_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// The mailbox directory of this process, ending with "/": created empty at the first call,
// removed when the process exits normally. The host table is bound to it at the same time.
const std::string& MailboxDirectory();

// Writes bytes to path, replacing the file (its directory must exist). False on failure.
bool WriteBytes(const std::string& path, const void* data, size_t size);
bool WriteBytes(const std::string& path, const std::string& bytes);
// The whole file, or "" when it cannot be read.
std::string ReadBytes(const std::string& path);
// Makes a directory and its parents.
void MakeDirectory(const std::string& path);

// The user of the session store and its password.
constexpr char kUser[] = "fuzz";
constexpr char kPassword[] = "secret";

// Writes the session store into the mailbox directory (once; later calls do nothing): the
// settings file, the account file with kUser, and kUser's folder tree with its messages.
void MakeSessionStore();
// Puts back every file of the session store that a command may have written (the settings'
// UIDVALIDITY counter, the folders' "Entry.ini" subscription keys) and removes "Entry.ini"
// files that a command created, so every input starts from the same store.
void RestoreSessionStore();

// The messages of the session store, as the host keeps them (status line, CR LF line ends).
std::vector<std::string> SampleMessages();

// Shift_JIS bytes of a few Japanese words used in the stored messages and titles.
extern const char kSjisInbox[];    // 受信トレイ
extern const char kSjisWork[];     // 仕事
extern const char kSjisMeeting[];  // 打ち合わせ
extern const char kSjisHyou[];     // 表 (trail byte 0x5C)

}  // namespace fuzz

#endif  // ORV_TESTS_FUZZ_FUZZ_SUPPORT_H_
