// lustra info: what the module reports and where lustra finds its files.
#include "CliHost.h"
#include "Commands.h"
#include "Errors.h"
#include "Installation.h"
#include "Presets.h"
#include "ModuleLoader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <filesystem>

namespace lustra::cli {

const char *const kInfoHelp = R"(usage: lustra info

Prints the module's version text and host choices, where the module and the
data directory were found, the VXHOME in use (the environment's, or lustra's
own directory in the user's data directory) and its settings file, and the
FFmpeg library versions.
)";

namespace {

std::string version(unsigned v) {
    return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." +
           std::to_string(v & 0xFF);
}

void printChoice(const char *name, const HostChoice *choice, const char *meaning) {
    if (!choice) {
        std::printf("  %-15s (missing)\n", name);
        return;
    }
    std::string options;
    for (const int32_t *id = choice->optionIds; id && *id; ++id)
        options += (options.empty() ? "" : ", ") + std::to_string(*id);
    std::printf("  %-15s label %d, options %s: %s\n", name, choice->labelId, options.c_str(),
                meaning);
}

} // namespace

int commandInfo(const std::vector<std::string> &arguments) {
    for (const std::string &argument : arguments) {
        if (argument == "-h" || argument == "--help") {
            std::fputs(kInfoHelp, stdout);
            return kExitSuccess;
        }
        throw UsageError("info: unexpected argument \"" + argument + "\"");
    }
    std::string tried;
    const std::string modulePath = findModule(&tried);
    if (modulePath.empty()) throw Failure("cannot find LustraFex.so (looked for " + tried + ")");
    const Home home = prepareHome();
    CliHost host;
    LoadedModule module(modulePath);
    module.describe();
    std::printf("lustra %s, the command-line host of LustraFex\n", LUSTRA_VERSION);
    std::printf("module:          %s\n", modulePath.c_str());
    std::printf("version text:    %s\n", module.versionText().c_str());
    std::printf("host choices (--second-layers, --flicker-filter, --field-wise):\n");
    printChoice("second layers", module.secondLayers(), "second fill, texture and image map");
    printChoice("flicker filter", module.flickerFilter(), "smooths rows before output");
    printChoice("field-wise", module.fieldWise(), "renders one line-doubled field per call");
    const std::string data = findDataDirectory();
    std::string editPlugin = "(not found)";
    for (const std::string &candidate : editPluginCandidates())
        if (std::filesystem::exists(candidate)) {
            editPlugin = candidate;
            break;
        }
    std::printf("edit plug-in:    %s\n", editPlugin.c_str());
    std::printf("data directory:  %s\n", data.empty() ? "(not found)" : data.c_str());
    std::printf("VXHOME:          %s (%s)\n", home.path.c_str(),
                home.fromEnvironment ? "from the environment"
                                     : "lustra's own, in the user's data directory");
    std::printf("pattern files:   %s/lustra/%s\n", home.path.c_str(),
                std::filesystem::exists(home.path + "/lustra/metal.pat") ? "" : " (missing!)");
    std::printf("settings file:   %s\n", instanceSettingsPath(home, "").c_str());
    const PresetFolders presets = presetFolders(home.path, data);
    std::printf("presets:         %s (yours), %s (shipped)\n", presets.user.c_str(),
                presets.shipped.empty() ? "(not found)" : presets.shipped.c_str());
    std::printf("FFmpeg:          libavformat %s, libavcodec %s, libswscale %s, libavutil %s\n",
                version(avformat_version()).c_str(), version(avcodec_version()).c_str(),
                version(swscale_version()).c_str(), version(avutil_version()).c_str());
    return kExitSuccess;
}

} // namespace lustra::cli
