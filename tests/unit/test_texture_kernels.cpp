// The surface textures' hand-written row kernels in every variant this
// processor runs, against plain loops over their definitions, on row
// lengths around the vector widths.

#include <gtest/gtest.h>

#include "engine/kernels/CpuVariant.h"
#include "engine/TextureGradients.h"
#include "engine/kernels/SurfaceTextureKernels.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace lustra;

namespace {

const int kLengths[] = {1, 2, 3, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 200};

// The variants of the texture kernels this processor runs, each forced in
// turn; the load-time choice is restored afterwards.
class TextureKernels : public ::testing::Test {
  protected:
    void TearDown() override { textureKernels::selectVariant(detectedCpuVariant()); }
    std::vector<CpuVariant> variants() {
        std::vector<CpuVariant> forms;
        for (int v = 0; v <= int(detectedCpuVariant()); ++v) {
            const CpuVariant got = textureKernels::selectVariant(CpuVariant(v));
            EXPECT_LE(int(got), v);
            if (forms.empty() || forms.back() != got) forms.push_back(got);
        }
        return forms;
    }
    // A texel word as the filters sum it, or 0 for a texel outside the window.
    uint32_t randomWord() {
        if (rng() % 4 == 0) return 0;
        return (rng() & 0xFFu) | (rng() & 0xFFu) << 12 | 1u << 24;
    }
    std::mt19937 rng{20261209};
};

TEST_F(TextureKernels, RunningTexelSumsWrapAroundTheRowInEveryVariant) {
    for (CpuVariant v : variants()) {
        textureKernels::selectVariant(v);
        for (int width : kLengths)
            for (int count = 0; count <= 4; ++count) {
                std::vector<uint8_t> heights(size_t(width) * 4);
                std::vector<int8_t> gx(heights.size()), gy(heights.size());
                for (size_t i = 0; i < heights.size(); ++i)
                    heights[i] = uint8_t(rng()), gx[i] = int8_t(rng()), gy[i] = int8_t(rng());
                textureKernels::TexelRows rows{};
                for (int m = 0; m < 4; ++m) {
                    rows.heights[m] = heights.data() + size_t(m) * width;
                    rows.gradientX[m] = gx.data() + size_t(m) * width;
                    rows.gradientY[m] = gy.data() + size_t(m) * width;
                }
                // A height window that is all, none or part of the heights.
                const int lo = count == 1 ? 0 : int(rng() % 200), hi = count == 2 ? 0 : lo + 55;
                // Columns from the first one on: one column, a row's worth
                // and more, up to three times around a narrow row.
                for (int total : {0, 1, width - 1, width, width + 4, 3 * width + 5}) {
                    if (total < 0) continue;
                    const int first = int(rng() % uint32_t(width));
                    std::vector<uint32_t> got(size_t(total) + 2, 0xDEADBEEFu);
                    textureKernels::runningTexelSums(rows, count, width, first, total, lo, hi,
                                                     got.data());
                    uint32_t running = 0;
                    const std::string what =
                        std::string(cpuVariantName(v)) + " width " + std::to_string(width) +
                        " rows " + std::to_string(count) + " total " + std::to_string(total);
                    ASSERT_EQ(got[0], 0u) << what;
                    for (int j = 0; j < total; ++j) {
                        const size_t c = size_t((first + j) % width);
                        for (int m = 0; m < count; ++m) {
                            const int h = rows.heights[m][c];
                            if (h >= lo && h <= hi)
                                running += uint32_t(rows.gradientX[m][c] + 128) |
                                           uint32_t(rows.gradientY[m][c] + 128) << 12 | 1u << 24;
                        }
                        ASSERT_EQ(got[size_t(j) + 1], running) << what << " entry " << j + 1;
                    }
                    ASSERT_EQ(got[size_t(total) + 1], 0xDEADBEEFu) << what << ": wrote past";
                }
            }
    }
}

// The running sums along any list of columns (the way for span columns that
// are not consecutive) add the words of each listed column down the rows.
TEST_F(TextureKernels, RunningColumnSumsFollowTheColumnList) {
    for (int count = 0; count <= 4; ++count) {
        std::vector<uint32_t> plane(4 * 37);
        for (uint32_t &w : plane) w = randomWord();
        const uint32_t *rows[4] = {&plane[0], &plane[37], &plane[74], &plane[111]};
        std::vector<int32_t> column(50);
        for (int32_t &c : column) c = int32_t(rng() % 37);
        std::vector<uint32_t> got(column.size() + 1);
        textureKernels::runningColumnSums(rows, count, column.data(), int32_t(column.size()),
                                          got.data());
        uint32_t running = 0;
        ASSERT_EQ(got[0], 0u);
        for (size_t j = 0; j < column.size(); ++j) {
            for (int m = 0; m < count; ++m) running += rows[m][column[j]];
            ASSERT_EQ(got[j + 1], running) << "rows " << count << " entry " << j + 1;
        }
    }
}

TEST_F(TextureKernels, AreaRowsEqualTheTruncatedAverageInEveryVariant) {
    for (CpuVariant v : variants()) {
        textureKernels::selectVariant(v);
        for (int n : kLengths)
            for (int depth : {0, 1, 97, 255})
                for (int layout = 0; layout < 3; ++layout) {
                    // Running sums of up to four words a column, offset so that
                    // they wrap past 2^32, and footprints of 0..4 columns: at
                    // random, laid end to end (up to the last entry), or
                    // starting back at 0 now and then as on a narrow texture.
                    const int columns = layout == 1 ? 4 * n : n + 8;
                    std::vector<uint32_t> sums(size_t(columns) + 1);
                    sums[0] = 0xFFFFF000u - uint32_t(rng() % 4096);
                    for (int j = 0; j < columns; ++j) {
                        uint32_t down = 0;
                        for (int m = int(rng() % 5); m > 0; --m) down += randomWord();
                        sums[size_t(j) + 1] = sums[size_t(j)] + down;
                    }
                    std::vector<int32_t> start(static_cast<size_t>(n)), end(static_cast<size_t>(n));
                    for (int i = 0, next = 0; i < n; ++i) {
                        const int32_t span = int32_t(rng() % 5);
                        if (layout == 0) start[size_t(i)] = int32_t(rng() % uint32_t(columns - 3));
                        if (layout == 1) start[size_t(i)] = std::min(next, columns - span);
                        if (layout == 2) start[size_t(i)] = (i * 3) % (columns - 4);
                        end[size_t(i)] = start[size_t(i)] + span;
                        next = end[size_t(i)];
                    }
                    std::vector<int32_t> gotX(size_t(n) + 1, 12345), gotY(size_t(n) + 1, 12345);
                    textureKernels::areaRow(sums.data(), int32_t(sums.size()), start.data(),
                                            end.data(), depth, n, gotX.data(), gotY.data());
                    for (int i = 0; i < n; ++i) {
                        const uint32_t sum =
                            sums[size_t(end[size_t(i)])] - sums[size_t(start[size_t(i)])];
                        const int32_t texels = int32_t(sum >> 24);
                        const int32_t x = int32_t(sum & 0xFFFu) - 128 * texels;
                        const int32_t y = int32_t((sum >> 12) & 0xFFFu) - 128 * texels;
                        const int32_t wantX = texels == 0 ? 0 : (depth * (x / texels)) >> 8;
                        const int32_t wantY = texels == 0 ? 0 : (depth * (y / texels)) >> 8;
                        const std::string what =
                            std::string(cpuVariantName(v)) + " n " + std::to_string(n) + " depth " +
                            std::to_string(depth) + " layout " + std::to_string(layout) +
                            " pixel " + std::to_string(i);
                        ASSERT_EQ(gotX[size_t(i)], wantX) << what;
                        ASSERT_EQ(gotY[size_t(i)], wantY) << what;
                    }
                    ASSERT_EQ(gotX[size_t(n)], 12345) << "wrote past the row";
                    ASSERT_EQ(gotY[size_t(n)], 12345) << "wrote past the row";
                }
    }
}

TEST_F(TextureKernels, StretchesEqualTheIntegerFormulaInEveryVariant) {
    for (CpuVariant v : variants()) {
        textureKernels::selectVariant(v);
        for (int n : kLengths)
            for (int round = 0; round < 40; ++round) {
                // Planes whose range is at least one step; lengths past a
                // vector check that nothing beyond the plane is written.
                const int lo = int(rng() % 255), hi = lo + 1 + int(rng() % uint32_t(255 - lo));
                std::vector<uint8_t> heights(size_t(n) + 1, 0xA5);
                std::vector<int8_t> slopes(size_t(n) + 1, 0x5A);
                for (int i = 0; i < n; ++i) {
                    heights[size_t(i)] = uint8_t(lo + int(rng() % uint32_t(hi - lo + 1)));
                    slopes[size_t(i)] = int8_t(lo - 128 + int(rng() % uint32_t(hi - lo + 1)));
                }
                heights[0] = uint8_t(lo), heights[size_t(n) - 1] = uint8_t(hi);
                const std::vector<uint8_t> h(heights);
                const std::vector<int8_t> g(slopes);
                textureKernels::stretchHeights(heights.data(), size_t(n), lo, hi);
                textureKernels::stretchGradientPlane(slopes.data(), size_t(n), lo - 128, hi - 128);
                const std::string what = std::string(cpuVariantName(v)) + " n " +
                                         std::to_string(n) + " range " + std::to_string(lo) + ".." +
                                         std::to_string(hi);
                for (int i = 0; i < n; ++i) {
                    ASSERT_EQ(heights[size_t(i)], (h[size_t(i)] - lo) * 255 / (hi - lo))
                        << what << " height " << i;
                    ASSERT_EQ(slopes[size_t(i)],
                              (g[size_t(i)] - (lo - 128)) * 255 / (hi - lo) - 128)
                        << what << " gradient " << i;
                }
                ASSERT_EQ(heights[size_t(n)], 0xA5) << what << ": wrote past";
                ASSERT_EQ(slopes[size_t(n)], 0x5A) << what << ": wrote past";
            }
    }
}

// Texture 1 adds the windowed texel gradients to the relief slopes of the
// covered pixels, clamped; texture 2 sets them on the pixels not fully
// covered; the others keep their bytes. Depths past 256 and closed or
// partial windows included.
TEST_F(TextureKernels, UnitTexelsMatchTheirFormulaInEveryVariant) {
    for (CpuVariant v : variants()) {
        textureKernels::selectVariant(v);
        for (int n : kLengths)
            for (int depth : {0, 1, 100, 255, 256, 300}) {
                const int lo = int(rng() % 3 == 0 ? 0 : rng() % 256);
                const int hi = int(rng() % 3 == 0 ? 255 : rng() % 256);
                const size_t count = static_cast<size_t>(n);
                std::vector<uint8_t> coverage(count), heights(count);
                std::vector<int8_t> slopeX(count), slopeY(count), gx(count), gy(count);
                for (int i = 0; i < n; ++i) {
                    const int kind = int(rng() % 3);
                    coverage[size_t(i)] = kind == 0 ? 0 : kind == 1 ? 255 : uint8_t(rng());
                    heights[size_t(i)] = uint8_t(rng());
                    slopeX[size_t(i)] = int8_t(rng()), slopeY[size_t(i)] = int8_t(rng());
                    gx[size_t(i)] = int8_t(rng()), gy[size_t(i)] = int8_t(rng());
                }
                for (bool object : {true, false}) {
                    std::vector<int8_t> outX(count + 1), outY(count + 1);
                    for (int i = 0; i <= n; ++i)
                        outX[size_t(i)] = int8_t(rng()), outY[size_t(i)] = int8_t(rng());
                    const std::vector<int8_t> oldX(outX), oldY(outY);
                    const textureKernels::UnitTexels texels =
                        textureKernels::unitTexelsOf(lo, hi, depth);
                    if (object)
                        textureKernels::addUnitTexelsToRelief(
                            coverage.data(), slopeX.data(), slopeY.data(), heights.data(),
                            gx.data(), gy.data(), texels, n, outX.data(), outY.data());
                    else
                        textureKernels::setUnitTexels(coverage.data(), heights.data(), gx.data(),
                                                      gy.data(), texels, n, outX.data(),
                                                      outY.data());
                    for (int i = 0; i < n; ++i) {
                        const size_t k = size_t(i);
                        const bool inside = heights[k] >= lo && heights[k] <= hi;
                        const int x = inside ? (depth * gx[k]) >> 8 : 0;
                        const int y = inside ? (depth * gy[k]) >> 8 : 0;
                        const bool visit = object ? coverage[k] != 0 : coverage[k] != 255;
                        int8_t wantX = oldX[k], wantY = oldY[k];
                        if (visit && object) {
                            wantX = int8_t(std::min(127, std::max(-128, slopeX[k] + x)));
                            wantY = int8_t(std::min(127, std::max(-128, slopeY[k] + y)));
                        } else if (visit) {
                            wantX = int8_t(x), wantY = int8_t(y);
                        }
                        const std::string what =
                            std::string(cpuVariantName(v)) +
                            (object ? " texture 1" : " texture 2") + " n " + std::to_string(n) +
                            " depth " + std::to_string(depth) + " pixel " + std::to_string(i);
                        ASSERT_EQ(outX[k], wantX) << what;
                        ASSERT_EQ(outY[k], wantY) << what;
                    }
                    ASSERT_EQ(outX[size_t(n)], oldX[size_t(n)]) << "wrote past the row";
                    ASSERT_EQ(outY[size_t(n)], oldY[size_t(n)]) << "wrote past the row";
                }
            }
    }
}

// The row writes clamp the gradients (plus the relief slopes for texture
// 1) to -128..127 on the visited pixels only; anyVisited finds a single
// visited pixel wherever it lies.
TEST_F(TextureKernels, RowWritesClampAndKeepTheUnvisitedPixelsInEveryVariant) {
    for (CpuVariant v : variants()) {
        textureKernels::selectVariant(v);
        for (int n : kLengths) {
            const size_t count = static_cast<size_t>(n);
            std::vector<uint8_t> coverage(count);
            std::vector<int8_t> slopeX(count), slopeY(count);
            std::vector<int32_t> gx(count), gy(count);
            for (size_t i = 0; i < count; ++i) {
                const int kind = int(rng() % 3);
                coverage[i] = kind == 0 ? 0 : kind == 1 ? 255 : uint8_t(rng());
                slopeX[i] = int8_t(rng()), slopeY[i] = int8_t(rng());
                gx[i] = int32_t(rng() % 701) - 350, gy[i] = int32_t(rng() % 701) - 350;
            }
            for (bool object : {true, false}) {
                std::vector<int8_t> outX(count + 1), outY(count + 1);
                for (size_t i = 0; i <= count; ++i)
                    outX[i] = int8_t(rng()), outY[i] = int8_t(rng());
                const std::vector<int8_t> oldX(outX), oldY(outY);
                if (object)
                    textureKernels::writeObjectRow(coverage.data(), slopeX.data(), slopeY.data(),
                                                   gx.data(), gy.data(), n, outX.data(),
                                                   outY.data());
                else
                    textureKernels::writeBackgroundRow(coverage.data(), gx.data(), gy.data(), n,
                                                       outX.data(), outY.data());
                for (size_t i = 0; i < count; ++i) {
                    const bool visit = object ? coverage[i] != 0 : coverage[i] != 255;
                    const int x = (object ? slopeX[i] : 0) + gx[i];
                    const int y = (object ? slopeY[i] : 0) + gy[i];
                    const int8_t wantX = visit ? int8_t(std::min(127, std::max(-128, x))) : oldX[i];
                    const int8_t wantY = visit ? int8_t(std::min(127, std::max(-128, y))) : oldY[i];
                    const std::string what = std::string(cpuVariantName(v)) +
                                             (object ? " texture 1" : " texture 2") + " n " +
                                             std::to_string(n) + " pixel " + std::to_string(i);
                    ASSERT_EQ(outX[i], wantX) << what;
                    ASSERT_EQ(outY[i], wantY) << what;
                }
                ASSERT_EQ(outX[count], oldX[count]) << "wrote past the row";
                ASSERT_EQ(outY[count], oldY[count]) << "wrote past the row";

                // One visited pixel anywhere, or none (the byte after the
                // row would be visited, and must not be read as one).
                std::vector<uint8_t> row(count + 1, object ? 0 : 255);
                row[count] = object ? 1 : 0;
                ASSERT_FALSE(textureKernels::anyVisited(object, row.data(), n))
                    << cpuVariantName(v) << " n " << n;
                for (size_t i = 0; i < count; ++i) {
                    row[i] = object ? uint8_t(1 + rng() % 255) : uint8_t(rng() % 255);
                    ASSERT_TRUE(textureKernels::anyVisited(object, row.data(), n))
                        << cpuVariantName(v) << " n " << n << " pixel " << i;
                    row[i] = object ? 0 : 255;
                }
            }
        }
    }
}

// The bilinear, column-span and row-span rows on columns that step through
// a row of `width` words and wrap (as on a tiled texture), or at random.
TEST_F(TextureKernels, FilteredRowsMatchTheirFormulasInEveryVariant) {
    auto fieldX = [](uint32_t w) { return int32_t(w & 0xFFFu) - 128 * int32_t(w >> 24); };
    auto fieldY = [](uint32_t w) { return int32_t((w >> 12) & 0xFFFu) - 128 * int32_t(w >> 24); };
    for (CpuVariant v : variants()) {
        textureKernels::selectVariant(v);
        for (int n : kLengths)
            for (int width : {1, 2, 17, 64, 300})
                for (int layout = 0; layout < 2; ++layout) {
                    const size_t count = static_cast<size_t>(n);
                    // Single texel words, and column sums of up to 4 rows.
                    std::vector<uint32_t> words(static_cast<size_t>(width)), columns(words.size());
                    for (int c = 0; c < width; ++c) {
                        words[size_t(c)] = randomWord();
                        uint32_t sum = 0;
                        for (int m = int(rng() % 5); m > 0; --m) sum += randomWord();
                        columns[size_t(c)] = sum;
                    }
                    std::vector<int32_t> u(count), uNext(count), fu(count);
                    for (size_t i = 0; i < count; ++i) {
                        u[i] = int32_t(layout == 0 ? (i * 7 / 8) % size_t(width)
                                                   : rng() % uint32_t(width));
                        uNext[i] = u[i] + 1 == width ? 0 : u[i] + 1;
                        fu[i] = int32_t(rng() % 256);
                    }
                    const int32_t rowSpan = 1 + int32_t(rng() % 4), depth = int32_t(rng() % 256);
                    std::vector<int32_t> ax(count), ay(count), rx(count), ry(count);
                    textureKernels::blendAcross(words.data(), width, u.data(), uNext.data(),
                                                fu.data(), n, ax.data(), ay.data());
                    textureKernels::rowSpanRow(columns.data(), width, u.data(), uNext.data(),
                                               fu.data(), kReciprocal[rowSpan], depth, n, rx.data(),
                                               ry.data());
                    for (size_t i = 0; i < count; ++i) {
                        const uint32_t a = words[size_t(u[i])], b = words[size_t(uNext[i])];
                        const int32_t w = fu[i];
                        const std::string what =
                            std::string(cpuVariantName(v)) + " n " + std::to_string(n) + " width " +
                            std::to_string(width) + " pixel " + std::to_string(i);
                        ASSERT_EQ(ax[i], (fieldX(a) * (255 - w) + fieldX(b) * w) >> 8) << what;
                        ASSERT_EQ(ay[i], (fieldY(a) * (255 - w) + fieldY(b) * w) >> 8) << what;
                        const uint32_t s0 = columns[size_t(u[i])], s1 = columns[size_t(uNext[i])];
                        const int32_t a0x = fieldX(s0) / rowSpan, a0y = fieldY(s0) / rowSpan;
                        const int32_t a1x = fieldX(s1) / rowSpan, a1y = fieldY(s1) / rowSpan;
                        ASSERT_EQ(rx[i], ((a1x * w + (255 - w) * a0x) * depth) >> 16) << what;
                        ASSERT_EQ(ry[i], ((a1y * w + (255 - w) * a0y) * depth) >> 16) << what;
                    }

                    // Column spans of 0..4 words over running sums of a row.
                    std::vector<uint32_t> sums(4 * count + 5);
                    sums[0] = 0xFFFFFF00u;
                    for (size_t j = 1; j < sums.size(); ++j) sums[j] = sums[j - 1] + randomWord();
                    std::vector<int32_t> start(count), end(count), span(count);
                    for (size_t i = 0, next = 0; i < count; ++i) {
                        span[i] = int32_t(rng() % 5);
                        start[i] = int32_t(layout == 0 ? next : rng() % (3 * count + 1));
                        end[i] = start[i] + span[i];
                        next = size_t(end[i]);
                    }
                    textureKernels::spanAverages(sums.data(), int32_t(sums.size()), start.data(),
                                                 end.data(), span.data(), n, ax.data(), ay.data());
                    for (size_t i = 0; i < count; ++i) {
                        const uint32_t sum = sums[size_t(end[i])] - sums[size_t(start[i])];
                        const int32_t wantX = span[i] == 0 ? 0 : fieldX(sum) / span[i];
                        const int32_t wantY = span[i] == 0 ? 0 : fieldY(sum) / span[i];
                        ASSERT_EQ(ax[i], wantX) << cpuVariantName(v) << " n " << n << " span " << i;
                        ASSERT_EQ(ay[i], wantY) << cpuVariantName(v) << " n " << n << " span " << i;
                    }
                }
    }
}

// The gradients of a texture row over its wrapped 3 x 3 neighbourhoods,
// on heights at the extremes (so that the sums reach -765..765) or at
// random.
TEST_F(TextureKernels, RowGradientsTruncateTheirSixthsInEveryVariant) {
    for (CpuVariant v : variants()) {
        textureKernels::selectVariant(v);
        for (int w : kLengths)
            for (int round = 0; round < 4; ++round) {
                const size_t count = static_cast<size_t>(w);
                std::vector<uint8_t> rows(3 * count);
                for (uint8_t &h : rows) h = round < 2 ? uint8_t(rng() % 2 * 255) : uint8_t(rng());
                const uint8_t *above = rows.data(), *here = above + count, *below = here + count;
                std::vector<int32_t> totals(2 * count);
                std::vector<int8_t> gx(count + 1, 99), gy(count + 1, 99);
                textureRowGradients(above, here, below, w, totals.data(), gx.data(), gy.data());
                for (int u = 0; u < w; ++u) {
                    const size_t l = size_t((u + w - 1) % w), c = size_t(u),
                                 r = size_t((u + 1) % w);
                    const int x =
                        (above[l] + here[l] + below[l] - above[r] - here[r] - below[r]) / 6;
                    const int y =
                        (above[l] + above[c] + above[r] - below[l] - below[c] - below[r]) / 6;
                    ASSERT_EQ(gx[c], x) << cpuVariantName(v) << " width " << w << " column " << u;
                    ASSERT_EQ(gy[c], y) << cpuVariantName(v) << " width " << w << " column " << u;
                }
                ASSERT_EQ(gx[count], 99) << "wrote past the row";
                ASSERT_EQ(gy[count], 99) << "wrote past the row";
            }
    }
}

} // namespace
