// The buffer recycler: kept buffers are handed out again only for the same
// size, zeroed buffers are zero even after reuse, and sweeps return what no
// render asked for.
#include "engine/BufferRecycler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using namespace lustra;

namespace {

constexpr size_t kLarge = 3 * 1024 * 1024 + 7; // kept when given back
constexpr size_t kSmall = 4096;                // freed at once

bool isZero(const void *buffer, size_t bytes) {
    const auto *p = static_cast<const unsigned char *>(buffer);
    for (size_t i = 0; i < bytes; ++i)
        if (p[i] != 0) return false;
    return true;
}

class BufferRecyclerTest : public ::testing::Test {
  protected:
    void SetUp() override { releaseKeptBuffers(); }
    void TearDown() override { releaseKeptBuffers(); }
};

} // namespace

TEST_F(BufferRecyclerTest, ReusesBuffersOfTheSameSizeAndKeepsZeroedOnesZero) {
    void *first = takeBuffer(kLarge, BufferContents::zeroed);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % 64, 0u);
    EXPECT_TRUE(isZero(first, kLarge));
    std::memset(first, 0xA5, kLarge);
    static_cast<unsigned char *>(first)[kLarge - 1] = 1;
    giveBackBuffer(first);
    EXPECT_EQ(keptBufferBytes(), kLarge);

    // Another size does not take it; the same size does, cleared.
    void *other = takeBuffer(kLarge + 1, BufferContents::zeroed);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, first);
    void *again = takeBuffer(kLarge, BufferContents::zeroed);
    EXPECT_EQ(again, first);
    EXPECT_TRUE(isZero(again, kLarge));
    EXPECT_EQ(keptBufferBytes(), 0u);

    // A buffer taken for overwriting keeps what it held.
    std::memset(again, 0x5A, kLarge);
    giveBackBuffer(again);
    void *unspecified = takeBuffer(kLarge, BufferContents::unspecified);
    EXPECT_EQ(unspecified, first);
    EXPECT_EQ(static_cast<unsigned char *>(unspecified)[kLarge / 2], 0x5A);
    // New memory is zero even when its contents are left unspecified.
    void *fresh = takeBuffer(kLarge * 2, BufferContents::unspecified);
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(isZero(fresh, kLarge * 2));

    giveBackBuffer(unspecified);
    giveBackBuffer(other);
    giveBackBuffer(fresh);
    giveBackBuffer(nullptr);
    EXPECT_EQ(keptBufferBytes(), kLarge * 4 + 1);
}

TEST_F(BufferRecyclerTest, SmallBuffersAreNotKeptAndIdleOnesAreSwept) {
    void *small = takeBuffer(kSmall, BufferContents::zeroed);
    void *empty = takeBuffer(0, BufferContents::zeroed); // one byte, never null
    ASSERT_NE(small, nullptr);
    ASSERT_NE(empty, nullptr);
    giveBackBuffer(small);
    giveBackBuffer(empty);
    EXPECT_EQ(keptBufferBytes(), 0u);

    void *a = takeBuffer(kLarge, BufferContents::zeroed);
    void *b = takeBuffer(kLarge + 64, BufferContents::zeroed);
    giveBackBuffer(a);
    giveBackBuffer(b);
    sweepIdleBuffers(); // both were in use during the last render: kept
    EXPECT_EQ(keptBufferBytes(), 2 * kLarge + 64);
    // The next render uses only one of them; the other goes at its sweep.
    giveBackBuffer(takeBuffer(kLarge, BufferContents::zeroed));
    sweepIdleBuffers();
    EXPECT_EQ(keptBufferBytes(), kLarge);
    sweepIdleBuffers();
    EXPECT_EQ(keptBufferBytes(), 0u);
}

TEST_F(BufferRecyclerTest, ImpossibleSizesFailCleanly) {
    EXPECT_EQ(takeBuffer(SIZE_MAX, BufferContents::zeroed), nullptr);
    EXPECT_EQ(takeBuffer(SIZE_MAX - 100, BufferContents::unspecified), nullptr);
}
