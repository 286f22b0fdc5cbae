#include "dialog/ScriptedHost.h"

#include <gtest/gtest.h>

#include <cstring>

namespace lustra::test {

namespace {

void put16(GuiMessage &message, size_t offset, uint16_t value) {
    std::memcpy(message.bytes + offset, &value, 2);
}
void put32(GuiMessage &message, size_t offset, int32_t value) {
    std::memcpy(message.bytes + offset, &value, 4);
}

} // namespace

ScriptedHost::ScriptedHost() = default;

ScriptedHost::~ScriptedHost() = default;

// --- Script --------------------------------------------------------------

void ScriptedHost::gadgetEvent(Finder gadget, int32_t value, uint16_t code) {
    script_.push_back([this, gadget, value, code](GuiMessage &message) {
        const DgId id = gadget();
        // The gadget shows the user's new value, as a real one would.
        if (Element *element = findMutable(id)) element->value = value;
        put16(message, 8, 4);
        put32(message, 12, id);
        put16(message, 16, code);
        put32(message, 20, value);
        return true;
    });
}

void ScriptedHost::pointerMoved(int32_t x, int32_t y) {
    script_.push_back([x, y](GuiMessage &message) {
        put16(message, 8, 2);
        put16(message, 12, uint16_t(x));
        put16(message, 14, uint16_t(y));
        return true;
    });
}

void ScriptedHost::pointerButton(uint16_t button, int32_t x, int32_t y) {
    script_.push_back([button, x, y](GuiMessage &message) {
        put16(message, 8, 3);
        put16(message, 12, button);
        put16(message, 14, uint16_t(x));
        put16(message, 16, uint16_t(y));
        return true;
    });
}

void ScriptedHost::message(uint16_t kind) {
    script_.push_back([kind](GuiMessage &message) {
        put16(message, 8, kind);
        return true;
    });
}

void ScriptedHost::then(std::function<void()> action) {
    script_.push_back([action](GuiMessage &) {
        action();
        return false;
    });
}

ScriptedHost::Finder ScriptedHost::byLabel(int32_t label) {
    return [this, label]() -> DgId {
        const Element *element = gadget(label);
        if (!element) ADD_FAILURE() << "no gadget labelled " << label;
        return element ? element->id : 0;
    };
}

ScriptedHost::Finder ScriptedHost::pageButton(int32_t page) {
    return [this, page]() -> DgId {
        for (const Element *element : live(ElementKind::ImageButton))
            if (element->image == 101 + page) return element->id;
        ADD_FAILURE() << "no page button " << page;
        return 0;
    };
}

ScriptedHost::Finder ScriptedHost::guiButton(int32_t image) {
    return [this, image]() -> DgId {
        for (const Element *element : live(ElementKind::ImageButton))
            if (element->image == kGuiImageBase + image) return element->id;
        ADD_FAILURE() << "no button with GUI image " << image;
        return 0;
    };
}

ScriptedHost::Finder ScriptedHost::textButton(int32_t text) {
    return byLabel(text);
}

ScriptedHost::Finder ScriptedHost::headerSwitch() {
    return [this]() -> DgId {
        for (const Element *element : live(ElementKind::CheckBox))
            if (element->x == 8 && element->y == 8 && !element->hasExtension) return element->id;
        ADD_FAILURE() << "no header switch";
        return 0;
    };
}

ScriptedHost::Finder ScriptedHost::headerPopup() {
    return [this]() -> DgId {
        for (const Element *element : live(ElementKind::Popup))
            if (element->y == 8 && element->key == '0') return element->id;
        ADD_FAILURE() << "no header popup";
        return 0;
    };
}

ScriptedHost::Finder ScriptedHost::frameSlider() {
    return [this]() -> DgId {
        for (const Element *element : live(ElementKind::Slider))
            if (element->key == 't') return element->id;
        ADD_FAILURE() << "no frame slider";
        return 0;
    };
}

ScriptedHost::Finder ScriptedHost::fixed(DgId id) {
    return [id]() { return id; };
}

// --- Lookups ---------------------------------------------------------------

const Element *ScriptedHost::find(DgId id) const {
    auto found = index_.find(id);
    return found == index_.end() ? nullptr : &elements[found->second];
}

Element *ScriptedHost::findMutable(DgId id) {
    auto found = index_.find(id);
    return found == index_.end() ? nullptr : &elements[found->second];
}

const Element *ScriptedHost::gadget(int32_t label) const {
    const Element *match = nullptr;
    for (const Element &element : elements) {
        if (element.removed || element.kind == ElementKind::Panel || element.label != label)
            continue;
        if (match) ADD_FAILURE() << "two live gadgets labelled " << label;
        match = &element;
    }
    return match;
}

const Element *ScriptedHost::panelOf(const Element &gadget) const {
    return find(gadget.panel);
}

std::vector<const Element *> ScriptedHost::live(ElementKind kind) const {
    std::vector<const Element *> out;
    for (const Element &element : elements)
        if (!element.removed && element.kind == kind) out.push_back(&element);
    return out;
}

std::vector<const Element *> ScriptedHost::gadgetsIn(DgId panel) const {
    std::vector<const Element *> out;
    for (const Element &element : elements)
        if (!element.removed && element.kind != ElementKind::Panel && element.panel == panel)
            out.push_back(&element);
    return out;
}

const Element *ScriptedHost::livePanel(int32_t x, int32_t y, int32_t width, int32_t height) const {
    for (const Element *panel : live(ElementKind::Panel))
        if (panel->x == x && panel->y == y && panel->width == width && panel->height == height)
            return panel;
    return nullptr;
}

std::vector<Call> ScriptedHost::callsNamed(const std::string &name) const {
    std::vector<Call> out;
    for (const Call &call : calls)
        if (call.name == name) out.push_back(call);
    return out;
}

void ScriptedHost::clearRecords() {
    calls.clear();
    overlays.clear();
}

int32_t ScriptedHost::textId(const XChar *text) const {
    if (!text) return 0;
    auto found = textIds_.find(text);
    return found == textIds_.end() ? -1 : found->second;
}

int32_t ScriptedHost::labelOf(const DgGadgetExt *extension) const {
    return extension ? textId(extension->label) : 0;
}

std::u16string ScriptedHost::copyText(const XChar *text) const {
    std::u16string out;
    for (; text && *text; ++text) out.push_back(char16_t(*text));
    return out;
}

void ScriptedHost::record(const std::string &name, std::vector<int64_t> args) {
    calls.push_back(Call{name, std::move(args)});
}

DgId ScriptedHost::addElement(Element element) {
    element.id = nextId_++;
    index_[element.id] = elements.size();
    record(element.kind == ElementKind::Panel ? "panel" : "gadget", {element.id});
    elements.push_back(std::move(element));
    return elements.back().id;
}

// --- Panels and gadgets ------------------------------------------------------

DgId ScriptedHost::createPanel(DgId parent, int32_t x, int32_t y, int32_t width, int32_t height,
                               uint32_t flags, uint32_t flags2, int32_t zero) {
    EXPECT_EQ(zero, 0);
    Element panel;
    panel.kind = ElementKind::Panel;
    panel.panel = parent;
    panel.x = x;
    panel.y = y;
    panel.width = width;
    panel.height = height;
    panel.flags = flags;
    panel.flags2 = flags2;
    return addElement(panel);
}

void ScriptedHost::removePanel(DgId id) {
    record("removePanel", {id});
    Element *panel = findMutable(id);
    if (!panel || panel->kind != ElementKind::Panel) {
        ADD_FAILURE() << "removing an unknown panel " << id;
        return;
    }
    if (panel->removed) ADD_FAILURE() << "panel " << id << " removed twice";
    panel->removed = true;
    for (Element &element : elements)
        if (element.panel == id && !element.removed) {
            if (element.kind == ElementKind::Panel)
                removePanel(element.id);
            else
                element.removed = true;
        }
}

DgId ScriptedHost::addSlider(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                             int32_t minimum, int32_t maximum, int32_t value, const XChar *label,
                             const XChar *valueText, uint32_t style, DgGadgetExt *extension) {
    Element slider;
    slider.kind = ElementKind::Slider;
    slider.panel = panel;
    slider.x = x;
    slider.y = y;
    slider.width = width;
    slider.height = height;
    slider.minimum = minimum;
    slider.maximum = maximum;
    slider.value = value;
    slider.label = textId(label);
    slider.valueText = textId(valueText);
    slider.state = style;
    slider.enabled = (style & 2) == 0;
    slider.hasExtension = extension != nullptr;
    slider.formatter = extension ? extension->formatter : nullptr;
    return addElement(slider);
}

DgId ScriptedHost::addCheckBox(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                               int32_t value, uint32_t state, DgGadgetExt *extension) {
    Element box;
    box.kind = ElementKind::CheckBox;
    box.panel = panel;
    box.x = x;
    box.y = y;
    box.width = width;
    box.height = height;
    box.value = value;
    box.state = state;
    box.enabled = state != 2;
    box.hasExtension = extension != nullptr;
    box.label = labelOf(extension);
    return addElement(box);
}

DgId ScriptedHost::addPopup(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                            void *itemList, int32_t value, const XChar *label, uint32_t state,
                            int32_t zero) {
    EXPECT_EQ(zero, 0);
    Element popup;
    popup.kind = ElementKind::Popup;
    popup.panel = panel;
    popup.x = x;
    popup.y = y;
    popup.width = width;
    popup.height = height;
    popup.value = value;
    popup.label = textId(label);
    popup.state = state;
    popup.enabled = state != 2;
    // The list library's layout: header (first, last), nodes starting with next.
    if (itemList) {
        void *node = static_cast<void **>(itemList)[0];
        for (int guard = 0; node && guard < 16; ++guard) {
            uint32_t flags;
            const XChar *text;
            std::memcpy(&flags, static_cast<char *>(node) + 12, 4);
            std::memcpy(&text, static_cast<char *>(node) + 16, sizeof text);
            popup.items.push_back(flags == 0x201 ? textId(text) : -1);
            node = *static_cast<void **>(node);
        }
    }
    return addElement(popup);
}

DgId ScriptedHost::addTextButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                                 const XChar *text, uint32_t state, int32_t zero) {
    EXPECT_EQ(zero, 0);
    Element button;
    button.kind = ElementKind::TextButton;
    button.panel = panel;
    button.x = x;
    button.y = y;
    button.width = width;
    button.height = height;
    button.label = textId(text);
    button.state = state;
    button.enabled = state != 2;
    return addElement(button);
}

