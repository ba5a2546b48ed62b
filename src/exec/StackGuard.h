// Deep recursion is stopped while enough stack remains to report it: the critical error
// "Function recursion limit exceeded." instead of a stack overflow that nothing could show.
#pragma once
#include <cstdint>
#include "expr/ValueToken.h"

namespace brm {

// The lowest stack address deep code may reach; 0 until InitStackGuard ran.
extern uintptr_t g_stackFloor;

// Records the main thread's stack floor (start-up, on the main thread).
void InitStackGuard();

// One comparison: call before each nested execution level.
inline bool StackNearlyExhausted() {
    char probe;
    return reinterpret_cast<uintptr_t>(&probe) < g_stackFloor;
}

// The critical error; never returns.
[[noreturn]] void RecursionLimitExceeded();

}  // namespace brm
