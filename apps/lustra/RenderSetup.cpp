#include "RenderSetup.h"

#include "Animation.h"
#include "AudioCopy.h"
#include "Colour.h"
#include "Errors.h"
#include "Installation.h"
#include "Interrupt.h"
#include "SettingsRecord.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

namespace lustra::cli {
namespace {

struct LayerSource {
    const char *layer;
    const char *field;
};
constexpr LayerSource kLayers[] = {{"map1", "map1Source"},         {"map2", "map2Source"},
                                   {"fill1", "fill1Source"},       {"fill2", "fill2Source"},
                                   {"texture1", "texture1Source"}, {"texture2", "texture2Source"}};

// Whether the record makes a layer fetch its source picture.
bool layerUsesSource(const Record &record, const std::string &layer) {
    auto value = [&](const char *name) { return fieldValue(record, *findField(name)); };
    if (layer == "map1") return value("map1On") == 1 && value("map1FromSource") != 0;
    if (layer == "map2") return value("map2On") == 1 && value("map2FromSource") != 0;
    if (layer == "fill1") return value("fill1Mode") == 4;
    if (layer == "fill2") return value("fill2Mode") == 4;
    if (layer == "texture1") return value("texture1Type") == 5;
    if (layer == "texture2") return value("texture2Type") == 5;
    return false;
}

// A settings file the module reads for one render only, removed once the
// module's set-up has read it (or when the render ends); written again for
// each new set-up of a render whose settings change between frames.
class TemporarySettings {
  public:
    // `worker` > 0: the file of that render worker, which sets up its own
    // copy of the module.
    TemporarySettings(const Home &home, const Record &record, int worker = 0) {
        name_ = "/programs/lustra/settings/.render-" + std::to_string(getpid()) +
                (worker > 0 ? "-" + std::to_string(worker) : std::string()) + ".prf";
        path_ = home.path + name_;
        rewrite(record);
    }
    ~TemporarySettings() { remove(); }
    // The first record goes through writeRecordFile; the records of later
    // set-ups are written in place without its sync: the file lives only
    // until the set-up that follows in this process has read it.
    void rewrite(const Record &record) {
        const bool first = !written_;
        if (!present_) watchTemporary(path_);
        present_ = written_ = true;
        try {
            if (first) {
                writeRecordFile(path_, record);
                return;
            }
            const int fd =
                ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
            const bool ok =
                fd >= 0 && ::write(fd, record.data(), kRecordSize) == ssize_t(kRecordSize);
            if (fd >= 0 && ::close(fd) != 0) throw Failure(path_ + ": cannot write the settings");
            if (!ok) throw Failure(path_ + ": cannot write the settings: " + std::strerror(errno));
        } catch (...) {
            remove();
            throw;
        }
    }
    void remove() {
        if (present_) {
            std::remove(path_.c_str());
            unwatchTemporary(path_);
        }
        present_ = false;
    }
    const std::string &name() const { return name_; }
    void keep(const Record &record) { record_ = record; }
    const Record *record() const { return &record_; }

