// DllCall and ComCall: native type names, the resolution of a DLL function by name, argument conversion,
// the call and the conversion of its results back into script values.
#pragma once
#include <windows.h>
#include "expr/ValueToken.h"

namespace brm {

// A function named "[dll\]name": from the named DLL (loaded for the call when it is not loaded already,
// handed back in loaded so that the caller frees it afterwards), or from the common system modules.
// The "W" form is tried when the name itself is not exported. With loaded null nothing is loaded and
// nothing is raised (the load-time form): null is then just "not found".
FARPROC ResolveDllFunction(const Char* text, HMODULE* loaded);

// Classic built-in: DllCall 0, ComCall 1.
Status BifDllCall(CallResult& result, ValueToken** params, int paramCount);

}  // namespace brm
