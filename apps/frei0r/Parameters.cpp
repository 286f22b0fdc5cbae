#include "Parameters.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace lustra::frei0r {
namespace {

Parameter number(const char *name, const char *field, const char *help) {
    Parameter parameter{name, ParameterKind::Number, help, field};
    const cli::FieldInfo *info = cli::findField(field);
    parameter.minimum = info ? info->minimum : 0;
    parameter.maximum = info ? info->maximum : 0;
    return parameter;
}

Parameter light(const char *name, const char *field, const char *help) {
    Parameter parameter{name, ParameterKind::Number, help, field};
    parameter.minimum = -200;
    parameter.maximum = 200;
    return parameter;
}

Parameter toggle(const char *name, const char *field, const char *help) {
    return Parameter{name, ParameterKind::Switch, help, field};
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
                    "field changes applied over the settings file: FIELD=VALUE ... separated by "
                    "spaces, as for lustra settings set (lustra settings fields lists them)"});
    list.push_back(number("bevelWidth", "bevelWidth", "bevel radius: 0..1 is 0..30 pixels"));
    list.push_back(number("bevelDepth", "bevelDepth", "bevel depth: 0..1 is 0..100 percent"));
    list.push_back(
        number("bevelSmoothing", "bevelSmoothing", "bevel smoothing radius: 0..1 is 0..30 pixels"));
    list.push_back(light("lightX", "offsetX",
                         "horizontal light and fill-texture offset: 0..1 is -200..200 pixels"));
    list.push_back(light("lightY", "offsetY",
                         "vertical light and fill-texture offset: 0..1 is -200..200 pixels"));
    list.push_back(toggle("glowOn", "glowOn", "outer glow on"));
    list.push_back(number("glowWidth", "glowWidth", "glow radius: 0..1 is 0..30 pixels"));
    list.push_back(number("glowOpacity", "glowOpacity", "glow opacity: 0..1 is 0..100 percent"));
    list.push_back(toggle("shadowOn", "shadowOn", "drop shadow on"));
    list.push_back(
        number("shadowOpacity", "shadowOpacity", "shadow opacity: 0..1 is 0..100 percent"));
    list.push_back(
        number("shadowSoftness", "shadowSoftness", "shadow blur radius: 0..1 is 0..30 pixels"));
    list.push_back(number("shadowDistance", "shadowDistance",
                          "shadow distance: 0..1 is 0..100 percent of the light offset"));
    list.push_back(number("fillZoom", "fillZoom", "zoom of the fill textures: 0..1 is 0..255"));
    list.push_back(
        choice("secondLayers", Choice::SecondLayers,
               "host choice: render the second layers (image map 2, fill 2, texture 2)"));
    list.push_back(choice("flickerFilter", Choice::FlickerFilter, "host choice: flicker filter"));
    list.push_back(choice("fieldWise", Choice::FieldWise,
                          "host choice: render each field on its own, line-doubled"));
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

void applyAssignments(cli::Record &record, const std::string &text,
                      std::vector<std::string> &notes) {
    std::istringstream words(text);
    std::string assignment;
    while (words >> assignment) {
        try {
            cli::assignField(record, assignment, false);
        } catch (const std::exception &error) {
            notes.push_back(std::string("set: ") + error.what() + "; left out");
        }
    }
}

} // namespace lustra::frei0r
