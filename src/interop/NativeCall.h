// The machine-level call of a native function: the stack image laid down, the call made under an
// exception guard, and the registers read back. One small assembly routine per target.
#pragma once
#include <cstddef>
#include <cstdint>

namespace brm {

// The routine reads and writes these fields at fixed offsets (one machine word each, then the float):
// keep the order in step with the assembly in NativeCall.cpp.
struct NativeCallFrame {
    void* function = nullptr;
    const uintptr_t* stack = nullptr;  // the arguments as they lie on the stack, first at the lowest address
    uintptr_t stackWords = 0;          // x64: at least the four register slots
    uintptr_t floatReturn = 0;         // i686: 1 to take the result from the floating-point register
    uintptr_t savedFrame = 0;          // the routine's frame pointer, for resuming after an exception
    uintptr_t spBefore = 0;            // i686: the stack pointer before the arguments were laid down
    uintptr_t spAfter = 0;             // ... and after the call returned
    uintptr_t resultLow = 0;           // eax / rax
    uintptr_t resultHigh = 0;          // edx
    uintptr_t savedSehChain = 0;       // i686: the exception-registration chain before the call
    uint64_t resultFloat = 0;          // i686: ST0 as a double; x64: xmm0's low 64 bits as they stand
    uint32_t exceptionCode = 0;        // set when the function raised a structured exception
    bool faulted = false;
};

// Performs the call. The last-error value is the caller's business (it brackets this call).
void CallNativeFrame(NativeCallFrame& frame);

// While native code runs on behalf of a callback's script function, a processor exception is the
// program's own fault and must reach the program's last line of defence, not the DllCall below it.
class NativeGuardSuspended {
public:
    NativeGuardSuspended();
    ~NativeGuardSuspended();
    NativeGuardSuspended(const NativeGuardSuspended&) = delete;
    NativeGuardSuspended& operator=(const NativeGuardSuspended&) = delete;

private:
    NativeCallFrame* m_saved;
};

}  // namespace brm
