#include "RenderPipeline.h"

#include "CliHost.h"
#include "Errors.h"
#include "FramePool.h"
#include "Interrupt.h"
#include "LogMessages.h"
#include "ModuleLoader.h"
#include "Progress.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace lustra::cli {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

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
    // Either of them converted for the encoder by the worker (then `frame`
    // is back in the pool and `rgba` empty), when the output converts ahead.
    std::unique_ptr<PreparedFrame> prepared;
};

// At most this many copies of the module: the loader has about sixteen
// namespaces, and each copy holds its own buffers.
constexpr int kMaxWorkers = 16;

// The frames between the reader, the workers and the writer: decoded in
// order, taken by the workers in order, rendered in any order, written in
// order. The reader waits while a decoded frame waits for a worker, and
// while `window` frames lie between the next frame to write and the next
// to decode, which bounds the frames in memory. The frame it reads ahead of
// the workers takes two host frames; with two videos into an encoder that
// holds frames it is decoded ahead in the codecs' own pixels instead, and
// converted into host frames only when a worker waits for it. A rendered
// frame waits for its conversion for the encoder among the frames to
// convert: the worker that rendered it converts it unless the reader,
// with nothing to decode, has taken it first (over a still the reader has
// little else to do, and the worker goes on to its next frame).
class FrameFlow {
  public:
    FrameFlow(int64_t first, int64_t window, int workers)
        : nextWrite_(first), window_(window), workers_(workers) {}

    // The reader: waits until frame `index` may be decoded (Decode) or a
    // rendered frame waits for its conversion (Convert: in `frame`); Stop
    // when the render stops.
    enum class Room { Decode, Convert, Stop };
    Room waitForRoom(int64_t index, OutputFrame &frame) {
        std::unique_lock<std::mutex> lock(mutex_);
        auto mayDecode = [&] { return pending_.empty() && index < nextWrite_ + window_; };
        changed_.wait(lock, [&] { return stopped_ || mayDecode() || !unconverted_.empty(); });
        if (stopped_) return Room::Stop;
        if (mayDecode()) return Room::Decode;
        frame = std::move(unconverted_.front());
        unconverted_.pop_front();
        return Room::Convert;
    }
    // The reader, with the next frame decoded: waits until a worker waits
    // for it (Read) or a rendered frame waits for its conversion (Convert:
    // in `frame`); Stop when the render stops.
    enum class Demand { Read, Convert, Stop };
    Demand waitForDemand(OutputFrame &frame) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || waiting_ > 0 || !unconverted_.empty(); });
        if (stopped_) return Demand::Stop;
        if (waiting_ > 0) return Demand::Read;
        frame = std::move(unconverted_.front());
        unconverted_.pop_front();
        return Demand::Convert;
    }
    bool push(InputFrames frames) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopped_) return false;
        pending_.push_back(std::move(frames));
        changed_.notify_all();
        return true;
    }
    // No more frames will be decoded.
    void endInput() {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }

    // A worker: the next decoded frame; false when there is none to come.
    bool take(InputFrames &frames) {
        std::unique_lock<std::mutex> lock(mutex_);
        ++waiting_;
        changed_.notify_all(); // the reader converts the next frame
        changed_.wait(lock, [&] { return stopped_ || ended_ || !pending_.empty(); });
        --waiting_;
        if (stopped_ || pending_.empty()) return false;
        frames = std::move(pending_.front());
        pending_.pop_front();
        changed_.notify_all(); // the reader may decode the next
        return true;
    }
    // A worker: a rendered frame to be converted, by whoever comes first.
    bool toConvert(OutputFrame frame) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopped_) return false;
        unconverted_.push_back(std::move(frame));
        changed_.notify_all();
        return true;
    }
    // The oldest frame waiting for its conversion; false when none waits.
    bool takeToConvert(OutputFrame &frame) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopped_ || unconverted_.empty()) return false;
        frame = std::move(unconverted_.front());
        unconverted_.pop_front();
        return true;
    }
    bool deliver(OutputFrame frame) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopped_) return false;
        const int64_t index = frame.index;
        rendered_.emplace(index, std::move(frame));
        changed_.notify_all();
        return true;
    }
    void workerDone() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++finished_;
        changed_.notify_all();
    }

    // The writer: the next frame in order; false when the render stops or
    // every worker has finished without it (nothing after a gap is written).
    bool nextToWrite(OutputFrame &frame) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] {
            return stopped_ || rendered_.count(nextWrite_) != 0 || finished_ == workers_;
        });
        const auto found = rendered_.find(nextWrite_);
        if (stopped_ || found == rendered_.end()) return false;
        frame = std::move(found->second);
        rendered_.erase(found);
        return true;
    }
    void written() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++nextWrite_;
        changed_.notify_all();
    }

    // Everyone gives up at once.
    void stop() {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<InputFrames> pending_;
    std::deque<OutputFrame> unconverted_;
    std::map<int64_t, OutputFrame> rendered_;
    int64_t nextWrite_;
    const int64_t window_;
    const int workers_;
    int finished_ = 0;
    int waiting_ = 0; // workers waiting in take()
    bool stopped_ = false, ended_ = false;
};

