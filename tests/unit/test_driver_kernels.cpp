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

} // namespace

TEST(DriverKernels, MaskRowEqualsItsModelForEveryLuminanceLengthAndOffset) {
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
}

TEST(DriverKernels, ConversionEqualsItsModelInPlaceAndFromAnotherAlphaRow) {
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
            driverKernels::rgbToHostPixels(in, alpha.data() + offset, apart.data(), size_t(count));
            // In place: the alpha bytes the destination holds.
            std::vector<uint32_t> inPlace(alpha.begin() + offset,
                                          alpha.begin() + offset + count + 1);
            driverKernels::rgbToHostPixels(in, inPlace.data(), inPlace.data(), size_t(count));
            for (int32_t i = 0; i < count; ++i) {
                const uint32_t expected = reference::hostPixelFromWork(in[i], alpha[offset + i]);
                ASSERT_EQ(apart[i], expected) << count << " " << offset << " " << i;
                ASSERT_EQ(inPlace[i], expected) << count << " " << offset << " " << i;
            }
            EXPECT_EQ(apart[count], 0x5A5A5A5Au);
            EXPECT_EQ(inPlace[count], alpha[offset + count]);
        }
}
