// The shadow stage: shadowMap, a softened copy of the shape's fully opaque
// area. The map has the size and layout of the padded mask, so that a blurred
// or displaced shadow can reach up to `border` pixels beyond the frame.
//
// The readable per-pixel model, which the tests match this stage against
// byte for byte: engine/reference/GlowShadowModels.h (ShadowModel).
#include "engine/Blend.h"
#include "engine/Engine.h"
#include "engine/kernels/ShadowKernels.h"
#include "engine/RowPasses.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace lustra {

namespace {

using namespace shadowKernels;

// Clears the map outside columns x0 .. x1 - 1 of rows y0 .. y1 - 1 (frame
// coordinates, from -R): the part of the map that the stage does not write.
void clearOutside(int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    const int32_t R = engine.border;
    const size_t pitch = engine.paddedWidth;
    uint8_t *map = engine.shadowMap;
    std::memset(map, 0, pitch * size_t(y0 + R));
    std::memset(map + pitch * size_t(y1 + R), 0, pitch * size_t(engine.paddedHeight - (y1 + R)));
    for (int32_t y = y0; y < y1; ++y) {
        uint8_t *row = map + pitch * size_t(y + R);
        std::memset(row, 0, size_t(x0 + R));
        std::memset(row + x1 + R, 0, pitch - size_t(x1 + R));
    }
}

// The frame part of the mask, unsoftened; the margin stays 0.
void copyMask() {
    const int32_t w = engine.frameWidth, h = engine.frameHeight, R = engine.border;
    clearOutside(0, w, 0, h);
    for (int32_t y = 0; y < h; ++y) {
        const int32_t offset = engine.paddedRowOffset[y + R] + R;
        std::memcpy(engine.shadowMap + offset, engine.paddedMask + offset, size_t(w));
    }
}

// Separable blur of the fully opaque pixels over the bounding box grown by c,
// clipped to the padded frame; every pixel of that region is written, the
// rest of the map cleared. Frame coordinates run from -R to W+R-1 (H+R-1);
// mask rows beyond the padded mask count as not opaque. The value of column
// x lives at index x + 2R of columnSums, which holds every column from
// -R - c to W + R - 1 + c; columns outside the region stay 0.
void blurShadow(int32_t c) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight, R = engine.border;
    buildSmoothKernel(static_cast<uint8_t>(c), kBlurGain);
    const int32_t *kernel = engine.blurKernel;
    int32_t *column = engine.columnSums + 2 * R;
    int32_t *rowSums = engine.columnSumsY; // room for the row pass's sums, one row

    const int32_t x0 = engine.boundsMinX - c > -R ? engine.boundsMinX - c : -R;
    const int32_t y0 = engine.boundsMinY - c > -R ? engine.boundsMinY - c : -R;
    const int32_t x1 = engine.boundsMaxX + 1 + c < w + R ? engine.boundsMaxX + 1 + c : w + R;
    const int32_t y1 = engine.boundsMaxY + 1 + c < h + R ? engine.boundsMaxY + 1 + c : h + R;

    clearOutside(x0, x1, y0, y1);

    // Padded mask row r (from -R to h - 1 + R) at the region's first column,
    // and the opacity changes of the runs of 32 columns over the rows of the
    // column pass: those of y - c .. y + c that exist, `first` .. `last`.
    // Each row's changes against the row above are found once, when it
    // enters the window, and kept (rows first + 1 .. last, at most 2c, in
    // 2c + 1 slots by row) until it leaves.
    const ptrdiff_t stride = engine.paddedWidth;
    const uint8_t *maskAt = engine.paddedMask + R * stride + R + x0;
    const int32_t runs = (x1 - x0 + 31) / 32, slots = 2 * c + 1;
    std::vector<int32_t> changes(runs, 0), scratch;
    std::vector<uint8_t> rowChanges(size_t(runs) * slots);
    const auto enter = [&](int32_t r) {
        uint8_t *flags = &rowChanges[size_t((r + R) % slots) * runs];
        opacityChangeRuns(maskAt + r * stride, stride, x1 - x0, flags);
        addChangeRuns(flags, x1 - x0, 1, changes.data());
    };
    const auto leave = [&](int32_t r) {
        addChangeRuns(&rowChanges[size_t((r + R) % slots) * runs], x1 - x0, -1, changes.data());
    };
    int32_t first = y0 - c > -R ? y0 - c : -R;
    int32_t last = y0 + c < h + R - 1 ? y0 + c : h + R - 1;
    for (int32_t r = first + 1; r <= last; ++r) enter(r);

    for (int32_t y = y0; y < y1; ++y) {
        pollAbort(y1 - y);

        // Column pass: padded rows y - c .. y + c that exist.
        const int32_t kFirst = c - R - y > 0 ? c - R - y : 0;
        const int32_t kLast = h + R - 1 - y + c < 2 * c ? h + R - 1 - y + c : 2 * c;
        if (y - c + kFirst > first) leave(++first);
        if (y - c + kLast > last) enter(++last);
        sumOpaqueColumns(maskAt + first * stride, stride, kernel + kFirst, kLast - kFirst + 1,
                         x1 - x0, column + x0, changes.data());

        // Row pass: every pixel of the region, whatever its mask value.
        uint8_t *mapRow = engine.shadowMap + engine.paddedRowOffset[y + R] + R;
        convolveRowToShadow(kernel, 2 * c + 1, column + x0 - c, x1 - x0, rowSums, mapRow + x0,
                            scratch);
    }
}

} // namespace

int32_t shadowStage(const RenderJob &job) {
    if (job.shadow.on != 1) return 0;
    if (engine.edgeCount <= 0 || !engine.mask) return 0;

    const int32_t c = limitToBorder(job.shadow.softness);
    std::memset(engine.columnSums, 0, sizeof(int32_t) * engine.columnSumsCount);
    if (c == 0) {
        copyMask();
        return 0;
    }
    try {
        blurShadow(c);
    } catch (const std::bad_alloc &) {
        return -1; // no room for the blur's row counts
    }
    return 0;
}

} // namespace lustra
