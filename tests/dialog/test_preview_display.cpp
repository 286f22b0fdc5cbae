// The preview display: bilinear scaling aligned to the source's top-left
// corner, and the aspect-corrected, centred full-screen pictures.
#include "dialog/DialogTest.h"

#include "dialog/PreviewDisplay.h"

using namespace lustra;
using namespace lustra::test;

namespace {

std::vector<uint32_t> scaled(const std::vector<uint32_t> &source, int32_t sw, int32_t sh,
                             int32_t dw, int32_t dh) {
    std::vector<uint32_t> out(size_t(dw) * dh, 0xDEADBEEF);
    scaleBilinear(source.data(), sw, sh, out.data(), dw, dh);
    return out;
}

uint32_t grey(uint32_t v) {
    return v * 0x01010101u;
}

} // namespace

TEST(ScaleBilinear, AFrameOfTheSameSizeIsCopied) {
    std::vector<uint32_t> source(7 * 5);
    for (size_t i = 0; i < source.size(); ++i) source[i] = uint32_t(i * 0x9E3779B1u);
    EXPECT_EQ(scaled(source, 7, 5, 7, 5), source);
}

TEST(ScaleBilinear, EnlargingInterpolatesAndReusesTheLastRowAndColumn) {
    const std::vector<uint32_t> source = {grey(0), grey(255), grey(100), grey(20)};
    // Samples at 0, 0.5, 1, 1.5 in both directions; beyond the last pixel its
    // value is used again. Each byte is truncated.
    const std::vector<uint32_t> expected = {
        grey(0),   grey(127), grey(255), grey(255), // row 0
        grey(50),  grey(93),  grey(137), grey(137), // row 0.5
        grey(100), grey(60),  grey(20),  grey(20),  // row 1
        grey(100), grey(60),  grey(20),  grey(20),  // row 1.5
    };
    EXPECT_EQ(scaled(source, 2, 2, 4, 4), expected);
}

TEST(ScaleBilinear, SamplesAreAlignedToTheTopLeftCorner) {
    const std::vector<uint32_t> source = {grey(10), grey(20), grey(30),
                                          grey(40), grey(50), grey(60)};
    EXPECT_EQ(scaled(source, 6, 1, 3, 1), (std::vector<uint32_t>{grey(10), grey(30), grey(50)}));
    EXPECT_EQ(scaled(source, 6, 1, 2, 1), (std::vector<uint32_t>{grey(10), grey(40)}));
}

TEST(ScaleBilinear, TheFourBytesAreScaledIndependently) {
    const std::vector<uint32_t> source = {0xFF000010u, 0x00FF8030u};
    EXPECT_EQ(scaled(source, 2, 1, 4, 1),
              (std::vector<uint32_t>{0xFF000010u, 0x7F7F4020u, 0x00FF8030u, 0x00FF8030u}));
}

TEST(ScaleBilinear, NothingIsWrittenForEmptySizes) {
    const std::vector<uint32_t> source(4, grey(9));
    EXPECT_EQ(scaled(source, 2, 2, 0, 3), std::vector<uint32_t>{});
    std::vector<uint32_t> out(4, 1);
    scaleBilinear(source.data(), 0, 2, out.data(), 2, 2);
    EXPECT_EQ(out, std::vector<uint32_t>(4, 1));
}

namespace {

class FullScreen : public ::testing::Test {
  protected:
    ScriptedHost host;
    std::vector<uint32_t> frame;

    void TearDown() override { dialog = DialogState{}; }
    void useFrame(int32_t width, int32_t height, int32_t screenWidth, int32_t screenHeight) {
        frame.assign(size_t(width) * height, grey(200));
        dialog = DialogState{};
        dialog.previewFrame = frame.data();
        dialog.projectFrameWidth = width;
        dialog.projectFrameHeight = height;
        dialog.monitor2Width = screenWidth;
        dialog.monitor2Height = screenHeight;
        dialog.pixelAspect = 1000;
    }
    // Rows of the last overlay as strings: '#' for a picture pixel, '.' for 0.
    std::vector<std::string> lastPicture() const {
        std::vector<std::string> rows;
        const Overlay &overlay = host.overlays.back();
        for (int32_t y = 0; y < overlay.height; ++y) {
            std::string row;
            for (int32_t x = 0; x < overlay.width; ++x)
                row += overlay.pixels[size_t(y) * overlay.width + x] == 0 ? '.' : '#';
            rows.push_back(row);
        }
        return rows;
    }
};

} // namespace

