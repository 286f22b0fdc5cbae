// Source pictures through the loaded module: fetched once while cached,
// failed fetches not repeated, the current frame converted anew.
#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace lustra::test;

namespace {

constexpr uint32_t kDark = hostPixel(16, 128, 128);
constexpr uint32_t kLight = hostPixel(235, 128, 128);

class SourceImages : public ::testing::Test {
  protected:
    TestHost host;
    TempHome home;
    Module module;
    std::vector<uint8_t> record = defaultSettingsBytes();

    void SetUp() override {
        module.getOperatorInfo();
        Frame title = solidFrame(16, 8, kDark);
        for (int y = 2; y < 6; ++y)
            for (int x = 4; x < 12; ++x) title.pixels[size_t(y) * 16 + x] = kLight;
        host.clip[0] = {solidFrame(16, 8, hostPixel(90, 60, 200)), solidFrame(16, 8, kDark)};
        host.clip[1] = {title, title};
    }
    void setUpWith(const std::vector<uint8_t> &bytes) {
        writeBytes(home.settingsPath(), bytes);
        module.action(1);
    }
    void nameSource(size_t offset, const char *name) {
        std::memcpy(&record[offset], name, std::strlen(name));
    }
    std::vector<uint32_t> renderFrame(int32_t field) {
        host.putFields.clear();
        EXPECT_EQ(module.action(3, field), 0);
        module.action(3, field + 1);
        EXPECT_EQ(host.putFields.size(), 2u);
        return host.putFields.empty() ? std::vector<uint32_t>{} : host.putFields[0].pixels;
    }
};

} // namespace

TEST_F(SourceImages, AFetchedFillPictureIsRequestedOnceWhileCached) {
    record[417] = 4; // fill 1 from its source
    nameSource(290, "logo-texture");
    host.sources["logo-texture"] = solidFrame(5, 3, hostPixel(200, 30, 220));
    setUpWith(record);
    const std::vector<uint32_t> first = renderFrame(0);
    renderFrame(2);
    EXPECT_EQ(host.sourceRequests, 1);
    EXPECT_TRUE(host.logLines.empty());

    // After clean-up and set-up the picture is fetched again.
    module.action(2);
    module.action(1);
    EXPECT_EQ(renderFrame(0), first);
    EXPECT_EQ(host.sourceRequests, 2);
    EXPECT_EQ(host.liveImages, 0);
}

TEST_F(SourceImages, AMissingPictureIsLoggedOnceAndTheFillFallsBack) {
    record[417] = 4;
    nameSource(290, "not-there");
    setUpWith(record);
    const std::vector<uint32_t> withMissing = renderFrame(0);
    renderFrame(2);
    EXPECT_EQ(host.sourceRequests, 1);
    EXPECT_EQ(host.loggedLines(), std::vector<int32_t>{5855});

    // Mode 4 without a picture renders as the plain mode 0.
    TestHost plainHost;
    plainHost.clip[0] = host.clip[0];
    plainHost.clip[1] = host.clip[1];
    std::vector<uint8_t> plain = defaultSettingsBytes();
    plain[417] = 0;
    writeBytes(home.settingsPath(), plain);
    module.action(1);
    plainHost.putFields.clear();
    module.action(3, 0);
    ASSERT_EQ(plainHost.putFields.size(), 2u);
    EXPECT_EQ(plainHost.putFields[0].pixels, withMissing);
}

TEST_F(SourceImages, PicturesWithoutPixelsOrSizeAreNoPictures) {
    record[417] = 4;
    record[666] = 5;
    record[665] = 1;
    record[160] = 1;
    record[161] = 1;
    nameSource(290, "empty");
    nameSource(546, "empty");
    nameSource(36, "empty");
    host.sources["empty"] = Frame{0, 0, {}};
    setUpWith(record);
    renderFrame(0);
    EXPECT_EQ(host.sourceRequests, 3);
    EXPECT_TRUE(host.logLines.empty());
    EXPECT_EQ(host.liveImages, 0);
}

TEST_F(SourceImages, TheCurrentFrameFillFollowsInput0) {
    record[417] = 3; // fill 1 shows the current frame of input 0
    setUpWith(record);
    const std::vector<uint32_t> first = renderFrame(0);
    const std::vector<uint32_t> second = renderFrame(2);
    EXPECT_NE(first, second) << "frame 1 of input 0 differs from frame 0";
    EXPECT_EQ(host.sourceRequests, 0);
}

TEST_F(SourceImages, DefaultSettingsFileRendersLikeNoFile) {
    module.action(1);
    const std::vector<uint32_t> withoutFile = renderFrame(0);
    setUpWith(defaultSettingsBytes());
    EXPECT_EQ(renderFrame(0), withoutFile);
    // A short file changes only its leading bytes: a 12-byte file with a
    // zero bevel width differs.
    const std::vector<uint8_t> defaults = defaultSettingsBytes();
    std::vector<uint8_t> head(defaults.begin(), defaults.begin() + 12);
    head[11] = 0;
    setUpWith(head);
    EXPECT_NE(renderFrame(0), withoutFile);
}
