// Frame-size buffers are kept between renders and handed out again. A render
// must never show anything of an earlier one: each frame rendered after a
// series of renders with other settings must equal the same frame rendered by
// a freshly loaded module.
#include "support/TitleShape.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace lustra::test;

namespace {

// Large enough that every frame-size plane is kept for reuse.
constexpr int kWidth = 720, kHeight = 576;

struct ReuseCase {
    const char *name;
    int32_t secondLayers;
    std::function<void(std::vector<uint8_t> &)> change;
};

// Offsets in the settings record.
enum : size_t {
    kBevelWidth = 11,
    kGlowWidth = 18,
    kGlowOn = 22,
    kShadowSoftness = 23,
    kShadowOn = 26,
    kMap1On = 160,
    kFill1Mode = 417,
    kTexture1On = 665,
    kTexture1Type = 666,
    kTexture2On = 795,
    kTexture2Type = 796,
    kInvertShape = 17,
};

// Every stage writing its planes first, then renders that leave most of them
// untouched, so that stale contents would show.
const ReuseCase kSequence[] = {
    {"everything", 1,
     [](auto &r) {
         r[kGlowOn] = 1;
         r[kGlowWidth] = 20;
         r[kShadowSoftness] = 12;
         r[kMap1On] = 1;
         r[kTexture1On] = r[kTexture2On] = 1;
         r[kTexture1Type] = 1;
         r[kTexture2Type] = 3;
     }},
    {"plain", 0,
     [](auto &r) {
         r[kShadowOn] = 0;
         r[kBevelWidth] = 0;
     }},
    {"glow-without-edges", 0,
     [](auto &r) {
         r[kInvertShape] = 1;
         r[kGlowOn] = 1;
     }},
    {"default", 0, [](auto &) {}},
    {"metal", 1, [](auto &r) { r[kFill1Mode] = 2; }},
};

std::vector<uint32_t> renderWith(Module &module, TestHost &host, TempHome &home,
                                 const ReuseCase &c) {
    std::vector<uint8_t> record = defaultSettingsBytes();
    c.change(record);
    writeBytes(home.settingsPath(), record);
    module.setChoices(c.secondLayers, 0, 0);
    host.putFields.clear();
    EXPECT_EQ(module.action(1), 0);
    EXPECT_EQ(module.action(3, 0), 0);
    std::vector<uint32_t> pixels;
    for (const PutField &field : host.putFields)
        pixels.insert(pixels.end(), field.pixels.begin(), field.pixels.end());
    return pixels;
}

void useTitleClip(TestHost &host) {
    host.clip[0] = {Frame{kWidth, kHeight, lustra::tools::backgroundFrame(kWidth, kHeight)}};
    host.clip[1] = {Frame{kWidth, kHeight, lustra::tools::titleFrame(kWidth, kHeight)}};
}

} // namespace

TEST(BufferReuse, RendersAfterOtherSettingsEqualFreshRenders) {
    TestHost host;
    TempHome home;
    useTitleClip(host);
    std::vector<std::vector<uint32_t>> fresh;
    for (const ReuseCase &c : kSequence) {
        Module module;
        module.getOperatorInfo();
        fresh.push_back(renderWith(module, host, home, c));
        ASSERT_EQ(fresh.back().size(), size_t(kWidth) * kHeight) << c.name;
    }

    Module module;
    module.getOperatorInfo();
    for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < std::size(kSequence); ++i) {
            const std::vector<uint32_t> again = renderWith(module, host, home, kSequence[i]);
            EXPECT_TRUE(again == fresh[i]) << kSequence[i].name << " in round " << round;
        }
    }
    // Cleanup returns the kept buffers; rendering afterwards still works.
    EXPECT_EQ(module.action(2), 0);
    EXPECT_TRUE(renderWith(module, host, home, kSequence[0]) == fresh[0]);
    EXPECT_TRUE(host.logLines.empty());
}

TEST(BufferReuse, ChangingFrameSizesRenderLikeFreshModules) {
    TestHost host;
    TempHome home;
    const ReuseCase &c = kSequence[0];
    Module module;
    module.getOperatorInfo();
    for (const int size : {0, 1, 0}) {
        const int width = size == 0 ? kWidth : 512, height = size == 0 ? kHeight : 300;
        host.clip[0] = {Frame{width, height, lustra::tools::backgroundFrame(width, height)}};
        host.clip[1] = {Frame{width, height, lustra::tools::titleFrame(width, height)}};
        const std::vector<uint32_t> reused = renderWith(module, host, home, c);
        Module freshModule;
        freshModule.getOperatorInfo();
        EXPECT_TRUE(reused == renderWith(freshModule, host, home, c)) << width << " x " << height;
    }
}
