#include "SettingsRecord.h"

#include "Colour.h"
#include "Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

namespace fs = std::filesystem;

namespace lustra::cli {
namespace {

const char *const kOffOn[] = {"off", "on", nullptr};
const char *const kRaisedSunken[] = {"raised", "sunken", nullptr};
const char *const kFrameSource[] = {"frame", "source", nullptr};
const char *const kFillModes[] = {"plain", "light", "metal", "frame", "source", nullptr};
const char *const kTextureTypes[] = {"normal", "fractal", "turbulence", "fracturb",
                                     "frame",  "source",  nullptr};

constexpr int64_t kI32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kI32Max = std::numeric_limits<int32_t>::max();

FieldInfo u8(const char *name, uint16_t offset, int64_t lo, int64_t hi, int64_t def,
             const char *meaning, const char *const *names = nullptr) {
    return {name, offset, 1, FieldType::U8, lo, hi, true, true, def, names, meaning};
}
FieldInfo flag(const char *name, uint16_t offset, int64_t def, const char *meaning,
               const char *const *names = kOffOn) {
    return {name, offset, 1, FieldType::U8, 0, 1, true, true, def, names, meaning};
}
FieldInfo i8(const char *name, uint16_t offset, int64_t lo, int64_t hi, int64_t def,
             const char *meaning) {
    return {name, offset, 1, FieldType::I8, lo, hi, true, true, def, nullptr, meaning};
}
FieldInfo i32(const char *name, uint16_t offset, int64_t def, const char *meaning) {
    return {name, offset, 4, FieldType::I32, kI32Min, kI32Max, false, true, def, nullptr, meaning};
}
FieldInfo percent(const char *name, uint16_t offset, const char *meaning) {
    return {name, offset, 2, FieldType::Percent, 25, 400, true, true, 100, nullptr, meaning};
}
FieldInfo colour(const char *name, uint16_t offset, uint32_t def, const char *meaning) {
    return {name,  offset, 4,   FieldType::Colour, 0,      0xFFFFFFFFll,
            false, true,   def, nullptr,           meaning};
}
FieldInfo source(const char *name, uint16_t offset, const char *meaning) {
    return {name,    offset, uint16_t(kSourceSize), FieldType::Source, 0, 0, false, true, 0,
            nullptr, meaning};
}
FieldInfo dialogOnly16(const char *name, uint16_t offset, const char *meaning) {
    return {name, offset, 2, FieldType::I16, -32768, 32767, false, false, 0, nullptr, meaning};
}

std::vector<FieldInfo> buildFields() {
    std::vector<FieldInfo> f;
    f.push_back(flag("dialogAtTop", 0, 0, "dialog at the top of the screen (1) or the bottom"));
    f.push_back(u8("currentPage", 1, 0, 9, 0, "dialog page shown"));
    f.push_back(u8("reliefView", 2, 0, 1, 0, "bevel page: control group shown"));
    f.push_back(u8("glowView", 3, 0, 1, 0, "glow page: sliders (0) or colours (1)"));
    f.push_back(u8("map1View", 5, 0, 1, 0, "image map 1 page: source and scale (0) or position"));
    f.push_back(u8("map2View", 6, 0, 1, 0, "image map 2 page: source and scale (0) or position"));
    f.push_back(u8("fill1View", 7, 0, 1, 0, "fill 1 page: mode (0) or colours (1)"));
    f.push_back(u8("fill2View", 8, 0, 1, 0, "fill 2 page: mode (0) or colours (1)"));
    f.push_back(u8("texture1View", 9, 0, 2, 0, "texture 1 page: type, levels or position"));
    f.push_back(u8("texture2View", 10, 0, 2, 0, "texture 2 page: type, levels or position"));
    f.push_back(u8("bevelWidth", 11, 0, 30, 8, "bevel radius in pixels"));
    f.push_back(u8("bevelDepth", 12, 0, 100, 100, "bevel depth in percent"));
    f.push_back(u8("bevelSmoothing", 13, 0, 30, 7, "bevel smoothing radius in pixels"));
    f.push_back(i8("bevelEdgeSlope", 14, 0, 10, -1, "slope of the bevel's outer edge"));
    f.push_back(i8("bevelInnerSlope", 15, 0, 10, 0, "slope of the bevel's inner part"));
    f.push_back(flag("bevelSunken", 16, 0, "sunken (1) or raised bevel", kRaisedSunken));
    f.push_back(flag("invertShape", 17, 0, "invert the shape taken from the title"));
    f.push_back(u8("glowWidth", 18, 0, 30, 10, "glow radius in pixels"));
    f.push_back(u8("glowOpacity", 19, 0, 100, 100, "glow opacity in percent"));
    f.push_back(u8("glowSoftness", 20, 0, 100, 100, "glow softness in percent"));
    f.push_back(flag("glowBlurred", 21, 0, "glow is a blurred copy of the shape"));
    f.push_back(flag("glowOn", 22, 0, "glow enabled"));
    f.push_back(u8("shadowSoftness", 23, 0, 30, 5, "shadow blur radius in pixels"));
    f.push_back(u8("shadowOpacity", 24, 0, 100, 100, "shadow opacity in percent"));
    f.push_back(
        u8("shadowDistance", 25, 0, 100, 30, "shadow displacement in percent of the offset"));
    f.push_back(flag("shadowOn", 26, 1, "shadow enabled"));
    f.push_back(u8("fillZoom", 27, 0, 255, 128, "zoom of the fill textures"));
    f.push_back(i32("offsetX", 28, -18, "horizontal light and fill-texture offset"));
    f.push_back(i32("offsetY", 32, -18, "vertical light and fill-texture offset"));
    f.push_back(source("map1Source", 36, "picture of image map 1"));
    f.push_back(percent("map1ScaleX", 148, "horizontal scale of image map 1"));
    f.push_back(percent("map1ScaleY", 150, "vertical scale of image map 1"));
    f.push_back(i32("map1OffsetX", 152, 0, "horizontal position of image map 1"));
    f.push_back(i32("map1OffsetY", 156, 0, "vertical position of image map 1"));
    f.push_back(flag("map1On", 160, 0, "image map 1 enabled"));
    f.push_back(flag("map1FromSource", 161, 0, "image map 1 shows map1Source (1) or the background",
                     kFrameSource));
    f.push_back(source("map2Source", 162, "picture of image map 2"));
    f.push_back(percent("map2ScaleX", 274, "horizontal scale of image map 2"));
    f.push_back(percent("map2ScaleY", 276, "vertical scale of image map 2"));
    f.push_back(i32("map2OffsetX", 280, 0, "horizontal position of image map 2"));
    f.push_back(i32("map2OffsetY", 284, 0, "vertical position of image map 2"));
    f.push_back(flag("map2On", 288, 0, "image map 2 enabled (second layers)"));
    f.push_back(flag("map2FromSource", 289, 0, "image map 2 shows map2Source (1) or the background",
                     kFrameSource));
    f.push_back(source("fill1Source", 290, "picture of fill 1 (mode source)"));
    f.push_back(colour("fill1ColourA", 404, 0x801092FFu, "first colour of fill 1"));
    f.push_back(colour("fill1ColourB", 408, 0xEB8080FFu, "second colour of fill 1"));
    f.push_back(colour("fill1ColourC", 412, 0x108080FFu, "third colour of fill 1"));
    f.push_back(
        u8("fill1Shininess", 416, 0, 100, 0, "highlight of fill 1 (dialog shows 100 - value)"));
    f.push_back(u8("fill1Mode", 417, 0, 4, 1, "fill 1 mode", kFillModes));
    f.push_back(source("fill2Source", 418, "picture of fill 2 (mode source)"));
    f.push_back(colour("fill2ColourA", 532, 0x7A8080FFu, "first colour of fill 2"));
    f.push_back(colour("fill2ColourB", 536, 0xEB8080FFu, "second colour of fill 2"));
    f.push_back(colour("fill2ColourC", 540, 0x108080FFu, "third colour of fill 2"));
    f.push_back(
        u8("fill2Shininess", 544, 0, 100, 25, "highlight of fill 2 (dialog shows 100 - value)"));
    f.push_back(u8("fill2Mode", 545, 0, 4, 1, "fill 2 mode (second layers)", kFillModes));
    f.push_back(source("texture1Source", 546, "picture of surface texture 1 (type source)"));
    f.push_back(percent("texture1ScaleX", 658, "horizontal scale of surface texture 1"));
    f.push_back(percent("texture1ScaleY", 660, "vertical scale of surface texture 1"));
    f.push_back(u8("texture1Depth", 662, 0, 255, 255, "bump depth of surface texture 1"));
    f.push_back(u8("texture1HeightMax", 663, 0, 255, 255, "highest texel height used"));
    f.push_back(u8("texture1HeightMin", 664, 0, 255, 0, "lowest texel height used"));
    f.push_back(flag("texture1On", 665, 0, "surface texture 1 enabled"));
    f.push_back(u8("texture1Type", 666, 0, 5, 0, "surface texture 1 type", kTextureTypes));
    f.push_back(flag("texture1Invert", 667, 0, "surface texture 1 inverted"));
    f.push_back(i32("texture1OffsetX", 668, 0, "horizontal position of surface texture 1"));
    f.push_back(i32("texture1OffsetY", 672, 0, "vertical position of surface texture 1"));
    f.push_back(source("texture2Source", 676, "picture of surface texture 2 (type source)"));
    f.push_back(percent("texture2ScaleX", 788, "horizontal scale of surface texture 2"));
    f.push_back(percent("texture2ScaleY", 790, "vertical scale of surface texture 2"));
    f.push_back(u8("texture2Depth", 792, 0, 255, 255, "bump depth of surface texture 2"));
    f.push_back(u8("texture2HeightMax", 793, 0, 255, 255, "highest texel height used"));
    f.push_back(u8("texture2HeightMin", 794, 0, 255, 0, "lowest texel height used"));
    f.push_back(flag("texture2On", 795, 0, "surface texture 2 enabled (second layers)"));
    f.push_back(u8("texture2Type", 796, 0, 5, 0, "surface texture 2 type", kTextureTypes));
    f.push_back(flag("texture2Invert", 797, 0, "surface texture 2 inverted"));
    f.push_back(i32("texture2OffsetX", 800, 0, "horizontal position of surface texture 2"));
    f.push_back(i32("texture2OffsetY", 804, 0, "vertical position of surface texture 2"));
    f.push_back(colour("glowColour1", 808, 0xD21092FFu, "first glow colour"));
    f.push_back(colour("glowColour2", 812, 0x515AF0FFu, "second glow colour"));
    f.push_back(colour("shadowColour", 816, 0x108080FFu, "shadow colour"));
    f.push_back(dialogOnly16("previewFrame", 820, "dialog: frame shown in the preview"));
    f.push_back(dialogOnly16("previewFrameCount", 822, "dialog: frames of the clip"));
    return f;
}

uint32_t load(const Record &r, size_t offset, size_t size) {
    uint32_t v = 0;
    for (size_t i = 0; i < size; ++i) v |= uint32_t(r[offset + i]) << (8 * i);
    return v;
}

void store(Record &r, size_t offset, size_t size, uint32_t v) {
    for (size_t i = 0; i < size; ++i) r[offset + i] = uint8_t(v >> (8 * i));
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char &c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

bool parseInteger(std::string_view text, int64_t &value) {
    const std::string s(text);
    if (s.empty()) return false;
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 0);
    if (errno != 0 || end == s.c_str() || *end != '\0') return false;
    value = v;
    return true;
}

std::string hexWord(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

} // namespace

const std::vector<FieldInfo> &recordFields() {
    static const std::vector<FieldInfo> fields = buildFields();
    return fields;
}

const FieldInfo *findField(std::string_view name) {
    for (const FieldInfo &field : recordFields())
        if (name == field.name) return &field;
    return nullptr;
}

std::string suggestField(std::string_view name) {
    const std::string wanted = lower(name);
    std::string best;
    size_t bestDistance = 4;
    for (const FieldInfo &field : recordFields()) {
        const std::string candidate = lower(field.name);
        if (candidate == wanted) return field.name; // only the case differs
        // The distance is at least the difference in length: a name that
        // much longer or shorter cannot be suggested, and a long argument
        // costs no quadratic comparison.
        const size_t longer = std::max(wanted.size(), candidate.size());
        if (longer - std::min(wanted.size(), candidate.size()) >= bestDistance) continue;
        const size_t d = editDistance(wanted, candidate);
        if (d < bestDistance) {
            bestDistance = d;
            best = field.name;
        }
    }
    return best;
}

int64_t typeMinimum(const FieldInfo &field) {
    switch (field.type) {
    case FieldType::U8:
        return 0;
    case FieldType::I8:
        return -128;
    case FieldType::I16:
    case FieldType::Percent:
        return -32768;
    case FieldType::I32:
        return kI32Min;
    case FieldType::Colour:
        return 0;
    case FieldType::Source:
        return 0;
    }
    return 0;
}

int64_t typeMaximum(const FieldInfo &field) {
    switch (field.type) {
    case FieldType::U8:
        return 255;
    case FieldType::I8:
        return 127;
    case FieldType::I16:
    case FieldType::Percent:
        return 32767;
    case FieldType::I32:
        return kI32Max;
    case FieldType::Colour:
        return 0xFFFFFFFFll;
    case FieldType::Source:
        return 0;
    }
    return 0;
}

const char *typeName(const FieldInfo &field) {
    switch (field.type) {
    case FieldType::U8:
        return "uint8";
    case FieldType::I8:
        return "int8";
    case FieldType::I16:
        return "int16";
    case FieldType::I32:
        return "int32";
    case FieldType::Percent:
        return "percent (int16)";
    case FieldType::Colour:
        return "colour";
    case FieldType::Source:
        return "source (112 bytes)";
    }
    return "";
}

int64_t fieldValue(const Record &record, const FieldInfo &field) {
    const uint32_t raw =
        load(record, field.offset, field.type == FieldType::Source ? 0 : field.size);
    switch (field.type) {
    case FieldType::U8:
        return raw & 0xFF;
    case FieldType::I8:
        return int8_t(uint8_t(raw));
    case FieldType::I16:
    case FieldType::Percent:
        return int16_t(uint16_t(raw));
    case FieldType::I32:
        return int32_t(raw);
    case FieldType::Colour:
        return raw;
    case FieldType::Source:
        return 0;
    }
    return 0;
}

void setFieldValue(Record &record, const FieldInfo &field, int64_t value) {
    if (field.type == FieldType::Source) return;
    store(record, field.offset, field.size, uint32_t(value));
}

std::string sourcePath(const Record &record, const FieldInfo &field) {
    const char *begin = reinterpret_cast<const char *>(record.data() + field.offset);
    return std::string(begin, strnlen(begin, kSourceSize));
}

Record defaultRecord() {
    Record record{};
    resetRecord(record);
    return record;
}

void resetRecord(Record &record) {
    for (const FieldInfo &field : recordFields()) {
        if (!field.hasDefault) continue;
        if (field.type == FieldType::Source)
            std::memset(record.data() + field.offset, 0, kSourceSize);
        else
            setFieldValue(record, field, field.defaultValue);
    }
    record[4] = 0; // offsets 0..35 are written as whole words: byte 4 too
}

std::string formatField(const Record &record, const FieldInfo &field) {
    std::string value, note;
    char text[160];
    if (field.type == FieldType::Source) {
        const std::string path = sourcePath(record, field);
        value = "\"" + path + "\"";
        note = "picture path";
    } else if (field.type == FieldType::Colour) {
        const uint32_t word = uint32_t(fieldValue(record, field));
        uint8_t rgb[3];
        hostToRgb(word, rgb);
        value = hexWord(word);
        std::snprintf(text, sizeof text, "Y %u Cb %u Cr %u, RGB #%02X%02X%02X", word >> 24,
                      (word >> 16) & 0xFF, (word >> 8) & 0xFF, rgb[0], rgb[1], rgb[2]);
        note = text;
    } else {
        const int64_t v = fieldValue(record, field);
        value = std::to_string(v);
        if (field.dialogRange) {
            std::snprintf(text, sizeof text, "%" PRId64 "..%" PRId64, field.minimum, field.maximum);
            note = text;
        }
        if (field.valueNames) {
            int64_t count = 0;
            while (field.valueNames[count]) ++count;
            // Flags and source selectors treat every non-zero value as the last name.
            const int64_t index = (field.maximum == 1 && v != 0) ? 1 : v;
            if (index >= 0 && index < count) note += std::string(": ") + field.valueNames[index];
        }
        if (field.dialogRange && (v < field.minimum || v > field.maximum))
            note += " (outside the dialog range)";
    }
    std::snprintf(text, sizeof text, "%-18s = %-12s # @%u %s", field.name, value.c_str(),
                  unsigned(field.offset), typeName(field));
    std::string line = text;
    if (!note.empty()) line += ", " + note;
    return line;
}

uint32_t parseColour(std::string_view text) {
    auto hexDigits = [](std::string_view s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) != 0;
        });
    };
    if (text.size() == 7 && text[0] == '#' && hexDigits(text.substr(1))) {
        const uint32_t rgb = uint32_t(std::stoul(std::string(text.substr(1)), nullptr, 16));
        return rgbToHost(uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), 0xFF);
    }
    if (text.size() == 10 && (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X") &&
        hexDigits(text.substr(2)))
        return uint32_t(std::stoul(std::string(text.substr(2)), nullptr, 16));
    throw UsageError("bad colour \"" + std::string(text) +
                     "\": use #RRGGBB or the YCbCr word 0xYYCBCRAA");
}

