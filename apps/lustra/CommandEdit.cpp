// lustra edit: the effect's settings dialog on screen, with its live preview
// on a frame of the clip. Built, when Qt 6 is available, into the plug-in
// lustra-edit.so, which the lustra program loads for this command only
// (EditPlugin.h); the plug-in runs the command entirely on its own copy of
// the command-line code.
#include "Animation.h"
#include "Commands.h"
#include "EditPlugin.h"
#include "Errors.h"
#include "Installation.h"
#include "RenderSetup.h"
#include "TitleCanvas.h"
#include "gui/EditSession.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace lustra::cli {
namespace {

const char *const kEditHelp = R"(usage: lustra edit --title FILE --background FILE|#RRGGBB [options]
       lustra edit --text TEXT --background FILE|#RRGGBB [options]

Opens the effect's full-screen settings dialog with a live preview of the
title over the background. Every change shows in the preview at once; the
settings are written when the window closes (close button, Ctrl+E or the
window's close box) and `lustra render` uses them.

Options:
  --title FILE          input 1: a picture or a video (the clip's frames)
  --background FILE     input 0: a picture, a video or a colour #RRGGBB
  --instance NAME       edit VXHOME/programs/lustra/settings/NAME.prf
                        (default: last.prf)
  --second-layers       show the pages of the second layers (background
                        fill, background texture, background image map)
  --screen WxH          the dialog's screen size (default: the display's)
  --window              a normal window instead of full-screen
  --gui-monitor 1|2     2 puts the dialog on monitor 2: the preview fills
                        the screen around the settings strip
  --monitors 1|2        2 reports two connected GUI monitors (no video
                        output monitor)
  --monitor2 WxH        show monitor 2 (the video output) as a window of
                        this size (default: not shown, the clip's size)
  --animate FIELD=KEYS  keyframed fields as lustra render takes them
  --keyframes FILE      (repeatable; see lustra render --help)
  --frame N             with keyframes: open on frame N (from 0, default 0)
                        with the animated values of that frame; the dialog
                        edits the other fields, and the instance's file
                        keeps its own values of the animated ones (the frame
                        slider shows other frames with frame N's values; two
                        pictures show their one frame with frame N's values)
  --quiet               no notes
The typed-title, frame and placement options of lustra render apply too:
)";

void parseSize(const std::string &text, const std::string &what, int &width, int &height) {
    const size_t x = text.find('x');
    if (x == std::string::npos) throw UsageError(what + " " + text + ": a size is written WxH");
    width = int(parseInteger(text.substr(0, x), what, 320, 8192));
    height = int(parseInteger(text.substr(x + 1), what, 240, 8192));
}

int commandEdit(const std::vector<std::string> &arguments) {
    gui::EditRequest request;
    std::string title, background;
    TitleOptions titleOptions;
    ArgumentReader reader(arguments);
    bool windowed = false;
    std::vector<std::string> animations, keyframeFiles;
    bool frameGiven = false;
    while (!reader.done()) {
        const std::string argument = reader.next();
        std::string value;
        if (argument == "-h" || argument == "--help") {
            std::fputs(kEditHelp, stdout);
            std::fputs(kTitleOptionsHelp, stdout);
            return kExitSuccess;
        } else if (readTitleOption(reader, argument, titleOptions)) {
            // typed text, frame size, placement
        } else if (reader.option(argument, "--title", value)) {
            title = value;
        } else if (reader.option(argument, "--background", value)) {
            background = value;
        } else if (reader.option(argument, "--instance", value)) {
            request.instance = value;
        } else if (argument == "--second-layers") {
            request.secondLayers = true;
        } else if (argument == "--window") {
            windowed = true;
        } else if (reader.option(argument, "--animate", value)) {
            animations.push_back(value);
        } else if (reader.option(argument, "--keyframes", value)) {
            keyframeFiles.push_back(value);
        } else if (reader.option(argument, "--frame", value)) {
            request.animationFrame = parseInteger(value, "--frame", 0, 32766);
            frameGiven = true;
        } else if (argument == "--quiet") {
            request.quiet = true;
        } else if (reader.option(argument, "--screen", value)) {
            parseSize(value, "--screen", request.screen.width, request.screen.height);
            if (request.screen.width < 700 || request.screen.height < 400)
                throw UsageError("--screen " + value + ": the dialog needs at least 700x400");
        } else if (reader.option(argument, "--monitor2", value)) {
            parseSize(value, "--monitor2", request.screen.monitor2Width,
                      request.screen.monitor2Height);
            request.screen.showMonitor2 = true;
        } else if (reader.option(argument, "--gui-monitor", value)) {
            request.screen.guiMonitor = int(parseInteger(value, "--gui-monitor", 1, 2));
        } else if (reader.option(argument, "--monitors", value)) {
            request.screen.connectedMonitors = int(parseInteger(value, "--monitors", 1, 2));
        } else {
            throw UsageError("edit: unknown option " + argument);
        }
    }
    if (title.empty() && !titleOptions.typed())
        throw UsageError("edit needs --title FILE, --text TEXT or --text-file FILE");
    if (!title.empty() && titleOptions.typed())
        throw UsageError("give one title: --title, --text or --text-file");
    if (background.empty()) throw UsageError("edit needs --background FILE or #RRGGBB");
    if (uint8_t r, g, b; background[0] == '#' && !parseHexColour(background, r, g, b))
        throw UsageError("--background " + background + ": a colour is written #RRGGBB");
    if (request.screen.guiMonitor == 2) {
        request.screen.showMonitor2 = false;
        if (request.screen.monitor2Width > 0 &&
            (request.screen.monitor2Width < 700 || request.screen.monitor2Height < 400))
            throw UsageError("--monitor2 with --gui-monitor 2: the dialog needs at least 700x400");
    }
    instanceSettingsName(request.instance);
    if (!animations.empty() || !keyframeFiles.empty()) {
        auto animation = std::make_shared<Animation>();
        std::vector<std::string> warnings;
        for (const std::string &option : animations) animation->addOption(option, false, warnings);
        for (const std::string &file : keyframeFiles) animation->addFile(file, false, warnings);
        if (!request.quiet)
            for (const std::string &warning : warnings)
                std::fprintf(stderr, "lustra: warning: %s\n", warning.c_str());
        request.animation = animation;
    } else if (frameGiven) {
        throw UsageError("--frame chooses the frame of the keyframes: give --animate or "
                         "--keyframes");
    }

    // The inputs first: a file that cannot be read is reported before any
    // window opens.
    auto say = [&request](const std::string &text) {
        if (!request.quiet) std::fprintf(stderr, "lustra: %s\n", text.c_str());
    };
    std::unique_ptr<cli::FrameSource> titleSource;
    std::function<std::unique_ptr<cli::FrameSource>()> reopenTitle;
    if (!titleOptions.typed()) {
        titleSource = openMediaSource(title);
        reopenTitle = [title] { return openMediaSource(title); };
    }
    uint8_t colour[3] = {0, 0, 0};
    const bool colourGiven = parseHexColour(background, colour[0], colour[1], colour[2]);
    std::unique_ptr<cli::FrameSource> backgroundSource;
    if (!colourGiven) {
        backgroundSource = openMediaSource(background);
        request.reopenBackground = [background] { return openMediaSource(background); };
    }
    if (request.animation && request.animation->animatesPlacement()) {
        // The dialog shows frame --frame: the title sits where the keyframes
        // put it on that frame (keys timed at the clip's rate, as the
        // record's are).
        cli::Rational keyRate{25, 1};
        if (titleSource && !titleSource->isStill() && titleSource->frameRate().num > 0)
            keyRate = titleSource->frameRate();
        else if (backgroundSource && !backgroundSource->isStill() &&
                 backgroundSource->frameRate().num > 0)
            keyRate = backgroundSource->frameRate();
        request.animation->checkOrder(keyRate.num, keyRate.den);
        const TitlePlacement placement = request.animation->placement(
            titleOptions.placement, request.animationFrame, keyRate.num, keyRate.den);
        titleOptions.placementAt = [placement](int64_t) { return placement; };
    }
    ArrangedInputs inputs =
        arrangeInputs(titleOptions, std::move(titleSource), reopenTitle,
                      std::move(backgroundSource), colourGiven ? colour : nullptr, 1, 1, say);
    request.title = std::move(inputs.title);
    request.reopenTitle = inputs.reopenTitle;
    request.background = std::move(inputs.background);

    auto set = [](const char *name) {
        const char *value = std::getenv(name);
        return value && *value;
    };
    if (!set("QT_QPA_PLATFORM") && !set("DISPLAY") && !set("WAYLAND_DISPLAY"))
        throw Failure("edit needs a display: neither DISPLAY nor WAYLAND_DISPLAY is set");
    static int argc = 1;
    static char name[] = "lustra";
    static char *argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    request.screen.fullScreen = !windowed && request.screen.width == 0;

    const gui::EditOutcome outcome = gui::runEdit(request);
    if (!request.quiet && outcome.exitCode == kExitSuccess)
        std::fprintf(stderr, "lustra: settings written to %s\n", outcome.settingsPath.c_str());
    return outcome.exitCode;
}

// Adds the command to the plug-in's copy of the command dispatch.
const bool kRegistered = (editCommand = &commandEdit, true);

} // namespace
} // namespace lustra::cli

// The plug-in's one visible symbol. The dispatch prints the command's
// messages and maps its errors to exit codes exactly as the program's does.
extern "C" __attribute__((visibility("default"))) int
lustra_edit_main(int interfaceVersion, int argc, const char *const *argv) {
    using namespace lustra::cli;
    if (interfaceVersion != kEditPluginInterface || argc < 0 || (argc > 0 && !argv))
        return kEditPluginRefused;
    try {
        std::vector<std::string> arguments{"edit"};
        arguments.insert(arguments.end(), argv, argv + argc);
        return runLustra(arguments);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "lustra: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "lustra: edit failed\n");
    }
    return kExitFailure;
}
