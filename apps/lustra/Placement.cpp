#include "Placement.h"

#include "Errors.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace lustra::cli {
namespace {

struct AnchorPoint {
    const char *name;
    Anchor anchor;
    double titleX, titleY;   // the point of the title, as fractions of its size
    double canvasX, canvasY; // where it goes without --position
};
constexpr AnchorPoint kAnchors[] = {
    {"centre", Anchor::Centre, 0.5, 0.5, 0.5, 0.5},
    {"top-left", Anchor::TopLeft, 0, 0, 0, 0},
    {"top", Anchor::Top, 0.5, 0, 0.5, 0},
    {"top-right", Anchor::TopRight, 1, 0, 1, 0},
    {"left", Anchor::Left, 0, 0.5, 0, 0.5},
    {"right", Anchor::Right, 1, 0.5, 1, 0.5},
    {"bottom-left", Anchor::BottomLeft, 0, 1, 0, 1},
    {"bottom", Anchor::Bottom, 0.5, 1, 0.5, 1},
    {"bottom-right", Anchor::BottomRight, 1, 1, 1, 1},
    {"lower-third", Anchor::LowerThird, 0, 0.5, 0.1, 5.0 / 6.0},
};

const AnchorPoint &anchorPoint(Anchor anchor) {
    for (const AnchorPoint &point : kAnchors)
        if (point.anchor == anchor) return point;
    return kAnchors[0];
}

double parseNumber(const std::string &text, const std::string &what, bool &percent) {
    std::string number = text;
    percent = !number.empty() && number.back() == '%';
    if (percent) number.pop_back();
    char *end = nullptr;
    const double value = number.empty() ? NAN : std::strtod(number.c_str(), &end);
    if (number.empty() || *end != '\0' || !std::isfinite(value) || std::fabs(value) > 1e6)
        throw UsageError(what + ": \"" + text +
                         "\" is not a number (pixels, or a percentage: 10%)");
    return value;
}

class PlacedSource : public FrameSource {
  public:
    PlacedSource(std::unique_ptr<FrameSource> title, int canvasWidth, int canvasHeight,
                 PlacementAt placementAt, int scaleNumerator, int scaleDenominator)
        : title_(std::move(title)), canvasWidth_(canvasWidth), canvasHeight_(canvasHeight),
          placementAt_(std::move(placementAt)), scaleNumerator_(scaleNumerator),
          scaleDenominator_(scaleDenominator),
          renderScale_(double(scaleNumerator) / scaleDenominator), outWidth_(canvasWidth),
          outHeight_(canvasHeight) {}

    std::string name() const override { return title_->name(); }
    int width() const override { return canvasWidth_; }
    int height() const override { return canvasHeight_; }
    bool hasAlpha() const override { return title_->hasAlpha(); }
    bool isStill() const override { return title_->isStill(); }
    int64_t frameCountHint() const override { return title_->frameCountHint(); }
    Rational frameRate() const override { return title_->frameRate(); }
    Rational sampleAspect() const override { return title_->sampleAspect(); }
    FieldOrder fieldOrder() const override { return title_->fieldOrder(); }
    std::string note() const override {
        std::string note = title_->note();
        const PlacedRect rect = placeTitle(canvasWidth_, canvasHeight_, title_->width(),
                                           title_->height(), placementAt_(0), 1.0, false);
        const std::string cut = cropDescription(rect, canvasWidth_, canvasHeight_);
        if (!cut.empty())
            note += (note.empty() ? "" : "; ") + std::string("the title (") +
                    std::to_string(rect.width) + "x" + std::to_string(rect.height) +
                    ") does not fit the " + std::to_string(canvasWidth_) + "x" +
                    std::to_string(canvasHeight_) + " frame at its place: " + cut + " is cropped";
        return note;
    }

    void setOutputSize(int w, int h, bool interlaced) override {
        outWidth_ = w;
        outHeight_ = h;
        interlaced_ = interlaced;
        int titleWidth = title_->width(), titleHeight = title_->height();
        if (scaleNumerator_ != scaleDenominator_) {
            // Rounded as the render rounds the canvas.
            const int64_t n = scaleNumerator_, d = scaleDenominator_;
            titleWidth = std::max(1, int((int64_t(titleWidth) * n + d / 2) / d));
            titleHeight = std::max(1, int((int64_t(titleHeight) * n + d / 2) / d));
        }
        title_->setOutputSize(titleWidth, titleHeight, interlaced);
        cached_ = false;
    }

