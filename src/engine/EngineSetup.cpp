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

// Bytes of the buffers the set-up took (see engineBufferBytes).
size_t setupBytes = 0;

// Entries of each edge list to begin with; set when the lists could not grow.
constexpr size_t kFirstEdgeRoom = size_t(1) << 16;
bool edgeListsFailed = false;

// A buffer of `count` elements (at least one, so that an empty frame
// dimension never looks like an allocation failure), zeroed unless the
// caller knows that every element is written before it is read.
template <typename T>
bool allocate(T *&pointer, size_t count, BufferContents contents = BufferContents::zeroed) {
    const size_t bytes = (count ? count : 1) * sizeof(T);
    pointer = static_cast<T *>(takeBuffer(bytes, contents));
    if (pointer) setupBytes += bytes;
    return pointer != nullptr;
}

// A plane that only a stage which is on reads; left out (null) otherwise.
template <typename T>
bool allocateIf(bool wanted, T *&pointer, size_t count, BufferContents contents) {
    pointer = nullptr;
    return !wanted || allocate(pointer, count, contents);
}

template <typename T> void release(T *&pointer) {
    giveBackBuffer(const_cast<void *>(static_cast<const void *>(pointer)));
    pointer = nullptr;
}

// The planes of a picture texture are buffers that the texture stage takes
// at the picture's size; they go back for reuse like the set-up's own.
template <typename T> void releasePicturePlane(T *&pointer) {
    release(pointer);
}

// With a single run (RenderJob::singleRun) the planes of the stages that are
// off are left out and no plane is zeroed here: clearUnwrittenParts clears
// what the stages read without writing it. Otherwise every plane is there,
// zeroed, whatever the job says.
bool allocateBuffers(const RenderJob &job) {
    const size_t w = engine.frameWidth, h = engine.frameHeight;
    const size_t frame = w * h;
    const size_t padded = size_t(engine.paddedWidth) * engine.paddedHeight;
    const size_t stamp = size_t(engine.stampSpan + 1) * size_t(engine.stampSpan + 1);
    const size_t sums = 2 * size_t(engine.maxSide + engine.stampSpan);
    // The edge lists start with room for a title's edges and grow while the
    // analysis finds more (see growEdgeLists).
    const size_t firstEdgeRoom = std::min(frame / 2, kFirstEdgeRoom);
    const bool all = job.singleRun != 1;
    const BufferContents planes = all ? BufferContents::zeroed : BufferContents::unspecified;
    const bool bevel = all || job.bevel.on == 1, glow = all || job.glow.on == 1;
    const bool shadow = all || job.shadow.on == 1;
    const bool texture1 = all || job.texture[0].on == 1, texture2 = all || job.texture[1].on == 1;
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
         // A map is read only after its stage has written every pixel (a
         // single run leaves the map planes to their stages), and only the
         // first edgeCount entries of the edge list are read.
         allocateIf(all, engine.imageMap1, frame, BufferContents::unspecified) &&
         allocateIf(all, engine.imageMap2, frame, BufferContents::unspecified) &&
         allocate(engine.edgeX, firstEdgeRoom, BufferContents::unspecified) &&
         allocate(engine.edgeY, firstEdgeRoom, BufferContents::unspecified) &&
         allocate(engine.stampMax, frame, planes) &&
         allocateIf(bevel, engine.rawSlopeX, frame, planes) &&
         allocateIf(bevel, engine.rawSlopeY, frame, planes) &&
         allocate(engine.slopeX, frame, planes) && allocate(engine.slopeY, frame, planes) &&
         allocateIf(texture1, engine.texturedSlopeX1, frame, planes) &&
         allocateIf(texture1, engine.texturedSlopeY1, frame, planes) &&
         allocateIf(texture2, engine.texturedSlopeX2, frame, planes) &&
         allocateIf(texture2, engine.texturedSlopeY2, frame, planes) &&
         allocateIf(glow, engine.glowMap, frame, planes) &&
         allocateIf(shadow, engine.shadowMap, padded, planes) &&
         allocate(engine.bevelStampHeight, stamp) && allocate(engine.bevelStampSlopeX, stamp) &&
         allocate(engine.bevelStampSlopeY, stamp) && allocate(engine.glowStamp, stamp) &&
         allocate(engine.blurKernel, size_t(engine.stampSpan + 1)) &&
         allocate(engine.columnSums, sums) && allocate(engine.columnSumsY, sums);
    // Without the glow its plane is never read, but the final shading still
    // points into it row by row: it borrows stampMax's storage.
    if (ok && !glow) engine.glowMap = engine.stampMax;
    engine.edgeCapacity = static_cast<int32_t>(firstEdgeRoom);
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

// Doubles the room of the edge lists, up to floor(W x H / 2) entries, the
// most there can be; false when they have that room already or the memory
// cannot be had (edgeListsFailed is then set).
bool growEdgeLists() {
    const size_t most = size_t(engine.frameWidth) * engine.frameHeight / 2;
    const size_t held = size_t(engine.edgeCapacity);
    if (edgeListsFailed || held >= most) return false;
    const size_t room = std::min(most, 2 * held);
    int32_t *x = nullptr, *y = nullptr;
    if (!allocate(x, room, BufferContents::unspecified) ||
        !allocate(y, room, BufferContents::unspecified)) {
        release(x);
        release(y);
        edgeListsFailed = true;
        return false;
    }
    std::memcpy(x, engine.edgeX, sizeof(int32_t) * size_t(engine.edgeCount));
    std::memcpy(y, engine.edgeY, sizeof(int32_t) * size_t(engine.edgeCount));
    release(engine.edgeX);
    release(engine.edgeY);
    setupBytes -= 2 * sizeof(int32_t) * (held ? held : 1);
    engine.edgeX = x, engine.edgeY = y;
    engine.edgeCapacity = static_cast<int32_t>(room);
    return true;
}

// Whether all `count` bytes of the row are 0, eight at a time.
bool rowHoldsNothing(const uint8_t *row, int32_t count) {
    uint64_t any = 0;
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) any |= eightBytes(row + i);
    for (; i < count; ++i) any |= row[i];
    return any == 0;
}

