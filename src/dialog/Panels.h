// The dialog's panels and gadgets: the strip in its three shapes (full,
// collapsed, position panel), the page header and the page body.
#pragma once

#include <cstdint>

namespace lustra {

// Creates the panels of the current shape from the record.
void buildMainPanels();
// Removes every panel that exists and clears all panel and gadget ids.
void removeMainPanels();
// Rebuilds the page header (and with it the body) for the current page.
void buildPageHeader();
// Rebuilds the page body for the current page and view.
void buildPageBody();

// Geometry helpers: F + A, the gadget height and the y of gadget row k.
int32_t textHeight();
int32_t gadgetHeight();
int32_t rowY(int32_t row);

// Rounds up to a multiple of 4 and to an even number.
int32_t roundUpTo4(int32_t value);
int32_t roundUpToEven(int32_t value);

} // namespace lustra
