// orvex-host: a stand-in for the mail client that hosts the plug-in. It exports the host's
// functions, keeps the mail store they change, loads the plug-in, starts its server and serves
// until it is asked to stop; it can also open the plug-in's version dialog or its setup, or
// write a demo store to serve.
#include <cstdio>
#include <string>

#include "host/demo_store.h"
#include "host/host_functions.h"
#include "host/plugin_library.h"
#include "platform/files.h"
#include "platform/modules.h"
#include "platform/process.h"
#include "platform/profile.h"

namespace {

const char kUsage[] =
    "usage: orvex-host --mailbox DIR [--plugin PATH] [--journal FILE]\n"
    "                  [--restart-on-interrupt]\n"
    "       orvex-host --mailbox DIR [--plugin PATH] --version-info\n"
    "       orvex-host --mailbox DIR [--plugin PATH] --setup\n"
    "       orvex-host --mailbox DIR --make-demo\n"
    "       orvex-host --help\n"
    "\n"
    "Loads the plug-in (by default OrvImapS.so beside this program) into this process, as the\n"
    "mail client does, and starts its IMAP server on the mailbox directory DIR, whose\n"
    "Imap4.ini gives the port and whose passwd file lists the users. Serves until interrupted\n"
    "(Ctrl-C) or terminated, then stops the server, saying goodbye to every client. Messages\n"
    "that clients append or copy, and flags they change, are stored in DIR as the mail client\n"
    "would store them.\n"
    "\n"
    "  --mailbox DIR    the mail client's mailbox directory\n"
    "  --plugin PATH    the plug-in library to load\n"
    "  --journal FILE   write one line to FILE for every host function the plug-in calls\n"
    "  --restart-on-interrupt\n"
    "                   an interrupt (Ctrl-C, SIGINT) stops the server and starts it again\n"
    "                   in the same process, without unloading the plug-in, as the mail\n"
    "                   client does when its settings change; it reads its settings and\n"
    "                   users afresh. Only a termination request (SIGTERM) ends the host\n"
    "  --version-info   show the plug-in's version dialog instead of serving\n"
    "  --setup          run the plug-in's setup instead of serving\n"
    "  --make-demo      write a demo store into DIR (a new or empty directory) and exit:\n"
    "                   user demo, password demo, port 10143, Japanese and English mail\n"
    "  --help           show this text\n";

enum class Mode { kServe, kVersionInfo, kSetup, kMakeDemo };

struct Options {
    std::string mailbox;
    std::string plugin;
    std::string journal;
    Mode mode = Mode::kServe;
    bool restartOnInterrupt = false;
};

void Error(const std::string& message) {
    std::fprintf(stderr, "orvex-host: %s\n", message.c_str());
}

// Parses the command line. 0: go on; otherwise the exit code to end with.
int ParseOptions(int argc, char** argv, Options* options) {
    bool modeGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return -1;
        }
        std::string* value = nullptr;
        if (arg == "--mailbox") {
            value = &options->mailbox;
        } else if (arg == "--plugin") {
            value = &options->plugin;
        } else if (arg == "--journal") {
            value = &options->journal;
        } else if (arg == "--restart-on-interrupt") {
            options->restartOnInterrupt = true;
            continue;
        } else if (arg == "--version-info" || arg == "--setup" || arg == "--make-demo") {
            if (modeGiven) {
                Error("--version-info, --setup and --make-demo exclude each other");
                return 2;
            }
            modeGiven = true;
            options->mode = arg == "--setup"       ? Mode::kSetup
                            : arg == "--make-demo" ? Mode::kMakeDemo
                                                   : Mode::kVersionInfo;
            continue;
        } else {
            Error("unknown argument '" + arg + "' (try --help)");
            return 2;
        }
        if (i + 1 >= argc || argv[i + 1][0] == 0) {
            Error(arg + " needs a value (try --help)");
            return 2;
        }
        *value = argv[++i];
    }
    if (options->mailbox.empty()) {
        Error("--mailbox DIR is required (try --help)");
        return 2;
    }
    return 0;
}

// A path as given on the command line, made absolute so that the module layer does not look
// for it beside this program first.
std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/')
        return path;
#if defined(_WIN32)
    // A drive ("C:\...", "Z:/...") or a root or network path ("\\server\...").
    if (path[0] == '\\' || (path.size() > 1 && path[1] == ':'))
        return path;
#endif
    return platform::CurrentDirectory() + path;
}

uint16_t ConfiguredPort(const std::string& mailbox) {
    const std::string settings = mailbox + "Imap4.ini";
    return static_cast<uint16_t>(platform::ProfileInt("Server", "PortNo", 143, settings.c_str()) &
                                 0xFFFF);
}

