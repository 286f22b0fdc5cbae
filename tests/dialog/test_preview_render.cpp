// The preview render: the first call sets the engine up and renders all
// stages; later steps re-run one stage and the final shading and give the
// same picture as a full render; failures block until a restart.
#include "dialog/DialogTest.h"

#include "driver/SourceImages.h"
#include "engine/Engine.h"

#include <cstdio>
#include <filesystem>

using namespace lustra;
using namespace lustra::test;

namespace {

int displays = 0;
void countDisplay() {
    ++displays;
}

constexpr uint32_t kAll = 0xFF;

class PreviewRender : public ::testing::Test {
  protected:
    ScriptedHost host;
    TempHome home;
    std::vector<uint32_t> input0, input1, preview;

    void SetUp() override {
        std::memset(static_cast<void *>(&settings), 0, sizeof settings);
        operatorInfo();
        secondLayersOption.value = 1;
        flickerFilterOption.value = 0;
        operatorState.sourcesCached = 0;
        displays = 0;
        useFrames(pictureFrame(0), titleFrame(0));
        preview.assign(size_t(kFrameWidth) * kFrameHeight, 0x000000FFu);
        previewTarget.frame = preview.data();
        previewTarget.display = &countDisplay;
        previewNeedsSetup = 0;
        driverState.engineError = 0;
        driverState.maskBuilt = 0;
    }
    void TearDown() override {
        engineTeardown();
        driverState.engineReady = 0;
        releaseWorkBuffers();
        releaseSourceImages();
        fieldState.inputFrame0 = fieldState.inputFrame1 = nullptr;
        previewTarget = PreviewTarget{};
        previewNeedsSetup = 0;
    }
    void useFrames(const Frame &picture, const Frame &title) {
        input0 = picture.pixels;
        input1 = title.pixels;
        fieldState.inputFrame0 = input0.data();
        fieldState.inputFrame1 = input1.data();
        fieldState.projectFrameWidth = kFrameWidth;
        fieldState.projectFrameHeight = kFrameHeight;
        driverState.maskBuilt = 0;
    }
    static void loadSources() {
        for (auto load : {loadMap1Source, loadMap2Source, loadFill1Source, loadFill2Source,
                          loadTexture1Source, loadTexture2Source})
            load();
    }
    // The picture of a complete new set-up with the current settings.
    std::vector<uint32_t> fullRender() {
        std::vector<uint32_t> saved = preview;
        previewNeedsSetup = 1;
        EXPECT_EQ(renderPreview(0), 0);
        EXPECT_EQ(previewTrace.setUp, 1);
        std::vector<uint32_t> full = preview;
        preview = saved;
        return full;
    }
};

} // namespace

TEST_F(PreviewRender, TheFirstCallSetsUpAndRendersEverything) {
    EXPECT_EQ(renderPreview(4), 0); // whatever the step
    EXPECT_EQ(previewTrace.setUp, 1);
    EXPECT_EQ(previewTrace.stages, kAll);
    EXPECT_EQ(previewTrace.shown, 1);
    EXPECT_EQ(displays, 1);
    EXPECT_EQ(driverState.engineReady, 1);
    EXPECT_EQ(driverState.width, kFrameWidth);
    EXPECT_EQ(driverState.height, kFrameHeight);
    EXPECT_EQ(host.busy, 1);
    EXPECT_EQ(host.standard, 1);
    // The alpha bytes of the preview frame are kept.
    EXPECT_EQ(preview[0] & 0xFF, 0xFFu);
    EXPECT_NE(preview[0] >> 8, 0u);
}

