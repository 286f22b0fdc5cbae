// Golden renders: the built-in title rendered through the loaded module with
// a set of settings records, compared byte for byte with the reference
// frames in tests/golden/. Any change of the rendering arithmetic shows here.
//
// To regenerate the references after an intended change (and explain the
// change in the commit), look at what changed first:
//   scripts/update-golden.sh            (prints the changed pixels per case and
//                                        writes old | new | difference PNGs)
//   scripts/update-golden.sh --accept   (then replaces the references)
// Underneath, LUSTRA_UPDATE_GOLDEN=1 writes the renders instead of comparing
// them, into LUSTRA_GOLDEN_OUT when set, else over the references:
//   LUSTRA_UPDATE_GOLDEN=1 build/tests/lustra_host_tests --gtest_filter='Renders/Golden.*'
#include "support/TitleShape.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

using namespace lustra::test;

namespace {

constexpr int kWidth = 64, kHeight = 36;

struct GoldenCase {
    const char *name;
    int32_t secondLayers, flickerFilter, fieldWise;
    std::function<void(std::vector<uint8_t> &)> change;
};

// Offsets in the settings record.
enum : size_t {
    kBevelWidth = 11,
    kBevelSmoothing = 13,
    kBevelEdgeSlope = 14,
    kBevelInnerSlope = 15,
    kBevelSunken = 16,
    kInvertShape = 17,
    kGlowWidth = 18,
    kGlowBlurred = 21,
    kGlowOn = 22,
    kShadowSoftness = 23,
    kShadowDistance = 25,
    kShadowOn = 26,
    kOffsetX = 28,
    kOffsetY = 32,
    kMap1ScaleX = 148,
    kMap1On = 160,
    kFill1Mode = 417,
    kFill1Shininess = 416,
    kFill2Mode = 545,
    kTexture1Depth = 662,
    kTexture1On = 665,
    kTexture1Type = 666,
    kTexture2Depth = 792,
    kTexture2On = 795,
    kTexture2Type = 796,
};

const GoldenCase kCases[] = {
    {"default", 0, 0, 0, [](auto &) {}},
    {"second-layers", 1, 0, 0, [](auto &) {}},
    {"bevel-wide", 1, 0, 0,
     [](auto &r) {
         r[kBevelWidth] = 30;
         r[kBevelSmoothing] = 30;
     }},
    {"bevel-sunken", 1, 0, 0,
     [](auto &r) {
         r[kBevelSunken] = 1;
         r[kBevelEdgeSlope] = 5;
         r[kBevelInnerSlope] = 5;
         r[kBevelSmoothing] = 0;
     }},
    {"glow-profile", 0, 0, 0,
     [](auto &r) {
         r[kGlowOn] = 1;
         r[kGlowWidth] = 12;
         r[kShadowOn] = 0;
     }},
    {"glow-blurred", 0, 0, 0,
     [](auto &r) {
         r[kGlowOn] = 1;
         r[kGlowWidth] = 15;
         r[kGlowBlurred] = 1;
         r[kShadowOn] = 0;
     }},
    {"shadow-soft", 0, 0, 0,
     [](auto &r) {
         r[kShadowSoftness] = 30;
         r[kShadowDistance] = 100;
     }},
    {"metal", 1, 0, 0,
     [](auto &r) {
         r[kFill1Mode] = 2;
         r[kFill2Mode] = 2;
     }},
    {"texture-object", 1, 0, 0,
     [](auto &r) {
         r[kTexture1On] = 1;
         r[kTexture1Type] = 1;
         r[kTexture1Depth] = 120;
     }},
    {"texture-background", 1, 0, 0,
     [](auto &r) {
         r[kTexture2On] = 1;
         r[kTexture2Type] = 2;
         r[kTexture2Depth] = 160;
     }},
    {"map-object", 1, 0, 0,
     [](auto &r) {
         r[kMap1On] = 1;
         put16(r, kMap1ScaleX, 50);
     }},
    {"picture-fill", 1, 0, 0, [](auto &r) { r[kFill1Mode] = 3; }},
    {"inverted", 0, 0, 0, [](auto &r) { r[kInvertShape] = 1; }},
    {"light-moved", 1, 1, 0,
     [](auto &r) {
         put32(r, kOffsetX, 20);
         put32(r, kOffsetY, 12);
         r[kFill1Shininess] = 40;
     }},
    {"field-wise", 0, 0, 1, [](auto &) {}},
};

void PrintTo(const GoldenCase &c, std::ostream *out) {
    *out << c.name;
}

std::string goldenPath(const char *name) {
    return std::string(LUSTRA_GOLDEN_DIR) + "/" + name + ".bin";
}

// Renders one frame (both fields) and weaves the returned fields.
std::vector<uint8_t> renderCase(const GoldenCase &c) {
    TestHost host;
    TempHome home;
    Module module;
    module.getOperatorInfo();
    std::vector<uint8_t> record = defaultSettingsBytes();
    c.change(record);
    writeBytes(home.settingsPath(), record);
    module.setChoices(c.secondLayers, c.flickerFilter, c.fieldWise);
    host.clip[0] = {Frame{kWidth, kHeight, lustra::tools::backgroundFrame(kWidth, kHeight)}};
    host.clip[1] = {Frame{kWidth, kHeight, lustra::tools::titleFrame(kWidth, kHeight)}};
    module.action(1);
    std::vector<uint32_t> frame(size_t(kWidth) * kHeight, 0);
    if (c.fieldWise == 1) {
        // Field 0 (odd rows) and field 1 (even rows), each from its own call.
        for (int32_t field = 0; field < 2; ++field) {
            EXPECT_EQ(module.action(3, field, field == 0 ? 2 : 0), 0);
        }
    } else {
        EXPECT_EQ(module.action(3, 0), 0);
    }
    EXPECT_EQ(host.putFields.size(), 2u);
    EXPECT_TRUE(host.logLines.empty());
    for (size_t f = 0; f < host.putFields.size() && f < 2; ++f) {
        const int32_t first = f == 0 ? 1 : 0;
        for (int32_t y = 0; y < kHeight / 2; ++y)
            std::copy_n(host.putFields[f].pixels.begin() + y * kWidth, kWidth,
                        frame.begin() + (2 * y + first) * kWidth);
    }
    std::vector<uint8_t> bytes(frame.size() * 4);
    std::memcpy(bytes.data(), frame.data(), bytes.size());
    return bytes;
}

class Golden : public ::testing::TestWithParam<GoldenCase> {};

} // namespace

