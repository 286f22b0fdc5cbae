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

constexpr int64_t kI32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kI32Max = std::numeric_limits<int32_t>::max();

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
    static const std::vector<FieldInfo> fields(std::begin(lustrafex::kSettingsFields),
                                               std::end(lustrafex::kSettingsFields));
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
    lustrafex::writeSettingsDefaults(record.data()); // as the module writes them
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
