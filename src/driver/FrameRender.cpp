// The frame render driver: refreshes the source pictures, fills the render
// job, builds the shape mask from input 1's luminance, runs the engine and
// converts its RGB picture back into input 1's frame.
#include "driver/FrameRender.h"

#include "driver/DriverInputs.h"
#include "driver/RenderJob.h"
#include "driver/SourceImages.h"
#include "driver/Stages.h"
#include "driver/kernels/HostPixelKernels.h"
#include "engine/Blend.h"
#include "engine/BufferRecycler.h"
#include "engine/Engine.h"

#include <cstdlib>
#include <cstring>

namespace lustra {

FieldRenderState fieldState;

DriverState driverState;

namespace {

constexpr int32_t kMaskBorder = 30;

} // namespace

void releaseWorkBuffers() {
    giveBackBuffer(driverState.workPixels);
    giveBackBuffer(driverState.mask);
    driverState.workPixels = nullptr;
    driverState.mask = nullptr;
}

int32_t allocateWorkBuffers(int32_t width, int32_t height) {
    releaseWorkBuffers();
    driverState.width = width;
    driverState.height = height;
    // The final shading writes the colour bytes of every pixel before anything
    // reads them, and the fourth byte never reaches the output; buildMask
    // clears the whole mask before it draws the shape.
    driverState.workPixels = static_cast<uint32_t *>(
        takeBuffer(size_t(width) * size_t(height) * 4, BufferContents::unspecified));
    if (!driverState.workPixels) {
        driverInputs.logFailure(kLogWorkPixelsAllocation);
        releaseWorkBuffers();
        return -1;
    }
    driverState.mask = static_cast<uint8_t *>(
        takeBuffer(size_t(width + 2 * kMaskBorder) * size_t(height + 2 * kMaskBorder),
                   BufferContents::unspecified));
    if (!driverState.mask) {
        driverInputs.logFailure(kLogMaskAllocation);
        releaseWorkBuffers();
        return -1;
    }
    return 0;
}

namespace {

// Where input 1's rows are: in the host's fields the field rendering keeps,
// or in input 1's frame buffer.
FrameRows input1Rows() {
    if (fieldState.input1Rows.pitch != 0) return fieldState.input1Rows;
    return FrameRows::ofFrame(fieldState.inputFrame1, driverState.width);
}

} // namespace

void buildMask() {
    const FrameRows input = input1Rows();
    if (!driverState.mask || !input.field[0] || !input.field[1]) return;
    const int32_t width = driverState.width, height = driverState.height;
    const int32_t pitch = width + 2 * kMaskBorder;
    if (driverState.maskBuilt != 1) {
        driverState.maskBuilt = 1;
        // The margin is 0: the rows above and below the frame, and the
        // columns left and right of it.
        std::memset(driverState.mask, 0, size_t(pitch) * kMaskBorder);
        std::memset(driverState.mask + size_t(height + kMaskBorder) * pitch, 0,
                    size_t(pitch) * kMaskBorder);
        uint32_t notEmpty = 0;
        const uint32_t flip = driverInputs.settings->invertShape == 1 ? 255 : 0;
        for (int32_t r = 0; r < height; ++r) {
            uint8_t *line = driverState.mask + size_t(r + kMaskBorder) * pitch;
            std::memset(line, 0, kMaskBorder);
            std::memset(line + kMaskBorder + width, 0, kMaskBorder);
            notEmpty |= driverKernels::maskRow(input.row(r), width, flip, line + kMaskBorder);
        }
        driverState.maskNotEmpty = notEmpty != 0 ? 1 : 0;
    }
    if (driverState.maskNotEmpty == 0) {
        // An empty shape: with inversion the whole picture is covered, so the
        // bevel is switched off; otherwise one faint pixel keeps the engine's
        // mask analysis meaningful and the glow is switched off.
        uint8_t &corner = driverState.mask[size_t(kMaskBorder) * pitch + kMaskBorder];
        if (driverInputs.settings->invertShape == 1) {
            corner = 0;
            renderJob.bevel.width = 0;
        } else {
            corner = 1;
            renderJob.glow.on = 0;
        }
    }
}

void runStages() {
    for (const StageEntry &stage : kStageList) {
        if (driverState.engineError == 0) driverState.engineError = stage.run(renderJob);
        driverInputs.checkAbort();
    }
    if (driverState.engineError != 0) driverInputs.logFailure(kLogStageFailed);
}

void smoothInterlineDifferences() {
    const int32_t width = driverState.width;
    for (int32_t y = 0; y + 1 < driverState.height; ++y) {
        uint8_t *row = reinterpret_cast<uint8_t *>(driverState.workPixels + size_t(y) * width);
        const uint8_t *below = row + size_t(width) * 4;
        for (int32_t x = 0; x < width; ++x) {
            uint8_t *own = row + 4 * x;
            const uint8_t *next = below + 4 * x;
            int32_t largest = 0;
            for (int k = 0; k < 3; ++k) {
                const int32_t difference = std::abs(own[k] - next[k]);
                if (difference > largest) largest = difference;
            }
            if (largest < 50) continue;
            for (int k = 0; k < 3; ++k)
                own[k] = static_cast<uint8_t>((own[k] + next[k]) * 50 / 100);
        }
    }
}

namespace {

// The far region of row y from column x0 to x1, in one pass: the plain
// background fill colour A as the final shading lays it, (M x A) >> 8 per
// channel under map 2's pixel M or A itself, converted to host pixels. Map
// 2's picture is copied one pixel per pixel: its columns run on one by one
// until the picture's edge, where they wrap. Where the map shows input 0's
// frame converted only inside the near box, its pixels come from input 0's
// rows themselves.
void convertFarRun(int32_t y, int32_t x0, int32_t x1, const uint32_t *alpha, uint32_t *row) {
    const Rgb &a = renderJob.fill[1].colourA;
    const uint32_t tint = packRgb(a.r, a.g, a.b);
    if (!engine.farMapPixels || engine.mapTints[1] != 1) {
        driverKernels::fillHostPixels(tint, alpha + x0, row + x0, size_t(x1 - x0));
        return;
    }
    const int32_t mapWidth = engine.farMapWidth;
    const int32_t mapRow = engine.rowCoords2[y];
    const uint32_t *frameRow = frameMap2Row(engine.farMapPixels, mapRow);
    const uint32_t *source = frameRow ? frameRow : engine.farMapPixels + size_t(mapRow) * mapWidth;
    for (int32_t x = x0; x < x1;) {
        const int32_t u = engine.colCoords2[x];
        const int32_t run = x1 - x < mapWidth - u ? x1 - x : mapWidth - u;
        if (frameRow)
            driverKernels::tintedHostToHostPixels(source + u, tint, alpha + x, row + x,
                                                  size_t(run));
        else
            driverKernels::tintedRgbToHostPixels(source + u, tint, alpha + x, row + x, size_t(run));
        x += run;
    }
}

} // namespace

void convertOutputRows(const FrameRows &alpha, const FrameRows &destination) {
    if (driverInputs.flickerFilter->value == 1) smoothInterlineDifferences();
    const int32_t width = driverState.width, height = driverState.height;
    const bool fused = engine.farFused == 1;
    // The near box from the work pixels, the far region (when fused) from
    // the fill.
    const PixelRect box = fused ? engine.nearBox : PixelRect{0, width, 0, height};
    for (int32_t y = 0; y < height; ++y) {
        uint32_t *row = destination.row(y);
        const uint32_t *alphaRow = alpha.row(y);
        if (!row || !alphaRow) continue;
        if (y < box.y0 || y >= box.y1 || box.x1 <= box.x0) {
            convertFarRun(y, 0, width, alphaRow, row);
            continue;
        }
        if (box.x0 > 0) convertFarRun(y, 0, box.x0, alphaRow, row);
        driverKernels::rgbToHostPixels(driverState.workPixels + size_t(y) * width + box.x0,
                                       alphaRow + box.x0, row + box.x0, size_t(box.x1 - box.x0));
        if (box.x1 < width) convertFarRun(y, box.x1, width, alphaRow, row);
    }
}

void convertOutput(uint32_t *destination) {
    const FrameRows frame = FrameRows::ofFrame(destination, driverState.width);
    convertOutputRows(frame, frame);
}

namespace {

// Whether the stages read map 2's picture only inside the near box. With the
// far region fused they do for a picture of the frame's size placed one
// pixel per pixel from its first column and row (zoom 0, offset 0): the image
// map stage copies or views it there alone, and the output conversion takes
// the rest from input 0's frame (see frameMap2Row).
bool map2ReadInNearBoxOnly(int32_t width, int32_t height) {
    const MapJob &map = renderJob.map[1];
    const SourceImage &layer = sourceImages[kLayerMap2];
    return driverState.engineError == 0 && engine.farFused == 1 && map.on == 1 && layer.pixels &&
           map.image == layer.pixels && layer.width == width && layer.height == height &&
           width > 1 && height > 1 && map.zoomX == 0 && map.zoomY == 0 && map.offsetX == 0 &&
           map.offsetY == 0;
}

} // namespace

void convertMap2ForStages(int32_t width, int32_t height) {
    const bool nearOnly = map2ReadInNearBoxOnly(width, height);
    convertDeferredMap2(!nearOnly, engine.nearBox.x0, engine.nearBox.x1, engine.nearBox.y0,
                        engine.nearBox.y1);
}

int32_t renderFrame(int32_t width, int32_t height, int32_t scaled) {
    using Loader = void (*)();
    constexpr Loader kLoaders[] = {loadMap1Source,  loadMap2Source,     loadFill1Source,
                                   loadFill2Source, loadTexture1Source, loadTexture2Source};
    driverInputs.checkAbort();
    // Map 2's picture of input 0's frame is converted after the set-up,
    // where the stages read it.
    deferMap2Conversion(true);
    for (Loader load : kLoaders) {
        load();
        driverInputs.checkAbort();
    }
    deferMap2Conversion(false);
    fillRenderJob(scaled);
    if (allocateWorkBuffers(width, height) != 0) {
        dropPartialMap2();
        driverInputs.logFailure(kLogWorkBuffersMissing);
        driverState.engineError = -1;
        return -1;
    }
    renderJob.pixels = driverState.workPixels;
    renderJob.paddedMask = driverState.mask;
    renderJob.width = static_cast<int16_t>(width);
    renderJob.height = static_cast<int16_t>(height);
    // The output conversion below computes the far region; the flicker
    // filter mixes neighbouring rows, so it needs every work pixel.
    renderJob.fuseFarRegion = driverInputs.flickerFilter->value != 1
                                  ? static_cast<uint8_t>(driverState.fuseFarRegion)
                                  : uint8_t(0);
    // Every stage runs once below, with this job.
    renderJob.singleRun = 1;

    driverState.maskBuilt = 0;
    driverInputs.checkAbort();
    buildMask();
    driverInputs.checkAbort();

    driverState.engineError = engineSetup(renderJob);
    if (driverState.engineError == 0)
        driverState.engineReady = 1;
    else
        driverInputs.logFailure(kLogEngineSetupFailed);
    convertMap2ForStages(width, height);
    driverInputs.checkAbort();
    runStages();
    driverInputs.checkAbort();
    if (driverState.engineError == 0) {
        if (fieldState.outputRows.pitch != 0)
            convertOutputRows(fieldState.input1Rows, fieldState.outputRows);
        else
            convertOutput(fieldState.inputFrame1);
    }
    driverInputs.checkAbort();

    const int32_t teardown = engineTeardown();
    if (driverState.engineError == 0) driverState.engineError = teardown;
    driverState.engineReady = 0;
    releaseWorkBuffers();
    dropPartialMap2();
    sweepIdleBuffers();
    driverInputs.checkAbort();
    return 0;
}

} // namespace lustra
