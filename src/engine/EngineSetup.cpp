// Engine set-up and tear-down: geometry, planes and tables for the frame,
// the metal environment pattern and the mask analysis.
#include "engine/Engine.h"

#include "engine/Blend.h"
#include "engine/BufferRecycler.h"
#include "engine/Scratch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lustra {

EngineState engine;

ScratchAllocator scratchAllocator = [](size_t bytes) { return std::malloc(bytes); };

namespace {

constexpr size_t kPatternBytes = 65536;

// A buffer of `count` elements (at least one, so that an empty frame
// dimension never looks like an allocation failure), zeroed unless the
// caller knows that every element is written before it is read.
// Bytes of the buffers the set-up took (see engineBufferBytes).
size_t setupBytes = 0;

template <typename T>
bool allocate(T *&pointer, size_t count, BufferContents contents = BufferContents::zeroed) {
    const size_t bytes = (count ? count : 1) * sizeof(T);
    pointer = static_cast<T *>(takeBuffer(bytes, contents));
    if (pointer) setupBytes += bytes;
    return pointer != nullptr;
}

template <typename T> void release(T *&pointer) {
    giveBackBuffer(const_cast<void *>(static_cast<const void *>(pointer)));
    pointer = nullptr;
}

// The planes of a picture texture come from the heap (the texture stage
// allocates them at the picture's size).
template <typename T> void releasePicturePlane(T *&pointer) {
    std::free(pointer);
    pointer = nullptr;
}

bool allocateBuffers() {
    const size_t w = engine.frameWidth, h = engine.frameHeight;
    const size_t frame = w * h;
    const size_t padded = size_t(engine.paddedWidth) * engine.paddedHeight;
    const size_t stamp = size_t(engine.stampSpan + 1) * size_t(engine.stampSpan + 1);
    const size_t sums = 2 * size_t(engine.maxSide + engine.stampSpan);
    bool ok = allocate(engine.rowOffset, h) &&
              allocate(engine.paddedRowOffset, engine.paddedHeight) &&
              allocate(engine.cosineRamp, 256) && allocate(engine.metalTexture, kPatternBytes);
    for (int t = 0; t < 2 && ok; ++t)
        ok = allocate(engine.textureHeight[t], kPatternBytes) &&
             allocate(engine.textureSlopeX[t], kPatternBytes) &&
             allocate(engine.textureSlopeY[t], kPatternBytes);
    ok = ok && allocate(engine.colFracs, w + 1) && allocate(engine.colFracs2, w + 1) &&
         allocate(engine.rowFracs, h + 1) && allocate(engine.rowFracs2, h + 1) &&
         allocate(engine.colCoords, w + 1) && allocate(engine.colCoords2, w + 1) &&
         allocate(engine.rowCoords, h + 1) && allocate(engine.rowCoords2, h + 1) &&
         // A map is read only after its stage has written every pixel, and
         // only the first edgeCount entries of the edge list are read.
         allocate(engine.imageMap1, frame, BufferContents::unspecified) &&
         allocate(engine.imageMap2, frame, BufferContents::unspecified) &&
         allocate(engine.edgeX, frame / 2, BufferContents::unspecified) &&
         allocate(engine.edgeY, frame / 2, BufferContents::unspecified) &&
         allocate(engine.stampMax, frame) && allocate(engine.rawSlopeX, frame) &&
         allocate(engine.rawSlopeY, frame) && allocate(engine.slopeX, frame) &&
         allocate(engine.slopeY, frame) && allocate(engine.texturedSlopeX1, frame) &&
         allocate(engine.texturedSlopeY1, frame) && allocate(engine.texturedSlopeX2, frame) &&
         allocate(engine.texturedSlopeY2, frame) && allocate(engine.glowMap, frame) &&
         allocate(engine.shadowMap, padded) && allocate(engine.bevelStampHeight, stamp) &&
         allocate(engine.bevelStampSlopeX, stamp) && allocate(engine.bevelStampSlopeY, stamp) &&
         allocate(engine.glowStamp, stamp) &&
         allocate(engine.blurKernel, size_t(engine.stampSpan + 1)) &&
         allocate(engine.columnSums, sums) && allocate(engine.columnSumsY, sums);
    engine.edgeCapacity = static_cast<int32_t>(frame / 2);
    engine.columnSumsCount = static_cast<int32_t>(sums);
    return ok;
}

void buildTables() {
    for (int32_t y = 0; y < engine.frameHeight; ++y) engine.rowOffset[y] = y * engine.frameWidth;
    for (int32_t y = 0; y < engine.paddedHeight; ++y)
        engine.paddedRowOffset[y] = y * engine.paddedWidth;
    for (int32_t i = 0; i < 256; ++i) {
        // 1 at i = 0, 99 at 64, 181 at 128, 236 at 192, 255 at 255.
        engine.cosineRamp[i] = static_cast<uint8_t>(255.0 * std::cos((255 - i) * 1.57079635 / 256));
    }
}

bool loadMetalPattern() {
    if (!engineDataPath("metal.pat")) return false;
    std::FILE *file = std::fopen(engine.dataPath, "rb");
    if (!file) return false;
    // A short file is not detected: the bytes not read stay zero.
    size_t read = std::fread(engine.metalTexture, kPatternBytes, 1, file);
    (void)read;
    std::fclose(file);
    return true;
}

// Width of the runs that analyseMask tests as a whole.
constexpr int32_t kQuietRun = 64;

// Edge pixels (transparent pixels with a non-zero 4-neighbour inside the
// frame), the bounding box of edge and covered pixels, and the full test.
// Most of a frame is empty or inside the shape: a run of pixels that holds
// nothing, and whose neighbours inside the frame hold nothing either, has
// neither covered nor edge pixels, and a run covered throughout has no edge
// pixels; such runs are taken as a whole.
void analyseMask() {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    engine.boundsMinX = w - 1;
    engine.boundsMinY = h - 1;
    engine.boundsMaxX = 0;
    engine.boundsMaxY = 0;
    engine.edgeCount = 0;
    engine.maskFull = 0;
    bool sawTransparent = false, sawOpaque = false;
    auto widenBounds = [](int32_t x, int32_t y) {
        if (x < engine.boundsMinX) engine.boundsMinX = x;
        if (y < engine.boundsMinY) engine.boundsMinY = y;
        if (x > engine.boundsMaxX) engine.boundsMaxX = x;
        if (y > engine.boundsMaxY) engine.boundsMaxY = y;
    };
    for (int32_t y = 0; y < h; ++y) {
        pollAbort(y);
        const uint8_t *row = engine.mask + engine.paddedRowOffset[y];
        const uint8_t *above = y > 0 ? row - engine.paddedWidth : nullptr;
        const uint8_t *below = y < h - 1 ? row + engine.paddedWidth : nullptr;
        int32_t x = 0;
        while (x < w) {
            const int32_t end = x + kQuietRun < w ? x + kQuietRun : w;
            // The run with its left and right neighbours, and the rows above
            // and below it, where they lie inside the frame.
            const int32_t first = x > 0 ? x - 1 : 0, last = end < w ? end + 1 : w;
            if (!anyNonZero(row + first, last - first) &&
                !(above && anyNonZero(above + x, end - x)) &&
                !(below && anyNonZero(below + x, end - x))) {
                sawTransparent = true;
                x = end;
                continue;
            }
            if (allNonZero(row + x, end - x)) {
                sawOpaque = true;
                widenBounds(x, y);
                widenBounds(end - 1, y);
                x = end;
                continue;
            }
            for (; x < end; ++x) {
                if (row[x] != 0) {
                    sawOpaque = true;
                    widenBounds(x, y);
                    continue;
                }
                sawTransparent = true;
                int32_t sum = 0;
                if (x < w - 1) sum += row[x + 1];
                if (below) sum += below[x];
                if (x > 0) sum += row[x - 1];
                if (above) sum += above[x];
                if (sum == 0 || engine.edgeCount >= engine.edgeCapacity) continue;
                engine.edgeX[engine.edgeCount] = x;
                engine.edgeY[engine.edgeCount] = y;
                widenBounds(x, y);
                ++engine.edgeCount;
            }
        }
    }
    if (sawOpaque && !sawTransparent) {
        engine.maskFull = 1;
        const size_t frame = size_t(w) * h;
        std::memset(engine.stampMax, 0, frame);
        std::memset(engine.rawSlopeX, 0, frame);
        std::memset(engine.rawSlopeY, 0, frame);
        std::memset(engine.slopeX, 0, frame);
        std::memset(engine.slopeY, 0, frame);
        std::memset(engine.texturedSlopeX1, 0, frame);
        std::memset(engine.texturedSlopeY1, 0, frame);
    }
}

// Decides whether the frame has a far region (see EngineState::farFused) and
// where its near box lies: the bounds of the covered pixels grown by the
// widest reach of a stamp (border, glow width, shadow softness) plus one,
// together with the same box moved against the shadow's displacement, since
// the shading reads the shadow of pixel x at x + displacement. Only a plain
// background makes the picture there independent of the title; the image
// map stage withdraws the far region when map 2 is resampled otherwise than
// one pixel per pixel.
void decideFarRegion(const RenderJob &job) {
    engine.farFused = 0;
    engine.farMapPixels = nullptr;
    engine.farMapWidth = 0;
    engine.nearBox = {0, 0, 0, 0};
    if (job.fuseFarRegion != 1 || engine.maskFull == 1 || engine.edgeCount == 0) return;
    const uint8_t mode = job.fill[1].mode;
    if (mode != kFillPlain && mode <= kFillPicture) return;
    const int64_t w = engine.frameWidth, h = engine.frameHeight;
    int64_t grow = engine.border;
    if (job.glow.width > grow) grow = job.glow.width;
    if (job.shadow.softness > grow) grow = job.shadow.softness;
    ++grow;
    int64_t x0 = int64_t(engine.boundsMinX) - grow, x1 = int64_t(engine.boundsMaxX) + 1 + grow;
    int64_t y0 = int64_t(engine.boundsMinY) - grow, y1 = int64_t(engine.boundsMaxY) + 1 + grow;
    if (job.shadow.on == 1) {
        const int64_t shiftX = int64_t(job.shadow.distance) * job.offsetX / 100;
        const int64_t shiftY = int64_t(job.shadow.distance) * job.offsetY / 100;
        x0 = std::min(x0, x0 - shiftX);
        x1 = std::max(x1, x1 - shiftX);
        y0 = std::min(y0, y0 - shiftY);
        y1 = std::max(y1, y1 - shiftY);
    }
    x0 = std::max<int64_t>(x0, 0);
    y0 = std::max<int64_t>(y0, 0);
    x1 = std::min(x1, w);
    y1 = std::min(y1, h);
    if (x0 >= x1 || y0 >= y1) x0 = x1 = y0 = y1 = 0;
    // A near box that spans the frame leaves nothing to fuse; one that
    // covers more than half of it leaves too little for the one pass to
    // win back what it costs (1 fuses only then, 2 always).
    if (x0 == 0 && y0 == 0 && x1 == w && y1 == h) return;
    if (job.fuseFarRegion == 1 && 2 * (x1 - x0) * (y1 - y0) > w * h) return;
    engine.nearBox = {int32_t(x0), int32_t(x1), int32_t(y0), int32_t(y1)};
    engine.farFused = 1;
}

} // namespace

