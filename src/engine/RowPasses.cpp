#include "engine/RowPasses.h"

#include "engine/Blend.h"

#include <cstring>

namespace lustra {

namespace {

// Sixteen columns at a time (GCC vector extensions; the baseline clone
// takes each vector as two halves).
typedef uint8_t MaskBytes __attribute__((vector_size(16)));
typedef int16_t ColumnSums __attribute__((vector_size(32)));
typedef int32_t ColumnWords __attribute__((vector_size(64)));

} // namespace

// The sums of sixteen columns stay in 16-bit lanes over all rows (the
// weights add up to at most 32,767); the last columns are summed one by one.
LUSTRA_VECTOR_CLONES void sumOpaqueColumns(const uint8_t *firstRow, ptrdiff_t stride,
                                           const int32_t *weights, int32_t taps, int32_t count,
                                           int32_t *__restrict column) {
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        ColumnSums sum = {};
        for (int32_t k = 0; k < taps; ++k) {
            MaskBytes mask;
            std::memcpy(&mask, firstRow + k * stride + i, sizeof mask);
            // -1 in the lanes of fully opaque pixels, 0 elsewhere.
            const ColumnSums opaque = __builtin_convertvector(mask == 255, ColumnSums);
            sum += opaque & static_cast<int16_t>(weights[k]);
        }
        const ColumnWords words = __builtin_convertvector(sum, ColumnWords);
        std::memcpy(column + i, &words, sizeof words);
    }
    for (; i < count; ++i) {
        int32_t sum = 0;
        for (int32_t k = 0; k < taps; ++k) sum += firstRow[k * stride + i] == 255 ? weights[k] : 0;
        column[i] = sum;
    }
}

LUSTRA_VECTOR_CLONES void convolveRow(const int32_t *__restrict kernel, int32_t taps,
                                      const int32_t *__restrict column, int32_t count,
                                      int32_t *__restrict out) {
    for (int32_t i = 0; i < count; ++i) out[i] = 0;
    for (int32_t k = 0; k < taps; ++k) {
        const int32_t tap = kernel[k];
        const int32_t *source = column + k;
        for (int32_t i = 0; i < count; ++i) out[i] += tap * source[i];
    }
}

} // namespace lustra