// Starts the plug-in's server on the port of the settings; false (with the server cleaned up
// again) when it cannot listen.
bool StartServer(PluginLibrary& plugin, const std::string& mailbox) {
    const uint16_t port = ConfiguredPort(mailbox);
    if (plugin.StartUp() == 0) {
        Error("the IMAP server cannot listen on port " + std::to_string(port) +
              " (the port is in use by another program, or not allowed)");
        plugin.CleanUp();
        return false;
    }
    std::printf("orvex-host: %s listening on port %u\n", plugin.GetPlugName(),
                static_cast<unsigned>(port));
    std::fflush(stdout);
    return true;
}

int Serve(PluginLibrary& plugin, const std::string& mailbox, bool restartOnInterrupt) {
    constexpr int kInterrupt = 2;
    if (!StartServer(plugin, mailbox))
        return 1;
    int signal = platform::WaitForStopSignal();
    while (restartOnInterrupt && signal == kInterrupt) {
        std::printf("orvex-host: restarting the server (signal %d)\n", signal);
        std::fflush(stdout);
        plugin.CleanUp();
        if (!StartServer(plugin, mailbox))
            return 1;
        signal = platform::WaitForStopSignal();
    }
    std::printf("orvex-host: stopping (signal %d)\n", signal);
    std::fflush(stdout);
    plugin.CleanUp();
    return 0;
}

int MakeDemo(const std::string& directory) {
    std::string error;
    if (!MakeDemoStore(directory, &error)) {
        Error(error);
        return 1;
    }
    std::printf("orvex-host: demo store written to %s (user %s, password %s, port %u)\n",
                directory.c_str(), kDemoUser, kDemoPassword, kDemoPort);
    return 0;
}

int Run(const Options& options) {
    if (options.mode == Mode::kMakeDemo)
        return MakeDemo(options.mailbox);
    if (!platform::DirectoryExists(options.mailbox.c_str())) {
        Error("the mailbox directory " + options.mailbox + " does not exist");
        return 1;
    }
    std::string mailbox = options.mailbox;
#if defined(_WIN32)
    if (mailbox.back() != '/' && mailbox.back() != '\\')
        mailbox += '\\';
#else
    if (mailbox.back() != '/')
        mailbox += '/';
#endif
    SetHostMailbox(mailbox);

    if (!options.journal.empty() && !OpenHostJournal(options.journal.c_str())) {
        Error("cannot write the journal " + options.journal);
        return 1;
    }

    // Before the plug-in starts any thread, so that all of them leave the stop requests to the
    // wait in Serve. The dialogs of the other modes stay interruptible.
    if (options.mode == Mode::kServe)
        platform::BlockStopSignals();

    const std::string path = options.plugin.empty() ? platform::MainProgramDirectory() +
                                                          platform::LibraryFileName("OrvImapS.dll")
                                                    : Absolute(options.plugin);
    PluginLibrary plugin;
    std::string error;
    if (!plugin.Load(path, &error)) {
        Error(error);
        return 1;
    }
    if (!plugin.Attach()) {
        Error("the plug-in " + path + " refused to load");
        return 1;
    }

    int rc = 0;
    switch (options.mode) {
        case Mode::kServe:
            rc = Serve(plugin, mailbox, options.restartOnInterrupt);
            break;
        case Mode::kVersionInfo: {
            // The process number lets a script close the dialog (taskkill /PID) where the
            // system's process list cannot find the program by its name.
            std::printf("orvex-host: process %u shows the version dialog\n",
                        static_cast<unsigned>(platform::CurrentProcessId()));
            std::fflush(stdout);
            const int result = plugin.VersionInfo(nullptr);
            std::printf("orvex-host: the version dialog returned %d\n", result);
            rc = result == 1 ? 0 : 1;
            break;
        }
        case Mode::kMakeDemo:  // done above, without the plug-in
            break;
        case Mode::kSetup: {
            // As for the version dialog: where the setup module shows a dialog, a script
            // closes it by the process number.
            std::printf("orvex-host: process %u runs the setup\n",
                        static_cast<unsigned>(platform::CurrentProcessId()));
            std::fflush(stdout);
            const int result = plugin.Setup(nullptr);
            if (result == 0) {
                Error("the setup module OrImapSt could not be loaded");
                rc = 1;
            } else {
                std::printf("orvex-host: setup finished\n");
            }
            break;
        }
    }
    plugin.Unload();
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int rc = ParseOptions(argc, argv, &options);
    if (rc != 0)
        return rc < 0 ? 0 : rc;
    const int result = Run(options);
    CloseHostJournal();
    return result;
}
