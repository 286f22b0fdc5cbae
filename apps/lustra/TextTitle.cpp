#include "TextTitle.h"

#include "Errors.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#ifdef LUSTRA_HAVE_TEXT
#include <pango/pangocairo.h>
#endif

namespace lustra::cli {
namespace {

double parseNumber(const std::string &text, const std::string &what, double minimum,
                   double maximum) {
    char *end = nullptr;
    const double value = text.empty() ? NAN : std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= minimum && value <= maximum)) {
        char range[64];
        std::snprintf(range, sizeof range, "%g to %g", minimum, maximum);
        throw UsageError(what + ": \"" + text + "\" is not a number from " + range);
    }
    return value;
}

std::string shortName(const std::string &text) {
    std::string line = text.substr(0, text.find('\n'));
    if (line.size() > 32) {
        size_t cut = 32;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
        line = line.substr(0, cut) + "...";
    }
    return "text \"" + line + (text.find('\n') != std::string::npos ? "...\"" : "\"");
}

#ifdef LUSTRA_HAVE_TEXT

// Owners of the C library's objects.
template <typename T, void (*Free)(T *)> struct Owned {
    T *p;
    explicit Owned(T *pointer) : p(pointer) {}
    ~Owned() {
        if (p) Free(p);
    }
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
    operator T *() const { return p; }
};
void freeString(char *text) {
    g_free(text);
}
void freeObject(void *object) {
    g_object_unref(object);
}
template <typename T> void unrefObject(T *object) {
    freeObject(object);
}

void checkUtf8(const std::string &text) {
    const char *end = nullptr;
    if (!g_utf8_validate(text.data(), gssize(text.size()), &end)) {
        const size_t offset = size_t(end - text.data());
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(text[offset]));
        throw UsageError("the text is not valid UTF-8: byte " + std::string(byte) +
                         " at byte offset " + std::to_string(offset) +
                         (text[offset] == '\0' ? " (a zero byte)" : "") +
                         "; save the text as UTF-8");
    }
    bool visible = false;
    for (const char *p = text.c_str(); *p; p = g_utf8_next_char(p))
        if (!g_unichar_isspace(g_utf8_get_char(p))) visible = true;
    if (!visible) throw UsageError("the text is empty: nothing to draw");
}

#endif

} // namespace

TextAlign parseTextAlign(const std::string &text) {
    if (text == "left") return TextAlign::Left;
    if (text == "center" || text == "centre") return TextAlign::Centre;
    if (text == "right") return TextAlign::Right;
    throw UsageError("--align: \"" + text + "\" is not left, center or right");
}

void parseTextSize(const std::string &text, TextStyle &style) {
    std::string number = text;
    style.sizePercent = !number.empty() && number.back() == '%';
    if (style.sizePercent) number.pop_back();
    if (!style.sizePercent && number.size() > 2 && number.compare(number.size() - 2, 2, "px") == 0)
        number.resize(number.size() - 2);
    style.size = style.sizePercent ? parseNumber(number, "--text-size", 0.1, 100)
                                   : parseNumber(number, "--text-size", 1, 4000);
}

void parseTracking(const std::string &text, TextStyle &style) {
    std::string number = text;
    style.trackingPixels = number.size() > 2 && number.compare(number.size() - 2, 2, "px") == 0;
    if (style.trackingPixels) number.resize(number.size() - 2);
    style.tracking = style.trackingPixels ? parseNumber(number, "--tracking", -1000, 1000)
                                          : parseNumber(number, "--tracking", -500, 5000);
}

std::string readTextFile(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw Failure(path + ": cannot read the text file");
    std::ostringstream content;
    content << file.rdbuf();
    std::string text = content.str();
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3); // a byte-order mark
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            lines += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            lines += text[i];
        }
    }
    if (!lines.empty() && lines.back() == '\n') lines.pop_back();
    return lines;
}

#ifdef LUSTRA_HAVE_TEXT

bool textTitlesAvailable() {
    return true;
}

