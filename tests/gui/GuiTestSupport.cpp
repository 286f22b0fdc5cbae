#include "GuiTestSupport.h"

#include "DemoPictures.h"
#include "FrameSources.h"
#include "Widgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace lustra::guitest {

Home::Home() {
    char pattern[] = "/tmp/lustra-gui-XXXXXX";
    const char *dir = mkdtemp(pattern);
    if (!dir) throw std::runtime_error("cannot create a scratch folder");
    path_ = dir;
    fs::copy(LUSTRA_DATA_DIR, path_, fs::copy_options::recursive);
    fs::create_directories(path_ + "/programs/lustra/settings");
    setenv("VXHOME", path_.c_str(), 1);
}

Home::~Home() {
    unsetenv("VXHOME");
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::unique_ptr<cli::FrameSource> titleClip(int width, int height, int frames) {
    return cli::paintedSource("title", width, height, frames, false,
                              [frames](int64_t frame, int w, int h, std::vector<uint8_t> &rgba) {
                                  cli::paintDemoTitle(frames > 1 ? double(frame) / (frames - 1) : 0,
                                                      w, h, rgba);
                              });
}

std::unique_ptr<cli::FrameSource> backgroundClip(int width, int height, int frames) {
    return cli::paintedSource("background", width, height, frames, false,
                              [frames](int64_t frame, int w, int h, std::vector<uint8_t> &rgba) {
                                  cli::paintDemoBackground(
                                      frames > 1 ? double(frame) / (frames - 1) : 0, w, h, rgba);
                              });
}

bool ScriptedRequesters::text(QWidget *, const QString &text, bool) {
    script_->textsAsked.push_back(text);
    if (script_->texts.empty()) return false;
    const bool answer = script_->texts.front();
    script_->texts.pop_front();
    return answer;
}

std::optional<QColor> ScriptedRequesters::colour(QWidget *, const QColor &initial) {
    script_->coloursAsked.push_back(initial);
    if (script_->colours.empty()) return std::nullopt;
    const QColor answer = script_->colours.front();
    script_->colours.pop_front();
    return answer;
}

std::optional<QString> ScriptedRequesters::file(QWidget *, gui::FileMode, const QString &directory,
                                                const QString &defaultName) {
    script_->directoriesAsked.push_back(directory);
    script_->defaultNamesAsked.push_back(defaultName);
    if (script_->files.empty()) return std::nullopt;
    const QString answer = script_->files.front();
    script_->files.pop_front();
    return answer;
}

std::optional<gui::PresetAction> ScriptedRequesters::presets(QWidget *, const QString &) {
    if (script_->presets.empty()) return std::nullopt;
    const gui::PresetAction answer = script_->presets.front();
    script_->presets.pop_front();
    return answer;
}

std::optional<QString> ScriptedRequesters::clip(QWidget *, const QString &) {
    if (script_->clips.empty()) return std::nullopt;
    const QString answer = script_->clips.front();
    script_->clips.pop_front();
    return answer;
}

QImage grabScreen(gui::QtDialogHost &host) {
    QWidget *screen = host.screenWindow();
    if (!screen) return {};
    QApplication::processEvents();
    return screen->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QRect previewRect(gui::QtDialogHost &host) {
    QWidget *screen = host.screenWindow();
    if (!screen) return {};
    for (QWidget *child : screen->findChildren<gui::PanelFrame *>(Qt::FindDirectChildrenOnly))
        if (child->isVisible() && child->testAttribute(Qt::WA_TransparentForMouseEvents))
            return child->geometry().adjusted(4, 4, -4, -4);
    return {};
}

void click(QWidget *widget, QPoint at) {
    ASSERT_NE(widget, nullptr);
    if (auto *button = qobject_cast<QAbstractButton *>(widget); button && at == QPoint(-1, -1)) {
        button->click(); // press and release as the button sees them
        return;
    }
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, at);
}

void pointerMove(QWidget *widget, QPoint at) {
    QMouseEvent event(QEvent::MouseMove, QPointF(at), widget->mapToGlobal(QPointF(at)),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void pointerPress(QWidget *widget, QPoint at, Qt::MouseButton button) {
    QMouseEvent event(QEvent::MouseButtonPress, QPointF(at), widget->mapToGlobal(QPointF(at)),
                      button, button, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void key(QWidget *widget, int key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(widget, Qt::Key(key), modifiers);
}

} // namespace lustra::guitest

int main(int argc, char **argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
