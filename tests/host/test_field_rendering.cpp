// Field rendering through the loaded module: which fields are fetched, how
// they are woven or line-doubled, what comes back, and every failure path.
#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

using namespace lustra::test;

namespace {

constexpr uint32_t kBlack = hostPixel(16, 128, 128, 7);

// A frame whose pixel (x, y) carries its row in Cb and its column in Cr,
// with a dark luminance (no shape) and a per-pixel alpha.
Frame numberedFrame(int32_t width, int32_t height, uint32_t luminance) {
    Frame frame = solidFrame(width, height, 0);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            frame.pixels[size_t(y) * width + x] =
                hostPixel(luminance, uint32_t(y), uint32_t(x), uint32_t((x * 7 + y) & 255));
    return frame;
}

class FieldRendering : public ::testing::Test {
  protected:
    TestHost host;
    TempHome home;
    Module module;

    void SetUp() override {
        module.getOperatorInfo();
        host.clip[0] = {solidFrame(8, 6, kBlack), solidFrame(8, 6, kBlack)};
        host.clip[1] = {numberedFrame(8, 6, 16), numberedFrame(8, 6, 16)};
        module.action(1);
    }
};

} // namespace

TEST_F(FieldRendering, FrameWiseRendersOnTheFirstCallOfEachPairAndReturnsBothFields) {
    EXPECT_EQ(module.action(3, 0), 0);
    ASSERT_EQ(host.putFields.size(), 2u);
    const auto requests = host.fieldRequests;
    EXPECT_EQ(requests, (std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {0, 1}, {1, 0}, {1, 1}}));

    host.fieldRequests.clear();
    const size_t logBefore = host.logLines.size();
    EXPECT_EQ(module.action(3, 1), 0) << "the second call of the pair";
    EXPECT_TRUE(host.fieldRequests.empty());
    EXPECT_EQ(host.putFields.size(), 2u);
    EXPECT_EQ(host.logLines.size(), logBefore);

    host.putResult = 17;
    EXPECT_EQ(module.action(3, 2), 17) << "the result of the last hand-over";
    EXPECT_EQ(host.putFields.size(), 4u);
    EXPECT_EQ(host.liveImages, 0);
}

TEST_F(FieldRendering, FrameWiseReturnsTheOddRowsFirstAndKeepsTheAlphaOfInput1) {
    module.action(3, 0);
    ASSERT_EQ(host.putFields.size(), 2u);
    const Frame &title = host.clip[1][0];
    for (int f = 0; f < 2; ++f) {
        const PutField &field = host.putFields[f];
        ASSERT_EQ(field.width, 8);
        ASSERT_EQ(field.height, 3);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 8; ++x) {
                const int32_t frameRow = 2 * y + (f == 0 ? 1 : 0);
                EXPECT_EQ(field.pixels[size_t(y) * 8 + x] & 0xFF, title.at(x, frameRow) & 0xFF);
            }
    }
}

TEST_F(FieldRendering, FieldWiseLineDoublesAndPicksTheRowsOfRenderFlagBit1) {
    module.setChoices(0, 0, 1);
    host.putResult = 5;
    EXPECT_EQ(module.action(3, 1), 5);
    EXPECT_EQ(module.action(3, 1, 2), 5);
    ASSERT_EQ(host.putFields.size(), 2u);
    EXPECT_EQ(host.fieldRequests,
              (std::vector<std::pair<int32_t, int32_t>>{{0, 1}, {1, 1}, {0, 1}, {1, 1}}));
    // Field 1 is the even rows of frame 0; both outputs read the same doubled
    // input rows, so the alpha bytes agree with field 1 of input 1.
    for (const PutField &field : host.putFields)
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 8; ++x)
                EXPECT_EQ(field.pixels[size_t(y) * 8 + x] & 0xFF,
                          host.clip[1][0].at(x, 2 * y) & 0xFF);
    EXPECT_EQ(host.liveImages, 0);
}

TEST_F(FieldRendering, MissingFieldsAreLoggedAndNothingIsHandedBack) {
    struct Case {
        int32_t fieldWise;
        std::pair<int32_t, int32_t> missing;
        int32_t line;
    };
    const Case cases[] = {{1, {0, 4}, 680},  {1, {1, 4}, 687},  {0, {0, 4}, 5731},
                          {0, {0, 5}, 5755}, {0, {1, 4}, 5787}, {0, {1, 5}, 5811}};
    host.clip[0].resize(3, host.clip[0][0]);
    host.clip[1].resize(3, host.clip[1][0]);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        module.setChoices(0, 0, c.fieldWise);
        module.action(1);
        host.missingFields = {c.missing};
        host.logLines.clear();
        host.putFields.clear();
        EXPECT_EQ(module.action(3, 4), -1);
        EXPECT_EQ(host.loggedLines(), std::vector<int32_t>{c.line});
        EXPECT_TRUE(host.putFields.empty());
        EXPECT_EQ(host.liveImages, 0);
    }
}

TEST_F(FieldRendering, AFailedFirstCallStillSkipsTheSecondCallOfThePair) {
    host.missingFields = {{1, 0}};
    EXPECT_EQ(module.action(3, 0), -1);
    host.missingFields.clear();
    host.fieldRequests.clear();
    EXPECT_EQ(module.action(3, 1), 0);
    EXPECT_TRUE(host.fieldRequests.empty());
}

