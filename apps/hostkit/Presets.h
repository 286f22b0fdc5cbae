// The library of looks: preset files (raw 824-byte settings records) found
// by name, first in the user's preset folder VXHOME/programs/lustra/ (where
// the dialog saves them and `lustra presets import` puts them), then among
// the looks shipped in the installation's data directory (presets/).
//
// The shipped looks are also installed into VXHOME/programs/lustra/looks/,
// so that the dialog's Presets... Load requester, which opens in
// VXHOME/programs/lustra/, lists them.
#pragma once

#include "SettingsRecord.h"

#include <optional>
#include <string>
#include <vector>

namespace lustra::cli {

// Where presets are looked for; either folder may be "" (none).
struct PresetFolders {
    std::string user;    // VXHOME/programs/lustra
    std::string shipped; // DATA/presets
};

// The folders for a VXHOME and an installation data directory ("" when
// there is none: then the looks installed into VXHOME/programs/lustra/looks
// stand in for the shipped folder).
PresetFolders presetFolders(const std::string &home, const std::string &dataDirectory);

struct Preset {
    std::string name; // the file name without ".prf"
    std::string path;
    bool shipped = false;
    bool hidesShipped = false; // a user preset of the same name as a shipped one
    std::string description;   // shipped looks: one line from the folder's index
};

// Every preset, sorted by name; a user preset and a shipped one of the same
// name both appear (the user's first, marked hidesShipped).
std::vector<Preset> listPresets(const PresetFolders &folders);

// The preset that a name (with or without ".prf") selects: the user's, else
// the shipped one; none when neither exists.
std::optional<Preset> findPreset(const PresetFolders &folders, const std::string &name);

// As findPreset, but an unknown or malformed name throws UsageError listing
// the available presets.
Preset resolvePreset(const PresetFolders &folders, const std::string &name);

// "gold" for "gold", "gold.prf" or "dir/gold.prf"; throws UsageError for a
// name that cannot be a preset file name (empty, '/', "." or "..").
std::string presetName(const std::string &name);

// The file of the preset `name` for a render: the user's folder under the
// VXHOME lustra uses, then the installation's shipped looks. Throws
// UsageError listing the available presets.
std::string presetFileForRender(const std::string &name);

// The names of the available presets, comma-separated (for messages).
std::string availablePresets(const PresetFolders &folders);

// Installs the shipped looks of `shippedFolder` into `looksFolder` (created
// when missing): a look is copied when it is missing or still holds what
// lustra installed last time (recorded in the folder's ".installed" list),
// and removed when it is no longer shipped and unchanged. A file the user
// changed or put there is never touched (a changed look stays as the user
// left it). Throws Failure.
void installLooks(const std::string &shippedFolder, const std::string &looksFolder);

} // namespace lustra::cli