void assignField(Record &record, std::string_view assignment, bool force) {
    const size_t equals = assignment.find('=');
    if (equals == std::string_view::npos || equals == 0)
        throw UsageError("expected field=value, got \"" + std::string(assignment) + "\"");
    std::string name(assignment.substr(0, equals));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    std::string_view text = assignment.substr(equals + 1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    const FieldInfo *field = findField(name);
    if (!field) {
        const std::string hint = suggestField(name);
        throw UsageError("unknown settings field \"" + name + "\"" +
                         (hint.empty() ? "" : " (did you mean " + hint + "?)") +
                         "; `lustra settings show` lists them");
    }
    const std::string where = std::string("field ") + field->name + ": ";
    if (field->type == FieldType::Source) {
        std::string path(text);
        if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
            path = path.substr(1, path.size() - 2);
        if (!path.empty()) path = fs::absolute(path).lexically_normal().string();
        if (path.size() >= kSourceSize)
            throw UsageError(where + "the path \"" + path + "\" is longer than " +
                             std::to_string(kSourceSize - 1) + " bytes");
        std::memset(record.data() + field->offset, 0, kSourceSize);
        std::memcpy(record.data() + field->offset, path.data(), path.size());
        return;
    }
    if (field->type == FieldType::Colour) {
        setFieldValue(record, *field, parseColour(text));
        return;
    }
    int64_t value = 0;
    bool named = false;
    if (field->valueNames) {
        const std::string wanted = lower(text);
        for (int64_t i = 0; field->valueNames[i]; ++i)
            if (wanted == field->valueNames[i]) {
                value = i;
                named = true;
            }
        if (!named && field->maximum == 1) {
            if (wanted == "true" || wanted == "yes") value = 1, named = true;
            if (wanted == "false" || wanted == "no") value = 0, named = true;
        }
    }
    if (!named && !parseInteger(text, value)) {
        std::string names;
        if (field->valueNames)
            for (int64_t i = 0; field->valueNames[i]; ++i)
                names += std::string(i ? ", " : " or one of ") + field->valueNames[i];
        throw UsageError(where + "\"" + std::string(text) + "\" is not a number" + names);
    }
    const int64_t lo = force ? typeMinimum(*field) : field->minimum;
    const int64_t hi = force ? typeMaximum(*field) : field->maximum;
    // The default lies outside the dialog range for some fields (bevelEdgeSlope).
    const bool isDefault = field->hasDefault && value == field->defaultValue;
    if ((value < lo || value > hi) && !(isDefault && !force)) {
        throw UsageError(where + std::to_string(value) + " is outside " +
                         (force ? "the type's range " : "the dialog range ") + std::to_string(lo) +
                         ".." + std::to_string(hi) +
                         (force ? "" : " (--force accepts any value of the field's type)"));
    }
    setFieldValue(record, *field, value);
}

RecordFile readRecordFile(const std::string &path) {
    RecordFile result;
    result.record = defaultRecord();
    std::error_code error;
    if (!fs::exists(path, error)) return result;
    if (fs::is_directory(path, error))
        throw Failure(path + ": is a directory, not a settings file");
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) throw Failure(path + ": cannot read the settings file: " + std::strerror(errno));
    result.exists = true;
    uint8_t buffer[kRecordSize + 1];
    const size_t got = std::fread(buffer, 1, sizeof buffer, file);
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError) throw Failure(path + ": cannot read the settings file");
    result.fileSize = fs::file_size(path, error);
    if (error) result.fileSize = got;
    std::memcpy(result.record.data(), buffer, std::min(got, kRecordSize));
    if (result.fileSize < kRecordSize)
        result.warning = path + ": settings file has " + std::to_string(result.fileSize) +
                         " bytes, not 824: only its leading bytes are used, the rest are defaults";
    else if (result.fileSize > kRecordSize)
        result.warning = path + ": settings file has " + std::to_string(result.fileSize) +
                         " bytes, not 824: only the first 824 are used";
    return result;
}

void writeRecordFile(const std::string &path, const Record &record) {
    const fs::path target(path);
    std::error_code error;
    if (fs::is_directory(target, error)) throw Failure(path + ": is a directory");
    const fs::path directory = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string temporary = (directory / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temporary.data());
    if (fd < 0) throw Failure(path + ": cannot write the settings file: " + std::strerror(errno));
    size_t written = 0;
    while (written < kRecordSize) {
        const ssize_t n = ::write(fd, record.data() + written, kRecordSize - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += size_t(n);
    }
    const int savedErrno = errno;
    const bool ok = written == kRecordSize && ::fsync(fd) == 0;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    if (::close(fd) != 0 || !ok) {
        ::unlink(temporary.c_str());
        throw Failure(path + ": cannot write the settings file: " + std::strerror(savedErrno));
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int e = errno;
        ::unlink(temporary.c_str());
        throw Failure(path + ": cannot write the settings file: " + std::strerror(e));
    }
}

} // namespace lustra::cli
