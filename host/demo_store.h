// The demo store that "orvex-host --make-demo" writes: settings and one user made through the
// setup tool's own code, and a small folder tree with Japanese and English mail in the host's
// Shift_JIS form, stored through the same code that imports a message for the plug-in.
#ifndef ORV_HOST_DEMO_STORE_H_
#define ORV_HOST_DEMO_STORE_H_

#include <string>

// The account and port of the demo.
constexpr char kDemoUser[] = "demo";
constexpr char kDemoPassword[] = "demo";
constexpr unsigned kDemoPort = 10143;

// Makes the demo store in the mailbox directory (created when missing). Refused, with nothing
// written, when the directory already holds anything. False with the reason in *error.
bool MakeDemoStore(const std::string& directory, std::string* error);

#endif  // ORV_HOST_DEMO_STORE_H_
