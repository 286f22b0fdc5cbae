// One frei0r plug-in instance: its parameters, its settings record and the
// conversion of its RGBA frames to and from the host's pixels.
#pragma once

#include "Parameters.h"
#include "Runtime.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace lustra::frei0r {

class Instance {
  public:
    // `mixer`: two inputs (background, title); otherwise one input (the
    // title) and the background parameter.
    Instance(bool mixer, unsigned width, unsigned height);
    ~Instance();
    Instance(const Instance &) = delete;
    Instance &operator=(const Instance &) = delete;

    int width() const { return width_; }
    int height() const { return height_; }

    // frei0r's parameter calls: `value` points to a double, or to a char *
    // for the text parameters. Unknown indices are ignored.
    void setParameter(int index, const void *value);
    void getParameter(int index, void *value);

    // Renders `title` over `background` (RGBA8888, width x height) into
    // `output`. When the module cannot render, says why on stderr and
    // copies `fallback` (filter: the title; mixer: the background). `time`
    // is the host's; it only tells the strips of one frame apart.
    void update(double time, const uint32_t *title, const uint32_t *background, uint32_t *output,
                const uint32_t *fallback);

    // The record the next render uses: the preset (when given) or else the
    // settings file, then the field changes, then the direct parameters the
    // host has set.
    cli::Record record() const;
    HostChoices choices() const { return choices_; }

  private:
    void loadSettingsFile();
    void applyAssignmentText();
    void prepareBackground();
    bool stripOfAFrame(double time, const uint32_t *fallback, uint32_t *output, bool concurrent);
    bool renderEffectAlpha(Runtime &runtime, const cli::Record &record, uint32_t *output,
                           std::string &reason);
    void writeOutput(const HostFrame &frame, uint8_t *rgba);

    bool mixer_;
    int width_, height_, evenHeight_;
    const std::vector<Parameter> &parameters_;
    std::string backgroundText_ = "#000000";
    std::string settingsPath_;
    std::string presetName_;    // the preset parameter
    std::string presetFromSet_; // preset:NAME in `set`, used when the parameter is empty
    std::string assignments_;
    cli::Record fileRecord_;  // the settings file (or the defaults)
    cli::Record fieldRecord_; // with the field changes applied
    std::vector<std::optional<int64_t>> overrides_;
    HostChoices choices_;
    bool backgroundReady_ = false;
    HostFrame title_, background_, output_;
    std::vector<uint8_t> scratch_;
    // The alpha parameter when the host has set it, else `alpha:` in `set`.
    AlphaMode alphaMode() const;
    std::optional<AlphaMode> alphaParameter_, alphaFromSet_;
    std::string alphaText_;
    std::mutex mutex_; // hosts may call one instance from several threads
    std::atomic<int> callsInFlight_{0};
    // The calls of the current host time: where their output went, and the
    // input that would pass through instead.
    struct Call {
        const uint32_t *fallback;
        uint32_t *output;
        bool concurrent; // began while another call was running
    };
    bool haveTime_ = false;
    double lastTime_ = 0;
    std::vector<Call> callsOfThisTime_;
    bool strips_ = false; // the host cuts frames into strips: pass through
    // The effect alpha: the module's renders over black and white, and what
    // it makes of those backgrounds with nothing over them.
    HostFrame black_, white_, clear_, overBlack_, overWhite_;
    std::vector<uint8_t> referenceBlack_, referenceWhite_, rgbaBlack_, rgbaWhite_;
    bool referencesReady_ = false;
    cli::Record referenceRecord_{};
    HostChoices referenceChoices_;
};

} // namespace lustra::frei0r
