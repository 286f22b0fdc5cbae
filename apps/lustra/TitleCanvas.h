// The output frame (the canvas) of a render or of the dialog, and the
// title on it: a picture, a video or typed text, placed by anchor,
// position and scale. Shared by lustra render and lustra edit.
#pragma once

#include "Commands.h"
#include "FrameSources.h"
#include "Placement.h"
#include "TextTitle.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace lustra::cli {

struct TitleOptions {
    // Typed title: --text or --text-file (instead of --title).
    std::optional<std::string> text;
    std::string textFile;
    TextStyle style;
    // --size WxH (0: from the background), or --size title.
    int width = 0, height = 0;
    bool sizeOfTitle = false;
    // --anchor, --position, --title-scale.
    TitlePlacement placement;
    bool placementGiven = false;
    // The placement of each frame when it changes over time (set: used
    // instead of `placement`, which stays the base the keyframes change).
    // Its argument is the output frame's index (the same index as the
    // record's keyframes, --frames A-B included).
    PlacementAt placementAt;

    bool typed() const { return text.has_value() || !textFile.empty(); }
};

// Reads one of the options above; false when `argument` is none of them.
bool readTitleOption(ArgumentReader &reader, const std::string &argument, TitleOptions &options);

// Their lines of the help texts.
extern const char *const kTitleOptionsHelp;

// The frame size a typed title is laid out for when nothing else sets it.
constexpr int kDefaultTextFrameWidth = 1920, kDefaultTextFrameHeight = 1080;

struct ArrangedInputs {
    std::unique_ptr<FrameSource> title;      // canvas-sized
    std::unique_ptr<FrameSource> background; // a colour at the canvas size, or the file
    int width = 0, height = 0;               // the canvas
    // The title again (an earlier frame of a video), placed the same way.
    std::function<std::unique_ptr<FrameSource>()> reopenTitle;
};

// Decides the canvas and places the title on it. `title` is the opened
// title (null for typed text, when `reopen` may be empty); `background` the
// opened background file or null, then `colour` (R, G, B; null: black) fills the
// canvas. Usage problems throw UsageError; notes go to `say`.
ArrangedInputs arrangeInputs(TitleOptions &options, std::unique_ptr<FrameSource> title,
                             std::function<std::unique_ptr<FrameSource>()> reopen,
                             std::unique_ptr<FrameSource> background, const uint8_t *colour,
                             int scaleNumerator, int scaleDenominator,
                             const std::function<void(const std::string &)> &say);

} // namespace lustra::cli
