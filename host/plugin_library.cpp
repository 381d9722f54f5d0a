#include "host/plugin_library.h"

#include "platform/process.h"

namespace {

// Every entry point a plug-in must export; the host refuses a library that lacks one.
const char* const kEntryPoints[] = {
    "OPCGetPlugName",    "OPCVersionInfo",  "OPCStartUp",           "OPCCleanUp",
    "OPCSetup",          "OPCRecFilter",    "OPCFolderPreOpenView", "OPCSendPost",
    "OPCFolderLoad",     "OPCFolderClose",  "OPCFolderCreate",      "OPCFolderEndRetrieve",
    "OPCSendClose",      "OPCSendCreate",   "OPCViewClose",         "OPCViewCreate",
    "OPCFolderInitMenu", "OPCSendInitMenu", "OPCViewInitMenu",      "OPCViewLoadMail",
};

constexpr uint32_t kProcessDetach = 0;
constexpr uint32_t kProcessAttach = 1;
// How long the unload waits for the plug-in's last threads to leave its code.
constexpr uint32_t kThreadExitWaitMs = 5000;

template <typename Fn>
Fn Lookup(platform::ModuleHandle module, const char* name) {
    return reinterpret_cast<Fn>(platform::FindSymbol(module, name));
}

}  // namespace

PluginLibrary::~PluginLibrary() {
    Unload();
}

bool PluginLibrary::Load(const std::string& path, std::string* error) {
    module_ = platform::LoadModule(path.c_str());
    if (module_ == nullptr) {
        *error = "cannot load the plug-in " + path;
        const std::string why = platform::LastModuleLoadError();
        if (!why.empty())
            *error += ": " + why;
        return false;
    }
#if defined(_WIN32)
    // The loader has sent the attach notification already; a refused one failed the load.
    attached_ = true;
#else
    pluginMain_ = Lookup<PluginMainFn>(module_, "PluginMain");
    if (pluginMain_ == nullptr) {
        *error = path + " is not a plug-in: it has no load notification (PluginMain)";
        Unload();
        return false;
    }
#endif
    for (const char* name : kEntryPoints) {
        if (platform::FindSymbol(module_, name) == nullptr) {
            *error = "the plug-in " + path + " lacks the entry point " + name;
            Unload();
            return false;
        }
    }
    getPlugName_ = Lookup<GetPlugNameFn>(module_, "OPCGetPlugName");
    startUp_ = Lookup<StartUpFn>(module_, "OPCStartUp");
    cleanUp_ = Lookup<CleanUpFn>(module_, "OPCCleanUp");
    setup_ = Lookup<WindowFn>(module_, "OPCSetup");
    versionInfo_ = Lookup<WindowFn>(module_, "OPCVersionInfo");
    return true;
}

bool PluginLibrary::Attach() {
    if (module_ == nullptr)
        return false;
#if defined(_WIN32)
    return attached_;
#endif
    if (pluginMain_(module_, kProcessAttach) == 0) {
        // As the platform loader does, a refused attach is followed by the detach notification
        // before the library is unloaded.
        pluginMain_(module_, kProcessDetach);
        Unload();
        return false;
    }
    attached_ = true;
    return true;
}

void PluginLibrary::Unload() {
    if (module_ == nullptr)
        return;
    if (attached_ && pluginMain_ != nullptr)
        pluginMain_(module_, kProcessDetach);
    attached_ = false;
    // Threads of the plug-in that have ended their work may still be leaving its code.
    platform::WaitUntilOnlyThread(kThreadExitWaitMs);
    // The leak check must run while the library is still mapped: afterwards its frames have no
    // names and the blocks its singletons keep for the process's lifetime look lost.
    platform::CheckLeaksBeforeUnload();
    platform::FreeModule(module_);
    module_ = nullptr;
}
