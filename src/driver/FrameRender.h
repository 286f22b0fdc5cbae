// The frame render driver: the render job, the work buffers, the shape mask,
// the engine run and the conversion back to the host's pixels.
#pragma once

#include "driver/DriverInputs.h"

#include <cstddef>
#include <cstdint>

namespace lustra {

struct DriverState {
    uint32_t *workPixels = nullptr; // RGB work buffer, width x height
    uint8_t *mask = nullptr;        // padded mask, (width + 60) x (height + 60)
    int32_t width = 0;              // geometry of the work buffers
    int32_t height = 0;
    int32_t maskBuilt = 0;    // the mask holds the current frame's shape
    int32_t maskNotEmpty = 0; // saved with the mask: some pixel is covered
    int32_t engineError = 0;  // result of the last engine step, 0 = success
    int32_t engineReady = 0;  // the engine is set up and owes a tear-down
    // 0 renders every pixel through every stage, as when the title reaches
    // the whole frame; 1 fuses the far region when the near box is at most
    // half the frame, 2 whenever there is one (the tests compare both ways
    // of rendering).
    int32_t fuseFarRegion = 1;
};

extern DriverState driverState;

// Renders the effect for one frame of fieldState's inputs into inputFrame1,
// or from and into the field rows it names (FieldRenderState). Returns -1
// when the work buffers cannot be allocated.
int32_t renderFrame(int32_t width, int32_t height, int32_t scaled);

// Frees the previous work buffers and allocates both for width x height.
int32_t allocateWorkBuffers(int32_t width, int32_t height);
// Frees the work buffers, if any.
void releaseWorkBuffers();
// Fills the padded mask from the luminance of input 1 (only when maskBuilt
// is 0); an empty shape switches off the glow or the bevel in the job.
void buildMask();
// After the engine set-up: converts map 2's deferred picture of input 0's
// frame (deferMap2Conversion) where the stages read it, only inside the near
// box when the output conversion takes the rest from input 0 itself.
void convertMap2ForStages(int32_t width, int32_t height);
// Runs the eight engine stages in order with abort checks.
void runStages();
// Converts the RGB work buffer into the host pixels of `destination`,
// keeping its alpha bytes; flicker filter first when chosen by the host.
void convertOutput(uint32_t *destination);
// The same from frame rows kept elsewhere: the alpha byte of each pixel from
// `alpha`'s row, the result into `destination`'s row (which may be the same);
// rows either leaves out are not converted.
void convertOutputRows(const FrameRows &alpha, const FrameRows &destination);
// The flicker filter: averages a row with the one below it where they differ
// by 50 or more in some channel.
void smoothInterlineDifferences();

// Log lines of the driver.
constexpr int32_t kLogWorkBuffersMissing = 1698;
constexpr int32_t kLogEngineSetupFailed = 2299;
constexpr int32_t kLogStageFailed = 2347;
constexpr int32_t kLogWorkPixelsAllocation = 2551;
constexpr int32_t kLogMaskAllocation = 2562;

} // namespace lustra
