// The string functions: measuring, cutting, searching, replacing, splitting, trimming, case conversion,
// comparison, the character and type tests, VerCompare and SplitPath. Bound through the built-in tables.
#pragma once
#include "expr/ValueToken.h"
#include "objects/MdFunc.h"

namespace brm {

// A text result: short text goes into the caller's scratch buffer, longer text into a heap block the result
// owns. The text may already lie in that buffer. Raises "Out of memory.".
Status SetResultText(CallResult& result, const Char* text, size_t length);

// Classic routines (objects/BuiltInFunctions.cpp lists them).
Status BifStrLen(CallResult& result, ValueToken** params, int count);
Status BifSubStr(CallResult& result, ValueToken** params, int count);
Status BifInStr(CallResult& result, ValueToken** params, int count);
Status BifStrReplace(CallResult& result, ValueToken** params, int count);  // the count is output parameter 5
Status BifTrim(CallResult& result, ValueToken** params, int count);        // Trim 0, LTrim 1, RTrim 2
Status BifStrCase(CallResult& result, ValueToken** params, int count);     // StrLower 0, StrUpper 1, StrTitle 2
Status BifStrCompare(CallResult& result, ValueToken** params, int count);
Status BifVerCompare(CallResult& result, ValueToken** params, int count);
Status BifOrd(CallResult& result, ValueToken** params, int count);
Status BifChr(CallResult& result, ValueToken** params, int count);
Status BifStrPtr(CallResult& result, ValueToken** params, int count);
// IsNumber 1, IsInteger 2, IsFloat 3, IsTime 4, IsDigit 5, IsXDigit 6, IsAlnum 7, IsAlpha 8, IsUpper 9,
// IsLower 10, IsSpace 11.
Status BifIsType(CallResult& result, ValueToken** params, int count);
Status BifSplitPath(CallResult& result, ValueToken** params, int count);  // outputs are parameters 2 to 6

// Typed routine (objects/MdFunc.cpp lists it).
FResult BifStrSplit(const Char* text, ValueToken* delimiters, Opt<const Char*> omitChars, Opt<int32_t> maxParts,
                    ValueRet ret);

}  // namespace brm