void pollAbort(int32_t counter) {
    if ((counter & 16) && engine.abortPoll) engine.abortPoll();
}

PixelRect maskBounds(int32_t grow) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    return {engine.boundsMinX - grow > 0 ? engine.boundsMinX - grow : 0,
            engine.boundsMaxX + 1 + grow < w ? engine.boundsMaxX + 1 + grow : w,
            engine.boundsMinY - grow > 0 ? engine.boundsMinY - grow : 0,
            engine.boundsMaxY + 1 + grow < h ? engine.boundsMaxY + 1 + grow : h};
}

bool engineDataPath(const char *name) {
    engine.dataPath[0] = 0;
    const size_t base = std::strlen(engine.dataDirectory);
    const size_t length = std::strlen(name);
    if (base == 0 || base + length >= sizeof engine.dataPath) return false;
    std::memcpy(engine.dataPath, engine.dataDirectory, base);
    std::memcpy(engine.dataPath + base, name, length + 1);
    return true;
}

int32_t engineSetup(const RenderJob &job) {
    engine.farFused = 0;
    engine.border = job.border;
    engine.stampSpan = 2 * engine.border;
    engine.frameWidth = static_cast<uint16_t>(job.width);
    engine.frameHeight = static_cast<uint16_t>(job.height);
    engine.paddedMask = job.paddedMask;
    engine.framePixels = job.pixels;
    engine.abortPoll = job.abortPoll;
    // A directory that does not fit the path buffer is refused like a missing
    // one: no data file opens.
    engine.dataDirectory[0] = 0;
    if (job.dataDirectory && std::strlen(job.dataDirectory) < sizeof engine.dataDirectory)
        std::strcpy(engine.dataDirectory, job.dataDirectory);

    engine.maxSide =
        engine.frameWidth > engine.frameHeight ? engine.frameWidth : engine.frameHeight;
    engine.paddedWidth = static_cast<uint16_t>(engine.frameWidth + engine.stampSpan);
    engine.paddedHeight = static_cast<uint16_t>(engine.frameHeight + engine.stampSpan);
    setupBytes = 0;
    if (!allocateBuffers()) {
        engineTeardown();
        return 2;
    }
    engine.mask = engine.paddedMask + engine.border * (engine.paddedWidth + 1);
    buildTables();

    if (!loadMetalPattern()) return 1;

    analyseMask();
    // The final shading lights a texture that is on until its stage finds
    // it unusable, and tints with a map only once its stage resampled one.
    for (int i = 0; i < 2; ++i) {
        engine.textureOn[i] = job.texture[i].on;
        engine.mapTints[i] = 0;
    }
    decideFarRegion(job);
    return 0;
}

