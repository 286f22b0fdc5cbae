// The dialog's event handling: dialog-level buttons, the gadgets that write
// the settings, the enabling rules, the position drags and the source and
// colour requests.
#pragma once

#include "lustrafex/host_sdk.h"

#include <cstdint>

namespace lustra {

// Message kinds of the dialog's queue.
enum GuiMessageKind : uint16_t {
    kMessagePointerMoved = 2,
    kMessagePointerButton = 3,
    kMessageGadget = 4,
    kMessageClose = 7,
};

// Acts on one message; true when the dialog is to close.
bool handleGuiMessage(const GuiMessage &message);

// Runs the six source-image loaders in the render's order.
void loadAllSourceImages();
// Runs the loader of one layer (SourceLayer).
void loadSourceImage(int32_t layer);

// Ends a running position drag without touching the position (the record it
// belonged to was replaced).
void endPositionDrag();

// Fetches the fields of `frame` into the frame buffers. On failure the
// buffers keep the frame they held. Returns 0 or -1.
int32_t fetchPreviewFrame(int32_t frame);

} // namespace lustra
