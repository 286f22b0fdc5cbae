#include "Installation.h"

#include "Errors.h"
#include "Presets.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace lustra::cli {
namespace {

constexpr const char *kSettingsPrefix = "/programs/lustra/settings/";

bool sameContent(const fs::path &a, const fs::path &b) {
    std::error_code error;
    if (fs::file_size(a, error) != fs::file_size(b, error) || error) return false;
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    return std::equal(std::istreambuf_iterator<char>(fa), std::istreambuf_iterator<char>(),
                      std::istreambuf_iterator<char>(fb));
}

// Mirrors the installation's data files into the home, leaving the
// programs/ tree (the user's settings and presets) alone.
void refreshDataFiles(const fs::path &data, const fs::path &home) {
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(data, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::path relative = fs::relative(it->path(), data, error);
        if (error) break;
        // The user's settings and presets stay; the shipped looks go to
        // programs/lustra/looks/ (installLooks), not here.
        if (*relative.begin() == "programs" || *relative.begin() == "presets") {
            if (it->is_directory()) it.disable_recursion_pending();
            continue;
        }
        const fs::path target = home / relative;
        if (it->is_directory()) {
            fs::create_directories(target, error);
        } else if (it->is_regular_file() && !sameContent(it->path(), target)) {
            // Copied under a name of this process, created afresh (never
            // through a link standing there), and renamed into place.
            const fs::path partial = target.string() + ".partial-" + std::to_string(getpid());
            fs::remove(partial, error);
            fs::copy_file(it->path(), partial, fs::copy_options::none, error);
            if (!error) fs::rename(partial, target, error);
            if (error) {
                std::error_code ignored;
                fs::remove(partial, ignored);
                throw Failure(target.string() +
                              ": cannot install the data file: " + error.message());
            }
        }
    }
}

} // namespace

std::string executableDirectory() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) return fs::current_path().string();
    return self.parent_path().string();
}

std::vector<std::string> moduleCandidates() {
    const fs::path here = executableDirectory();
    return {(here / "LustraFex.so").string(),
            (here / ".." / "lib" / "lustra" / "LustraFex.so").lexically_normal().string()};
}

std::string findModule(std::string *tried) {
    std::string list;
    for (const std::string &candidate : moduleCandidates()) {
        if (fs::exists(candidate)) return candidate;
        list += (list.empty() ? "" : ", ") + candidate;
    }
    if (tried) *tried = list;
    return "";
}

std::vector<std::string> editPluginCandidates() {
    const fs::path here = executableDirectory();
    return {(here / "lustra-edit.so").string(),
            (here / ".." / "lib" / "lustra" / "lustra-edit.so").lexically_normal().string()};
}

std::string findDataDirectory() {
    const fs::path here = executableDirectory();
    for (const fs::path &candidate :
         {here / "data", (here / ".." / "share" / "lustra" / "data").lexically_normal()}) {
        if (fs::exists(candidate / "lustra" / "metal.pat")) return candidate.string();
    }
    return "";
}

Home locateHome() {
    Home home;
    if (const char *value = std::getenv("VXHOME"); value && *value) {
        home.path = value;
        home.fromEnvironment = true;
    } else if (const char *xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        home.path = std::string(xdg) + "/lustra";
    } else if (const char *user = std::getenv("HOME"); user && *user) {
        home.path = std::string(user) + "/.local/share/lustra";
    } else {
        throw Failure("neither VXHOME nor HOME is set: cannot choose a directory for the settings");
    }
    while (home.path.size() > 1 && home.path.back() == '/') home.path.pop_back();
    return home;
}

Home prepareHome() {
    Home home = locateHome();
    std::error_code error;
    if (!home.fromEnvironment) {
        fs::create_directories(home.settingsDirectory(), error);
        if (error)
            throw Failure(home.path + ": cannot create lustra's directory: " + error.message());
        const std::string data = findDataDirectory();
        if (!data.empty()) {
            refreshDataFiles(data, home.path);
            if (fs::is_directory(data + "/presets", error))
                installLooks(data + "/presets", home.path + "/programs/lustra/looks");
        }
    } else if (!fs::is_directory(home.path, error)) {
        throw Failure("VXHOME=" + home.path + ": no such directory");
    } else {
        fs::create_directories(home.settingsDirectory(), error); // best effort
        // The shipped looks for the dialog's preset requester, as far as
        // this VXHOME can take them.
        const std::string data = findDataDirectory();
        if (!data.empty() && fs::is_directory(data + "/presets", error)) {
            try {
                installLooks(data + "/presets", home.path + "/programs/lustra/looks");
            } catch (const Failure &) {
            }
        }
    }
    setenv("VXHOME", home.path.c_str(), 1);
    return home;
}

std::string instanceSettingsName(const std::string &instance) {
    if (instance.empty()) return "";
    if (instance.find('/') != std::string::npos || instance == "." || instance == "..")
        throw UsageError("instance name \"" + instance + "\" must be a plain file name");
    const bool hasSuffix =
        instance.size() > 4 && instance.compare(instance.size() - 4, 4, ".prf") == 0;
    return kSettingsPrefix + instance + (hasSuffix ? "" : ".prf");
}

std::string instanceSettingsPath(const Home &home, const std::string &instance) {
    const std::string name = instanceSettingsName(instance);
    return home.path + (name.empty() ? std::string(kSettingsPrefix) + "last.prf" : name);
}

} // namespace lustra::cli
