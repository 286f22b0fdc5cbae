// Row kernels of the image map stages; see ImageMapKernels.h.
#include "engine/kernels/ImageMapKernels.h"

namespace lustra::mapKernels {

// One source row blended across by the frame's column fractions: each
// channel ((255 - fu) x a + fu x b) >> 8 of the pixels in columns u and
// uNext, kept as a pixel (channels at most 254).
LUSTRA_VECTOR_CLONES void blendAcross(const uint32_t *__restrict row, const int32_t *__restrict u,
                                      const int32_t *__restrict uNext, const int32_t *__restrict fu,
                                      int32_t count, uint32_t *__restrict out) {
    for (int32_t x = 0; x < count; ++x) {
        const uint32_t a = row[u[x]], b = row[uNext[x]], w = static_cast<uint32_t>(fu[x]);
        out[x] = lerpRgb(a, b, w);
    }
}

// Two rows blended across, blended down by the row fraction fv: bytes 0..2
// written, byte 3 kept.
LUSTRA_VECTOR_CLONES void blendDown(const uint32_t *__restrict top,
                                    const uint32_t *__restrict bottom, uint32_t fv, int32_t count,
                                    uint32_t *__restrict out) {
    for (int32_t x = 0; x < count; ++x)
        out[x] = (out[x] & 0xFF000000u) | lerpRgb(top[x], bottom[x], fv);
}

// Box filter on one frame row: each pixel the average over its column span
// and the row's `rowSpan` rows, from the running sums; 0 when empty.
LUSTRA_VECTOR_CLONES void boxRow(const uint64_t *__restrict sums, const int32_t *__restrict start,
                                 const int32_t *__restrict end, const int32_t *__restrict span,
                                 int32_t rowSpan, int32_t count, uint32_t *__restrict out) {
    for (int32_t x = 0; x < count; ++x) {
        const uint64_t sum = sums[end[x]] - sums[start[x]];
        const uint32_t r = kReciprocal[span[x] * rowSpan];
        const uint32_t blue = divideSmall(laneOf(sum, 0), r);
        const uint32_t green = divideSmall(laneOf(sum, 1), r);
        const uint32_t red = divideSmall(laneOf(sum, 2), r);
        out[x] = (out[x] & 0xFF000000u) | (red << 16) | (green << 8) | blue;
    }
}

// Column spans on one frame row: averages over each pixel's column span on
// source rows v (sums0) and vNext (sums1), blended by the row fraction fv.
LUSTRA_VECTOR_CLONES void columnSpanRow(const uint64_t *__restrict sums0,
                                        const uint64_t *__restrict sums1,
                                        const int32_t *__restrict start,
                                        const int32_t *__restrict end,
                                        const int32_t *__restrict span, uint32_t fv, int32_t count,
                                        uint32_t *__restrict out) {
    for (int32_t x = 0; x < count; ++x) {
        const uint64_t sum0 = sums0[end[x]] - sums0[start[x]];
        const uint64_t sum1 = sums1[end[x]] - sums1[start[x]];
        const uint32_t r = kReciprocal[span[x]];
        uint32_t pixel = out[x] & 0xFF000000u;
        for (int k = 0; k < 3; ++k) {
            const uint32_t a0 = divideSmall(laneOf(sum0, k), r);
            const uint32_t a1 = divideSmall(laneOf(sum1, k), r);
            pixel |= ((a1 * fv + (255 - fv) * a0) >> 8) << (8 * k);
        }
        out[x] = pixel;
    }
}

// Adds the spread channels of a source row to the column sums.
LUSTRA_VECTOR_CLONES void addSpreadRow(const uint32_t *__restrict row, int32_t width,
                                       uint64_t *__restrict sums) {
    for (int32_t c = 0; c < width; ++c) sums[c] += spreadChannels(row[c]);
}

// Row spans on one frame row: averages of the column sums in columns u and
// uNext (divided by the row span through its reciprocal r), blended by the
// column fraction.
LUSTRA_VECTOR_CLONES void rowSpanRow(const uint64_t *__restrict sums, const int32_t *__restrict u,
                                     const int32_t *__restrict uNext, const int32_t *__restrict fu,
                                     uint32_t r, int32_t count, uint32_t *__restrict out) {
    for (int32_t x = 0; x < count; ++x) {
        const uint64_t sum0 = sums[u[x]], sum1 = sums[uNext[x]];
        const uint32_t w = static_cast<uint32_t>(fu[x]);
        uint32_t pixel = out[x] & 0xFF000000u;
        for (int k = 0; k < 3; ++k) {
            const uint32_t a0 = divideSmall(laneOf(sum0, k), r);
            const uint32_t a1 = divideSmall(laneOf(sum1, k), r);
            pixel |= ((a1 * w + (255 - w) * a0) >> 8) << (8 * k);
        }
        out[x] = pixel;
    }
}

// Copies `count` pixels: bytes 0..2 from the source, byte 3 kept.
LUSTRA_VECTOR_CLONES void copyColourBytes(const uint32_t *__restrict source, int32_t count,
                                          uint32_t *__restrict out) {
    for (int32_t i = 0; i < count; ++i) out[i] = (out[i] & 0xFF000000u) | (source[i] & 0x00FFFFFFu);
}

} // namespace lustra::mapKernels
