// The frame plumbing of lustra render: the vectorised colour row loops
// against the per-pixel conversions (every input, every variant the
// processor runs, short rows and unaligned tails), the frame pool's
// ownership rule, and the sources that hand out frames in place.
#include "Colour.h"
#include "FramePool.h"
#include "FrameSources.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <vector>

using namespace lustra::cli;

namespace {

constexpr uint8_t kGuard = 0xA5;

TEST(ColourRows, EveryVariantConvertsEveryColourAsThePixelConversion) {
    const std::vector<const ColourRows *> variants = colourRowVariants();
    ASSERT_FALSE(variants.empty());
    EXPECT_STREQ(variants.front()->name, colourRows().name);
    // All 2^24 colours, one red value a row of 65536 pixels, the alpha byte
    // varying as well.
    std::vector<uint8_t> rgba(65536 * 4);
    std::vector<uint32_t> host(65536);
    for (const ColourRows *rows : variants) {
        SCOPED_TRACE(rows->name);
        for (int r = 0; r < 256; ++r) {
            for (int i = 0; i < 65536; ++i) {
                rgba[4 * i] = uint8_t(r);
                rgba[4 * i + 1] = uint8_t(i >> 8);
                rgba[4 * i + 2] = uint8_t(i);
                rgba[4 * i + 3] = uint8_t(i * 7 + r);
            }
            for (bool useAlpha : {true, false}) {
                rows->rgbaToHost(rgba.data(), 65536, useAlpha, host.data());
                for (int i = 0; i < 65536; ++i) {
                    const uint8_t *p = &rgba[4 * i];
                    const uint32_t expected = rgbToHost(p[0], p[1], p[2], useAlpha ? p[3] : 255);
                    ASSERT_EQ(host[i], expected) << r << "," << (i >> 8) << "," << (i & 255);
                }
            }
        }
    }
}

TEST(ColourRows, EveryVariantConvertsEveryHostPixelAsThePixelConversion) {
    std::vector<uint32_t> host(65536);
    std::vector<uint8_t> rgb(65536 * 3), rgba(65536 * 4);
    for (const ColourRows *rows : colourRowVariants()) {
        SCOPED_TRACE(rows->name);
        for (uint32_t y = 0; y < 256; ++y) {
            for (uint32_t i = 0; i < 65536; ++i) host[i] = (y << 24) | (i << 8) | ((i * 13) & 255);
            rows->hostToRgb(host.data(), 65536, rgb.data());
            rows->hostToRgba(host.data(), 65536, rgba.data());
            for (uint32_t i = 0; i < 65536; ++i) {
                uint8_t expected[3];
                hostToRgb(host[i], expected);
                ASSERT_EQ(std::memcmp(&rgb[3 * i], expected, 3), 0) << std::hex << host[i];
                ASSERT_EQ(std::memcmp(&rgba[4 * i], expected, 3), 0) << std::hex << host[i];
                ASSERT_EQ(rgba[4 * i + 3], host[i] & 255) << std::hex << host[i];
            }
        }
    }
}

// Rows of every length up to a few vector widths, starting at every byte
// offset: each pixel as the per-pixel conversion, nothing written past the
// row.
TEST(ColourRows, ShortRowsAndUnalignedTailsWriteExactlyTheirPixels) {
    for (const ColourRows *rows : colourRowVariants()) {
        SCOPED_TRACE(rows->name);
        for (int count = 0; count <= 70; ++count)
            for (int offset = 0; offset < 4; ++offset) {
                std::vector<uint8_t> rgba(size_t(count) * 4 + 8);
                for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = uint8_t(i * 37 + count);
                std::vector<uint32_t> host(size_t(count) + 3, 0xDEADBEEF);
                rows->rgbaToHost(rgba.data() + offset, count, true, host.data() + 1);
                EXPECT_EQ(host[0], 0xDEADBEEF);
                EXPECT_EQ(host[size_t(count) + 1], 0xDEADBEEF);
                for (int x = 0; x < count; ++x) {
                    const uint8_t *p = rgba.data() + offset + 4 * x;
                    ASSERT_EQ(host[size_t(x) + 1], rgbToHost(p[0], p[1], p[2], p[3])) << count;
                }

                std::vector<uint8_t> rgb(size_t(count) * 3 + 8, kGuard);
                std::vector<uint8_t> out(size_t(count) * 4 + 8, kGuard);
                rows->hostToRgb(host.data() + 1, count, rgb.data() + offset);
                rows->hostToRgba(host.data() + 1, count, out.data() + offset);
                for (int i = 0; i < offset; ++i) {
                    EXPECT_EQ(rgb[i], kGuard);
                    EXPECT_EQ(out[i], kGuard);
                }
                for (size_t i = size_t(offset) + size_t(count) * 3; i < rgb.size(); ++i)
                    EXPECT_EQ(rgb[i], kGuard) << count;
                for (size_t i = size_t(offset) + size_t(count) * 4; i < out.size(); ++i)
                    EXPECT_EQ(out[i], kGuard) << count;
                for (int x = 0; x < count; ++x) {
                    uint8_t expected[3];
                    hostToRgb(host[size_t(x) + 1], expected);
                    ASSERT_EQ(std::memcmp(rgb.data() + offset + 3 * x, expected, 3), 0);
                    ASSERT_EQ(std::memcmp(out.data() + offset + 4 * x, expected, 3), 0);
                }
            }
    }
}

// Memory that ends at an inaccessible page: a row placed flush against
// it faults if a row loop reads or writes one byte past its pixels.
class GuardedBytes {
  public:
    explicit GuardedBytes(size_t bytes) {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        span_ = (bytes + page - 1) / page * page + page;
        void *base =
            mmap(nullptr, span_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) return;
        base_ = static_cast<uint8_t *>(base);
        mprotect(base_ + span_ - page, page, PROT_NONE);
        end_ = base_ + span_ - page;
    }
    ~GuardedBytes() {
        if (base_) munmap(base_, span_);
    }
    GuardedBytes(const GuardedBytes &) = delete;
    GuardedBytes &operator=(const GuardedBytes &) = delete;
    // `bytes` bytes that end where the inaccessible page starts.
    uint8_t *last(size_t bytes) const { return end_ - bytes; }
    bool ok() const { return base_ != nullptr; }