// One copy of the module with the backend that serves it, its instance's
// context and its own matte references.
struct Worker {
    int number = 0;
    std::unique_ptr<LoadedModule> module;
    std::unique_ptr<CliHost> host;
    OperatorContext context{};
    bool setUp = false;
    bool invertShape = false;
    DifferenceMatte matte;
    double moduleSeconds = 0, convertSeconds = 0;
    std::thread thread;

    Worker() = default;
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;
    // Clean-up, then the backend removed before its module is unloaded.
    ~Worker() {
        if (setUp) {
            OperatorContext cleanup{};
            cleanup.action = 2;
            module->action(cleanup);
        }
        host.reset();
        module.reset();
    }
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

// Duplicates the last row so that the frame has an even number of rows (the
// new row goes to the end of the pixels in either layout of a frame).
void padToEven(HostFrame &frame) {
    if (frame.height % 2 == 0) return;
    const size_t last = frame.rowOffset(frame.height - 1);
    frame.pixels.resize(frame.pixels.size() + size_t(frame.width));
    std::copy_n(frame.pixels.begin() + std::ptrdiff_t(last), frame.width,
                frame.pixels.end() - frame.width);
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

    // How many workers: defaultWorkers() unless told, no more than frames,
    // and one where the module cannot be loaded more than once.
    int wanted = request.workers > 0 ? request.workers : defaultWorkers(coreCount());
    if (total > 0) wanted = int(std::min<int64_t>(wanted, total));
    wanted = std::clamp(wanted, 1, kMaxWorkers);
    if (wanted > 1 && !namespacesSupported()) {
        if (request.workers > 1)
            say("note: this build (AddressSanitizer) cannot load the module more than once: "
                "rendering with one worker");
        wanted = 1;
    }

    // The pictures that source descriptors name, loaded once and shared by
    // the workers (each copies them into its module's images).
    std::mutex picturesMutex;
    std::map<std::string, std::unique_ptr<HostFrame>> pictures;
    auto resolveSource = [&](const std::string &descriptor) -> const HostFrame * {
        std::lock_guard<std::mutex> lock(picturesMutex);
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

    const Rational aspect = title.sampleAspect();
    auto setUpWorker = [&](Worker &worker) {
        LoadedModule &module = *worker.module;
        module.describe();
        HostChoice *choices[3] = {module.secondLayers(), module.flickerFilter(),
                                  module.fieldWise()};
        if (!choices[0] || !choices[1] || !choices[2])
            throw Failure(module.path() + ": the module does not offer the three host choices");
        choices[0]->value = request.choices.secondLayers ? 1 : 0;
        choices[1]->value = request.choices.flickerFilter ? 1 : 0;
        choices[2]->value = request.choices.fieldWise ? 1 : 0;

        CliHost &host = *worker.host;
        host.setFieldWise(request.choices.fieldWise);
        host.customName = worker.number > 0 && request.customNameOf
                              ? request.customNameOf(worker.number)
                              : request.customName;
        host.resolveSource = resolveSource;
        OperatorContext &context = worker.context;
        context = OperatorContext{};
        context.node = 1;
        context.scaleNumerator = int16_t(request.scaleNumerator);
        context.scaleDenominator = int16_t(request.scaleDenominator);
        context.pixelAspect =
            int16_t(aspect.num > 0 && aspect.den > 0
                        ? std::clamp<int64_t>(int64_t(aspect.num) * 1000 / aspect.den, 1, 32767)
                        : 1000);
        context.fieldCount =
            uint32_t(total > 0 ? std::min<int64_t>(2 * (request.firstFrame + total), UINT32_MAX)
                               : UINT32_MAX);
        worker.invertShape = request.invertShape;
        if (request.settingsForFrame)
            request.settingsForFrame(worker.number, request.firstFrame, worker.invertShape);
        context.action = 1;
        module.action(context);
        worker.setUp = true;
        if (request.afterSetup) request.afterSetup(worker.number);
    };

    // The module, driven through the stand-in host library: the first
    // worker's copy in the program's own namespace, every further copy in a
    // namespace of its own with its own copy of the library.
    std::vector<std::unique_ptr<Worker>> workers;
    for (int number = 0; number < wanted; ++number) {
        auto worker = std::make_unique<Worker>();
        worker->number = number;
        try {
            worker->module = std::make_unique<LoadedModule>(request.modulePath, number > 0);
        } catch (const Failure &error) {
            if (number == 0) throw;
            // Said once: the workers loaded so far render.
            say("warning: no more than " + std::to_string(number) +
                (number == 1 ? " copy" : " copies") + " of the module could be loaded (" +
                error.what() + "): rendering " + std::to_string(number) +
                (number == 1 ? " frame" : " frames") + " at once");
            break;
        }
        worker->host = std::make_unique<CliHost>(worker->module->installer());
        setUpWorker(*worker);
        workers.push_back(std::move(worker));
    }
    outcome.workers = int(workers.size());

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
    params.encoderThreads = encoderThreads(coreCount());
    std::unique_ptr<MediaOutput> output = MediaOutput::create(params);
    outcome.outputDescription = output->describe();
    if (!output->note().empty()) say("note: " + output->note());
    const std::string over = request.alpha == AlphaMode::Effect
                                 ? std::string("black and white (--alpha effect)")
                                 : background.name();
    say("rendering " + title.name() + " over " + over + " at " + sizeText(width, height) +
        (interlaced ? std::string(", ") + fieldOrderName(order) : std::string(", progressive")) +
        (request.choices.fieldWise ? ", field-wise" : ", frame-wise") + " into " +
        request.outputPath + " (" + output->describe() + ")" +
        (workers.size() > 1 ? ", " + std::to_string(workers.size()) + " frames at once"
                            : std::string()));

    // One frame through a worker's module into `out`; false when the module
    // fails.
    auto renderFrame = [&](Worker &worker, int64_t index, const HostFrame &backgroundFrame,
                           const HostFrame &titleFrame, HostFrame &out) {
        CliHost &host = *worker.host;
        LoadedModule &module = *worker.module;
        OperatorContext &context = worker.context;
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

    // --alpha effect: uniform backgrounds, and what a worker's module makes
    // of them where nothing covers them (a render of an empty title: black,
    // or white when the settings invert the shape); made again whenever the
    // worker's settings change between frames.
    HostFrame black, white;
    auto makeMatteReferences = [&](Worker &worker, int64_t index) {
        const HostFrame &empty = worker.invertShape ? white : black;
        HostFrame overBlack(black.width, black.height), overWhite(black.width, black.height);
        if (!renderFrame(worker, index, black, empty, overBlack) ||
            !renderFrame(worker, index, white, empty, overWhite))
            throw Failure("the module failed to render the matte's reference frames:" +
                          joinLogLines(worker.host->logLines));
        worker.matte.setReferences(overBlack, overWhite);
    };
    if (request.alpha == AlphaMode::Effect) {
        black = HostFrame(width, height + height % 2, rgbToHost(0, 0, 0));
        white = HostFrame(width, height + height % 2, rgbToHost(255, 255, 255));
        for (auto &worker : workers) makeMatteReferences(*worker, request.firstFrame);
    }

    // Every frame of the loop below comes from here (declared before the
    // flow: it outlives every lease the flow holds).
    FramePool pool;
    // A still converted once and read in place; one of an odd height is
    // padded once, here (the frames in the flow point to it).
    HostFrame paddedStills[2];
    // Frames in order from the reader, rendered by the workers in any
    // order, written in order by the writer: no more than `window` frames
    // between the next one written and the last one decoded. One a worker,
    // one being encoded and one decoded ahead keep every thread busy; a
    // frame waiting for the writer holds only its converted pixels.
    FrameFlow flow(request.firstFrame, int64_t(workers.size()) + 2, int(workers.size()));
    std::exception_ptr readerError, writerError, workerError;
    double decodeSeconds = 0, encodeSeconds = 0, readerConvertSeconds = 0;
    const Clock::time_point wallStart = Clock::now();

    // Messages from the workers and the writer, between progress updates.
    std::mutex messageMutex;
    ProgressBar progress(total, !request.quiet);
    std::set<int32_t> warnedLines;
    std::atomic<bool> stopping{false};
    std::atomic<bool> stopSaid{false};
    for (auto &worker : workers)
        worker->host->onAbortCheck = [&] {
            if (!interruptRequested() || stopSaid.exchange(true)) return;
            stopping = true;
            std::lock_guard<std::mutex> lock(messageMutex);
            progress.clear();
            std::fprintf(stderr,
                         "lustra: interrupted: finishing the current frame, then closing %s\n",
                         request.outputPath.c_str());
        };

    std::atomic<int64_t> done{0};
    std::mutex failureMutex;
    std::string failure;
    int64_t failedFrame = -1;

    // Whatever ends this function, no thread outlives what it uses.
    std::thread reader, writer;
    struct StopAndJoin {
        FrameFlow &flow;
        std::vector<std::thread *> threads;
        ~StopAndJoin() {
            flow.stop();
            for (std::thread *thread : threads)
                if (thread->joinable()) thread->join();
        }
    } joinAll{flow, {&reader, &writer}};
    for (auto &worker : workers) joinAll.threads.push_back(&worker->thread);

    // The conversion of a rendered frame for the encoder (when the output
    // converts ahead); the host frame goes back to the pool.
    auto convertForEncoder = [&](OutputFrame &frame) {
        frame.prepared =
            frame.rgba.empty() ? output->prepare(*frame.frame) : output->prepareRgba(frame.rgba);
        if (frame.prepared) {
            frame.frame.release();
            RgbaPicture().swap(frame.rgba);
        }
    };

    // The reader converts a rendered frame for the encoder and delivers it;
    // false when the render stops (a failure here is not an input problem:
    // it stops the render at once).
    auto convertAhead = [&](OutputFrame &rendered, double &seconds) {
        try {
            const Clock::time_point start = Clock::now();
            convertForEncoder(rendered);
            seconds += secondsSince(start);
        } catch (...) {
            std::lock_guard<std::mutex> lock(failureMutex);
            if (!workerError) workerError = std::current_exception();
            flow.stop();
            return false;
        }
        return flow.deliver(std::move(rendered));
    };

    reader = std::thread([&] {
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
            const bool convertOnDemand =
                !stillTitle && !stillBackground && output->encoderHoldsFrames();
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
                OutputFrame rendered;
                const FrameFlow::Room room = flow.waitForRoom(index, rendered);
                if (room == FrameFlow::Room::Stop) return;
                if (room == FrameFlow::Room::Convert) {
                    if (!convertAhead(rendered, readerConvertSeconds)) return;
                    --index; // still to be decoded
                    continue;
                }
                // Two videos into an encoder that holds frames ahead: the
                // frame is decoded ahead in the codecs' pixels, and goes
                // into host frames when a worker asks for it (two host
                // frames fewer in flight, about 16 MiB at 1080), rendered
                // frames being converted meanwhile. The encoder sets the
                // pace there, so the worker's wait costs no frames; over a
                // still or into a fast encoder the frame is converted ahead.
                Clock::time_point start = Clock::now();
                if (convertOnDemand) {
                    title.decodeAhead();
                    background.decodeAhead();
                }
                decodeSeconds += secondsSince(start);
                bool stop = false;
                for (; convertOnDemand;) {
                    OutputFrame waiting;
                    const FrameFlow::Demand demand = flow.waitForDemand(waiting);
                    if (demand == FrameFlow::Demand::Read) break;
                    if (demand == FrameFlow::Demand::Stop ||
                        !convertAhead(waiting, readerConvertSeconds)) {
                        stop = true;
                        break;
                    }
                }
                if (stop) return;
                InputFrames frames;
                frames.index = index;
                start = Clock::now();
                const bool more =
                    read(title, stillTitle, frames.titleLease, frames.title) &&
                    read(background, stillBackground, frames.backgroundLease, frames.background);
                decodeSeconds += secondsSince(start);
                if (!more) break;
                if (!flow.push(std::move(frames))) return;
            }
        } catch (...) {
            readerError = std::current_exception();
        }
        flow.endInput();
    });

    writer = std::thread([&] {
        try {
            OutputFrame frame;
            while (flow.nextToWrite(frame)) {
                const Clock::time_point start = Clock::now();
                if (frame.prepared)
                    output->writePrepared(std::move(frame.prepared), frame.index);
                else if (!frame.rgba.empty())
                    output->writeRgba(frame.rgba, frame.index);
                else
                    output->write(*frame.frame, frame.index);
                frame.frame.release(); // encoded: the frame may be used again
                encodeSeconds += secondsSince(start);
                flow.written();
                ++done;
                std::lock_guard<std::mutex> lock(messageMutex);
                progress.update(done);
            }
        } catch (...) {
            writerError = std::current_exception();
            flow.stop();
        }
    });

    // A worker: frames from the reader through its module to the writer.
    auto work = [&](Worker &worker) {
        CliHost &host = *worker.host;
        try {
            InputFrames frames;
            while (!stopping && !interruptRequested() && flow.take(frames)) {
                OutputFrame result;
                result.index = frames.index;
                host.logLines.clear();
                const Clock::time_point start = Clock::now();
                bool invertShape = worker.invertShape;
                if (request.settingsForFrame && frames.index != request.firstFrame &&
                    request.settingsForFrame(worker.number, frames.index, invertShape)) {
                    // A new record: the module reads it at a new set-up,
                    // after a clean-up that frees the source pictures of the
                    // old one.
                    worker.invertShape = invertShape;
                    worker.context.action = 2;
                    worker.module->action(worker.context);
                    worker.context.action = 1;
                    worker.module->action(worker.context);
                    if (request.afterSetup) request.afterSetup(worker.number);
                    if (request.alpha == AlphaMode::Effect)
                        makeMatteReferences(worker, frames.index);
                }
                bool ok = true;
                if (request.alpha == AlphaMode::Effect) {
                    // The same frame over black and over white; the module
                    // keeps nothing of one render for the next but the
                    // fetched source pictures, so both see the same title,
                    // fields and settings.
                    FramePool::Lease overWhite =
                        pool.take(frames.title->width, frames.title->height);
                    result.frame = pool.take(frames.title->width, frames.title->height);
                    ok = renderFrame(worker, frames.index, black, *frames.title, *result.frame) &&
                         renderFrame(worker, frames.index, white, *frames.title, *overWhite);
                    if (ok) worker.matte.extract(*result.frame, *overWhite, result.rgba);
                } else if (frames.titleLease && frames.titleLease.get() == frames.title &&
                           frames.background != frames.title) {
                    // A title frame of this frame alone becomes the output:
                    // the module reads its fields before it writes any output
                    // row, and converts each output row from the same row's
                    // title pixels, so one frame fewer is in flight.
                    result.frame = std::move(frames.titleLease);
                    HostFrame &frame = *result.frame;
                    ok = renderFrame(worker, frames.index, *frames.background, frame, frame);
                } else {
                    result.frame = pool.take(frames.title->width, frames.title->height);
                    ok = renderFrame(worker, frames.index, *frames.background, *frames.title,
                                     *result.frame);
                }
                // The module is done with the inputs.
                frames.titleLease.release();
                frames.backgroundLease.release();
                worker.moduleSeconds += secondsSince(start);
                for (int32_t line : host.logLines) {
                    if (line != 5855) continue;
                    // Said once, not once a worker.
                    std::lock_guard<std::mutex> lock(messageMutex);
                    if (!warnedLines.insert(line).second) continue;
                    progress.clear();
                    say("warning: " + describeLogLine(line));
                }
                if (!ok) {
                    // The earliest frame that failed is the one reported.
                    std::lock_guard<std::mutex> lock(failureMutex);
                    if (failedFrame < 0 || frames.index < failedFrame) {
                        failedFrame = frames.index;
                        failure = "the module failed to render frame " +
                                  std::to_string(frames.index) + ":" + joinLogLines(host.logLines);
                    }
                    flow.stop();
                    return;
                }
                if (result.frame->height != height) {
                    result.frame->pixels.resize(size_t(width) * height);
                    result.frame->height = height;
                }
                if (result.rgba.size() > size_t(width) * height * 4)
                    result.rgba.resize(size_t(width) * height * 4);
                // The conversion for the encoder next to the module rather
                // than in the writer: the writer only encodes, and the frame
                // waits for its turn in the encoder's pixels. This worker
                // converts what the reader has not taken.
                if (!flow.toConvert(std::move(result))) return; // the render stops
                OutputFrame rendered;
                while (flow.takeToConvert(rendered)) {
                    const Clock::time_point converting = Clock::now();
                    convertForEncoder(rendered);
                    worker.convertSeconds += secondsSince(converting);
                    if (!flow.deliver(std::move(rendered))) return;
                }
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(failureMutex);
            if (!workerError) workerError = std::current_exception();
            flow.stop();
        }
    };
    // The first worker renders on this thread, the others on their own.
    for (size_t i = 1; i < workers.size(); ++i)
        workers[i]->thread = std::thread([&, i] {
            work(*workers[i]);
            flow.workerDone();
        });
    work(*workers[0]);
    flow.workerDone();
    for (size_t i = 1; i < workers.size(); ++i) workers[i]->thread.join();
    // The writer writes what is complete in order (none after a failure),
    // then the reader is told to stop.
    if (!failure.empty() || workerError) flow.stop();
    writer.join();
    flow.stop();
    reader.join();
    progress.clear();
    const bool interrupted = stopping || interruptRequested();
    for (auto &worker : workers) {
        outcome.times.module += worker->moduleSeconds;
        outcome.times.convert += worker->convertSeconds;
    }
    outcome.times.convert += readerConvertSeconds;
    outcome.times.decode = decodeSeconds;
    outcome.times.encode = encodeSeconds;

    auto fail = [&](const std::string &message) {
        output->abandon();
        throw Failure(message);
    };
    if (workerError) {
        output->abandon();
        std::rethrow_exception(workerError);
    }
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
    const int64_t written = done;
    if (written == 0 && !interrupted)
        fail(title.name() + ": no frames to render in the range asked for");
    if (written == 0) {
        output->abandon();
        std::fprintf(stderr, "lustra: interrupted before the first frame; nothing written\n");
        outcome.exitCode = kExitInterrupted;
        return outcome;
    }
    output->finish();
    outcome.times.wall = secondsSince(wallStart);
    outcome.frames = written;
    outcome.files = output->files();
    if (interrupted) {
        std::fprintf(
            stderr,
            "lustra: interrupted after %lld of %s frames; %s holds the frames rendered so far\n",
            (long long)written, total > 0 ? std::to_string(total).c_str() : "the",
            request.outputPath.c_str());
        outcome.exitCode = kExitInterrupted;
    }
    int liveImages = 0;
    for (auto &worker : workers) liveImages += worker->host->liveImages();
    if (liveImages != 0)
        say("warning: the module kept " + std::to_string(liveImages) + " host images");
    return outcome;
}

int defaultWorkers(int cores) {
    return std::max(1, cores - 1);
}

int encoderThreads(int cores) {
    return cores <= 2 ? 1 : 0;
}

int coreCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return count;
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? int(hardware) : 1;
}

} // namespace lustra::cli