    void startAt(int64_t index) override { next_ = index; }

    bool next(HostFrame &frame) override {
        // A still title is read in place where its source keeps it.
        const HostFrame *title = title_->isStill() ? title_->sharedStill() : nullptr;
        if (!title) {
            if (!title_->next(titleFrame_)) return false;
            title = &titleFrame_;
        }
        const PlacedRect rect = placeTitle(outWidth_, outHeight_, title->width, title->height,
                                           placementAt_(next_++), renderScale_, interlaced_);
        if (frame.width != outWidth_ || frame.height != outHeight_)
            frame = HostFrame(outWidth_, outHeight_);
        if (title_->isStill() && cached_ && rect == cachedRect_) {
            for (int y = 0; y < frame.height; ++y)
                std::copy(canvas_.row(y), canvas_.row(y) + frame.width, frame.row(y));
            return true;
        }
        const HostFrame *pasted = title;
        if (rect.width != title->width || rect.height != title->height) {
            scaleTitle(*title, rect.width, rect.height);
            pasted = &scaled_;
        }
        // The title's rows where they fall on the canvas, the empty canvas
        // (black, transparent for a title with alpha) everywhere else; every
        // pixel of `frame` is written once.
        const uint32_t empty = rgbToHost(0, 0, 0, title_->hasAlpha() ? 0 : 255);
        const int x0 = std::max(0, rect.x), x1 = std::min(outWidth_, rect.x + rect.width);
        const int y0 = std::max(0, rect.y), y1 = std::min(outHeight_, rect.y + rect.height);
        for (int y = 0; y < outHeight_; ++y) {
            uint32_t *to = frame.row(y);
            if (y < y0 || y >= y1 || x0 >= x1) {
                std::fill(to, to + outWidth_, empty);
                continue;
            }
            const uint32_t *from = pasted->row(y - rect.y) + (x0 - rect.x);
            std::fill(to, to + x0, empty);
            std::copy(from, from + (x1 - x0), to + x0);
            std::fill(to + x1, to + outWidth_, empty);
        }
        if (title_->isStill()) {
            canvas_ = frame;
            cachedRect_ = rect;
            cached_ = true;
        }
        return true;
    }

  private:
    // The title frame at another size, through RGBA (field by field when
    // interlaced).
    void scaleTitle(const HostFrame &title, int width, int height) {
        if (!scaler_ || scalerFrom_[0] != title.width || scalerFrom_[1] != title.height ||
            scalerTo_[0] != width || scalerTo_[1] != height) {
            scaler_ =
                std::make_unique<RgbaScaler>(title.width, title.height, width, height, interlaced_);
            scalerFrom_[0] = title.width;
            scalerFrom_[1] = title.height;
            scalerTo_[0] = width;
            scalerTo_[1] = height;
        }
        rgba_.resize(size_t(title.width) * title.height * 4);
        hostFrameToRgba(title, rgba_.data(), title.width * 4);
        scaler_->scale(rgba_, scaledRgba_);
        if (scaled_.width != width || scaled_.height != height) scaled_ = HostFrame(width, height);
        rgbaToHostFrame(scaledRgba_.data(), width * 4, true, scaled_);
    }

    std::unique_ptr<FrameSource> title_;
    int canvasWidth_, canvasHeight_;
    PlacementAt placementAt_;
    int scaleNumerator_, scaleDenominator_;
    double renderScale_;
    int outWidth_, outHeight_;
    bool interlaced_ = false;
    int64_t next_ = 0;
    HostFrame titleFrame_, scaled_, canvas_;
    PlacedRect cachedRect_;
    bool cached_ = false;
    std::unique_ptr<RgbaScaler> scaler_;
    int scalerFrom_[2] = {0, 0}, scalerTo_[2] = {0, 0};
    std::vector<uint8_t> rgba_, scaledRgba_;
};

} // namespace