DgId ScriptedHost::addImageButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                                  const void *image, uint32_t state, const DgGadgetExt *extension) {
    Element button;
    button.kind = ElementKind::ImageButton;
    button.panel = panel;
    button.x = x;
    button.y = y;
    button.width = width;
    button.height = height;
    auto found = imageIds_.find(image);
    button.image = found == imageIds_.end() ? -1 : found->second;
    button.state = state;
    button.hasExtension = extension != nullptr;
    if (extension) {
        const DgGadgetExt zero{};
        EXPECT_EQ(extension->label, zero.label);
        EXPECT_EQ(extension->formatter, zero.formatter);
        EXPECT_EQ(extension->field1 | extension->field2 | extension->field4 | extension->field6 |
                      extension->field7 | extension->field8,
                  0);
    }
    return addElement(button);
}

DgId ScriptedHost::addTextGadget(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                                 const XChar *text, int32_t one, DgGadgetExt *extension) {
    EXPECT_EQ(one, 1);
    Element gadget;
    gadget.kind = ElementKind::TextGadget;
    gadget.panel = panel;
    gadget.x = x;
    gadget.y = y;
    gadget.width = width;
    gadget.height = height;
    gadget.text = copyText(text);
    gadget.hasExtension = extension != nullptr;
    gadget.label = labelOf(extension);
    return addElement(gadget);
}

