// The handlers of the command table, one per command (a file each under commands/, a pair of
// twins such as LIST and LSUB sharing one). The table has checked the mode and the state; each
// handler checks its arguments and answers, exact path first.
#ifndef ORV_IMAP_COMMANDS_COMMANDS_H_
#define ORV_IMAP_COMMANDS_COMMANDS_H_

#include <cstddef>
#include <vector>

class Session;

void RunCapability(Session& s);
void RunLogout(Session& s);
void RunNoop(Session& s);
void RunLogin(Session& s);
void RunStartTls(Session& s);
void RunIdle(Session& s);
void RunSelect(Session& s);
void RunExamine(Session& s);
void RunCreate(Session& s);
void RunDelete(Session& s);
void RunRename(Session& s);
void RunSubscribe(Session& s);
void RunUnsubscribe(Session& s);
void RunList(Session& s);
void RunLsub(Session& s);
void RunStatus(Session& s);
void RunAppend(Session& s);
void RunCheck(Session& s);
void RunClose(Session& s);
void RunUnselect(Session& s);
void RunExpunge(Session& s);
void RunSearch(Session& s);
void RunFetch(Session& s);
void RunStore(Session& s);
void RunCopy(Session& s);
void RunMove(Session& s);
void RunEnable(Session& s);
void RunAuthenticate(Session& s);
void RunId(Session& s);
void RunNamespace(Session& s);

// Checks a user name and password as LOGIN does and logs the session in, or answers the failure
// (late, as LoginThrottle says) and closes the connection after too many (commands/login.cpp).
class Text;
void LogIn(Session& s, const Text& name, const Text& password);

// Has the host delete the selected folder's messages marked \Deleted (only those of uidSet
// when given), with an untagged EXPUNGE for each when report is true (commands/expunge.cpp).
void ExpungeDeleted(Session& s, bool report, const Text* uidSet);
// Has the host delete the chosen messages of the selected folder and takes those it removed out
// of the session's index, with an untagged EXPUNGE for each when report is true. Returns how
// many of them are still there (commands/expunge.cpp).
struct MessageEntry;
size_t DeleteMessages(Session& s, const std::vector<const MessageEntry*>& chosen, bool report);

// STATUS's item text for a folder (commands/status.cpp): each word of items (blank-separated)
// in the client's spelling, a blank and its value; an unknown word keeps its blank and gets no
// value. KnownStatusItems: whether every word is one of the items the extended mode knows.
class Mailbox;
Text StatusItems(const Text& items, const Mailbox& mailbox);
bool KnownStatusItems(const Text& items);

#endif  // ORV_IMAP_COMMANDS_COMMANDS_H_
