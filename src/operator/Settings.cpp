// The settings record: its defaults and its files.
#include "operator/Settings.h"

#include "operator/Operator.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lustra {

EffectSettings settings;

namespace {

constexpr uint32_t kColourYellowOchre = 0x801092FF; // Y 128, Cb 16, Cr 146
constexpr uint32_t kColourWhite235 = 0xEB8080FF;    // Y 235
constexpr uint32_t kColourBlack16 = 0x108080FF;     // Y 16
constexpr uint32_t kColourGrey122 = 0x7A8080FF;     // Y 122
constexpr uint32_t kColourGlowInner = 0xD21092FF;   // Y 210, Cb 16, Cr 146
constexpr uint32_t kColourGlowOuter = 0x515AF0FF;   // Y 81, Cb 90, Cr 240

} // namespace

void resetSettings() {
    EffectSettings &s = settings;
    // Offsets 0..35: the dialog's view bytes (with the reserved byte 4), the
    // relief, glow and shadow parameters, the fill zoom and the light offset.
    s.dialogAtTop = s.currentPage = s.reliefView = s.glowView = s.reserved4 = 0;
    s.map1View = s.map2View = s.fill1View = s.fill2View = s.texture1View = s.texture2View = 0;
    s.bevelWidth = 8;
    s.bevelDepth = 100;
    s.bevelSmoothing = 7;
    s.bevelEdgeSlope = -1;
    s.bevelInnerSlope = 0;
    s.bevelSunken = 0;
    s.invertShape = 0;
    s.glowWidth = 10;
    s.glowOpacity = 100;
    s.glowSoftness = 100;
    s.glowBlurred = 0;
    s.glowOn = 0;
    s.shadowSoftness = 5;
    s.shadowOpacity = 100;
    s.shadowDistance = 30;
    s.shadowOn = 1;
    s.fillZoom = 128;
    s.offsetX = -18;
    s.offsetY = -18;

    std::memset(s.map1Source, 0, kSourceSize);
    s.map1ScaleX = s.map1ScaleY = 100;
    s.map1OffsetX = s.map1OffsetY = 0;
    s.map1On = s.map1FromSource = 0;

    std::memset(s.map2Source, 0, kSourceSize);
    s.map2ScaleX = s.map2ScaleY = 100;
    s.map2OffsetX = s.map2OffsetY = 0;
    s.map2On = s.map2FromSource = 0;

    std::memset(s.fill1Source, 0, kSourceSize);
    s.fill1ColourA = kColourYellowOchre;
    s.fill1ColourB = kColourWhite235;
    s.fill1ColourC = kColourBlack16;
    s.fill1Shininess = 0;
    s.fill1Mode = 1;

    std::memset(s.fill2Source, 0, kSourceSize);
    s.fill2ColourA = kColourGrey122;
    s.fill2ColourB = kColourWhite235;
    s.fill2ColourC = kColourBlack16;
    s.fill2Shininess = 25;
    s.fill2Mode = 1;

    std::memset(s.texture1Source, 0, kSourceSize);
    s.texture1ScaleX = s.texture1ScaleY = 100;
    s.texture1Depth = 255;
    s.texture1HeightMax = 255;
    s.texture1HeightMin = 0;
    s.texture1On = 0;
    s.texture1Type = 0;
    s.texture1Invert = 0;
    s.texture1OffsetX = s.texture1OffsetY = 0;

    std::memset(s.texture2Source, 0, kSourceSize);
    s.texture2ScaleX = s.texture2ScaleY = 100;
    s.texture2Depth = 255;
    s.texture2HeightMax = 255;
    s.texture2HeightMin = 0;
    s.texture2On = 0;
    s.texture2Type = 0;
    s.texture2Invert = 0;
    s.texture2OffsetX = s.texture2OffsetY = 0;

    s.glowColour1 = kColourGlowInner;
    s.glowColour2 = kColourGlowOuter;
    s.shadowColour = kColourBlack16;
}

bool buildHomePath(const char *name, char (&out)[kPathCapacity]) {
    out[0] = 0;
    const char *home = std::getenv("VXHOME");
    if (!home || !name) return false;
    const size_t homeLength = std::strlen(home), nameLength = std::strlen(name);
    if (homeLength + nameLength >= kPathCapacity) return false;
    std::memcpy(out, home, homeLength);
    std::memcpy(out + homeLength, name, nameLength + 1);
    return true;
}

bool readSettingsFrom(const char *path) {
    std::FILE *file = std::fopen(path, "rb");
    if (!file) return false;
    // A short file replaces only the leading bytes it holds.
    size_t read = std::fread(&settings, 1, kSettingsSize, file);
    std::fclose(file);
    return read > 0;
}

bool writeSettingsTo(const char *path) {
    // Written to a new file beside the target and renamed over it once
    // complete, so that a failed write never loses the previous file. The
    // temporary file is created exclusively under a fresh name, so a link
    // planted under that name is never followed; a target that is a
    // symbolic link is replaced by a regular file, never written through.
    constexpr char kSuffix[] = ".new-XXXXXX";
    char temporary[kPathCapacity + sizeof kSuffix];
    const size_t length = std::strlen(path);
    if (length + sizeof kSuffix > sizeof temporary) return false;
    std::memcpy(temporary, path, length);
    std::memcpy(temporary + length, kSuffix, sizeof kSuffix);
    const int fd = ::mkstemp(temporary);
    if (fd < 0) return false;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    std::FILE *file = ::fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        ::unlink(temporary);
        return false;
    }
    bool complete = std::fwrite(&settings, kSettingsSize, 1, file) == 1;
    complete = (std::fclose(file) == 0) && complete;
    if (!complete || std::rename(temporary, path) != 0) {
        ::unlink(temporary);
        return false;
    }
    return true;
}

void readSettingsFile() {
    char path[kPathCapacity];
    if (buildHomePath(operatorState.settingsName, path)) readSettingsFrom(path);
}

bool writeSettingsFile() {
    char path[kPathCapacity];
    return buildHomePath(operatorState.settingsName, path) && writeSettingsTo(path);
}

} // namespace lustra
