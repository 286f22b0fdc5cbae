#include "engine/RowPasses.h"

#include "engine/Blend.h"
#include "engine/kernels/CpuVariant.h"
#include "engine/kernels/ShadowKernels.h"

#include <cstring>
#include <vector>

// The column and row passes have AVX2 and AVX-512 variants written with
// intrinsics, besides portable ones; the file picks
// one when the module loads (see engine/kernels/CpuVariant.h).
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
#include <immintrin.h>
#define LUSTRA_ROW_PASS_INTRINSICS 1
#endif

namespace lustra {

namespace {

// The portable variant takes sixteen columns at a time (GCC vector
// extensions).
typedef uint8_t MaskBytes __attribute__((vector_size(16)));
typedef int16_t ColumnSums __attribute__((vector_size(32)));
typedef int32_t ColumnWords __attribute__((vector_size(64)));
typedef uint8_t RunBytes __attribute__((vector_size(32))); // a run of 32 columns

// The variants of the column and row passes that the file runs (see the end
// of the file).
struct Passes {
    CpuVariant variant;
    void (*sumColumns)(const uint8_t *, ptrdiff_t, const int32_t *, int32_t, int32_t, int32_t *);
    void (*convolve)(const int32_t *, int32_t, const int32_t *, int32_t, int32_t *,
                     std::vector<int32_t> &, const uint8_t *);
    void (*convolveToShadow)(const int32_t *, int32_t, const int32_t *, int32_t, int32_t *,
                             uint8_t *, std::vector<int32_t> &);
};
Passes &passes();

} // namespace

namespace {

// The sums of a column vector stay in 16-bit lanes over all rows (the
// weights add up to at most 32,767); the last columns are summed one by one.
// The AVX2 variant takes 32 columns at a time: the compare's bytes, doubled
// into 16-bit lanes by unpacking, give two vectors of sums whose lanes hold
// columns 0-7 and 16-23, and 8-15 and 24-31; they are put back in order when
// stored.
#ifdef LUSTRA_ROW_PASS_INTRINSICS
__attribute__((target("avx2"))) void sumColumnsAvx2(const uint8_t *firstRow, ptrdiff_t stride,
                                                    const int32_t *weights, int32_t taps,
                                                    int32_t count, int32_t *column) {
    const __m256i opaque = _mm256_set1_epi8(static_cast<char>(255));
    int32_t i = 0;
    for (; i + 32 <= count; i += 32) {
        __m256i sumA = _mm256_setzero_si256(), sumB = _mm256_setzero_si256();
        const uint8_t *row = firstRow + i;
        for (int32_t k = 0; k < taps; ++k, row += stride) {
            const __m256i mask = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row));
            // 0xFF in the bytes of fully opaque pixels, 0 elsewhere.
            const __m256i isOpaque = _mm256_cmpeq_epi8(mask, opaque);
            const __m256i weight = _mm256_set1_epi16(static_cast<int16_t>(weights[k]));
            sumA = _mm256_add_epi16(
                sumA, _mm256_and_si256(_mm256_unpacklo_epi8(isOpaque, isOpaque), weight));
            sumB = _mm256_add_epi16(
                sumB, _mm256_and_si256(_mm256_unpackhi_epi8(isOpaque, isOpaque), weight));
        }
        const __m256i first = _mm256_permute2x128_si256(sumA, sumB, 0x20);  // columns 0-15
        const __m256i second = _mm256_permute2x128_si256(sumA, sumB, 0x31); // columns 16-31
        __m256i *out = reinterpret_cast<__m256i *>(column + i);
        _mm256_storeu_si256(out, _mm256_cvtepi16_epi32(_mm256_castsi256_si128(first)));
        _mm256_storeu_si256(out + 1, _mm256_cvtepi16_epi32(_mm256_extracti128_si256(first, 1)));
        _mm256_storeu_si256(out + 2, _mm256_cvtepi16_epi32(_mm256_castsi256_si128(second)));
        _mm256_storeu_si256(out + 3, _mm256_cvtepi16_epi32(_mm256_extracti128_si256(second, 1)));
    }
    for (; i < count; ++i) {
        int32_t sum = 0;
        for (int32_t k = 0; k < taps; ++k) sum += firstRow[k * stride + i] == 255 ? weights[k] : 0;
        column[i] = sum;
    }
}

