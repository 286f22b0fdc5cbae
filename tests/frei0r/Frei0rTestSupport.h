// The plug-ins loaded with dlopen as a frei0r host loads them, and frames
// converted between the test pictures and frei0r's RGBA words.
#pragma once

#include "CliTestSupport.h"

extern "C" {
#include <frei0r.h>
}

#include <string>
#include <vector>

namespace lustra::frei0rtest {

using clitest::Picture;

class Plugin {
  public:
    explicit Plugin(const std::string &path); // also calls f0r_init
    ~Plugin();                                // f0r_deinit, dlclose
    Plugin(const Plugin &) = delete;
    Plugin &operator=(const Plugin &) = delete;

    f0r_plugin_info_t info() const;
    f0r_param_info_t parameterInfo(int index) const;
    // The index of a parameter by name; -1 when there is none.
    int parameter(const std::string &name) const;

    void (*getPluginInfo)(f0r_plugin_info_t *) = nullptr;
    void (*getParamInfo)(f0r_param_info_t *, int) = nullptr;
    f0r_instance_t (*construct)(unsigned, unsigned) = nullptr;
    void (*destruct)(f0r_instance_t) = nullptr;
    void (*setParam)(f0r_instance_t, f0r_param_t, int) = nullptr;
    void (*getParam)(f0r_instance_t, f0r_param_t, int) = nullptr;
    void (*update)(f0r_instance_t, double, const uint32_t *, uint32_t *) = nullptr;
    void (*update2)(f0r_instance_t, double, const uint32_t *, const uint32_t *, const uint32_t *,
                    uint32_t *) = nullptr;

  private:
    void *handle_ = nullptr;
    void (*deinit_)() = nullptr;
};

// One instance, destroyed at the end.
class Instance {
  public:
    Instance(const Plugin &plugin, int width, int height);
    ~Instance();
    Instance(const Instance &) = delete;
    Instance &operator=(const Instance &) = delete;
    void set(const std::string &name, double value);
    void set(const std::string &name, const std::string &text);
    double number(const std::string &name) const;
    std::string text(const std::string &name) const;
    // The filter's frame (title in) or the mixer's (background, title in).
    Picture filter(const Picture &title, double time = 0);
    Picture mix(const Picture &background, const Picture &title, double time = 0);
    f0r_instance_t handle() const { return instance_; }

  private:
    const Plugin &plugin_;
    f0r_instance_t instance_;
    int width_, height_;
};

std::vector<uint32_t> toWords(const Picture &picture);
Picture fromWords(const std::vector<uint32_t> &words, int width, int height);
Picture solid(int width, int height, uint8_t r, uint8_t g, uint8_t b);
// RGBA copy of a picture (alpha 255 where it had none).
Picture withAlpha(const Picture &picture);

} // namespace lustra::frei0rtest