TEST_F(FieldRendering, UnusableGeometryIsRefusedWithItsOwnLogLine) {
    // Inputs of different size, field-wise.
    module.setChoices(0, 0, 1);
    host.clip[0] = {solidFrame(10, 6, kBlack)};
    EXPECT_EQ(module.action(3, 0), -1);
    EXPECT_EQ(host.loggedLines(), std::vector<int32_t>{690});
    EXPECT_EQ(host.liveImages, 0);

    // Frame-wise: a field unlike the project geometry.
    module.setChoices(0, 0, 0);
    host.logLines.clear();
    host.fieldWidth = 8;
    host.fieldHeight = 3;
    EXPECT_EQ(module.action(3, 0), -1);
    EXPECT_EQ(host.loggedLines(), std::vector<int32_t>{5830});
    module.action(3, 1); // the skipped half of the pair

    // Frame-wise: no geometry, an empty geometry, a too large geometry.
    host.clip[0] = {solidFrame(8, 6, kBlack)};
    host.logLines.clear();
    host.refuseGeometry = true;
    EXPECT_EQ(module.action(3, 0), -1);
    module.action(3, 1);
    host.refuseGeometry = false;
    host.fieldWidth = 0;
    host.fieldHeight = 0;
    host.clip[0].clear();
    EXPECT_EQ(module.action(3, 0), -1);
    module.action(3, 1);
    host.fieldWidth = 20000;
    host.fieldHeight = 20000;
    EXPECT_EQ(module.action(3, 0), -1);
    EXPECT_EQ(host.loggedLines(), (std::vector<int32_t>{5700, 5705, 5705}));
    EXPECT_EQ(host.liveImages, 0);
}

TEST_F(FieldRendering, OutputFieldsUnlikeTheProjectAreRefused) {
    host.outputWidthDelta = 2;
    EXPECT_EQ(module.action(3, 0), -1);
    EXPECT_EQ(host.loggedLines(), std::vector<int32_t>{5900});
    EXPECT_TRUE(host.putFields.empty());
    EXPECT_EQ(host.liveImages, 0);

    module.action(3, 1);
    host.outputWidthDelta = 0;
    host.refuseOutputField = true;
    EXPECT_EQ(module.action(3, 2), -1);
    EXPECT_TRUE(host.putFields.empty());
}

TEST_F(FieldRendering, AnEngineFailureReturnsMinusOneAndLogsTheStageLines) {
    std::filesystem::remove(home.path() + "/lustra/metal.pat");
    EXPECT_EQ(module.action(3, 0), -1);
    EXPECT_EQ(host.loggedLines(), (std::vector<int32_t>{2299, 2347}));
    EXPECT_TRUE(host.putFields.empty());
    EXPECT_EQ(host.liveImages, 0);

    module.setChoices(0, 0, 1);
    host.logLines.clear();
    EXPECT_EQ(module.action(3, 0), -1);
    EXPECT_EQ(host.loggedLines(), (std::vector<int32_t>{2299, 2347}));
    EXPECT_EQ(host.liveImages, 0);
}

TEST_F(FieldRendering, OutputDoesNotDependOnWhatTheHostsImagesHeldBefore) {
    // The inputs are read from the host's fields and the result is written
    // into the fields handed back: every pixel of each is written, whatever
    // the host's images held.
    host.clip[0] = {numberedFrame(8, 6, 120), numberedFrame(8, 6, 120)};
    host.clip[1] = {numberedFrame(8, 6, 200), numberedFrame(8, 6, 200)};
    for (int32_t fieldWise : {0, 1}) {
        SCOPED_TRACE(fieldWise);
        module.setChoices(0, 0, fieldWise);
        std::vector<std::vector<uint32_t>> results[2];
        for (uint32_t fill : {0u, 0xDEADBEEFu}) {
            host.newImageFill = fill;
            host.putFields.clear();
            module.action(1);
            ASSERT_EQ(module.action(3, 0), 0);
            if (fieldWise) {
                ASSERT_EQ(module.action(3, 0, 2), 0);
            }
            ASSERT_EQ(host.putFields.size(), 2u);
            for (const PutField &field : host.putFields) results[fill != 0].push_back(field.pixels);
        }
        EXPECT_EQ(results[0], results[1]);
        EXPECT_NE(results[0][0], results[0][1]) << "the two fields are different rows";
        EXPECT_EQ(host.liveImages, 0);
    }
}

TEST_F(FieldRendering, AnEngineFailureComesBeforeAnUnusableOutputField) {
    // The output fields are taken before the render, but one unlike the
    // project only fails the call where it would be handed over: an engine
    // failure is reported alone, as when the fields are taken afterwards.
    std::filesystem::remove(home.path() + "/lustra/metal.pat");
    host.outputWidthDelta = 2;
    EXPECT_EQ(module.action(3, 0), -1);
    EXPECT_EQ(host.loggedLines(), (std::vector<int32_t>{2299, 2347}));
    EXPECT_TRUE(host.putFields.empty());
    EXPECT_EQ(host.liveImages, 0);
}

TEST_F(FieldRendering, AbortChecksReachTheHostOnlyOutsideTheDialog) {
    module.action(3, 0);
    EXPECT_GT(host.abortChecks, 10);
}
