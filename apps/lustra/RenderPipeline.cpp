#include "RenderPipeline.h"

#include "CliHost.h"
#include "Errors.h"
#include "FramePool.h"
#include "Interrupt.h"
#include "LogMessages.h"
#include "ModuleLoader.h"
#include "Progress.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <set>
#include <thread>

namespace lustra::cli {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A bounded queue between two threads; close() wakes both sides for good.
template <typename T> class BoundedQueue {
  public:
    explicit BoundedQueue(size_t capacity) : capacity_(capacity) {}
    bool push(T item) {
        std::unique_lock<std::mutex> lock(mutex_);
        notFull_.wait(lock, [&] { return closed_ || items_.size() < capacity_; });
        if (closed_) return false;
        items_.push_back(std::move(item));
        notEmpty_.notify_one();
        return true;
    }
    // False when the queue is finished (ended or closed) and empty.
    bool pop(T &item) {
        std::unique_lock<std::mutex> lock(mutex_);
        notEmpty_.wait(lock, [&] { return closed_ || ended_ || !items_.empty(); });
        if (closed_ || items_.empty()) return false;
        item = std::move(items_.front());
        items_.pop_front();
        notFull_.notify_one();
        return true;
    }
    // No more items will come; the consumer drains what is there.
    void end() {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        notEmpty_.notify_all();
    }
    // Stop at once: both sides give up.
    void close() {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        notEmpty_.notify_all();
        notFull_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable notEmpty_, notFull_;
    std::deque<T> items_;
    size_t capacity_;
    bool closed_ = false, ended_ = false;
};

// Frames come from the render's frame pool and go back to it when the
// module (inputs) or the writer (outputs) is done with them; a still the
// source keeps converted is read in place (`title`, `background` point to it).
struct InputFrames {
    int64_t index = 0;
    FramePool::Lease titleLease, backgroundLease;
    const HostFrame *title = nullptr, *background = nullptr;
};

struct OutputFrame {
    int64_t index = 0;
    FramePool::Lease frame;
    RgbaPicture rgba; // instead of `frame` when not empty
};

bool sameRate(Rational a, Rational b) {
    return int64_t(a.num) * b.den == int64_t(b.num) * a.den;
}

std::string rateText(Rational rate) {
    if (rate.den == 1) return std::to_string(rate.num);
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", rate.value());
    return text;
}

// Duplicates the last row so that the frame has an even number of rows.
void padToEven(HostFrame &frame) {
    if (frame.height % 2 == 0) return;
    frame.pixels.insert(frame.pixels.end(), frame.pixels.end() - frame.width, frame.pixels.end());
    ++frame.height;
}

std::string sizeText(int w, int h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

std::string joinLogLines(const std::vector<int32_t> &lines) {
    std::string text;
    std::set<int32_t> seen;
    for (int32_t line : lines) {
        if (!seen.insert(line).second) continue;
        text += "\n  " + describeLogLine(line);
    }
    return text;
}

} // namespace

RenderOutcome runRender(RenderRequest &request) {
    RenderOutcome outcome;
    auto say = [&](const std::string &text) {
        if (!request.quiet) std::fprintf(stderr, "lustra: %s\n", text.c_str());
    };

    Rational rate{25, 1};
    if (request.frameRate)
        rate = *request.frameRate;
    else if (!request.title->isStill() && request.title->frameRate().num > 0)
        rate = request.title->frameRate();
    else if (!request.background->isStill() && request.background->frameRate().num > 0)
        rate = request.background->frameRate();
    // Videos at another rate are sampled by time.
    for (std::unique_ptr<FrameSource> *input : {&request.title, &request.background}) {
        FrameSource &source = **input;
        if (source.isStill() || source.frameRate().num <= 0 || sameRate(source.frameRate(), rate))
            continue;
        if (!(input == &request.background && request.alpha == AlphaMode::Effect))
            say(std::string(input == &request.title ? "title " : "background ") + source.name() +
                " is " + rateText(source.frameRate()) + " fps, the output " + rateText(rate) +
                " fps: each output frame shows the frame at its time");
        *input = retimedSource(std::move(*input), rate);
    }

    if (request.settingsRate) request.settingsRate(rate);

    FrameSource &title = *request.title;
    FrameSource &background = *request.background;
    if (!title.note().empty()) say("note: " + title.note());
    if (request.alpha != AlphaMode::Effect && !background.note().empty())
        say("note: " + background.note());

    // Geometry: the title's frame, scaled for a scaled render.
    int width = title.width(), height = title.height();
    if (request.scaled) {
        const int64_t n = request.scaleNumerator, d = request.scaleDenominator;
        width = int((int64_t(width) * n + d / 2) / d);
        height = int((int64_t(height) * n + d / 2) / d);
        if (width < 1 || height < 2)
            throw UsageError("--scale " + std::to_string(n) + "/" + std::to_string(d) +
                             " leaves no picture of " + sizeText(title.width(), title.height()));
    }
    if (height < 2) throw Failure(title.name() + ": a frame needs at least two rows (two fields)");
    if (width > 32767 || height > 32766)
        throw Failure(title.name() + ": " + sizeText(width, height) +
                      " is larger than the module handles");

    // Field order: given, or what the video inputs declare.
    FieldOrder order = FieldOrder::Progressive;
    if (request.fieldOrder)
        order = *request.fieldOrder;
    else if (!title.isStill())
        order = title.fieldOrder();
    else if (!background.isStill())
        order = background.fieldOrder();
    const bool interlaced = order != FieldOrder::Progressive;

    title.setOutputSize(width, height, interlaced);
    if (background.width() != title.width() || background.height() != title.height()) {
        if (background.isStill() && background.frameCountHint() == 1 &&
            background.name()[0] == '#') {
            // A solid colour has no size of its own.
        } else {
            say("background " + background.name() + " (" +
                sizeText(background.width(), background.height()) +
                ") is scaled to the frame size " + sizeText(title.width(), title.height()));
        }
    }
    background.setOutputSize(width, height, interlaced);

    // Length: videos end the render; two pictures make one frame unless a
    // frame range asks for more.
    const bool allStill = title.isStill() && background.isStill();
    int64_t total = -1;
    if (allStill) {
        total = request.rangeGiven ? request.lastFrame - request.firstFrame + 1 : 1;
    } else {
        int64_t hint = -1;
        for (FrameSource *source : {&title, &background})
            if (!source->isStill() && source->frameCountHint() > 0)
                hint =
                    hint < 0 ? source->frameCountHint() : std::min(hint, source->frameCountHint());
        if (hint > 0) total = std::max<int64_t>(0, hint - request.firstFrame);
        if (request.rangeGiven && request.lastFrame >= 0)
            total = total < 0 ? request.lastFrame - request.firstFrame + 1
                              : std::min(total, request.lastFrame - request.firstFrame + 1);
    }
    if (!title.isStill() && !background.isStill() && title.frameCountHint() > 0 &&
        background.frameCountHint() > 0 && title.frameCountHint() != background.frameCountHint())
        say("title and background differ in length; the render stops at the shorter one");

    // The last frame index rendered (-1: until a video input ends).
    const int64_t lastIndex =
        allStill ? request.firstFrame + total - 1 : (request.rangeGiven ? request.lastFrame : -1);

    const OutputKind kind = classifyOutput(request.outputPath);
    if (kind == OutputKind::Picture && !(allStill && total == 1) &&
        !(request.rangeGiven && request.lastFrame == request.firstFrame))
        throw UsageError(request.outputPath +
                         ": one picture holds one frame, but this render has " +
                         (total > 0 ? std::to_string(total) : std::string("many")) +
                         " frames; write a numbered sequence (out-%04d.png), a video, or pick one "
                         "frame with --frames N-N");
    const bool replaceOutput =
        request.checkOutput ? request.checkOutput(kind, request.firstFrame, lastIndex) : true;

    // The module, driven through the stand-in host library.
    LoadedModule module(request.modulePath);
    CliHost host;
    host.customName = request.customName;
    std::map<std::string, std::unique_ptr<HostFrame>> pictures;
    host.resolveSource = [&](const std::string &descriptor) -> const HostFrame * {
        auto found = pictures.find(descriptor);
        if (found != pictures.end()) return found->second.get();
        std::unique_ptr<HostFrame> picture;
        std::string path = descriptor;
        if (auto token = request.sourceFiles.find(descriptor); token != request.sourceFiles.end())
            path = token->second;
        if (path.empty()) {
            say("warning: a layer asks for a picture source, but none is set; it falls back to its "
                "plain form");
        } else {
            try {
                picture = std::make_unique<HostFrame>(loadPicture(path));
            } catch (const std::exception &error) {
                say(std::string("warning: picture source: ") + error.what() +
                    "; the layer falls back to its plain form");
            }
        }
        return (pictures[descriptor] = std::move(picture)).get();
    };

    module.describe();
    HostChoice *choices[3] = {module.secondLayers(), module.flickerFilter(), module.fieldWise()};
    if (!choices[0] || !choices[1] || !choices[2])
        throw Failure(module.path() + ": the module does not offer the three host choices");
    choices[0]->value = request.choices.secondLayers ? 1 : 0;
    choices[1]->value = request.choices.flickerFilter ? 1 : 0;
    choices[2]->value = request.choices.fieldWise ? 1 : 0;

    OperatorContext context{};
    context.node = 1;
    context.scaleNumerator = int16_t(request.scaleNumerator);
    context.scaleDenominator = int16_t(request.scaleDenominator);
    const Rational aspect = title.sampleAspect();
    context.pixelAspect =
        int16_t(aspect.num > 0 && aspect.den > 0
                    ? std::clamp<int64_t>(int64_t(aspect.num) * 1000 / aspect.den, 1, 32767)
                    : 1000);
    context.fieldCount = uint32_t(
        total > 0 ? std::min<int64_t>(2 * (request.firstFrame + total), UINT32_MAX) : UINT32_MAX);
    if (request.settingsForFrame) request.settingsForFrame(request.firstFrame);
    context.action = 1;
    module.action(context);
    if (request.afterSetup) request.afterSetup();
    struct Cleanup {
        LoadedModule &module;
        ~Cleanup() {
            OperatorContext cleanup{};
            cleanup.action = 2;
            module.action(cleanup);
        }
    } cleanup{module};

    OutputParameters params;
    params.path = request.outputPath;
    params.width = width;
    params.height = height;
    params.frameRate = rate;
    params.alpha = request.alpha != AlphaMode::Opaque;
    params.alphaMode = alphaModeName(request.alpha);
    params.fieldOrder = order;
    params.audioPath = request.audioPath;
    params.audioStart = double(request.firstFrame) * rate.den / rate.num;
    params.codec = request.codec;
    params.pixelFormat = request.pixelFormat;
    params.codecOptions = request.codecOptions;
    params.replace = replaceOutput;
    std::unique_ptr<MediaOutput> output = MediaOutput::create(params);
    outcome.outputDescription = output->describe();
    if (!output->note().empty()) say("note: " + output->note());
    const std::string over = request.alpha == AlphaMode::Effect
                                 ? std::string("black and white (--alpha effect)")
                                 : background.name();
    say("rendering " + title.name() + " over " + over + " at " + sizeText(width, height) +
        (interlaced ? std::string(", ") + fieldOrderName(order) : std::string(", progressive")) +
        (request.choices.fieldWise ? ", field-wise" : ", frame-wise") + " into " +
        request.outputPath + " (" + output->describe() + ")");

    // One frame through the module into `out`; false when the module fails.
    auto renderFrame = [&](int64_t index, const HostFrame &backgroundFrame,
                           const HostFrame &titleFrame, HostFrame &out) {
        host.setFrames(index, &backgroundFrame, &titleFrame);
        host.setOutput(&out);
        const int32_t first = int32_t(2 * index);
        bool ok = true;
        if (request.choices.fieldWise) {
            // One field per call: field 2k (odd rows, renderFlags bit 1)
            // and 2k + 1 (even rows), in the material's temporal order.
            const bool topFirst = order == FieldOrder::TopFirst;
            const int32_t fields[2] = {topFirst ? first + 1 : first, topFirst ? first : first + 1};
            for (int32_t field : fields) {
                const bool oddRows = field == first;
                host.expectPuts({oddRows ? 1 : 0});
                context.action = 3;
                context.fieldNumber = field;
                context.renderFlags = uint8_t((request.scaled ? 1 : 0) | (oddRows ? 2 : 0));
                if (module.action(context) != 0 || host.pendingPuts() != 0) ok = false;
            }
        } else {
            // The first call of a pair renders the frame and hands back
            // field 2k (odd rows) and 2k + 1 (even rows); the second
            // returns 0 without any host call.
            host.expectPuts({1, 0});
            context.action = 3;
            context.fieldNumber = first;
            context.renderFlags = uint8_t(request.scaled ? 1 : 0);
            if (module.action(context) != 0 || host.pendingPuts() != 0) ok = false;
            host.expectPuts({});
            context.fieldNumber = first + 1;
            if (module.action(context) != 0 || host.unexpectedPuts() != 0) ok = false;
        }
        host.setOutput(nullptr);
        return ok;
    };

    // --alpha effect: uniform backgrounds, and what the module makes of them
    // where nothing covers them (a render of an empty title: black, or
    // white when the settings invert the shape); made again whenever the
    // settings change between frames.
    DifferenceMatte matte;
    HostFrame black, white;
    auto makeMatteReferences = [&](int64_t index) {
        const HostFrame empty = request.invertShape ? white : black;
        HostFrame overBlack(black.width, black.height), overWhite(black.width, black.height);
        if (!renderFrame(index, black, empty, overBlack) ||
            !renderFrame(index, white, empty, overWhite))
            throw Failure("the module failed to render the matte's reference frames:" +
                          joinLogLines(host.logLines));
        matte.setReferences(overBlack, overWhite);
    };
    if (request.alpha == AlphaMode::Effect) {
        black = HostFrame(width, height + height % 2, rgbToHost(0, 0, 0));
        white = HostFrame(width, height + height % 2, rgbToHost(255, 255, 255));
        makeMatteReferences(request.firstFrame);
    }

    // Every frame of the loop below comes from here (declared before the
    // queues: it outlives every lease they hold).
    FramePool pool;
    // A still converted once and read in place; one of an odd height is
    // padded once, here (the frames in the queues point to it).
    HostFrame paddedStills[2];
    // Reader thread: inputs to host frames.
    BoundedQueue<InputFrames> inputs(3);
    BoundedQueue<OutputFrame> outputs(3);
    std::exception_ptr readerError, writerError;
    double decodeSeconds = 0, encodeSeconds = 0;
    const Clock::time_point wallStart = Clock::now();
    std::thread reader([&] {
        try {
            HostFrame skipTitle, skipBackground;
            auto sharedStill = [&](FrameSource &source, HostFrame &padded) -> const HostFrame * {
                const HostFrame *still = source.sharedStill();
                if (!still || still->height % 2 == 0) return still;
                padded = *still;
                padToEven(padded);
                return &padded;
            };
            const HostFrame *stillTitle = sharedStill(title, paddedStills[0]);
            const HostFrame *stillBackground = sharedStill(background, paddedStills[1]);
            // One frame of `source` into a pooled frame, or the shared still.
            auto read = [&](FrameSource &source, const HostFrame *still, FramePool::Lease &lease,
                            const HostFrame *&frame) {
                if (still) {
                    frame = still;
                    return true;
                }
                lease = pool.take(width, height);
                if (!source.next(*lease)) return false;
                padToEven(*lease);
                frame = lease.get();
                return true;
            };
            // Stills are not read up to the first frame: told where they start.
            if (allStill) title.startAt(request.firstFrame);
            for (int64_t i = 0; i < request.firstFrame && !allStill; ++i) {
                const Clock::time_point start = Clock::now();
                const bool more = title.next(skipTitle) && background.next(skipBackground);
                decodeSeconds += secondsSince(start);
                if (!more)
                    throw Failure("--frames " + std::to_string(request.firstFrame) +
                                  "-: the inputs have only " + std::to_string(i) + " frames");
            }
            for (int64_t index = request.firstFrame;; ++index) {
                if (lastIndex >= 0 && index > lastIndex) break;
                InputFrames frames;
                frames.index = index;
                const Clock::time_point start = Clock::now();
                const bool more =
                    read(title, stillTitle, frames.titleLease, frames.title) &&
                    read(background, stillBackground, frames.backgroundLease, frames.background);
                decodeSeconds += secondsSince(start);
                if (!more) break;
                if (!inputs.push(std::move(frames))) return;
            }
        } catch (...) {
            readerError = std::current_exception();
        }
        inputs.end();
    });

    std::thread writer([&] {
        try {
            OutputFrame frame;
            while (outputs.pop(frame)) {
                const Clock::time_point start = Clock::now();
                if (!frame.rgba.empty())
                    output->writeRgba(frame.rgba, frame.index);
                else
                    output->write(*frame.frame, frame.index);
                frame.frame.release(); // encoded: the frame may be used again
                encodeSeconds += secondsSince(start);
            }
        } catch (...) {
            writerError = std::current_exception();
            outputs.close();
        }
    });

    // Stops both threads and waits for them; safe to call more than once.
    bool joined = false;
    auto stopThreads = [&](bool drainOutput) {
        if (joined) return;
        inputs.close();
        if (drainOutput)
            outputs.end();
        else
            outputs.close();
        reader.join();
        writer.join();
        joined = true;
    };

    bool stopping = false;
    int64_t done = 0;
    ProgressBar progress(total, !request.quiet);
    host.onAbortCheck = [&] {
        if (stopping || !interruptRequested()) return;
        stopping = true;
        progress.clear();
        std::fprintf(stderr, "lustra: interrupted: finishing the current frame, then closing %s\n",
                     request.outputPath.c_str());
    };

    std::string failure;
    try {
        InputFrames frames;
        double moduleSeconds = 0;
        while (!stopping && !interruptRequested() && inputs.pop(frames)) {
            OutputFrame result;
            result.index = frames.index;
            host.logLines.clear();
            const Clock::time_point start = Clock::now();
            if (request.settingsForFrame && frames.index != request.firstFrame &&
                request.settingsForFrame(frames.index)) {
                // A new record: the module reads it at a new set-up, after a
                // clean-up that frees the source pictures of the old one.
                context.action = 2;
                module.action(context);
                context.action = 1;
                module.action(context);
                if (request.afterSetup) request.afterSetup();
                if (request.alpha == AlphaMode::Effect) makeMatteReferences(frames.index);
            }
            bool ok = true;
            if (request.alpha == AlphaMode::Effect) {
                // The same frame over black and over white; the module keeps
                // nothing of one render for the next but the fetched source
                // pictures, so both see the same title, fields and settings.
                FramePool::Lease overWhite = pool.take(frames.title->width, frames.title->height);
                result.frame = pool.take(frames.title->width, frames.title->height);
                ok = renderFrame(frames.index, black, *frames.title, *result.frame) &&
                     renderFrame(frames.index, white, *frames.title, *overWhite);
                if (ok) matte.extract(*result.frame, *overWhite, result.rgba);
            } else {
                result.frame = pool.take(frames.title->width, frames.title->height);
                ok = renderFrame(frames.index, *frames.background, *frames.title, *result.frame);
            }
            // The module is done with the inputs.
            frames.titleLease.release();
            frames.backgroundLease.release();
            moduleSeconds += secondsSince(start);
            for (int32_t line : host.logLines)
                if (line == 5855) say("warning: " + describeLogLine(line));
            if (!ok) {
                failure = "the module failed to render frame " + std::to_string(frames.index) +
                          ":" + joinLogLines(host.logLines);
                break;
            }
            if (result.frame->height != height) {
                result.frame->pixels.resize(size_t(width) * height);
                result.frame->height = height;
            }
            if (result.rgba.size() > size_t(width) * height * 4)
                result.rgba.resize(size_t(width) * height * 4);
            if (!outputs.push(std::move(result))) break; // the writer failed
            ++done;
            progress.update(done);
        }
        outcome.times.module = moduleSeconds;
    } catch (...) {
        progress.clear();
        stopThreads(false);
        output->abandon();
        throw;
    }
    const bool interrupted = stopping || interruptRequested();
    stopThreads(failure.empty());
    progress.clear();
    outcome.times.decode = decodeSeconds;
    outcome.times.encode = encodeSeconds;

    auto fail = [&](const std::string &message) {
        output->abandon();
        throw Failure(message);
    };
    if (writerError) {
        output->abandon();
        std::rethrow_exception(writerError);
    }
    if (!failure.empty()) {
        output->abandon();
        std::fprintf(stderr, "lustra: %s\n", failure.c_str());
        outcome.exitCode = kExitFailure;
        return outcome;
    }
    if (readerError && !interrupted) {
        output->abandon();
        std::rethrow_exception(readerError);
    }
    if (done == 0 && !interrupted)
        fail(title.name() + ": no frames to render in the range asked for");
    if (done == 0) {
        output->abandon();
        std::fprintf(stderr, "lustra: interrupted before the first frame; nothing written\n");
        outcome.exitCode = kExitInterrupted;
        return outcome;
    }
    output->finish();
    outcome.times.wall = secondsSince(wallStart);
    outcome.frames = done;
    outcome.files = output->files();
    if (interrupted) {
        std::fprintf(
            stderr,
            "lustra: interrupted after %lld of %s frames; %s holds the frames rendered so far\n",
            (long long)done, total > 0 ? std::to_string(total).c_str() : "the",
            request.outputPath.c_str());
        outcome.exitCode = kExitInterrupted;
    }
    if (host.liveImages() != 0)
        say("warning: the module kept " + std::to_string(host.liveImages()) + " host images");
    return outcome;
}

} // namespace lustra::cli
