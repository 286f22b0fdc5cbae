// `lustra edit` runs in a plug-in of its own, lustra-edit.so, which carries
// the settings dialog and Qt: the lustra program itself does not link Qt, so
// that no other command maps and relocates its libraries at start. The
// program loads the plug-in only for `lustra edit` (EditPlugin.cpp) and calls
// its one entry point; the plug-in runs the whole command with its own copy
// of the command-line code and returns the exit code.
#pragma once

#include <string>
#include <vector>

namespace lustra::cli {

// The entry point's name, and the version of the calling convention below:
// a program and a plug-in of different versions refuse each other instead
// of calling through a mismatched interface.
constexpr const char *kEditPluginEntry = "lustra_edit_main";
constexpr int kEditPluginInterface = 1;
// What the entry returns when it is called with another interface version
// (it has done nothing then).
constexpr int kEditPluginRefused = -1;

// int lustra_edit_main(int interfaceVersion, int argc, const char *const *argv):
// runs `lustra edit` with argv[0..argc) (the arguments after "edit"), prints
// its messages as lustra does and returns its exit code, or
// kEditPluginRefused. Nothing is thrown out of it.
using EditPluginEntry = int (*)(int interfaceVersion, int argc, const char *const *argv);

// Loads the plug-in from the first of editPluginCandidates() that the
// dynamic loader takes and runs `lustra edit` in it. Throws Failure, naming
// every place tried and the loader's reason, when none can be loaded.
int runEditPlugin(const std::vector<std::string> &arguments);

} // namespace lustra::cli
