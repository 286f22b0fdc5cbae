// The blur loops shared by the glow and shadow stages against plain loops:
// random masks around the fully opaque value, row segments of every length
// up to a few vectors (so that both the vector part and the tail run), up to
// 61 rows with weights that add up to as much as 32,767, and row passes with
// odd and even tap counts over the whole 16-bit range of taps and values.

#include <gtest/gtest.h>

#include "engine/RowPasses.h"
#include "engine/kernels/CpuVariant.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using namespace lustra;

TEST(RowPasses, OpaqueColumnSumsMatchPlainLoops) {
    std::mt19937 random(11);
    const uint8_t levels[] = {0, 1, 128, 254, 255};
    for (int trial = 0; trial < 400; ++trial) {
        const int count = int(random() % 70);
        const int taps = 1 + int(random() % 61);
        const ptrdiff_t stride = count + int(random() % 5);
        std::vector<uint8_t> mask(size_t(stride) * taps + 1);
        const int opaqueShare = int(random() % 101);
        for (uint8_t &m : mask) m = int(random() % 100) < opaqueShare ? 255 : levels[random() % 5];
        // Weights up to their largest total, or small ones like a kernel's.
        std::vector<int32_t> weights(taps);
        int32_t room = 32767;
        for (int32_t &w : weights) {
            w = trial % 2 ? int32_t(random() % 2726) : int32_t(random() % (room / taps + 1));
            if (w > room) w = room;
            room -= w;
        }
        std::vector<int32_t> column(count + 1, -7), expected(count + 1, -7);
        for (int i = 0; i < count; ++i) {
            expected[i] = 0;
            for (int k = 0; k < taps; ++k)
                if (mask[k * stride + i] == 255) expected[i] += weights[k];
        }
        sumOpaqueColumns(mask.data(), stride, weights.data(), taps, count, column.data());
        ASSERT_EQ(column, expected) << "count " << count << ", taps " << taps;
    }
}

TEST(RowPasses, RowConvolutionMatchesPlainLoops) {
    std::mt19937 random(12);
    for (int trial = 0; trial < 400; ++trial) {
        const int count = int(random() % 70);
        const int taps = 1 + int(random() % 61);
        // Small values as the blurs have them, or any 16-bit ones with few
        // taps (so that the sums stay within 32 bits).
        const bool wide = trial % 3 == 0 && taps <= 2;
        auto value = [&] {
            return wide ? int32_t(random() % 65535) - 32767 : int32_t(random() % 5314);
        };
        std::vector<int32_t> kernel(taps), column(count + taps);
        for (int32_t &k : kernel) k = wide ? value() : int32_t(random() % 2726);
        for (int32_t &c : column) c = value();
        std::vector<int32_t> out(count + 1, -7), expected(count + 1, -7);
        for (int i = 0; i < count; ++i) {
            int64_t sum = 0;
            for (int k = 0; k < taps; ++k) sum += int64_t(kernel[k]) * column[i + k];
            expected[i] = int32_t(sum);
        }
        convolveRow(kernel.data(), taps, column.data(), count, out.data());
        ASSERT_EQ(out, expected) << "count " << count << ", taps " << taps;
    }
}