// The AVX-512 variant takes 32 columns per vector: the compare gives a bit
// per column, and the weight is added to the 16-bit lanes of the columns
// whose bit is set. (The zero-masked forms of the conversions keep GCC from
// warning about the undefined vectors of the plain ones.)
__attribute__((target("avx512f,avx512bw,avx512vl"))) void
sumColumnsAvx512(const uint8_t *firstRow, ptrdiff_t stride, const int32_t *weights, int32_t taps,
                 int32_t count, int32_t *column) {
    const __m256i opaque = _mm256_set1_epi8(static_cast<char>(255));
    int32_t i = 0;
    for (; i + 64 <= count; i += 64) {
        __m512i sumA = _mm512_setzero_si512(), sumB = _mm512_setzero_si512();
        const uint8_t *row = firstRow + i;
        for (int32_t k = 0; k < taps; ++k, row += stride) {
            const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row));
            const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + 32));
            const __m512i weight = _mm512_set1_epi16(static_cast<int16_t>(weights[k]));
            sumA = _mm512_mask_add_epi16(sumA, _mm256_cmpeq_epi8_mask(first, opaque), sumA, weight);
            sumB =
                _mm512_mask_add_epi16(sumB, _mm256_cmpeq_epi8_mask(second, opaque), sumB, weight);
        }
        _mm512_storeu_si512(column + i, _mm512_maskz_cvtepi16_epi32(
                                            0xFFFF, _mm512_maskz_extracti64x4_epi64(0xF, sumA, 0)));
        _mm512_storeu_si512(
            column + i + 16,
            _mm512_maskz_cvtepi16_epi32(0xFFFF, _mm512_maskz_extracti64x4_epi64(0xF, sumA, 1)));
        _mm512_storeu_si512(
            column + i + 32,
            _mm512_maskz_cvtepi16_epi32(0xFFFF, _mm512_maskz_extracti64x4_epi64(0xF, sumB, 0)));
        _mm512_storeu_si512(
            column + i + 48,
            _mm512_maskz_cvtepi16_epi32(0xFFFF, _mm512_maskz_extracti64x4_epi64(0xF, sumB, 1)));
    }
    for (; i + 32 <= count; i += 32) {
        __m512i sum = _mm512_setzero_si512();
        const uint8_t *row = firstRow + i;
        for (int32_t k = 0; k < taps; ++k, row += stride) {
            const __m256i mask = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row));
            const __m512i weight = _mm512_set1_epi16(static_cast<int16_t>(weights[k]));
            sum = _mm512_mask_add_epi16(sum, _mm256_cmpeq_epi8_mask(mask, opaque), sum, weight);
        }
        _mm512_storeu_si512(column + i, _mm512_maskz_cvtepi16_epi32(
                                            0xFFFF, _mm512_maskz_extracti64x4_epi64(0xF, sum, 0)));
        _mm512_storeu_si512(
            column + i + 16,
            _mm512_maskz_cvtepi16_epi32(0xFFFF, _mm512_maskz_extracti64x4_epi64(0xF, sum, 1)));
    }
    for (; i < count; ++i) {
        int32_t sum = 0;
        for (int32_t k = 0; k < taps; ++k) sum += firstRow[k * stride + i] == 255 ? weights[k] : 0;
        column[i] = sum;
    }
}
#endif

void sumColumnsBaseline(const uint8_t *firstRow, ptrdiff_t stride, const int32_t *weights,
                        int32_t taps, int32_t count, int32_t *__restrict column) {
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

// column[i] = total where row[i] is 255, else 0.
LUSTRA_VECTOR_CLONES void fillUniformRun(const uint8_t *row, int32_t total, int32_t count,
                                         int32_t *column) {
    for (int32_t i = 0; i < count; ++i) column[i] = row[i] == 255 ? total : 0;
}

} // namespace

// Runs without changes take every weight or none from the first row; the
// others go to the column pass in stretches of neighbouring runs.
void sumOpaqueColumns(const uint8_t *firstRow, ptrdiff_t stride, const int32_t *weights,
                      int32_t taps, int32_t count, int32_t *column, const int32_t *changes) {
    if (!changes) {
        passes().sumColumns(firstRow, stride, weights, taps, count, column);
        return;
    }
    int32_t total = 0;
    for (int32_t k = 0; k < taps; ++k) total += weights[k];
    int32_t i = 0;
    while (i < count) {
        int32_t end = i;
        while (end < count && changes[end / 32] != 0) end += 32;
        end = end < count ? end : count;
        if (end > i) {
            passes().sumColumns(firstRow + i, stride, weights, taps, end - i, column + i);
            i = end;
            continue;
        }
        end = i + 32 < count ? i + 32 : count;
        fillUniformRun(firstRow + i, total, end - i, column + i);
        i = end;
    }
}