// Bit i set where byte i of the eight bytes at p is not 0: the high bit of
// each non-zero byte, moved down to bit 8i and gathered into the top byte by
// one multiplication (the partial products never overlap, so nothing
// carries).
inline uint64_t nonZeroBits8(const uint8_t *p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const uint64_t v = eightBytes(p); // byte k in bits 8k .. 8k + 7
#else
    uint64_t v = 0;
    for (int k = 0; k < 8; ++k) v |= uint64_t(p[k]) << (8 * k);
#endif
    const uint64_t low7 = 0x7F7F7F7F7F7F7F7Fu;
    const uint64_t high = (((v & low7) + low7) | v) & ~low7;
    return (high >> 7) * 0x0102040810204080u >> 56;
}

// Bit i set where byte i of the n bytes at p (n at most 64) is not 0.
inline uint64_t nonZeroBits(const uint8_t *p, int32_t n) {
    uint64_t bits = 0;
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) bits |= nonZeroBits8(p + i) << i;
    for (; i < n; ++i) bits |= uint64_t(p[i] != 0) << i;
    return bits;
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
    engine.edgeCount = 0;
    engine.maskFull = 0;
    // The bounds and the edge list's count are kept here and stored at the
    // end: the stores into the edge list could otherwise change them, as far
    // as the compiler knows, and every pixel would reload them.
    int32_t minX = w - 1, minY = h - 1, maxX = 0, maxY = 0;
    int32_t edgeCount = 0, edgeCapacity = engine.edgeCapacity;
    int32_t *edgeX = engine.edgeX, *edgeY = engine.edgeY;
    bool sawTransparent = false, sawOpaque = false;
    auto widenBounds = [&](int32_t x, int32_t y) {
        if (x < minX) minX = x;
        if (y < minY) minY = y;
        if (x > maxX) maxX = x;
        if (y > maxY) maxY = y;
    };
    // Rows that hold nothing, each found once as the scan moves down (rows
    // beyond the frame count as holding nothing): a row that holds nothing
    // between two such rows has no covered or edge pixels.
    const auto holdsNothing = [&](int32_t y) {
        return y < 0 || y >= h || rowHoldsNothing(engine.mask + engine.paddedRowOffset[y], w);
    };
    bool aboveEmpty = true, hereEmpty = holdsNothing(0);
    for (int32_t y = 0; y < h; ++y) {
        pollAbort(y);
        const bool belowEmpty = holdsNothing(y + 1);
        const bool quietRow = aboveEmpty && hereEmpty && belowEmpty;
        aboveEmpty = hereEmpty, hereEmpty = belowEmpty;
        if (quietRow) {
            if (w > 0) sawTransparent = true;
            continue;
        }
        const uint8_t *row = engine.mask + engine.paddedRowOffset[y];
        const uint8_t *above = y > 0 ? row - engine.paddedWidth : nullptr;
        const uint8_t *below = y < h - 1 ? row + engine.paddedWidth : nullptr;
        int32_t x = 0;
        while (x < w) {
            const int32_t end = x + kQuietRun < w ? x + kQuietRun : w;
            // The run with its left and right neighbours, and the rows above
            // and below it, where they lie inside the frame.
            // (Whole runs are read as eight words of eight bytes.)
            const bool whole = end - x == kQuietRun;
            const int32_t first = x > 0 ? x - 1 : 0, last = end < w ? end + 1 : w;
            const bool rowHolds =
                whole ? anyNonZero<kQuietRun>(row + x) || row[first] != 0 || row[last - 1] != 0
                      : anyNonZero(row + first, last - first);
            const auto holds = [&](const uint8_t *line) {
                return line &&
                       (whole ? anyNonZero<kQuietRun>(line + x) : anyNonZero(line + x, end - x));
            };
            if (!rowHolds && !holds(above) && !holds(below)) {
                sawTransparent = true;
                x = end;
                continue;
            }
            if (whole ? allNonZero<kQuietRun>(row + x) : allNonZero(row + x, end - x)) {
                sawOpaque = true;
                widenBounds(x, y);
                widenBounds(end - 1, y);
                x = end;
                continue;
            }
            // Inside a run, a bit per pixel: covered pixels, and transparent
            // ones with a covered 4-neighbour inside the frame (the edges,
            // taken in increasing columns).
            const int32_t n = end - x;
            const uint64_t inRun = n == 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1;
            const uint64_t covered = nonZeroBits(row + x, n);
            uint64_t near = covered << 1 | covered >> 1;
            if (x > 0 && row[x - 1] != 0) near |= 1;
            if (end < w && row[end] != 0) near |= uint64_t(1) << (n - 1);
            if (above) near |= nonZeroBits(above + x, n);
            if (below) near |= nonZeroBits(below + x, n);
            const uint64_t transparent = ~covered & inRun;
            if (covered != 0) {
                sawOpaque = true;
                widenBounds(x + __builtin_ctzll(covered), y);
                widenBounds(x + 63 - __builtin_clzll(covered), y);
            }
            if (transparent != 0) sawTransparent = true;
            for (uint64_t edges = transparent & near; edges != 0; edges &= edges - 1) {
                const int32_t at = x + __builtin_ctzll(edges);
                if (edgeCount >= edgeCapacity) {
                    engine.edgeCount = edgeCount;
                    if (!growEdgeLists()) continue;
                    edgeCapacity = engine.edgeCapacity;
                    edgeX = engine.edgeX;
                    edgeY = engine.edgeY;
                }
                edgeX[edgeCount] = at;
                edgeY[edgeCount] = y;
                widenBounds(at, y);
                ++edgeCount;
            }
            x = end;
        }
    }
    engine.boundsMinX = minX;
    engine.boundsMinY = minY;
    engine.boundsMaxX = maxX;
    engine.boundsMaxY = maxY;
    engine.edgeCount = edgeCount;
    if (sawOpaque && !sawTransparent) {
        engine.maskFull = 1;
        const size_t frame = size_t(w) * h;
        for (void *plane :
             {static_cast<void *>(engine.stampMax), static_cast<void *>(engine.rawSlopeX),
              static_cast<void *>(engine.rawSlopeY), static_cast<void *>(engine.slopeX),
              static_cast<void *>(engine.slopeY), static_cast<void *>(engine.texturedSlopeX1),
              static_cast<void *>(engine.texturedSlopeY1)})
            if (plane) std::memset(plane, 0, frame);
    }
}

