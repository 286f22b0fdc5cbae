// The dialog's thin layer over the host's GUI, requester, resource, list and
// character services: resource texts and images, gadget extensions, popup
// item lists, text requests, keys and help, and the dialog's buffers.
#pragma once

#include "lustrafex/host_sdk.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lustra {

// A text of the dialog's string table (null when the table or id is missing).
const XChar *resourceText(int32_t id);
// A page-button image of the dialog's image table.
const void *resourceImage(int32_t id);
// An image of the GUI library's own resources.
const void *guiImage(int32_t which);

// The gadget extensions of one build: each starts all zero and is freed with
// dgFreeGadExt when the build is done (when this object goes).
class GadgetExtensions {
  public:
    GadgetExtensions() = default;
    GadgetExtensions(const GadgetExtensions &) = delete;
    GadgetExtensions &operator=(const GadgetExtensions &) = delete;
    ~GadgetExtensions();
    // A zeroed extension with `label` as its text, or null when the host has
    // none to give.
    DgGadgetExt *withLabel(const XChar *label);
    DgGadgetExt *withFormatter(DgValueFormatter formatter);

  private:
    DgGadgetExt *allocate();
    std::vector<DgGadgetExt *> extensions_;
};

// A popup's item list: a list header and up to six nodes, each holding one
// resource text. Freed by freeItemList (or when the object goes).
class ItemList {
  public:
    static constexpr int kMaxItems = 6;
    ItemList(int32_t firstId, int32_t count);
    ItemList(const ItemList &) = delete;
    ItemList &operator=(const ItemList &) = delete;
    ~ItemList() { freeItemList(); }
    void *list() const { return header_; }
    void freeItemList();

  private:
    void *header_ = nullptr;
    void *nodes_[kMaxItems] = {};
    int32_t count_ = 0;
};

// Shows a text request with a resource text; true when the user confirmed.
bool askText(int32_t id, int32_t style);

// Element attributes (panel, gadget); nothing happens for an absent gadget.
void setKey(DgId panel, DgId gadget, int32_t key, int32_t last = 0);
void setHelp(DgId panel, DgId gadget, int32_t helpId);
void changeElement(DgId panel, DgId gadget, int32_t attribute, intptr_t value, int32_t last);
void enableGadget(DgId panel, DgId gadget, bool enabled);

// "%d, %d" of a position pair in a buffer that stays valid until the next call.
const XChar *positionText(int32_t x, int32_t y);

// The dialog's buffer allocations (preview picture, frame buffers). Tests may
// limit how many succeed: a negative limit lets all succeed.
void *allocateDialogBuffer(size_t bytes);
extern int32_t dialogAllocationLimit;

// Attribute numbers of dgChangeElement.
constexpr int32_t kAttributeColour = 5;
constexpr int32_t kAttributeSliderMaximum = 39;
constexpr int32_t kAttributeSliderValue = 40;
constexpr int32_t kAttributeText = 43;
constexpr int32_t kAttributeKey = 57;
constexpr int32_t kAttributeHelpTable = 80;
constexpr int32_t kAttributeHelpId = 82;

} // namespace lustra
