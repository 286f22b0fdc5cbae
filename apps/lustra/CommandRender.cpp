// lustra render: a title over a background, through the module.
#include "Commands.h"
#include "Errors.h"
#include "Installation.h"
#include "Interrupt.h"
#include "Presets.h"
#include "RenderPipeline.h"
#include "RenderSetup.h"
#include "SettingsRecord.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace lustra::cli {

const char *const kRenderHelp =
    R"(usage: lustra render --title FILE --background FILE|#RRGGBB -o OUTPUT [options]
       lustra render --text TEXT --background FILE|#RRGGBB -o OUTPUT [options]
       lustra render --title FILE --alpha effect -o OUTPUT [options]

Renders the effect: the title's luminance becomes the shape of a lit relief
composited over the background.

Inputs and output:
  --title FILE          input 1: a picture or a video (any format FFmpeg reads)
  --background FILE     input 0: a picture, a video, or a solid colour #RRGGBB;
                        it sets the output frame's size (see --size);
                        not needed with --alpha effect
  -o, --output OUTPUT   out.png (one frame), out-%04d.png (numbered pictures,
                        numbered by frame), out.mp4 (H.264), out.mov (H.264,
                        or ProRes 4444 with --alpha title or effect),
                        out.mkv (H.264, or FFV1 with alpha) or any other
                        format FFmpeg writes; never one of the inputs
  -y, --overwrite       replace existing output files (without -y lustra asks
                        on a terminal and refuses otherwise)
  -n, --no-overwrite    never replace a file: an existing output is an error
