// The host functions this program exports for its plug-in, and the state behind them: the
// mailbox directory they report and the journal of every call the plug-in makes.
#ifndef ORV_HOST_HOST_FUNCTIONS_H_
#define ORV_HOST_HOST_FUNCTIONS_H_

#include <string>

// Sets the mailbox directory that _OPAGetMailbox@0 returns (it must end with "/") and whose
// store _OPAImportFile@12, _OPAMarkMail@12 and _OPADeleteMail@4 change. Call before the plug-in is
// loaded; the string must not change while the plug-in runs.
void SetHostMailbox(const std::string& directory);

// Starts the journal: from now on each host function call appends one line to the file
// (created or emptied here). False when the file cannot be opened.
bool OpenHostJournal(const char* path);
// Ends the journal and closes its file (after the plug-in is unloaded).
void CloseHostJournal();

#endif  // ORV_HOST_HOST_FUNCTIONS_H_
