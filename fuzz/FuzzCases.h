// The fuzz cases: each turns arbitrary bytes into one use of a parser or of
// the render path and must never fail, whatever the bytes. The libFuzzer
// targets (fuzz_main.cpp) and the regression tests that replay saved inputs
// call the same functions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lustra::fuzz {

// One render through the module: frame geometry, host choices, render
// flags, scale ratio, the 824-byte settings record, source pictures and the
// title's pixels all come from the input.
void renderFuzzCase(const uint8_t *data, size_t size);

// The bytes are the instance's settings file as the module reads it at
// set-up; a small fixed frame is then rendered with what was read.
void moduleSettingsFuzzCase(const uint8_t *data, size_t size);

// The bytes are a settings file read by lustra (`settings show`, `render
// --settings`, the frei0r `settings` parameter); every field is shown.
void recordFileFuzzCase(const uint8_t *data, size_t size);

// The bytes are FIELD=VALUE lines as `lustra settings set` and `--set`
// take them; the first byte chooses `--force`.
void settingsTextFuzzCase(const uint8_t *data, size_t size);

// The frei0r parameters: a number or switch value and the `set` string.
void frei0rParametersFuzzCase(const uint8_t *data, size_t size);

// The bytes are the resource file "lustra_ops" of the stand-in host.
void resourceFileFuzzCase(const uint8_t *data, size_t size);

// The bytes are a batch file of lustra batch (the first byte picks CSV or
// JSON and a text template); its rows become render command lines.
void batchFileFuzzCase(const uint8_t *data, size_t size);

// Keyframe text of --animate and keyframes files of --keyframes (the first
// byte picks the form and the frame rate); what parses is evaluated.
void keyframesFuzzCase(const uint8_t *data, size_t size);

} // namespace lustra::fuzz
