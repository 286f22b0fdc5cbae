#include "Instance.h"

#include "Errors.h"
#include "MediaInput.h"
#include "Presets.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace lustra::frei0r {
namespace {

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

// Converts `height` rows of RGBA; the frame gets the last row once more
// when the height is odd (the module works on frames of two equal fields).
void fillFrame(HostFrame &frame, const uint32_t *rgba, int width, int height, bool useAlpha) {
    frame.width = width;
    frame.height = height;
    frame.pixels.resize(size_t(width) * size_t(height));
    cli::rgbaToHostFrame(reinterpret_cast<const uint8_t *>(rgba), width * 4, useAlpha, frame);
    if (height % 2 != 0) {
        const uint32_t *lastRow = frame.row(height - 1);
        const std::vector<uint32_t> last(lastRow, lastRow + width);
        frame.pixels.insert(frame.pixels.end(), last.begin(), last.end());
        ++frame.height;
    }
}

} // namespace

Instance::Instance(bool mixer, unsigned width, unsigned height)
    : mixer_(mixer), width_(int(width)), height_(int(height)),
      evenHeight_(int(height) + int(height % 2)), parameters_(parameters(mixer)),
      fileRecord_(cli::defaultRecord()), fieldRecord_(fileRecord_), overrides_(parameters_.size()) {
    // ffmpeg's frames have rows padded to a multiple of 64 bytes, and the
    // frei0r calls carry no row pitch: at other widths each row starts
    // where the plug-in does not expect it.
    if (width_ % 16 != 0 && hostIsFfmpeg()) {
        const int padded = (width_ + 15) / 16 * 16;
        warnOnce("ffmpeg hands frames " + std::to_string(width_) +
                 " pixels wide to frei0r plug-ins with padded rows, which a plug-in cannot see: "
                 "the picture comes out sheared. Pad the width to a multiple of 16 before the "
                 "filter and crop after: -vf \"format=rgba,pad=" +
                 std::to_string(padded) +
                 ":ih:0:0:black@0,frei0r=...,crop=" + std::to_string(width_) + ":ih:0:0\"");
    }
}

Instance::~Instance() = default;

void Instance::loadSettingsFile() {
    fileRecord_ = cli::defaultRecord();
    const std::string presetName = presetName_.empty() ? presetFromSet_ : presetName_;
    if (!presetName.empty()) {
        if (!settingsPath_.empty())
            warnOnce("preset=" + presetName + " and settings=" + settingsPath_ +
                     ": the preset is used, the settings file is not");
        try {
            const cli::Preset preset = cli::resolvePreset(presetFolders(), presetName);
            const cli::RecordFile file = cli::readRecordFile(preset.path);
            fileRecord_ = file.record;
            if (!file.warning.empty()) warnOnce("preset: " + file.warning);
        } catch (const std::exception &error) {
            warnOnce(std::string("preset: ") + error.what() + "; using the default settings");
        }
    } else if (!settingsPath_.empty()) {
        try {
            const cli::RecordFile file = cli::readRecordFile(settingsPath_);
            if (!file.exists)
                warnOnce("settings=" + settingsPath_ +
                         ": no such settings file; using the default settings");
            else
                fileRecord_ = file.record;
            if (!file.warning.empty()) warnOnce("settings: " + file.warning);
        } catch (const std::exception &error) {
            warnOnce(std::string("settings: ") + error.what() + "; using the default settings");
        }
    }
    applyAssignmentText();
}

void Instance::applyAssignmentText() {
    cli::Record record = fileRecord_;
    std::vector<std::string> notes;
    alphaFromSet_.reset();
    std::string preset;
    applyAssignments(record, assignments_, notes, &alphaFromSet_, &preset);
    if (preset != presetFromSet_) {
        // Another base record: loaded first, the changes then apply to it.
        presetFromSet_ = preset;
        loadSettingsFile();
        return;
    }
    fieldRecord_ = record;
    for (const std::string &note : notes) warnOnce(note);
}

AlphaMode Instance::alphaMode() const {
    return alphaParameter_ ? *alphaParameter_ : alphaFromSet_.value_or(AlphaMode::Opaque);
}

cli::Record Instance::record() const {
    cli::Record record = fieldRecord_;
    for (size_t i = 0; i < parameters_.size(); ++i)
        if (overrides_[i] && parameters_[i].field)
            cli::setFieldValue(record, *cli::findField(parameters_[i].field), *overrides_[i]);
    return record;
}

