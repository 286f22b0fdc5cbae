// Per-call scratch memory of the stages: row buffers and footprint tables
// that a stage takes at the start of a call and frees at its end. Every
// stage that takes scratch memory has a per-pixel loop of the same filter to
// fall back on when it cannot be had; the allocation goes through a hook so
// that tests can make it fail and reach those loops.
#pragma once

#include <cstddef>
#include <cstdlib>

namespace lustra {

// The allocation function of scratch memory: std::malloc unless a test
// installs another. Memory is released with std::free.
using ScratchAllocator = void *(*)(size_t bytes);
extern ScratchAllocator scratchAllocator;

// `bytes` bytes of scratch memory, or null when they cannot be had.
inline void *takeScratch(size_t bytes) {
    return scratchAllocator(bytes);
}

} // namespace lustra