  private:
    uint8_t *base_ = nullptr, *end_ = nullptr;
    size_t span_ = 0;
};

TEST(ColourRows, RowsFlushAgainstTheEndOfMemoryReadAndWriteOnlyTheirPixels) {
    GuardedBytes input(4096), output(4096);
    ASSERT_TRUE(input.ok() && output.ok());
    for (const ColourRows *rows : colourRowVariants()) {
        SCOPED_TRACE(rows->name);
        for (int count = 1; count <= 80; ++count) {
            uint8_t *rgba = input.last(size_t(count) * 4);
            for (int i = 0; i < count * 4; ++i) rgba[i] = uint8_t(i * 53 + count);
            auto *host = reinterpret_cast<uint32_t *>(output.last(size_t(count) * 4));
            rows->rgbaToHost(rgba, count, false, host);
            for (int x = 0; x < count; ++x)
                ASSERT_EQ(host[x], rgbToHost(rgba[4 * x], rgba[4 * x + 1], rgba[4 * x + 2]));

            auto *pixels = reinterpret_cast<uint32_t *>(input.last(size_t(count) * 4));
            for (int x = 0; x < count; ++x) pixels[x] = 0x9D3F6Au * uint32_t(x + count);
            uint8_t *rgb = output.last(size_t(count) * 3);
            rows->hostToRgb(pixels, count, rgb);
            for (int x = 0; x < count; ++x) {
                uint8_t expected[3];
                hostToRgb(pixels[x], expected);
                ASSERT_EQ(std::memcmp(rgb + 3 * x, expected, 3), 0) << count << " " << x;
            }
            uint8_t *out = output.last(size_t(count) * 4);
            rows->hostToRgba(pixels, count, out);
            for (int x = 0; x < count; ++x) {
                uint8_t expected[3];
                hostToRgb(pixels[x], expected);
                ASSERT_EQ(std::memcmp(out + 4 * x, expected, 3), 0) << count << " " << x;
                ASSERT_EQ(out[4 * x + 3], pixels[x] & 0xFF);
            }
        }
    }
}

TEST(ColourRows, FramesWithRowGapsLeaveTheGapsAlone) {
    const int width = 37, height = 5, stride = width * 4 + 12;
    std::vector<uint8_t> rgba(size_t(stride) * height);
    for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = uint8_t(i * 91);
    HostFrame frame(width, height);
    rgbaToHostFrame(rgba.data(), stride, false, frame);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t *p = &rgba[size_t(y) * stride + 4 * x];
            ASSERT_EQ(frame.row(y)[x], rgbToHost(p[0], p[1], p[2], 255));
        }
    std::vector<uint8_t> rgb(size_t(width * 3 + 5) * height, kGuard);
    hostFrameToRgb(frame, rgb.data(), width * 3 + 5);
    for (int y = 0; y < height; ++y) {
        for (int i = width * 3; i < width * 3 + 5; ++i)
            EXPECT_EQ(rgb[size_t(y) * (width * 3 + 5) + i], kGuard);
        uint8_t expected[3];
        hostToRgb(frame.row(y)[width - 1], expected);
        EXPECT_EQ(std::memcmp(&rgb[size_t(y) * (width * 3 + 5) + 3 * (width - 1)], expected, 3), 0);
    }
}