TEST_F(PreviewRender, EachStepRunsItsStageAndTheFinalShading) {
    renderPreview(0);
    struct Case {
        int32_t step;
        uint8_t texture1On;
        uint32_t stages;
        int32_t busy;
    };
    const Case cases[] = {{0, 0, kAll, 1}, {1, 0, 0x81, 1}, {1, 1, 0x89, 1}, {2, 0, 0x82, 0},
                          {3, 0, 0x84, 0}, {4, 0, 0x88, 0}, {5, 0, 0x90, 0}, {6, 0, 0xA0, 0},
                          {7, 0, 0xC0, 0}, {8, 0, 0x80, 0}, {9, 0, 0, 0},    {-3, 0, 0, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.step);
        settings.texture1On = c.texture1On;
        const int32_t busyBefore = host.busy;
        const int32_t displaysBefore = displays;
        EXPECT_EQ(renderPreview(c.step), 0);
        EXPECT_EQ(previewTrace.stages, c.stages);
        EXPECT_EQ(previewTrace.setUp, 0);
        EXPECT_EQ(previewTrace.shown, 1);
        EXPECT_EQ(displays, displaysBefore + 1);
        EXPECT_EQ(host.busy - busyBefore, c.busy);
        EXPECT_EQ(host.busy, host.standard);
    }
}

TEST_F(PreviewRender, OtherStepsShowTheExistingResultAgain) {
    renderPreview(0);
    const std::vector<uint32_t> first = preview;
    std::fill(preview.begin(), preview.end(), 0u);
    EXPECT_EQ(renderPreview(12), 0);
    EXPECT_EQ(previewTrace.shown, 1);
    for (size_t i = 0; i < preview.size(); ++i) ASSERT_EQ(preview[i] >> 8, first[i] >> 8);
}

TEST_F(PreviewRender, APartialStepGivesTheSamePictureAsAFullRender) {
    settings.texture1On = settings.texture2On = 1;
    settings.map1On = settings.map2On = 1;
    settings.glowOn = 1;
    settings.fill1Mode = 2;
    loadSources();
    renderPreview(0);
    struct Change {
        int32_t step;
        void (*apply)(EffectSettings &);
    };
    const Change changes[] = {
        {1,
         [](EffectSettings &s) {
             s.bevelWidth = 20;
             s.bevelSmoothing = 2;
         }},
        {1,
         [](EffectSettings &s) {
             s.bevelSunken = 1;
             s.bevelEdgeSlope = 6;
         }},
        {2,
         [](EffectSettings &s) {
             s.glowWidth = 25;
             s.glowBlurred = 1;
         }},
        {2,
         [](EffectSettings &s) {
             s.glowColour2 = 0x3050A0FFu;
             s.glowOpacity = 40;
         }},
        {3,
         [](EffectSettings &s) {
             s.shadowDistance = 90;
             s.shadowSoftness = 12;
         }},
        {4,
         [](EffectSettings &s) {
             s.texture1ScaleX = 300;
             s.texture1Type = 2;
         }},
        {4,
         [](EffectSettings &s) {
             s.texture1OffsetX = 17;
             s.texture1Invert = 1;
         }},
        {5,
         [](EffectSettings &s) {
             s.texture2Depth = 100;
             s.texture2ScaleY = 40;
         }},
        {6,
         [](EffectSettings &s) {
             s.map1ScaleX = 200;
             s.map1OffsetY = -9;
         }},
        {7,
         [](EffectSettings &s) {
             s.map2ScaleX = 60;
             s.map2OffsetX = 1000;
         }},
        {8,
         [](EffectSettings &s) {
             s.fill1ColourA = 0x4060C0FFu;
             s.fillZoom = 30;
         }},
        {8,
         [](EffectSettings &s) {
             s.offsetX = 40;
             s.fill2Shininess = 90;
             s.fill1Mode = 1;
         }},
    };
    for (const Change &change : changes) {
        SCOPED_TRACE(change.step);
        change.apply(settings);
        ASSERT_EQ(renderPreview(change.step), 0);
        ASSERT_EQ(previewTrace.shown, 1);
        const std::vector<uint32_t> partial = preview;
        EXPECT_EQ(partial, fullRender());
    }
}

