// FormatTime, DateAdd and DateDiff: YYYYMMDDHH24MISS stamps rendered and computed.
#pragma once
#include "expr/ValueToken.h"
#include "objects/MdFunc.h"

namespace brm {

// FormatTime(Timestamp := "", Format := ""): a classic routine of the built-in table.
Status BifFormatTime(CallResult& result, ValueToken** params, int count);
// Typed routines.
FResult BifDateAdd(const Char* dateTime, double time, const Char* units, StrRet ret);
FResult BifDateDiff(const Char* dateTime1, const Char* dateTime2, const Char* units, ValueRet ret);

}  // namespace brm
