#include "EditSession.h"

#include "Colour.h"
#include "Errors.h"
#include "Installation.h"
#include "Interrupt.h"
#include "LogMessages.h"
#include "ModuleLoader.h"
#include "SettingsRecord.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace lustra::gui {

namespace {

constexpr int64_t kMaxPreviewFrames = 32767;

// One input, read forward frame by frame; an earlier frame reopens it.
class FrameCursor {
  public:
    FrameCursor(std::unique_ptr<cli::FrameSource> source,
                std::function<std::unique_ptr<cli::FrameSource>()> reopen, int width, int height)
        : source_(std::move(source)), reopen_(std::move(reopen)), width_(width), height_(height) {
        source_->setOutputSize(width_, height_, false);
    }

    // The frame `index`, or null when the input cannot deliver it.
    const cli::HostFrame *frame(int64_t index) {
        if (source_->isStill()) index = 0;
        if (index == position_) return &frame_;
        if (index < position_) {
            if (!reopen_) return nullptr;
            try {
                source_ = reopen_();
            } catch (const std::exception &) {
                return nullptr;
            }
            source_->setOutputSize(width_, height_, false);
            position_ = -1;
        }
        while (position_ < index) {
            if (!source_->next(frame_)) {
                position_ = -1;
                return nullptr;
            }
            ++position_;
        }
        return &frame_;
    }

  private:
    std::unique_ptr<cli::FrameSource> source_;
    std::function<std::unique_ptr<cli::FrameSource>()> reopen_;
    int width_, height_;
    int64_t position_ = -1;
    cli::HostFrame frame_;
};

// The Qt backend serving the frames of any frame the dialog asks for.
class EditHost : public QtDialogHost {
  public:
    EditHost(ScreenSetup setup, std::unique_ptr<Requesters> requesters, FrameCursor &title,
             FrameCursor &background)
        : QtDialogHost(setup, std::move(requesters)), title_(title), background_(background) {
        select(0);
    }

    OpImage *getField(int32_t input, int32_t fieldNumber) override {
        if (fieldNumber < 0 || !select(fieldNumber / 2)) return nullptr;
        return CliHost::getField(input, fieldNumber);
    }

  private:
    bool select(int64_t frame) {
        const cli::HostFrame *title = title_.frame(frame);
        const cli::HostFrame *background = background_.frame(frame);
        if (!title || !background) return false;
        setFrames(frame, background, title);
        return true;
    }
    FrameCursor &title_, &background_;
};

int64_t previewFrames(const cli::FrameSource &title, const cli::FrameSource &background) {
    int64_t frames = -1;
    for (const cli::FrameSource *source : {&title, &background}) {
        if (source->isStill()) continue;
        const int64_t count = source->frameCountHint();
        if (count > 0) frames = frames < 0 ? count : std::min(frames, count);
    }
    if (frames < 0) frames = 1;
    return std::min(frames, kMaxPreviewFrames);
}

// The record an animated edit opens on, in a settings file of its own that
// the dialog reads and writes; removed when the edit ends.
class AnimatedEdit {
  public:
    AnimatedEdit(const cli::Home &home, const std::string &instance,
                 const cli::Animation &animation, int64_t frame, int64_t shownFrame,
                 cli::Rational rate)
        : animation_(animation), instancePath_(cli::instanceSettingsPath(home, instance)) {
        const cli::RecordFile file = cli::readRecordFile(instancePath_);
        base_ = file.record;
        shown_ = base_;
        animation.apply(shown_, frame, rate.num, rate.den);
        cli::setFieldValue(shown_, *cli::findField("previewFrame"), shownFrame);
        name_ = "/programs/lustra/settings/.edit-" + std::to_string(getpid()) + ".prf";
        path_ = home.path + name_;
        cli::watchTemporary(path_);
        try {
            cli::writeRecordFile(path_, shown_);
        } catch (...) {
            cli::unwatchTemporary(path_);
            throw;
        }
    }
    ~AnimatedEdit() {
        std::remove(path_.c_str());
        cli::unwatchTemporary(path_);
    }
    const std::string &name() const { return name_; }

    // The dialog's record into the instance's file, but for the animated
    // fields; one note for each animated field the user changed.
    std::vector<std::string> finish(int64_t frame) {
        std::vector<std::string> notes;
        const cli::RecordFile edited = cli::readRecordFile(path_);
        if (!edited.exists) return notes; // the dialog wrote nothing
        cli::Record result = edited.record;
        for (const cli::Animation::FieldTrack &entry : animation_.tracks()) {
            const cli::FieldInfo &field = *entry.field;
            const int64_t shown = cli::fieldValue(shown_, field);
            const int64_t now = cli::fieldValue(edited.record, field);
            if (now != shown)
                notes.push_back(std::string(field.name) + " is animated: its change at frame " +
                                std::to_string(frame) + " (" + valueText(field, shown) + " -> " +
                                valueText(field, now) +
                                ") is not kept; change its keys to keep it");
            cli::setFieldValue(result, field, cli::fieldValue(base_, field));
        }
        cli::writeRecordFile(instancePath_, result);
        return notes;
    }

