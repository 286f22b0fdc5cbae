// Helpers of the dialog backend's tests: a VXHOME of their own, generated
// clips, requesters that answer from a script, and pictures of the windows.
#pragma once

#include "EditSession.h"
#include "QtDialogHost.h"

#include <QImage>

#include <deque>
#include <memory>
#include <optional>
#include <string>

namespace lustra::guitest {

// A scratch VXHOME (the build's data files copied), set in the environment
// while the object lives.
class Home {
  public:
    Home();
    ~Home();
    Home(const Home &) = delete;
    Home &operator=(const Home &) = delete;
    const std::string &path() const { return path_; }
    std::string settingsPath(const std::string &name = "last.prf") const {
        return path_ + "/programs/lustra/settings/" + name;
    }

  private:
    std::string path_;
};

// The demo's title and background as clips of `frames` frames.
std::unique_ptr<cli::FrameSource> titleClip(int width, int height, int frames);
std::unique_ptr<cli::FrameSource> backgroundClip(int width, int height, int frames);

// Requesters answering from queues (cancelled when a queue is empty); what
// they were asked is recorded.
class ScriptedRequesters : public gui::Requesters {
  public:
    struct Script {
        std::deque<bool> texts;
        std::deque<QColor> colours;
        std::deque<QString> files;
        std::deque<gui::PresetAction> presets;
        std::deque<QString> clips;
        std::vector<QColor> coloursAsked;
        std::vector<QString> textsAsked;
        std::vector<QString> directoriesAsked, defaultNamesAsked;
    };
    explicit ScriptedRequesters(std::shared_ptr<Script> script) : script_(std::move(script)) {}
    bool text(QWidget *, const QString &text, bool) override;
    std::optional<QColor> colour(QWidget *, const QColor &initial) override;
    std::optional<QString> file(QWidget *, gui::FileMode, const QString &directory,
                                const QString &defaultName) override;
    std::optional<gui::PresetAction> presets(QWidget *, const QString &) override;
    std::optional<QString> clip(QWidget *, const QString &) override;

  private:
    std::shared_ptr<Script> script_;
};

// The screen window as it shows now.
QImage grabScreen(gui::QtDialogHost &host);
// The rectangle of the preview picture inside the screen window (empty when
// the layout has no preview frame).
QRect previewRect(gui::QtDialogHost &host);

// Real input: a click, a pointer move or a key on a widget.
void click(QWidget *widget, QPoint at = QPoint(-1, -1));
void pointerMove(QWidget *widget, QPoint at);
void pointerPress(QWidget *widget, QPoint at, Qt::MouseButton button = Qt::LeftButton);
void key(QWidget *widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

} // namespace lustra::guitest
