// The requesters of the dialog backend: message boxes, the colour chooser,
// the preset file chooser, the Load / Save / Delete chooser and the clip
// chooser. The default implementation shows Qt dialogs; tests replace it.
#pragma once

#include <QColor>
#include <QString>

#include <optional>

class QWidget;

namespace lustra::gui {

enum class PresetAction { Load = 4, Save = 5, Delete = 6 };
enum class FileMode { Load = 1, Save = 2, Delete = 3 };

class Requesters {
  public:
    virtual ~Requesters() = default;
    // A message; with `question` a yes/no question: true for yes (or OK).
    virtual bool text(QWidget *parent, const QString &text, bool question);
    // A colour, or none when cancelled.
    virtual std::optional<QColor> colour(QWidget *parent, const QColor &initial);
    // A preset file in `directory` (which exists), or none.
    virtual std::optional<QString> file(QWidget *parent, FileMode mode, const QString &directory,
                                        const QString &defaultName);
    // Load, save or delete a preset, or none.
    virtual std::optional<PresetAction> presets(QWidget *parent, const QString &title);
    // A picture or video for a picture source, starting at `current` (a path or
    // empty), or none.
    virtual std::optional<QString> clip(QWidget *parent, const QString &current);
};

} // namespace lustra::gui