LUSTRA_VECTOR_CLONES void countOpacityChanges(const uint8_t *row, ptrdiff_t stride, int32_t count,
                                              int32_t delta, int32_t *changes) {
    const uint8_t *above = row - stride;
    int32_t run = 0;
    for (; run + 32 <= count; run += 32) {
        RunBytes here, there;
        std::memcpy(&here, row + run, sizeof here), std::memcpy(&there, above + run, sizeof there);
        // 0xFF in the bytes where exactly one of the two is fully opaque.
        const RunBytes differ = RunBytes((here == 255) ^ (there == 255));
        uint64_t words[4];
        std::memcpy(words, &differ, sizeof words);
        if ((words[0] | words[1] | words[2] | words[3]) != 0) changes[run / 32] += delta;
    }
    bool differ = false;
    for (int32_t i = run; i < count; ++i) differ |= (row[i] == 255) != (above[i] == 255);
    if (differ) changes[run / 32] += delta;
}

namespace {

// The AVX2 variant takes two taps at a time: each lane holds the 16-bit
// values of two neighbouring columns, which one instruction multiplies by the
// two taps and adds. Those pairs are made once per row, into `pairs`. Eight
// outputs whose columns all hold the same value v (as inside a shape or away
// from it) are v times the sum of the taps, taken modulo 2^32 as the sums
// are. The file picks the variant the processor supports; both give the
// same sums.
#ifdef LUSTRA_ROW_PASS_INTRINSICS
__attribute__((target("avx2"))) void convolveAvx2(const int32_t *kernel, int32_t taps,
                                                  const int32_t *column, int32_t count,
                                                  int32_t *out, std::vector<int32_t> &scratch,
                                                  const uint8_t *skip) {
    // pairs[c]: column c in the low half, column c + 1 in the high half, for
    // the columns c = 0 .. count + taps - 3 that the pairs of taps reach.
    // changesBefore[b]: how many of the blocks of eight pairs before block b
    // have a pair of unequal columns. tapPairs[k / 2]: taps k and k + 1 the
    // same way.
    const int32_t pairCount = count + taps - 2;
    const int32_t blocks = pairCount > 0 ? (pairCount + 7) / 8 : 0;
    const size_t room = size_t(blocks) * 9 + 1 + size_t(taps / 2);
    if (scratch.size() < room) scratch.resize(room);
    int32_t *pairs = scratch.data();
    int32_t *changesBefore = pairs + size_t(blocks) * 8;
    int32_t *tapPairs = changesBefore + blocks + 1;
    for (int32_t k = 0; k + 1 < taps; k += 2)
        tapPairs[k / 2] = static_cast<int32_t>(static_cast<uint16_t>(kernel[k]) |
                                               static_cast<uint32_t>(kernel[k + 1]) << 16);
    int32_t c = 0, changes = 0;
    for (; c + 8 <= pairCount; c += 8) {
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(column + c));
        const __m256i second =
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(column + c + 1));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(pairs + c),
                            _mm256_blend_epi16(first, _mm256_slli_epi32(second, 16), 0xAA));
        changesBefore[c / 8] = changes;
        changes += _mm256_movemask_epi8(_mm256_cmpeq_epi32(first, second)) != -1;
    }
    if (c < pairCount) changesBefore[c / 8] = changes, changes += 1; // taken as changing
    changesBefore[blocks] = changes;
    for (; c < pairCount; ++c)
        pairs[c] = static_cast<int32_t>(static_cast<uint16_t>(column[c]) |
                                        static_cast<uint32_t>(column[c + 1]) << 16);
    uint32_t tapTotal = 0;
    for (int32_t k = 0; k < taps; ++k) tapTotal += static_cast<uint32_t>(kernel[k]);

    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        if (skip) {
            uint64_t eight;
            std::memcpy(&eight, skip + i, sizeof eight);
            if (eight == ~uint64_t(0)) continue;
        }
        // Outputs i .. i + 7 read columns i .. i + taps + 6, pairs i .. i +
        // taps + 5 (taps > 1).
        if (taps > 1 && changesBefore[(i + taps + 5) / 8 + 1] == changesBefore[i / 8]) {
            const uint32_t value = static_cast<uint32_t>(column[i]) * tapTotal;
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i),
                                _mm256_set1_epi32(static_cast<int32_t>(value)));
            continue;
        }
        // Sixteen outputs at once where the next eight are worked out too.
        if (i + 16 <= count &&
            !(taps > 1 && changesBefore[(i + taps + 13) / 8 + 1] == changesBefore[i / 8 + 1])) {
            uint64_t eight = 0;
            if (skip) std::memcpy(&eight, skip + i + 8, sizeof eight);
            if (eight != ~uint64_t(0)) {
                __m256i low = _mm256_setzero_si256(), high = _mm256_setzero_si256();
                int32_t k = 0;
                for (; k + 1 < taps; k += 2) {
                    const __m256i tapPair = _mm256_set1_epi32(tapPairs[k / 2]);
                    const __m256i *two = reinterpret_cast<const __m256i *>(pairs + i + k);
                    low =
                        _mm256_add_epi32(low, _mm256_madd_epi16(_mm256_loadu_si256(two), tapPair));
                    high = _mm256_add_epi32(
                        high, _mm256_madd_epi16(_mm256_loadu_si256(two + 1), tapPair));
                }
                if (k < taps) {
                    const __m256i tap = _mm256_set1_epi32(kernel[k]);
                    const __m256i *last = reinterpret_cast<const __m256i *>(column + i + k);
                    low = _mm256_add_epi32(low, _mm256_mullo_epi32(_mm256_loadu_si256(last), tap));
                    high = _mm256_add_epi32(high,
                                            _mm256_mullo_epi32(_mm256_loadu_si256(last + 1), tap));
                }
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), low);
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i + 8), high);
                i += 8;
                continue;
            }
        }
        __m256i total = _mm256_setzero_si256();
        int32_t k = 0;
        for (; k + 1 < taps; k += 2) {
            // Low half: column i + k; high half: column i + k + 1.
            const __m256i two =
                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pairs + i + k));
            total =
                _mm256_add_epi32(total, _mm256_madd_epi16(two, _mm256_set1_epi32(tapPairs[k / 2])));
        }
        if (k < taps) {
            const __m256i last =
                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(column + i + k));
            total = _mm256_add_epi32(total, _mm256_mullo_epi32(last, _mm256_set1_epi32(kernel[k])));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), total);
    }
    for (; i < count; ++i) {
        int32_t sum = 0;
        for (int32_t k = 0; k < taps; ++k) sum += kernel[k] * column[i + k];
        out[i] = sum;
    }
}