Settings:
  --settings FILE       the settings record to render with (default: the
                        instance's file under VXHOME, see lustra settings)
  --instance NAME       the per-instance settings name the module is given:
                        VXHOME/programs/lustra/settings/NAME.prf
  --preset NAME         render with a preset instead (your presets first,
                        then the shipped looks: lustra presets list); --set
                        changes apply on top; not with --settings/--instance
  --set FIELD=VALUE ... change fields for this render only: one or more
                        FIELD=VALUE after --set (repeatable), e.g.
                        --set glowOn=on glowColour1=#FFD040
  --force               accept --set values outside the dialog's range
  --animate FIELD=KEYS  let a number or colour field change over time, e.g.
                        --animate offsetX=0:-40,2s:40:ease; KEYS are
                        TIME:VALUE[:INTERPOLATION] separated by commas, TIME a
                        frame number or seconds (2s, 1.5s), INTERPOLATION
                        linear (default), ease or hold: how the value moves
                        from the previous key to this one; colours #RRGGBB
                        move per R, G, B channel; fields with named values
                        (switches, modes) hold unless told otherwise; values
                        outside the dialog range are clamped (repeatable);
                        position.x, position.y (pixels or percent, one unit
                        a track) and titleScale (0.5 or 50%) move and scale
                        the title from its --anchor/--position/--title-scale
  --keyframes FILE      the same from a JSON file: {"FIELD": [{"time": 0,
                        "value": -100}, {"time": "2s", "value": 100,
                        "interpolation": "ease"}], ...}
  --source LAYER=FILE   the picture a layer's source fetches: map1, map2,
                        fill1, fill2, texture1, texture2 (repeatable); the
                        layer must select it (e.g. --set fill1Mode=source)
Host choices:
  --field-wise          render field by field, each field line-doubled
  --second-layers       the second fill, texture and image map take part
  --flicker-filter      smooth strong differences between neighbouring rows
Frames:
  --field-order ORDER   auto (default: as the inputs declare), progressive,
                        tff (top field first) or bff (bottom field first)
  --frames A-B          render frames A to B only (from 0; "A-": to the end;
                        with two pictures: the number of frames to make)
  --scale N/D           scaled render: the inputs are scaled by N/D and the
                        module scales bevel width and smoothing to match
  --fps RATE            frame rate of the output (default: the title's; a
                        still title: the background's, or 25), e.g. 25 or
                        30000/1001; a video at another rate is sampled by
                        time (the frame shown at each output frame's time)
Sound:
  --audio SOURCE        background (the default when the background has
                        sound), title or none: the output video carries that
                        input's audio from the first rendered frame to the end
                        of the last, copied where the container takes its
                        codec, else encoded (AAC in .mp4/.mov, Opus in .mkv
                        and .webm)
Alpha:
  --alpha MODE          what the output's alpha channel holds:
                        opaque  the composite as the preview shows it, alpha
                                255 (the default)
                        title   the title's alpha (the module passes it through)
                        effect  object, glow and shadow keyed out of the
                                background, straight colour, to composite later;
                                costs two renders a frame (over black and white)
                        title and effect need an output with alpha: .png,
                        .mov (ProRes 4444), .mkv (FFV1)
Encoding:
  --codec NAME          FFmpeg encoder, e.g. libx264, prores_ks, qtrle, ffv1
  --codec-option K=V    encoder option, e.g. crf=16 or preset=slow (repeatable)
  --pix-fmt FORMAT      the encoder's pixel format, e.g. yuv422p10le (ProRes
                        422, --codec-option profile=hq), yuv420p10le or
                        yuv422p (libx264 high10, high422), yuv444p; default:
                        yuv420p for H.264, odd frame sizes padded to even
Other:
  -j, --jobs N          frames rendered at once, each by its own copy of the
                        module (1 to 16; default: one less than the number
                        of cores, at least 1);
                        frames are still written in order and the output is
                        the same for every N
  --quiet               no progress bar and no notes
  --stats               print where the time went: decode, module, encode
  -h, --help            this text
)";

int commandRender(const std::vector<std::string> &arguments) {
    RenderCommand command;
    ArgumentReader reader(arguments);
    std::string value;
    while (!reader.done()) {
        const std::string argument = reader.next();
        if (argument == "-h" || argument == "--help") {
            std::fputs(kRenderHelp, stdout);
            std::fputs(kTitleOptionsHelp, stdout);
            return kExitSuccess;
        } else if (readTitleOption(reader, argument, command.titleOptions)) {
            // typed text, frame size, placement
        } else if (reader.option(argument, "--title", value)) {
            command.title = value;
        } else if (reader.option(argument, "--background", value)) {
            command.background = value;
        } else if (reader.option(argument, "-o", "--output", value)) {
            command.output = value;
        } else if (reader.option(argument, "--settings", value)) {
            command.settingsFile = value;
        } else if (reader.option(argument, "--instance", value)) {
            command.instance = value;
        } else if (reader.option(argument, "--preset", value)) {
            command.preset = value;
        } else if (reader.option(argument, "--set", value)) {
            // Several FIELD=VALUE may follow one --set; the first argument of
            // another form ends the list.
            command.assignments.push_back(value);
            while (!reader.done() && isAssignment(reader.peek()))
                command.assignments.push_back(reader.next());
        } else if (argument == "-y" || argument == "--overwrite") {
            if (command.overwrite == OverwriteMode::Never)
                throw UsageError("give either -y (--overwrite) or -n, not both");
            command.overwrite = OverwriteMode::Always;
        } else if (argument == "-n" || argument == "--no-overwrite") {
            if (command.overwrite == OverwriteMode::Always)
                throw UsageError("give either -y (--overwrite) or -n, not both");
            command.overwrite = OverwriteMode::Never;
        } else if (reader.option(argument, "--animate", value)) {
            command.animations.push_back(value);
        } else if (reader.option(argument, "--keyframes", value)) {
            command.keyframeFiles.push_back(value);
        } else if (argument == "--force") {
            command.force = true;
        } else if (reader.option(argument, "--source", value)) {
            const size_t equals = value.find('=');
            if (equals == std::string::npos) throw UsageError("--source needs LAYER=FILE");
            command.sources.emplace_back(value.substr(0, equals), value.substr(equals + 1));
        } else if (argument == "--field-wise") {
            command.choices.fieldWise = true;
        } else if (argument == "--second-layers") {
            command.choices.secondLayers = true;
        } else if (argument == "--flicker-filter") {
            command.choices.flickerFilter = true;
        } else if (reader.option(argument, "--field-order", value)) {
            if (value == "auto")
                command.fieldOrder.reset();
            else if (value == "progressive")
                command.fieldOrder = FieldOrder::Progressive;
            else if (value == "tff" || value == "top")
                command.fieldOrder = FieldOrder::TopFirst;
            else if (value == "bff" || value == "bottom")
                command.fieldOrder = FieldOrder::BottomFirst;
            else
                throw UsageError("--field-order: \"" + value +
                                 "\" is not auto, progressive, tff or bff");
        } else if (reader.option(argument, "--frames", value)) {
            parseFrameRange(value, command.firstFrame, command.lastFrame);
            command.rangeGiven = true;
        } else if (reader.option(argument, "--scale", value)) {
            parseRatio(value, "--scale " + value, command.scaleNumerator, command.scaleDenominator,
                       32767);
            command.scaled = true;
        } else if (reader.option(argument, "--fps", value)) {
            Rational rate;
            parseRatio(value, "--fps " + value, rate.num, rate.den, 1000000);
            command.frameRate = rate;
        } else if (reader.option(argument, "--audio", value)) {
            if (value != "background" && value != "title" && value != "none")
                throw UsageError("--audio: \"" + value + "\" is not background, title or none");
            command.audio = value;
        } else if (reader.option(argument, "--alpha", value)) {
            command.alpha = parseAlphaMode(value);
        } else if (reader.option(argument, "--pix-fmt", value)) {
            command.pixelFormat = value;
        } else if (reader.option(argument, "--codec", value)) {
            command.codec = value;
        } else if (reader.option(argument, "--codec-option", value)) {
            const size_t equals = value.find('=');
            if (equals == std::string::npos || equals == 0)
                throw UsageError("--codec-option needs KEY=VALUE");
            command.codecOptions.emplace_back(value.substr(0, equals), value.substr(equals + 1));
        } else if (argument == "--quiet" || argument == "-q") {
            command.quiet = true;
        } else if (argument == "--stats") {
            command.stats = true;
        } else if (reader.option(argument, "-j", "--jobs", value)) {
            command.workers = int(parseInteger(value, "--jobs", 1, 16));
        } else if (argument.size() > 2 && argument.compare(0, 2, "-j") == 0 &&
                   std::isdigit(static_cast<unsigned char>(argument[2]))) {
            command.workers = int(parseInteger(argument.substr(2), "-j", 1, 16)); // -j4
        } else {
            throw UsageError("render: unknown argument \"" + argument + "\"");
        }
    }
    if (command.title.empty() && !command.titleOptions.typed())
        throw UsageError("render needs --title FILE, --text TEXT or --text-file FILE");
    if (int(!command.title.empty()) + int(command.titleOptions.text.has_value()) +
            int(!command.titleOptions.textFile.empty()) >
        1)
        throw UsageError("give one title: --title, --text or --text-file");
    if (command.background.empty() && command.alpha != AlphaMode::Effect)
        throw UsageError("render needs --background FILE or #RRGGBB (or --alpha effect)");
    if (command.output.empty()) throw UsageError("render needs -o OUTPUT");
    if (!command.settingsFile.empty() && !command.instance.empty())
        throw UsageError("give either --settings or --instance, not both");
    if (!command.preset.empty()) {
        if (!command.settingsFile.empty() || !command.instance.empty())
            throw UsageError("give either --preset or --settings/--instance, not both");
        command.settingsFile = presetFileForRender(command.preset);
    }
    if (command.rangeGiven && command.lastFrame < 0 && command.firstFrame >= 0) {
        // "A-": to the end of the videos.
    }
    classifyOutput(command.output); // usage errors before any work
    return runRenderCommand(command);
}

} // namespace lustra::cli