TEST(FramePool, NoFrameIsHandedOutTwiceWhileItsLeaseLasts) {
    FramePool pool;
    std::set<HostFrame *> held;
    std::vector<FramePool::Lease> leases;
    for (int i = 0; i < 5; ++i) {
        leases.push_back(pool.take(8, 6));
        EXPECT_TRUE(held.insert(leases.back().get()).second);
        EXPECT_EQ(leases.back()->width, 8);
        EXPECT_EQ(leases.back()->height, 6);
        EXPECT_EQ(leases.back()->pixels.size(), 48u);
    }
    EXPECT_EQ(pool.created(), 5);
    EXPECT_EQ(pool.idle(), 0);

    // A frame given back is the next one handed out, storage and contents
    // kept (whoever takes it writes every pixel); the others stay taken.
    HostFrame *returned = leases[2].get();
    std::fill(returned->pixels.begin(), returned->pixels.end(), 0x12345678u);
    const uint32_t *storage = returned->pixels.data();
    leases[2].release();
    EXPECT_FALSE(leases[2]);
    EXPECT_EQ(pool.idle(), 1);
    FramePool::Lease again = pool.take(8, 6);
    EXPECT_EQ(again.get(), returned);
    EXPECT_EQ(again->pixels.data(), storage);
    EXPECT_EQ(again->pixels[47], 0x12345678u);
    EXPECT_EQ(pool.created(), 5);
    FramePool::Lease fresh = pool.take(8, 6);
    EXPECT_EQ(held.count(fresh.get()), 0u);
    EXPECT_EQ(pool.created(), 6);

    // Moving a lease moves the ownership: the frame returns once, when the
    // last holder lets go.
    FramePool::Lease moved = std::move(fresh);
    EXPECT_FALSE(fresh);
    fresh = FramePool::Lease();
    EXPECT_EQ(pool.idle(), 0);
    moved = FramePool::Lease();
    EXPECT_EQ(pool.idle(), 1);
}

TEST(FramePool, AFrameGrownByOneRowKeepsItsStorage) {
    FramePool pool;
    FramePool::Lease lease = pool.take(10, 7);
    const uint32_t *storage = lease->pixels.data();
    lease->pixels.resize(80); // the pipeline pads odd heights with a row
    lease->height = 8;
    EXPECT_EQ(lease->pixels.data(), storage);
    lease.release();
    lease = pool.take(10, 7);
    EXPECT_EQ(lease->pixels.data(), storage);
    EXPECT_EQ(lease->height, 7);
    EXPECT_EQ(lease->pixels.size(), 70u);
    // A larger frame than any in the pool is made anew.
    FramePool::Lease larger = pool.take(20, 20);
    EXPECT_EQ(pool.created(), 2);
}

TEST(FrameSources, ASolidColourFillsEveryPixelOfAUsedFrame) {
    auto source = solidColourSource(10, 200, 30, 5, 4);
    source->setOutputSize(5, 4, false);
    HostFrame frame(5, 4, 0xFFFFFFFFu);
    frame.pixels[0] = rgbToHost(10, 200, 30); // only the first pixel matches
    ASSERT_TRUE(source->next(frame));
    for (uint32_t pixel : frame.pixels) EXPECT_EQ(pixel, rgbToHost(10, 200, 30));
    const HostFrame *still = source->sharedStill();
    ASSERT_NE(still, nullptr);
    EXPECT_EQ(still->pixels, frame.pixels);
    EXPECT_EQ(source->sharedStill(), still);
}

// A video of `frames` frames at 25 fps whose frame i is grey 10 + 20 i.
std::unique_ptr<FrameSource> numberedVideo(int frames) {
    return paintedSource("numbered", 3, 2, frames, false,
                         [](int64_t frame, int w, int h, std::vector<uint8_t> &rgba) {
                             rgba.assign(size_t(w) * h * 4, uint8_t(10 + 20 * frame));
                         });
}

// Output frame i shows the source frame at its time, whether the source
// frame is shown again (the frame handed out must then stay the retimed
// source's) or skipped; the frames come back used, as the pool's do.
TEST(FrameSources, ARetimedVideoShowsTheFrameAtEachTime) {
    struct Case {
        Rational rate;
        std::vector<int> shown;
    };
    const Case cases[] = {{{50, 1}, {0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5}},
                          {{10, 1}, {0, 2, 5}},
                          {{30000, 1001}, {0, 0, 1, 2, 3, 4, 5, 5}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rate.num);
        auto source = retimedSource(numberedVideo(6), c.rate);
        source->setOutputSize(3, 2, false);
        EXPECT_EQ(source->frameCountHint(), int64_t(c.shown.size()));
        HostFrame frames[2] = {HostFrame(3, 2), HostFrame(3, 2)};
        for (size_t i = 0; i < c.shown.size(); ++i) {
            HostFrame &frame = frames[i % 2];
            std::fill(frame.pixels.begin(), frame.pixels.end(), 0x12345678u);
            ASSERT_TRUE(source->next(frame)) << i;
            const uint8_t grey = uint8_t(10 + 20 * c.shown[i]);
            for (uint32_t pixel : frame.pixels) ASSERT_EQ(pixel, rgbToHost(grey, grey, grey)) << i;
        }
        HostFrame after;
        EXPECT_FALSE(source->next(after));
    }
}

} // namespace
