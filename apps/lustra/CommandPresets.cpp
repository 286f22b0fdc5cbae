// lustra presets: the library of looks, listed, shown, exported and
// imported by name.
#include "Commands.h"
#include "Errors.h"
#include "Installation.h"
#include "Interrupt.h"
#include "OutputSafety.h"
#include "Presets.h"
#include "SettingsRecord.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace lustra::cli {

const char *const kPresetsHelp = R"(usage: lustra presets list
       lustra presets show NAME
       lustra presets export NAME FILE [-y|-n]
       lustra presets import FILE [--name NAME] [-y|-n]
       lustra presets path

A preset is a complete settings record (an 824-byte .prf file, like the
settings file). Presets are found by name: first in your preset folder,
VXHOME/programs/lustra/ (where the dialog saves presets and import puts
them), then among the looks shipped with lustra. `lustra render --preset
NAME` renders with one; the dialog's Presets... Load lists the shipped looks
in the folder looks/.

  list     every preset with where it comes from (user or shipped) and, for
           the shipped looks, what they look like
  show     the preset's fields, as lustra settings show prints them
  export   copies the preset to FILE (an existing FILE is replaced only
           with -y)
  import   copies a record file into your preset folder as NAME.prf (NAME:
           the file's name without .prf, or --name); an existing preset of
           that name is replaced only with -y. A preset of the same name as
           a shipped look takes its place for lustra.
  path     prints the two folders

Files are written through a temporary file and a rename.

Examples:
  lustra presets list
  lustra render --title title.png --background clip.mp4 -o gold.mp4 --preset gold
  lustra presets export chrome my-chrome.prf
  lustra settings set my-chrome.prf glowOn=on
  lustra presets import my-chrome.prf
)";

namespace {

std::string fileBytes(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw Failure(path + ": cannot read");
    std::ostringstream bytes;
    bytes << file.rdbuf();
    if (file.bad()) throw Failure(path + ": cannot read");
    return bytes.str();
}

bool sameFile(const std::string &a, const std::string &b) {
    std::error_code error;
    return fs::exists(a, error) && fs::exists(b, error) && fs::equivalent(a, b, error);
}

// Copies an 824-byte record to `target` through a temporary file beside
// it; an existing target is replaced only when `overwrite` allows it.
void copyRecord(const Record &record, const std::string &target, OverwriteMode overwrite,
                const std::string &what) {
    std::vector<std::string> existing;
    std::error_code error;
    if (fs::exists(fs::symlink_status(target, error))) existing.push_back(target);
    if (fs::is_directory(target, error)) throw Failure(target + ": is a directory");
    const bool replace = allowReplacing(overwrite, existing, what);
    const fs::path path(target);
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, error)) throw Failure(target + ": no such folder");
    const std::string temporary =
        (folder / ("." + path.filename().string() + ".partial-" + std::to_string(getpid())))
            .string();
    InterruptGuard interrupts;
    watchTemporary(temporary);
    try {
        writeRecordFile(temporary, record);
        moveIntoPlace(temporary, target, replace);
    } catch (...) {
        std::remove(temporary.c_str());
        unwatchTemporary(temporary);
        throw;
    }
    unwatchTemporary(temporary);
}

Record exactRecord(const std::string &path) {
    const std::string bytes = fileBytes(path);
    if (bytes.size() != kRecordSize)
        throw Failure(path + ": has " + std::to_string(bytes.size()) +
                      " bytes; a preset is an 824-byte settings record");
    Record record;
    std::copy(bytes.begin(), bytes.end(), record.begin());
    return record;
}

} // namespace

