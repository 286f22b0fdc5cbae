#include "QtDialogHost.h"

#include "Widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPainterPath>
#include <QScreen>
#include <QShortcut>
#include <QToolButton>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace lustra::gui {

namespace {

constexpr uint32_t kPreviewPanelFlags = 0x400;
constexpr uint32_t kOuterPanelFlags = 0x100;
constexpr uint32_t kPageButtonState = 0x20000;
constexpr uint32_t kDisabledState = 2;
constexpr size_t kMaxText = 4096;
constexpr uint16_t kCodeActivated = 1;
constexpr int32_t kVideoMargin = 16;

// A text of the host's 16-bit characters (null: empty).
QString fromXChar(const XChar *text, size_t limit = kMaxText) {
    if (!text) return {};
    size_t length = 0;
    while (length < limit && text[length] != 0) ++length;
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(text), qsizetype(length));
}

void put16(GuiMessage &message, size_t offset, uint16_t value) {
    std::memcpy(message.bytes + offset, &value, 2);
}
void put32(GuiMessage &message, size_t offset, int32_t value) {
    std::memcpy(message.bytes + offset, &value, 4);
}
uint16_t kindOf(const GuiMessage &message) {
    uint16_t kind;
    std::memcpy(&kind, message.bytes + GUI_MESSAGE_KIND_OFFSET, 2);
    return kind;
}

// A value text of the resource formats ("%d", "%d %%").
QString formatValue(const QString &format, int value) {
    if (format.isEmpty()) return QString::number(value);
    QString out;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == 'd') {
                out += QString::number(value);
                ++i;
                continue;
            }
            if (format[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

QKeySequence keySequence(int32_t key) {
    const int32_t base = key & 0xFFFF;
    int qtKey = 0;
    if (base == kKeyDelete)
        qtKey = Qt::Key_Delete;
    else if (base == kKeyHelp)
        qtKey = Qt::Key_F1;
    else if (base >= 0x20 && base < 0xE000)
        qtKey = base;
    if (qtKey == 0) return {};
    QKeyCombination combination(Qt::NoModifier, Qt::Key(qtKey));
    Qt::KeyboardModifiers modifiers;
    if (key & kKeyControl) modifiers |= Qt::ControlModifier;
    if (key & kKeyShift) modifiers |= Qt::ShiftModifier;
    // Letters: an upper-case letter is the letter with Shift.
    if (base >= 'A' && base <= 'Z') {
        modifiers |= Qt::ShiftModifier;
        qtKey = base;
    } else if (base >= 'a' && base <= 'z') {
        qtKey = base - 'a' + 'A';
    }
    return QKeySequence(QKeyCombination(modifiers, Qt::Key(qtKey)));
}

// The icons of the GUI library's own resources, drawn at 20 x 20.
QImage drawGuiIcon(int32_t which) {
    QImage image(20, 20, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(QColor(225, 228, 235), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    switch (which) {
    case 20: // top / bottom
        painter.drawLine(QPointF(10, 3), QPointF(10, 17));
        painter.drawPolyline(QPolygonF({{6, 7}, {10, 3}, {14, 7}}));
        painter.drawPolyline(QPolygonF({{6, 13}, {10, 17}, {14, 13}}));
        break;
    case 43: // collapse
        painter.drawRect(QRectF(3.5, 5.5, 13, 9));
        painter.drawLine(QPointF(6, 10), QPointF(14, 10));
        break;
    case 48: // close
        painter.drawLine(QPointF(5, 5), QPointF(15, 15));
        painter.drawLine(QPointF(15, 5), QPointF(5, 15));
        break;
    case 69: { // info
        painter.drawEllipse(QRectF(2, 2, 16, 16));
        painter.drawLine(QPointF(10, 9), QPointF(10, 14.5));
        painter.drawPoint(QPointF(10, 6));
        break;
    }
    default:
        painter.drawRect(QRectF(4, 4, 12, 12));
    }
    return image;
}

// The narrowest a gadget may become: a popup shows its longest item.
int minimumWidth(QWidget *widget) {
    if (auto *popup = qobject_cast<QComboBox *>(widget)) {
        const QFontMetrics metrics(popup->font());
        int widest = 0;
        for (int i = 0; i < popup->count(); ++i)
            widest = std::max(widest, metrics.horizontalAdvance(popup->itemText(i)));
        return widest + 40;
    }
    return widget->width();
}

// The dialog's colours: light text on dark grey panels, as editing
// applications around video pictures look.
QPalette dialogPalette() {
    QPalette palette;
    const QColor window(52, 55, 62), base(30, 32, 36), text(228, 230, 235);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(66, 70, 79));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(58, 104, 160));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, QColor(250, 248, 225));
    palette.setColor(QPalette::ToolTipText, Qt::black);
    palette.setColor(QPalette::Light, QColor(90, 95, 106));
    palette.setColor(QPalette::Midlight, QColor(74, 78, 88));
    palette.setColor(QPalette::Mid, QColor(40, 42, 48));
    palette.setColor(QPalette::Dark, QColor(24, 25, 28));
    palette.setColor(QPalette::Shadow, Qt::black);
    const QColor disabled(120, 123, 130);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabled);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabled);
    palette.setColor(QPalette::Disabled, QPalette::Button, QColor(56, 59, 66));
    return palette;
}

} // namespace