DgId ScriptedHost::addPaletteButton(DgId panel, int32_t x, int32_t y, int32_t width, int32_t height,
                                    const XChar *label, uint32_t colour, uint32_t state,
                                    int32_t zero) {
    EXPECT_EQ(zero, 0);
    Element button;
    button.kind = ElementKind::PaletteButton;
    button.panel = panel;
    button.x = x;
    button.y = y;
    button.width = width;
    button.height = height;
    button.label = textId(label);
    button.colour = colour;
    button.state = state;
    button.enabled = state != 2;
    return addElement(button);
}

DgId ScriptedHost::boxText(DgId panel, const XChar *text, int32_t x, int32_t y, int32_t width,
                           int32_t height, int32_t style) {
    Element box;
    box.kind = ElementKind::BoxText;
    box.panel = panel;
    box.x = x;
    box.y = y;
    box.width = width;
    box.height = height;
    box.label = textId(text);
    box.state = uint32_t(style);
    return addElement(box);
}

DgGadgetExt *ScriptedHost::allocGadgetExt() {
    auto *extension = new DgGadgetExt;
    std::memset(static_cast<void *>(extension), 0xA5, sizeof *extension); // the dialog clears it
    ++liveExtensions;
    return extension;
}

void ScriptedHost::freeGadgetExt(DgGadgetExt *extension) {
    if (!extension) return;
    delete extension;
    --liveExtensions;
}

