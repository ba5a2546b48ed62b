// The small-block pool. Blocks are chained through their first word so the whole pool stays reachable
// from one pointer (a leak checker sees it as live); a block's unused tail is abandoned when a request
// does not fit, which costs at most kPoolLargestRequest bytes per block.
#include "base/Pool.h"
#include <cstdlib>
#include <cstring>

namespace brm {

namespace {

struct PoolBlockHeader {
    PoolBlockHeader* previous;
    void* padding;  // keeps the first carved piece aligned for a double or a 64-bit integer
};

PoolBlockHeader* s_lastBlock = nullptr;
char* s_next = nullptr;
size_t s_left = 0;
size_t s_blockCount = 0;

}  // namespace

void* PoolAlloc(size_t bytes) {
    if (bytes == 0)
        bytes = 1;
    if (bytes > kPoolLargestRequest)
        return malloc(bytes);
    bytes = (bytes + kPoolGranularity - 1) & ~(kPoolGranularity - 1);
    if (bytes > s_left) {
        auto* block = static_cast<PoolBlockHeader*>(malloc(kPoolBlockBytes));
        if (!block)
            return nullptr;
        block->previous = s_lastBlock;
        s_lastBlock = block;
        s_next = reinterpret_cast<char*>(block + 1);
        s_left = kPoolBlockBytes - sizeof(PoolBlockHeader);
        ++s_blockCount;
    }
    void* result = s_next;
    s_next += bytes;
    s_left -= bytes;
    return result;
}

Char* PoolStrDup(const Char* s, size_t len) {
    auto* copy = static_cast<Char*>(PoolAlloc((len + 1) * sizeof(Char)));
    if (!copy)
        return nullptr;
    if (len)
        memcpy(copy, s, len * sizeof(Char));
    copy[len] = 0;
    return copy;
}

PoolStats PoolGetStats() { return PoolStats{s_blockCount, s_left}; }

}  // namespace brm
