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

void resetSettings() {
    // The defaults of the table of settings fields, the one the hosts use.
    lustrafex::writeSettingsDefaults(reinterpret_cast<uint8_t *>(&settings));
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
