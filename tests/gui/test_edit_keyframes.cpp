// `lustra edit` with keyframes on the offscreen platform: the dialog opens on
// a frame with that frame's animated record, its preview matches an animated
// render of the frame, and the instance's file takes only the edits of the
// fields that are not animated.
#include "GuiTestSupport.h"

#include "Animation.h"
#include "Colour.h"
#include "Errors.h"
#include "RenderSetup.h"
#include "SettingsRecord.h"
#include "Widgets.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <filesystem>

namespace lustra::guitest {
namespace {

constexpr int kWidth = 320, kHeight = 180, kFrames = 4;

const std::vector<std::string> kKeys = {"bevelWidth=0:2,3:20", "glowOn=0:off,2:on",
                                        "glowColour1=0:#FF0000,3:#0000FF", "offsetX=0:-40,3:40"};

int64_t field(const cli::Record &record, const char *name) {
    return cli::fieldValue(record, *cli::findField(name));
}

// Sample points of the preview farther than scaling explains from the
// rendered frame (the nearest of the 3 x 3 pixels around each spot counts).
int mismatches(const QImage &screen, const QRect &preview, const cli::HostFrame &rendered) {
    int count = 0;
    for (int j = 1; j < 6; ++j)
        for (int i = 1; i < 6; ++i) {
            const int px = preview.width() * i / 6, py = preview.height() * j / 6;
            const int fx = px * kWidth / preview.width(), fy = py * kHeight / preview.height();
            const QRgb shown = screen.pixel(preview.x() + px, preview.y() + py);
            int best = 255;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    uint8_t rgb[3];
                    cli::hostToRgb(
                        rendered.row(std::clamp(fy + dy, 0,
                                                kHeight - 1))[std::clamp(fx + dx, 0, kWidth - 1)],
                        rgb);
                    best = std::min(best, std::max({std::abs(qRed(shown) - rgb[0]),
                                                    std::abs(qGreen(shown) - rgb[1]),
                                                    std::abs(qBlue(shown) - rgb[2])}));
                }
            if (best > 16) ++count;
        }
    return count;
}

TEST(EditKeyframes, OpensOnTheFramesAnimatedRecordAndKeepsKeyedFieldsOutOfTheFile) {
    Home home;
    cli::Record base = cli::defaultRecord();
    cli::assignField(base, "glowWidth=5", false);
    cli::writeRecordFile(home.settingsPath("logo.prf"), base);

    auto animation = std::make_shared<cli::Animation>();
    std::vector<std::string> warnings;
    for (const std::string &option : kKeys) animation->addOption(option, false, warnings);

    gui::EditRequest request;
    request.title = titleClip(kWidth, kHeight, kFrames);
    request.background = backgroundClip(kWidth, kHeight, kFrames);
    request.reopenTitle = [] { return titleClip(kWidth, kHeight, kFrames); };
    request.reopenBackground = [] { return backgroundClip(kWidth, kHeight, kFrames); };
    request.instance = "logo";
    request.screen.width = 1024;
    request.screen.height = 640;
    request.quiet = true;
    request.requesters =
        std::make_unique<ScriptedRequesters>(std::make_shared<ScriptedRequesters::Script>());
    request.animation = animation;
    request.animationFrame = 2;
    int step = 0, shownWidth = -1, editedWidth = -1;
    QImage screen;
    QRect preview;
    request.prepare = [&](gui::QtDialogHost &host) {
        host.onIdle = [&] {
            auto *slider =
                dynamic_cast<gui::ValueSlider *>(host.widgetOf(host.findGadget("Bevel width")));
            if (step == 0) {
                shownWidth = slider ? slider->value() : -2;
                screen = grabScreen(host);
                preview = previewRect(host);
                // An animated field and a field that is not.
                if (slider) click(slider, QPoint(slider->width() / 5, slider->height() / 2));
            } else if (step == 1) {
                editedWidth = slider ? slider->value() : -2;
                click(host.widgetOf(host.pageButton(3)));
            } else {
                host.screenWindow()->close();
            }
            ++step;
            return true;
        };
    };
    const gui::EditOutcome outcome = gui::runEdit(request);
    ASSERT_EQ(outcome.exitCode, 0);
    // Frame 2: 2 + 18 x 2/3 = 14.
    EXPECT_EQ(shownWidth, 14);
    ASSERT_NE(editedWidth, 14);

    const cli::RecordFile saved = cli::readRecordFile(home.settingsPath("logo.prf"));
    EXPECT_EQ(field(saved.record, "currentPage"), 3);
    EXPECT_EQ(field(saved.record, "glowWidth"), 5);
    for (const char *name : {"bevelWidth", "glowOn", "glowColour1", "offsetX"})
        EXPECT_EQ(field(saved.record, name), field(base, name)) << name;
    ASSERT_EQ(outcome.notes.size(), 1u);
    EXPECT_NE(outcome.notes[0].find("bevelWidth is animated: its change at frame 2 (14 -> " +
                                    std::to_string(editedWidth) + ") is not kept"),
              std::string::npos)
        << outcome.notes[0];
    EXPECT_TRUE(cli::readRecordFile(home.settingsPath("last.prf")).exists == false);
    for (const auto &entry :
         std::filesystem::directory_iterator(home.path() + "/programs/lustra/settings"))
        EXPECT_EQ(entry.path().filename().string().find(".edit-"), std::string::npos);

    // The preview of frame 2 is the animated render of frame 2 (with the
    // instance's own settings underneath), not the render without keys.
    auto render = [&](bool animated) {
        cli::RenderCommand command;
        command.titleSource = titleClip(kWidth, kHeight, kFrames);
        command.backgroundSource = backgroundClip(kWidth, kHeight, kFrames);
        command.settingsFile = home.path() + "/base.prf";
        cli::writeRecordFile(command.settingsFile, base);
        command.output = home.path() + (animated ? "/animated.png" : "/plain.png");
        command.firstFrame = command.lastFrame = 2;
        command.rangeGiven = true;
        command.quiet = true;
        if (animated) command.animations = kKeys;
        EXPECT_EQ(cli::runRenderCommand(command), 0);
        return cli::loadPicture(command.output);
    };
    ASSERT_FALSE(preview.isEmpty());
    EXPECT_EQ(mismatches(screen, preview, render(true)), 0);
    EXPECT_GT(mismatches(screen, preview, render(false)), 0);
}

TEST(EditKeyframes, FrameOutsideAClipIsAUsageErrorTwoPicturesTakeAnyFrame) {
    Home home;
    auto animation = std::make_shared<cli::Animation>();
    std::vector<std::string> warnings;
    animation->addOption("bevelWidth=0:2,3:20", false, warnings);
    gui::EditRequest request;
    request.title = titleClip(kWidth, kHeight, kFrames);
    request.background = backgroundClip(kWidth, kHeight, kFrames);
    request.quiet = true;
    request.animation = animation;
    request.animationFrame = kFrames;
    EXPECT_THROW(gui::runEdit(request), cli::UsageError);
    EXPECT_FALSE(std::filesystem::exists(home.settingsPath()));

    // Two pictures are the same at every frame: any frame's values show.
    request.title = cli::solidColourSource(255, 255, 255, kWidth, kHeight);
    request.background = cli::solidColourSource(20, 20, 60, kWidth, kHeight);
    request.screen.width = 1024;
    request.screen.height = 640;
    request.requesters =
        std::make_unique<ScriptedRequesters>(std::make_shared<ScriptedRequesters::Script>());
    request.animationFrame = 30;
    int shownWidth = -1;
    request.prepare = [&](gui::QtDialogHost &host) {
        host.onIdle = [&] {
            auto *slider =
                dynamic_cast<gui::ValueSlider *>(host.widgetOf(host.findGadget("Bevel width")));
            shownWidth = slider ? slider->value() : -2;
            host.screenWindow()->close();
            return true;
        };
    };
    ASSERT_EQ(gui::runEdit(request).exitCode, 0);
    EXPECT_EQ(shownWidth, 20);
    EXPECT_EQ(field(cli::readRecordFile(home.settingsPath()).record, "bevelWidth"), 8);
}

} // namespace
} // namespace lustra::guitest
