// The report of the settings and users that "orimapst show" and the setup menu print.
#ifndef ORV_SETUP_SHOW_H_
#define ORV_SETUP_SHOW_H_

#include <string>

#include "setup/setup_store.h"

// Prints the settings and the users of a mailbox directory to standard output. False (with the
// reason in *error) when the account file cannot be read.
bool ShowStore(const SetupStore& store, std::string* error);

#endif  // ORV_SETUP_SHOW_H_
