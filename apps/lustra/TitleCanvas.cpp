#include "TitleCanvas.h"

#include "Errors.h"

#include <cmath>

namespace lustra::cli {

const char *const kTitleOptionsHelp =
    R"(Typed title (instead of --title):
  --text TEXT           draw TEXT (UTF-8) white on black as the title
  --text-file FILE      the text of a UTF-8 file, one title line a line
  --font NAME           a font family with style words, as fc-list names
                        them (default "DejaVu Sans Bold"); a font that is not
                        installed is replaced by the nearest one, with a note
  --text-size SIZE      the font's size: pixels (90 or 90px) or a percentage
                        of the frame height (default 12%)
  --align SIDE          left, center (default) or right: the lines against
                        each other
  --line-spacing F      baseline distance as a multiple of the font's line
                        height (default 1)
  --tracking T          extra space after each letter: 1/1000 of the font
                        size (e.g. 100), or pixels (4px); negative tightens
Frame and placement:
  --size WxH            the output frame (default: the background's size; a
                        colour background: the title's size, with typed text
                        1920x1080); the background is scaled to it. --size
                        title: the title's size, as older versions did
  --anchor POINT        the point of the title that is placed: centre (the
                        default), top-left, top, top-right, left, right,
                        bottom-left, bottom, bottom-right, or lower-third
                        (the title's left centre at 10% of the width and 5/6
                        of the height); without --position it sits at the
                        same point of the frame
  --position X,Y        where that point goes: pixels from the frame's
                        top-left (960,540) or percentages (50%,80%); on
                        interlaced material the title moves by line
                        pairs (its top row even), so fields stay in order
  --title-scale S       scale the title by S (0.5 or 50%); a title that
                        does not fit the frame at its place is cropped
)";

namespace {

void parseLineSpacing(const std::string &text, TextStyle &style) {
    char *end = nullptr;
    const double value = text.empty() ? NAN : std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0.2 && value <= 10))
        throw UsageError("--line-spacing: \"" + text + "\" is not a factor from 0.2 to 10");
    style.lineSpacing = value;
}

bool defaultPlacement(const TitlePlacement &placement) {
    return placement.anchor == Anchor::Centre && !placement.positioned && placement.scale == 1.0;
}

} // namespace

bool readTitleOption(ArgumentReader &reader, const std::string &argument, TitleOptions &options) {
    std::string value;
    if (reader.option(argument, "--text", value)) {
        options.text = value;
    } else if (reader.option(argument, "--text-file", value)) {
        options.textFile = value;
    } else if (reader.option(argument, "--font", value)) {
        if (value.empty()) throw UsageError("--font needs a font name, e.g. \"DejaVu Sans Bold\"");
        options.style.font = value;
    } else if (reader.option(argument, "--text-size", value)) {
        parseTextSize(value, options.style);
    } else if (reader.option(argument, "--align", value)) {
        options.style.align = parseTextAlign(value);
    } else if (reader.option(argument, "--line-spacing", value)) {
        parseLineSpacing(value, options.style);
    } else if (reader.option(argument, "--tracking", value)) {
        parseTracking(value, options.style);
    } else if (reader.option(argument, "--size", value)) {
        options.sizeOfTitle = value == "title";
        if (options.sizeOfTitle)
            options.width = options.height = 0;
        else
            parseCanvasSize(value, options.width, options.height);
    } else if (reader.option(argument, "--anchor", value)) {
        options.placement.anchor = parseAnchor(value);
        options.placementGiven = true;
    } else if (reader.option(argument, "--position", value)) {
        parsePosition(value, options.placement.x, options.placement.y);
        options.placement.positioned = true;
        options.placementGiven = true;
    } else if (reader.option(argument, "--title-scale", value)) {
        options.placement.scale = parseTitleScale(value);
        options.placementGiven = true;
    } else {
        return false;
    }
    return true;
}

ArrangedInputs arrangeInputs(TitleOptions &options, std::unique_ptr<FrameSource> title,
                             std::function<std::unique_ptr<FrameSource>()> reopen,
                             std::unique_ptr<FrameSource> background, const uint8_t *colour,
                             int scaleNumerator, int scaleDenominator,
                             const std::function<void(const std::string &)> &say) {
    ArrangedInputs arranged;
    int &width = arranged.width, &height = arranged.height;
    if (options.width > 0) {
        width = options.width;
        height = options.height;
    } else if (background && !options.sizeOfTitle) {
        width = background->width();
        height = background->height();
    }

    if (options.typed()) {
        if (!textTitlesAvailable()) renderText("", options.style, 0); // says why
        const std::string text = options.text ? *options.text : readTextFile(options.textFile);
        if (width == 0 && !options.sizeOfTitle) {
            width = kDefaultTextFrameWidth;
            height = kDefaultTextFrameHeight;
            say("note: the typed title is set on a " + std::to_string(width) + "x" +
                std::to_string(height) + " frame (--size sets another)");
        }
        TextPicture picture =
            renderText(text, options.style, height > 0 ? height : kDefaultTextFrameHeight);
        for (const std::string &warning : picture.warnings) say("warning: " + warning);
        if (width > 0) {
            // The text itself must fit; its margin may be cut.
            const double scale = options.placement.scale;
            const int textWidth = int(std::ceil(picture.textWidth * scale));
            const int textHeight = int(std::ceil(picture.textHeight * scale));
            std::string over;
            if (textWidth > width) over = std::to_string(textWidth - width) + " px too wide";
            if (textHeight > height)
                over += (over.empty() ? "" : " and ") + std::to_string(textHeight - height) +
                        " px too high";
            if (!over.empty())
                throw UsageError("the text (" + std::to_string(textWidth) + "x" +
                                 std::to_string(textHeight) + " pixels at " +
                                 std::to_string(int(std::lround(picture.emPixels))) +
                                 " px) does not fit the " + std::to_string(width) + "x" +
                                 std::to_string(height) + " frame: it is " + over +
                                 "; use a smaller --text-size, or break the lines (--text-file)");
        }
        auto shared = std::make_shared<TextPicture>(std::move(picture));
        title = textSource(text, *shared);
        reopen = [text, shared] { return textSource(text, *shared); };
    }
    if (width == 0) {
        width = title->width();
        height = title->height();
    }

    const TitlePlacement placement = options.placement;
    PlacementAt placementAt = options.placementAt;
    if (!placementAt) placementAt = [placement](int64_t) { return placement; };
    const bool wrap = title->width() != width || title->height() != height ||
                      !defaultPlacement(placement) || bool(options.placementAt);
    auto place = [=](std::unique_ptr<FrameSource> source) {
        if (!wrap) return source;
        return placedSource(std::move(source), width, height, placementAt, scaleNumerator,
                            scaleDenominator);
    };
    arranged.title = place(std::move(title));
    if (reopen) arranged.reopenTitle = [reopen, place] { return place(reopen()); };

    if (background) {
        arranged.background = std::move(background);
    } else {
        const uint8_t black[3] = {0, 0, 0};
        const uint8_t *rgb = colour ? colour : black;
        arranged.background = solidColourSource(rgb[0], rgb[1], rgb[2], width, height);
    }
    return arranged;
}

} // namespace lustra::cli