TEST_F(PreviewRender, AFrameWithoutAShapeMatchesTheFullRenderOnEveryStep) {
    useFrames(pictureFrame(1), solidFrame(kFrameWidth, kFrameHeight, hostPixel(20, 128, 128)));
    settings.glowOn = 1;
    renderPreview(0);
    settings.glowWidth = 20;
    renderPreview(2);
    EXPECT_EQ(preview, fullRender());
    settings.invertShape = 1;
    previewNeedsSetup = 1;
    renderPreview(0);
    settings.bevelWidth = 12;
    renderPreview(1);
    EXPECT_EQ(preview, fullRender());
}

TEST_F(PreviewRender, ARestartRebuildsTheMaskFromTheFrameNowShown) {
    renderPreview(0);
    const std::vector<uint32_t> frame0 = preview;
    useFrames(pictureFrame(2), titleFrame(2));
    renderPreview(8); // without a restart the old mask stays
    EXPECT_EQ(previewTrace.setUp, 0);
    previewNeedsSetup = 1;
    renderPreview(8);
    EXPECT_EQ(previewTrace.setUp, 1);
    EXPECT_EQ(previewTrace.stages, kAll);
    EXPECT_EQ(previewNeedsSetup, 0);
    EXPECT_NE(preview, frame0);

    // The same as a first render of that frame.
    const std::vector<uint32_t> restarted = preview;
    engineTeardown();
    driverState.engineReady = 0;
    releaseWorkBuffers();
    renderPreview(0);
    EXPECT_EQ(preview, restarted);
}

TEST_F(PreviewRender, AFailureBlocksEveryStepUntilARestart) {
    renderPreview(0);
    const std::vector<uint32_t> good = preview;
    driverState.engineError = 3;
    std::fill(preview.begin(), preview.end(), 0u);
    for (int32_t step : {4, 8, 1, 0, 9}) {
        SCOPED_TRACE(step);
        EXPECT_EQ(renderPreview(step), 0);
        EXPECT_EQ(previewTrace.stages, 0u);
        EXPECT_EQ(previewTrace.shown, 0);
    }
    EXPECT_EQ(preview, std::vector<uint32_t>(preview.size(), 0u));
    previewNeedsSetup = 1;
    EXPECT_EQ(renderPreview(8), 0);
    EXPECT_EQ(driverState.engineError, 0);
    for (size_t i = 0; i < preview.size(); ++i) ASSERT_EQ(preview[i] >> 8, good[i] >> 8);
}

TEST_F(PreviewRender, WithoutTheMetalPatternTheFailureIsLoggedAndNothingShown) {
    const std::string metal = home.path() + "/lustra/metal.pat";
    std::filesystem::rename(metal, metal + ".away");
    EXPECT_EQ(renderPreview(0), 0);
    EXPECT_EQ(host.loggedLines(), (std::vector<int32_t>{2299, 2323}));
    EXPECT_EQ(previewTrace.shown, 0);
    EXPECT_EQ(displays, 0);
    EXPECT_EQ(driverState.engineReady, 0);
    std::filesystem::rename(metal + ".away", metal);
    previewNeedsSetup = 1;
    EXPECT_EQ(renderPreview(0), 0);
    EXPECT_EQ(previewTrace.shown, 1);
}

TEST_F(PreviewRender, WorkBuffersOfAnotherSizeAreReplaced) {
    ASSERT_EQ(allocateWorkBuffers(10, 6), 0);
    previewNeedsSetup = 1;
    EXPECT_EQ(renderPreview(0), 0);
    EXPECT_EQ(driverState.width, kFrameWidth);
    EXPECT_EQ(driverState.height, kFrameHeight);
    EXPECT_EQ(previewTrace.shown, 1);
}

TEST_F(PreviewRender, AStaleMaskFlagDoesNotSkipBuildingANewMask) {
    driverState.maskBuilt = 1; // from an earlier render
    driverState.maskNotEmpty = 1;
    renderPreview(0);
    const std::vector<uint32_t> shown = preview;
    engineTeardown();
    driverState.engineReady = 0;
    releaseWorkBuffers();
    driverState.maskBuilt = 0;
    renderPreview(0);
    EXPECT_EQ(preview, shown);
}