// Rows made of runs of equal values, as column sums are away from a shape
// and inside it: stretches of outputs that read a single value come out the
// same as the full sums, next to stretches that do not, with up to 61 taps.
TEST(RowPasses, RowConvolutionOverRunsOfEqualColumns) {
    std::mt19937 random(13);
    for (int trial = 0; trial < 600; ++trial) {
        const int count = int(random() % 200);
        const int taps = 1 + int(random() % 61);
        std::vector<int32_t> kernel(taps), column(count + taps);
        for (int32_t &k : kernel) k = int32_t(random() % 2726);
        const int32_t values[] = {0, 4087, 5314, 1, int32_t(random() % 5315)};
        for (size_t c = 0; c < column.size();) {
            const size_t run = 1 + random() % (trial % 2 ? 90 : 12);
            const int32_t v = values[random() % 5];
            for (size_t e = std::min(column.size(), c + run); c < e; ++c) column[c] = v;
        }
        std::vector<int32_t> out(count + 1, -7), expected(count + 1, -7);
        for (int i = 0; i < count; ++i) {
            int64_t sum = 0;
            for (int k = 0; k < taps; ++k) sum += int64_t(kernel[k]) * column[i + k];
            expected[i] = int32_t(sum);
        }
        convolveRow(kernel.data(), taps, column.data(), count, out.data());
        ASSERT_EQ(out, expected) << "count " << count << ", taps " << taps;

        // With skip bytes (runs of 255, some broken by one other value): the
        // outputs outside the runs of eight skip bytes of 255 are the same.
        std::vector<uint8_t> skip(count + 1, 0);
        for (size_t i = 0; i < skip.size();) {
            const size_t run = 1 + random() % 40;
            const uint8_t v = random() % 2 ? 255 : uint8_t(random() % 255);
            for (size_t e = std::min(skip.size(), i + run); i < e; ++i) skip[i] = v;
        }
        if (count > 0 && random() % 2) skip[random() % count] = 254;
        std::vector<int32_t> scratch, skipped(count + 1, -7);
        convolveRow(kernel.data(), taps, column.data(), count, skipped.data(), scratch,
                    skip.data());
        for (int i = 0; i < count; ++i) {
            const int run = i / 8 * 8;
            const bool allOpaque =
                run + 8 <= count &&
                std::all_of(&skip[run], &skip[run + 8], [](uint8_t b) { return b == 255; });
            if (allOpaque) continue;
            ASSERT_EQ(skipped[i], expected[i]) << i << " of " << count;
        }
    }
}

// Masks whose rows repeat (so that many runs of 32 columns have the same
// fully opaque pixels throughout): the run changes counted row by row as a
// window moves down, and the column sums taken with them, against plain
// loops.
TEST(RowPasses, OpaqueColumnSumsWithOpacityChanges) {
    std::mt19937 random(14);
    const uint8_t levels[] = {0, 1, 254, 255, 255};
    for (int trial = 0; trial < 300; ++trial) {
        const int count = int(random() % 150);
        const int taps = 1 + int(random() % 61);
        const int rows = taps + int(random() % 20);
        const ptrdiff_t stride = count + int(random() % 5);
        std::vector<uint8_t> mask(size_t(stride) * rows + 1, 0);
        for (int y = 0; y < rows; ++y) {
            // A new row most of the time only in a few places.
            uint8_t *row = &mask[size_t(y) * stride];
            if (y > 0) std::copy(row - stride, row, row);
            const int edits = y == 0 || random() % 3 == 0 ? int(random() % (count + 1)) : 0;
            for (int e = 0; e < edits; ++e)
                row[random() % (count ? count : 1)] = levels[random() % 5];
        }
        std::vector<int32_t> weights(taps);
        for (int32_t &w : weights) w = int32_t(random() % (32767 / taps + 1));
        std::vector<int32_t> changes((count + 31) / 32 + 1, 0);
        for (int r = 1; r < taps; ++r)
            countOpacityChanges(&mask[size_t(r) * stride], stride, count, 1, changes.data());
        for (int top = 0; top + taps <= rows; ++top) {
            if (top > 0) {
                countOpacityChanges(&mask[size_t(top) * stride], stride, count, -1, changes.data());
                countOpacityChanges(&mask[size_t(top + taps - 1) * stride], stride, count, 1,
                                    changes.data());
            }
            std::vector<int32_t> column(count + 1, -7), expected(count + 1, -7);
            for (int i = 0; i < count; ++i) {
                expected[i] = 0;
                for (int k = 0; k < taps; ++k)
                    if (mask[(top + k) * stride + i] == 255) expected[i] += weights[k];
            }
            sumOpaqueColumns(&mask[size_t(top) * stride], stride, weights.data(), taps, count,
                             column.data(), changes.data());
            ASSERT_EQ(column, expected)
                << "count " << count << ", taps " << taps << ", top " << top;
        }
    }
}