int commandPresets(const std::vector<std::string> &arguments) {
    if (arguments.empty()) throw UsageError("presets needs list, show, export, import or path");
    const std::string verb = arguments[0];
    if (verb == "-h" || verb == "--help") {
        std::fputs(kPresetsHelp, stdout);
        return kExitSuccess;
    }
    if (verb != "list" && verb != "show" && verb != "export" && verb != "import" && verb != "path")
        throw UsageError("unknown presets command \"" + verb +
                         "\" (list, show, export, import, path)");
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    ArgumentReader reader(rest);
    std::vector<std::string> words;
    std::string name, value;
    OverwriteMode overwrite = OverwriteMode::Ask;
    while (!reader.done()) {
        const std::string argument = reader.next();
        if (argument == "-h" || argument == "--help") {
            std::fputs(kPresetsHelp, stdout);
            return kExitSuccess;
        } else if ((verb == "export" || verb == "import") &&
                   (argument == "-y" || argument == "--overwrite")) {
            if (overwrite == OverwriteMode::Never)
                throw UsageError("give either -y (--overwrite) or -n, not both");
            overwrite = OverwriteMode::Always;
        } else if ((verb == "export" || verb == "import") &&
                   (argument == "-n" || argument == "--no-overwrite")) {
            if (overwrite == OverwriteMode::Always)
                throw UsageError("give either -y (--overwrite) or -n, not both");
            overwrite = OverwriteMode::Never;
        } else if (verb == "import" && reader.option(argument, "--name", value)) {
            name = presetName(value);
            if (value != name && value != name + ".prf")
                throw UsageError("--name " + value + ": a preset name is a plain file name");
        } else if (!argument.empty() && argument[0] == '-' && argument != "-") {
            throw UsageError("presets " + verb + ": unknown option " + argument);
        } else {
            words.push_back(argument);
        }
    }
    const size_t expected = verb == "export" ? 2 : (verb == "show" || verb == "import") ? 1 : 0;
    if (words.size() != expected) {
        static const char *const forms[] = {"list", "show NAME", "export NAME FILE", "import FILE",
                                            "path"};
        const char *form = verb == "list"     ? forms[0]
                           : verb == "show"   ? forms[1]
                           : verb == "export" ? forms[2]
                           : verb == "import" ? forms[3]
                                              : forms[4];
        throw UsageError(std::string("usage: lustra presets ") + form);
    }

    // Reading needs no set-up of the home; import writes into it.
    const Home home = verb == "import" ? prepareHome() : locateHome();
    const PresetFolders folders = presetFolders(home.path, findDataDirectory());

    if (verb == "path") {
        std::printf("user     %s\n", folders.user.c_str());
        std::printf("shipped  %s\n",
                    folders.shipped.empty() ? "(none found)" : folders.shipped.c_str());
        return kExitSuccess;
    }
    if (verb == "list") {
        const std::vector<Preset> presets = listPresets(folders);
        if (presets.empty()) {
            std::printf("no presets (user folder %s)\n", folders.user.c_str());
            return kExitSuccess;
        }
        size_t width = 4;
        for (const Preset &preset : presets) width = std::max(width, preset.name.size());
        std::printf("%-*s  %-8s %s\n", int(width), "name", "from", "look / file");
        for (const Preset &preset : presets) {
            std::string about;
            if (preset.shipped)
                about = preset.description.empty() ? preset.path : preset.description;
            else
                about = preset.path +
                        (preset.hidesShipped ? " (used instead of the shipped look)" : "");
            std::printf("%-*s  %-8s %s\n", int(width), preset.name.c_str(),
                        preset.shipped ? "shipped" : "user", about.c_str());
        }
        return kExitSuccess;
    }
    if (verb == "show") {
        const Preset preset = resolvePreset(folders, words[0]);
        RecordFile loaded = readRecordFile(preset.path);
        if (!loaded.warning.empty())
            std::fprintf(stderr, "lustra: warning: %s\n", loaded.warning.c_str());
        std::printf("# %s (%s preset %s)\n", preset.path.c_str(),
                    preset.shipped ? "shipped" : "user", preset.name.c_str());
        if (!preset.description.empty()) std::printf("# %s\n", preset.description.c_str());
        for (const FieldInfo &field : recordFields())
            std::printf("%s\n", formatField(loaded.record, field).c_str());
        return kExitSuccess;
    }
    if (verb == "export") {
        const Preset preset = resolvePreset(folders, words[0]);
        const std::string &target = words[1];
        if (sameFile(preset.path, target))
            throw Refusal(target + " is the preset " + preset.name +
                          " itself; nothing was written");
        copyRecord(exactRecord(preset.path), target, overwrite, target);
        std::fprintf(stderr, "lustra: wrote %s (%s preset %s)\n", target.c_str(),
                     preset.shipped ? "shipped" : "user", preset.name.c_str());
        return kExitSuccess;
    }
    // import
    const std::string &source = words[0];
    std::error_code error;
    if (!fs::exists(source, error)) throw Failure(source + ": no such file");
    if (fs::is_directory(source, error)) throw Failure(source + ": is a directory");
    if (name.empty()) name = presetName(source);
    const Record record = exactRecord(source);
    fs::create_directories(folders.user, error);
    const std::string target = folders.user + "/" + name + ".prf";
    if (sameFile(source, target))
        throw Refusal(source + " is the preset " + name + " already; nothing was written");
    const std::optional<Preset> before = findPreset(folders, name);
    copyRecord(record, target, overwrite, target);
    std::fprintf(stderr, "lustra: imported %s as the preset %s (%s)%s\n", source.c_str(),
                 name.c_str(), target.c_str(),
                 before && before->shipped ? "; it is used instead of the shipped look" : "");
    return kExitSuccess;
}

} // namespace lustra::cli