struct QtDialogHost::Element {
    enum Kind { Panel, Slider, CheckBox, Popup, Button, ImageButton, TextGadget, Palette, Box };
    Kind kind = Panel;
    DgId parent = 0;
    QPointer<QWidget> widget;
    QPointer<QLabel> label;
    QString text; // label or button text
    QString help, keyText;
    uint32_t colourAlpha = 0xFF;
    int32_t resourceImage = 0; // resource image id of a page button
    ResTable *helpTable = nullptr;
};

struct QtDialogHost::Queue {
    std::deque<GuiMessage> messages;
    size_t capacity = 10;
    QEventLoop *waiting = nullptr;
};

struct QtDialogHost::Transfer {
    uint8_t descriptor[LFX_SOURCE_DESCRIPTOR_SIZE] = {};
    int32_t status = 0;
};

QtDialogHost::QtDialogHost(ScreenSetup setup, std::unique_ptr<Requesters> requesters)
    : setup_(setup),
      requesters_(requesters ? std::move(requesters) : std::make_unique<Requesters>()) {
    if (setup_.width <= 0 || setup_.height <= 0) {
        const QScreen *screen = QGuiApplication::primaryScreen();
        const QSize size = screen ? screen->size() : QSize(1280, 720);
        setup_.width = size.width();
        setup_.height = size.height();
    }
    if (setup_.monitor2Width <= 0 || setup_.monitor2Height <= 0) {
        setup_.monitor2Width = setup_.width;
        setup_.monitor2Height = setup_.height;
    }
    if (setup_.guiMonitor != 2) setup_.guiMonitor = 1;
    if (setup_.connectedMonitors != 2) setup_.connectedMonitors = 1;
    if (setup_.monitorAspect == 0) setup_.monitorAspect = 1000;
}

QtDialogHost::~QtDialogHost() {
    while (busyDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --busyDepth_;
    }
    elements_.clear();
    delete screen_.data();
    delete monitor_.data();
}

QWidget *QtDialogHost::screenWindow() const {
    return screen_.data();
}
QWidget *QtDialogHost::monitorWindow() const {
    return monitor_.data();
}

QtDialogHost::Element *QtDialogHost::find(DgId id) {
    auto found = elements_.find(id);
    return found == elements_.end() ? nullptr : found->second.get();
}
const QtDialogHost::Element *QtDialogHost::find(DgId id) const {
    auto found = elements_.find(id);
    return found == elements_.end() ? nullptr : found->second.get();
}

QWidget *QtDialogHost::widgetOf(DgId id) const {
    const Element *element = find(id);
    return element ? element->widget.data() : nullptr;
}

QWidget *QtDialogHost::panelWidget(DgId panel) const {
    const Element *element = find(panel);
    return element && element->kind == Element::Panel ? element->widget.data() : nullptr;
}

std::vector<DgId> QtDialogHost::liveGadgets() const {
    std::vector<DgId> out;
    for (DgId id : order_) {
        const Element *element = find(id);
        if (element && element->kind != Element::Panel) out.push_back(id);
    }
    return out;
}

DgId QtDialogHost::findGadget(const QString &text) const {
    for (DgId id : order_) {
        const Element *element = find(id);
        if (!element || element->kind == Element::Panel) continue;
        if ((!element->text.isEmpty() && element->text.startsWith(text)) ||
            (!element->help.isEmpty() && element->help.startsWith(text)))
            return id;
    }
    return 0;
}

DgId QtDialogHost::pageButton(int page) const {
    for (DgId id : order_) {
        const Element *element = find(id);
        if (element && element->kind == Element::ImageButton &&
            element->resourceImage == 101 + page)
            return id;
    }
    return 0;
}

// --- Messages --------------------------------------------------------------------

void QtDialogHost::post(const GuiMessage &message) {
    Queue *queue = activeQueue_;
    if (!queue) return;
    const uint16_t kind = kindOf(message);
    // Pointer moves and the changing values of a dragged slider replace the
    // one still waiting, so a slow preview never lags behind the pointer.
    if (!queue->messages.empty()) {
        GuiMessage &last = queue->messages.back();
        const uint16_t lastKind = kindOf(last);
        if (kind == 2 && lastKind == 2) {
            last = message;
            return;
        }
        if (kind == 4 && lastKind == 4 &&
            std::memcmp(last.bytes + 12, message.bytes + 12, 4) == 0 &&
            last.bytes[16] == kCodeActivated && last.bytes[17] == 0) {
            last = message;
            return;
        }
    }
    // A full queue drops pointer moves and changing values, never the rest.
    if (queue->messages.size() >= queue->capacity &&
        (kind == 2 || (kind == 4 && message.bytes[16] == kCodeActivated)))
        return;
    queue->messages.push_back(message);
    if (queue->waiting) queue->waiting->quit();
}

void QtDialogHost::postGadgetEvent(DgId gadget, uint16_t code, int32_t value) {
    GuiMessage message{};
    put16(message, 8, 4);
    put32(message, 12, gadget);
    put16(message, 16, code);
    put32(message, 20, value);
    post(message);
}

