// The dialog's thin layer over the host services.
#include "dialog/DialogServices.h"

#include "dialog/DialogState.h"

#include <cstdlib>
#include <cstring>

namespace lustra {

int32_t dialogAllocationLimit = -1;

const XChar *resourceText(int32_t id) {
    return dialog.stringTable ? resGetString(dialog.stringTable, id) : nullptr;
}

const void *resourceImage(int32_t id) {
    return dialog.imageTable ? resGetImage(dialog.imageTable, id) : nullptr;
}

const void *guiImage(int32_t which) {
    return resGetImage(dgGetGuiResource(which), which);
}

GadgetExtensions::~GadgetExtensions() {
    for (DgGadgetExt *extension : extensions_) dgFreeGadExt(extension);
}

DgGadgetExt *GadgetExtensions::allocate() {
    DgGadgetExt *extension = dgAllocGadExt();
    if (!extension) return nullptr;
    extension->field1 = 0;
    extension->field2 = 0;
    extension->label = nullptr;
    extension->field4 = 0;
    extension->formatter = nullptr;
    extension->field6 = 0;
    extension->field7 = 0;
    extension->field8 = 0;
    extensions_.push_back(extension);
    return extension;
}

DgGadgetExt *GadgetExtensions::withLabel(const XChar *label) {
    DgGadgetExt *extension = allocate();
    if (extension) extension->label = label;
    return extension;
}

DgGadgetExt *GadgetExtensions::withFormatter(DgValueFormatter formatter) {
    DgGadgetExt *extension = allocate();
    if (extension) extension->formatter = formatter;
    return extension;
}

namespace {

constexpr size_t kListHeaderSize = 16;
constexpr size_t kNodeSize = 44;
constexpr size_t kNodeFlagsOffset = 12;
constexpr size_t kNodeTextOffset = 16;
constexpr uint32_t kNodeFlags = 0x201;

} // namespace

ItemList::ItemList(int32_t firstId, int32_t count) {
    header_ = std::calloc(1, kListHeaderSize);
    if (!header_) return;
    lstInitList(header_);
    for (int32_t i = 0; i < count && i < kMaxItems; ++i) {
        void *node = std::calloc(1, kNodeSize);
        if (!node) break;
        const XChar *text = resourceText(firstId + i);
        std::memcpy(static_cast<char *>(node) + kNodeFlagsOffset, &kNodeFlags, sizeof kNodeFlags);
        std::memcpy(static_cast<char *>(node) + kNodeTextOffset, &text, sizeof text);
        nodes_[count_++] = node;
        lstAppendNode(header_, node);
    }
}

void ItemList::freeItemList() {
    for (int32_t i = 0; i < count_; ++i) std::free(nodes_[i]);
    count_ = 0;
    std::free(header_);
    header_ = nullptr;
}

bool askText(int32_t id, int32_t style) {
    DreqTextRequest request{};
    request.text = resourceText(id);
    request.style = style;
    request.result = 0;
    return dreqTextRequest(&request) == 0 && request.result == 1;
}

void changeElement(DgId panel, DgId gadget, int32_t attribute, intptr_t value, int32_t last) {
    if (gadget != 0) dgChangeElement(panel, gadget, attribute, value, last);
}

void setKey(DgId panel, DgId gadget, int32_t key, int32_t last) {
    if (key != 0) changeElement(panel, gadget, kAttributeKey, key, last);
}

void setHelp(DgId panel, DgId gadget, int32_t helpId) {
    changeElement(panel, gadget, kAttributeHelpTable,
                  reinterpret_cast<intptr_t>(dialog.stringTable), 0);
    changeElement(panel, gadget, kAttributeHelpId, helpId, 0);
}

void enableGadget(DgId panel, DgId gadget, bool enabled) {
    if (gadget == 0) return;
    if (enabled)
        dgEnableElement(panel, gadget);
    else
        dgDisableElement(panel, gadget);
}

const XChar *positionText(int32_t x, int32_t y) {
    static XChar text[32];
    sxprintf(text, 32, "%d, %d", x, y);
    return text;
}

void *allocateDialogBuffer(size_t bytes) {
    if (dialogAllocationLimit == 0) return nullptr;
    if (dialogAllocationLimit > 0) --dialogAllocationLimit;
    return std::malloc(bytes);
}

} // namespace lustra
