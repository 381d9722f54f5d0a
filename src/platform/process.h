// Process and terminal services for the programs around the plug-in (the host stand-in and the
// setup tools): waiting for a stop request, the current directory, why a library did not load,
// unloading a library safely, and typing a password without echo.
#ifndef ORV_PLATFORM_PROCESS_H_
#define ORV_PLATFORM_PROCESS_H_

#include <cstdint>
#include <string>

namespace platform {

// Stop requests: the interrupt from the terminal (SIGINT, 2) and the polite termination request
// (SIGTERM, 15). BlockStopSignals holds them back in the calling thread and in every thread it
// starts afterwards, so they stay pending until WaitForStopSignal takes one; call it before any
// other thread exists. Returns true on success.
bool BlockStopSignals();
// Waits until a stop request arrives and returns its signal number (2 or 15), or -1 on failure.
int WaitForStopSignal();

// The operating system's number for this process, as its own tools (kill, taskkill /PID) name it.
uint32_t CurrentProcessId();

// The current working directory, ending with "/"; empty when unknown.
std::string CurrentDirectory();

// Why the last LoadModule on this thread failed, as the loader tells it; empty when unknown.
std::string LastModuleLoadError();

// Waits until the calling thread is the only thread of the process, at most timeoutMs
// milliseconds. A library lets its threads go once they have done their work, but they still
// run a few instructions of its code on their way out; the library must not be unloaded before
// they are gone. True when the calling thread is alone.
bool WaitUntilOnlyThread(uint32_t timeoutMs);

// Under the leak checker (an AddressSanitizer build): checks for leaked memory now, and not
// again at exit. A program that unloads a library calls it just before, while the library's
// code can still be named in a report and the blocks it keeps for the whole process are still
// reachable. Does nothing in other builds or when leak checking is off.
void CheckLeaksBeforeUnload();

// Turns the echo of typed characters on standard input on or off. Returns true when standard
// input is a terminal and the change was made; false otherwise (nothing changes).
bool SetStdinEcho(bool on);

}  // namespace platform

#endif  // ORV_PLATFORM_PROCESS_H_
