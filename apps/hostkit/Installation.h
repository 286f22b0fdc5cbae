// Where lustra finds its module and data, and the VXHOME it works in.
//
// The module and the data directory are looked up relative to the lustra
// executable itself: next to it in the build tree (build/lustra,
// build/LustraFex.so, build/data) and in ../lib/lustra and ../share/lustra
// after installation. No environment variable is needed.
#pragma once

#include <string>
#include <vector>

namespace lustra::cli {

// Directory holding the running executable.
std::string executableDirectory();

// Candidates for LustraFex.so, in the order they are tried.
std::vector<std::string> moduleCandidates();
// The first candidate that exists, or "" (with the list in `tried`).
std::string findModule(std::string *tried = nullptr);

// Candidates for lustra-edit.so, the plug-in of `lustra edit`, in the
// order they are tried: the same two places as the module's.
std::vector<std::string> editPluginCandidates();

// The installation's data directory (with lustra/ holding the pattern
// files), or "" when none is found.
std::string findDataDirectory();

// The VXHOME lustra works in. When the environment sets VXHOME, that one;
// otherwise lustra's own directory in the user's data directory
// ($XDG_DATA_HOME/lustra, else ~/.local/share/lustra), created on first use
// with lustra/ (a copy of the installation's data files) and
// programs/lustra/settings/. Sets VXHOME for the module. Throws Failure.
struct Home {
    std::string path;
    bool fromEnvironment = false;
    std::string settingsDirectory() const { return path + "/programs/lustra/settings"; }
};
Home prepareHome();
// The directory prepareHome would use, without creating anything.
Home locateHome();

// The settings file name the module is given for an instance ("" = the
// module's default "last.prf"): "/programs/lustra/settings/NAME.prf".
// Throws UsageError for names with a '/' or empty names.
std::string instanceSettingsName(const std::string &instance);
// Full path of an instance's settings file below the home.
std::string instanceSettingsPath(const Home &home, const std::string &instance);

} // namespace lustra::cli
