// The host program's exported functions, bound by name when the plug-in is loaded, and the
// HostPort over them that the server's store is given. All 34 names must be present for the
// load to succeed; the server calls three of them, and a fourth (the delete) in extended mode.
#ifndef ORV_SHELL_HOST_BINDING_H_
#define ORV_SHELL_HOST_BINDING_H_

#include <cstdint>

#include "platform/modules.h"
#include "store/host_port.h"

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

// The HostPort of the process-wide table: each call goes through the function the table holds
// at that moment. A call through an unbound entry does nothing (and the mailbox directory is
// ""); the host's answers to the import, mark and delete are not passed on.
class HostBinding final : public HostPort {
  public:
    const char* MailboxDirectory() override;
    void ImportFile(const char* file, const char* folder, uint32_t status) override;
    void MarkMail(const char* key, uint32_t mask, int value) override;
    void DeleteMail(const char* key) override;
};

// The one HostBinding of the process, which the shell hands down to the server.
HostBinding& BoundHost();

#endif  // ORV_SHELL_HOST_BINDING_H_
