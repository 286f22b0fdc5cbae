// The effect's 824-byte settings record as the host sees it: its fields (the
// table of settings fields shared with the module), reading and writing the raw
// record files, and the text form that `lustra settings` shows and parses.
#pragma once

#include "lustrafex/settings_fields.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lustra::cli {

constexpr size_t kRecordSize = lustrafex::kSettingsRecordSize;
constexpr size_t kSourceSize = lustrafex::kSettingsSourceSize;
using Record = std::array<uint8_t, kRecordSize>;

// A field's type, and the field: a row of the table of settings fields that
// the module shares (name, offset, type, dialog range, default, value
// names, meaning, unit, stage, frei0r parameter).
using FieldType = lustrafex::FieldType;
using FieldInfo = lustrafex::SettingsField;

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
