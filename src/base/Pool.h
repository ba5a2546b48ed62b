// The small-block pool: names, loader strings and short variable buffers that live until the process ends.
// Carving them from 64 KB blocks keeps the common short string from costing a heap call.
#pragma once
#include <cstddef>
#include "expr/ValueToken.h"

namespace brm {

constexpr size_t kPoolBlockBytes = 65536;
constexpr size_t kPoolLargestRequest = 2048;  // larger requests would waste too much of a block's tail
// Requests are rounded up to the pointer size (4 bytes on the 32-bit target), so pieces that hold
// pointers, such as Vars, stay aligned.
constexpr size_t kPoolGranularity = sizeof(void*);

// Memory that is never given back. Requests are rounded up to kPoolGranularity; requests above
// kPoolLargestRequest come straight from the heap (and are equally never freed). Null when out of memory.
void* PoolAlloc(size_t bytes);

// A terminated copy of the first len characters of s, from the pool. Null when out of memory.
Char* PoolStrDup(const Char* s, size_t len);

// For tests and diagnostics: blocks taken so far and the free bytes left in the current one.
struct PoolStats {
    size_t blocks;
    size_t bytesLeft;
};
PoolStats PoolGetStats();

}  // namespace brm
