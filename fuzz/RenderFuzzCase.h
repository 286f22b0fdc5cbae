// One render through the module driven by arbitrary bytes: frame geometry,
// host choices, render flags, scale ratio, the 824-byte settings record,
// source pictures and the title's pixels all come from the input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lustra::fuzz {

// Renders the case the bytes describe; never fails on any input.
void renderFuzzCase(const uint8_t *data, size_t size);

} // namespace lustra::fuzz
