// The widgets of the dialog backend: the screen and monitor windows with
// their overlay pictures, panels, and the gadgets Qt has no ready widget for
// (the value slider, the colour button).
#pragma once

#include <QFrame>
#include <QImage>
#include <QPushButton>
#include <QWidget>

#include <cstdint>
#include <functional>

namespace lustra::gui {

// Host pixels (YCbCr with alpha) to an RGB32 picture, with the module's
// conversion; `strideBytes` between rows.
void hostPixelsToImage(const uint32_t *pixels, int strideBytes, int width, int height,
                       QImage &target, int x, int y);
// A resource image's host pixels to ARGB32 (the alpha byte as alpha).
QImage hostImageToQImage(const uint32_t *pixels, int width, int height);
// An RGB colour as the record's YCbCr word (module conversion), keeping `alpha`.
uint32_t colourToHost(const QColor &colour, uint8_t alpha);
QColor hostToColour(uint32_t word);

// A window showing an overlay picture (the monitor-2 "video output").
class OverlayWindow : public QWidget {
  public:
    OverlayWindow(int width, int height);
    QImage &overlay() { return overlay_; }

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    QImage overlay_;
};

class MonitorWindow : public OverlayWindow {
  public:
    using OverlayWindow::OverlayWindow;
};

// The dialog's screen: the overlay under the request's panels; pointer
// moves and buttons over the uncovered parts (the preview) are reported.
class ScreenWindow : public OverlayWindow {
  public:
    ScreenWindow(int width, int height);
    std::function<void(int x, int y)> onPointerMoved;
    std::function<void(int button, int x, int y)> onPointerButton;
    std::function<void()> onClose;

  protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
};

// A panel: a raised frame; the preview frame (`previewFrame`) paints only
// its border and lets the pointer through to the screen.
class PanelFrame : public QFrame {
  public:
    PanelFrame(QWidget *parent, bool previewFrame, bool outer);

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    bool preview_, outer_;
};

// A horizontal value slider showing its value text on the bar. Dragging
// reports changing values, releasing reports the final one (code 4);
// keys and the wheel report final values (code 3).
class ValueSlider : public QWidget {
  public:
    ValueSlider(QWidget *parent, int minimum, int maximum, int value);
    int value() const { return value_; }
    int maximum() const { return maximum_; }
    void setValue(int value);
    void setMaximum(int maximum);
    std::function<QString(int)> format;
    std::function<void(int value, int code)> onChanged;

  protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

  private:
    int valueAt(int x) const;
    void userSet(int value, int code);
    int minimum_, maximum_, value_;
    bool dragging_ = false;
};

// A button showing a colour.
class ColourButton : public QPushButton {
  public:
    ColourButton(QWidget *parent, const QColor &colour);
    void setColour(const QColor &colour);
    QColor colour() const { return colour_; }

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    QColor colour_;
};

} // namespace lustra::gui
