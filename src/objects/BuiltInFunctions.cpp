// The classic built-in function table and the value routines that are cheap enough to live with it.
// Rows are sorted by name with the A-to-Z fold; a static_assert keeps them that way.
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
#include "interop/DllCall.h"
#include "interop/NativeMemory.h"
#include "lib/DateFunctions.h"
#include "lib/Format.h"
#include "lib/MathFunctions.h"
#include "lib/RegEx.h"
#include "lib/Sort.h"
#include "lib/StringFunctions.h"
#include "objects/Func.h"
#include "objects/Object.h"
#include "objects/VarRef.h"
#include "system/Launch.h"
#include "system/Registry.h"

namespace brm {

namespace {

// --- Values ---

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
    {L"Chr", BifChr, 1, 1, 0, {}},
    {L"ComCall", BifDllCall, 2, kVariadic, 1, {}},
    {L"Cos", BifCos, 1, 1, 0, {}},
    {L"DllCall", BifDllCall, 1, kVariadic, 0, {}},
    {L"Exp", BifExp, 1, 1, 0, {}},
    {L"Floor", BifFloorCeil, 1, 1, 0, {}},
    {L"Format", BifFormat, 1, kVariadic, 0, {}},
    {L"FormatTime", BifFormatTime, 0, 2, 0, {}},
    {L"GetMethod", BifGetMethod, 1, 3, 0, {}},
    {L"HasBase", BifHasBase, 2, 2, 0, {}},
    {L"HasMethod", BifGetMethod, 1, 3, 1, {}},
    {L"HasProp", BifHasProp, 2, 2, 0, {}},
    {L"InStr", BifInStr, 2, 5, 0, {}},
    {L"IsAlnum", BifIsType, 1, 2, 7, {}},
    {L"IsAlpha", BifIsType, 1, 2, 8, {}},
    {L"IsDigit", BifIsType, 1, 1, 5, {}},
    {L"IsFloat", BifIsType, 1, 1, 3, {}},
    {L"IsInteger", BifIsType, 1, 1, 2, {}},
    {L"IsLower", BifIsType, 1, 2, 10, {}},
    {L"IsNumber", BifIsType, 1, 1, 1, {}},
    {L"IsObject", BifIsObject, 1, 1, 0, {}},
    {L"IsSetRef", IsSetRef, 1, 1, 0, {1}},
    {L"IsSpace", BifIsType, 1, 1, 11, {}},
    {L"IsTime", BifIsType, 1, 1, 4, {}},
    {L"IsUpper", BifIsType, 1, 2, 9, {}},
    {L"IsXDigit", BifIsType, 1, 1, 6, {}},
    {L"Ln", BifSqrtLog, 1, 1, 2, {}},
    {L"Log", BifSqrtLog, 1, 1, 1, {}},
    {L"LTrim", BifTrim, 1, 2, 1, {}},
    {L"Max", BifMinMax, 1, kVariadic, 1, {}},
    {L"Min", BifMinMax, 1, kVariadic, 0, {}},
    {L"Mod", BifMod, 2, 2, 0, {}},
    {L"NumGet", BifNumGet, 2, 3, 0, {}},
    {L"NumPut", BifNumPut, 3, kVariadic, 0, {}},
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
    {L"Ord", BifOrd, 1, 1, 0, {}},
    {L"Random", BifRandom, 0, 2, 0, {}},
    {L"RegCreateKey", BifRegistry, 0, 1, 2, {}},
    {L"RegDelete", BifRegistry, 0, 2, 3, {}},
    {L"RegDeleteKey", BifRegistry, 0, 1, 4, {}},
    {L"RegExMatch", BifRegEx, 2, 4, 0, {3}},
    {L"RegExReplace", BifRegEx, 2, 6, 1, {4}},
    {L"RegRead", BifRegistry, 0, 3, 0, {}},
    {L"RegWrite", BifRegistry, 1, 4, 1, {}},
    {L"Round", BifRound, 1, 2, 0, {}},
    {L"RTrim", BifTrim, 1, 2, 2, {}},
    {L"RunWait", BifRunWait, 1, 4, 0, {4}},
    {L"Sin", BifSin, 1, 1, 0, {}},
    {L"Sort", BifSort, 1, 3, 0, {}},
    {L"SplitPath", BifSplitPath, 1, 6, 0, {2, 3, 4, 5, 6}},
    {L"Sqrt", BifSqrtLog, 1, 1, 0, {}},
    {L"StrCompare", BifStrCompare, 2, 3, 0, {}},
    {L"StrGet", BifStrGetPut, 1, 3, 0, {}},
    {L"StrLen", BifStrLen, 1, 1, 0, {}},
    {L"StrLower", BifStrCase, 1, 1, 0, {}},
    {L"StrPtr", BifStrPtr, 1, 1, 0, {}},
    {L"StrPut", BifStrGetPut, 1, 4, 1, {}},
    {L"StrReplace", BifStrReplace, 2, 6, 0, {5}},
    {L"StrTitle", BifStrCase, 1, 1, 2, {}},
    {L"StrUpper", BifStrCase, 1, 1, 1, {}},
    {L"SubStr", BifSubStr, 2, 3, 0, {}},
    {L"Tan", BifTan, 1, 1, 0, {}},
    {L"Trim", BifTrim, 1, 2, 0, {}},
    {L"Type", Type, 1, 1, 0, {}},
    {L"VarSetStrCapacity", BifVarSetStrCapacity, 1, 2, 0, {1}},
    {L"VerCompare", BifVerCompare, 2, 2, 0, {}},
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
