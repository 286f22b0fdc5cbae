#include "Presets.h"

#include "Errors.h"
#include "Installation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace lustra::cli {
namespace {

constexpr const char *kSuffix = ".prf";
constexpr const char *kIndexName = "index.txt";
constexpr const char *kInstalledList = ".installed";

bool hasSuffix(const std::string &text) {
    return text.size() > 4 && text.compare(text.size() - 4, 4, kSuffix) == 0;
}

// The .prf files directly in a folder (no subfolders), by name.
std::map<std::string, std::string> presetFiles(const std::string &folder) {
    std::map<std::string, std::string> files;
    if (folder.empty()) return files;
    std::error_code error;
    for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        const std::string file = it->path().filename().string();
        if (!hasSuffix(file) || file[0] == '.') continue;
        std::error_code statError;
        if (!fs::is_regular_file(it->path(), statError)) continue;
        files[file.substr(0, file.size() - 4)] = it->path().string();
    }
    return files;
}

// The shipped folder's index: "NAME  description" a line.
std::map<std::string, std::string> descriptions(const std::string &folder) {
    std::map<std::string, std::string> result;
    if (folder.empty()) return result;
    std::ifstream index(folder + "/" + kIndexName);
    std::string line;
    while (std::getline(index, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t space = line.find_first_of(" \t");
        if (space == std::string::npos) continue;
        const size_t text = line.find_first_not_of(" \t", space);
        result[line.substr(0, space)] = text == std::string::npos ? "" : line.substr(text);
    }
    return result;
}

std::string readBytes(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

std::string hashOf(const std::string &bytes) {
    uint64_t hash = 1469598103934665603ull; // FNV-1a, 64 bits
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", (unsigned long long)hash);
    return text;
}

// Writes `bytes` under a fresh temporary name in the target's folder and
// renames it into place, so that a link standing at `target` is replaced
// and never written through.
void replaceFile(const fs::path &target, const std::string &bytes) {
    std::string temporary =
        (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temporary.data());
    if (fd < 0) throw Failure(target.string() + ": cannot write: " + std::strerror(errno));
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += size_t(n);
    }
    const int savedErrno = errno;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    if (::close(fd) != 0 || written != bytes.size()) {
        ::unlink(temporary.c_str());
        throw Failure(target.string() + ": cannot write: " + std::strerror(savedErrno));
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        const int e = errno;
        ::unlink(temporary.c_str());
        throw Failure(target.string() + ": cannot write: " + std::strerror(e));
    }
}

} // namespace

std::string presetFileForRender(const std::string &name) {
    return resolvePreset(presetFolders(locateHome().path, findDataDirectory()), name).path;
}

PresetFolders presetFolders(const std::string &home, const std::string &dataDirectory) {
    PresetFolders folders;
    if (!home.empty()) folders.user = home + "/programs/lustra";
    std::error_code error;
    if (!dataDirectory.empty() && fs::is_directory(dataDirectory + "/presets", error))
        folders.shipped = dataDirectory + "/presets";
    else if (!home.empty() && fs::is_directory(home + "/programs/lustra/looks", error))
        folders.shipped = home + "/programs/lustra/looks";
    return folders;
}

std::string presetName(const std::string &name) {
    std::string plain = name;
    const size_t slash = plain.rfind('/');
    if (slash != std::string::npos) plain = plain.substr(slash + 1);
    if (hasSuffix(plain)) plain.resize(plain.size() - 4);
    if (plain.empty() || plain == "." || plain == ".." || plain[0] == '.')
        throw UsageError("\"" + name + "\" is not a preset name");
    return plain;
}

std::vector<Preset> listPresets(const PresetFolders &folders) {
    const auto user = presetFiles(folders.user);
    const auto shipped = presetFiles(folders.shipped);
    const auto texts = descriptions(folders.shipped);
    std::vector<Preset> list;
    for (const auto &[name, path] : user) {
        Preset preset{name, path, false, shipped.count(name) != 0, ""};
        list.push_back(preset);
    }
    for (const auto &[name, path] : shipped) {
        Preset preset{name, path, true, false, ""};
        if (auto text = texts.find(name); text != texts.end()) preset.description = text->second;
        list.push_back(preset);
    }
    std::stable_sort(list.begin(), list.end(), [](const Preset &a, const Preset &b) {
        return a.name != b.name ? a.name < b.name : (!a.shipped && b.shipped);
    });
    return list;
}

std::optional<Preset> findPreset(const PresetFolders &folders, const std::string &name) {
    if (name.find('/') != std::string::npos)
        throw UsageError("\"" + name +
                         "\" is not a preset name (a file? see lustra presets import)");
    const std::string plain = presetName(name);
    for (const Preset &preset : listPresets(folders))
        if (preset.name == plain) return preset; // the user's comes first
    return std::nullopt;
}

std::string availablePresets(const PresetFolders &folders) {
    std::string names;
    std::string last;
    for (const Preset &preset : listPresets(folders)) {
        if (preset.name == last) continue;
        last = preset.name;
        names += (names.empty() ? "" : ", ") + preset.name;
    }
    return names.empty() ? std::string("none") : names;
}

Preset resolvePreset(const PresetFolders &folders, const std::string &name) {
    std::optional<Preset> found;
    try {
        found = findPreset(folders, name);
    } catch (const UsageError &) {
    }
    if (!found)
        throw UsageError("no preset \"" + name + "\" (available: " + availablePresets(folders) +
                         "; see lustra presets list)");
    return *found;
}

void installLooks(const std::string &shippedFolder, const std::string &looksFolder) {
    const fs::path looks(looksFolder);
    std::error_code error;
    fs::create_directories(looks, error);
    if (error)
        throw Failure(looksFolder + ": cannot create the folder of looks: " + error.message());

    // What lustra installed last time: "NAME.prf HASH" a line.
    std::map<std::string, std::string> installed, now;
    {
        std::ifstream list(looks / kInstalledList);
        std::string file, hash;
        while (list >> file >> hash) installed[file] = hash;
    }
    const auto shipped = presetFiles(shippedFolder);
    for (const auto &[name, source] : shipped) {
        const std::string file = name + kSuffix;
        const fs::path target = looks / file;
        const std::string bytes = readBytes(source);
        const std::string hash = hashOf(bytes);
        const fs::file_status status = fs::symlink_status(target, error);
        const auto known = installed.find(file);
        if (!fs::exists(status)) {
            replaceFile(target, bytes);
            now[file] = hash;
        } else if (!fs::is_regular_file(status)) {
            // The user's own link or folder of that name: left alone.
        } else {
            const std::string current = hashOf(readBytes(target.string()));
            if (current == hash) {
                now[file] = hash;
            } else if (known != installed.end() && known->second == current) {
                replaceFile(target, bytes); // ours, and the shipped look changed
                now[file] = hash;
            } else if (known != installed.end()) {
                now[file] = known->second; // the user changed it: kept as it is
            }
        }
    }
    // Looks that are no longer shipped go, unless the user changed them.
    for (const auto &[file, hash] : installed) {
        if (now.count(file)) continue;
        const fs::path target = looks / file;
        if (fs::is_regular_file(fs::symlink_status(target, error)) &&
            hashOf(readBytes(target.string())) == hash)
            fs::remove(target, error);
    }
    if (now != installed) {
        std::string text;
        for (const auto &[file, hash] : now) text += file + " " + hash + "\n";
        replaceFile(looks / kInstalledList, text);
    }
}

} // namespace lustra::cli