// The AVX-512 variant works the same way on sixteen outputs per vector: the
// pairs are made sixteen at a time, the blocks of equal columns are blocks
// of sixteen pairs, and the last outputs of the row (fewer than sixteen)
// are taken with masked loads and stores instead of one by one.
// Where the AVX-512 row pass puts sixteen sums (those of `lanes`): as they
// are, or as the shadow map's bytes, the low byte of sum / 65536 (divided
// toward zero, as the integer division does).
struct SumsOut {
    int32_t *out;
    __attribute__((target("avx512f,avx512bw,avx512vl"))) void store(int32_t at, __mmask16 lanes,
                                                                    __m512i sums) const {
        _mm512_mask_storeu_epi32(out + at, lanes, sums);
    }
};
struct ShadowBytesOut {
    uint8_t *out;
    __attribute__((target("avx512f,avx512bw,avx512vl"))) void store(int32_t at, __mmask16 lanes,
                                                                    __m512i sums) const {
        // 65535 added to negative sums before the arithmetic shift.
        const __m512i toward =
            _mm512_maskz_srli_epi32(0xFFFF, _mm512_maskz_srai_epi32(0xFFFF, sums, 31), 16);
        const __m512i quotient =
            _mm512_maskz_srai_epi32(0xFFFF, _mm512_add_epi32(sums, toward), 16);
        _mm512_mask_cvtepi32_storeu_epi8(out + at, lanes, quotient);
    }
};