PlacedRect placeTitle(int canvasWidth, int canvasHeight, int titleWidth, int titleHeight,
                      const TitlePlacement &placement, double pixelScale, bool interlaced) {
    PlacedRect rect;
    rect.width = titleWidth;
    rect.height = titleHeight;
    if (placement.scale != 1.0) {
        rect.width = std::max(1, int(std::lround(titleWidth * placement.scale)));
        rect.height = std::max(1, int(std::lround(titleHeight * placement.scale)));
    }
    const AnchorPoint &point = anchorPoint(placement.anchor);
    double x = point.canvasX * canvasWidth, y = point.canvasY * canvasHeight;
    if (placement.positioned || placement.xPlaced)
        x = placement.x.percent ? placement.x.value / 100 * canvasWidth
                                : placement.x.value * pixelScale;
    if (placement.positioned || placement.yPlaced)
        y = placement.y.percent ? placement.y.value / 100 * canvasHeight
                                : placement.y.value * pixelScale;
    const double left = x - point.titleX * rect.width, top = y - point.titleY * rect.height;
    rect.x = int(std::floor(left + 0.5));
    // An even top row keeps each title row in its field.
    rect.y = interlaced ? 2 * int(std::floor(top / 2 + 0.5)) : int(std::floor(top + 0.5));
    return rect;
}

std::string cropDescription(const PlacedRect &rect, int canvasWidth, int canvasHeight) {
    std::string parts;
    auto add = [&](int pixels, const char *side) {
        if (pixels <= 0) return;
        parts += (parts.empty() ? "" : ", ") + std::to_string(pixels) + " px on the " + side;
    };
    add(-rect.x, "left");
    add(rect.x + rect.width - canvasWidth, "right");
    add(-rect.y, "top");
    add(rect.y + rect.height - canvasHeight, "bottom");
    return parts;
}

Anchor parseAnchor(const std::string &text) {
    if (text == "center" || text == "centre") return Anchor::Centre;
    for (const AnchorPoint &point : kAnchors)
        if (text == point.name) return point.anchor;
    throw UsageError("--anchor: \"" + text +
                     "\" is not centre, top-left, top, top-right, left, right, bottom-left, "
                     "bottom, bottom-right or lower-third");
}

const char *anchorName(Anchor anchor) {
    return anchorPoint(anchor).name;
}

void parsePosition(const std::string &text, Coordinate &x, Coordinate &y) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos)
        throw UsageError("--position " + text +
                         ": a position is written X,Y (e.g. 96,900 or 50%,80%)");
    x.value = parseNumber(text.substr(0, comma), "--position", x.percent);
    y.value = parseNumber(text.substr(comma + 1), "--position", y.percent);
}

double parseTitleScale(const std::string &text) {
    bool percent = false;
    double value = parseNumber(text, "--title-scale", percent);
    if (percent) value /= 100;
    if (!(value > 0.001) || value > 100)
        throw UsageError("--title-scale " + text +
                         ": give a factor above 0 and up to 100 (or 0.1% to 10000%)");
    return value;
}

void parseCanvasSize(const std::string &text, int &width, int &height) {
    const size_t x = text.find('x');
    char *end = nullptr;
    if (x == std::string::npos || x == 0 || x + 1 >= text.size())
        throw UsageError("--size " + text + ": a size is written WxH, e.g. 1920x1080");
    const long w = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() + x) throw UsageError("--size " + text + ": a size is written WxH");
    const long h = std::strtol(text.c_str() + x + 1, &end, 10);
    if (*end != '\0') throw UsageError("--size " + text + ": a size is written WxH");
    if (w < 1 || w > 32767 || h < 2 || h > 32766)
        throw UsageError("--size " + text + ": the frame must be 1..32767 wide and 2..32766 high");
    width = int(w);
    height = int(h);
}

std::unique_ptr<FrameSource> placedSource(std::unique_ptr<FrameSource> title, int canvasWidth,
                                          int canvasHeight, PlacementAt placementAt,
                                          int scaleNumerator, int scaleDenominator) {
    return std::make_unique<PlacedSource>(std::move(title), canvasWidth, canvasHeight,
                                          std::move(placementAt), scaleNumerator, scaleDenominator);
}

} // namespace lustra::cli
