// The preview render of the settings dialog: keeps the engine set up between
// calls and, when a setting changes, re-runs only the stage it affects and
// then the final shading.
#pragma once

#include <cstdint>

namespace lustra {

// Preview steps: what renderPreview recomputes.
enum PreviewStep : int32_t {
    kStepAll = 0,      // all eight stages
    kStepBevel = 1,    // bevel (+ surface texture 1 when on) and final shading
    kStepGlow = 2,     // glow and final shading
    kStepShadow = 3,   // shadow and final shading
    kStepTexture1 = 4, // surface texture 1 and final shading
    kStepTexture2 = 5, // surface texture 2 and final shading
    kStepMap1 = 6,     // image map 1 and final shading
    kStepMap2 = 7,     // image map 2 and final shading
    kStepShading = 8,  // final shading only
};

// Set when the frame shown or the whole settings record changed: the next
// renderPreview tears the engine down, rebuilds the mask and sets it up again.
extern int32_t previewNeedsSetup;

// Where the preview goes: a frame buffer of host pixels of the work buffers'
// size (the dialog's preview frame), and the display refresh that follows a
// successful conversion. Both are set by the dialog; either may be null.
struct PreviewTarget {
    uint32_t *frame = nullptr;
    void (*display)() = nullptr;
};

extern PreviewTarget previewTarget;

// What the last renderPreview call did: its step and a bit per engine stage
// run (bit 0 bevel ... bit 7 final shading), whether it set the engine up and
// whether it converted and displayed a result. For diagnostics and tests.
struct PreviewTrace {
    int32_t step = -1;
    uint32_t stages = 0;
    int32_t setUp = 0;
    int32_t shown = 0;
    int32_t calls = 0;
};

extern PreviewTrace previewTrace;

// Renders the preview of the frame in the frame buffers for `step` and shows
// it. Returns 0, or -1 when the work buffers cannot be allocated.
int32_t renderPreview(int32_t step);

// Log lines of the preview render.
constexpr int32_t kLogPreviewBuffersMissing = 2193;
constexpr int32_t kLogPreviewStageFailed = 2323;

} // namespace lustra