// Each variant of the row pass that this processor runs, forced in turn:
// every row length from 0 to 140 (so that every tail after the vectors of
// eight and sixteen outputs, and the stretches of two vectors at once,
// occur) with odd and even tap counts, over rows of equal runs and of
// random values, with and without skip bytes.
TEST(RowPasses, EveryVariantOfTheRowConvolutionOverEveryTail) {
    std::mt19937 random(15);
    for (int v = 0; v <= int(detectedCpuVariant()); ++v) {
        ASSERT_EQ(rowPasses::selectVariant(CpuVariant(v)), CpuVariant(v));
        std::vector<int32_t> scratch;
        for (int count = 0; count <= 140; ++count)
            for (int taps : {1, 2, 3, 4, 9, 16, 17, 31, 32, 61}) {
                std::vector<int32_t> kernel(taps), column(count + taps);
                for (int32_t &k : kernel) k = int32_t(random() % 2726);
                const int32_t values[] = {0, 5314, int32_t(random() % 5315)};
                const bool runs = random() % 2 == 0;
                for (size_t c = 0; c < column.size();) {
                    const size_t run = runs ? 1 + random() % 50 : 1;
                    const int32_t value = runs ? values[random() % 3] : int32_t(random() % 5315);
                    for (size_t e = std::min(column.size(), c + run); c < e; ++c) column[c] = value;
                }
                std::vector<int32_t> expected(count + 1, -7);
                for (int i = 0; i < count; ++i) {
                    int64_t sum = 0;
                    for (int k = 0; k < taps; ++k) sum += int64_t(kernel[k]) * column[i + k];
                    expected[i] = int32_t(sum);
                }
                std::vector<int32_t> out(count + 1, -7);
                convolveRow(kernel.data(), taps, column.data(), count, out.data(), scratch);
                ASSERT_EQ(out, expected)
                    << cpuVariantName(CpuVariant(v)) << ", count " << count << ", taps " << taps;

                // Skipped runs of eight keep what they held; nothing past
                // the row is written.
                std::vector<uint8_t> skip(size_t(count / 8 + 2) * 8, 0);
                for (size_t i = 0; i < skip.size(); i += 8)
                    std::fill_n(&skip[i], 8, uint8_t(random() % 3 == 0 ? 0 : 255));
                std::vector<int32_t> skipped(count + 1, -7);
                convolveRow(kernel.data(), taps, column.data(), count, skipped.data(), scratch,
                            skip.data());
                ASSERT_EQ(skipped[count], -7) << cpuVariantName(CpuVariant(v));
                for (int i = 0; i < count; ++i) {
                    const int run = i / 8 * 8;
                    if (run + 8 <= count && skip[run] == 255) continue;
                    ASSERT_EQ(skipped[i], expected[i])
                        << cpuVariantName(CpuVariant(v)) << ", " << i << " of " << count;
                }
            }
    }
    rowPasses::selectVariant(detectedCpuVariant());
}

// The shadow map's row pass, each variant forced in turn: the low byte of
// every sum / 65536 (toward zero) on rows of every length to 140, over
// blur-like values (sums within 32 bits) that pass 2^24 (so that the byte
// wraps) and, with
// one or two taps, any 16-bit values (negative sums); bytes past the row
// stay as they were.
TEST(RowPasses, EveryVariantOfTheShadowRowPass) {
    std::mt19937 random(16);
    for (int v = 0; v <= int(detectedCpuVariant()); ++v) {
        ASSERT_EQ(rowPasses::selectVariant(CpuVariant(v)), CpuVariant(v));
        std::vector<int32_t> scratch;
        for (int count = 0; count <= 140; ++count)
            for (int taps : {1, 2, 3, 8, 17, 61}) {
                const bool wide = taps <= 2 && random() % 2 == 0;
                auto value = [&] {
                    return wide ? int32_t(random() % 65535) - 32767 : int32_t(random() % 5315);
                };
                std::vector<int32_t> kernel(taps), column(count + taps);
                for (int32_t &k : kernel) k = wide ? value() : int32_t(random() % 2726);
                const bool runs = random() % 2 == 0;
                for (size_t c = 0; c < column.size();) {
                    const size_t run = runs ? 1 + random() % 40 : 1;
                    const int32_t same = value();
                    for (size_t e = std::min(column.size(), c + run); c < e; ++c) column[c] = same;
                }
                std::vector<uint8_t> expected(count + 1, 0xA5), out(count + 1, 0xA5);
                for (int i = 0; i < count; ++i) {
                    int64_t sum = 0;
                    for (int k = 0; k < taps; ++k) sum += int64_t(kernel[k]) * column[i + k];
                    expected[i] = uint8_t(int32_t(sum) / 65536);
                }
                std::vector<int32_t> sums(count + 1);
                convolveRowToShadow(kernel.data(), taps, column.data(), count, sums.data(),
                                    out.data(), scratch);
                ASSERT_EQ(out, expected)
                    << cpuVariantName(CpuVariant(v)) << ", count " << count << ", taps " << taps;
            }
    }
    rowPasses::selectVariant(detectedCpuVariant());
}

} // namespace
