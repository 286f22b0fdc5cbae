// `lustra edit` end to end on the offscreen platform: the module's dialog on
// a generated clip, driven through the real widgets; the settings file
// afterwards and the preview against a render of the same settings.
#include "GuiTestSupport.h"

#include "Colour.h"
#include "RenderSetup.h"
#include "SettingsRecord.h"
#include "TitleCanvas.h"
#include "Widgets.h"

#include <QApplication>
#include <QDir>
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

namespace lustra::guitest {
namespace {

using Step = std::function<void(gui::QtDialogHost &)>;

constexpr int kClipWidth = 320, kClipHeight = 180, kClipFrames = 4;

// Runs the dialog; each step runs when the dialog waits for the user, the
// dialog is closed when the steps are done.
gui::EditOutcome runDialog(std::deque<Step> steps, gui::ScreenSetup screen,
                           std::shared_ptr<ScriptedRequesters::Script> script,
                           bool secondLayers = false) {
    gui::EditRequest request;
    request.title = titleClip(kClipWidth, kClipHeight, kClipFrames);
    request.background = backgroundClip(kClipWidth, kClipHeight, kClipFrames);
    request.reopenTitle = [] { return titleClip(kClipWidth, kClipHeight, kClipFrames); };
    request.reopenBackground = [] { return backgroundClip(kClipWidth, kClipHeight, kClipFrames); };
    request.screen = screen;
    request.secondLayers = secondLayers;
    request.quiet = true;
    request.requesters = std::make_unique<ScriptedRequesters>(script);
    auto pending = std::make_shared<std::deque<Step>>(std::move(steps));
    request.prepare = [pending](gui::QtDialogHost &host) {
        host.onIdle = [pending, &host] {
            if (pending->empty()) {
                if (host.screenWindow()) host.screenWindow()->close();
                return true;
            }
            Step step = std::move(pending->front());
            pending->pop_front();
            step(host);
            return true;
        };
    };
    return gui::runEdit(request);
}

gui::ScreenSetup smallScreen() {
    gui::ScreenSetup screen;
    screen.width = 1024;
    screen.height = 640;
    return screen;
}

// Names of the fields where two records differ.
std::set<std::string> changedFields(const cli::Record &a, const cli::Record &b) {
    std::set<std::string> out;
    for (const cli::FieldInfo &field : cli::recordFields())
        if (cli::fieldValue(a, field) != cli::fieldValue(b, field)) out.insert(field.name);
    return out;
}

int64_t field(const cli::Record &record, const char *name) {
    return cli::fieldValue(record, *cli::findField(name));
}

int channelDistance(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

TEST(EditDialog, MouseEditsReachTheSettingsFileAndThePreviewMatchesARender) {
    Home home;
    auto script = std::make_shared<ScriptedRequesters::Script>();
    script->colours.push_back(QColor(200, 40, 30));
    QImage before, after;
    QRect preview;
    int bevelWidth = -1;
    std::deque<Step> steps;
    steps.push_back([&](gui::QtDialogHost &host) {
        before = grabScreen(host);
        preview = previewRect(host);
        auto *slider =
            dynamic_cast<gui::ValueSlider *>(host.widgetOf(host.findGadget("Bevel width")));
        ASSERT_NE(slider, nullptr);
        click(slider, QPoint(slider->width() * 4 / 5, slider->height() / 2));
        bevelWidth = slider->value();
    });
    steps.push_back([](gui::QtDialogHost &host) { click(host.widgetOf(host.pageButton(1))); });
    steps.push_back(
        [](gui::QtDialogHost &host) { click(host.widgetOf(host.findGadget("Place the light"))); });
    steps.push_back([&](gui::QtDialogHost &host) {
        // The light follows the pointer over the preview until the click.
        pointerMove(host.screenWindow(), preview.topLeft() + QPoint(preview.width() / 2 + 30, 40));
    });
    steps.push_back([&](gui::QtDialogHost &host) {
        pointerMove(host.screenWindow(),
                    preview.topLeft() + QPoint(preview.width() / 5, preview.height() / 5));
    });
    steps.push_back([&](gui::QtDialogHost &host) {
        pointerPress(host.screenWindow(),
                     preview.topLeft() + QPoint(preview.width() / 5, preview.height() / 5));
    });
    steps.push_back([](gui::QtDialogHost &host) { click(host.widgetOf(host.pageButton(6))); });
    steps.push_back([](gui::QtDialogHost &host) {
        // The page's view popup, from the keyboard: the colours.
        QWidget *view = host.widgetOf(host.findGadget("Object fill view"));
        ASSERT_NE(view, nullptr);
        key(view, Qt::Key_Down);
    });
    steps.push_back(
        [](gui::QtDialogHost &host) { click(host.widgetOf(host.findGadget("Surface colour"))); });
    steps.push_back([&](gui::QtDialogHost &host) { after = grabScreen(host); });
    const gui::EditOutcome outcome = runDialog(std::move(steps), smallScreen(), script);
    ASSERT_EQ(outcome.exitCode, 0);
    ASSERT_FALSE(preview.isEmpty());
    ASSERT_FALSE(after.isNull());

    // The file holds exactly the edits: the page shown, the bevel width, the
    // light's place, the surface colour and the clip's length.
    const cli::RecordFile saved = cli::readRecordFile(home.settingsPath());
    ASSERT_TRUE(saved.exists);
    EXPECT_EQ(changedFields(cli::defaultRecord(), saved.record),
              (std::set<std::string>{"currentPage", "bevelWidth", "offsetX", "offsetY",
                                     "fill1ColourA", "fill1View", "previewFrameCount"}));
    EXPECT_EQ(field(saved.record, "currentPage"), 6);
    EXPECT_EQ(field(saved.record, "bevelWidth"), bevelWidth);
    EXPECT_EQ(field(saved.record, "previewFrameCount"), kClipFrames);
    EXPECT_LT(field(saved.record, "offsetX"), 0); // clicked up and to the left of the centre
    EXPECT_LT(field(saved.record, "offsetY"), 0);
    EXPECT_EQ(field(saved.record, "fill1View"), 1);
    EXPECT_EQ(uint32_t(field(saved.record, "fill1ColourA")), cli::rgbToHost(200, 40, 30, 0xFF));
    ASSERT_EQ(script->coloursAsked.size(), 1u);
    EXPECT_EQ(script->coloursAsked[0].rgb(),
              gui::hostToColour(uint32_t(field(cli::defaultRecord(), "fill1ColourA"))).rgb());

    // The preview followed.
    EXPECT_NE(before.copy(preview), after.copy(preview));

    // The preview shows what lustra render makes of the same settings.
    cli::RenderCommand render;
    render.titleSource = titleClip(kClipWidth, kClipHeight, kClipFrames);
    render.backgroundSource = backgroundClip(kClipWidth, kClipHeight, kClipFrames);
    render.output = home.path() + "/still.png";
    render.firstFrame = render.lastFrame = 0;
    render.rangeGiven = true;
    render.quiet = true;
    ASSERT_EQ(cli::runRenderCommand(render), 0);
    const cli::HostFrame rendered = cli::loadPicture(render.output);
    if (const char *dump = std::getenv("LUSTRA_GUI_TEST_DUMP")) {
        after.copy(preview).save(QString(dump) + "/preview.png");
        std::filesystem::copy_file(render.output, std::string(dump) + "/render.png",
                                   std::filesystem::copy_options::overwrite_existing);
    }
    int mismatches = 0;
    for (int j = 1; j < 6; ++j)
        for (int i = 1; i < 6; ++i) {
            const int px = preview.width() * i / 6, py = preview.height() * j / 6;
            const int fx = px * kClipWidth / preview.width(),
                      fy = py * kClipHeight / preview.height();
            // Scaling moves edges by up to a pixel: the nearest of the 3 x 3
            // rendered pixels around the spot counts.
            const QRgb shown = after.pixel(preview.x() + px, preview.y() + py);
            int best = 255;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int x = std::clamp(fx + dx, 0, kClipWidth - 1);
                    const int y = std::clamp(fy + dy, 0, kClipHeight - 1);
                    uint8_t rgb[3];
                    cli::hostToRgb(rendered.row(y)[x], rgb);
                    best = std::min(best, channelDistance(shown, qRgb(rgb[0], rgb[1], rgb[2])));
                }
            if (best > 16) {
                ++mismatches;
                ADD_FAILURE() << "preview and render differ by " << best << " at frame pixel " << fx
                              << ", " << fy;
            }
        }
    EXPECT_EQ(mismatches, 0);
}

#ifdef LUSTRA_HAVE_TEXT
TEST(EditDialog, TypedTitleShowsInThePreviewAsLustraRenderDrawsIt) {
    // lustra edit --text NEWS --background #203040 --size 320x180.
    Home home;
    cli::TitleOptions options;
    options.text = "NEWS";
    options.width = kClipWidth;
    options.height = kClipHeight;
    options.style.size = 30;
    const uint8_t colour[3] = {0x20, 0x30, 0x40};
    cli::ArrangedInputs inputs =
        cli::arrangeInputs(options, nullptr, nullptr, nullptr, colour, 1, 1, [](auto &) {});
    gui::EditRequest request;
    request.title = std::move(inputs.title);
    request.reopenTitle = inputs.reopenTitle;
    request.background = std::move(inputs.background);
    request.screen = smallScreen();
    request.quiet = true;
    request.requesters =
        std::make_unique<ScriptedRequesters>(std::make_shared<ScriptedRequesters::Script>());
    QImage shown;
    QRect preview;
    request.prepare = [&](gui::QtDialogHost &host) {
        host.onIdle = [&] {
            shown = grabScreen(host);
            preview = previewRect(host);
            if (host.screenWindow()) host.screenWindow()->close();
            return true;
        };
    };
    ASSERT_EQ(gui::runEdit(request).exitCode, 0);
    ASSERT_FALSE(shown.isNull());

    cli::RenderCommand render;
    render.titleOptions = options;
    render.background = "#203040";
    render.output = home.path() + "/text.png";
    render.quiet = true;
    render.useDefaults = true;
    ASSERT_EQ(cli::runRenderCommand(render), 0);
    const cli::HostFrame rendered = cli::loadPicture(render.output);
    ASSERT_EQ(rendered.width, kClipWidth);
    // Along the middle row, through the letters: the preview's pixels are
    // the render's (scaled to the preview, edges may move by a pixel), and
    // the letters are there.
    int mismatches = 0, lit = 0;
    for (int i = 1; i < 24; ++i) {
        const int px = preview.width() * i / 24, py = preview.height() / 2;
        const int fx = px * kClipWidth / preview.width(), fy = py * kClipHeight / preview.height();
        const QRgb pixel = shown.pixel(preview.x() + px, preview.y() + py);
        int best = 255;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                uint8_t rgb[3];
                cli::hostToRgb(
                    rendered.row(std::clamp(
                        fy + dy, 0, kClipHeight - 1))[std::clamp(fx + dx, 0, kClipWidth - 1)],
                    rgb);
                best = std::min(best, channelDistance(pixel, qRgb(rgb[0], rgb[1], rgb[2])));
            }
        mismatches += best > 16;
        lit += channelDistance(pixel, qRgb(0x20, 0x30, 0x40)) > 40;
    }
    if (const char *dump = std::getenv("LUSTRA_GUI_TEST_DUMP"))
        shown.copy(preview).save(QString(dump) + "/typed-preview.png");
    // The row crosses letter edges, which the preview's scaling moves.
    EXPECT_LE(mismatches, 2);
    EXPECT_GT(lit, 2) << "the letters show";
}
#endif

TEST(EditDialog, ReadsTheSettingsOfTheInstanceAndKeepsThemWhenNothingChanges) {
    Home home;
    cli::Record record = cli::defaultRecord();
    cli::assignField(record, "glowOn=on", false);
    cli::assignField(record, "bevelWidth=7", false);
    cli::writeRecordFile(home.settingsPath("logo.prf"), record);
    auto script = std::make_shared<ScriptedRequesters::Script>();
    gui::EditRequest request;
    request.title = titleClip(kClipWidth, kClipHeight, 1);
    request.background = backgroundClip(kClipWidth, kClipHeight, 1);
    request.instance = "logo";
    request.screen = smallScreen();
    request.quiet = true;
    request.requesters = std::make_unique<ScriptedRequesters>(script);
    int32_t shownWidth = -1;
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
    EXPECT_EQ(shownWidth, 7);
    const cli::RecordFile saved = cli::readRecordFile(home.settingsPath("logo.prf"));
    EXPECT_EQ(changedFields(record, saved.record), (std::set<std::string>{"previewFrameCount"}));
    EXPECT_FALSE(std::filesystem::exists(home.settingsPath()));
}

TEST(EditDialog, KeyboardChangesSettingsAndPresetsRoundTrip) {
    Home home;
    auto script = std::make_shared<ScriptedRequesters::Script>();
    const QString preset = QString::fromStdString(home.path()) + "/programs/lustra/glossy.prf";
    script->presets = {gui::PresetAction::Save, gui::PresetAction::Load};
    script->files = {preset, preset};
    script->texts = {true}; // reset: yes
    int widthBefore = -1;
    std::deque<Step> steps;
    steps.push_back([&](gui::QtDialogHost &host) {
        // Keys: "b" shows the bevel page; End moves the focused slider to
        // its maximum (a final value, code 3).
        auto *slider =
            dynamic_cast<gui::ValueSlider *>(host.widgetOf(host.findGadget("Bevel width")));
        ASSERT_NE(slider, nullptr);
        widthBefore = slider->value();
        slider->setFocus();
        key(slider, Qt::Key_End);
    });
    // "t" reaches the frame slider: the last frame, then one back (the clip
    // is read again from its start).
    steps.push_back([](gui::QtDialogHost &host) { key(host.screenWindow(), Qt::Key_T); });
    for (int pressed : {int(Qt::Key_End), int(Qt::Key_Left)})
        steps.push_back([pressed](gui::QtDialogHost &) {
            QWidget *focus = QApplication::focusWidget();
            ASSERT_NE(dynamic_cast<gui::ValueSlider *>(focus), nullptr)
                << "t focuses the frame slider";
            key(focus, pressed);
        });
    steps.push_back(
        [](gui::QtDialogHost &host) { key(host.screenWindow(), Qt::Key_R); }); // presets: save
    steps.push_back([](gui::QtDialogHost &host) {
        // Reset to defaults (Shift+Delete), confirmed.
        key(host.screenWindow(), Qt::Key_Delete, Qt::ShiftModifier);
    });
    steps.push_back(
        [](gui::QtDialogHost &host) { key(host.screenWindow(), Qt::Key_R); }); // presets: load
    runDialog(std::move(steps), smallScreen(), script);
    ASSERT_EQ(script->directoriesAsked.size(), 2u);
    EXPECT_EQ(script->directoriesAsked[0],
              QString::fromStdString(home.path()) + "/programs/lustra");
    EXPECT_EQ(script->defaultNamesAsked[1], "glossy.prf"); // the name chosen last
    ASSERT_EQ(script->textsAsked.size(), 1u);
    EXPECT_TRUE(script->textsAsked[0].startsWith("Reset every setting"));
    const cli::RecordFile saved = cli::readRecordFile(home.settingsPath());
    const cli::FieldInfo &bevel = *cli::findField("bevelWidth");
    EXPECT_EQ(cli::fieldValue(saved.record, bevel), bevel.maximum);
    EXPECT_NE(cli::fieldValue(saved.record, bevel), widthBefore);
    EXPECT_EQ(field(saved.record, "previewFrame"), kClipFrames - 2);
    EXPECT_EQ(cli::readRecordFile(preset.toStdString()).record[bevel.offset],
              saved.record[bevel.offset]);
}

TEST(EditDialog, GuiOnMonitorTwoFillsTheScreenAroundTheStrip) {
    Home home;
    auto script = std::make_shared<ScriptedRequesters::Script>();
    gui::ScreenSetup screen;
    screen.guiMonitor = 2;
    screen.monitor2Width = 960;
    screen.monitor2Height = 540;
    QImage shown;
    QSize size;
    std::deque<Step> steps;
    steps.push_back([&](gui::QtDialogHost &host) {
        shown = grabScreen(host);
        size = host.screenWindow()->size();
    });
    runDialog(std::move(steps), screen, script);
    EXPECT_EQ(size, QSize(960, 540));
    ASSERT_FALSE(shown.isNull());
    // The clip (16:9) fills the whole screen: the corners show the picture,
    // not the empty overlay.
    const QRgb empty = qRgb(16, 16, 18);
    EXPECT_NE(shown.pixel(5, 5), empty);
    EXPECT_NE(shown.pixel(954, 534), empty);
}

TEST(EditDialog, PresetsLoadListsTheShippedLooksAndLoadsOne) {
    Home home;
    const std::string looks = home.path() + "/programs/lustra/looks";
    auto script = std::make_shared<ScriptedRequesters::Script>();
    script->presets = {gui::PresetAction::Load};
    script->files = {QString::fromStdString(looks + "/neon-glow.prf")};
    std::deque<Step> steps;
    steps.push_back([](gui::QtDialogHost &host) {
        QWidget *slider = host.widgetOf(host.findGadget("Bevel width"));
        ASSERT_NE(slider, nullptr);
        slider->setFocus();
    });
    steps.push_back([](gui::QtDialogHost &host) { key(host.screenWindow(), Qt::Key_R); });
    steps.push_back([](gui::QtDialogHost &) {}); // the key is handled in between
    runDialog(std::move(steps), smallScreen(), script);
    // The requester opens in VXHOME/programs/lustra, whose folder looks/
    // holds every shipped look.
    ASSERT_EQ(script->directoriesAsked.size(), 1u);
    EXPECT_EQ(script->directoriesAsked[0],
              QString::fromStdString(home.path()) + "/programs/lustra");
    const QStringList listed =
        QDir(script->directoriesAsked[0] + "/looks").entryList({"*.prf"}, QDir::Files);
    for (const char *name : {"gold.prf", "chrome.prf", "neon-glow.prf", "glass.prf"})
        EXPECT_TRUE(listed.contains(name)) << name;
    EXPECT_GE(listed.size(), 12);
    const cli::RecordFile look = cli::readRecordFile(looks + "/neon-glow.prf");
    const cli::RecordFile saved = cli::readRecordFile(home.settingsPath());
    EXPECT_EQ(changedFields(look.record, saved.record),
              (std::set<std::string>{"previewFrameCount"}));
}

} // namespace
} // namespace lustra::guitest
