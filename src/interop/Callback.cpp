// Callback thunks and their dispatcher. On i686 the thunk is the documented 28 bytes: it pushes the
// address of the caller's first stack parameter and its own data, calls the dispatcher through a
// process-wide cell, then removes the caller's parameters itself for stdcall. On x86_64 the thunk only
// loads its own address and jumps to an entry routine with unwind data of its own, which spills the four
// register arguments into their shadow space so that all parameters lie in one block, as on i686.
#include "interop/Callback.h"
#include <windows.h>
#include <cstring>
#include "interop/NativeCall.h"
#include "interop/NativeMemory.h"
#include "objects/Func.h"
#include "objects/Object.h"
#include "runtime/PseudoThread.h"

#if !defined(__i386__)
extern "C" uintptr_t BrmThunkDispatch64(uintptr_t* block, uint8_t* thunk) asm("brm_callback_dispatch");
extern "C" void BrmCallbackEntry() asm("brm_callback_entry");
#endif

namespace brm {

namespace {

enum CallbackFlags : uint8_t {
    CallbackNewThread = 0x01,
    CallbackParamBlock = 0x02,
};

// The largest stdcall parameter count: the thunk removes 4 bytes a parameter with a signed 8-bit
// immediate, so 31 parameters (124 bytes) is as far as it reaches.
constexpr int kMaxStdcallParams = 31;
constexpr int kMaxParams = 255;

bool s_earlyExit = false;

}  // namespace

#if !defined(__i386__)
constexpr size_t kThunkFunctionAt = 32;
#endif

// Runs the function a thunk names, for native code on the main thread.
uintptr_t DispatchCallback(uintptr_t* block, int count, uint8_t flags, IObject* function) {
    const bool newThread = flags & CallbackNewThread;
    bool wasPaused = false;
    if (newThread) {
        // Native code waits for an answer: no priority or interruptibility test, only the thread limit.
        if (g_threadCount >= MaxThreads()) return 0;
        StartPseudoThread(0);
    } else if (g_thread->paused) {
        wasPaused = true;
        g_thread->paused = false;
        --g_pausedThreads;
    }
    g_lastCheckTick = GetTickCount();
    const int given = (flags & CallbackParamBlock) ? 1 : count;
    ValueToken* args = static_cast<ValueToken*>(__builtin_alloca(sizeof(ValueToken) * static_cast<size_t>(given + 1)));
    ValueToken** params = static_cast<ValueToken**>(__builtin_alloca(sizeof(ValueToken*) * static_cast<size_t>(given + 1)));
    if (flags & CallbackParamBlock) {
        args[0].SetInteger(static_cast<int64_t>(reinterpret_cast<uintptr_t>(block)));
    } else {
        for (int i = 0; i < count; ++i) {
            if constexpr (sizeof(void*) == 8) args[i].SetInteger(static_cast<int64_t>(block[i]));
            else args[i].SetInteger(static_cast<int64_t>(static_cast<uint32_t>(block[i])));
        }
    }
    for (int i = 0; i < given; ++i) params[i] = &args[i];
    uintptr_t answer = 0;
    {
        NativeGuardSuspended scriptRuns;
        Char scratch[kScratchChars];
        CallResult result(scratch);
        function->AddRef();  // CallbackFree inside the function must not end it while it runs
        Status s = CallFunction(function, result, params, given);
        function->Release();
        if (s == Status::Ok) {
            const ValueToken& v = result.value;
            bool empty = v.symbol == SymString && (v.markerLength == 0 || (v.markerLength < 0 && !*v.marker));
            if (!empty && v.symbol != SymMissing && v.symbol != SymObject)
                answer = static_cast<uintptr_t>(TokenToInt64(v));
        } else if (s == Status::EarlyExit && !newThread) {
            s_earlyExit = true;
        }
    }
    if (newThread) {
        EndPseudoThread();
    } else {
        if (g_thread == &DefaultThread() && g_threadCount == 0) g_thread->priority = INT32_MIN;
        if (wasPaused && !g_thread->paused) {
            g_thread->paused = true;
            ++g_pausedThreads;
        }
    }
    return answer;
}

namespace {

#if defined(__i386__)

constexpr size_t kThunkBytes = 28;

// Entered from a thunk: the parameter block and the address of the thunk's offset 5. Native callers
// keep the stack only 4-byte aligned, and this code's SSE spills assume 16.
uintptr_t __attribute__((stdcall, force_align_arg_pointer)) ThunkDispatch(uintptr_t* block, uint8_t* at5) {
    IObject* function;
    memcpy(&function, at5 + 19, sizeof function);
    return DispatchCallback(block, at5[17], at5[18], function);
}

void* s_dispatchCell = reinterpret_cast<void*>(&ThunkDispatch);

void FillThunk(uint8_t* t, int count, uint8_t flags, bool isCdecl, IObject* function) {
    static const uint8_t kCode[22] = {0xE8, 0, 0, 0, 0, 0x8D, 0x44, 0x24, 0x08, 0x50, 0xFF, 0x15, 0, 0, 0, 0,
                                      0x59, 0x83, 0xC4, 0, 0xFF, 0xE1};
    memcpy(t, kCode, sizeof kCode);
    void** cell = &s_dispatchCell;
    memcpy(t + 12, &cell, 4);
    t[19] = static_cast<uint8_t>(isCdecl ? 0 : 4 * count);
    t[22] = static_cast<uint8_t>(count);
    t[23] = flags;
    memcpy(t + 24, &function, 4);
}

IObject* ThunkFunction(const uint8_t* t) {
    IObject* f;
    memcpy(&f, t + 24, sizeof f);
    return f;
}

#else

constexpr size_t kThunkBytes = 40;


asm(R"(
    .intel_syntax noprefix
    .text
    .globl brm_callback_entry
    .def brm_callback_entry; .scl 2; .type 32; .endef
    .seh_proc brm_callback_entry
brm_callback_entry:
    mov [rsp+8], rcx
    mov [rsp+16], rdx
    mov [rsp+24], r8
    mov [rsp+32], r9
    push rbp
    .seh_pushreg rbp
    sub rsp, 32
    .seh_stackalloc 32
    .seh_endprologue
    lea rcx, [rsp+48]
    mov rdx, r10
    call brm_callback_dispatch
    add rsp, 32
    pop rbp
    ret
    .seh_endproc
    .att_syntax prefix
)");

void FillThunk(uint8_t* t, int count, uint8_t flags, bool, IObject* function) {
    memset(t, 0xCC, kThunkBytes);
    t[0] = 0x49, t[1] = 0xBA;  // mov r10, imm64: the thunk itself
    memcpy(t + 2, &t, 8);
    t[10] = 0x48, t[11] = 0xB8;  // mov rax, imm64: the entry routine
    void* entry = reinterpret_cast<void*>(&BrmCallbackEntry);
    memcpy(t + 12, &entry, 8);
    t[20] = 0xFF, t[21] = 0xE0;  // jmp rax
    t[22] = static_cast<uint8_t>(count);
    t[23] = flags;
    memcpy(t + kThunkFunctionAt, &function, 8);
}

IObject* ThunkFunction(const uint8_t* t) {
    IObject* f;
    memcpy(&f, t + kThunkFunctionAt, sizeof f);
    return f;
}

#endif

}  // namespace

bool TakeCallbackEarlyExit() {
    bool pending = s_earlyExit;
    s_earlyExit = false;
    return pending;
}

// CallbackCreate Function [, Options, ParamCount]
FResult BifCallbackCreate(IObject* function, Opt<const Char*> options, Opt<int64_t> paramCount, ValueRet ret) {
    bool isCdecl = false, block = false, fast = false;
    if (options)
        for (const Char* p = *options; *p; ++p) {
            if (*p == L'C' || *p == L'c') isCdecl = true;
            else if (*p == L'&') block = true;
            else if (*p == L'F' || *p == L'f') fast = true;
        }
    int count = 0;
    bool valid = true;
    if (paramCount) {
        if (*paramCount < 0 || *paramCount > kMaxParams) return FrParam(2);
        count = static_cast<int>(*paramCount);
        if (CallbackCheck(function, block ? 1 : count, true, valid) != Status::Ok || !valid) return FrFail;
    } else if (block) {
        if (!isCdecl) return FrParam(2);
        if (CallbackCheck(function, 1, true, valid) != Status::Ok || !valid) return FrFail;
    } else {
        int minParams = 0;
        if (CallbackCheck(function, -1, true, valid, &minParams) != Status::Ok || !valid) return FrFail;
        count = minParams;
    }
    if (!isCdecl && count > kMaxStdcallParams) return FrParam(2);
    auto* thunk = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, kThunkBytes));
    if (!thunk) return FrOutOfMemory;
    uint8_t flags = static_cast<uint8_t>((fast ? 0 : CallbackNewThread) | (block ? CallbackParamBlock : 0));
    FillThunk(thunk, count, flags, isCdecl, function);
    DWORD old;
    if (!VirtualProtect(thunk, kThunkBytes, PAGE_EXECUTE_READWRITE, &old)) {
        GlobalFree(thunk);
        return FrWin32(0);
    }
    FlushInstructionCache(GetCurrentProcess(), thunk, kThunkBytes);
    function->AddRef();
    ret.result->value.SetInteger(static_cast<int64_t>(reinterpret_cast<uintptr_t>(thunk)));
    return FrOk;
}

// CallbackFree Address
FResult BifCallbackFree(int64_t address) {
    if (static_cast<uint64_t>(address) < kLowestValidAddress) return FrParam(0);
    auto* thunk = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(address));
    IObject* function = ThunkFunction(thunk);
    GlobalFree(thunk);
    function->Release();
    return FrOk;
}

}  // namespace brm

#if !defined(__i386__)
extern "C" uintptr_t BrmThunkDispatch64(uintptr_t* block, uint8_t* thunk) {
    brm::IObject* function;
    memcpy(&function, thunk + brm::kThunkFunctionAt, sizeof function);
    return brm::DispatchCallback(block, thunk[22], thunk[23], function);
}
#endif
