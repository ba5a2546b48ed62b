// The classic built-in function table and the string routines that are cheap enough to live
// with it. Rows are sorted by name with the A-to-Z fold; a static_assert keeps them that way.
#include "objects/BuiltInFunctions.h"
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <new>
#include "base/Pool.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "lib/DateFunctions.h"
#include "lib/Format.h"
#include "lib/MathFunctions.h"
#include "lib/Sort.h"
#include "objects/Func.h"
#include "objects/Object.h"
#include "objects/VarRef.h"

namespace brm {

namespace {

// --- Result and parameter helpers ---

Status SetResultText(CallResult& result, const Char* text, size_t length) {
    Char* target = result.buffer;
    if (length >= static_cast<size_t>(kScratchChars)) {
        target = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
        if (!target)
            return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        result.memToFree = target;
    }
    if (text != target)
        wmemmove(target, text, length);
    target[length] = L'\0';
    result.value.SetString(target, static_cast<int32_t>(length));
    return Status::Ok;
}

inline bool Given(ValueToken** params, int count, int i) {
    return i < count && TokenKind(*params[i]) != SymMissing;
}

Status ParamNumber(ValueToken** params, int i, ValueToken& number) {
    if (!TokenToNumber(*params[i], number))
        return RaiseParamTypeError(i, L"Number", *params[i]);
    return Status::Ok;
}

Status ParamInteger(ValueToken** params, int i, int64_t& value) {
    ValueToken number;
    BRM_TRY(ParamNumber(params, i, number));
    value = number.symbol == SymInteger ? number.valueInt64 : FloatToInt64(number.valueDouble);
    if (number.symbol == SymFloat)
        return RaiseParamTypeError(i, L"Integer", *params[i]);
    return Status::Ok;
}

Status ParamString(ValueToken** params, int i, const Char*& text, int32_t& length, Char* buffer) {
    if (TokenKind(*params[i]) == SymObject)
        return RaiseParamTypeError(i, L"String", *params[i]);
    text = TokenToString(*params[i], buffer, &length);
    if (length < 0)
        length = static_cast<int32_t>(wcslen(text));
    return Status::Ok;
}

Status ParamInvalid(int i) { return RaiseFormatted(ErrorClass::ValueError, nullptr, Msg::ParamInvalid, i + 1); }

int Identity(const CallResult& result) { return static_cast<const BuiltInFunc*>(result.func)->def->identity; }

// --- Text ---

Status Chr(CallResult& result, ValueToken** params, int) {
    int64_t code;
    BRM_TRY(ParamInteger(params, 0, code));
    if (code < 0 || code > 0x10FFFF)
        return ParamInvalid(0);
    Char text[2];
    size_t length = 1;
    if (code > 0xFFFF) {
        code -= 0x10000;
        text[0] = static_cast<Char>(0xD800 + (code >> 10));
        text[1] = static_cast<Char>(0xDC00 + (code & 0x3FF));
        length = 2;
    } else {
        text[0] = static_cast<Char>(code);
    }
    return SetResultText(result, text, length);
}

Status Ord(CallResult& result, ValueToken** params, int) {
    const Char* s;
    int32_t length;
    BRM_TRY(ParamString(params, 0, s, length, result.buffer));
    int64_t code = length ? s[0] : 0;
    if (length > 1 && s[0] >= 0xD800 && s[0] <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF)
        code = 0x10000 + ((s[0] - 0xD800) << 10) + (s[1] - 0xDC00);
    result.value.SetInteger(code);
    return Status::Ok;
}

Status StrLen(CallResult& result, ValueToken** params, int) {
    const Char* s;
    int32_t length;
    BRM_TRY(ParamString(params, 0, s, length, result.buffer));
    result.value.SetInteger(length);
    return Status::Ok;
}

Status SubStr(CallResult& result, ValueToken** params, int count) {
    Char buffer[kScratchChars];
    const Char* s;
    int32_t length;
    BRM_TRY(ParamString(params, 0, s, length, buffer));
    int64_t start;
    BRM_TRY(ParamInteger(params, 1, start));
    int64_t take = length;
    bool limited = Given(params, count, 2);
    if (limited)
        BRM_TRY(ParamInteger(params, 2, take));
    int64_t from;
    if (start > 0)
        from = start - 1;
    else if (start < 0)
        from = length + start < 0 ? 0 : length + start;
    else
        from = length;
    if (from > length)
        from = length;
    int64_t available = length - from;
    if (take < 0)
        take = available + take;
    if (take < 0)
        take = 0;
    if (take > available)
        take = available;
    return SetResultText(result, s + from, static_cast<size_t>(take));
}

inline Char FoldAZ(Char c) { return (c >= L'A' && c <= L'Z') ? static_cast<Char>(c + 32) : c; }

bool MatchAt(const Char* hay, const Char* needle, int32_t n, bool caseSense) {
    for (int32_t i = 0; i < n; ++i)
        if (caseSense ? hay[i] != needle[i] : FoldAZ(hay[i]) != FoldAZ(needle[i]))
            return false;
    return true;
}

// InStr(Haystack, Needle, CaseSense := false, StartingPos := 1, Occurrence := 1)
Status InStr(CallResult& result, ValueToken** params, int count) {
    Char hayBuffer[kScratchChars], needleBuffer[kScratchChars];
    const Char *hay, *needle;
    int32_t hayLength, needleLength;
    BRM_TRY(ParamString(params, 0, hay, hayLength, hayBuffer));
    BRM_TRY(ParamString(params, 1, needle, needleLength, needleBuffer));
    bool caseSense = false;
    if (Given(params, count, 2)) {
        const Char* text = TokenToString(*params[2], result.buffer);
        if (CompareFoldAZ(text, wcslen(text), L"On", 2) == 0)
            caseSense = true;
        else if (CompareFoldAZ(text, wcslen(text), L"Off", 3) == 0 || CompareFoldAZ(text, wcslen(text), L"Locale", 6) == 0)
            caseSense = false;
        else
            caseSense = TokenToBool(*params[2]);
    }
    int64_t start = 1, occurrence = 1;
    if (Given(params, count, 3))
        BRM_TRY(ParamInteger(params, 3, start));
    if (Given(params, count, 4))
        BRM_TRY(ParamInteger(params, 4, occurrence));
    if (start == 0 || occurrence <= 0)
        return ParamInvalid(start == 0 ? 3 : 4);
    result.value.SetInteger(0);
    if (needleLength > hayLength)
        return Status::Ok;
    int64_t last = hayLength - needleLength;  // last position a match may begin at (0-based)
    if (start > 0) {
        for (int64_t i = start - 1; i <= last; ++i)
            if (MatchAt(hay + i, needle, needleLength, caseSense) && --occurrence == 0) {
                result.value.SetInteger(i + 1);
                return Status::Ok;
            }
    } else {
        // Negative: search right to left, the match ending at or before that position from the end.
        int64_t i = hayLength + start + 1 - needleLength;
        if (i > last)
            i = last;
        for (; i >= 0; --i)
            if (MatchAt(hay + i, needle, needleLength, caseSense) && --occurrence == 0) {
                result.value.SetInteger(i + 1);
                return Status::Ok;
            }
    }
    return Status::Ok;
}

// StrLower (identity 0) and StrUpper (1), by the system's case mapping.
Status StrCase(CallResult& result, ValueToken** params, int) {
    Char buffer[kScratchChars];
    const Char* s;
    int32_t length;
    BRM_TRY(ParamString(params, 0, s, length, buffer));
    BRM_TRY(SetResultText(result, s, static_cast<size_t>(length)));
    Char* text = const_cast<Char*>(result.value.marker);
    if (length) {
        if (Identity(result) == 1)
            CharUpperBuffW(text, static_cast<DWORD>(length));
        else
            CharLowerBuffW(text, static_cast<DWORD>(length));
    }
    return Status::Ok;
}

Status Type(CallResult& result, ValueToken** params, int) {
    if (params[0]->symbol == SymVariable && params[0]->var->IsUnset())
        return RaiseParamTypeError(0, L"value", *params[0]);
    result.value.SetString(TokenTypeName(*params[0]));
    return Status::Ok;
}

// IsSet(var) and IsSetRef(&ref): 0 only for a normal variable that is unset.
Status IsSetRef(CallResult& result, ValueToken** params, int) {
    const ValueToken& t = *params[0];
    Var* var = nullptr;
    if (t.symbol == SymVariable && t.varUsage != VarUsageRead && t.varUsage != VarUsageMaybeUnset) {
        var = t.var;
    } else {
        // A reference made earlier with &, passed by value or in a variable.
        IObject* o = t.symbol == SymObject                           ? t.object
                     : t.symbol == SymVariable && t.var->IsObject() ? t.var->Object()
                                                                     : nullptr;
        if (auto* ref = dynamic_cast<VarRef*>(o))
            var = &ref->Body();
    }
    if (!var)
        return RaiseParamTypeError(0, L"variable reference", t);
    Var* target = var->Target();
    result.value.SetInteger(target->m_type == VarTypeNormal && target->IsUnset() ? 0 : 1);
    return Status::Ok;
}

// name, routine, min, max, identity, output parameters
constexpr BuiltInFuncDef kFunctions[] = {
    {L"Abs", BifAbs, 1, 1, 0, {}},
    {L"ACos", BifASinACos, 1, 1, 1, {}},
    {L"ASin", BifASinACos, 1, 1, 0, {}},
    {L"ATan", BifATan, 1, 1, 0, {}},
    {L"Ceil", BifFloorCeil, 1, 1, 1, {}},
    {L"Chr", Chr, 1, 1, 0, {}},
    {L"Cos", BifCos, 1, 1, 0, {}},
    {L"Exp", BifExp, 1, 1, 0, {}},
    {L"Floor", BifFloorCeil, 1, 1, 0, {}},
    {L"Format", BifFormat, 1, kVariadic, 0, {}},
    {L"FormatTime", BifFormatTime, 0, 2, 0, {}},
    {L"GetMethod", BifGetMethod, 1, 3, 0, {}},
    {L"HasBase", BifHasBase, 2, 2, 0, {}},
    {L"HasMethod", BifGetMethod, 1, 3, 1, {}},
    {L"HasProp", BifHasProp, 2, 2, 0, {}},
    {L"InStr", InStr, 2, 5, 0, {}},
    {L"IsObject", BifIsObject, 1, 1, 0, {}},
    {L"IsSetRef", IsSetRef, 1, 1, 0, {1}},
    {L"Ln", BifSqrtLog, 1, 1, 2, {}},
    {L"Log", BifSqrtLog, 1, 1, 1, {}},
    {L"Max", BifMinMax, 1, kVariadic, 1, {}},
    {L"Min", BifMinMax, 1, kVariadic, 0, {}},
    {L"Mod", BifMod, 2, 2, 0, {}},
    {L"ObjAddRef", BifObjAddRef, 1, 1, 0, {}},
    {L"ObjBindMethod", BifObjBindMethod, 1, kVariadic, 0, {}},
    {L"ObjFromPtr", BifObjPtr, 1, 1, 2, {}},
    {L"ObjFromPtrAddRef", BifObjPtr, 1, 1, 3, {}},
    {L"ObjGetBase", BifObjBase, 1, 1, 0, {}},
    {L"ObjGetCapacity", BifObjOwn, 1, 1, 2, {}},
    {L"ObjHasOwnProp", BifObjOwn, 2, 2, 0, {}},
    {L"ObjOwnPropCount", BifObjOwn, 1, 1, 1, {}},
    {L"ObjOwnProps", BifObjOwn, 1, 1, 4, {}},
    {L"ObjPtr", BifObjPtr, 1, 1, 0, {}},
    {L"ObjPtrAddRef", BifObjPtr, 1, 1, 1, {}},
    {L"ObjRelease", BifObjAddRef, 1, 1, 1, {}},
    {L"ObjSetBase", BifObjBase, 2, 2, 1, {}},
    {L"ObjSetCapacity", BifObjOwn, 2, 2, 3, {}},
    {L"Ord", Ord, 1, 1, 0, {}},
    {L"Random", BifRandom, 0, 2, 0, {}},
    {L"Round", BifRound, 1, 2, 0, {}},
    {L"Sin", BifSin, 1, 1, 0, {}},
    {L"Sort", BifSort, 1, 3, 0, {}},
    {L"Sqrt", BifSqrtLog, 1, 1, 0, {}},
    {L"StrLen", StrLen, 1, 1, 0, {}},
    {L"StrLower", StrCase, 1, 1, 0, {}},
    {L"StrUpper", StrCase, 1, 1, 1, {}},
    {L"SubStr", SubStr, 2, 3, 0, {}},
    {L"Tan", BifTan, 1, 1, 0, {}},
    {L"Type", Type, 1, 1, 0, {}},
};
constexpr size_t kFunctionCount = sizeof(kFunctions) / sizeof(kFunctions[0]);

constexpr bool TableSorted() { return IsSortedByName(kFunctions); }
static_assert(TableSorted(), "built-in functions must be sorted in A-to-Z-folded order for binary search");

constexpr BuiltInFuncDef kIsSetDef = {L"IsSet", IsSetRef, 1, 1, 0, {1}};

BuiltInFunc* s_funcObjects[kFunctionCount];

}  // namespace

BuiltInFunc::BuiltInFunc(const BuiltInFuncDef* d)
    : NativeFunc(d->name, d->minParams, d->maxParams == kVariadic ? d->minParams : d->maxParams,
                 d->maxParams == kVariadic),
      def(d) {}

Status BuiltInFunc::Call(CallResult& result, ValueToken** params, int count) {
    return CallFunctionObject(this, result, params, count);
}

bool BuiltInFunc::IsOutputParam(int zeroBasedIndex) const {
    for (int i = 0; i < kMaxOutputParams && def->outputParams[i]; ++i)
        if (def->outputParams[i] == zeroBasedIndex + 1)
            return true;
    return false;
}

const BuiltInFuncDef* FindBuiltInFunc(const Char* name, size_t length) {
    return FindByName(kFunctions, name, length);
}

BuiltInFunc* GetBuiltInFunc(const BuiltInFuncDef* def) {
    size_t index = static_cast<size_t>(def - kFunctions);
    if (index >= kFunctionCount)
        return nullptr;
    if (!s_funcObjects[index]) {
        void* memory = PoolAlloc(sizeof(BuiltInFunc));
        if (!memory)
            return nullptr;
        s_funcObjects[index] = new (memory) BuiltInFunc(def);
    }
    return s_funcObjects[index];
}

BuiltInFunc* IsSetFunc() {
    static BuiltInFunc* s_isSet = new (PoolAlloc(sizeof(BuiltInFunc))) BuiltInFunc(&kIsSetDef);
    return s_isSet;
}

bool BuiltInFuncTableIsSorted() { return TableSorted(); }

}  // namespace brm