void QtDialogHost::postPointerMoved(int x, int y) {
    GuiMessage message{};
    put16(message, 8, 2);
    put16(message, 12, uint16_t(int16_t(x)));
    put16(message, 14, uint16_t(int16_t(y)));
    post(message);
}

void QtDialogHost::postPointerButton(uint16_t button, int x, int y) {
    GuiMessage message{};
    put16(message, 8, 3);
    put16(message, 12, button);
    put16(message, 14, uint16_t(int16_t(x)));
    put16(message, 16, uint16_t(int16_t(y)));
    post(message);
}

void QtDialogHost::postClose() {
    GuiMessage message{};
    put16(message, 8, 7);
    post(message);
}

MsgQueue *QtDialogHost::createQueue(int32_t count, int32_t size, int32_t) {
    if (count <= 0 || size != int32_t(sizeof(GuiMessage))) return nullptr;
    queues_.push_back(std::make_unique<Queue>());
    queues_.back()->capacity = size_t(count);
    return reinterpret_cast<MsgQueue *>(queues_.back().get());
}

int32_t QtDialogHost::receiveMessage(MsgQueue *handle, GuiMessage *message, int32_t) {
    Queue *queue = nullptr;
    for (const auto &owned : queues_)
        if (reinterpret_cast<MsgQueue *>(owned.get()) == handle) queue = owned.get();
    if (!queue || !message) return -1;
    while (queue->messages.empty()) {
        if (!screen_) {
            // No window to hear the user from: the dialog closes.
            std::memset(message->bytes, 0, sizeof message->bytes);
            put16(*message, 8, 7);
            ++messagesRead_;
            return 0;
        }
        if (onIdle && onIdle()) {
            QCoreApplication::processEvents();
            continue;
        }
        QEventLoop loop;
        queue->waiting = &loop;
        loop.exec();
        queue->waiting = nullptr;
    }
    *message = queue->messages.front();
    queue->messages.pop_front();
    ++messagesRead_;
    return 0;
}

// --- The request -------------------------------------------------------------------

int32_t QtDialogHost::createRequest(DreqRequest *request) {
    if (!request || screen_) return -1;
    const int width = screenWidth(), height = screenHeight();
    auto *window = new ScreenWindow(width, height);
    screen_ = window;
    QString title = fromXChar(request->title);
    window->setWindowTitle(title.isEmpty() ? QStringLiteral("lustra edit") : title);
    window->onPointerMoved = [this](int x, int y) { postPointerMoved(x, y); };
    window->onPointerButton = [this](int button, int x, int y) {
        postPointerButton(uint16_t(button), x, y);
    };
    window->onClose = [this] { postClose(); };
    window->setPalette(dialogPalette());
    for (const auto &queue : queues_)
        if (reinterpret_cast<MsgQueue *>(queue.get()) == request->queue) activeQueue_ = queue.get();
    auto element = std::make_unique<Element>();
    element->kind = Element::Panel;
    element->widget = window;
    requestHandle_ = nextId_++;
    elements_[requestHandle_] = std::move(element);
    order_.push_back(requestHandle_);
    request->handle = requestHandle_;
    if (setup_.fullScreen)
        window->showFullScreen();
    else
        window->show();
    return 0;
}

int32_t QtDialogHost::deleteRequest(DreqRequest *request) {
    if (!request || request->handle == 0 || request->handle != requestHandle_) return -1;
    removeTree(requestHandle_);
    requestHandle_ = 0;
    activeQueue_ = nullptr;
    delete screen_.data();
    screen_ = nullptr;
    if (monitor_) monitor_->hide();
    request->handle = 0;
    return 0;
}

// --- Panels and gadgets ----------------------------------------------------------------

DgId QtDialogHost::createPanel(DgId parent, int32_t x, int32_t y, int32_t width, int32_t height,
                               uint32_t flags, uint32_t, int32_t) {
    QWidget *parentWidget = panelWidget(parent);
    if (!parentWidget || width <= 0 || height <= 0) return 0;
    auto *frame = new PanelFrame(parentWidget, (flags & kPreviewPanelFlags) != 0,
                                 (flags & kOuterPanelFlags) != 0);
    frame->setGeometry(x, y, width, height);
    frame->show();
    if (flags & kPreviewPanelFlags) frame->lower();
    auto element = std::make_unique<Element>();
    element->kind = Element::Panel;
    element->parent = parent;
    element->widget = frame;
    const DgId id = nextId_++;
    elements_[id] = std::move(element);
    order_.push_back(id);
    return id;
}

void QtDialogHost::removeTree(DgId id) {
    std::vector<DgId> children;
    for (const auto &[child, element] : elements_)
        if (element->parent == id && child != id) children.push_back(child);
    for (DgId child : children) removeTree(child);
    elements_.erase(id);
    order_.erase(std::remove(order_.begin(), order_.end(), id), order_.end());
}

void QtDialogHost::removePanel(DgId panel) {
    Element *element = find(panel);
    if (!element || element->kind != Element::Panel || panel == requestHandle_) return;
    QPointer<QWidget> widget = element->widget;
    removeTree(panel);
    if (widget) {
        widget->hide();
        widget->deleteLater();
    }
}