TextPicture renderText(const std::string &text, const TextStyle &style, int frameHeight) {
    checkUtf8(text);
    TextPicture picture;
    const double em = style.sizePercent ? style.size / 100 * frameHeight : style.size;
    if (em < 1) throw UsageError("--text-size: the text would be less than a pixel high");
    picture.emPixels = em;

    // A font map of its own, with outlines neither hinted nor snapped to
    // whole pixels: the same text gives the same picture at any position.
    Owned<PangoFontMap, unrefObject<PangoFontMap>> fontMap(pango_cairo_font_map_new());
    Owned<PangoContext, unrefObject<PangoContext>> context(pango_font_map_create_context(fontMap));
    Owned<cairo_font_options_t, cairo_font_options_destroy> options(cairo_font_options_create());
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(context, options);
    pango_context_set_round_glyph_positions(context, FALSE);

    Owned<PangoFontDescription, pango_font_description_free> description(
        pango_font_description_from_string(style.font.c_str()));
    pango_font_description_set_absolute_size(description, em * PANGO_SCALE);
    const char *asked = pango_font_description_get_family(description);
    Owned<PangoFont, unrefObject<PangoFont>> font(
        pango_font_map_load_font(fontMap, context, description));
    if (!font) throw Failure("no font is installed (fontconfig finds none)");
    Owned<PangoFontDescription, pango_font_description_free> found(pango_font_describe(font));
    picture.fontUsed =
        pango_font_description_get_family(found) ? pango_font_description_get_family(found) : "";
    if (!asked || g_ascii_strcasecmp(asked, picture.fontUsed.c_str()) != 0) {
        pango_font_description_unset_fields(found, PANGO_FONT_MASK_SIZE);
        Owned<char, freeString> foundName(pango_font_description_to_string(found));
        picture.warnings.push_back("font \"" + style.font + "\" is not installed; using \"" +
                                   std::string(foundName.p) +
                                   "\" instead (fc-list lists the "
                                   "installed fonts)");
    }

    Owned<PangoFontMetrics, pango_font_metrics_unref> metrics(
        pango_context_get_metrics(context, description, nullptr));
    const double ascent = double(pango_font_metrics_get_ascent(metrics)) / PANGO_SCALE;
    const double descent = double(pango_font_metrics_get_descent(metrics)) / PANGO_SCALE;
    const double lineStep = style.lineSpacing * (ascent + descent);
    const double tracking = style.trackingPixels ? style.tracking : style.tracking / 1000 * em;

    // One layout a line, each in the direction of its own script, so that
    // left and right alignment mean the frame's left and right.
    struct Line {
        PangoLayout *layout;
        double inkX, inkY, inkW, inkH, logicalX, logicalW, baseline;
        double x = 0, y = 0; // where the layout's origin goes
    };
    std::vector<Line> lines;
    struct Release {
        std::vector<Line> &lines;
        ~Release() {
            for (Line &line : lines) g_object_unref(line.layout);
        }
    } release{lines};
    int unknown = 0;
    double widest = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        PangoLayout *layout = pango_layout_new(context);
        lines.push_back({layout, 0, 0, 0, 0, 0, 0, 0});
        pango_layout_set_font_description(layout, description);
        pango_layout_set_text(layout, text.data() + start, int(end - start));
        if (tracking != 0) {
            PangoAttrList *attributes = pango_attr_list_new();
            pango_attr_list_insert(attributes,
                                   pango_attr_letter_spacing_new(int(tracking * PANGO_SCALE)));
            pango_layout_set_attributes(layout, attributes);
            pango_attr_list_unref(attributes);
        }
        PangoRectangle ink, logical;
        pango_layout_get_extents(layout, &ink, &logical);
        Line &line = lines.back();
        line.inkX = double(ink.x) / PANGO_SCALE;
        line.inkY = double(ink.y) / PANGO_SCALE;
        line.inkW = double(ink.width) / PANGO_SCALE;
        line.inkH = double(ink.height) / PANGO_SCALE;
        line.logicalX = double(logical.x) / PANGO_SCALE;
        line.logicalW = double(logical.width) / PANGO_SCALE;
        line.baseline = double(pango_layout_get_baseline(layout)) / PANGO_SCALE;
        widest = std::max(widest, line.logicalW);
        unknown += pango_layout_get_unknown_glyphs_count(layout);
        start = end + 1;
    }
    if (unknown > 0)
        picture.warnings.push_back(
            std::to_string(unknown) + " character" + (unknown == 1 ? " has" : "s have") +
            " no glyph in any installed font and show as boxes (for Chinese, Japanese and "
            "Korean install a font that covers them, e.g. Debian's fonts-noto-cjk)");

    // Lines placed against each other; the box holds their line boxes and
    // their ink.
    double left = 1e30, top = 1e30, right = -1e30, bottom = -1e30;
    for (size_t i = 0; i < lines.size(); ++i) {
        Line &line = lines[i];
        const double free = widest - line.logicalW;
        const double offset = style.align == TextAlign::Left     ? 0
                              : style.align == TextAlign::Centre ? free / 2
                                                                 : free;
        line.x = offset - line.logicalX;
        line.y = ascent + double(i) * lineStep - line.baseline;
        const double baseline = line.y + line.baseline;
        left = std::min({left, line.x + line.logicalX, line.x + line.inkX});
        right = std::max(
            {right, line.x + line.logicalX + line.logicalW, line.x + line.inkX + line.inkW});
        top = std::min({top, baseline - ascent, line.inkH > 0 ? line.y + line.inkY : 1e30});
        bottom = std::max(
            {bottom, baseline + descent, line.inkH > 0 ? line.y + line.inkY + line.inkH : -1e30});
    }
    const int margin = std::max(2, int(std::ceil(em * 0.2)));
    picture.textWidth = int(std::ceil(right - left));
    picture.textHeight = int(std::ceil(bottom - top));
    picture.width = picture.textWidth + 2 * margin;
    picture.height = picture.textHeight + 2 * margin;
    if (picture.width > 32767 || picture.height > 32766)
        throw UsageError("the text is " + std::to_string(picture.textWidth) + "x" +
                         std::to_string(picture.textHeight) +
                         " pixels, larger than any frame: use a smaller --text-size");

    Owned<cairo_surface_t, cairo_surface_destroy> surface(
        cairo_image_surface_create(CAIRO_FORMAT_A8, picture.width, picture.height));
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
        throw Failure("cannot allocate a " + std::to_string(picture.width) + "x" +
                      std::to_string(picture.height) + " picture for the text");
    {
        Owned<cairo_t, cairo_destroy> cr(cairo_create(surface));
        cairo_set_source_rgba(cr, 1, 1, 1, 1);
        for (const Line &line : lines) {
            cairo_move_to(cr, line.x - left + margin, line.y - top + margin);
            pango_cairo_show_layout(cr, line.layout);
        }
    }
    cairo_surface_flush(surface);
    const unsigned char *data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    picture.rgba.resize(size_t(picture.width) * picture.height * 4);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            uint8_t *pixel = &picture.rgba[(size_t(y) * picture.width + x) * 4];
            pixel[0] = pixel[1] = pixel[2] = data[size_t(y) * stride + x];
            pixel[3] = 255;
        }
    return picture;
}

#else

bool textTitlesAvailable() {
    return false;
}

TextPicture renderText(const std::string &, const TextStyle &, int) {
    throw Failure("typed titles (--text, --text-file) are not available in this build: it was "
                  "built without Pango, Cairo and fontconfig (Debian: libpango1.0-dev, "
                  "libcairo2-dev)");
}

#endif

std::unique_ptr<FrameSource> textSource(const std::string &text, TextPicture picture) {
    const int width = picture.width, height = picture.height;
    auto pixels = std::make_shared<std::vector<uint8_t>>(std::move(picture.rgba));
    return paintedSource(
        shortName(text), width, height, 1, false,
        [pixels](int64_t, int, int, std::vector<uint8_t> &rgba) { rgba = *pixels; });
}

} // namespace lustra::cli
