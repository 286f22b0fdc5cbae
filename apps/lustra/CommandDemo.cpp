// lustra demo: the built-in title over the built-in background with the
// default settings, as a picture and as a short moving clip.
#include "Commands.h"
#include "DemoPictures.h"
#include "Errors.h"
#include "RenderSetup.h"

#include "PngWriter.h"

#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace lustra::cli {

const char *const kDemoHelp =
    R"(usage: lustra demo [-o DIR] [--size WxH] [--frames N] [--quiet] [-y|-n]

Draws the built-in title (the lettering "LUSTRA", no font files needed) and a
moving colour background, and renders them with the default settings:

  DIR/title.png          the title picture (input 1)
  DIR/background.png     the background picture (input 0)
  DIR/lustra-demo.png    the effect on the pictures
  DIR/lustra-demo.mp4    a short clip: the title drifting over the moving
                         background (H.264, 25 frames per second)

  -o, --output DIR   the folder (default: lustra-demo in the current one;
                     created when missing)
  --size WxH         frame size (default 640x360)
  --frames N         length of the clip (default 50)
  --quiet            no progress bar and no notes
  -y, --overwrite    replace the four files when they exist (without -y
                     lustra asks on a terminal and refuses otherwise)
  -n, --no-overwrite never replace them: existing files are an error
)";

namespace {

std::vector<uint8_t> rgbOf(const std::vector<uint8_t> &rgba) {
    std::vector<uint8_t> rgb(rgba.size() / 4 * 3);
    for (size_t i = 0, j = 0; i < rgba.size(); i += 4, j += 3) {
        rgb[j] = rgba[i];
        rgb[j + 1] = rgba[i + 1];
        rgb[j + 2] = rgba[i + 2];
    }
    return rgb;
}

} // namespace

int commandDemo(const std::vector<std::string> &arguments) {
    ArgumentReader reader(arguments);
    std::string directory = "lustra-demo", value;
    int width = 640, height = 360;
    int64_t frames = 50;
    bool quiet = false;
    OverwriteMode overwrite = OverwriteMode::Ask;
    while (!reader.done()) {
        const std::string argument = reader.next();
        if (argument == "-h" || argument == "--help") {
            std::fputs(kDemoHelp, stdout);
            return kExitSuccess;
        } else if (reader.option(argument, "-o", "--output", value)) {
            directory = value;
        } else if (reader.option(argument, "--size", value)) {
            const size_t x = value.find('x');
            if (x == std::string::npos)
                throw UsageError("--size " + value + ": write WIDTHxHEIGHT");
            width = int(parseInteger(value.substr(0, x), "--size width", 16, 8192));
            height = int(parseInteger(value.substr(x + 1), "--size height", 16, 8192));
        } else if (reader.option(argument, "--frames", value)) {
            frames = parseInteger(value, "--frames", 2, 100000);
        } else if (argument == "--quiet" || argument == "-q") {
            quiet = true;
        } else if (argument == "-y" || argument == "--overwrite") {
            if (overwrite == OverwriteMode::Never)
                throw UsageError("give either -y (--overwrite) or -n, not both");
            overwrite = OverwriteMode::Always;
        } else if (argument == "-n" || argument == "--no-overwrite") {
            if (overwrite == OverwriteMode::Always)
                throw UsageError("give either -y (--overwrite) or -n, not both");
            overwrite = OverwriteMode::Never;
        } else {
            throw UsageError("demo: unknown argument \"" + argument + "\"");
        }
    }
    std::error_code error;
    fs::create_directories(directory, error);
    if (error || !fs::is_directory(directory))
        throw Failure(directory + ": cannot create the demo folder" +
                      (error ? ": " + error.message() : ""));

    const std::string titlePath = directory + "/title.png";
    const std::string backgroundPath = directory + "/background.png";
    // The four files are checked together, before any is written.
    std::vector<std::string> existing;
    for (const char *name : {"title.png", "background.png", "lustra-demo.png", "lustra-demo.mp4"})
        if (fs::exists(fs::symlink_status(directory + "/" + name)))
            existing.push_back(directory + "/" + name);
    const OverwriteMode renders = allowReplacing(overwrite, existing, "the demo in " + directory)
                                      ? OverwriteMode::Always
                                      : OverwriteMode::Never;
    std::vector<uint8_t> rgba;
    paintDemoTitle(0.5, width, height, rgba);
    if (!tools::writePng(titlePath, width, height, rgbOf(rgba)))
        throw Failure(titlePath + ": cannot write");
    paintDemoBackground(0.5, width, height, rgba);
    if (!tools::writePng(backgroundPath, width, height, rgbOf(rgba)))
        throw Failure(backgroundPath + ": cannot write");

    // The picture: the two pictures just written, read back as any user's.
    RenderCommand still;
    still.title = titlePath;
    still.background = backgroundPath;
    still.output = directory + "/lustra-demo.png";
    still.useDefaults = true;
    still.quiet = quiet;
    still.overwrite = renders;
    int code = runRenderCommand(still);
    if (code != kExitSuccess) return code;

    // The clip: drawn frame by frame.
    RenderCommand clip;
    clip.output = directory + "/lustra-demo.mp4";
    clip.useDefaults = true;
    clip.quiet = quiet;
    clip.overwrite = renders;
    const double last = double(frames - 1);
    clip.titleSource =
        paintedSource("the built-in title", width, height, frames, false,
                      [last](int64_t frame, int w, int h, std::vector<uint8_t> &out) {
                          paintDemoTitle(double(frame) / last, w, h, out);
                      });
    clip.backgroundSource =
        paintedSource("the built-in background", width, height, frames, false,
                      [last](int64_t frame, int w, int h, std::vector<uint8_t> &out) {
                          paintDemoBackground(double(frame) / last, w, h, out);
                      });
    code = runRenderCommand(clip);
    if (code != kExitSuccess) return code;

    std::printf("demo written to %s/:\n", directory.c_str());
    std::printf("  title.png, background.png   the built-in inputs\n");
    std::printf("  lustra-demo.png             the effect with the default settings\n");
    std::printf(
        "  lustra-demo.mp4             %lld frames of the title moving over the background\n",
        (long long)frames);
    std::printf("Try: lustra render --title %s --background %s -o glow.png --set glowOn=on\n",
                titlePath.c_str(), backgroundPath.c_str());
    return kExitSuccess;
}

} // namespace lustra::cli