DgId QtDialogHost::addGadget(DgId panel, QWidget *widget, int32_t x, int32_t y, int32_t width,
                             int32_t height, const QString &label, bool enabled, Room room) {
    QWidget *parent = widget->parentWidget();
    widget->setGeometry(x, y, width, height);
    widget->setEnabled(enabled);
    widget->show();
    auto element = std::make_unique<Element>();
    element->parent = panel;
    element->widget = widget;
    element->text = label;
    if (!label.isEmpty()) {
        // The label sits left of the gadget, right-aligned, after whatever
        // else the row holds on the left.
        int left = 8;
        for (const auto &[id, other] : elements_) {
            if (other->parent != panel || !other->widget || other->kind == Element::Panel) continue;
            const QRect g = other->widget->geometry();
            if (g.y() == y && g.right() < x && g.right() + 6 > left) left = g.right() + 6;
        }
        auto *text = new QLabel(parent);
        const QFontMetrics metrics(text->font());
        // A label that does not fit gets room from the gadget: a colour
        // button moves right, a popup gives up what its items do not need.
        const int deficit = metrics.horizontalAdvance(label) + 2 - (x - 8 - left);
        if (deficit > 0) {
            const int shift =
                room == Room::Move     ? std::min(deficit, parent->width() - 8 - (x + width))
                : room == Room::Shrink ? std::min(deficit, width - minimumWidth(widget))
                                       : 0;
            if (shift > 0) {
                x += shift;
                if (room == Room::Shrink) width -= shift;
            }
        }
        const int available = std::max(0, x - 8 - left);
        text->setText(metrics.elidedText(label, Qt::ElideRight, available));
        if (text->text() != label) text->setToolTip(label);
        text->setProperty("fullText", label);
        widget->setGeometry(x, y, width, height);
        text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        text->setGeometry(left, y, available, height);
        text->setEnabled(enabled);
        text->show();
        element->label = text;
    }
    const DgId id = nextId_++;
    elements_[id] = std::move(element);
    order_.push_back(id);
    return id;
}

DgId QtDialogHost::addSlider(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                             int32_t minimum, int32_t maximum, int32_t value, const XChar *label,
                             const XChar *valueText, uint32_t style, DgGadgetExt *extension) {
    QWidget *parent = panelWidget(panel);
    if (!parent || width <= 0 || height <= 0) return 0;
    auto *slider = new ValueSlider(parent, minimum, maximum, value);
    const QString format = fromXChar(valueText);
    const DgValueFormatter formatter = extension ? extension->formatter : nullptr;
    slider->format = [format, formatter](int shown) {
        if (formatter) {
            XChar text[64] = {};
            formatter(shown, text, 64);
            text[63] = 0;
            return fromXChar(text);
        }
        return formatValue(format, shown);
    };
    const DgId id =
        addGadget(panel, slider, x, y, width, height, fromXChar(label), (style & 2) == 0);
    find(id)->kind = Element::Slider;
    slider->onChanged = [this, id](int shown, int code) {
        postGadgetEvent(id, uint16_t(code), shown);
    };
    return id;
}

DgId QtDialogHost::addCheckBox(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                               int32_t value, uint32_t state, DgGadgetExt *extension) {
    QWidget *parent = panelWidget(panel);
    if (!parent || width <= 0 || height <= 0) return 0;
    auto *box = new QCheckBox(parent);
    box->setChecked(value != 0);
    const QString label = extension ? fromXChar(extension->label) : QString();
    DgId id = 0;
    if (label.isEmpty()) {
        // Just the box: what the row holds next to it keeps its room.
        id = addGadget(panel, box, x, y, std::min(width, 24), height, {}, state != kDisabledState);
    } else {
        // A labelled box takes the whole row, its sentence after the box.
        const int left = 8, right = std::max(x + width, parent->width() - 8);
        box->setText(
            QFontMetrics(box->font()).elidedText(label, Qt::ElideRight, right - left - 28));
        id = addGadget(panel, box, left, y, right - left, height, {}, state != kDisabledState);
        find(id)->text = label;
    }
    find(id)->kind = Element::CheckBox;
    QObject::connect(box, &QCheckBox::clicked, box,
                     [this, id](bool checked) { postGadgetEvent(id, kCodeActivated, checked); });
    return id;
}

DgId QtDialogHost::addPopup(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                            void *itemList, int32_t value, const XChar *label, uint32_t state,
                            int32_t) {
    QWidget *parent = panelWidget(panel);
    if (!parent || width <= 0 || height <= 0) return 0;
    auto *popup = new QComboBox(parent);
    // The list library's layout: header (first node, ...), each node starts
    // with the next one; flags 0x201 at 12 mark a text node, its text at 16.
    if (itemList) {
        void *node = *static_cast<void **>(itemList);
        for (int guard = 0; node && guard < 64; ++guard) {
            uint32_t flags;
            const XChar *text;
            std::memcpy(&flags, static_cast<char *>(node) + 12, 4);
            std::memcpy(&text, static_cast<char *>(node) + 16, sizeof text);
            popup->addItem(flags == 0x201 ? fromXChar(text) : QStringLiteral("?"));
            node = *static_cast<void **>(node);
        }
    }
    if (value >= 0 && value < popup->count()) popup->setCurrentIndex(value);
    const DgId id = addGadget(panel, popup, x, y, width, height, fromXChar(label),
                              state != kDisabledState, Room::Shrink);
    find(id)->kind = Element::Popup;
    QObject::connect(popup, &QComboBox::activated, popup,
                     [this, id](int index) { postGadgetEvent(id, kCodeActivated, index); });
    return id;
}