size_t engineBufferBytes() {
    return setupBytes;
}

int32_t engineTeardown() {
    release(engine.rowOffset);
    release(engine.paddedRowOffset);
    release(engine.cosineRamp);
    release(engine.metalTexture);
    for (int t = 0; t < 2; ++t) {
        release(engine.textureHeight[t]);
        release(engine.textureSlopeX[t]);
        release(engine.textureSlopeY[t]);
        PictureTexture &picture = engine.pictureTexture[t];
        releasePicturePlane(picture.heights);
        releasePicturePlane(picture.gradientX);
        releasePicturePlane(picture.gradientY);
        picture.width = picture.height = 0;
    }
    release(engine.colFracs);
    release(engine.colFracs2);
    release(engine.rowFracs);
    release(engine.rowFracs2);
    release(engine.colCoords);
    release(engine.colCoords2);
    release(engine.rowCoords);
    release(engine.rowCoords2);
    release(engine.imageMap1);
    release(engine.imageMap2);
    release(engine.edgeX);
    release(engine.edgeY);
    release(engine.stampMax);
    release(engine.rawSlopeX);
    release(engine.rawSlopeY);
    release(engine.slopeX);
    release(engine.slopeY);
    release(engine.texturedSlopeX1);
    release(engine.texturedSlopeY1);
    release(engine.texturedSlopeX2);
    release(engine.texturedSlopeY2);
    release(engine.glowMap);
    release(engine.shadowMap);
    release(engine.bevelStampHeight);
    release(engine.bevelStampSlopeX);
    release(engine.bevelStampSlopeY);
    release(engine.glowStamp);
    release(engine.blurKernel);
    release(engine.columnSums);
    release(engine.columnSumsY);
    engine.edgeCapacity = 0;
    engine.edgeCount = 0;
    engine.columnSumsCount = 0;
    engine.mask = nullptr;
    engine.paddedMask = nullptr;
    engine.framePixels = nullptr;
    engine.farFused = 0;
    engine.farMapPixels = nullptr;
    return 0;
}

} // namespace lustra
