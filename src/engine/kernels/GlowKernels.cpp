// Row kernels of the glow stage; see GlowKernels.h.
#include "engine/kernels/GlowKernels.h"

#include "engine/Engine.h"

namespace lustra::glowKernels {

// Pixels that are not fully opaque start without glow: held[i] = mask[i]
// == 255 ? held[i] : 0. Runs of 32 pixels none of which is fully opaque are
// cleared without reading what they held (which on fresh pages saves
// mapping them twice), fully opaque runs are skipped, and the others taken
// branch-free so that it vectorises.
LUSTRA_VECTOR_CLONES void clearUncoveredRow(const uint8_t *__restrict mask, int32_t count,
                                            uint8_t *__restrict held) {
    for (int32_t run = 0; run < count; run += 32) {
        const int32_t end = count - run < 32 ? count : run + 32;
        if (end == run + 32 && noneOpaque32(mask + run)) {
            std::memset(held + run, 0, 32);
            continue;
        }
        if (end == run + 32 && allOpaque32(mask + run)) continue;
        for (int32_t i = run; i < end; ++i) held[i] = mask[i] == 255 ? held[i] : 0;
    }
}

// glow[i] = mask[i] == 255 ? glow[i] : held[i]: the stamped heights become
// the glow of the pixels that are not fully opaque; in runs of 32 as
// clearUncoveredRow.
LUSTRA_VECTOR_CLONES void copyStampedRow(const uint8_t *__restrict mask,
                                         const uint8_t *__restrict held, int32_t count,
                                         uint8_t *__restrict glow) {
    for (int32_t run = 0; run < count; run += 32) {
        const int32_t end = count - run < 32 ? count : run + 32;
        if (end == run + 32 && noneOpaque32(mask + run)) {
            std::memcpy(glow + run, held + run, 32);
            continue;
        }
        if (end == run + 32 && allOpaque32(mask + run)) continue;
        for (int32_t i = run; i < end; ++i) glow[i] = mask[i] == 255 ? glow[i] : held[i];
    }
}

// column[i] = trunc(column[i] x 1.3), in double precision as always (the
// vector variant converts, multiplies and truncates lane by lane alike).
LUSTRA_VECTOR_CLONES void scaleColumns(int32_t *column, int32_t count) {
    for (int32_t i = 0; i < count; ++i) column[i] = static_cast<int32_t>(column[i] * 1.3);
}

// glow[i] = min(sums[i] / 65536, 255) where mask[i] is not 255, glow[i]
// unchanged elsewhere; returns the highest value written (at least `peak`).
// In chunks of 256: the clamped quotients as bytes first, then the bytes
// stored and their peak taken, each loop of one width so that it vectorises.
LUSTRA_VECTOR_CLONES int32_t storeGlowRow(const int32_t *__restrict sums,
                                          const uint8_t *__restrict mask, int32_t count,
                                          uint8_t *__restrict glow, int32_t peak) {
    uint8_t top = static_cast<uint8_t>(peak); // peak is 1 .. 255
    for (int32_t chunk = 0; chunk < count; chunk += 256) {
        const int32_t n = count - chunk < 256 ? count - chunk : 256;
        uint8_t value[256];
        for (int32_t i = 0; i < n; ++i) {
            const int32_t v = sums[chunk + i] / 65536;
            value[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
        }
        for (int32_t i = 0; i < n; ++i) {
            const bool opaque = mask[chunk + i] == 255;
            glow[chunk + i] = opaque ? glow[chunk + i] : value[i];
            const uint8_t written = opaque ? 0 : value[i];
            top = written > top ? written : top;
        }
    }
    return top;
}

namespace {

typedef uint8_t Bytes32 __attribute__((vector_size(32)));

// Runs of 32 pixels take, where not fully opaque, the higher of the cells
// and of what they hold: held[i] = max(held[i], mask[i] == 255 ? 0 : top[i]).
inline void raiseRun(const Bytes32 &top, const uint8_t *mask, uint8_t *held) {
    if (allOpaque32(mask)) return;
    Bytes32 covered, value;
    std::memcpy(&covered, mask, 32), std::memcpy(&value, held, 32);
    const Bytes32 none = {};
    const Bytes32 cells = covered == 255 ? none : top;
    value = cells > value ? cells : value;
    std::memcpy(held, &value, 32);
}

} // namespace

// Stamps stamp row dy of the edge pixels first .. last - 1 (all on row ey,
// in increasing columns) onto the target rows, from column x0 to x1 - 1, in
// runs of 32 pixels (frames narrower than that cell by cell): the highest of the cells
// that land on a run is worked out once and raises each target row. Stretches
// without any cell are skipped, and so are runs of fully opaque pixels. Runs
// may overlap at the frame's right edge: taking the maximum twice changes
// nothing.
LUSTRA_VECTOR_CLONES void stampRow(const PaddedStamp &stamp, int32_t first, int32_t last,
                                   int32_t dy, const TargetRows &rows, int32_t x0, int32_t x1,
                                   int32_t w) {
    if (w < 32) {
        // Frames narrower than a run: cell by cell.
        for (int32_t r = 0; r < rows.count; ++r)
            for (int32_t k = first; k < last; ++k)
                for (int32_t x = x0; x < x1; ++x) {
                    const uint8_t cell = *stamp.at(x - engine.edgeX[k], dy);
                    if (rows.mask[r][x] != 255 && cell > rows.held[r][x]) rows.held[r][x] = cell;
                }
        return;
    }
    const StampExtent e = stamp.extents[dy + stamp.g];
    const uint8_t *cellsAt = stamp.at(0, dy); // cell (0, dy)
    int32_t lo = first;                       // the first edge pixel whose cells may reach the run
    for (int32_t s = x0; s < x1;) {
        if (s > w - 32) s = w - 32;
        while (lo < last && engine.edgeX[lo] + e.last < s) ++lo;
        if (lo == last) break;
        // Nothing lands before the next edge pixel's first cell: jump there.
        if (engine.edgeX[lo] + e.first > s + 31) {
            s = engine.edgeX[lo] + e.first;
            continue;
        }
        Bytes32 top = {};
        for (int32_t i = lo; i < last && engine.edgeX[i] + e.first <= s + 31; ++i) {
            Bytes32 cells;
            std::memcpy(&cells, cellsAt + (s - engine.edgeX[i]), 32);
            top = cells > top ? cells : top;
        }
        for (int32_t r = 0; r < rows.count; ++r) raiseRun(top, rows.mask[r] + s, rows.held[r] + s);
        s += 32;
    }
}

} // namespace lustra::glowKernels
