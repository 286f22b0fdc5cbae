// lustra's dialog backend on Qt 6 widgets: the GUI, requester, message-queue
// and transfer services that the effect's settings dialog calls, added to the
// command-line host's field and picture services.
//
// The "screen" is a top-level window of the screen's size holding the
// request's panels at their absolute positions over an overlay picture that
// dgmxYUVAtoOvl draws on. Monitor 2 is a window of its own size showing what
// dgmxYUVAtoOvlMonitor draws, like a video output monitor; with the GUI on
// monitor 2 the screen window is that monitor. Host pixels (YCbCr with alpha)
// are converted to RGB for display with the module's own conversion.
#pragma once

#include "CliHost.h"
#include "Requesters.h"

#include <QPointer>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace lustra::gui {

class ScreenWindow;
class MonitorWindow;

struct ScreenSetup {
    int width = 0, height = 0;                 // 0: the size of the primary screen
    int monitor2Width = 0, monitor2Height = 0; // 0: the screen's size
    int guiMonitor = 1;                        // 2: the GUI is on monitor 2
    int connectedMonitors = 1;                 // 2: monitor 2 is a GUI monitor, not video
    uint16_t monitorAspect = 1000;             // pixel aspect of monitor 2, thousandths
    double framesPerSecond = 25;               // for the frame slider's time text
    bool fullScreen = false;                   // show the screen window full-screen
    bool showMonitor2 = false;                 // show monitor 2's window (else it stays unseen)
};

// Virtual key codes of the keyboard-shortcut attribute (57): a character, or
// one of these, optionally with the modifier bits below.
constexpr int32_t kKeyDelete = 0xE002;
constexpr int32_t kKeyHelp = 0xE012;
constexpr int32_t kKeyControl = 0x100000;
constexpr int32_t kKeyShift = 0x200000;

class QtDialogHost : public cli::CliHost {
  public:
    explicit QtDialogHost(ScreenSetup setup, std::unique_ptr<Requesters> requesters = {});
    ~QtDialogHost() override;

    const ScreenSetup &setup() const { return setup_; }
    Requesters &requesters() { return *requesters_; }

    // The windows while they exist (null otherwise).
    QWidget *screenWindow() const;
    QWidget *monitorWindow() const;
    // The widget of a panel or gadget id, or null.
    QWidget *widgetOf(DgId id) const;
    // The gadget whose label, text or tooltip starts with `text`, or 0.
    DgId findGadget(const QString &text) const;
    // The live page button showing resource image 101 + page, or 0.
    DgId pageButton(int page) const;
    // Ids of the live gadgets, in creation order.
    std::vector<DgId> liveGadgets() const;

    // Called by dgMsgQReceive while the queue is empty, before it waits for
    // the user; returns true when it did something that may queue a message.
    // Tests drive the dialog through it.
    std::function<bool()> onIdle;
    // How many messages the dialog has read.
    int messagesRead() const { return messagesRead_; }

    // Queues a message as the widgets do (kind, fields by the SDK layout).
    void postGadgetEvent(DgId gadget, uint16_t code, int32_t value);
    void postPointerMoved(int x, int y);
    void postPointerButton(uint16_t button, int x, int y);
    void postClose();

