// Native callbacks: a small thunk of machine code per callback that native code calls like any function
// pointer, and the dispatcher it enters, which runs a script function object.
#pragma once
#include "objects/MdFunc.h"

namespace brm {

FResult BifCallbackCreate(IObject* function, Opt<const Char*> options, Opt<int64_t> paramCount, ValueRet ret);
FResult BifCallbackFree(int64_t address);

// True once, after a callback run in fast mode (inside the calling thread) ended that thread with Exit:
// the DllCall that was interrupted then ends the thread too.
bool TakeCallbackEarlyExit();
// The dispatcher every thunk enters (the thunk supplies its count, flags and function).
uintptr_t DispatchCallback(uintptr_t* block, int count, uint8_t flags, IObject* function);

}  // namespace brm
