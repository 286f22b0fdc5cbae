// The driver's row kernels against their per-pixel models, byte for byte:
// the mask from input 1's luminance and the conversion back to host pixels,
// on rows of every length up to a few vectors and at every alignment.
#include "driver/kernels/HostPixelKernels.h"
#include "driver/reference/HostPixelModel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

using namespace lustra;

namespace {

constexpr int32_t kLongest = 70; // longer than two AVX-512 vectors of pixels

// Runs `check` with the portable kernels and again with the AVX-512 ones
// where the processor has them, then restores the choice made at load.
template <typename Check> void forEachVariant(Check check) {
    const bool loaded = driverKernels::selectWideKernels(true);
    for (bool wide : {false, true}) {
        if (driverKernels::selectWideKernels(wide) != wide) continue;
        SCOPED_TRACE(wide ? "avx512" : "portable");
        check();
    }
    driverKernels::selectWideKernels(loaded);
}

} // namespace

// Every Y, Cb and Cr in one row (the clamped extremes included), then every
// length up to a few vectors at each alignment, nothing written past the row.
TEST(DriverKernels, SourceConversionEqualsItsModelForEveryPixelAndLength) {
    std::mt19937 random(5);
    std::vector<uint32_t> every(size_t(1) << 24);
    for (size_t i = 0; i < every.size(); ++i) every[i] = uint32_t(i) << 8 | (random() & 0xFF);
    forEachVariant([&] {
        std::vector<uint32_t> rgb(every.size());
        driverKernels::hostToRgbPixels(every.data(), rgb.data(), every.size());
        for (size_t i = 0; i < every.size(); ++i)
            ASSERT_EQ(rgb[i], reference::workFromHostPixel(every[i])) << std::hex << every[i];
        for (int32_t offset = 0; offset < 4; ++offset)
            for (int32_t count = 0; count <= kLongest; ++count) {
                const uint32_t *in = every.data() + size_t(random() % (every.size() - 80)) + offset;
                std::vector<uint32_t> out(size_t(count) + 1, 0x5A5A5A5Au);
                driverKernels::hostToRgbPixels(in, out.data(), size_t(count));
                for (int32_t i = 0; i < count; ++i)
                    ASSERT_EQ(out[i], reference::workFromHostPixel(in[i])) << count << " " << i;
                EXPECT_EQ(out[count], 0x5A5A5A5Au) << "no pixel past the row";
            }
    });
}

// Every RGB colour in one row, converted in place and from another alpha row.
TEST(DriverKernels, ConversionEqualsItsModelForEveryColour) {
    std::mt19937 random(3);
    std::vector<uint32_t> every(size_t(1) << 24), alpha(every.size());
    for (size_t i = 0; i < every.size(); ++i) {
        every[i] = uint32_t(i) | (random() & 0xFF000000u);
        alpha[i] = random();
    }
    forEachVariant([&] {
        std::vector<uint32_t> apart(every.size()), inPlace(alpha);
        driverKernels::rgbToHostPixels(every.data(), alpha.data(), apart.data(), every.size());
        driverKernels::rgbToHostPixels(every.data(), inPlace.data(), inPlace.data(), every.size());
        for (size_t i = 0; i < every.size(); ++i) {
            const uint32_t expected = reference::hostPixelFromWork(every[i], alpha[i]);
            ASSERT_EQ(apart[i], expected) << std::hex << every[i];
            ASSERT_EQ(inPlace[i], expected) << std::hex << every[i];
        }
    });
}

TEST(DriverKernels, MaskRowEqualsItsModelForEveryLuminanceLengthAndOffset) {
    forEachVariant([] {
        std::mt19937 random(7);
        // Every luminance, with random bytes below it (only Y counts).
        std::vector<uint32_t> pixels(256 + kLongest);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = (uint32_t(i % 256) << 24) | (random() & 0xFFFFFF);
        for (uint32_t flip : {0u, 255u}) {
            std::vector<uint8_t> out(pixels.size() + 1);
            ASSERT_NE(driverKernels::maskRow(pixels.data(), 256, flip, out.data()), 0u);
            for (uint32_t a = 0; a < 256; ++a)
                ASSERT_EQ(out[a], reference::maskByte(pixels[a], flip == 255)) << a << " " << flip;
            for (int32_t offset = 0; offset < 4; ++offset)
                for (int32_t count = 0; count <= kLongest; ++count) {
                    std::vector<uint8_t> row(size_t(count) + 2, 0xA5);
                    const uint32_t *in = pixels.data() + 200 + offset;
                    const uint32_t any = driverKernels::maskRow(in, count, flip, row.data() + 1);
                    uint32_t expectedAny = 0;
                    for (int32_t c = 0; c < count; ++c) {
                        ASSERT_EQ(row[size_t(c) + 1], reference::maskByte(in[c], flip == 255));
                        expectedAny |= reference::maskValue(in[c] >> 24);
                    }
                    EXPECT_EQ(any != 0, expectedAny != 0) << count << " " << offset;
                    EXPECT_EQ(row[0], 0xA5);
                    EXPECT_EQ(row[size_t(count) + 1], 0xA5) << "no byte past the row";
                }
        }
        // A row at luminance 48 and below covers nothing, inverted or not.
        const std::vector<uint32_t> dark(kLongest, 48u << 24 | 0xFFFFFF);
        std::vector<uint8_t> out(kLongest);
        EXPECT_EQ(driverKernels::maskRow(dark.data(), kLongest, 255, out.data()), 0u);
        EXPECT_EQ(out[kLongest - 1], 255);
    });
}

