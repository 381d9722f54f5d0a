// The entry points every test probe plug-in must export for the host to load it, with the
// fixed results none of the probe tests look at. Each probe adds its own PluginMain,
// OPCStartUp and OPCGetPlugName.
#include <cstdint>

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

PROBE_EXPORT int OPCCleanUp() {
    return 1;
}
PROBE_EXPORT int OPCVersionInfo(void* /*owner*/) {
    return 1;
}
PROBE_EXPORT int OPCSetup(void* /*owner*/) {
    return 1;
}
// The rest of the entry points the host requires; never called.
PROBE_EXPORT void OPCRecFilter() {}
PROBE_EXPORT void OPCFolderPreOpenView() {}
PROBE_EXPORT void OPCSendPost() {}
PROBE_EXPORT void OPCFolderLoad() {}
PROBE_EXPORT void OPCFolderClose() {}
PROBE_EXPORT void OPCFolderCreate() {}
PROBE_EXPORT void OPCFolderEndRetrieve() {}
PROBE_EXPORT void OPCSendClose() {}
PROBE_EXPORT void OPCSendCreate() {}
PROBE_EXPORT void OPCViewClose() {}
PROBE_EXPORT void OPCViewCreate() {}
PROBE_EXPORT void OPCFolderInitMenu() {}
PROBE_EXPORT void OPCSendInitMenu() {}
PROBE_EXPORT void OPCViewInitMenu() {}
PROBE_EXPORT void OPCViewLoadMail() {}