void Instance::setParameter(int index, const void *value) {
    if (index < 0 || size_t(index) >= parameters_.size() || !value) return;
    const Parameter &parameter = parameters_[size_t(index)];
    switch (parameter.kind) {
    case ParameterKind::Background:
    case ParameterKind::SettingsFile:
    case ParameterKind::Assignments:
    case ParameterKind::Alpha:
    case ParameterKind::Preset: {
        const char *text = *static_cast<const char *const *>(value);
        const std::string newText = text ? text : "";
        if (parameter.kind == ParameterKind::Alpha) {
            if (alphaParameter_ && newText == alphaText_) return;
            alphaText_ = newText;
            alphaParameter_ = parseAlphaMode(newText);
            if (!alphaParameter_) {
                alphaParameter_ = AlphaMode::Opaque;
                warnOnce("alpha=" + newText + ": use opaque, title or effect; using opaque");
            }
        } else if (parameter.kind == ParameterKind::Background) {
            if (newText != backgroundText_) backgroundReady_ = false;
            backgroundText_ = newText;
        } else if (parameter.kind == ParameterKind::SettingsFile) {
            if (newText == settingsPath_) return;
            settingsPath_ = newText;
            loadSettingsFile();
        } else if (parameter.kind == ParameterKind::Preset) {
            if (newText == presetName_) return;
            presetName_ = newText;
            loadSettingsFile();
        } else {
            if (newText == assignments_) return;
            assignments_ = newText;
            applyAssignmentText();
        }
        return;
    }
    case ParameterKind::Number:
    case ParameterKind::Switch:
    case ParameterKind::Choice: {
        std::string note;
        const int64_t field = toFieldValue(parameter, *static_cast<const double *>(value), note);
        if (!note.empty()) warnOnce(note);
        if (parameter.kind != ParameterKind::Choice) {
            overrides_[size_t(index)] = field;
        } else if (parameter.choice == Choice::SecondLayers) {
            choices_.secondLayers = field != 0;
        } else if (parameter.choice == Choice::FlickerFilter) {
            choices_.flickerFilter = field != 0;
        } else {
            choices_.fieldWise = field != 0;
        }
        return;
    }
    }
}

void Instance::getParameter(int index, void *value) {
    if (index < 0 || size_t(index) >= parameters_.size() || !value) return;
    const Parameter &parameter = parameters_[size_t(index)];
    switch (parameter.kind) {
    case ParameterKind::Background:
        *static_cast<const char **>(value) = backgroundText_.c_str();
        return;
    case ParameterKind::SettingsFile:
        *static_cast<const char **>(value) = settingsPath_.c_str();
        return;
    case ParameterKind::Assignments:
        *static_cast<const char **>(value) = assignments_.c_str();
        return;
    case ParameterKind::Alpha:
        *static_cast<const char **>(value) = alphaModeName(alphaMode());
        return;
    case ParameterKind::Preset:
        *static_cast<const char **>(value) = presetName_.c_str();
        return;
    case ParameterKind::Number:
    case ParameterKind::Switch: {
        const cli::Record current = record();
        *static_cast<double *>(value) =
            toParameterValue(parameter, cli::fieldValue(current, *cli::findField(parameter.field)));
        return;
    }
    case ParameterKind::Choice: {
        const bool on = parameter.choice == Choice::SecondLayers    ? choices_.secondLayers
                        : parameter.choice == Choice::FlickerFilter ? choices_.flickerFilter
                                                                    : choices_.fieldWise;
        *static_cast<double *>(value) = on ? 1.0 : 0.0;
        return;
    }
    }
}

void Instance::prepareBackground() {
    backgroundReady_ = true;
    background_ = HostFrame(width_, evenHeight_, cli::rgbToHost(0, 0, 0));
    if (uint8_t r, g, b; parseHexColour(backgroundText_, r, g, b)) {
        std::fill(background_.pixels.begin(), background_.pixels.end(), cli::rgbToHost(r, g, b));
        return;
    }
    if (backgroundText_.empty()) return;
    if (backgroundText_[0] == '#') {
        warnOnce("background=" + backgroundText_ + ": a colour is written #RRGGBB; using #000000");
        return;
    }
    try {
        KeepHostLogLevel keep;
        cli::MediaReader reader(backgroundText_);
        std::vector<uint8_t> picture, scaled;
        if (!reader.next(picture)) throw cli::Failure(backgroundText_ + ": no picture");
        if (reader.width() != width_ || reader.height() != height_) {
            cli::RgbaScaler scaler(reader.width(), reader.height(), width_, height_, false);
            scaler.scale(picture, scaled);
            picture.swap(scaled);
        }
        fillFrame(background_, reinterpret_cast<const uint32_t *>(picture.data()), width_, height_,
                  reader.hasAlpha());
    } catch (const std::exception &error) {
        warnOnce(std::string("background: ") + error.what() + "; using #000000");
    }
}