  private:
    std::string name_, path_;
    bool present_ = false, written_ = false;
    Record record_;
};

// The layers of the object whose picture is the current frame of input 0.
std::vector<std::string> layersShowingBackground(const Record &record) {
    auto value = [&](const char *name) { return fieldValue(record, *findField(name)); };
    std::vector<std::string> layers;
    if (value("fill1Mode") == 3) layers.push_back("fill 1 (fill1Mode=frame)");
    if (value("texture1On") == 1 && value("texture1Type") == 4)
        layers.push_back("surface texture 1 (texture1Type=frame)");
    if (value("map1On") == 1 && value("map1FromSource") == 0)
        layers.push_back("image map 1 (map1FromSource=0)");
    return layers;
}

// The file whose sound the output carries, by --audio.
std::string chooseAudio(const RenderCommand &command) {
    const bool asked = !command.audio.empty();
    if (command.audio == "none") return "";
    const bool video = classifyOutput(command.output) == OutputKind::Video;
    if (!video) {
        if (asked)
            throw UsageError("--audio " + command.audio + ": " + command.output +
                             " is a picture, which holds no sound (use --audio none)");
        return "";
    }
    const bool title = command.audio == "title";
    const std::string &path = title ? command.title : command.background;
    const bool program = title ? bool(command.titleSource) : bool(command.backgroundSource);
    uint8_t r, g, b;
    if (path.empty() || program || parseHexColour(path, r, g, b) || !hasAudioStream(path)) {
        if (asked)
            throw UsageError("--audio " + command.audio + ": " +
                             (path.empty() ? std::string("no ") + command.audio + " is given"
                                           : path + " has no audio stream"));
        return "";
    }
    return path;
}

// The pictures the record's source fields name are inputs as well.
void addSourceInputs(OutputSafety &safety, const Record &record) {
    for (const LayerSource &entry : kLayers) {
        const std::string path = sourcePath(record, *findField(entry.field));
        if (!path.empty() && path.compare(0, 14, "lustra-source:") != 0)
            safety.addInput(std::string(entry.field) + " picture", path);
    }
}

} // namespace

const char *sourceFieldOfLayer(const std::string &layer) {
    for (const LayerSource &entry : kLayers)
        if (layer == entry.layer) return entry.field;
    return nullptr;
}

bool parseHexColour(const std::string &text, uint8_t &r, uint8_t &g, uint8_t &b) {
    if (text.size() != 7 || text[0] != '#') return false;
    for (size_t i = 1; i < 7; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    const unsigned long value = std::strtoul(text.c_str() + 1, nullptr, 16);
    r = uint8_t(value >> 16);
    g = uint8_t(value >> 8);
    b = uint8_t(value);
    return true;
}

int runRenderCommand(RenderCommand &command) {
    auto say = [&](const std::string &text) {
        if (!command.quiet) std::fprintf(stderr, "lustra: %s\n", text.c_str());
    };
    // Check what can be checked before any file is touched.
    for (const auto &[layer, file] : command.sources) {
        if (!sourceFieldOfLayer(layer))
            throw UsageError("--source " + layer +
                             "=...: the layers are map1, map2, fill1, fill2, texture1, texture2");
        if (file.empty()) throw UsageError("--source " + layer + "= needs a file");
    }
    Record scratch = defaultRecord();
    for (const std::string &assignment : command.assignments)
        assignField(scratch, assignment, command.force);
    instanceSettingsName(command.instance);
    Animation animation;
    {
        std::vector<std::string> warnings;
        for (const std::string &option : command.animations)
            animation.addOption(option, command.force, warnings);
        for (const std::string &file : command.keyframeFiles)
            animation.addFile(file, command.force, warnings);
        for (const std::string &warning : warnings) say("warning: " + warning);
    }

    // From here on a second Ctrl-C removes the temporary files on its way out.
    InterruptGuard interrupts;
    OutputSafety safety(command.overwrite);
    if (!command.titleSource && !command.title.empty()) safety.addInput("--title", command.title);
    if (!command.titleOptions.textFile.empty())
        safety.addInput("--text-file", command.titleOptions.textFile);
    if (!command.backgroundSource && !command.background.empty() && command.background[0] != '#')
        safety.addInput("--background", command.background);
    for (const auto &[layer, file] : command.sources) safety.addInput("--source " + layer, file);
    for (const std::string &file : command.keyframeFiles) safety.addInput("--keyframes", file);
    const Home home = prepareHome();
    std::string tried;
    RenderRequest request;
    request.modulePath = findModule(&tried);
    if (request.modulePath.empty())
        throw Failure("cannot find LustraFex.so (looked for " + tried + ")");
    if (!fs::exists(home.path + "/lustra/metal.pat"))
        say("warning: " + home.path +
            "/lustra/metal.pat is missing: the module cannot render without its pattern files");

    // The settings the module reads: the file as it is, or a temporary
    // record built from it with this command's changes.
    std::unique_ptr<TemporarySettings> temporary;
    const bool changes = !command.settingsFile.empty() || !command.assignments.empty() ||
                         !command.sources.empty() || command.useDefaults ||
                         animation.animatesRecord();
    RecordFile base;
    if (command.useDefaults) {
        base.record = defaultRecord();
    } else {
        const std::string path = command.settingsFile.empty()
                                     ? instanceSettingsPath(home, command.instance)
                                     : command.settingsFile;
        if (!command.settingsFile.empty() && !fs::exists(path))
            throw Failure(path + ": no such settings file");
        base = readRecordFile(path);
        if (!base.warning.empty()) say("warning: " + base.warning);
        // A misspelled instance name would otherwise render the defaults
        // without a word; said even with --quiet.
        if (!command.instance.empty() && !base.exists)
            std::fprintf(stderr,
                         "lustra: warning: instance \"%s\" has no settings file (looked for "
                         "%s): rendering with the defaults\n",
                         command.instance.c_str(), path.c_str());
        safety.addInput(command.settingsFile.empty() ? "settings file"
                        : command.preset.empty()     ? "--settings"
                                                     : "--preset " + command.preset,
                        path);
    }
    if (changes) {
        Record record = base.record;
        for (const std::string &assignment : command.assignments)
            assignField(record, assignment, command.force);
        for (const auto &[layer, file] : command.sources) {
            if (!fs::exists(file)) throw Failure(file + ": no such file");
            const FieldInfo &field = *findField(sourceFieldOfLayer(layer));
            std::string descriptor = fs::absolute(file).lexically_normal().string();
            if (descriptor.size() >= kSourceSize) {
                // Too long for the 112 bytes: a token the host resolves.
                descriptor = std::string("lustra-source:") + layer;
                request.sourceFiles[descriptor] = file;
            }
            std::memset(record.data() + field.offset, 0, kSourceSize);
            std::memcpy(record.data() + field.offset, descriptor.data(), descriptor.size());
            if (!layerUsesSource(record, layer))
                say("note: " + layer +
                    " does not select its source picture with these settings "
                    "(see lustra render --help), so " +
                    file + " is not used");
        }
        base.record = record;
    }
    addSourceInputs(safety, base.record);

    // The output against the inputs and existing files, before the inputs
    // are opened, so that a refusal or the question comes first; a sequence
    // once the render knows which frames it writes.
    if (classifyOutput(command.output) == OutputKind::Sequence) {
        request.checkOutput = [&safety, &command](OutputKind kind, int64_t first, int64_t last) {
            return safety.check(command.output, kind, first, last);
        };
    } else {
        const bool replace = safety.check(command.output, classifyOutput(command.output), 0, 0);
        request.checkOutput = [replace](OutputKind, int64_t, int64_t) { return replace; };
    }
    // Each render worker past the first reads a file of its own, made when
    // the worker is set up (before any worker renders).
    std::vector<std::unique_ptr<TemporarySettings>> workerSettings;
    if (changes) {
        temporary = std::make_unique<TemporarySettings>(home, base.record);
        temporary->keep(base.record);
        request.customName = temporary->name();
        request.customNameOf = [&](int worker) {
            if (workerSettings.size() < size_t(worker) + 1) workerSettings.resize(worker + 1);
            workerSettings[worker] = std::make_unique<TemporarySettings>(home, base.record, worker);
            return workerSettings[worker]->name();
        };
        request.afterSetup = [&](int worker) {
            (worker == 0 ? temporary : workerSettings[worker])->remove();
        };
    } else {
        request.customName = instanceSettingsName(command.instance);
    }
    // Animated settings: the record of each frame, written for a new set-up
    // of a worker only when it differs from the record of that worker's
    // last set-up.
    Rational animationRate{25, 1};
    std::mutex setUpRecordsMutex;
    std::deque<Record> setUpRecords; // its references stay as it grows
    if (!animation.empty()) {
        request.settingsRate = [&](Rational rate) {
            animation.checkOrder(rate.num, rate.den);
            animationRate = rate;
        };
    }
    if (animation.animatesRecord()) {
        request.settingsForFrame = [&](int worker, int64_t frame, bool &invertShape) {
            Record record = base.record;
            animation.apply(record, frame, animationRate.num, animationRate.den);
            Record *setUpRecord;
            {
                // Workers ask from their own threads; each has its own entry.
                std::lock_guard<std::mutex> lock(setUpRecordsMutex);
                while (setUpRecords.size() <= size_t(worker)) setUpRecords.push_back(base.record);
                setUpRecord = &setUpRecords[worker];
            }
            if (record == *setUpRecord) return false;
            (worker == 0 ? temporary : workerSettings[worker])->rewrite(record);
            *setUpRecord = record;
            invertShape = fieldValue(record, *findField("invertShape")) == 1;
            return true;
        };
    }

    request.alpha = command.alpha.value_or(AlphaMode::Opaque);
    {
        const Record &record = changes ? *temporary->record() : base.record;
        request.invertShape = fieldValue(record, *findField("invertShape")) == 1;
        if (request.alpha == AlphaMode::Effect)
            for (const std::string &layer : layersShowingBackground(record))
                say("warning: " + layer +
                    " shows the background (input 0), which --alpha effect replaces by black "
                    "and white: its colours cannot be recovered");
    }

    // Inputs, and the title placed on the output frame.
    std::unique_ptr<FrameSource> title;
    if (command.titleSource)
        title = std::move(command.titleSource);
    else if (!command.titleOptions.typed())
        title = openMediaSource(command.title);
    std::unique_ptr<FrameSource> background;
    uint8_t colour[3] = {0, 0, 0};
    bool colourGiven = false;
    if (command.backgroundSource) {
        background = std::move(command.backgroundSource);
    } else if (command.background.empty()) {
        // --alpha effect needs no background: the matte's own black stands in.
    } else if (parseHexColour(command.background, colour[0], colour[1], colour[2])) {
        colourGiven = true;
    } else if (command.background[0] == '#') {
        throw UsageError("--background " + command.background + ": a colour is written #RRGGBB");
    } else {
        background = openMediaSource(command.background);
    }
    if (animation.animatesPlacement()) {
        // The title's place on each output frame; the module is not set up
        // again for it.
        const TitlePlacement placement = command.titleOptions.placement;
        command.titleOptions.placementAt = [&animation, &animationRate, placement](int64_t frame) {
            return animation.placement(placement, frame, animationRate.num, animationRate.den);
        };
    }
    ArrangedInputs inputs =
        arrangeInputs(command.titleOptions, std::move(title), nullptr, std::move(background),
                      colourGiven ? colour : nullptr, command.scaled ? command.scaleNumerator : 1,
                      command.scaled ? command.scaleDenominator : 1, say);
    request.title = std::move(inputs.title);
    request.background = std::move(inputs.background);
    if (request.alpha == AlphaMode::Title && !request.title->hasAlpha())
        say("note: " + request.title->name() +
            " has no alpha channel: --alpha title writes alpha 255 everywhere");

    request.audioPath = chooseAudio(command);
    request.outputPath = command.output;
    request.codec = command.codec;
    request.pixelFormat = command.pixelFormat;
    request.codecOptions = command.codecOptions;
    request.choices = command.choices;
    request.fieldOrder = command.fieldOrder;
    request.firstFrame = command.firstFrame;
    request.lastFrame = command.lastFrame;
    request.rangeGiven = command.rangeGiven;
    request.scaled = command.scaled;
    request.scaleNumerator = command.scaleNumerator;
    request.scaleDenominator = command.scaleDenominator;
    request.frameRate = command.frameRate;
    request.quiet = command.quiet;
    request.stats = command.stats;
    request.workers = command.workers;

    const RenderOutcome outcome = runRender(request);
    if (outcome.exitCode == kExitSuccess || outcome.exitCode == kExitInterrupted) {
        const double fps =
            outcome.times.wall > 0 ? double(outcome.frames) / outcome.times.wall : 0.0;
        if (outcome.exitCode == kExitSuccess && !command.quiet) {
            std::fprintf(stderr, "lustra: wrote %s (%lld frame%s, %.1f frames per second)\n",
                         outcome.files.size() == 1 ? outcome.files[0].c_str()
                                                   : command.output.c_str(),
                         (long long)outcome.frames, outcome.frames == 1 ? "" : "s", fps);
        }
        if (command.stats && outcome.frames > 0) {
            const double n = double(outcome.frames);
            std::fprintf(stderr,
                         "lustra: %lld frames in %.2f s = %.2f fps; per frame: decode %.1f ms "
                         "(reader thread), module %.1f ms (%d worker%s), convert %.1f ms "
                         "(workers, reader), encode %.1f ms (writer thread); colour rows %s\n",
                         (long long)outcome.frames, outcome.times.wall, fps,
                         1000 * outcome.times.decode / n, 1000 * outcome.times.module / n,
                         outcome.workers, outcome.workers == 1 ? "" : "s",
                         1000 * outcome.times.convert / n, 1000 * outcome.times.encode / n,
                         colourRows().name);
        }
    }
    return outcome.exitCode;
}

} // namespace lustra::cli
