#include "Frei0rTestSupport.h"

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>

namespace lustra::frei0rtest {
namespace {

template <typename T> void resolve(void *handle, const char *name, T &function) {
    function = reinterpret_cast<T>(dlsym(handle, name));
    if (!function) throw std::runtime_error(std::string("missing ") + name);
}

} // namespace

Plugin::Plugin(const std::string &path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    int (*init)() = nullptr;
    resolve(handle_, "f0r_init", init);
    resolve(handle_, "f0r_deinit", deinit_);
    resolve(handle_, "f0r_get_plugin_info", getPluginInfo);
    resolve(handle_, "f0r_get_param_info", getParamInfo);
    resolve(handle_, "f0r_construct", construct);
    resolve(handle_, "f0r_destruct", destruct);
    resolve(handle_, "f0r_set_param_value", setParam);
    resolve(handle_, "f0r_get_param_value", getParam);
    resolve(handle_, "f0r_update", update);
    resolve(handle_, "f0r_update2", update2);
    init();
}

Plugin::~Plugin() {
    if (deinit_) deinit_();
    if (handle_) dlclose(handle_);
}

f0r_plugin_info_t Plugin::info() const {
    f0r_plugin_info_t result{};
    getPluginInfo(&result);
    return result;
}

f0r_param_info_t Plugin::parameterInfo(int index) const {
    f0r_param_info_t result{};
    getParamInfo(&result, index);
    return result;
}

int Plugin::parameter(const std::string &name) const {
    for (int i = 0; i < info().num_params; ++i)
        if (name == parameterInfo(i).name) return i;
    return -1;
}

Instance::Instance(const Plugin &plugin, int width, int height)
    : plugin_(plugin), instance_(plugin.construct(unsigned(width), unsigned(height))),
      width_(width), height_(height) {
    if (!instance_) throw std::runtime_error("f0r_construct failed");
}

Instance::~Instance() {
    plugin_.destruct(instance_);
}

void Instance::set(const std::string &name, double value) {
    const int index = plugin_.parameter(name);
    if (index < 0) throw std::runtime_error("no parameter " + name);
    plugin_.setParam(instance_, &value, index);
}

void Instance::set(const std::string &name, const std::string &text) {
    const int index = plugin_.parameter(name);
    if (index < 0) throw std::runtime_error("no parameter " + name);
    const char *value = text.c_str();
    plugin_.setParam(instance_, &value, index);
}

double Instance::number(const std::string &name) const {
    double value = -1;
    plugin_.getParam(instance_, &value, plugin_.parameter(name));
    return value;
}

std::string Instance::text(const std::string &name) const {
    const char *value = nullptr;
    plugin_.getParam(instance_, &value, plugin_.parameter(name));
    return value ? value : "(null)";
}

Picture Instance::filter(const Picture &title, double time) {
    const std::vector<uint32_t> in = toWords(title);
    std::vector<uint32_t> out(in.size(), 0xDEADBEEF);
    plugin_.update(instance_, time, in.data(), out.data());
    return fromWords(out, width_, height_);
}

Picture Instance::mix(const Picture &background, const Picture &title, double time) {
    const std::vector<uint32_t> in1 = toWords(background), in2 = toWords(title);
    std::vector<uint32_t> out(in1.size(), 0xDEADBEEF);
    plugin_.update2(instance_, time, in1.data(), in2.data(), nullptr, out.data());
    return fromWords(out, width_, height_);
}

std::vector<uint32_t> toWords(const Picture &picture) {
    const Picture rgba = withAlpha(picture);
    std::vector<uint32_t> words(size_t(picture.width) * picture.height);
    std::memcpy(words.data(), rgba.bytes.data(), words.size() * 4);
    return words;
}

Picture fromWords(const std::vector<uint32_t> &words, int width, int height) {
    Picture picture{width, height, 4, std::vector<uint8_t>(words.size() * 4)};
    std::memcpy(picture.bytes.data(), words.data(), picture.bytes.size());
    return picture;
}

Picture solid(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    Picture picture{width, height, 3, {}};
    for (int i = 0; i < width * height; ++i) picture.bytes.insert(picture.bytes.end(), {r, g, b});
    return picture;
}

Picture withAlpha(const Picture &picture) {
    if (picture.channels == 4) return picture;
    Picture rgba{picture.width, picture.height, 4, {}};
    rgba.bytes.reserve(size_t(picture.width) * picture.height * 4);
    for (size_t i = 0; i + 2 < picture.bytes.size(); i += 3)
        rgba.bytes.insert(rgba.bytes.end(),
                          {picture.bytes[i], picture.bytes[i + 1], picture.bytes[i + 2], 255});
    return rgba;
}

} // namespace lustra::frei0rtest