bool Instance::stripOfAFrame(double time, const uint32_t *fallback, uint32_t *output,
                             bool concurrent) {
    // MLT with threads=0 or above 1 constructs the instance at the size of
    // a horizontal strip and hands it every strip of a frame at once, from
    // several threads: the calls carry the same time, and their frames lie
    // whole strips apart in one picture. Rendered on its own, each strip
    // would get the relief cut at its edges and the background squashed.
    if (!hostIsMlt()) return false;
    if (!haveTime_ || time != lastTime_ || callsOfThisTime_.size() >= 64) {
        haveTime_ = true;
        lastTime_ = time;
        callsOfThisTime_.clear();
    }
    const size_t bytes = size_t(width_) * size_t(height_) * 4;
    auto stripsApart = [&](const void *a, const void *b) {
        const auto x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
        const uintptr_t distance = x > y ? x - y : y - x;
        return distance != 0 && distance % bytes == 0 && distance / bytes <= 64;
    };
    // Only calls that overlapped in time count (this one began while
    // another was running, or the other one did): those are one frame's
    // strips, whose buffers the host keeps until the last one returns.
    bool strip = false;
    for (const Call &call : callsOfThisTime_)
        if ((concurrent || call.concurrent) && stripsApart(call.output, output) &&
            (!fallback || !call.fallback ||
             reinterpret_cast<intptr_t>(call.output) - reinterpret_cast<intptr_t>(output) ==
                 reinterpret_cast<intptr_t>(call.fallback) - reinterpret_cast<intptr_t>(fallback)))
            strip = true;
    if (strip && !strips_) {
        strips_ = true;
        warnOnce("MLT hands over each frame in strips of " + std::to_string(width_) + "x" +
                 std::to_string(height_) +
                 " (threads=0 or above 1), which would cut the relief and squash the background "
                 "into every strip: frames pass through unchanged; set threads=1 on the "
                 "LustraFex filter or transition");
        // The strips rendered before this one belong to the frame the host
        // is still waiting for (this call is part of it): undo them.
        for (const Call &call : callsOfThisTime_)
            if (call.fallback && call.fallback != call.output)
                std::memmove(call.output, call.fallback, bytes);
    }
    callsOfThisTime_.push_back({fallback, output, concurrent});
    return strips_;
}

void Instance::writeOutput(const HostFrame &frame, uint8_t *rgba) {
    const size_t bytes = size_t(width_) * size_t(height_) * 4;
    if (evenHeight_ == height_) {
        cli::hostFrameToRgba(frame, rgba, width_ * 4);
    } else {
        scratch_.resize(size_t(width_) * size_t(evenHeight_) * 4);
        cli::hostFrameToRgba(frame, scratch_.data(), width_ * 4);
        std::memcpy(rgba, scratch_.data(), bytes);
    }
}