DgId QtDialogHost::addTextButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                                 const XChar *text, uint32_t state, int32_t) {
    QWidget *parent = panelWidget(panel);
    if (!parent || width <= 0 || height <= 0) return 0;
    auto *button = new QPushButton(fromXChar(text), parent);
    button->setFocusPolicy(Qt::TabFocus);
    const DgId id = addGadget(panel, button, x, y, width, height, {}, state != kDisabledState);
    Element *element = find(id);
    element->kind = Element::Button;
    element->text = button->text();
    QObject::connect(button, &QPushButton::clicked, button,
                     [this, id] { postGadgetEvent(id, kCodeActivated, 0); });
    return id;
}

DgId QtDialogHost::addImageButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                                  const void *image, uint32_t state, const DgGadgetExt *) {
    QWidget *parent = panelWidget(panel);
    if (!parent || width <= 0 || height <= 0) return 0;
    auto *button = new QToolButton(parent);
    int32_t resourceId = 0;
    if (image) {
        const auto *picture = static_cast<const ResImage *>(image);
        if (picture->width > 0 && picture->height > 0 && picture->width <= 1024 &&
            picture->height <= 1024 && picture->pixels) {
            const QImage icon = hostImageToQImage(picture->pixels, picture->width, picture->height);
            button->setIcon(QIcon(QPixmap::fromImage(icon)));
            button->setIconSize(icon.size().boundedTo(QSize(width - 4, height - 4)));
        }
        // Page buttons show images 101 to 110 of the resource file.
        for (int32_t candidate = 101; candidate <= 110 && imageTable_; ++candidate)
            if (HostBackend::image(imageTable_, candidate) == image) resourceId = candidate;
    }
    if (state & kPageButtonState) {
        button->setStyleSheet(QStringLiteral(
            "QToolButton { border: 1px solid rgb(74,78,88); border-radius: 3px; background: "
            "rgb(62,66,75); } QToolButton:hover { border-color: rgb(140,150,170); } "
            "QToolButton:checked { background: rgb(58,104,160); border-color: rgb(150,190,240); "
            "}"));
        button->setCheckable(true);
        button->setAutoExclusive(true);
        button->setChecked((state & 1) != 0);
    }
    button->setFocusPolicy(Qt::TabFocus);
    const DgId id =
        addGadget(panel, button, x, y, width, height, {}, (state & 0xFFFF) != kDisabledState);
    Element *element = find(id);
    element->kind = Element::ImageButton;
    element->resourceImage = resourceId;
    QObject::connect(button, &QToolButton::clicked, button,
                     [this, id] { postGadgetEvent(id, kCodeActivated, 0); });
    return id;
}

DgId QtDialogHost::addTextGadget(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                                 const XChar *text, int32_t, DgGadgetExt *extension) {
    QWidget *parent = panelWidget(panel);
    if (!parent || width <= 0 || height <= 0) return 0;
    auto *line = new QLineEdit(fromXChar(text), parent);
    line->setReadOnly(true);
    line->setAlignment(Qt::AlignCenter);
    line->setFocusPolicy(Qt::NoFocus);
    const DgId id = addGadget(panel, line, x, y, width, height,
                              extension ? fromXChar(extension->label) : QString(), true);
    find(id)->kind = Element::TextGadget;
    return id;
}

DgId QtDialogHost::addPaletteButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                                    const XChar *label, uint32_t colour, uint32_t state, int32_t) {
    QWidget *parent = panelWidget(panel);
    if (!parent || width <= 0 || height <= 0) return 0;
    auto *button = new ColourButton(parent, hostToColour(colour));
    button->setFocusPolicy(Qt::TabFocus);
    const DgId id = addGadget(panel, button, x, y, width, height, fromXChar(label),
                              state != kDisabledState, Room::Move);
    find(id)->kind = Element::Palette;
    QObject::connect(button, &QPushButton::clicked, button,
                     [this, id] { postGadgetEvent(id, kCodeActivated, 0); });
    return id;
}

DgId QtDialogHost::boxText(DgId panel, const XChar *text, int32_t x, int32_t y, int32_t width,
                           int32_t height, int32_t) {
    QWidget *parent = panelWidget(panel);
    if (!parent || width <= 0 || height <= 0) return 0;
    auto *box = new QLabel(parent);
    QFont font = box->font();
    font.setBold(true);
    box->setFont(font);
    const QString content = fromXChar(text);
    box->setText(QFontMetrics(font).elidedText(content, Qt::ElideRight, width));
    box->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const DgId id = addGadget(panel, box, x, y, width, height, {}, true);
    Element *element = find(id);
    element->kind = Element::Box;
    element->text = content;
    return id;
}

