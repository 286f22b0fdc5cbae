#include "dialog/DialogTest.h"

namespace lustra::test {

Frame titleFrame(int32_t k) {
    Frame frame = solidFrame(kFrameWidth, kFrameHeight, hostPixel(16, 128, 128, 200));
    for (int32_t y = 14; y < 34; ++y)
        for (int32_t x = 10 + 4 * k; x < 40 + 4 * k; ++x)
            frame.pixels[size_t(y) * kFrameWidth + x] = hostPixel(235, 128, 128, 255);
    return frame;
}

Frame pictureFrame(int32_t k) {
    Frame frame = solidFrame(kFrameWidth, kFrameHeight, 0);
    for (int32_t y = 0; y < kFrameHeight; ++y)
        for (int32_t x = 0; x < kFrameWidth; ++x)
            frame.pixels[size_t(y) * kFrameWidth + x] =
                hostPixel(uint32_t(40 + 3 * x + 20 * k) & 0xFF, uint32_t(60 + 4 * y) & 0xFF,
                          uint32_t(200 - 2 * x) & 0xFF);
    return frame;
}

void DialogTest::SetUp() {
    // Every test starts from a freshly loaded module's record.
    std::memset(static_cast<void *>(&settings), 0, sizeof settings);
    operatorInfo();
    secondLayersOption.value = 1;
    flickerFilterOption.value = 0;
    fieldWiseOption.value = 0;
    dialogAllocationLimit = -1;
    previewTrace = PreviewTrace{};
    for (int32_t k = 0; k < kClipFrames; ++k) {
        host.clip[0].push_back(pictureFrame(k));
        host.clip[1].push_back(titleFrame(k));
    }
    // The picture of an empty source descriptor.
    host.sources[""] = solidFrame(16, 12, hostPixel(120, 60, 180));
    context.action = 1;
    operatorAction(&context);
    context.fieldCount = 2 * kClipFrames;
    context.pixelAspect = 1000;
    context.scaleNumerator = context.scaleDenominator = 1;
}

void DialogTest::TearDown() {
    context.action = 2;
    operatorAction(&context);
    dialogAllocationLimit = -1;
    EXPECT_EQ(host.liveImages, 0);
}

void DialogTest::prepare(const std::function<void(EffectSettings &)> &change) {
    change(settings);
    ASSERT_TRUE(writeSettingsFile());
}

void DialogTest::runDialog() {
    context.action = 4;
    context.noDialog = 0;
    operatorAction(&context);
}

std::vector<uint8_t> DialogTest::record() {
    const auto *bytes = reinterpret_cast<const uint8_t *>(&settings);
    return std::vector<uint8_t>(bytes, bytes + kSettingsSize);
}

} // namespace lustra::test
