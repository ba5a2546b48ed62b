// The small-block pool: rounding, adjacency within a block, new blocks, and the heap bypass.
#include <gtest/gtest.h>
#include <cstdint>
#include <cwchar>
#include "base/Pool.h"

using namespace brm;

namespace {

// Makes sure the current block has at least `bytes` free, starting a new block if it must.
void EnsureRoom(size_t bytes) {
    while (PoolGetStats().bytesLeft < bytes)
        ASSERT_NE(PoolAlloc(4), nullptr);
}

}  // namespace

TEST(Pool, RoundsRequestsAndCarvesAdjacentPieces) {
    EnsureRoom(64);
    const size_t g = kPoolGranularity;  // 4 on the 32-bit target
    struct Case { size_t request; size_t used; };
    const Case cases[] = {{1, g}, {4, g}, {5, 8}, {7, 8}, {8, 8}, {9, g == 4 ? 12 : 16}, {0, g}};
    for (const Case& c : cases) {
        auto* first = static_cast<char*>(PoolAlloc(c.request));
        auto* second = static_cast<char*>(PoolAlloc(4));
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(second - first, static_cast<ptrdiff_t>(c.used)) << "request " << c.request;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % g, 0u);
    }
}

TEST(Pool, StartsANewBlockWhenTheCurrentOneIsTooFull) {
    EnsureRoom(1);
    // Use up the block until fewer than 100 bytes remain.
    while (PoolGetStats().bytesLeft >= 100) {
        size_t left = PoolGetStats().bytesLeft;
        size_t take = left - 96 > kPoolLargestRequest ? kPoolLargestRequest : left - 96;
        ASSERT_NE(PoolAlloc(take), nullptr);
    }
    PoolStats before = PoolGetStats();
    void* piece = PoolAlloc(100);
    ASSERT_NE(piece, nullptr);
    PoolStats after = PoolGetStats();
    EXPECT_EQ(after.blocks, before.blocks + 1);
    EXPECT_LE(after.bytesLeft, kPoolBlockBytes - 100);
    EXPECT_GE(after.bytesLeft, kPoolBlockBytes - 100 - 64);
}

TEST(Pool, LargeRequestsBypassThePool) {
    EnsureRoom(64);
    PoolStats before = PoolGetStats();
    void* big = PoolAlloc(kPoolLargestRequest + 1);
    ASSERT_NE(big, nullptr);
    PoolStats after = PoolGetStats();
    EXPECT_EQ(after.blocks, before.blocks);
    EXPECT_EQ(after.bytesLeft, before.bytesLeft);
    // The largest pooled request still comes from the pool.
    EnsureRoom(kPoolLargestRequest);
    before = PoolGetStats();
    ASSERT_NE(PoolAlloc(kPoolLargestRequest), nullptr);
    EXPECT_EQ(PoolGetStats().bytesLeft, before.bytesLeft - kPoolLargestRequest);
}

TEST(Pool, StrDupCopiesAndTerminates) {
    const Char* source = L"hello world";
    Char* copy = PoolStrDup(source, 5);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, L"hello");
    Char* empty = PoolStrDup(L"", 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, L"");
}
