#include "EditSession.h"

#include "Errors.h"
#include "Installation.h"
#include "LogMessages.h"
#include "ModuleLoader.h"

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

    FrameCursor title(std::move(request.title), request.reopenTitle, width, height);
    FrameCursor background(std::move(request.background), request.reopenBackground, width, height);

    cli::LoadedModule module(modulePath);
    EditHost host(request.screen, std::move(request.requesters), title, background);
    host.customName = settingsName;
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
    outcome.logLines = host.logLines;
    outcome.settingsPath = cli::instanceSettingsPath(home, request.instance);
    for (int32_t line : host.logLines)
        if (!request.quiet)
            std::fprintf(stderr, "lustra: %s\n", cli::describeLogLine(line).c_str());
    outcome.exitCode = host.logLines.empty() ? cli::kExitSuccess : cli::kExitFailure;
    return outcome;
}

} // namespace lustra::gui
