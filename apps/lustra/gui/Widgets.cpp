#include "Widgets.h"

#include "Colour.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>
#include <QWheelEvent>

#include <algorithm>

namespace lustra::gui {

void hostPixelsToImage(const uint32_t *pixels, int strideBytes, int width, int height,
                       QImage &target, int x, int y) {
    if (!pixels || width <= 0 || height <= 0 || strideBytes < 4 * width) return;
    const int stride = strideBytes / 4;
    for (int row = 0; row < height; ++row) {
        const int ty = y + row;
        if (ty < 0 || ty >= target.height()) continue;
        auto *out = reinterpret_cast<QRgb *>(target.scanLine(ty));
        const uint32_t *in = pixels + size_t(row) * size_t(stride);
        for (int column = 0; column < width; ++column) {
            const int tx = x + column;
            if (tx < 0 || tx >= target.width()) continue;
            uint8_t rgb[3];
            cli::hostToRgb(in[column], rgb);
            out[tx] = qRgb(rgb[0], rgb[1], rgb[2]);
        }
    }
}

QImage hostImageToQImage(const uint32_t *pixels, int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const uint32_t pixel = pixels[size_t(y) * size_t(width) + size_t(x)];
            uint8_t rgb[3];
            cli::hostToRgb(pixel, rgb);
            out[x] = qRgba(rgb[0], rgb[1], rgb[2], int(pixel & 0xFF));
        }
    }
    return image;
}

uint32_t colourToHost(const QColor &colour, uint8_t alpha) {
    return cli::rgbToHost(uint8_t(colour.red()), uint8_t(colour.green()), uint8_t(colour.blue()),
                          alpha);
}

QColor hostToColour(uint32_t word) {
    uint8_t rgb[3];
    cli::hostToRgb(word, rgb);
    return QColor(rgb[0], rgb[1], rgb[2]);
}

// --- Windows -----------------------------------------------------------------

OverlayWindow::OverlayWindow(int width, int height)
    : overlay_(std::max(width, 1), std::max(height, 1), QImage::Format_RGB32) {
    overlay_.fill(QColor(16, 16, 18));
    setFixedSize(overlay_.size());
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void OverlayWindow::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.drawImage(0, 0, overlay_);
}

ScreenWindow::ScreenWindow(int width, int height) : OverlayWindow(width, height) {
    setMouseTracking(true);
}

void ScreenWindow::mouseMoveEvent(QMouseEvent *event) {
    if (onPointerMoved)
        onPointerMoved(event->position().toPoint().x(), event->position().toPoint().y());
}

void ScreenWindow::mousePressEvent(QMouseEvent *event) {
    int button = 0;
    if (event->button() == Qt::LeftButton) button = 1;
    if (event->button() == Qt::RightButton) button = 2;
    if (button != 0 && onPointerButton)
        onPointerButton(button, event->position().toPoint().x(), event->position().toPoint().y());
}

void ScreenWindow::closeEvent(QCloseEvent *event) {
    // The dialog decides when the window goes: it hears a close message.
    event->ignore();
    if (onClose) onClose();
}

// --- Panels --------------------------------------------------------------------

PanelFrame::PanelFrame(QWidget *parent, bool previewFrame, bool outer)
    : QFrame(parent), preview_(previewFrame), outer_(outer) {
    if (preview_) setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground, preview_);
}

void PanelFrame::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QRect r = rect();
    if (preview_) {
        // A sunken 4-pixel frame around the preview picture.
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(10, 10, 12));
        painter.drawRect(0, 0, r.width(), 4);
        painter.drawRect(0, r.height() - 4, r.width(), 4);
        painter.drawRect(0, 0, 4, r.height());
        painter.drawRect(r.width() - 4, 0, 4, r.height());
        painter.setPen(QColor(90, 96, 108));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(r.adjusted(0, 0, -1, -1));
        return;
    }
    painter.fillRect(r, outer_ ? QColor(34, 36, 42) : palette().color(QPalette::Window));
    painter.setPen(QColor(78, 82, 92));
    painter.drawRect(r.adjusted(0, 0, -1, -1));
    painter.setPen(QColor(20, 21, 24));
    painter.drawLine(r.left() + 1, r.bottom() - 1, r.right() - 1, r.bottom() - 1);
}

