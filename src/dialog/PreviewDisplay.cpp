// The preview display: bilinear scaling of the preview frame into the preview
// rectangle and into full-screen pictures for the overlay.
#include "dialog/PreviewDisplay.h"

#include "dialog/DialogServices.h"
#include "dialog/DialogState.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace lustra {

namespace {

// One overlay update, bracketed by the pointer attribute calls.
struct OverlayUpdate {
    OverlayUpdate() { dgSetPointerAttrs(2, 0, 0, 0); }
    ~OverlayUpdate() { dgSetPointerAttrs(1, 0, 0, 0); }
    OverlayUpdate(const OverlayUpdate &) = delete;
    OverlayUpdate &operator=(const OverlayUpdate &) = delete;
};

// Draws rows [top, bottom) x columns [left, right) of the screen picture.
void drawPiece(const uint32_t *screen, int32_t screenWidth, int32_t left, int32_t top,
               int32_t right, int32_t bottom) {
    if (right <= left || bottom <= top) return;
    dgmxYUVAtoOvl(screen + size_t(top) * screenWidth + left, 0, screenWidth * 4, left, top,
                  right - left, bottom - top);
}

int32_t clampTo(int32_t value, int32_t low, int32_t high) {
    return value < low ? low : (value > high ? high : value);
}

} // namespace

void scaleBilinear(const uint32_t *source, int32_t sourceWidth, int32_t sourceHeight,
                   uint32_t *destination, int32_t destinationWidth, int32_t destinationHeight) {
    if (!source || !destination || sourceWidth <= 0 || sourceHeight <= 0 || destinationWidth <= 0 ||
        destinationHeight <= 0)
        return;
    const size_t columns = static_cast<size_t>(destinationWidth);
    const float stepX = static_cast<float>(sourceWidth) / static_cast<float>(destinationWidth);
    const float stepY = static_cast<float>(sourceHeight) / static_cast<float>(destinationHeight);

    // The column positions are the same for every row: fx grows by stepX per
    // pixel, accumulated in single precision.
    std::vector<int32_t> left(columns), right(columns);
    std::vector<float> fractionX(columns);
    float fx = 0.0f;
    for (size_t i = 0; i < columns; ++i) {
        const int32_t x0 = static_cast<int32_t>(fx);
        left[i] = clampTo(x0, 0, sourceWidth - 1);
        right[i] = clampTo(x0 + 1, 0, sourceWidth - 1);
        fractionX[i] = fx - static_cast<float>(x0);
        fx += stepX;
    }

    // The horizontal interpolation of a source row, byte by byte:
    // (b(x0 + 1) - b(x0)) x (fx - x0) + b(x0). Neighbouring destination rows
    // share source rows, so each is interpolated once and kept (planar, one
    // run of `columns` values per byte) while it is needed.
    struct InterpolatedRow {
        int32_t row = -1;
        std::vector<float> values;
    };
    InterpolatedRow cache[2];
    for (InterpolatedRow &slot : cache) slot.values.resize(4 * columns);
    auto interpolated = [&](int32_t row, int32_t keep) -> const float * {
        for (InterpolatedRow &slot : cache)
            if (slot.row == row) return slot.values.data();
        InterpolatedRow &slot = cache[0].row == keep ? cache[1] : cache[0];
        slot.row = row;
        const uint32_t *pixels = source + size_t(row) * size_t(sourceWidth);
        for (int32_t shift = 0, byte = 0; byte < 4; ++byte, shift += 8) {
            float *out = slot.values.data() + size_t(byte) * columns;
            for (size_t i = 0; i < columns; ++i) {
                const float b0 = static_cast<float>((pixels[left[i]] >> shift) & 0xFF);
                const float b1 = static_cast<float>((pixels[right[i]] >> shift) & 0xFF);
                out[i] = (b1 - b0) * fractionX[i] + b0;
            }
        }
        return slot.values.data();
    };

    // The vertical interpolation: (bottom - top) x (fy - y0) + top, truncated.
    std::vector<uint32_t> packed(columns);
    float fy = 0.0f;
    for (int32_t j = 0; j < destinationHeight; ++j) {
        const int32_t y0 = static_cast<int32_t>(fy);
        const float fractionY = fy - static_cast<float>(y0);
        const int32_t row0 = clampTo(y0, 0, sourceHeight - 1);
        const int32_t row1 = clampTo(y0 + 1, 0, sourceHeight - 1);
        const float *top = interpolated(row0, row1);
        const float *bottom = interpolated(row1, row0);
        std::fill(packed.begin(), packed.end(), 0u);
        for (int32_t shift = 0, byte = 0; byte < 4; ++byte, shift += 8) {
            const float *t = top + size_t(byte) * columns;
            const float *b = bottom + size_t(byte) * columns;
            for (size_t i = 0; i < columns; ++i) {
                int32_t value = static_cast<int32_t>((b[i] - t[i]) * fractionY + t[i]);
                value = value < 0 ? 0 : (value > 255 ? 255 : value);
                packed[i] |= static_cast<uint32_t>(value) << shift;
            }
        }
        std::memcpy(destination + size_t(j) * columns, packed.data(), columns * 4);
        fy += stepY;
    }
}