bool Instance::renderEffectAlpha(Runtime &runtime, const cli::Record &record, uint32_t *output,
                                 std::string &reason) {
    const size_t pixels = size_t(width_) * size_t(height_);
    if (black_.width != width_ || black_.height != evenHeight_) {
        black_ = HostFrame(width_, evenHeight_, cli::rgbToHost(0, 0, 0));
        white_ = HostFrame(width_, evenHeight_, cli::rgbToHost(255, 255, 255));
        clear_ = HostFrame(width_, evenHeight_, cli::rgbToHost(0, 0, 0, 0));
        overBlack_ = HostFrame(width_, evenHeight_);
        overWhite_ = HostFrame(width_, evenHeight_);
        referencesReady_ = false;
    }
    // The references: what the module makes of the two backgrounds where
    // nothing covers them, rendered again only when the settings change.
    if (!referencesReady_ || !(record == referenceRecord_) || !(choices_ == referenceChoices_)) {
        referenceBlack_.resize(pixels * 4);
        referenceWhite_.resize(pixels * 4);
        if (!runtime.render(record, choices_, clear_, black_, overBlack_, reason) ||
            !runtime.render(record, choices_, clear_, white_, overWhite_, reason))
            return false;
        writeOutput(overBlack_, referenceBlack_.data());
        writeOutput(overWhite_, referenceWhite_.data());
        // Near the frame's edges the module shades even an empty title a
        // little; the value most of the frame has is the background's.
        for (std::vector<uint8_t> *reference : {&referenceBlack_, &referenceWhite_}) {
            uint8_t usual[4];
            for (int c = 0; c < 4; ++c) {
                size_t count[256] = {};
                for (size_t i = 0; i < pixels; ++i) ++count[(*reference)[i * 4 + c]];
                usual[c] = uint8_t(std::max_element(count, count + 256) - count);
            }
            for (size_t i = 0; i < pixels; ++i) std::memcpy(&(*reference)[i * 4], usual, 4);
        }
        referencesReady_ = true;
        referenceRecord_ = record;
        referenceChoices_ = choices_;
    }
    rgbaBlack_.resize(pixels * 4);
    rgbaWhite_.resize(pixels * 4);
    if (!runtime.render(record, choices_, title_, black_, overBlack_, reason) ||
        !runtime.render(record, choices_, title_, white_, overWhite_, reason))
        return false;
    writeOutput(overBlack_, rgbaBlack_.data());
    writeOutput(overWhite_, rgbaWhite_.data());
    // Over a background b the module gives a*C + (1-a)*b, so the two
    // renders differ by (1-a) times the references' difference: that
    // recovers a, and the render over black the straight colour C.
    auto *out = reinterpret_cast<uint8_t *>(output);
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t *b = &rgbaBlack_[i * 4], *w = &rgbaWhite_[i * 4];
        const uint8_t *rb = &referenceBlack_[i * 4], *rw = &referenceWhite_[i * 4];
        uint8_t *o = out + i * 4;
        int seen = 0, open = 0;
        for (int c = 0; c < 3; ++c) {
            seen += int(w[c]) - int(b[c]);
            open += int(rw[c]) - int(rb[c]);
        }
        if (open <= 0) { // the module leaves no trace of the background here
            std::memcpy(o, b, 3);
            o[3] = 255;
            continue;
        }
        double through = double(seen) / double(open);
        through = through < 0.0 ? 0.0 : (through > 1.0 ? 1.0 : through);
        const double alpha = 1.0 - through;
        const long alpha8 = std::lround(alpha * 255.0);
        if (alpha8 <= 0) {
            o[0] = o[1] = o[2] = o[3] = 0;
            continue;
        }
        for (int c = 0; c < 3; ++c) {
            const long colour = std::lround((double(b[c]) - through * double(rb[c])) / alpha);
            o[c] = uint8_t(colour < 0 ? 0 : (colour > 255 ? 255 : colour));
        }
        o[3] = uint8_t(alpha8);
    }
    return true;
}

void Instance::update(double time, const uint32_t *title, const uint32_t *background,
                      uint32_t *output, const uint32_t *fallback) {
    if (!output) return;
    struct InFlight {
        std::atomic<int> &count;
        bool concurrent;
        explicit InFlight(std::atomic<int> &c) : count(c), concurrent(c.fetch_add(1) > 0) {}
        ~InFlight() { count.fetch_sub(1); }
    } inFlight(callsInFlight_);
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t bytes = size_t(width_) * size_t(height_) * 4;
    auto passThrough = [&] {
        if (fallback && fallback != output) std::memmove(output, fallback, bytes);
    };
    if (stripOfAFrame(time, fallback, output, inFlight.concurrent)) {
        passThrough();
        return;
    }
    if (!title || (mixer_ && !background) || width_ <= 0 || height_ <= 0) {
        passThrough();
        return;
    }
    Runtime &runtime = Runtime::instance();
    if (!runtime.ready()) {
        warnOnce(runtime.error() + "; frames pass through unchanged");
        passThrough();
        return;
    }
    if (title_.width != width_ || title_.height != evenHeight_) {
        title_ = HostFrame(width_, evenHeight_);
        output_ = HostFrame(width_, evenHeight_);
    }
    fillFrame(title_, title, width_, height_, true);
    std::string reason;
    const cli::Record current = record();
    const AlphaMode alpha = alphaMode();
    if (alpha == AlphaMode::Effect) {
        if (!renderEffectAlpha(runtime, current, output, reason)) {
            warnOnce(reason + "; frames pass through unchanged");
            passThrough();
        }
        return;
    }
    if (mixer_) {
        if (background_.width != width_ || background_.height != evenHeight_)
            background_ = HostFrame(width_, evenHeight_);
        fillFrame(background_, background, width_, height_, true);
    } else if (!backgroundReady_) {
        prepareBackground();
    }
    if (!runtime.render(current, choices_, title_, background_, output_, reason)) {
        warnOnce(reason + "; frames pass through unchanged");
        passThrough();
        return;
    }
    auto *rgba = reinterpret_cast<uint8_t *>(output);
    writeOutput(output_, rgba);
    if (alpha == AlphaMode::Opaque)
        for (size_t i = 3; i < bytes; i += 4) rgba[i] = 255;
}

} // namespace lustra::frei0r
