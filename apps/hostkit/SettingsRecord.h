// The effect's 824-byte settings record as the host sees it: every field's
// name, offset, type, dialog range and default, reading and writing the raw
// record files, and the text form that `lustra settings` shows and parses.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lustra::cli {

constexpr size_t kRecordSize = 824;
constexpr size_t kSourceSize = 112;
using Record = std::array<uint8_t, kRecordSize>;

enum class FieldType {
    U8,      // unsigned byte
    I8,      // signed byte
    I16,     // little-endian int16
    I32,     // little-endian int32
    Percent, // int16 percentage
    Colour,  // YCbCr colour word: Y, Cb, Cr, alpha from the high byte down
    Source,  // 112-byte picture source: here a zero-terminated file path
};

struct FieldInfo {
    const char *name;
    uint16_t offset;
    uint16_t size;
    FieldType type;
    int64_t minimum; // the dialog's range, or the type's range when the
    int64_t maximum; // dialog offers no control for the field
    bool dialogRange;
    bool hasDefault; // false: the defaults leave the field alone
    int64_t defaultValue;
    const char *const *valueNames; // names of the values 0.., or null
    const char *meaning;
};

// Every field of the record, in offset order (reserved bytes excluded).
const std::vector<FieldInfo> &recordFields();
// The field of that name (exact spelling), or null.
const FieldInfo *findField(std::string_view name);
// Close spellings of an unknown name, for the error message.
std::string suggestField(std::string_view name);

// A record of zeros with the defaults written (the module's record after
// GetOperatorInfo).
Record defaultRecord();
// Writes the defaults into every field that has one; reserved bytes,
// previewFrame and previewFrameCount keep their values.
void resetRecord(Record &record);

int64_t fieldValue(const Record &record, const FieldInfo &field);
void setFieldValue(Record &record, const FieldInfo &field, int64_t value);
// The path stored in a source field ("" when it is all zero).
std::string sourcePath(const Record &record, const FieldInfo &field);

// The type's full range (what the render side accepts).
int64_t typeMinimum(const FieldInfo &field);
int64_t typeMaximum(const FieldInfo &field);
const char *typeName(const FieldInfo &field);

// One line of `settings show`: "name = value   # offset, type, range, notes".
std::string formatField(const Record &record, const FieldInfo &field);

// Applies "name=value". Values are checked against the dialog range, or
// only against the type's range when `force` is set. Source paths are made
// absolute against the current directory. Throws UsageError.
void assignField(Record &record, std::string_view assignment, bool force);

// Parses a colour: "#RRGGBB" (converted with the module's RGB to YCbCr
// conversion, alpha 0xFF) or the raw word "0xYYCBCRAA". Throws UsageError.
uint32_t parseColour(std::string_view text);

struct RecordFile {
    Record record{};
    bool exists = false;
    uintmax_t fileSize = 0;
    std::string warning; // non-empty for a file that is not 824 bytes long
};

// Reads a settings file the way the module does: the defaults, overlaid by
// up to 824 leading bytes of the file. A missing file gives the defaults
// (exists = false). Throws Failure when the file exists but cannot be read.
RecordFile readRecordFile(const std::string &path);

// Writes the 824 bytes through a temporary file in the same directory and a
// rename, so that a failure never leaves a half-written record. Throws
// Failure naming the file.
void writeRecordFile(const std::string &path, const Record &record);

} // namespace lustra::cli
