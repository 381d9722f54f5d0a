// HostApi: the host program's exported functions, bound by name when the plug-in is loaded.
// All 34 names must be present for the load to succeed; the server calls three of them, and
// a fourth (the delete) in extended mode.
#ifndef ORV_SHELL_HOST_API_H_
#define ORV_SHELL_HOST_API_H_

#include <cstdint>

#include "platform/modules.h"

// The host's functions use the callee-pops convention of the target platform.
#if defined(_WIN32) && defined(__i386__)
#define ORV_HOSTCALL __stdcall
#else
#define ORV_HOSTCALL
#endif

constexpr int kHostFunctionCount = 34;

// The decorated names, in binding order.
extern const char* const kHostFunctionNames[kHostFunctionCount];

struct HostApi {
    platform::ModuleHandle module = nullptr;
    void* functions[kHostFunctionCount] = {};
};

// The process-wide table.
HostApi& Host();

// Binds every host function from the main program. True when all were found (or the table
// was already bound); on the first missing name the table is cleared and false returned.
bool BindHostApi();
// Forgets the host module (at unload).
void UnbindHostApi();
// Binds the table from explicit addresses (tests and tools that are their own host). The
// array holds kHostFunctionCount addresses in binding order.
void BindHostApiFrom(platform::ModuleHandle module, void* const* functions);

// The calls the server makes. A call through an unbound table does nothing (and the mailbox
// call yields "").
const char* HostGetMailbox();
void HostImportFile(const char* file, const char* folder, uint32_t status);
void HostMarkMail(const char* key, uint32_t mask, int value);
// Asks the host to delete the message its key names (mail root, "\", folder path, "\", file
// name without extension): its file and its line in the folder's index. Extended mode only.
void HostDeleteMail(const char* key);

#endif  // ORV_SHELL_HOST_API_H_