TEST(DriverKernels, ConversionEqualsItsModelInPlaceAndFromAnotherAlphaRow) {
    forEachVariant([] {
        std::mt19937 random(11);
        std::vector<uint32_t> rgb(kLongest + 4), alpha(kLongest + 4);
        for (size_t i = 0; i < rgb.size(); ++i) {
            rgb[i] = random();
            alpha[i] = random();
        }
        for (int32_t offset = 0; offset < 4; ++offset)
            for (int32_t count = 0; count <= kLongest; ++count) {
                const uint32_t *in = rgb.data() + offset;
                // The alpha bytes from another row; the destination's own bytes
                // are overwritten, the pixel past the row is not touched.
                std::vector<uint32_t> apart(size_t(count) + 1, 0x5A5A5A5Au);
                driverKernels::rgbToHostPixels(in, alpha.data() + offset, apart.data(),
                                               size_t(count));
                // In place: the alpha bytes the destination holds.
                std::vector<uint32_t> inPlace(alpha.begin() + offset,
                                              alpha.begin() + offset + count + 1);
                driverKernels::rgbToHostPixels(in, inPlace.data(), inPlace.data(), size_t(count));
                for (int32_t i = 0; i < count; ++i) {
                    const uint32_t expected =
                        reference::hostPixelFromWork(in[i], alpha[offset + i]);
                    ASSERT_EQ(apart[i], expected) << count << " " << offset << " " << i;
                    ASSERT_EQ(inPlace[i], expected) << count << " " << offset << " " << i;
                }
                EXPECT_EQ(apart[count], 0x5A5A5A5Au);
                EXPECT_EQ(inPlace[count], alpha[offset + count]);
            }
    });
}

// The far region's one-pass conversions: from tinted RGB map pixels, from
// input 0's host pixels (converted as the source pictures are, so that both
// agree), and of one plain colour; in place and from another alpha row.
TEST(DriverKernels, FarRegionConversionsEqualTheirModels) {
    std::mt19937 random(13);
    std::vector<uint32_t> host(kLongest + 4), alpha(kLongest + 4), rgb(kLongest + 4);
    for (size_t i = 0; i < host.size(); ++i) {
        // Every fourth pixel at the extremes of Cb and Cr, where RGB clamps.
        host[i] = i % 4 == 0 ? (random() & 0xFF000000u) | 0x00FF00FFu : random();
        alpha[i] = random();
        rgb[i] = random();
    }
    const uint8_t tints[][3] = {{255, 255, 255}, {0, 0, 0}, {192, 128, 64}, {1, 254, 77}};
    for (const auto &t : tints) {
        const uint32_t tint = uint32_t(t[0]) << 16 | uint32_t(t[1]) << 8 | t[2];
        for (int32_t offset = 0; offset < 4; ++offset)
            for (int32_t count = 0; count <= kLongest; ++count) {
                const uint32_t *a = alpha.data() + offset;
                std::vector<uint32_t> fromRgb(size_t(count) + 1, 0x5A5A5A5Au);
                std::vector<uint32_t> fromHost(size_t(count) + 1, 0x5A5A5A5Au);
                std::vector<uint32_t> plain(size_t(count) + 1, 0x5A5A5A5Au);
                driverKernels::tintedRgbToHostPixels(rgb.data() + offset, tint, a, fromRgb.data(),
                                                     size_t(count));
                driverKernels::tintedHostToHostPixels(host.data() + offset, tint, a,
                                                      fromHost.data(), size_t(count));
                driverKernels::fillHostPixels(tint, a, plain.data(), size_t(count));
                std::vector<uint32_t> inPlace[3];
                for (auto &row : inPlace) row.assign(a, a + count + 1);
                driverKernels::tintedRgbToHostPixels(rgb.data() + offset, tint, inPlace[0].data(),
                                                     inPlace[0].data(), size_t(count));
                driverKernels::tintedHostToHostPixels(host.data() + offset, tint, inPlace[1].data(),
                                                      inPlace[1].data(), size_t(count));
                driverKernels::fillHostPixels(tint, inPlace[2].data(), inPlace[2].data(),
                                              size_t(count));
                for (int32_t i = 0; i < count; ++i) {
                    const size_t p = size_t(offset + i);
                    const uint32_t expectRgb =
                        reference::tintedHostPixelFromWork(rgb[p], t[0], t[1], t[2], alpha[p]);
                    const uint32_t expectHost = reference::tintedHostPixelFromWork(
                        reference::workFromHostPixel(host[p]), t[0], t[1], t[2], alpha[p]);
                    const uint32_t expectPlain = reference::hostPixelFromWork(tint, alpha[p]);
                    ASSERT_EQ(fromRgb[i], expectRgb) << count << " " << offset << " " << i;
                    ASSERT_EQ(inPlace[0][i], expectRgb) << count << " " << offset << " " << i;
                    ASSERT_EQ(fromHost[i], expectHost) << count << " " << offset << " " << i;
                    ASSERT_EQ(inPlace[1][i], expectHost) << count << " " << offset << " " << i;
                    ASSERT_EQ(plain[i], expectPlain) << count << " " << offset << " " << i;
                    ASSERT_EQ(inPlace[2][i], expectPlain) << count << " " << offset << " " << i;
                }
                EXPECT_EQ(fromRgb[count], 0x5A5A5A5Au) << "no pixel past the row";
                EXPECT_EQ(fromHost[count], 0x5A5A5A5Au);
                EXPECT_EQ(plain[count], 0x5A5A5A5Au);
                for (const auto &row : inPlace) EXPECT_EQ(row[count], a[count]);
            }
    }
}
