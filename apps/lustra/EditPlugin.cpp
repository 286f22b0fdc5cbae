// The program's side of `lustra edit`: finds and loads lustra-edit.so, then
// hands it the command's arguments. Compiled into lustra only when the
// plug-in is built (Qt 6 available); otherwise `lustra edit` says that it is
// not available.
#include "EditPlugin.h"

#include "Commands.h"
#include "Errors.h"
#include "Installation.h"

#include <dlfcn.h>

namespace lustra::cli {

int runEditPlugin(const std::vector<std::string> &arguments) {
    std::string tried;
    void *handle = nullptr;
    std::string path;
    for (const std::string &candidate : editPluginCandidates()) {
        dlerror();
        // RTLD_LOCAL: the plug-in's own copies of the command-line code and
        // its libraries stay out of the program's symbol look-ups.
        handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle) {
            path = candidate;
            break;
        }
        const char *reason = dlerror();
        std::string text = reason ? reason : "cannot be loaded";
        // The loader's messages usually start with the path; say it when not.
        if (text.compare(0, candidate.size(), candidate) != 0) text = candidate + ": " + text;
        tried += (tried.empty() ? "" : "; ") + text;
    }
    if (!handle)
        throw Failure("edit is not available: its plug-in lustra-edit.so cannot be loaded (" +
                      tried + ")");
    dlerror();
    const auto entry = reinterpret_cast<EditPluginEntry>(dlsym(handle, kEditPluginEntry));
    if (!entry) {
        const char *reason = dlerror();
        throw Failure(path + ": not lustra's edit plug-in (no " + kEditPluginEntry +
                      (reason ? std::string(": ") + reason : std::string()) + ")");
    }
    std::vector<const char *> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string &argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    const int exitCode = entry(kEditPluginInterface, int(arguments.size()), argv.data());
    if (exitCode == kEditPluginRefused)
        throw Failure(path + ": the edit plug-in belongs to another version of lustra");
    // The plug-in stays loaded until the program ends: Qt leaves handlers
    // and thread-local data behind that must not point into unmapped code.
    return exitCode;
}

namespace {

// Makes `lustra edit` load the plug-in when this file is linked in.
const bool kRegistered = (editCommand = &runEditPlugin, true);

} // namespace
} // namespace lustra::cli
