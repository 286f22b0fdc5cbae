// The effect's settings record: every parameter of the effect in one fixed
// 824-byte little-endian layout, identical in memory, in the per-instance
// settings file and in preset files. The operator holds the record; the
// driver translates it into the render job.
#pragma once

#include "lustrafex/settings_fields.h"

#include <cstddef>
#include <cstdint>

namespace lustra {

constexpr int kSourceSize = int(lustrafex::kSettingsSourceSize);
constexpr int kSettingsSize = int(lustrafex::kSettingsRecordSize);

// The layout is the public one that the hosts share, with the table of its
// fields (include/lustrafex/settings_fields.h).
using EffectSettings = lustrafex::SettingsRecord;

static_assert(sizeof(EffectSettings) == kSettingsSize, "settings record is 824 bytes");
static_assert(offsetof(EffectSettings, bevelWidth) == 11, "layout");
static_assert(offsetof(EffectSettings, offsetX) == 28, "layout");
static_assert(offsetof(EffectSettings, map1Source) == 36, "layout");
static_assert(offsetof(EffectSettings, map1ScaleX) == 148, "layout");
static_assert(offsetof(EffectSettings, map1On) == 160, "layout");
static_assert(offsetof(EffectSettings, map2Source) == 162, "layout");
static_assert(offsetof(EffectSettings, map2OffsetX) == 280, "layout");
static_assert(offsetof(EffectSettings, fill1Source) == 290, "layout");
static_assert(offsetof(EffectSettings, fill1ColourA) == 404, "layout");
static_assert(offsetof(EffectSettings, fill1Mode) == 417, "layout");
static_assert(offsetof(EffectSettings, fill2Source) == 418, "layout");
static_assert(offsetof(EffectSettings, fill2ColourA) == 532, "layout");
static_assert(offsetof(EffectSettings, fill2Mode) == 545, "layout");
static_assert(offsetof(EffectSettings, texture1Source) == 546, "layout");
static_assert(offsetof(EffectSettings, texture1ScaleX) == 658, "layout");
static_assert(offsetof(EffectSettings, texture1Depth) == 662, "layout");
static_assert(offsetof(EffectSettings, texture1OffsetX) == 668, "layout");
static_assert(offsetof(EffectSettings, texture2Source) == 676, "layout");
static_assert(offsetof(EffectSettings, texture2ScaleX) == 788, "layout");
static_assert(offsetof(EffectSettings, texture2Depth) == 792, "layout");
static_assert(offsetof(EffectSettings, texture2OffsetX) == 800, "layout");
static_assert(offsetof(EffectSettings, glowColour1) == 808, "layout");
static_assert(offsetof(EffectSettings, shadowColour) == 816, "layout");
static_assert(offsetof(EffectSettings, previewFrame) == 820, "layout");
static_assert(offsetof(EffectSettings, previewFrameCount) == 822, "layout");

} // namespace lustra
