// The module's settings record and its files: defaults, the per-instance
// settings file and preset files. The record's layout is the driver's
// (driver/SettingsRecord.h), which translates it into the render job.
#pragma once

#include "driver/DriverInputs.h"

#include <cstddef>
#include <cstdint>

namespace lustra {

// The one settings record of the module.
extern EffectSettings settings;

// Writes the defaults into every field that has one; reserved bytes,
// previewFrame and previewFrameCount keep their values.
void resetSettings();

// Builds VXHOME followed directly by `name` into `out`. Returns false when
// VXHOME is unset or the path does not fit.
bool buildHomePath(const char *name, char (&out)[kPathCapacity]);

// Reads up to 824 bytes of VXHOME + settingsName over the record; a missing
// or unreadable file leaves the record unchanged.
void readSettingsFile();
// Writes the record to VXHOME + settingsName. Returns false when it could not
// be written (the previous file is then left as it was).
bool writeSettingsFile();
// Writes the record to the given path, replacing an existing file only once
// the new one is complete.
bool writeSettingsTo(const char *path);
// Reads up to 824 bytes of the given file over the record.
bool readSettingsFrom(const char *path);

} // namespace lustra