  private:
    static std::string valueText(const cli::FieldInfo &field, int64_t value) {
        if (field.type != cli::FieldType::Colour) return std::to_string(value);
        uint8_t rgb[3];
        cli::hostToRgb(uint32_t(value), rgb);
        char text[8];
        std::snprintf(text, sizeof text, "#%02X%02X%02X", rgb[0], rgb[1], rgb[2]);
        return text;
    }
    const cli::Animation &animation_;
    std::string instancePath_, name_, path_;
    cli::Record base_{}, shown_{};
};

} // namespace

EditOutcome runEdit(EditRequest &request) {
    if (!request.title || !request.background)
        throw cli::UsageError("edit needs a title and a background");
    const std::string settingsName = cli::instanceSettingsName(request.instance);
    const cli::Home home = cli::prepareHome();
    std::string tried;
    const std::string modulePath = cli::findModule(&tried);
    if (modulePath.empty())
        throw cli::Failure("cannot find LustraFex.so (looked for " + tried + ")");

    const int width = request.title->width(), height = request.title->height();
    if (width < 2 || height < 2 || width > 8192 || height > 8192)
        throw cli::Failure(request.title->name() + ": a frame of " + std::to_string(width) + "x" +
                           std::to_string(height) + " pixels cannot be previewed");
    const int64_t frames = previewFrames(*request.title, *request.background);
    const cli::Rational aspect = request.title->sampleAspect();
    const cli::Rational rate = request.title->frameRate();
    if (rate.num > 0 && rate.den > 0) request.screen.framesPerSecond = double(rate.num) / rate.den;
    if ((request.screen.monitor2Width <= 0 || request.screen.monitor2Height <= 0) &&
        request.screen.guiMonitor != 2) {
        // Monitor 2 is a video output of the clip's own format (with the
        // dialog on it, the screen's size: the frame is scaled to fit).
        request.screen.monitor2Width = width;
        request.screen.monitor2Height = height;
    }

    // Keyframes: the frame's animated record, at the clip's rate.
    std::unique_ptr<AnimatedEdit> animated;
    if (request.animation && !request.animation->empty()) {
        cli::Rational keyRate{25, 1};
        if (!request.title->isStill() && rate.num > 0 && rate.den > 0)
            keyRate = rate;
        else if (!request.background->isStill() && request.background->frameRate().num > 0)
            keyRate = request.background->frameRate();
        request.animation->checkOrder(keyRate.num, keyRate.den);
        // Two pictures look the same at every frame: the dialog shows its one
        // frame with the values of any frame asked for.
        const bool still = request.title->isStill() && request.background->isStill();
        if (request.animationFrame < 0 || (request.animationFrame >= frames && !still))
            throw cli::UsageError("--frame " + std::to_string(request.animationFrame) +
                                  ": the clip has " + std::to_string(frames) + " frame" +
                                  (frames == 1 ? "" : "s") + " (from 0)");
        // The title's animated place was fixed at that frame when it was
        // placed; only record fields need a record of their own.
        if (request.animation->animatesRecord())
            animated = std::make_unique<AnimatedEdit>(home, request.instance, *request.animation,
                                                      request.animationFrame,
                                                      still ? 0 : request.animationFrame, keyRate);
    }

    FrameCursor title(std::move(request.title), request.reopenTitle, width, height);
    FrameCursor background(std::move(request.background), request.reopenBackground, width, height);

    cli::LoadedModule module(modulePath);
    EditHost host(request.screen, std::move(request.requesters), title, background);
    host.customName = animated ? animated->name() : settingsName;
    std::map<std::string, std::unique_ptr<cli::HostFrame>> pictures;
    host.resolveSource = [&](const std::string &descriptor) -> const cli::HostFrame * {
        auto found = pictures.find(descriptor);
        if (found != pictures.end()) return found->second.get();
        std::unique_ptr<cli::HostFrame> picture;
        if (!descriptor.empty()) {
            try {
                picture = std::make_unique<cli::HostFrame>(cli::loadPicture(descriptor));
            } catch (const std::exception &error) {
                if (!request.quiet)
                    std::fprintf(stderr, "lustra: warning: picture source: %s\n", error.what());
            }
        }
        return (pictures[descriptor] = std::move(picture)).get();
    };
    if (request.prepare) request.prepare(host);

    module.describe();
    if (HostChoice *choice = module.secondLayers()) choice->value = request.secondLayers ? 1 : 0;

    OperatorContext context{};
    context.action = 4;
    context.node = 1;
    context.pixelAspect =
        int16_t(aspect.num > 0 && aspect.den > 0
                    ? std::clamp<int64_t>(int64_t(aspect.num) * 1000 / aspect.den, 1, 32767)
                    : 1000);
    context.fieldCount = uint32_t(2 * frames);
    module.action(context);

    EditOutcome outcome;
    if (animated) {
        outcome.notes = animated->finish(request.animationFrame);
        if (!request.quiet)
            for (const std::string &note : outcome.notes)
                std::fprintf(stderr, "lustra: note: %s\n", note.c_str());
    }
    outcome.logLines = host.logLines;
    outcome.settingsPath = cli::instanceSettingsPath(home, request.instance);
    for (int32_t line : host.logLines)
        if (!request.quiet)
            std::fprintf(stderr, "lustra: %s\n", cli::describeLogLine(line).c_str());
    outcome.exitCode = host.logLines.empty() ? cli::kExitSuccess : cli::kExitFailure;
    return outcome;
}

} // namespace lustra::gui