TEST_F(FullScreen, AWideFrameIsLetterBoxedAndCentred) {
    useFrame(4, 2, 8, 8);
    drawFullScreenPreview(1);
    ASSERT_EQ(host.overlays.size(), 1u);
    const Overlay &overlay = host.overlays[0];
    EXPECT_TRUE(overlay.monitor);
    EXPECT_EQ((std::vector<int32_t>{overlay.x, overlay.y, overlay.width, overlay.height,
                                    overlay.strideBytes, overlay.monitorNumber}),
              (std::vector<int32_t>{0, 0, 8, 8, 32, 2}));
    EXPECT_EQ(lastPicture(),
              (std::vector<std::string>{"........", "........", "########", "########", "########",
                                        "########", "........", "........"}));
    const std::vector<Call> attrs = host.callsNamed("pointerAttrs");
    ASSERT_EQ(attrs.size(), 2u);
    EXPECT_EQ(attrs[0].args, (std::vector<int64_t>{2, 0, 0, 0}));
    EXPECT_EQ(attrs[1].args, (std::vector<int64_t>{1, 0, 0, 0}));
    EXPECT_EQ(host.calls.front().name, "pointerAttrs");
    EXPECT_EQ(host.calls.back().name, "pointerAttrs");
}

TEST_F(FullScreen, ANarrowFrameIsPillarBoxed) {
    useFrame(2, 4, 8, 4);
    drawFullScreenPreview(1);
    EXPECT_EQ(lastPicture(),
              (std::vector<std::string>{"...##...", "...##...", "...##...", "...##..."}));
}

TEST_F(FullScreen, ThePixelAspectsOfFrameAndMonitorSetTheHeight) {
    useFrame(4, 2, 8, 8);
    dialog.pixelAspect = 2000; // twice as tall as monitor 2's pixels: 4 x 4, then 8 x 8
    drawFullScreenPreview(1);
    EXPECT_EQ(lastPicture(), std::vector<std::string>(8, "########"));
    host.monitorAspect = 0; // a monitor that reports none is taken as matching
    drawFullScreenPreview(1);
    EXPECT_EQ(lastPicture()[1], "........");
}

TEST_F(FullScreen, AFrameThatFitsExactlyIsShownUnscaled) {
    useFrame(3, 2, 3, 2);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = 0x11111111u * uint32_t(i + 1);
    drawFullScreenPreview(1);
    EXPECT_EQ(host.overlays.back().pixels, frame);
}

TEST_F(FullScreen, OnTheGuiScreenTheStripIsLeftOut) {
    useFrame(8, 6, 8, 6);
    dialog.outerRect = Rect{2, 1, 3, 2};
    drawFullScreenPreview(0);
    ASSERT_EQ(host.overlays.size(), 4u);
    std::vector<std::vector<int32_t>> pieces;
    for (const Overlay &overlay : host.overlays) {
        EXPECT_FALSE(overlay.monitor);
        EXPECT_EQ(overlay.strideBytes, 32);
        pieces.push_back({overlay.x, overlay.y, overlay.width, overlay.height});
    }
    EXPECT_EQ(pieces, (std::vector<std::vector<int32_t>>{
                          {0, 0, 8, 1}, {0, 3, 8, 3}, {0, 1, 2, 2}, {5, 1, 3, 2}}));
}

TEST_F(FullScreen, WithoutAMonitorNothingIsDrawn) {
    useFrame(4, 2, 0, 0);
    drawFullScreenPreview(1);
    EXPECT_TRUE(host.overlays.empty());
    EXPECT_EQ(host.callsNamed("pointerAttrs").size(), 2u);
}