DgGadgetExt *QtDialogHost::allocGadgetExt() {
    return static_cast<DgGadgetExt *>(std::calloc(1, sizeof(DgGadgetExt)));
}

void QtDialogHost::freeGadgetExt(DgGadgetExt *extension) {
    std::free(extension);
}

int32_t QtDialogHost::formatFramesAsTime(int32_t value, XChar *text, int32_t capacity) {
    if (!text || capacity <= 0) return -1;
    const int fps = std::max(1, int(setup_.framesPerSecond + 0.5));
    const int frames = std::max(0, value);
    const int seconds = frames / fps, minutes = seconds / 60, hours = minutes / 60;
    char buffer[48];
    if (hours > 0)
        std::snprintf(buffer, sizeof buffer, "%d:%02d:%02d:%02d", hours, minutes % 60, seconds % 60,
                      frames % fps);
    else
        std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", minutes, seconds % 60, frames % fps);
    int32_t i = 0;
    for (; buffer[i] != 0 && i < capacity - 1; ++i) text[i] = XChar(buffer[i]);
    text[i] = 0;
    return 0;
}

// --- Attributes ------------------------------------------------------------------------

void QtDialogHost::refreshTooltip(Element &element) {
    if (!element.widget) return;
    QString tip = element.help;
    if (!element.keyText.isEmpty())
        tip = tip.isEmpty() ? element.keyText : tip + QStringLiteral("\n[") + element.keyText + "]";
    element.widget->setToolTip(tip);
    if (element.label) {
        // A label cut to fit shows itself whole in its tooltip.
        const bool cut = element.label->text() != element.text;
        element.label->setToolTip(cut ? element.text + (tip.isEmpty() ? QString() : "\n" + tip)
                                      : tip);
    }
}

void QtDialogHost::setShortcut(Element &element, int32_t key) {
    if (!element.widget) return;
    const QKeySequence sequence = keySequence(key);
    if (sequence.isEmpty()) return;
    auto *shortcut = new QShortcut(sequence, element.widget);
    shortcut->setContext(Qt::WindowShortcut);
    QPointer<QWidget> target = element.widget;
    const Element::Kind kind = element.kind;
    QObject::connect(shortcut, &QShortcut::activated, element.widget, [target, kind] {
        if (!target || !target->isEnabled()) return;
        if (auto *button = qobject_cast<QAbstractButton *>(target.data())) {
            button->click();
        } else if (auto *popup = qobject_cast<QComboBox *>(target.data())) {
            popup->setFocus();
            popup->showPopup();
        } else if (kind == Element::Slider) {
            target->setFocus();
        }
    });
    element.keyText = sequence.toString(QKeySequence::NativeText);
    refreshTooltip(element);
}

int32_t QtDialogHost::changeElement(DgId, DgId gadget, int32_t attribute, intptr_t value, int32_t) {
    Element *element = find(gadget);
    if (!element || !element->widget) return -1;
    QWidget *widget = element->widget;
    switch (attribute) {
    case 5:
        if (auto *button = dynamic_cast<ColourButton *>(widget))
            button->setColour(hostToColour(uint32_t(value)));
        return 0;
    case 39:
        if (auto *slider = dynamic_cast<ValueSlider *>(widget)) slider->setMaximum(int(value));
        return 0;
    case 40:
        if (auto *slider = dynamic_cast<ValueSlider *>(widget)) slider->setValue(int(value));
        return 0;
    case 43:
        if (auto *line = qobject_cast<QLineEdit *>(widget))
            line->setText(fromXChar(reinterpret_cast<const XChar *>(value)));
        return 0;
    case 57:
        setShortcut(*element, int32_t(value));
        return 0;
    case 80:
        element->help.clear();
        element->helpTable = reinterpret_cast<ResTable *>(value);
        return 0;
    case 82:
        element->help = fromXChar(string(element->helpTable, int32_t(value)));
        refreshTooltip(*element);
        return 0;
    default:
        return -1;
    }
}

void QtDialogHost::enableElement(DgId, DgId gadget) {
    if (Element *element = find(gadget)) {
        if (element->widget) element->widget->setEnabled(true);
        if (element->label) element->label->setEnabled(true);
    }
}

void QtDialogHost::disableElement(DgId, DgId gadget) {
    if (Element *element = find(gadget)) {
        if (element->widget) element->widget->setEnabled(false);
        if (element->label) element->label->setEnabled(false);
    }
}

void QtDialogHost::activateElement(DgId, DgId gadget) {
    Element *element = find(gadget);
    if (!element || !element->widget) return;
    if (auto *button = qobject_cast<QAbstractButton *>(element->widget.data()))
        if (button->isCheckable()) button->setChecked(true);
}

// The panels keep the dialog palette's colours whatever GUI colour is set.
void QtDialogHost::setColorYUV(uint32_t) {}
uint32_t QtDialogHost::newGuiColorYUV(int32_t) {
    return 0x3A7F7FFFu;
}
uint32_t QtDialogHost::guiColorYUV(int32_t) {
    return 0x3A7F7FFFu;
}

