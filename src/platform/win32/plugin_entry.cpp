// The plug-in's load notification on Windows: the loader calls DllMain with the library's
// module handle, which is handed on to PluginMain, where the process-wide objects are built
// (attach) or destroyed (detach). A refused attach makes LoadLibrary fail.
#include <windows.h>

#include <cstdint>

// The plug-in's own load notification, in the entry points' calling convention.
extern "C" __stdcall int PluginMain(void* module, uint32_t reason);

// Thread notifications are left on: the runtime linked into the library keeps per-thread state
// that it frees when a thread ends.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
    return PluginMain(module, reason) != 0 ? TRUE : FALSE;
}
