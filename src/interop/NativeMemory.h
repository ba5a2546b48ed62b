// Raw memory for scripts: Buffer-like objects, NumGet/NumPut, StrGet/StrPut and VarSetStrCapacity.
#pragma once
#include <cstddef>
#include <cstdint>
#include "expr/ValueToken.h"

namespace brm {

// Addresses below this are refused: the first 64 KB of the address space is never mapped, so a small
// number given as an address is a mistake (a size, a handle or an error code), not memory.
constexpr uintptr_t kLowestValidAddress = 65536;

// Any object's memory: its Ptr property and then its Size property, read through the invoke protocol.
// A failed read (a missing property included) fails with the error the read raised.
Status GetBufferPtrSize(IObject* object, uintptr_t& ptr, size_t& size);
// The object's Ptr property alone (DllCall's function and "P" arguments).
Status GetBufferPtr(IObject* object, uintptr_t& ptr);

// The object a value token holds (directly or in a variable); null for any other value.
IObject* TokenAsObject(const ValueToken& token);

// Classic built-ins (objects/BuiltInFunctions.cpp binds them).
Status BifNumGet(CallResult& result, ValueToken** params, int paramCount);
Status BifNumPut(CallResult& result, ValueToken** params, int paramCount);
Status BifStrGetPut(CallResult& result, ValueToken** params, int paramCount);  // StrGet 0, StrPut 1
Status BifVarSetStrCapacity(CallResult& result, ValueToken** params, int paramCount);

}  // namespace brm
