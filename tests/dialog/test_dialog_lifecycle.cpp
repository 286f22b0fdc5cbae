// Opening and closing the dialog: the frame shown, a clip without frames,
// failures while opening, both ways of closing, and what remains afterwards.
#include "dialog/DialogTest.h"

#include "driver/SourceImages.h"
#include "engine/Engine.h"

#include <filesystem>

using namespace lustra;
using namespace lustra::test;

namespace {

class DialogLifecycle : public DialogTest {
  protected:
    // Everything the dialog holds is released and the host got everything back.
    void expectClosedCleanly() {
        EXPECT_EQ(host.liveExtensions, 0);
        EXPECT_EQ(host.liveStringTables, 0);
        EXPECT_EQ(host.liveImageTables, 0);
        EXPECT_EQ(host.liveImages, 0);
        EXPECT_TRUE(host.live(ElementKind::Panel).empty());
        EXPECT_EQ(driverState.engineReady, 0);
        EXPECT_EQ(driverState.workPixels, nullptr);
        EXPECT_EQ(driverState.mask, nullptr);
        EXPECT_EQ(engine.paddedMask, nullptr);
        EXPECT_EQ(fieldState.inputFrame0, nullptr);
        EXPECT_EQ(fieldState.inputFrame1, nullptr);
        EXPECT_EQ(dialog.previewPicture, nullptr);
        EXPECT_EQ(dialog.previewFrame, nullptr);
        EXPECT_EQ(operatorState.sourcesCached, 0);
        for (const SourceImage &image : sourceImages) EXPECT_EQ(image.pixels, nullptr);
    }
};

} // namespace

TEST_F(DialogLifecycle, AClipWithoutFramesShowsOnlyTheMessage) {
    for (uint32_t fields : {0u, 1u}) {
        SCOPED_TRACE(fields);
        host.textsAsked.clear();
        host.requests.clear();
        prepare([](EffectSettings &s) { s.bevelWidth = 5; });
        const std::vector<uint8_t> before = record();
        context.fieldCount = fields;
        runDialog();
        ASSERT_EQ(host.textsAsked.size(), 1u);
        EXPECT_EQ(host.textsAsked[0].text, 1000);
        EXPECT_EQ(host.textsAsked[0].style, 1);
        EXPECT_TRUE(host.requests.empty());
        EXPECT_TRUE(host.fieldRequests.empty());
        EXPECT_EQ(settingsFile(), before);
        expectClosedCleanly();
    }
}

TEST_F(DialogLifecycle, TheCloseButtonEndsTheLoopAfterItsMessage) {
    host.gadgetEvent(host.byLabel(203), 19);
    host.gadgetEvent(host.guiButton(48));
    host.gadgetEvent(host.byLabel(203), 29); // never read
    runDialog();
    EXPECT_EQ(settingsFile()[11], 19);
    EXPECT_FALSE(host.ranDry);
    EXPECT_EQ(host.callsNamed("deleteRequest").size(), 1u);
    EXPECT_EQ(host.callsNamed("colorBarOn").size(), 1u);
    expectClosedCleanly();
}

TEST_F(DialogLifecycle, TheHostsCloseMessageEndsTheDialogAtOnce) {
    host.gadgetEvent(host.byLabel(204), 33);
    host.closeMessage();
    host.gadgetEvent(host.byLabel(204), 44); // never read
    runDialog();
    EXPECT_EQ(settingsFile()[12], 33);
    EXPECT_FALSE(host.ranDry);
    expectClosedCleanly();
}

TEST_F(DialogLifecycle, TheRememberedFrameIsShownWhenItLiesInTheClip) {
    struct Case {
        int16_t remembered, shown;
    };
    for (const Case c : {Case{1, 1}, Case{2, 2}, Case{3, 0}, Case{400, 0}, Case{-5, 0}}) {
        SCOPED_TRACE(c.remembered);
        prepare([c](EffectSettings &s) { s.previewFrame = c.remembered; });
        host.fieldRequests.clear();
        host.closeMessage();
        runDialog();
        ASSERT_FALSE(host.fieldRequests.empty());
        EXPECT_EQ(host.fieldRequests[0], (std::pair<int32_t, int32_t>{0, 2 * c.shown}));
        const std::vector<uint8_t> file = settingsFile();
        EXPECT_EQ(int16_t(file[820] | file[821] << 8), c.shown);
        EXPECT_EQ(int16_t(file[822] | file[823] << 8), kClipFrames);
    }
}

TEST_F(DialogLifecycle, AVeryLongClipKeepsItsFrameCountInSixteenBits) {
    context.fieldCount = 200000;
    host.then([] { EXPECT_EQ(settings.previewFrameCount, 32767); });
    host.closeMessage();
    runDialog();
}

TEST_F(DialogLifecycle, AFrameThatCannotBeFetchedClosesTheDialog) {
    host.missingFields.insert({0, 1});
    prepare([](EffectSettings &s) { s.bevelWidth = 4; });
    std::vector<uint8_t> expected = record();
    put16(expected, 822, kClipFrames);
    runDialog();
    EXPECT_EQ(host.loggedLines(), (std::vector<int32_t>{5755, 4328}));
    EXPECT_TRUE(host.requests.empty());
    EXPECT_EQ(settingsFile(), expected);
    expectClosedCleanly();
}

