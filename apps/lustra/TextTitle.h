// Titles typed on the command line: the text laid out with the system's
// fonts (shaping, kerning, right-to-left scripts and fallback fonts) and
// drawn white on black, anti-aliased, as the module's shape input.
#pragma once

#include "Colour.h"
#include "FrameSources.h"

#include <memory>
#include <string>
#include <vector>

namespace lustra::cli {

enum class TextAlign { Left, Centre, Right };

struct TextStyle {
    std::string font = "DejaVu Sans Bold"; // a family name, with style words
    double size = 12;                      // the font's em in pixels, or
    bool sizePercent = true;               // a percentage of the frame height
    TextAlign align = TextAlign::Centre;   // of the lines against each other
    double lineSpacing = 1.0;              // baseline distance / the font's line height
    double tracking = 0;                   // extra space after each letter, 1/1000 em,
    bool trackingPixels = false;           // or pixels
};

struct TextPicture {
    std::vector<uint8_t> rgba;         // white on black, alpha 255
    int width = 0, height = 0;         // the picture, with a margin around the text
    int textWidth = 0, textHeight = 0; // the text itself (ink and line boxes)
    double emPixels = 0;
    std::string fontUsed;              // the family the font look-up found
    std::vector<std::string> warnings; // a font that was substituted, missing glyphs
};

// Whether this build lays out text (it needs Pango, Cairo and fontconfig).
bool textTitlesAvailable();

// The text of --text-file: UTF-8, line ends normalised, the last line end
// dropped. Throws Failure for a file that cannot be read.
std::string readTextFile(const std::string &path);

// Lays out and draws `text` (UTF-8, lines split at '\n') for a frame of
// `frameHeight` rows. Throws UsageError for invalid UTF-8 or text without
// anything to draw, Failure when the build has no text layout.
TextPicture renderText(const std::string &text, const TextStyle &style, int frameHeight);

// The picture as a still title.
std::unique_ptr<FrameSource> textSource(const std::string &text, TextPicture picture);

// Parsers of --align, --text-size and --tracking; they throw UsageError.
TextAlign parseTextAlign(const std::string &text);
void parseTextSize(const std::string &text, TextStyle &style);
void parseTracking(const std::string &text, TextStyle &style);

} // namespace lustra::cli