ResTable *QtDialogHost::guiResource(int32_t which) {
    if (which < 0 || which >= int32_t(sizeof guiTables_)) return nullptr;
    return reinterpret_cast<ResTable *>(&guiTables_[which]);
}

const void *QtDialogHost::image(ResTable *table, int32_t id) {
    const char *token = reinterpret_cast<const char *>(table);
    if (token >= guiTables_ && token < guiTables_ + sizeof guiTables_) {
        if (token - guiTables_ != id) return nullptr;
        auto found = guiImages_.find(id);
        if (found != guiImages_.end()) return &found->second;
        const QImage icon = drawGuiIcon(id);
        std::vector<uint32_t> &pixels = guiPixels_[id];
        pixels.resize(size_t(icon.width()) * size_t(icon.height()));
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x) {
                const QColor c = QColor::fromRgba(icon.pixel(x, y));
                pixels[size_t(y) * size_t(icon.width()) + size_t(x)] =
                    colourToHost(c, uint8_t(c.alpha()));
            }
        ResImage &out = guiImages_[id];
        out = ResImage{icon.width(), icon.height(), pixels.data()};
        return &out;
    }
    return HostBackend::image(table, id);
}

ResTable *QtDialogHost::loadImages(const char *name) {
    ResTable *table = HostBackend::loadImages(name);
    if (table) imageTable_ = table;
    return table;
}

void QtDialogHost::freeImages(ResTable *table) {
    if (table == imageTable_) imageTable_ = nullptr;
    HostBackend::freeImages(table);
}

// --- Screens ---------------------------------------------------------------------

int32_t QtDialogHost::screenWidth() {
    return setup_.guiMonitor == 2 ? setup_.monitor2Width : setup_.width;
}
int32_t QtDialogHost::screenHeight() {
    return setup_.guiMonitor == 2 ? setup_.monitor2Height : setup_.height;
}
int32_t QtDialogHost::screenWidthMonitor(int32_t monitor) {
    return monitor == 2 ? setup_.monitor2Width : setup_.width;
}
int32_t QtDialogHost::screenHeightMonitor(int32_t monitor) {
    return monitor == 2 ? setup_.monitor2Height : setup_.height;
}

void QtDialogHost::visibleArea(int32_t *left, int32_t *top, int32_t *right, int32_t *bottom) {
    if (left) *left = 0;
    if (top) *top = 0;
    if (right) *right = screenWidth();
    if (bottom) *bottom = screenHeight();
}

void QtDialogHost::visibleAreaMonitor(int32_t *left, int32_t *top, int32_t *right, int32_t *bottom,
                                      int32_t monitor) {
    // Monitor 2 is a video output: its visible area leaves a margin, which
    // the collapsed strip reaches into.
    const int32_t margin = monitor == 2 ? kVideoMargin : 0;
    if (left) *left = margin;
    if (top) *top = margin;
    if (right) *right = screenWidthMonitor(monitor) - margin;
    if (bottom) *bottom = screenHeightMonitor(monitor) - margin;
}

int32_t QtDialogHost::fontHeightMonitor(int32_t) {
    return QFontMetrics(QApplication::font()).height();
}

uint16_t QtDialogHost::pixelAspect(int32_t, int32_t) {
    return setup_.monitorAspect;
}

// --- Pointer and overlay -------------------------------------------------------------------

void QtDialogHost::busyPointer() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++busyDepth_;
}

void QtDialogHost::standardPointer() {
    while (busyDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --busyDepth_;
    }
}

void QtDialogHost::movePointer(int32_t x, int32_t y) {
    if (screen_) QCursor::setPos(screen_->mapToGlobal(QPoint(x, y)));
}

void QtDialogHost::drawOverlay(const uint32_t *pixels, int32_t, int32_t strideBytes, int32_t x,
                               int32_t y, int32_t width, int32_t height) {
    if (!screen_) return;
    hostPixelsToImage(pixels, strideBytes, width, height, screen_->overlay(), x, y);
    screen_->update(QRect(x, y, width, height));
}

MonitorWindow *QtDialogHost::monitor2() {
    if (!monitor_) {
        monitor_ = new MonitorWindow(setup_.monitor2Width, setup_.monitor2Height);
        monitor_->setWindowTitle(QStringLiteral("lustra edit - monitor 2"));
    }
    return monitor_;
}

void QtDialogHost::drawOverlayMonitor(const uint32_t *pixels, int32_t zero, int32_t strideBytes,
                                      int32_t x, int32_t y, int32_t width, int32_t height,
                                      int32_t monitor) {
    if (monitor == setup_.guiMonitor) {
        drawOverlay(pixels, zero, strideBytes, x, y, width, height);
        return;
    }
    if (monitor != 2) return;
    MonitorWindow *window = monitor2();
    hostPixelsToImage(pixels, strideBytes, width, height, window->overlay(), x, y);
    if (setup_.showMonitor2 && !window->isVisible()) window->show();
    window->update(QRect(x, y, width, height));
}

// --- Requesters --------------------------------------------------------------------------

int32_t QtDialogHost::textRequest(DreqTextRequest *request) {
    if (!request) return -1;
    const bool question = request->style == 67;
    const bool yes = requesters_->text(screen_, fromXChar(request->text), question);
    request->result = yes ? 1 : 0;
    return 0;
}