int32_t ScriptedHost::formatFramesAsTime(int32_t, XChar *text, int32_t capacity) {
    if (capacity > 0) text[0] = 0;
    return 0;
}

// --- Attributes ----------------------------------------------------------------

int32_t ScriptedHost::changeElement(DgId panel, DgId id, int32_t attribute, intptr_t value,
                                    int32_t last) {
    record("change", {panel, id, attribute, value, last});
    Element *element = findMutable(id);
    if (!element || element->removed) {
        ADD_FAILURE() << "attribute " << attribute << " of a gadget that does not exist";
        return -1;
    }
    EXPECT_EQ(element->panel, panel) << "attribute " << attribute << " through another panel";
    switch (attribute) {
    case 5:
        element->colour = uint32_t(value);
        break;
    case 39:
        element->maximum = int32_t(value);
        break;
    case 40:
        element->value = int32_t(value);
        break;
    case 43:
        element->text = copyText(reinterpret_cast<const XChar *>(value));
        break;
    case 57:
        element->key = int32_t(value);
        break;
    case 80:
        element->helpTable = value;
        break;
    case 82:
        element->helpId = int32_t(value);
        break;
    default:
        ADD_FAILURE() << "unknown attribute " << attribute;
    }
    return 0;
}

void ScriptedHost::enableElement(DgId panel, DgId id) {
    Element *element = findMutable(id);
    record("enable", {panel, element ? element->label : -1});
    if (element) element->enabled = true;
}

void ScriptedHost::disableElement(DgId panel, DgId id) {
    Element *element = findMutable(id);
    record("disable", {panel, element ? element->label : -1});
    if (element) element->enabled = false;
}

void ScriptedHost::activateElement(DgId panel, DgId id) {
    const Element *element = find(id);
    record("activate", {panel, element ? element->image : -1});
}

void ScriptedHost::setColorYUV(uint32_t colour) {
    record("setColour", {colour});
}
uint32_t ScriptedHost::newGuiColorYUV(int32_t which) {
    return 0x10000u + uint32_t(which);
}
uint32_t ScriptedHost::guiColorYUV(int32_t which) {
    return 0x20000u + uint32_t(which);
}

ResTable *ScriptedHost::guiResource(int32_t which) {
    if (which < 0 || which >= int32_t(sizeof guiTables_)) return nullptr;
    return reinterpret_cast<ResTable *>(&guiTables_[which]);
}

int32_t ScriptedHost::screenWidthMonitor(int32_t monitor) {
    return monitor == 2 ? monitor2W : screenW;
}
int32_t ScriptedHost::screenHeightMonitor(int32_t monitor) {
    return monitor == 2 ? monitor2H : screenH;
}

void ScriptedHost::visibleArea(int32_t *left, int32_t *top, int32_t *right, int32_t *bottom) {
    *left = 0;
    *top = 0;
    *right = screenW;
    *bottom = screenH;
}

void ScriptedHost::visibleAreaMonitor(int32_t *left, int32_t *top, int32_t *right, int32_t *bottom,
                                      int32_t monitor) {
    EXPECT_EQ(monitor, 2);
    *left = visible[0];
    *top = visible[1];
    *right = visible[2];
    *bottom = visible[3];
}

int32_t ScriptedHost::fontHeightMonitor(int32_t monitor) {
    EXPECT_EQ(monitor, guiMonitor);
    return font;
}

// --- Messages, pointer, overlay ------------------------------------------------

int32_t ScriptedHost::receiveMessage(MsgQueue *queue, GuiMessage *message, int32_t timeout) {
    EXPECT_EQ(queue, reinterpret_cast<MsgQueue *>(&tokens_[2]));
    EXPECT_EQ(timeout, -1);
    while (!script_.empty()) {
        auto next = std::move(script_.front());
        script_.pop_front();
        std::memset(message->bytes, 0, sizeof message->bytes);
        if (next(*message)) return 0;
    }
    ranDry = true;
    std::memset(message->bytes, 0, sizeof message->bytes);
    put16(*message, 8, 7);
    return 0;
}