// Outputs at .. at + 15 of the AVX-512 row pass (those of `lanes`), summed
// over every tap.
template <typename Out>
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline void
convolveSixteenAvx512(const int32_t *kernel, int32_t taps, const int32_t *tapPairs,
                      const int32_t *pairs, const int32_t *column, int32_t at, __mmask16 lanes,
                      const Out &out) {
    __m512i total = _mm512_setzero_si512();
    int32_t k = 0;
    for (; k + 1 < taps; k += 2) {
        // Low half: column at + k; high half: column at + k + 1.
        const __m512i two = _mm512_maskz_loadu_epi32(lanes, pairs + at + k);
        total = _mm512_add_epi32(total, _mm512_madd_epi16(two, _mm512_set1_epi32(tapPairs[k / 2])));
    }
    if (k < taps) {
        const __m512i last = _mm512_maskz_loadu_epi32(lanes, column + at + k);
        total = _mm512_add_epi32(total, _mm512_mullo_epi32(last, _mm512_set1_epi32(kernel[k])));
    }
    out.store(at, lanes, total);
}

template <typename Out>
__attribute__((target("avx512f,avx512bw,avx512vl"))) void
convolveAvx512Into(const int32_t *kernel, int32_t taps, const int32_t *column, int32_t count,
                   const Out &out, std::vector<int32_t> &scratch, const uint8_t *skip) {
    // pairs[c] as in the AVX2 variant; changesBefore[b]: how many of the
    // blocks of sixteen pairs before block b have a pair of unequal columns.
    const int32_t pairCount = count + taps - 2;
    const int32_t blocks = pairCount > 0 ? (pairCount + 15) / 16 : 0;
    const size_t room = size_t(blocks) * 17 + 1 + size_t(taps / 2);
    if (scratch.size() < room) scratch.resize(room);
    int32_t *pairs = scratch.data();
    int32_t *changesBefore = pairs + size_t(blocks) * 16;
    int32_t *tapPairs = changesBefore + blocks + 1;
    for (int32_t k = 0; k + 1 < taps; k += 2)
        tapPairs[k / 2] = static_cast<int32_t>(static_cast<uint16_t>(kernel[k]) |
                                               static_cast<uint32_t>(kernel[k + 1]) << 16);
    int32_t c = 0, changes = 0;
    for (; c + 16 <= pairCount; c += 16) {
        const __m512i first = _mm512_loadu_si512(column + c);
        const __m512i second = _mm512_loadu_si512(column + c + 1);
        _mm512_storeu_si512(pairs + c,
                            _mm512_mask_blend_epi16(0xAAAAAAAA, first,
                                                    _mm512_maskz_slli_epi32(0xFFFF, second, 16)));
        changesBefore[c / 16] = changes;
        changes += _mm512_cmpeq_epi32_mask(first, second) != 0xFFFF;
    }
    if (c < pairCount) changesBefore[c / 16] = changes, changes += 1; // taken as changing
    changesBefore[blocks] = changes;
    for (; c < pairCount; ++c)
        pairs[c] = static_cast<int32_t>(static_cast<uint16_t>(column[c]) |
                                        static_cast<uint32_t>(column[c + 1]) << 16);
    uint32_t tapTotal = 0;
    for (int32_t k = 0; k < taps; ++k) tapTotal += static_cast<uint32_t>(kernel[k]);
    const auto allSkipped = [&](int32_t at) {
        if (!skip) return false;
        uint64_t low, high;
        std::memcpy(&low, skip + at, sizeof low), std::memcpy(&high, skip + at + 8, sizeof high);
        return (low & high) == ~uint64_t(0);
    };

    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        if (allSkipped(i)) continue;
        // Outputs i .. i + 15 read columns i .. i + taps + 14, pairs i .. i +
        // taps + 13 (taps > 1).
        if (taps > 1 && changesBefore[(i + taps + 13) / 16 + 1] == changesBefore[i / 16]) {
            const uint32_t value = static_cast<uint32_t>(column[i]) * tapTotal;
            out.store(i, 0xFFFF, _mm512_set1_epi32(static_cast<int32_t>(value)));
            continue;
        }
        // Thirty-two outputs at once where the next sixteen are worked out
        // too.
        if (i + 32 <= count &&
            !(taps > 1 && changesBefore[(i + taps + 29) / 16 + 1] == changesBefore[i / 16 + 1]) &&
            !allSkipped(i + 16)) {
            __m512i low = _mm512_setzero_si512(), high = _mm512_setzero_si512();
            int32_t k = 0;
            for (; k + 1 < taps; k += 2) {
                const __m512i tapPair = _mm512_set1_epi32(tapPairs[k / 2]);
                low = _mm512_add_epi32(
                    low, _mm512_madd_epi16(_mm512_loadu_si512(pairs + i + k), tapPair));
                high = _mm512_add_epi32(
                    high, _mm512_madd_epi16(_mm512_loadu_si512(pairs + i + k + 16), tapPair));
            }
            if (k < taps) {
                const __m512i tap = _mm512_set1_epi32(kernel[k]);
                low = _mm512_add_epi32(low,
                                       _mm512_mullo_epi32(_mm512_loadu_si512(column + i + k), tap));
                high = _mm512_add_epi32(
                    high, _mm512_mullo_epi32(_mm512_loadu_si512(column + i + k + 16), tap));
            }
            out.store(i, 0xFFFF, low);
            out.store(i + 16, 0xFFFF, high);
            i += 16;
            continue;
        }
        convolveSixteenAvx512(kernel, taps, tapPairs, pairs, column, i, 0xFFFF, out);
    }
    if (i < count)
        convolveSixteenAvx512(kernel, taps, tapPairs, pairs, column, i,
                              static_cast<__mmask16>((1u << (count - i)) - 1), out);
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) void
convolveAvx512(const int32_t *kernel, int32_t taps, const int32_t *column, int32_t count,
               int32_t *out, std::vector<int32_t> &scratch, const uint8_t *skip) {
    convolveAvx512Into(kernel, taps, column, count, SumsOut{out}, scratch, skip);
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) void
convolveToShadowAvx512(const int32_t *kernel, int32_t taps, const int32_t *column, int32_t count,
                       int32_t *, uint8_t *out, std::vector<int32_t> &scratch) {
    convolveAvx512Into(kernel, taps, column, count, ShadowBytesOut{out}, scratch, nullptr);
}
#endif

