// PluginLibrary: one plug-in loaded the way the host loads it: the library mapped, its entry
// points looked up by their plain names, and its load notification sent right after loading
// and right before unloading, as the platform loader would (on Windows the loader itself sends
// it, to DllMain).
#ifndef ORV_HOST_PLUGIN_LIBRARY_H_
#define ORV_HOST_PLUGIN_LIBRARY_H_

#include <cstdint>
#include <string>

#include "platform/modules.h"
#include "platform/ui.h"

// The entry points use the callee-pops convention on 32-bit Windows.
#if defined(_WIN32) && defined(__i386__)
#define ORV_ENTRYCALL __attribute__((stdcall))
#else
#define ORV_ENTRYCALL
#endif

class PluginLibrary {
  public:
    PluginLibrary() = default;
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // Maps the library and finds its load notification and the entry points the host calls.
    // False (with the reason in *error, the library unmapped again) when either fails.
    bool Load(const std::string& path, std::string* error);
    // Sends the attach notification. False when the plug-in refuses the load; it is then sent
    // the detach notification and the library is unmapped.
    bool Attach();
    // Sends the detach notification (when attached) and unmaps the library.
    void Unload();

    const char* GetPlugName() const { return getPlugName_(); }
    int StartUp() const { return startUp_(0); }
    int CleanUp() const { return cleanUp_(); }
    int Setup(platform::WindowHandle owner) const { return setup_(owner); }
    int VersionInfo(platform::WindowHandle owner) const { return versionInfo_(owner); }

  private:
    using PluginMainFn = int(ORV_ENTRYCALL*)(void* module, uint32_t reason);
    using GetPlugNameFn = const char*(ORV_ENTRYCALL*)();
    using StartUpFn = int(ORV_ENTRYCALL*)(uint32_t);
    using CleanUpFn = int(ORV_ENTRYCALL*)();
    using WindowFn = int(ORV_ENTRYCALL*)(platform::WindowHandle);

    platform::ModuleHandle module_ = nullptr;
    bool attached_ = false;
    PluginMainFn pluginMain_ = nullptr;
    GetPlugNameFn getPlugName_ = nullptr;
    StartUpFn startUp_ = nullptr;
    CleanUpFn cleanUp_ = nullptr;
    WindowFn setup_ = nullptr;
    WindowFn versionInfo_ = nullptr;
};

#endif  // ORV_HOST_PLUGIN_LIBRARY_H_
