// Renders the project's title picture over its background with a set of
// settings variations and writes one PNG per variation, to look at what each
// part of the effect does.
//
//   lustra_stills OUTPUT_DIR [--size WxH]
#include "support/MemoryHost.h"
#include "PngWriter.h"
#include "support/TitleShape.h"
#include "operator/Operator.h"
#include "operator/Settings.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace {

using lustra::EffectSettings;

struct Variation {
    const char *name;
    int secondLayers;
    std::function<void(EffectSettings &)> change;
};

const Variation kVariations[] = {
    {"default", 0, [](EffectSettings &) {}},
    {"second-layers", 1, [](EffectSettings &) {}},
    {"bevel-wide", 1,
     [](EffectSettings &s) {
         s.bevelWidth = 30;
         s.bevelSmoothing = 30;
     }},
    {"bevel-sunken", 1,
     [](EffectSettings &s) {
         s.bevelSunken = 1;
         s.bevelEdgeSlope = 5;
         s.bevelInnerSlope = 5;
     }},
    {"glow-profile", 0,
     [](EffectSettings &s) {
         s.glowOn = 1;
         s.glowWidth = 20;
         s.shadowOn = 0;
     }},
    {"glow-blurred", 0,
     [](EffectSettings &s) {
         s.glowOn = 1;
         s.glowWidth = 30;
         s.glowBlurred = 1;
         s.shadowOn = 0;
     }},
    {"shadow-soft", 0,
     [](EffectSettings &s) {
         s.shadowSoftness = 30;
         s.shadowDistance = 100;
     }},
    {"metal", 1,
     [](EffectSettings &s) {
         s.fill1Mode = 2;
         s.fill1ColourA = 0xC08080FF;
     }},
    {"metal-background", 1, [](EffectSettings &s) { s.fill2Mode = 2; }},
    {"texture-object", 1,
     [](EffectSettings &s) {
         s.texture1On = 1;
         s.texture1Type = 1;
         s.texture1Depth = 120;
     }},
    {"texture-background", 1,
     [](EffectSettings &s) {
         s.texture2On = 1;
         s.texture2Type = 2;
         s.texture2Depth = 160;
     }},
    {"map-object", 1,
     [](EffectSettings &s) {
         s.map1On = 1;
         s.map1ScaleX = s.map1ScaleY = 50;
     }},
    {"picture-fill", 1,
     [](EffectSettings &s) {
         s.fill1Mode = 3;
         s.fill1ColourA = 0xEB8080FF;
     }},
    {"inverted", 0, [](EffectSettings &s) { s.invertShape = 1; }},
    {"light-moved", 1,
     [](EffectSettings &s) {
         s.offsetX = 60;
         s.offsetY = 40;
         s.fill1Shininess = 40;
     }},
};

int usage(std::FILE *out, int code) {
    std::fprintf(out, "usage: lustra_stills OUTPUT_DIR [--size WxH]\n"
                      "Renders the built-in title with a set of settings variations and\n"
                      "writes OUTPUT_DIR/<variation>.png for each (default size 480x270).\n");
    return code;
}

} // namespace

int main(int argc, char **argv) {
    std::string directory;
    int width = 480, height = 270;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") return usage(stdout, 0);
        if (argument == "--size" && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2 || width < 2 || height < 2 ||
                width > 4096 || height > 4096)
                return usage(stderr, 2);
            height &= ~1;
        } else if (directory.empty() && argument[0] != '-') {
            directory = argument;
        } else {
            return usage(stderr, 2);
        }
    }
    if (directory.empty()) return usage(stderr, 2);
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (!std::getenv("VXHOME")) setenv("VXHOME", LUSTRA_DATA_DIR, 1);

    lustra::tools::MemoryHost host;
    lustra::lustraInstallBackend(&host);
    int failures = 0;
    for (const Variation &variation : kVariations) {
        host.setFrames(width, height, lustra::tools::titleFrame(width, height),
                       lustra::tools::backgroundFrame(width, height));
        GetOperatorInfo();
        lustra::secondLayersOption.value = variation.secondLayers;
        OperatorContext context{};
        context.action = 1;
        OperatorAction(&context);
        variation.change(lustra::settings);
        context.action = 3;
        const int32_t result = OperatorAction(&context);
        context.action = 2;
        OperatorAction(&context);
        const std::string path = directory + "/" + variation.name + ".png";
        if (result != 0 || host.putCount != 2 ||
            !lustra::tools::writeHostFramePng(path, width, height, host.rendered())) {
            std::fprintf(stderr, "lustra_stills: %s failed\n", variation.name);
            ++failures;
            continue;
        }
        std::printf("%s\n", path.c_str());
    }
    lustra::lustraInstallBackend(nullptr);
    return failures ? 1 : 0;
}