void drawPreview() {
    if (!dialog.previewFrame) return;
    if (dialog.guiMonitor != 1) {
        drawFullScreenPreview(0);
        return;
    }
    if (dialog.previewPicture) {
        scaleBilinear(dialog.previewFrame, dialog.projectFrameWidth, dialog.projectFrameHeight,
                      dialog.previewPicture, dialog.previewInnerWidth, dialog.previewInnerHeight);
        OverlayUpdate update;
        dgmxYUVAtoOvl(dialog.previewPicture, 0, dialog.previewInnerWidth * 4, dialog.previewX + 4,
                      dialog.previewY + 4, dialog.previewInnerWidth, dialog.previewInnerHeight);
    }
    if (!dialog.twoMonitorsConnected) drawFullScreenPreview(1);
}

void drawFullScreenPreview(int32_t toMonitor2) {
    OverlayUpdate update;
    const int32_t screenWidth = dialog.monitor2Width, screenHeight = dialog.monitor2Height;
    if (!dialog.previewFrame || screenWidth <= 0 || screenHeight <= 0 ||
        dialog.projectFrameWidth <= 0 || dialog.projectFrameHeight <= 0)
        return;

    // The frame height follows the ratio of the frame's pixel aspect to
    // monitor 2's (a monitor that reports none is taken as matching).
    const uint16_t monitorAspect = dmGetPixelAspect(0, 2);
    const double aspect =
        monitorAspect != 0 ? static_cast<double>(dialog.pixelAspect) / monitorAspect : 1.0;
    double w = dialog.projectFrameWidth;
    double h = std::round(aspect * dialog.projectFrameHeight);
    if (h <= 0) return;
    const double scale = std::min(screenWidth / w, screenHeight / h);
    if (scale != 1.0) {
        w = std::round(w * scale);
        h = std::round(h * scale);
    }
    const int32_t width = static_cast<int32_t>(std::min<double>(w, screenWidth));
    const int32_t height = static_cast<int32_t>(std::min<double>(h, screenHeight));
    if (width <= 0 || height <= 0) return;

    const size_t screenPixels = size_t(screenWidth) * size_t(screenHeight);
    uint32_t *screen = static_cast<uint32_t *>(std::malloc(screenPixels * 4));
    uint32_t *scaled = static_cast<uint32_t *>(std::malloc(size_t(width) * size_t(height) * 4));
    if (screen && scaled) {
        std::memset(screen, 0, screenPixels * 4);
        scaleBilinear(dialog.previewFrame, dialog.projectFrameWidth, dialog.projectFrameHeight,
                      scaled, width, height);
        const int32_t left = (screenWidth - width) / 2, top = (screenHeight - height) / 2;
        for (int32_t y = 0; y < height; ++y)
            std::memcpy(screen + size_t(top + y) * screenWidth + left, scaled + size_t(y) * width,
                        size_t(width) * 4);
        if (toMonitor2 == 1) {
            dgmxYUVAtoOvlMonitor(screen, 0, screenWidth * 4, 0, 0, screenWidth, screenHeight, 2);
        } else {
            // Four pieces around the strip's outer rectangle, which stays undrawn.
            const Rect &strip = dialog.outerRect;
            const int32_t x0 = clampTo(strip.x, 0, screenWidth);
            const int32_t y0 = clampTo(strip.y, 0, screenHeight);
            const int32_t x1 = clampTo(strip.x + strip.width, x0, screenWidth);
            const int32_t y1 = clampTo(strip.y + strip.height, y0, screenHeight);
            drawPiece(screen, screenWidth, 0, 0, screenWidth, y0);
            drawPiece(screen, screenWidth, 0, y1, screenWidth, screenHeight);
            drawPiece(screen, screenWidth, 0, y0, x0, y1);
            drawPiece(screen, screenWidth, x1, y0, screenWidth, y1);
        }
    }
    std::free(screen);
    std::free(scaled);
}

} // namespace lustra
