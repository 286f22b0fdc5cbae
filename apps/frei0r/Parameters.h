// The plug-ins' parameters and how frei0r's values map onto the fields of
// the settings record.
//
// Numbers are frei0r doubles in 0..1 mapped linearly onto the field's range
// (value = minimum + round(x * (maximum - minimum))); switches are doubles
// too, on from 0.5. The light position is two numbers, -200..200 pixels.
#pragma once

#include "SettingsRecord.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lustra::frei0r {

enum class ParameterKind { Background, SettingsFile, Assignments, Number, Switch, Choice };
enum class Choice { SecondLayers, FlickerFilter, FieldWise };

struct Parameter {
    const char *name;
    ParameterKind kind;
    const char *help;
    const char *field = nullptr; // Number and Switch: the record's field
    Choice choice = Choice::SecondLayers;
    int64_t minimum = 0; // the range 0..1 maps onto (Number)
    int64_t maximum = 0;
};

// The parameters of the filter (background first) or of the mixer.
const std::vector<Parameter> &parameters(bool mixer);

// A frei0r value of a Number or Switch parameter to the field's value; a
// value outside 0..1 (or not a number) is clamped and `note` says so.
int64_t toFieldValue(const Parameter &parameter, double value, std::string &note);
// The field's value as the frei0r value.
double toParameterValue(const Parameter &parameter, int64_t value);

// Splits "FIELD=VALUE FIELD=VALUE ..." (spaces, tabs or newlines between
// assignments) and applies each to `record` as `lustra settings set` does;
// an assignment that does not apply is left out and described in `notes`.
void applyAssignments(cli::Record &record, const std::string &text,
                      std::vector<std::string> &notes);

} // namespace lustra::frei0r
