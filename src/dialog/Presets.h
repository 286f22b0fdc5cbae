// Presets: the archives requester (load, save, delete) and the file
// requester that picks a preset file below "/programs/lustra/".
#pragma once

#include <cstdint>

namespace lustra {

// The presets button: asks what to do and does it.
void runPresetsRequester();
// Asks for a preset file (mode 1 load, 2 save, 3 delete); the chosen path,
// or null when the user cancelled.
const char *requestPresetFile(int32_t mode);
void loadPreset();
// Saves to the chosen path, with ".prf" added when it does not end so.
void savePreset();
// Whether a path ends in ".prf" (any case).
bool hasPresetSuffix(const char *path);
void deletePreset();

constexpr const char *kPresetDirectory = "/programs/lustra/";
constexpr int32_t kArchivesLoad = 4;
constexpr int32_t kArchivesSave = 5;
constexpr int32_t kArchivesDelete = 6;

} // namespace lustra