// Sets the plane to 0 in the rectangle.
void clearRect(void *plane, const PixelRect &r) {
    if (r.x1 <= r.x0) return;
    for (int32_t y = r.y0; y < r.y1; ++y)
        std::memset(static_cast<uint8_t *>(plane) + engine.rowOffset[y] + r.x0, 0,
                    size_t(r.x1 - r.x0));
}

// With a single run no plane comes zeroed: this clears the parts that the
// stages of this job read without writing them first. Everything else is
// written before it is read: the bevel clears and stamps the covered pixels
// and gives every covered pixel its slopes, a texture writes the pixels
// that the shading reads from its plane, the glow and the shadow write or
// clear their whole plane once there is an edge, and the slopes of the
// transparent pixels are read by no one.
// - Without the bevel the covered pixels (all inside maskBounds(0)) have no
//   slopes and no stamp height: the shading and texture 1 read the slopes
//   there, the glow profile the stamp heights of the covered pixels that
//   are not fully opaque.
// - An empty mask (no edge, not full): the glow and the shadow stage write
//   nothing, and the shading reads both planes everywhere.
// (A full mask has its planes cleared by analyseMask.)
void clearUnwrittenParts(const RenderJob &job) {
    if (job.singleRun != 1 || engine.maskFull == 1) return;
    const size_t frame = size_t(engine.frameWidth) * engine.frameHeight;
    if (engine.edgeCount == 0) {
        if (job.glow.on == 1) std::memset(engine.glowMap, 0, frame);
        if (job.shadow.on == 1)
            std::memset(engine.shadowMap, 0, size_t(engine.paddedWidth) * engine.paddedHeight);
        return;
    }
    if (job.bevel.on != 1) {
        const PixelRect covered = maskBounds(0);
        clearRect(engine.stampMax, covered);
        clearRect(engine.slopeX, covered);
        clearRect(engine.slopeY, covered);
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
    engine.mapViewed[0] = engine.mapViewed[1] = 0;
    if (!allocateBuffers(job)) {
        engineTeardown();
        return 2;
    }
    engine.mask = engine.paddedMask + engine.border * (engine.paddedWidth + 1);
    buildTables();

    if (!loadMetalPattern()) return 1;

    edgeListsFailed = false;
    analyseMask();
    if (edgeListsFailed) {
        engineTeardown();
        return 2;
    }
    // The final shading lights a texture that is on until its stage finds
    // it unusable, and tints with a map only once its stage resampled one.
    for (int i = 0; i < 2; ++i) {
        engine.textureOn[i] = job.texture[i].on;
        engine.mapTints[i] = 0;
    }
    decideFarRegion(job);
    clearUnwrittenParts(job);
    return 0;
}

size_t engineBufferBytes() {
    return setupBytes;
}

bool takeMapPlane(int32_t which) {
    uint32_t *&plane = which == 0 ? engine.imageMap1 : engine.imageMap2;
    if (plane && engine.mapViewed[which] != 1) return true;
    engine.mapViewed[which] = 0;
    return allocate(plane, size_t(engine.frameWidth) * engine.frameHeight,
                    BufferContents::unspecified);
}

int32_t engineTeardown() {
    if (engine.glowMap == engine.stampMax) engine.glowMap = nullptr; // borrowed storage
    for (int i = 0; i < 2; ++i)
        if (engine.mapViewed[i] == 1) (i == 0 ? engine.imageMap1 : engine.imageMap2) = nullptr;
    engine.mapViewed[0] = engine.mapViewed[1] = 0;
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
