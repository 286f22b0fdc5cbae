// The dialog's pages as tables: the header (switch and view popup or title)
// and, per view, the body gadgets with their labels, ranges, fields, keys,
// disabled states and what a change of each does.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lustra {

// A field of the settings record: offset, width in bytes, signedness.
struct FieldRef {
    uint16_t offset = 0;
    uint8_t size = 0; // 0: no field
    uint8_t isSigned = 0;
};

int32_t readField(FieldRef field);
void writeField(FieldRef field, int32_t value);
uint8_t *fieldAddress(FieldRef field);

enum class GadgetKind : uint8_t { Slider, CheckBox, Popup, TextButton, TextGadget, Colour };

enum class Role : uint8_t {
    Value,           // writes the gadget's value into the field
    InvertedPercent, // writes 100 - value
    LightDrag,       // starts dragging the light position
    PositionDrag,    // starts dragging the page's position pair
    PositionReset,   // sets the position pair to 0, 0
    PickSource,      // transfer request for the source descriptor
    PickColour,      // colour request
    PositionText,    // shows the position pair
};

// When a gadget is created disabled: while the page's switch is off, and/or
// while a condition field equals (or differs from) a value.
enum class Test : uint8_t { None, Equal, NotEqual };

struct DisabledWhen {
    bool bySwitch = false;
    Test test = Test::None;
    FieldRef condition;
    int32_t value = 0;
};

constexpr int8_t kNoStep = -1;
constexpr int8_t kNoLayer = -1;

struct GadgetEntry {
    GadgetKind kind;
    uint8_t row;
    int32_t label;
    Role role;
    FieldRef field;               // the value, colour, source descriptor or x of a position pair
    FieldRef fieldY;              // y of a position pair
    int32_t minimum, maximum;     // slider range
    int32_t firstItem, itemCount; // popup items
    int32_t key;                  // keyboard shortcut, 0 for none
    DisabledWhen disabled;
    int32_t valueText;  // slider value format (string id)
    int8_t step;        // preview step after a change
    int8_t reload;      // source layer loaded again after a change
    bool needsSetup;    // the change needs a new engine set-up
    int32_t refresh[2]; // labels whose enabled state follows this gadget
};

struct PageView {
    const GadgetEntry *gadgets = nullptr;
    int32_t count = 0;
};

struct PageEntry {
    FieldRef switchField; // header check box, size 0 when none
    bool switchOnlyOne;   // the switch is on only at 1 (else: on unless 0)
    bool popup;           // header popup (else a box text)
    int32_t headerLabel;  // popup label or box text
    int32_t firstItem, itemCount;
    FieldRef viewField;
    int32_t step;                  // the page's preview step
    int8_t switchStep;             // preview step after the switch changes
    int8_t switchReload;           // source layer loaded again after the switch changes
    bool switchClearsMask;         // the switch clears the mask's built flag
    FieldRef positionX, positionY; // the page's position pair
    int32_t positionLabel;         // its text gadget's label, 0 when none
    PageView views[3];
    int32_t viewCount; // 1: one view; 2: view 0 and any other; 3: views 0, 1, 2
};

extern const PageEntry kPages[10];

// The page shown: currentPage, or page 0 for a value beyond the ten pages.
int32_t shownPage();
// The view of `page` that the record selects, or null when it shows none.
const PageView *currentView(int32_t page);
// Whether the page's switch is on.
bool switchOn(const PageEntry &page);
// Whether a gadget is shown disabled given the record.
bool gadgetDisabled(const PageEntry &page, const GadgetEntry &gadget);

} // namespace lustra