// --- Value slider ----------------------------------------------------------------

ValueSlider::ValueSlider(QWidget *parent, int minimum, int maximum, int value)
    : QWidget(parent), minimum_(minimum), maximum_(std::max(minimum, maximum)),
      value_(std::clamp(value, minimum_, maximum_)) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::SizeHorCursor);
}

void ValueSlider::setValue(int value) {
    value_ = std::clamp(value, minimum_, maximum_);
    update();
}

void ValueSlider::setMaximum(int maximum) {
    maximum_ = std::max(minimum_, maximum);
    value_ = std::clamp(value_, minimum_, maximum_);
    update();
}

int ValueSlider::valueAt(int x) const {
    const int span = std::max(1, width() - 4);
    const double fraction = std::clamp(double(x - 2) / span, 0.0, 1.0);
    return minimum_ + int(fraction * (maximum_ - minimum_) + 0.5);
}

void ValueSlider::userSet(int value, int code) {
    value = std::clamp(value, minimum_, maximum_);
    const bool changed = value != value_;
    value_ = value;
    update();
    if ((changed || code != 1) && onChanged) onChanged(value_, code);
}

void ValueSlider::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const bool enabled = isEnabled();
    painter.setPen(hasFocus() ? QColor(120, 170, 230) : QColor(70, 74, 84));
    painter.setBrush(QColor(22, 23, 27));
    painter.drawRoundedRect(r, 3, 3);
    const double fraction =
        maximum_ > minimum_ ? double(value_ - minimum_) / double(maximum_ - minimum_) : 0.0;
    QRectF fill = r.adjusted(2, 2, -2, -2);
    fill.setWidth(fill.width() * fraction);
    painter.setPen(Qt::NoPen);
    painter.setBrush(enabled ? QColor(58, 104, 160) : QColor(60, 62, 68));
    painter.drawRoundedRect(fill, 2, 2);
    painter.setPen(enabled ? QColor(235, 238, 242) : QColor(120, 122, 128));
    const QString text = format ? format(value_) : QString::number(value_);
    painter.drawText(rect(), Qt::AlignCenter, text);
}

void ValueSlider::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) return;
    dragging_ = true;
    userSet(valueAt(event->position().toPoint().x()), 1);
}

void ValueSlider::mouseMoveEvent(QMouseEvent *event) {
    if (dragging_) userSet(valueAt(event->position().toPoint().x()), 1);
}

void ValueSlider::mouseReleaseEvent(QMouseEvent *event) {
    if (!dragging_ || event->button() != Qt::LeftButton) return;
    dragging_ = false;
    userSet(valueAt(event->position().toPoint().x()), 4);
}

void ValueSlider::keyPressEvent(QKeyEvent *event) {
    const int page = std::max(1, (maximum_ - minimum_) / 10);
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
        userSet(value_ - 1, 3);
        break;
    case Qt::Key_Right:
    case Qt::Key_Up:
        userSet(value_ + 1, 3);
        break;
    case Qt::Key_PageDown:
        userSet(value_ - page, 3);
        break;
    case Qt::Key_PageUp:
        userSet(value_ + page, 3);
        break;
    case Qt::Key_Home:
        userSet(minimum_, 3);
        break;
    case Qt::Key_End:
        userSet(maximum_, 3);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void ValueSlider::wheelEvent(QWheelEvent *event) {
    const int steps = event->angleDelta().y() / 120;
    if (steps != 0) userSet(value_ + steps, 3);
}

// --- Colour button --------------------------------------------------------------

ColourButton::ColourButton(QWidget *parent, const QColor &colour)
    : QPushButton(parent), colour_(colour) {}

void ColourButton::setColour(const QColor &colour) {
    colour_ = colour;
    update();
}

void ColourButton::paintEvent(QPaintEvent *event) {
    QPushButton::paintEvent(event);
    QPainter painter(this);
    const QRect swatch = rect().adjusted(5, 5, -5, -5);
    painter.fillRect(swatch, isEnabled() ? colour_ : colour_.darker(250));
    painter.setPen(QColor(0, 0, 0, 160));
    painter.drawRect(swatch.adjusted(0, 0, -1, -1));
}

} // namespace lustra::gui