void ScriptedHost::busyPointer() {
    ++busy;
    record("busy", {});
}
void ScriptedHost::standardPointer() {
    ++standard;
    record("standard", {});
}
void ScriptedHost::movePointer(int32_t x, int32_t y) {
    record("movePointer", {x, y});
}
void ScriptedHost::setPointerAttrs(int32_t a, int32_t b, int32_t c, int32_t d) {
    record("pointerAttrs", {a, b, c, d});
}
void ScriptedHost::colorBarOn() {
    record("colorBarOn", {});
}
void ScriptedHost::colorBarOff() {
    record("colorBarOff", {});
}

void ScriptedHost::drawOverlay(const uint32_t *pixels, int32_t zero, int32_t strideBytes, int32_t x,
                               int32_t y, int32_t width, int32_t height) {
    EXPECT_EQ(zero, 0);
    record("overlay", {x, y, width, height});
    Overlay overlay{false, strideBytes, x, y, width, height, 0, {}};
    for (int32_t row = 0; row < height; ++row)
        overlay.pixels.insert(overlay.pixels.end(), pixels + size_t(row) * (strideBytes / 4),
                              pixels + size_t(row) * (strideBytes / 4) + width);
    overlays.push_back(std::move(overlay));
}

void ScriptedHost::drawOverlayMonitor(const uint32_t *pixels, int32_t zero, int32_t strideBytes,
                                      int32_t x, int32_t y, int32_t width, int32_t height,
                                      int32_t monitor) {
    EXPECT_EQ(zero, 0);
    record("overlayMonitor", {x, y, width, height, monitor});
    Overlay overlay{true, strideBytes, x, y, width, height, monitor, {}};
    for (int32_t row = 0; row < height; ++row)
        overlay.pixels.insert(overlay.pixels.end(), pixels + size_t(row) * (strideBytes / 4),
                              pixels + size_t(row) * (strideBytes / 4) + width);
    overlays.push_back(std::move(overlay));
}

// --- Requesters ----------------------------------------------------------------

int32_t ScriptedHost::createRequest(DreqRequest *request) {
    record("createRequest", {});
    requests.push_back(*request);
    if (failRequest) return -1;
    request->handle = 7;
    return 0;
}

int32_t ScriptedHost::deleteRequest(DreqRequest *request) {
    record("deleteRequest", {request->handle});
    return 0;
}

int32_t ScriptedHost::textRequest(DreqTextRequest *request) {
    textsAsked.push_back({textId(request->text), request->style});
    record("textRequest", {textId(request->text), request->style});
    request->result = 0;
    if (!textAnswers.empty()) {
        request->result = textAnswers.front();
        textAnswers.pop_front();
    }
    return 0;
}

int32_t ScriptedHost::paletteRequest(DreqPaletteRequest *request) {
    palettesAsked.push_back(request->colour);
    EXPECT_EQ(request->value25600, 25600);
    EXPECT_EQ(request->zero0 | request->zero1, 0);
    if (paletteAnswers.empty()) return 0;
    const PaletteAnswer answer = paletteAnswers.front();
    paletteAnswers.pop_front();
    request->result = answer.chosen;
    if (answer.chosen == 1) request->colour = answer.colour;
    return answer.result;
}

int32_t ScriptedHost::fileRequest(DreqFileRequest *request) {
    filesAsked.push_back({request->directory ? request->directory : "",
                          copyText(request->defaultName), request->mode, request->pathSize,
                          request->nameSize});
    EXPECT_EQ(request->status, 0);
    if (fileAnswers.empty()) return 0;
    const FileAnswer answer = fileAnswers.front();
    fileAnswers.pop_front();
    request->status = answer.status;
    std::strncpy(request->path, answer.path.c_str(), size_t(request->pathSize));
    size_t i = 0;
    for (; i < answer.name.size() && i < size_t(request->nameSize); ++i)
        request->name[i] = XChar(answer.name[i]);
    if (i < size_t(request->nameSize)) request->name[i] = 0;
    return answer.result;
}

int32_t ScriptedHost::archivesRequest(DreqArchivesRequest *request) {
    archivesTitles.push_back(textId(request->title));
    if (archivesAnswers.empty()) return -1;
    const auto answer = archivesAnswers.front();
    archivesAnswers.pop_front();
    request->action = answer.second;
    return answer.first;
}

// --- Resources -------------------------------------------------------------------

ResTable *ScriptedHost::loadStrings(const char *name) {
    record("loadStrings", {});
    EXPECT_STREQ(name, "lustra_ops");
    ResTable *table =
        realResources ? HostBackend::loadStrings(name) : reinterpret_cast<ResTable *>(&tokens_[0]);
    if (table) ++liveStringTables;
    return table;
}

