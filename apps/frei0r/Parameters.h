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

enum class ParameterKind {
    Background,
    SettingsFile,
    Assignments,
    Number,
    Switch,
    Choice,
    Alpha,
    Preset
};
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

// What the plug-ins write into the output's alpha: 255 everywhere (the
// composite as the dialog's preview shows it), the title's alpha as the
// module hands it back, or an alpha covering object, glow and shadow
// recovered from renders over black and over white (straight colour).
enum class AlphaMode { Opaque, Title, Effect };

// "opaque", "title" or "effect" (any case, spaces around ignored); nullopt
// for anything else.
std::optional<AlphaMode> parseAlphaMode(const std::string &text);
const char *alphaModeName(AlphaMode mode);

// The `set` text split into its assignments, each rewritten as
// FIELD=VALUE. Assignments are separated by spaces, tabs, newlines or ';';
// each is FIELD=VALUE or FIELD:VALUE, the first '=' or ':' separating the
// field from its value (MLT reads a text holding '=' as keyframes, so
// FIELD:VALUE is the form that reaches the plug-in there). A word without
// either is described in `notes` and left out.
std::vector<std::string> splitAssignments(const std::string &text, std::vector<std::string> &notes);

// Applies the assignments of a `set` text (as splitAssignments splits it)
// to `record` as `lustra settings set` does; an assignment that does not
// apply is left out and described in `notes`. `alpha:MODE` is no field of
// the record but the plug-in's alpha parameter (in ffmpeg, whose
// parameters are positional, the only short way to reach it): it goes to
// `alpha` when given, else it is left out as well. `preset:NAME` likewise
// is the preset parameter: it goes to `preset` when given.
void applyAssignments(cli::Record &record, const std::string &text, std::vector<std::string> &notes,
                      std::optional<AlphaMode> *alpha = nullptr, std::string *preset = nullptr);

} // namespace lustra::frei0r