    // Dialog services.
    DgId createPanel(DgId parent, int32_t x, int32_t y, int32_t width, int32_t height,
                     uint32_t flags, uint32_t flags2, int32_t zero) override;
    void removePanel(DgId panel) override;
    DgId addSlider(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height, int32_t minimum,
                   int32_t maximum, int32_t value, const XChar *label, const XChar *valueText,
                   uint32_t style, DgGadgetExt *extension) override;
    DgId addCheckBox(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height, int32_t value,
                     uint32_t state, DgGadgetExt *extension) override;
    DgId addPopup(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height, void *itemList,
                  int32_t value, const XChar *label, uint32_t state, int32_t zero) override;
    DgId addTextButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                       const XChar *text, uint32_t state, int32_t zero) override;
    DgId addImageButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                        const void *image, uint32_t state, const DgGadgetExt *extension) override;
    DgId addTextGadget(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                       const XChar *text, int32_t one, DgGadgetExt *extension) override;
    DgId addPaletteButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                          const XChar *label, uint32_t colour, uint32_t state,
                          int32_t zero) override;
    DgId boxText(DgId panel, const XChar *text, int32_t x, int32_t y, int32_t width, int32_t height,
                 int32_t style) override;
    DgGadgetExt *allocGadgetExt() override;
    void freeGadgetExt(DgGadgetExt *extension) override;
    int32_t formatFramesAsTime(int32_t value, XChar *text, int32_t capacity) override;
    int32_t changeElement(DgId panel, DgId gadget, int32_t attribute, intptr_t value,
                          int32_t last) override;
    void enableElement(DgId panel, DgId gadget) override;
    void disableElement(DgId panel, DgId gadget) override;
    void activateElement(DgId panel, DgId gadget) override;
    void setColorYUV(uint32_t colour) override;
    uint32_t newGuiColorYUV(int32_t which) override;
    uint32_t guiColorYUV(int32_t which) override;
    ResTable *guiResource(int32_t which) override;
    int32_t screenWidth() override;
    int32_t screenHeight() override;
    int32_t screenWidthMonitor(int32_t monitor) override;
    int32_t screenHeightMonitor(int32_t monitor) override;
    void visibleArea(int32_t *left, int32_t *top, int32_t *right, int32_t *bottom) override;
    void visibleAreaMonitor(int32_t *left, int32_t *top, int32_t *right, int32_t *bottom,
                            int32_t monitor) override;
    int32_t defaultMonitor() override { return setup_.guiMonitor; }
    int32_t connectedMonitors() override { return setup_.connectedMonitors; }
    int32_t fontHeightMonitor(int32_t monitor) override;
    int32_t addHeight() override { return 6; }
    int32_t guiMode() override { return 3; } // the compact close button
    int32_t videoMode() override { return 0; }
    int32_t receiveMessage(MsgQueue *queue, GuiMessage *message, int32_t timeout) override;
    void busyPointer() override;
    void standardPointer() override;
    void movePointer(int32_t x, int32_t y) override;
    void drawOverlay(const uint32_t *pixels, int32_t zero, int32_t strideBytes, int32_t x,
                     int32_t y, int32_t width, int32_t height) override;
    void drawOverlayMonitor(const uint32_t *pixels, int32_t zero, int32_t strideBytes, int32_t x,
                            int32_t y, int32_t width, int32_t height, int32_t monitor) override;
    int32_t createRequest(DreqRequest *request) override;
    int32_t deleteRequest(DreqRequest *request) override;
    int32_t textRequest(DreqTextRequest *request) override;
    int32_t paletteRequest(DreqPaletteRequest *request) override;
    int32_t fileRequest(DreqFileRequest *request) override;
    int32_t archivesRequest(DreqArchivesRequest *request) override;
    const void *image(ResTable *table, int32_t id) override;
    ResTable *loadImages(const char *name) override;
    void freeImages(ResTable *table) override;
    MsgQueue *createQueue(int32_t count, int32_t size, int32_t flags) override;
    TxRequest *allocTransfer(int32_t flags) override;
    void setTransferPrefs(TxRequest *request, const void *descriptor) override;
    void setTransferTypes(TxRequest *request, int32_t types) override;
    int32_t runTransfer(TxRequest *request, int32_t flags) override;
    int32_t transferStatus(TxRequest *request) override;
    void getTransferPrefs(TxRequest *request, void *descriptor, int32_t size) override;
    void freeTransfer(TxRequest *request) override;
    uint16_t pixelAspect(int32_t a, int32_t monitor) override;

    struct Element;

  private:
    // How a gadget may make room for its label.
    enum class Room { None, Move, Shrink };
    DgId addGadget(DgId panel, QWidget *widget, int32_t x, int32_t y, int32_t width, int32_t height,
                   const QString &label, bool enabled, Room room = Room::None);
    QWidget *panelWidget(DgId panel) const;
    Element *find(DgId id);
    const Element *find(DgId id) const;
    void removeTree(DgId id);
    void post(const GuiMessage &message);
    void setShortcut(Element &element, int32_t key);
    void refreshTooltip(Element &element);
    MonitorWindow *monitor2();

    ScreenSetup setup_;
    std::unique_ptr<Requesters> requesters_;
    QPointer<ScreenWindow> screen_;
    QPointer<MonitorWindow> monitor_;
    std::map<DgId, std::unique_ptr<Element>> elements_;
    std::vector<DgId> order_;
    DgId nextId_ = 1;
    DgId requestHandle_ = 0;
    struct Queue;
    std::vector<std::unique_ptr<Queue>> queues_;
    Queue *activeQueue_ = nullptr;
    int messagesRead_ = 0;
    int busyDepth_ = 0;
    ResTable *imageTable_ = nullptr;
    char guiTables_[128] = {};
    std::map<int32_t, std::vector<uint32_t>> guiPixels_;
    std::map<int32_t, ResImage> guiImages_;
    struct Transfer;
    std::vector<std::unique_ptr<Transfer>> transfers_;
};

} // namespace lustra::gui
