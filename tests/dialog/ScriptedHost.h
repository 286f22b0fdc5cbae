// A scripted host for the settings dialog: serves fields like TestHost and
// records every GUI call with its arguments (panels, gadgets, attributes,
// enabling, pointer moves, overlay rectangles and pixels); answers with ids,
// screen geometry, monitor settings, a script of GUI messages and queued
// requester answers.
#pragma once

#include "support/TestHost.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace lustra::test {

enum class ElementKind {
    Panel,
    Slider,
    CheckBox,
    Popup,
    TextButton,
    ImageButton,
    TextGadget,
    PaletteButton,
    BoxText
};

// GUI images of the host's own resources are recorded as 10000 + n.
constexpr int32_t kGuiImageBase = 10000;

struct Element {
    ElementKind kind = ElementKind::Panel;
    DgId id = 0;
    DgId panel = 0; // the panel a gadget is in, or a panel's parent
    int32_t x = 0, y = 0, width = 0, height = 0;
    uint32_t flags = 0, flags2 = 0; // panels
    int32_t minimum = 0, maximum = 0, value = 0;
    int32_t label = 0;     // resource id of the label, button text or box text (-1: unknown text)
    int32_t valueText = 0; // slider value format id
    std::u16string text;   // text gadgets
    uint32_t state = 0;    // state or slider style
    std::vector<int32_t> items; // popup items (resource ids); -1 marks a malformed node
    uint32_t colour = 0;
    int32_t image = 0; // resource image id, or kGuiImageBase + n
    bool hasExtension = false;
    DgValueFormatter formatter = nullptr;
    int32_t key = 0;
    intptr_t helpTable = 0;
    int32_t helpId = 0;
    bool enabled = true;
    bool removed = false;
};

struct Call {
    std::string name;
    std::vector<int64_t> args;
};

struct Overlay {
    bool monitor = false;
    int32_t strideBytes = 0, x = 0, y = 0, width = 0, height = 0, monitorNumber = 0;
    std::vector<uint32_t> pixels; // width x height
};

struct TextAsked {
    int32_t text; // resource id
    int32_t style;
};

struct FileAnswer {
    int32_t result = 0;
    int32_t status = 1;
    std::string path;
    std::u16string name;
};

struct FileAsked {
    std::string directory;
    std::u16string defaultName;
    int32_t mode;
    int32_t pathSize, nameSize;
};

struct PaletteAnswer {
    int32_t result = 0;
    int32_t chosen = 1;
    uint32_t colour = 0;
};

struct TransferAnswer {
    int32_t result = 0;
    int32_t status = 1;
    std::string descriptor; // written into the source descriptor
};

class ScriptedHost : public TestHost {
  public:
    ScriptedHost();
    ~ScriptedHost() override;

    // --- Answers -----------------------------------------------------------
    int32_t screenW = 400, screenH = 300;
    int32_t monitor2W = 64, monitor2H = 48;
    int32_t visible[4] = {0, 0, 64, 48}; // monitor 2: left, top, right, bottom
    int32_t guiMonitor = 1, connected = 1;
    int32_t font = 12, add = 4; // F + A = 16
    int32_t mode = 0, video = 0;
    uint16_t monitorAspect = 1000;
    bool failRequest = false;
    bool noQueue = false;
    bool realResources = false; // serve the data directory's resource file
    bool refuseTransfer = false;
    std::deque<int32_t> textAnswers;          // result words of text requests (default 0)
    std::deque<FileAnswer> fileAnswers;       // default: cancelled
    std::deque<PaletteAnswer> paletteAnswers; // default: cancelled
    std::deque<std::pair<int32_t, int32_t>> archivesAnswers; // (result, action); default -1
    std::deque<TransferAnswer> transferAnswers;              // default: cancelled

    // --- Script of GUI messages --------------------------------------------
    using Finder = std::function<DgId()>;
    void gadgetEvent(Finder gadget, int32_t value = 0, uint16_t code = 4);
    void pointerMoved(int32_t x, int32_t y);
    void pointerButton(uint16_t button, int32_t x, int32_t y);
    void message(uint16_t kind);
    void closeMessage() { message(7); }
    void then(std::function<void()> action); // runs when the dialog reads on
    bool ranDry = false;                     // the script ended before the dialog closed

