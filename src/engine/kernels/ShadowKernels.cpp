// Row kernels of the shadow stage; see ShadowKernels.h.
#include "engine/kernels/ShadowKernels.h"

#include <cstring>

namespace lustra::shadowKernels {

// map[i] = sums[i] / 65536, kept as its low byte.
LUSTRA_VECTOR_CLONES void storeShadowRow(const int32_t *__restrict sums, int32_t count,
                                         uint8_t *__restrict map) {
    for (int32_t i = 0; i < count; ++i) map[i] = static_cast<uint8_t>(sums[i] / 65536);
}

namespace {
typedef uint8_t RunBytes __attribute__((vector_size(32))); // a run of 32 columns
} // namespace

LUSTRA_VECTOR_CLONES void opacityChangeRuns(const uint8_t *row, ptrdiff_t stride, int32_t count,
                                            uint8_t *__restrict flags) {
    const uint8_t *above = row - stride;
    int32_t run = 0;
    for (; run + 32 <= count; run += 32) {
        RunBytes here, there;
        std::memcpy(&here, row + run, sizeof here), std::memcpy(&there, above + run, sizeof there);
        // 0xFF in the bytes where exactly one of the two is fully opaque.
        const RunBytes differ = RunBytes((here == 255) ^ (there == 255));
        uint64_t words[4];
        std::memcpy(words, &differ, sizeof words);
        flags[run / 32] = (words[0] | words[1] | words[2] | words[3]) != 0;
    }
    if (run < count) {
        bool differ = false;
        for (int32_t i = run; i < count; ++i) differ |= (row[i] == 255) != (above[i] == 255);
        flags[run / 32] = differ;
    }
}

void addChangeRuns(const uint8_t *__restrict flags, int32_t count, int32_t delta,
                   int32_t *__restrict changes) {
    for (int32_t b = 0; b < (count + 31) / 32; ++b) changes[b] += delta * flags[b];
}

} // namespace lustra::shadowKernels
