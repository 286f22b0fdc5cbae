#include "Parameters.h"

#include "lustrafex/settings_fields.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <deque>

namespace lustra::frei0r {
namespace {

// The fields that the table of settings fields offers as parameters of
// their own, in its order: a switch for an on/off field, else a number whose
// 0..1 maps onto the field's dialog range (or the parameter's own range),
// described as "LABEL: 0..1 is MIN..MAX UNIT".
const std::vector<Parameter> &fieldParameters() {
    static const std::vector<Parameter> list = [] {
        std::vector<const lustrafex::SettingsField *> fields;
        for (const lustrafex::SettingsField &field : lustrafex::kSettingsFields)
            if (field.frei0r.position != 0) fields.push_back(&field);
        std::sort(fields.begin(), fields.end(), [](const auto *a, const auto *b) {
            return a->frei0r.position < b->frei0r.position;
        });
        // The descriptions live as long as the parameters that point to them.
        static std::deque<std::string> descriptions;
        std::vector<Parameter> list;
        for (const lustrafex::SettingsField *field : fields) {
            const lustrafex::Frei0rParameter &offer = field->frei0r;
            const char *name = offer.name ? offer.name : field->name;
            if (field->valueNames == lustrafex::kOffOn) {
                list.push_back(Parameter{name, ParameterKind::Switch, offer.label, field->name});
                continue;
            }
            Parameter parameter{name, ParameterKind::Number, nullptr, field->name};
            parameter.minimum = offer.ownRange ? offer.minimum : field->minimum;
            parameter.maximum = offer.ownRange ? offer.maximum : field->maximum;
            std::string text = std::string(offer.label) + ": 0..1 is " +
                               std::to_string(parameter.minimum) + ".." +
                               std::to_string(parameter.maximum);
            if (*field->unit) text += std::string(" ") + field->unit;
            descriptions.push_back(std::move(text));
            parameter.help = descriptions.back().c_str();
            list.push_back(parameter);
        }
        return list;
    }();
    return list;
}

Parameter choice(const char *name, Choice which, const char *help) {
    return Parameter{name, ParameterKind::Choice, help, nullptr, which};
}

std::vector<Parameter> makeParameters(bool mixer) {
    std::vector<Parameter> list;
    if (!mixer)
        list.push_back({"background", ParameterKind::Background,
                        "the background (input 0): a colour #RRGGBB or a picture file, scaled to "
                        "the frame size (default #000000)"});
    list.push_back({"settings", ParameterKind::SettingsFile,
                    "settings file: an 824-byte settings record, e.g. made with lustra settings "
                    "set FILE ... (empty: the defaults)"});
    list.push_back({"set", ParameterKind::Assignments,
                    "field changes applied over the settings file: FIELD:VALUE or FIELD=VALUE, "
                    "separated by spaces or ';', as for lustra settings set (MLT needs "
                    "FIELD:VALUE)"});
    for (const Parameter &parameter : fieldParameters()) list.push_back(parameter);
    list.push_back(
        choice("secondLayers", Choice::SecondLayers,
               "host choice: render the second layers (image map 2, fill 2, texture 2)"));
    list.push_back(choice("flickerFilter", Choice::FlickerFilter, "host choice: flicker filter"));
    list.push_back(choice("fieldWise", Choice::FieldWise,
                          "host choice: render each field on its own, line-doubled"));
    // Last, so that ffmpeg's positional parameters keep their places.
    list.push_back({"alpha", ParameterKind::Alpha,
                    "the output's alpha: opaque (default: the composite, alpha 255), title (the "
                    "title's alpha) or effect (object, glow and shadow; two renders a frame)"});
    // After alpha, for the same reason.
    list.push_back({"preset", ParameterKind::Preset,
                    "a preset by name (lustra presets list: your presets, then the shipped "
                    "looks); used instead of the settings file, `set` and the direct "
                    "parameters apply on top"});
    return list;
}

} // namespace

const std::vector<Parameter> &parameters(bool mixer) {
    static const std::vector<Parameter> filter = makeParameters(false);
    static const std::vector<Parameter> mixerList = makeParameters(true);
    return mixer ? mixerList : filter;
}

int64_t toFieldValue(const Parameter &parameter, double value, std::string &note) {
    double x = value;
    if (!(x >= 0.0 && x <= 1.0)) {
        x = std::isnan(value) ? 0.0 : (value < 0.0 ? 0.0 : 1.0);
        char text[160];
        std::snprintf(text, sizeof text, "%s=%g is outside 0..1; using %g", parameter.name, value,
                      x);
        note = text;
    }
    if (parameter.kind == ParameterKind::Switch || parameter.kind == ParameterKind::Choice)
        return x >= 0.5 ? 1 : 0;
    return parameter.minimum + std::llround(x * double(parameter.maximum - parameter.minimum));
}

double toParameterValue(const Parameter &parameter, int64_t value) {
    if (parameter.kind == ParameterKind::Switch || parameter.kind == ParameterKind::Choice)
        return value != 0 ? 1.0 : 0.0;
    if (parameter.maximum == parameter.minimum) return 0.0;
    const double x =
        double(value - parameter.minimum) / double(parameter.maximum - parameter.minimum);
    return x < 0.0 ? 0.0 : (x > 1.0 ? 1.0 : x);
}

std::optional<AlphaMode> parseAlphaMode(const std::string &text) {
    size_t begin = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t");
    if (begin == std::string::npos) return std::nullopt;
    std::string word = text.substr(begin, end - begin + 1);
    for (char &c : word) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (AlphaMode mode : {AlphaMode::Opaque, AlphaMode::Title, AlphaMode::Effect})
        if (word == alphaModeName(mode)) return mode;
    return std::nullopt;
}

const char *alphaModeName(AlphaMode mode) {
    switch (mode) {
    case AlphaMode::Title:
        return "title";
    case AlphaMode::Effect:
        return "effect";
    case AlphaMode::Opaque:
        break;
    }
    return "opaque";
}

std::vector<std::string> splitAssignments(const std::string &text,
                                          std::vector<std::string> &notes) {
    std::vector<std::string> assignments;
    size_t at = 0;
    while (at < text.size()) {
        const size_t begin = text.find_first_not_of(" \t\r\n;", at);
        if (begin == std::string::npos) break;
        size_t end = text.find_first_of(" \t\r\n;", begin);
        if (end == std::string::npos) end = text.size();
        at = end;
        std::string word = text.substr(begin, end - begin);
        const size_t separator = word.find_first_of("=:");
        if (separator == std::string::npos || separator == 0) {
            notes.push_back("set: expected FIELD:VALUE or FIELD=VALUE, got \"" + word +
                            "\" (in MLT, write FIELD:VALUE: MLT reads a text holding '=' as "
                            "keyframes and passes on only the value); left out");
            continue;
        }
        word[separator] = '=';
        assignments.push_back(std::move(word));
    }
    return assignments;
}

void applyAssignments(cli::Record &record, const std::string &text, std::vector<std::string> &notes,
                      std::optional<AlphaMode> *alpha, std::string *preset) {
    for (const std::string &assignment : splitAssignments(text, notes)) {
        if (assignment.compare(0, 7, "preset=") == 0) {
            if (preset)
                *preset = assignment.substr(7);
            else
                notes.push_back("set: " + assignment + ": no preset here; left out");
            continue;
        }
        if (assignment.compare(0, 6, "alpha=") == 0) {
            const auto mode = parseAlphaMode(assignment.substr(6));
            if (!mode)
                notes.push_back("set: " + assignment + ": use opaque, title or effect; left out");
            else if (!alpha)
                notes.push_back("set: " + assignment + ": no alpha here; left out");
            else
                *alpha = mode;
            continue;
        }
        try {
            cli::assignField(record, assignment, false);
        } catch (const std::exception &error) {
            notes.push_back(std::string("set: ") + error.what() + "; left out");
        }
    }
}

} // namespace lustra::frei0r
