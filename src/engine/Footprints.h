// Footprints of frame pixels on a tiled picture or texture, shared by the
// image map and surface texture stages: per-column footprints built once
// per call, running sums over the columns of column spans, and exact small
// divisions of span sums.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "engine/Scratch.h"

namespace lustra {

// The sampling filters of the texture and map stages, chosen once per call
// from the two scales (128 is one texel or source pixel per frame pixel): a
// frame pixel smaller than a texel is interpolated, one as large or larger
// averaged over its span.
enum class Filter { Bilinear, ColumnSpans, RowSpans, Box };

inline Filter chooseFilter(int32_t colScale, int32_t rowScale) {
    if (colScale < 128) return rowScale < 128 ? Filter::Bilinear : Filter::RowSpans;
    return rowScale < 128 ? Filter::ColumnSpans : Filter::Box;
}

// Texels or source pixels from coordinate a up to coordinate b (exclusive)
// of a picture that tiles after `size`: b - a, plus size when b lies before a.
inline int32_t spanLength(int32_t a, int32_t b, int32_t size) {
    return b < a ? b + size - a : b - a;
}

// The next coordinate after c, wrapping after `size` (c lies in 0..size-1).
inline int32_t nextWrapped(int32_t c, int32_t size) {
    return c + 1 == size ? 0 : c + 1;
}

// Footprints of every frame column, built once per call from the column
// tables: column, next column (wrapping), fraction and span.
class ColumnFootprints {
  public:
    ColumnFootprints(const uint16_t *col, const uint8_t *colFrac, int32_t width, int32_t size)
        : data_(static_cast<int32_t *>(takeScratch(sizeof(int32_t) * 4 * size_t(width)))) {
        if (!data_) return;
        u = data_, uNext = data_ + width, fu = data_ + 2 * size_t(width);
        span = data_ + 3 * size_t(width);
        for (int32_t x = 0; x < width; ++x) {
            u[x] = col[x];
            uNext[x] = nextWrapped(col[x], size);
            fu[x] = colFrac[x];
            span[x] = spanLength(col[x], col[x + 1], size);
        }
    }
    ~ColumnFootprints() { std::free(data_); }
    ColumnFootprints(const ColumnFootprints &) = delete;
    ColumnFootprints &operator=(const ColumnFootprints &) = delete;
    bool valid() const { return data_ != nullptr; }

    int32_t *u = nullptr, *uNext = nullptr, *fu = nullptr, *span = nullptr;

  private:
    int32_t *data_;
};

// q / n, truncating, as q x ceil(2^18 / n) >> 18: exact for every channel sum
// q of at most 16 pixels (q <= 4080) and n in 1..16; n = 0 gives 0.
constexpr uint32_t reciprocalOf(uint32_t n) {
    return n == 0 ? 0 : ((1u << 18) + n - 1) / n;
}

constexpr bool reciprocalsExact() {
    for (uint32_t n = 1; n <= 16; ++n)
        for (uint32_t q = 0; q <= 16 * 255; ++q)
            if (((q * reciprocalOf(n)) >> 18) != q / n) return false;
    return true;
}
static_assert(reciprocalsExact(), "reciprocal division must equal integer division");

constexpr uint32_t kReciprocal[17] = {
    reciprocalOf(0),  reciprocalOf(1),  reciprocalOf(2),  reciprocalOf(3),  reciprocalOf(4),
    reciprocalOf(5),  reciprocalOf(6),  reciprocalOf(7),  reciprocalOf(8),  reciprocalOf(9),
    reciprocalOf(10), reciprocalOf(11), reciprocalOf(12), reciprocalOf(13), reciprocalOf(14),
    reciprocalOf(15), reciprocalOf(16)};

inline uint32_t divideSmall(uint32_t q, uint32_t reciprocal) {
    return (q * reciprocal) >> 18;
}

// The source columns whose running sums give every column span of a frame
// row: frame column x sums entries start[x] .. end[x] - 1, which hold u, u +
// 1, ... wrapping after the picture width (spans hold at most 4 columns).
// When the spans together take more columns than the picture has, the
// entries are the picture's columns once plus 4 wrapped ones, and spans
// share them; otherwise the spans are laid end to end.
class SpanColumns {
  public:
    SpanColumns(const ColumnFootprints &cols, int32_t width, int32_t size)
        : start(static_cast<int32_t *>(takeScratch(sizeof(int32_t) * 2 * size_t(width)))) {
        if (!start) return;
        end = start + width;
        int64_t laid = 0;
        for (int32_t x = 0; x < width; ++x) laid += cols.span[x];
        const bool shared = laid > int64_t(size) + 4;
        total = shared ? size + 4 : static_cast<int32_t>(laid);
        column = static_cast<int32_t *>(takeScratch(sizeof(int32_t) * (size_t(total) + 1)));
        sums[0] = static_cast<uint64_t *>(takeScratch(sizeof(uint64_t) * (size_t(total) + 1)));
        sums[1] = static_cast<uint64_t *>(takeScratch(sizeof(uint64_t) * (size_t(total) + 1)));
        if (!column) return;
        int32_t next = 0;
        for (int32_t x = 0; x < width; ++x) {
            start[x] = shared ? cols.u[x] : next;
            end[x] = start[x] + cols.span[x];
            int32_t c = cols.u[x];
            for (; !shared && next < end[x]; ++next, c = nextWrapped(c, size)) column[next] = c;
        }
        for (int32_t j = 0, c = 0; shared && j < total; ++j, c = nextWrapped(c, size))
            column[j] = c;
    }
    ~SpanColumns() {
        std::free(start);
        std::free(column);
        std::free(sums[0]);
        std::free(sums[1]);
    }
    SpanColumns(const SpanColumns &) = delete;
    SpanColumns &operator=(const SpanColumns &) = delete;
    bool valid() const { return start && column && sums[0] && sums[1]; }

    int32_t *start = nullptr, *end = nullptr;
    int32_t *column = nullptr;
    uint64_t *sums[2] = {};
    int32_t total = 0;
};

} // namespace lustra
