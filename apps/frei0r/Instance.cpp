#include "Instance.h"

#include "Errors.h"
#include "MediaInput.h"

#include <algorithm>
#include <cctype>
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
        const std::vector<uint32_t> last(frame.pixels.end() - width, frame.pixels.end());
        frame.pixels.insert(frame.pixels.end(), last.begin(), last.end());
        ++frame.height;
    }
}

} // namespace

Instance::Instance(bool mixer, unsigned width, unsigned height)
    : mixer_(mixer), width_(int(width)), height_(int(height)),
      evenHeight_(int(height) + int(height % 2)), parameters_(parameters(mixer)),
      fileRecord_(cli::defaultRecord()), fieldRecord_(fileRecord_), overrides_(parameters_.size()) {
}

Instance::~Instance() = default;

void Instance::loadSettingsFile() {
    fileRecord_ = cli::defaultRecord();
    if (!settingsPath_.empty()) {
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
    fieldRecord_ = fileRecord_;
    std::vector<std::string> notes;
    applyAssignments(fieldRecord_, assignments_, notes);
    for (const std::string &note : notes) warnOnce(note);
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
    case ParameterKind::Assignments: {
        const char *text = *static_cast<const char *const *>(value);
        const std::string newText = text ? text : "";
        if (parameter.kind == ParameterKind::Background) {
            if (newText != backgroundText_) backgroundReady_ = false;
            backgroundText_ = newText;
        } else if (parameter.kind == ParameterKind::SettingsFile) {
            if (newText == settingsPath_) return;
            settingsPath_ = newText;
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

void Instance::update(const uint32_t *title, const uint32_t *background, uint32_t *output,
                      const uint32_t *fallback) {
    if (!output) return;
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t bytes = size_t(width_) * size_t(height_) * 4;
    // A host that cuts the frame into horizontal strips (MLT with threads=0
    // or more than 1) hands over neighbouring parts of one picture: the
    // relief would show seams at the strip edges.
    const auto address = reinterpret_cast<uintptr_t>(output);
    if (lastOutput_ != 0 && address != lastOutput_) {
        const uintptr_t distance =
            address > lastOutput_ ? address - lastOutput_ : lastOutput_ - address;
        if (distance % bytes == 0 && distance / bytes <= 16)
            warnOnce("the host hands over the frame in strips of " + std::to_string(width_) + "x" +
                     std::to_string(height_) +
                     ": the bevel, glow and shadow show seams at the strip edges (in MLT, set "
                     "threads=1 on the LustraFex filter or transition)");
    }
    lastOutput_ = address;
    auto passThrough = [&] {
        if (fallback && fallback != output) std::memmove(output, fallback, bytes);
    };
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
    if (mixer_) {
        if (background_.width != width_ || background_.height != evenHeight_)
            background_ = HostFrame(width_, evenHeight_);
        fillFrame(background_, background, width_, height_, true);
    } else if (!backgroundReady_) {
        prepareBackground();
    }
    std::string reason;
    if (!runtime.render(record(), choices_, title_, background_, output_, reason)) {
        warnOnce(reason + "; frames pass through unchanged");
        passThrough();
        return;
    }
    if (evenHeight_ == height_) {
        cli::hostFrameToRgba(output_, reinterpret_cast<uint8_t *>(output), width_ * 4);
    } else {
        scratch_.resize(size_t(width_) * size_t(evenHeight_) * 4);
        cli::hostFrameToRgba(output_, scratch_.data(), width_ * 4);
        std::memcpy(output, scratch_.data(), bytes);
    }
}

} // namespace lustra::frei0r
