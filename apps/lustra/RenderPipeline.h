// One render: inputs read and converted in a reader thread, frames rendered
// through OperatorAction by one or more workers, each with a copy of the
// module of its own (the module is single-threaded and serves one instance
// per load), which also converts its output for the encoder; encoded in
// order in a writer thread.
#pragma once

#include "AlphaMatte.h"
#include "FrameSources.h"
#include "MediaOutput.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lustra::cli {

struct HostChoices {
    bool secondLayers = false;
    bool flickerFilter = false;
    bool fieldWise = false;
};

struct RenderRequest {
    std::unique_ptr<FrameSource> title;      // input 1
    std::unique_ptr<FrameSource> background; // input 0 (not shown with AlphaMode::Effect)
    std::string outputPath;
    std::string codec;
    std::string pixelFormat; // --pix-fmt; empty: the encoder's usual one
    std::vector<std::pair<std::string, std::string>> codecOptions;
    std::string modulePath;
    // What opGetCustomPrefsName answers ("" = no per-instance name).
    std::string customName;
    // Frames rendered at once, each by a worker with its own copy of the
    // module (0: defaultWorkers() of the cores). Fewer when the render has fewer frames or the
    // loader cannot load that many copies.
    int workers = 0;
    // The name worker `worker` (1, 2, ...) is given instead of customName,
    // for a settings file written for this render (unset: customName).
    std::function<std::string(int worker)> customNameOf;
    // Checks the files the output would write (frames `first` to `last`,
    // -1: no known end) before anything is rendered; returns whether
    // existing files may be replaced. Unset: they may.
    std::function<bool(OutputKind kind, int64_t first, int64_t last)> checkOutput;
    // Called right after a worker's module set-up has read the settings.
    std::function<void(int worker)> afterSetup;
    // Settings that change between frames (unset: the first set-up's record
    // holds for the whole render). `settingsRate` is called once with the
    // output's frame rate before anything is rendered (it may throw
    // UsageError); `settingsForFrame` with each frame's index before a
    // worker renders that frame, and with the first frame's index before
    // each worker's first set-up; workers call it from their own threads at
    // the same time. It returns true when it has written a record that
    // differs from the worker's last set-up's where that worker's set-up
    // reads it (and sets `invertShape` to the record's): the worker's
    // module is then cleaned up and set up again.
    std::function<void(Rational rate)> settingsRate;
    std::function<bool(int worker, int64_t frame, bool &invertShape)> settingsForFrame;
    // Pictures for source descriptors that hold a token instead of a path.
    std::map<std::string, std::string> sourceFiles;
    HostChoices choices;
    std::optional<FieldOrder> fieldOrder; // none: from the inputs
    int64_t firstFrame = 0;
    int64_t lastFrame = -1; // inclusive; -1: to the end of the inputs
    bool rangeGiven = false;
    bool scaled = false;
    int scaleNumerator = 1;
    int scaleDenominator = 1;
    std::optional<Rational> frameRate;
    AlphaMode alpha = AlphaMode::Opaque;
    // The file whose audio the output video carries ("" = none).
    std::string audioPath;
    // The settings invert the shape (an empty title covers everything).
    bool invertShape = false;
    bool quiet = false;
    bool stats = false;
};

struct RenderTimes {
    double decode = 0;  // reader thread: decoding, scaling, conversion to host pixels
    double module = 0;  // OperatorAction calls, summed over the workers
    double convert = 0; // workers and reader: conversion for the encoder, when done ahead
    double encode = 0;  // writer thread: encoding (and conversion when not done ahead)
    double wall = 0;
};

struct RenderOutcome {
    int exitCode = 0;
    int64_t frames = 0;
    int workers = 1; // the workers that rendered
    std::vector<std::string> files;
    std::string outputDescription;
    RenderTimes times;
};

// Runs the render. Usage problems throw UsageError, input and output
// problems Failure; a frame the module fails on gives exit code 1 with its
// log lines printed, Ctrl-C exit code 130 with the output closed properly.
RenderOutcome runRender(RenderRequest &request);

// The workers of a render that does not say: one a core beyond the first.
// The reader (decoding and converting both inputs) and the writer (the
// encoder) take about a core between them at 1080, each worker (the
// module and the conversion for the encoder) about one more, and every
// copy of the module holds about 80 MiB more at 1080: on two cores a
// second worker only adds memory (same CPU time, no faster).
int defaultWorkers(int cores);

// The threads libx264 is given (0: its own choice, one and a half a core).
// On two cores or fewer it encodes in the writer thread: its frame
// threads there take about a quarter more CPU time a frame at 1080 (they
// wait for each other and for the cores the reader and the workers use)
// and about 45 MiB more. A different thread count makes a different
// (equally good) stream: the settings stay veryfast, crf 18.
int encoderThreads(int cores);

// The cores this process may run on (its CPU affinity; a container or a
// batch system may allow fewer than the machine has).
int coreCount();

} // namespace lustra::cli