TEST_F(DialogLifecycle, AHostWithoutFrameGeometryClosesTheDialog) {
    host.refuseGeometry = true;
    runDialog();
    EXPECT_EQ(host.loggedLines(), std::vector<int32_t>{4328});
    EXPECT_TRUE(host.requests.empty());
    expectClosedCleanly();
}

TEST_F(DialogLifecycle, EachPreviewBufferThatCannotBeAllocatedClosesTheDialog) {
    for (int32_t allowed = 0; allowed < 4; ++allowed) {
        SCOPED_TRACE(allowed);
        host.logLines.clear();
        host.requests.clear();
        dialogAllocationLimit = allowed;
        runDialog();
        EXPECT_EQ(host.loggedLines(), std::vector<int32_t>{4333});
        EXPECT_TRUE(host.requests.empty());
        EXPECT_FALSE(readBytes(home.settingsPath()).empty());
        expectClosedCleanly();
    }
}

TEST_F(DialogLifecycle, ARequestThatCannotBeCreatedClosesTheDialogQuietly) {
    host.failRequest = true;
    runDialog();
    EXPECT_TRUE(host.logLines.empty());
    EXPECT_EQ(host.requests.size(), 1u);
    EXPECT_TRUE(host.callsNamed("deleteRequest").empty());
    EXPECT_TRUE(host.elements.empty());
    EXPECT_FALSE(readBytes(home.settingsPath()).empty());
    expectClosedCleanly();

    ScriptedHost noQueue;
    noQueue.clip[0] = host.clip[0];
    noQueue.clip[1] = host.clip[1];
    noQueue.noQueue = true;
    runDialog();
    EXPECT_TRUE(noQueue.requests.empty());
    EXPECT_TRUE(noQueue.elements.empty());
}

TEST_F(DialogLifecycle, AnEngineThatCannotBeSetUpIsReleasedOnClosing) {
    std::filesystem::remove(home.path() + "/lustra/metal.pat");
    host.gadgetEvent(host.byLabel(203), 3);
    host.then([] { EXPECT_EQ(previewTrace.shown, 0); });
    host.closeMessage();
    runDialog();
    EXPECT_EQ(host.loggedLines(), (std::vector<int32_t>{2299, 2323, 2299, 2323}));
    EXPECT_EQ(engine.rowOffset, nullptr);
    EXPECT_EQ(engine.stampMax, nullptr);
    EXPECT_TRUE(host.overlays.empty());
    EXPECT_EQ(settingsFile()[11], 3);
    expectClosedCleanly();
}

TEST_F(DialogLifecycle, TheFirstPreviewRendersEverythingWithTheSourcesLoaded) {
    prepare([](EffectSettings &s) { s.fill1Mode = 3; }); // the current frame of input 0
    host.then([this] {
        EXPECT_EQ(previewTrace.step, 0);
        EXPECT_EQ(previewTrace.stages, 0xFFu);
        EXPECT_EQ(previewTrace.shown, 1);
        EXPECT_EQ(driverState.engineReady, 1);
        // Busy pointer around the sources, then around the first render.
        EXPECT_EQ(host.busy, 2);
        EXPECT_EQ(host.standard, 2);
        EXPECT_NE(sourceImages[kLayerFill1].pixels, nullptr);
    });
    host.closeMessage();
    runDialog();
    expectClosedCleanly();
}

TEST_F(DialogLifecycle, ThePreviewShowsWhatTheRenderProduces) {
    // Monitor 2 matches the frame: its full-screen picture is the preview
    // frame unscaled.
    prepare([](EffectSettings &s) {
        s.glowOn = 1;
        s.texture1On = 1;
        s.map2On = 1;
    });
    flickerFilterOption.value = 1;
    host.gadgetEvent(host.frameSlider(), 1, 4);
    host.closeMessage();
    runDialog();
    ASSERT_FALSE(host.overlays.empty());
    const Overlay &shown = host.overlays.back();
    ASSERT_TRUE(shown.monitor);
    ASSERT_EQ(shown.width, kFrameWidth);
    ASSERT_EQ(shown.height, kFrameHeight);

    // The render of frame 1 with the same settings, woven from its two fields.
    context.action = 1;
    operatorAction(&context);
    host.putFields.clear();
    context.action = 3;
    context.fieldNumber = 2;
    ASSERT_EQ(operatorAction(&context), 0);
    ASSERT_EQ(host.putFields.size(), 2u);
    std::vector<uint32_t> rendered(size_t(kFrameWidth) * kFrameHeight);
    for (int32_t y = 0; y < kFrameHeight; ++y)
        for (int32_t x = 0; x < kFrameWidth; ++x)
            rendered[size_t(y) * kFrameWidth + x] =
                host.putFields[y % 2 == 1 ? 0 : 1].pixels[size_t(y / 2) * kFrameWidth + x];
    EXPECT_EQ(shown.pixels, rendered);
}

TEST_F(DialogLifecycle, AnEditLeavesTheRenderPathAsItWas) {
    auto renderFrame = [this] {
        host.putFields.clear();
        context.action = 3;
        context.fieldNumber = 0;
        EXPECT_EQ(operatorAction(&context), 0);
        return host.putFields.empty() ? std::vector<uint32_t>{} : host.putFields[0].pixels;
    };
    const std::vector<uint32_t> before = renderFrame();
    host.closeMessage();
    runDialog();
    context.action = 1;
    operatorAction(&context);
    EXPECT_EQ(renderFrame(), before);
}