ResTable *ScriptedHost::loadImages(const char *name) {
    record("loadImages", {});
    EXPECT_STREQ(name, "lustra_ops");
    ResTable *table =
        realResources ? HostBackend::loadImages(name) : reinterpret_cast<ResTable *>(&tokens_[1]);
    if (table) ++liveImageTables;
    return table;
}

const XChar *ScriptedHost::string(ResTable *table, int32_t id) {
    const XChar *text = nullptr;
    if (realResources) {
        text = HostBackend::string(table, id);
    } else if (table == reinterpret_cast<ResTable *>(&tokens_[0])) {
        std::vector<XChar> &stored = syntheticTexts_[id];
        if (stored.empty()) {
            const std::string synthetic = "@" + std::to_string(id);
            stored.assign(synthetic.begin(), synthetic.end());
            stored.push_back(0);
        }
        text = stored.data();
    } else {
        ADD_FAILURE() << "string " << id << " of a table that is not a string table";
    }
    if (text) textIds_[text] = id;
    return text;
}

const void *ScriptedHost::image(ResTable *table, int32_t id) {
    const char *gui = reinterpret_cast<const char *>(table);
    if (gui >= guiTables_ && gui < guiTables_ + sizeof guiTables_) {
        EXPECT_EQ(gui - guiTables_, id) << "a GUI image of another GUI resource";
        const void *token = &imageTokens_[id];
        imageIds_[token] = kGuiImageBase + id;
        return token;
    }
    const void *image = nullptr;
    if (realResources)
        image = HostBackend::image(table, id);
    else if (table == reinterpret_cast<ResTable *>(&tokens_[1]) && id >= 100 && id < 1200)
        image = &imageTokens_[id];
    if (image) imageIds_[image] = id;
    return image;
}

void ScriptedHost::freeStrings(ResTable *table) {
    record("freeStrings", {});
    --liveStringTables;
    if (realResources) HostBackend::freeStrings(table);
}

void ScriptedHost::freeImages(ResTable *table) {
    record("freeImages", {});
    --liveImageTables;
    if (realResources) HostBackend::freeImages(table);
}

MsgQueue *ScriptedHost::createQueue(int32_t count, int32_t size, int32_t flags) {
    record("createQueue", {count, size, flags});
    return noQueue ? nullptr : reinterpret_cast<MsgQueue *>(&tokens_[2]);
}

// --- Transfer requests -----------------------------------------------------------

TxRequest *ScriptedHost::allocTransfer(int32_t flags) {
    record("txAlloc", {flags});
    return refuseTransfer ? nullptr : reinterpret_cast<TxRequest *>(&tokens_[3]);
}

void ScriptedHost::setTransferPrefs(TxRequest *, const void *descriptor) {
    char text[LFX_SOURCE_DESCRIPTOR_SIZE + 1] = {};
    std::memcpy(text, descriptor, LFX_SOURCE_DESCRIPTOR_SIZE);
    transferDescriptors.push_back(text);
}

void ScriptedHost::setTransferTypes(TxRequest *, int32_t types) {
    record("txTypes", {types});
}

int32_t ScriptedHost::runTransfer(TxRequest *, int32_t flags) {
    EXPECT_EQ(flags, 0);
    pendingTransfer_ = TransferAnswer{0, 0, {}};
    if (!transferAnswers.empty()) {
        pendingTransfer_ = transferAnswers.front();
        transferAnswers.pop_front();
    }
    return pendingTransfer_.result;
}

int32_t ScriptedHost::transferStatus(TxRequest *) {
    return pendingTransfer_.status;
}

void ScriptedHost::getTransferPrefs(TxRequest *, void *descriptor, int32_t size) {
    record("txGetPrefs", {size});
    std::memset(descriptor, 0, size_t(size));
    std::memcpy(descriptor, pendingTransfer_.descriptor.data(),
                std::min(pendingTransfer_.descriptor.size(), size_t(size)));
}

void ScriptedHost::freeTransfer(TxRequest *) {
    record("txFree", {});
}

uint16_t ScriptedHost::pixelAspect(int32_t a, int32_t monitor) {
    EXPECT_EQ(a, 0);
    EXPECT_EQ(monitor, 2);
    return monitorAspect;
}

} // namespace lustra::test
