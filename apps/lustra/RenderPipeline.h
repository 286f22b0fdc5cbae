// One render: the module loaded, inputs read and converted in a reader
// thread, every frame rendered through OperatorAction on this thread (the
// module is single-threaded), output converted and encoded in a writer
// thread.
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
    // Checks the files the output would write (frames `first` to `last`,
    // -1: no known end) before anything is rendered; returns whether
    // existing files may be replaced. Unset: they may.
    std::function<bool(OutputKind kind, int64_t first, int64_t last)> checkOutput;
    // Called right after the module's set-up has read the settings.
    std::function<void()> afterSetup;
    // Settings that change between frames (unset: the first set-up's record
    // holds for the whole render). `settingsRate` is called once with the
    // output's frame rate before anything is rendered (it may throw
    // UsageError); `settingsForFrame` with each frame's index before that
    // frame renders, the first one before the first set-up. It returns true
    // when it has written a record that differs from the last set-up's where
    // the set-up reads it: the module is then cleaned up and set up again.
    std::function<void(Rational rate)> settingsRate;
    std::function<bool(int64_t frame)> settingsForFrame;
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
    double decode = 0; // reader thread: decoding, scaling, conversion to host pixels
    double module = 0; // OperatorAction calls
    double encode = 0; // writer thread: conversion and encoding
    double wall = 0;
};

struct RenderOutcome {
    int exitCode = 0;
    int64_t frames = 0;
    std::vector<std::string> files;
    std::string outputDescription;
    RenderTimes times;
};

// Runs the render. Usage problems throw UsageError, input and output
// problems Failure; a frame the module fails on gives exit code 1 with its
// log lines printed, Ctrl-C exit code 130 with the output closed properly.
RenderOutcome runRender(RenderRequest &request);

} // namespace lustra::cli
