// The frei0r entry points of one plug-in: the filter (lustrafex.so: the
// title in, the background a parameter) or, built with LUSTRA_FREI0R_MIXER,
// the mixer2 (lustrafex_mixer.so: the background and the title in).
#include "Instance.h"

// frei0r.h declares the entry points without C linkage of its own.
extern "C" {
#include <frei0r.h>
}

#include <new>

namespace {

#ifdef LUSTRA_FREI0R_MIXER
constexpr bool kMixer = true;
#else
constexpr bool kMixer = false;
#endif

lustra::frei0r::Instance *cast(f0r_instance_t instance) {
    return static_cast<lustra::frei0r::Instance *>(instance);
}

} // namespace

extern "C" {

int f0r_init() {
    lustra::frei0r::Runtime::attach();
    return 1;
}

void f0r_deinit() {
    lustra::frei0r::Runtime::detach();
}

void f0r_get_plugin_info(f0r_plugin_info_t *info) {
    if (!info) return;
    info->name = kMixer ? "lustrafex_mixer" : "lustrafex";
    info->author = "LustraFex developers";
    info->plugin_type = kMixer ? F0R_PLUGIN_TYPE_MIXER2 : F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = 1;
    info->minor_version = 0;
    info->num_params = int(lustra::frei0r::parameters(kMixer).size());
    info->explanation =
        kMixer ? "LustraFex: the title (second input) as a glossy, lit 3-D relief over the "
                 "background (first input)"
               : "LustraFex: the title (the input) as a glossy, lit 3-D relief over a background "
                 "colour or picture";
}

void f0r_get_param_info(f0r_param_info_t *info, int index) {
    const auto &list = lustra::frei0r::parameters(kMixer);
    if (!info || index < 0 || size_t(index) >= list.size()) return;
    const lustra::frei0r::Parameter &parameter = list[size_t(index)];
    using Kind = lustra::frei0r::ParameterKind;
    info->name = parameter.name;
    info->explanation = parameter.help;
    switch (parameter.kind) {
    case Kind::Background:
    case Kind::SettingsFile:
    case Kind::Assignments:
    case Kind::Alpha:
    case Kind::Preset:
        info->type = F0R_PARAM_STRING;
        break;
    case Kind::Number:
        info->type = F0R_PARAM_DOUBLE;
        break;
    case Kind::Switch:
    case Kind::Choice:
        info->type = F0R_PARAM_BOOL;
        break;
    }
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    if (width == 0 || height == 0 || width > 32767 || height > 32767) {
        lustra::frei0r::warnOnce("cannot work on frames of " + std::to_string(width) + "x" +
                                 std::to_string(height) + " (1x1 to 32767x32767)");
        return nullptr;
    }
    try {
        return new lustra::frei0r::Instance(kMixer, width, height);
    } catch (const std::exception &error) {
        lustra::frei0r::warnOnce(std::string("cannot create an instance: ") + error.what());
        return nullptr;
    }
}

void f0r_destruct(f0r_instance_t instance) {
    delete cast(instance);
}

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    if (instance) cast(instance)->setParameter(index, param);
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    if (instance) cast(instance)->getParameter(index, param);
}

void f0r_update(f0r_instance_t instance, double time, const uint32_t *inframe, uint32_t *outframe) {
    if (!instance) return;
    if (kMixer) {
        // A mixer has no single input; hosts call f0r_update2.
        cast(instance)->update(time, nullptr, nullptr, outframe, inframe);
        return;
    }
    cast(instance)->update(time, inframe, nullptr, outframe, inframe);
}

void f0r_update2(f0r_instance_t instance, double time, const uint32_t *inframe1,
                 const uint32_t *inframe2, const uint32_t *, uint32_t *outframe) {
    if (!instance) return;
    if (kMixer)
        cast(instance)->update(time, inframe2, inframe1, outframe, inframe1);
    else
        cast(instance)->update(time, inframe1, nullptr, outframe, inframe1);
}

} // extern "C"