int32_t QtDialogHost::paletteRequest(DreqPaletteRequest *request) {
    if (!request) return -1;
    request->result = 0;
    const auto chosen = requesters_->colour(screen_, hostToColour(request->colour));
    if (!chosen) return 0;
    request->colour = colourToHost(*chosen, uint8_t(request->colour & 0xFF));
    request->result = 1;
    return 0;
}

int32_t QtDialogHost::fileRequest(DreqFileRequest *request) {
    if (!request || !request->path || request->pathSize <= 0) return -1;
    const char *home = std::getenv("VXHOME");
    if (!home) return -1;
    const QString directory =
        QDir::cleanPath(QString::fromLocal8Bit(home) + "/" +
                        QString::fromLocal8Bit(request->directory ? request->directory : ""));
    QDir().mkpath(directory);
    const auto mode = request->mode == 2   ? FileMode::Save
                      : request->mode == 3 ? FileMode::Delete
                                           : FileMode::Load;
    const auto chosen =
        requesters_->file(screen_, mode, directory, fromXChar(request->defaultName, 63));
    if (!chosen) return 0;
    const QByteArray path = QFile::encodeName(*chosen);
    if (path.size() >= request->pathSize) {
        requesters_->text(screen_, QStringLiteral("The path is too long:\n") + *chosen, false);
        return 0;
    }
    std::memcpy(request->path, path.constData(), size_t(path.size()) + 1);
    if (request->name && request->nameSize > 0) {
        const QString name = QFileInfo(*chosen).fileName();
        int32_t i = 0;
        for (; i < name.size() && i < request->nameSize - 1; ++i)
            request->name[i] = XChar(name[i].unicode());
        request->name[i] = 0;
    }
    request->status = 1;
    return 0;
}

int32_t QtDialogHost::archivesRequest(DreqArchivesRequest *request) {
    if (!request) return -1;
    const auto action = requesters_->presets(screen_, fromXChar(request->title));
    if (!action) return -1;
    request->action = int32_t(*action);
    return 0;
}

// --- Transfer requests -----------------------------------------------------------------------

TxRequest *QtDialogHost::allocTransfer(int32_t) {
    transfers_.push_back(std::make_unique<Transfer>());
    return reinterpret_cast<TxRequest *>(transfers_.back().get());
}

namespace {
template <typename T>
T *ownedTransfer(std::vector<std::unique_ptr<T>> &transfers, TxRequest *request) {
    for (const auto &transfer : transfers)
        if (reinterpret_cast<TxRequest *>(transfer.get()) == request) return transfer.get();
    return nullptr;
}
} // namespace

void QtDialogHost::setTransferPrefs(TxRequest *request, const void *descriptor) {
    Transfer *transfer = ownedTransfer(transfers_, request);
    if (transfer && descriptor)
        std::memcpy(transfer->descriptor, descriptor, sizeof transfer->descriptor);
}

void QtDialogHost::setTransferTypes(TxRequest *, int32_t) {}

int32_t QtDialogHost::runTransfer(TxRequest *request, int32_t) {
    Transfer *transfer = ownedTransfer(transfers_, request);
    if (!transfer) return -1;
    transfer->status = 0;
    const char *current = reinterpret_cast<const char *>(transfer->descriptor);
    const QString start =
        QString::fromLocal8Bit(current, qsizetype(strnlen(current, sizeof transfer->descriptor)));
    const auto chosen = requesters_->clip(screen_, start);
    if (!chosen) return 0;
    const QByteArray path = QFile::encodeName(QFileInfo(*chosen).absoluteFilePath());
    if (path.size() >= int(sizeof transfer->descriptor)) {
        requesters_->text(screen_,
                          QStringLiteral("The picture's path is longer than the %1 bytes a "
                                         "source holds:\n")
                                  .arg(sizeof transfer->descriptor - 1) +
                              *chosen,
                          false);
        return 0;
    }
    std::memset(transfer->descriptor, 0, sizeof transfer->descriptor);
    std::memcpy(transfer->descriptor, path.constData(), size_t(path.size()));
    transfer->status = 1;
    return 0;
}

int32_t QtDialogHost::transferStatus(TxRequest *request) {
    Transfer *transfer = ownedTransfer(transfers_, request);
    return transfer ? transfer->status : 0;
}

void QtDialogHost::getTransferPrefs(TxRequest *request, void *descriptor, int32_t size) {
    Transfer *transfer = ownedTransfer(transfers_, request);
    if (!transfer || !descriptor || size <= 0) return;
    std::memset(descriptor, 0, size_t(size));
    std::memcpy(descriptor, transfer->descriptor,
                std::min(size_t(size), sizeof transfer->descriptor));
}

void QtDialogHost::freeTransfer(TxRequest *request) {
    transfers_.erase(std::remove_if(transfers_.begin(), transfers_.end(),
                                    [request](const std::unique_ptr<Transfer> &transfer) {
                                        return reinterpret_cast<TxRequest *>(transfer.get()) ==
                                               request;
                                    }),
                     transfers_.end());
}

} // namespace lustra::gui
