// From a render command line to a render: the VXHOME, the module, the
// settings record the module reads, the inputs and the output.
#pragma once

#include "OutputSafety.h"
#include "RenderPipeline.h"
#include "TitleCanvas.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lustra::cli {

struct RenderCommand {
    std::string title, background, output;
    TitleOptions titleOptions; // typed text, the frame size, the title's place
    std::string settingsFile, instance;
    std::string preset;                   // --preset NAME; settingsFile then holds its file
    std::vector<std::string> assignments; // --set FIELD=VALUE
    bool force = false;
    std::vector<std::string> animations;                      // --animate FIELD=KEYS
    std::vector<std::string> keyframeFiles;                   // --keyframes FILE
    std::vector<std::pair<std::string, std::string>> sources; // --source LAYER=FILE
    HostChoices choices;
    std::optional<FieldOrder> fieldOrder;
    int64_t firstFrame = 0, lastFrame = -1;
    bool rangeGiven = false;
    bool scaled = false;
    int scaleNumerator = 1, scaleDenominator = 1;
    std::optional<Rational> frameRate;
    std::optional<AlphaMode> alpha; // none: opaque
    std::string audio;              // background, title, none; "": background when it has sound
    std::string codec, pixelFormat;
    std::vector<std::pair<std::string, std::string>> codecOptions;
    bool quiet = false, stats = false;
    int workers = 0;                              // -j: frames rendered at once (0: defaultWorkers)
    OverwriteMode overwrite = OverwriteMode::Ask; // existing outputs: -y, -n
    // Inputs a program supplies itself instead of files (the demo).
    std::unique_ptr<FrameSource> titleSource, backgroundSource;
    // Render with the default settings whatever the user's files hold.
    bool useDefaults = false;
};

// Runs the render and prints the summary; returns the exit code.
int runRenderCommand(RenderCommand &command);

// The settings field of a source layer name ("fill1" -> fill1Source), or null.
const char *sourceFieldOfLayer(const std::string &layer);

// "#RRGGBB" to its bytes; false when the text is not a colour of that form.
bool parseHexColour(const std::string &text, uint8_t &r, uint8_t &g, uint8_t &b);

} // namespace lustra::cli