void convolveBaseline(const int32_t *kernel, int32_t taps, const int32_t *column, int32_t count,
                      int32_t *out, std::vector<int32_t> &, const uint8_t *) {
    for (int32_t i = 0; i < count; ++i) out[i] = 0;
    for (int32_t k = 0; k < taps; ++k) {
        const int32_t tap = kernel[k];
        const int32_t *source = column + k;
        for (int32_t i = 0; i < count; ++i) out[i] += tap * source[i];
    }
}

// The shadow map's bytes from the variants without a row pass of their own
// for them: the sums, then their bytes.
void convolveToShadowApart(const int32_t *kernel, int32_t taps, const int32_t *column,
                           int32_t count, int32_t *sums, uint8_t *out,
                           std::vector<int32_t> &scratch) {
    passes().convolve(kernel, taps, column, count, sums, scratch, nullptr);
    shadowKernels::storeShadowRow(sums, count, out);
}

Passes passesFor(CpuVariant wanted) {
    const CpuVariant best = detectedCpuVariant();
    const CpuVariant v = wanted < best ? wanted : best;
#ifdef LUSTRA_ROW_PASS_INTRINSICS
    if (v == CpuVariant::kAvx512)
        return {v, sumColumnsAvx512, convolveAvx512, convolveToShadowAvx512};
    if (v == CpuVariant::kAvx2) return {v, sumColumnsAvx2, convolveAvx2, convolveToShadowApart};
#else
    (void)v;
#endif
    return {CpuVariant::kBaseline, sumColumnsBaseline, convolveBaseline, convolveToShadowApart};
}

Passes chosen = passesFor(CpuVariant::kAvx512);

Passes &passes() {
    return chosen;
}

} // namespace

namespace rowPasses {

CpuVariant variant() {
    return chosen.variant;
}

CpuVariant selectVariant(CpuVariant wanted) {
    chosen = passesFor(wanted);
    return chosen.variant;
}

} // namespace rowPasses

void convolveRow(const int32_t *kernel, int32_t taps, const int32_t *column, int32_t count,
                 int32_t *out, std::vector<int32_t> &scratch, const uint8_t *skip) {
    passes().convolve(kernel, taps, column, count, out, scratch, skip);
}

void convolveRow(const int32_t *kernel, int32_t taps, const int32_t *column, int32_t count,
                 int32_t *out) {
    std::vector<int32_t> scratch;
    passes().convolve(kernel, taps, column, count, out, scratch, nullptr);
}

void convolveRowToShadow(const int32_t *kernel, int32_t taps, const int32_t *column, int32_t count,
                         int32_t *sums, uint8_t *out, std::vector<int32_t> &scratch) {
    passes().convolveToShadow(kernel, taps, column, count, sums, out, scratch);
}

} // namespace lustra
