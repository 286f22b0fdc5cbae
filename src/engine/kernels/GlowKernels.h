// Row kernels of the glow stage: the vectorised loops the stage calls. Their
// definitions are compiled for each instruction set, and the loader picks one
// variant per kernel once, when the module loads (see LUSTRA_VECTOR_CLONES).
#pragma once

#include "engine/Blend.h"
#include "engine/Footprints.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lustra::glowKernels {

// Pixels that are not fully opaque start without glow: held[i] = mask[i]
// == 255 ? held[i] : 0. Runs of 32 pixels none of which is fully opaque are
// cleared without reading what they held (which on fresh pages saves
// mapping them twice), fully opaque runs are skipped, and the others taken
// branch-free so that it vectorises.
void clearUncoveredRow(const uint8_t *__restrict mask, int32_t count, uint8_t *__restrict held);

// glow[i] = mask[i] == 255 ? glow[i] : held[i]: the stamped heights become
// the glow of the pixels that are not fully opaque; in runs of 32 as
// clearUncoveredRow.
void copyStampedRow(const uint8_t *__restrict mask, const uint8_t *__restrict held, int32_t count,
                    uint8_t *__restrict glow);

// column[i] = trunc(column[i] x 1.3), in double precision as always (the
// vector variant converts, multiplies and truncates lane by lane alike).
void scaleColumns(int32_t *column, int32_t count);

// glow[i] = min(sums[i] / 65536, 255) where mask[i] is not 255, glow[i]
// unchanged elsewhere; returns the highest value written (at least `peak`).
// In chunks of 256: the clamped quotients as bytes first, then the bytes
// stored and their peak taken, each loop of one width so that it vectorises.
int32_t storeGlowRow(const int32_t *__restrict sums, const uint8_t *__restrict mask, int32_t count,
                     uint8_t *__restrict glow, int32_t peak);

// The cells of stamp row dy that are not 0: first .. last (first > last
// when there are none). Cells of height 0 never raise a pixel.
struct StampExtent {
    int32_t first, last;
};

// The stamp of radius g with 32 cells of 0 on each side of every row, so
// that a run of 32 frame pixels can read a stamp row at any offset from it
// that overlaps the stamp: cell (dx, dy) at row dy + g, column dx + g + 32.
// Built by the stage from its stamp table.
struct PaddedStamp {
    static constexpr int32_t kMargin = 32;
    int32_t g, pitch;
    std::vector<uint8_t> cells;
    std::vector<StampExtent> extents; // per row dy + g

    explicit PaddedStamp(int32_t radius);
    // Cell (dx, dy)
    const uint8_t *at(int32_t dx, int32_t dy) const {
        return &cells[size_t(dy + g) * pitch + kMargin + g + dx];
    }
};

// The frame rows that one stamp row lands on: rows ey + dy and ey - dy,
// which take the same cells (a cell's height depends on dx^2 + dy^2 only);
// `count` of them (1 or 2) lie in the frame. Mask and stampMax at column 0.
struct TargetRows {
    int32_t count;
    const uint8_t *mask[2];
    uint8_t *held[2];
};

// Stamps stamp row dy of the edge pixels first .. last - 1 of the engine's
// edge list (all on one row, in increasing columns) onto the target rows,
// from column x0 to x1 - 1 of a frame w pixels wide: each pixel that is not
// fully opaque takes the highest of the cells that land on it when that is
// higher than what it holds, held[x] = max(held[x], cells).
void stampRow(const PaddedStamp &stamp, int32_t first, int32_t last, int32_t dy,
              const TargetRows &rows, int32_t x0, int32_t x1, int32_t w);

} // namespace lustra::glowKernels