TEST_P(Golden, RenderMatchesTheReferenceFrame) {
    const GoldenCase &c = GetParam();
    const std::vector<uint8_t> rendered = renderCase(c);
    if (std::getenv("LUSTRA_UPDATE_GOLDEN")) {
        const char *out = std::getenv("LUSTRA_GOLDEN_OUT");
        const std::string path =
            out ? std::string(out) + "/" + c.name + ".bin" : goldenPath(c.name);
        writeBytes(path, rendered);
        GTEST_SKIP() << "render written: " << path;
    }
    const std::vector<uint8_t> reference = readBytes(goldenPath(c.name));
    ASSERT_EQ(reference.size(), rendered.size()) << "missing reference " << goldenPath(c.name);
    size_t differing = 0, first = rendered.size();
    for (size_t i = 0; i < rendered.size(); ++i)
        if (rendered[i] != reference[i]) {
            ++differing;
            first = std::min(first, i);
        }
    EXPECT_EQ(differing, 0u) << "first difference at pixel " << first / 4 << " (x "
                             << (first / 4) % kWidth << ", y " << (first / 4) / kWidth << ")";
}

INSTANTIATE_TEST_SUITE_P(Renders, Golden, ::testing::ValuesIn(kCases), [](const auto &info) {
    std::string name = info.param.name;
    for (char &ch : name)
        if (ch == '-') ch = '_';
    return name;
});
