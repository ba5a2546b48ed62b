// The numeric built-ins and Random: classic routines of the built-in table, shared routines told apart by
// their row's identity.
#pragma once
#include "expr/ValueToken.h"

namespace brm {

Status BifAbs(CallResult& result, ValueToken** params, int count);
Status BifFloorCeil(CallResult& result, ValueToken** params, int count);  // Floor 0, Ceil 1
Status BifRound(CallResult& result, ValueToken** params, int count);
Status BifMod(CallResult& result, ValueToken** params, int count);
Status BifMinMax(CallResult& result, ValueToken** params, int count);     // Min 0, Max 1
Status BifSqrtLog(CallResult& result, ValueToken** params, int count);    // Sqrt 0, Log 1, Ln 2
Status BifASinACos(CallResult& result, ValueToken** params, int count);   // ASin 0, ACos 1
Status BifExp(CallResult& result, ValueToken** params, int count);
Status BifSin(CallResult& result, ValueToken** params, int count);
Status BifCos(CallResult& result, ValueToken** params, int count);
Status BifTan(CallResult& result, ValueToken** params, int count);
Status BifATan(CallResult& result, ValueToken** params, int count);
Status BifRandom(CallResult& result, ValueToken** params, int count);

// Fills buffer with bytes from the system's random source (SystemFunction036 of advapi32, looked up once);
// false when that is unavailable or fails.
bool SystemRandom(void* buffer, unsigned long size);

}  // namespace brm
