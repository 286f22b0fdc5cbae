// Storage for the large buffers of a render (frame buffers, source pictures,
// the work buffer and the engine's planes). A render needs dozens of
// megabytes; fresh memory from the system costs a page fault per 4 KiB on
// first touch, which at 1920 x 1080 is a large part of a frame's time. A
// buffer given back is therefore kept and handed out again to the next
// request of exactly its size; buffers that no render has asked for since the
// previous sweep are returned to the system, and cleanup returns them all.
#pragma once

#include <cstddef>

namespace lustra {

enum class BufferContents {
    zeroed,      // every byte 0, as from calloc
    unspecified, // about to be overwritten: 0 when new, otherwise earlier data
};

// A buffer of `bytes` bytes (at least 1), aligned to 64 bytes; null when the
// memory cannot be had. Release it only with giveBackBuffer.
void *takeBuffer(size_t bytes, BufferContents contents);

// Returns a buffer from takeBuffer for reuse; null is ignored.
void giveBackBuffer(void *buffer);

// Frees the kept buffers that nobody has taken since the previous sweep;
// the driver sweeps once per rendered frame.
void sweepIdleBuffers();

// Frees every kept buffer (cleanup, unload).
void releaseKeptBuffers();

// Bytes currently kept for reuse (for tests and benchmarks).
size_t keptBufferBytes();

// Bytes of the buffers taken and not yet given back, and the most there were
// at once since the last resetPeakBufferBytes (for benchmarks).
size_t takenBufferBytes();
size_t peakBufferBytes();
void resetPeakBufferBytes();

} // namespace lustra