    // Finders.
    Finder byLabel(int32_t label);
    Finder pageButton(int32_t page);
    Finder guiButton(int32_t image);
    Finder textButton(int32_t text);
    Finder headerSwitch();
    Finder headerPopup();
    Finder frameSlider();
    Finder fixed(DgId id);

    // --- Records -----------------------------------------------------------
    std::vector<Element> elements;
    std::vector<Call> calls;
    std::vector<Overlay> overlays;
    std::vector<TextAsked> textsAsked;
    std::vector<FileAsked> filesAsked;
    std::vector<uint32_t> palettesAsked; // colours handed in
    std::vector<int32_t> archivesTitles;
    std::vector<std::string> transferDescriptors; // descriptors handed in
    std::vector<DreqRequest> requests;
    int32_t liveExtensions = 0, liveStringTables = 0, liveImageTables = 0;
    int32_t busy = 0, standard = 0;

    // Lookups among the elements that exist now.
    const Element *find(DgId id) const;
    const Element *gadget(int32_t label) const; // the live gadget with this label
    const Element *panelOf(const Element &gadget) const;
    std::vector<const Element *> live(ElementKind kind) const;
    std::vector<const Element *> gadgetsIn(DgId panel) const;
    const Element *livePanel(int32_t x, int32_t y, int32_t width, int32_t height) const;
    std::vector<Call> callsNamed(const std::string &name) const;
    void clearRecords();
    int32_t textId(const XChar *text) const; // resource id of a text handed out, -1

    // --- Services ----------------------------------------------------------
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
    int32_t screenWidth() override { return screenW; }
    int32_t screenHeight() override { return screenH; }
    int32_t screenWidthMonitor(int32_t monitor) override;
    int32_t screenHeightMonitor(int32_t monitor) override;
    void visibleArea(int32_t *left, int32_t *top, int32_t *right, int32_t *bottom) override;
    void visibleAreaMonitor(int32_t *left, int32_t *top, int32_t *right, int32_t *bottom,
                            int32_t monitor) override;
    int32_t defaultMonitor() override { return guiMonitor; }
    int32_t connectedMonitors() override { return connected; }
    int32_t fontHeightMonitor(int32_t monitor) override;
    int32_t addHeight() override { return add; }
    int32_t guiMode() override { return mode; }
    int32_t videoMode() override { return video; }
    int32_t receiveMessage(MsgQueue *queue, GuiMessage *message, int32_t timeout) override;
    void busyPointer() override;
    void standardPointer() override;
    void movePointer(int32_t x, int32_t y) override;
    void setPointerAttrs(int32_t a, int32_t b, int32_t c, int32_t d) override;
    void colorBarOn() override;
    void colorBarOff() override;
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
    ResTable *loadStrings(const char *name) override;
    ResTable *loadImages(const char *name) override;
    const XChar *string(ResTable *table, int32_t id) override;
    const void *image(ResTable *table, int32_t id) override;
    void freeStrings(ResTable *table) override;
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

  private:
    DgId addElement(Element element);
    Element *findMutable(DgId id);
    void record(const std::string &name, std::vector<int64_t> args);
    int32_t labelOf(const DgGadgetExt *extension) const;
    std::u16string copyText(const XChar *text) const;

    DgId nextId_ = 100;
    std::map<DgId, size_t> index_;
    std::deque<std::function<bool(GuiMessage &)>> script_;
    std::map<int32_t, std::vector<XChar>> syntheticTexts_;
    std::map<const XChar *, int32_t> textIds_;
    std::map<const void *, int32_t> imageIds_;
    char tokens_[8] = {}; // string table, image table, queue, transfer request
    char guiTables_[128] = {};
    char imageTokens_[1200] = {};
    TransferAnswer pendingTransfer_;
};

} // namespace lustra::test
