// Where a title sits on the output frame (the canvas): its anchor, its
// position and its scale, turned into the rectangle it covers, and the
// frame source that pastes the title there.
#pragma once

#include "FrameSources.h"

#include <functional>
#include <memory>
#include <string>

namespace lustra::cli {

// The point of the title that the position names. The nine points name the
// same point of the title and, without --position, of the canvas; the lower
// third puts the title's left centre at 10 % of the width and 5/6 of the
// height (the middle of the bottom third, inside the title-safe area).
enum class Anchor {
    Centre,
    TopLeft,
    Top,
    TopRight,
    Left,
    Right,
    BottomLeft,
    Bottom,
    BottomRight,
    LowerThird
};

// A length on the canvas: pixels of the unscaled canvas, or a percentage of
// its width (x) or height (y).
struct Coordinate {
    double value = 0;
    bool percent = false;
};

// The title's place for one frame: plain values, so that they can change
// from frame to frame.
struct TitlePlacement {
    Anchor anchor = Anchor::Centre;
    bool positioned = false; // x, y given; else the anchor's own canvas point
    bool xPlaced = false;    // x alone given (by keyframes), y from `positioned`
    bool yPlaced = false;    // y alone given, likewise
    Coordinate x, y;         // where the title's anchor point goes
    double scale = 1.0;      // the title's size factor (> 0)
};

// The placement of each frame index.
using PlacementAt = std::function<TitlePlacement(int64_t frame)>;

struct PlacedRect {
    int x = 0, y = 0; // the title's top-left corner on the canvas (may be negative)
    int width = 0, height = 0;
    bool operator==(const PlacedRect &o) const {
        return x == o.x && y == o.y && width == o.width && height == o.height;
    }
};

// The rectangle a title of titleWidth x titleHeight covers on a canvas of
// canvasWidth x canvasHeight. Pixel positions are multiplied by
// `pixelScale` (the render's --scale; the title and canvas sizes are
// already scaled). Interlaced: the top row is rounded to an even row, so
// that the title's rows keep their field.
PlacedRect placeTitle(int canvasWidth, int canvasHeight, int titleWidth, int titleHeight,
                      const TitlePlacement &placement, double pixelScale, bool interlaced);

// "" when the rectangle lies within the canvas, else what is cut off.
std::string cropDescription(const PlacedRect &rect, int canvasWidth, int canvasHeight);

// Parsers of the command line's forms; they throw UsageError.
Anchor parseAnchor(const std::string &text);
const char *anchorName(Anchor anchor);
void parsePosition(const std::string &text, Coordinate &x, Coordinate &y); // "X,Y", "10%,80%"
double parseTitleScale(const std::string &text);                           // "0.5", "50%"
// "WxH" within 2..32767 x 2..32766.
void parseCanvasSize(const std::string &text, int &width, int &height);

// The title pasted onto a black canvas (alpha 0 around a title with alpha,
// 255 around one without) at its place of each frame. The canvas is
// canvasWidth x canvasHeight unscaled; setOutputSize gives the render's
// (scaled) canvas, and N/D is the render's scale, by which the title and
// pixel positions are scaled as well.
std::unique_ptr<FrameSource> placedSource(std::unique_ptr<FrameSource> title, int canvasWidth,
                                          int canvasHeight, PlacementAt placementAt,
                                          int scaleNumerator = 1, int scaleDenominator = 1);

} // namespace lustra::cli
