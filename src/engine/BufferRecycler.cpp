#include "engine/BufferRecycler.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace lustra {

namespace {

// Each buffer is preceded by a header holding its size and the address the
// heap returned; the header keeps the buffer itself aligned to 64 bytes.
constexpr size_t kAlignment = 64;
constexpr size_t kHeaderBytes = kAlignment;

struct Header {
    size_t bytes;
    void *allocation;
};

// Buffers below this size come from the heap cheaply; they are freed at once
// instead of kept.
constexpr size_t kSmallestKept = 256 * 1024;

// More kept bytes than this are never held, whatever the sweeps say.
constexpr size_t kMostKeptBytes = size_t(1) << 30;

struct KeptBuffer {
    unsigned char *data; // the buffer's address
    size_t bytes;
    bool idle; // not taken since the previous sweep
};

Header &headerOf(unsigned char *data) {
    return *reinterpret_cast<Header *>(data - kHeaderBytes);
}

void freeBuffer(unsigned char *data) {
    std::free(headerOf(data).allocation);
}

struct Recycler {
    std::vector<KeptBuffer> kept;
    size_t keptBytes = 0;
    size_t takenBytes = 0, peakTakenBytes = 0;

    void taken(size_t bytes) {
        takenBytes += bytes;
        if (takenBytes > peakTakenBytes) peakTakenBytes = takenBytes;
    }

    ~Recycler() { releaseAll(); }

    void releaseAll() {
        for (const KeptBuffer &buffer : kept) freeBuffer(buffer.data);
        kept.clear();
        keptBytes = 0;
    }

    void drop(size_t index) {
        freeBuffer(kept[index].data);
        keptBytes -= kept[index].bytes;
        kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(index));
    }
};

Recycler recycler;

// True when all `bytes` bytes are 0 (a kept buffer that nothing wrote since
// it was last zeroed need not be cleared again).
bool allZero(const unsigned char *data, size_t bytes) {
    constexpr size_t kChunk = 256;
    size_t i = 0;
    for (; i + kChunk <= bytes; i += kChunk) {
        uint64_t any = 0;
        for (size_t k = 0; k < kChunk; k += 8) {
            uint64_t word;
            std::memcpy(&word, data + i + k, 8);
            any |= word;
        }
        if (any != 0) return false;
    }
    for (; i < bytes; ++i)
        if (data[i] != 0) return false;
    return true;
}

// A new zeroed buffer. calloc leaves the zeroing of fresh pages to the
// system, so parts of a plane that a render never touches cost nothing.
unsigned char *newBuffer(size_t bytes) {
    if (bytes > SIZE_MAX - kHeaderBytes - 2 * kAlignment) return nullptr;
    void *allocation = std::calloc(kHeaderBytes + bytes + kAlignment, 1);
    if (!allocation) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(allocation) + kHeaderBytes;
    unsigned char *data =
        reinterpret_cast<unsigned char *>((start + kAlignment - 1) / kAlignment * kAlignment);
    headerOf(data) = {bytes, allocation};
    return data;
}

} // namespace

void *takeBuffer(size_t bytes, BufferContents contents) {
    if (bytes == 0) bytes = 1;
    for (size_t i = 0; i < recycler.kept.size(); ++i) {
        if (recycler.kept[i].bytes != bytes) continue;
        unsigned char *data = recycler.kept[i].data;
        recycler.keptBytes -= bytes;
        recycler.kept.erase(recycler.kept.begin() + static_cast<std::ptrdiff_t>(i));
        if (contents == BufferContents::zeroed && !allZero(data, bytes))
            std::memset(data, 0, bytes);
        recycler.taken(bytes);
        return data;
    }
    unsigned char *data = newBuffer(bytes);
    if (data) recycler.taken(bytes);
    return data;
}

void giveBackBuffer(void *buffer) {
    if (!buffer) return;
    unsigned char *data = static_cast<unsigned char *>(buffer);
    const size_t bytes = headerOf(data).bytes;
    recycler.takenBytes -= bytes < recycler.takenBytes ? bytes : recycler.takenBytes;
    if (bytes < kSmallestKept || bytes > kMostKeptBytes) {
        freeBuffer(data);
        return;
    }
    // The oldest kept buffers make room when the limit would be passed.
    while (!recycler.kept.empty() && recycler.keptBytes + bytes > kMostKeptBytes) recycler.drop(0);
    try {
        recycler.kept.push_back({data, bytes, false});
    } catch (...) {
        freeBuffer(data); // no room to keep it: it goes back to the system
        return;
    }
    recycler.keptBytes += bytes;
}

void sweepIdleBuffers() {
    for (size_t i = recycler.kept.size(); i-- > 0;)
        if (recycler.kept[i].idle) recycler.drop(i);
    for (KeptBuffer &buffer : recycler.kept) buffer.idle = true;
}

void releaseKeptBuffers() {
    recycler.releaseAll();
}

size_t keptBufferBytes() {
    return recycler.keptBytes;
}

size_t takenBufferBytes() {
    return recycler.takenBytes;
}

size_t peakBufferBytes() {
    return recycler.peakTakenBytes;
}

void resetPeakBufferBytes() {
    recycler.peakTakenBytes = recycler.takenBytes;
}

} // namespace lustra
