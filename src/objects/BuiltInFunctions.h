// The table of classic built-in functions, sorted by name in A-to-Z-folded order, and the function object
// made from a row the first time a script names it.
#pragma once
#include <cstddef>
#include <cstdint>
#include "base/SortedTable.h"
#include "expr/ValueToken.h"
#include "objects/IObject.h"
#include "objects/NativeFunc.h"

namespace brm {

// A classic routine. The result arrives preset to the Integer 0 with result.func naming the BuiltInFunc
// (whose identity selects the behaviour of routines shared by several names); a routine that returns an
// integer writes only the payload. Parameters may be Variable tokens (read them with the token
// conversions); omitted parameters in the middle are Missing tokens, trailing ones are not passed.
// Failures are raised through the routines of exec/Raise.h and returned.
using BuiltInRoutine = Status (*)(CallResult& result, ValueToken** params, int paramCount);

constexpr uint8_t kVariadic = 255;     // max params of a function taking any number of arguments
constexpr int kMaxOutputParams = 7;    // by-reference output parameters examined per function

struct BuiltInFuncDef {
    const Char* name;
    BuiltInRoutine routine;
    uint8_t minParams;
    uint8_t maxParams;  // kVariadic: any number
    uint8_t identity;
    uint8_t outputParams[kMaxOutputParams];  // 1-based parameter numbers; 0 ends the list
};

// The function object of a table row. Created once per row from the pool (never freed); a global constant
// holds it. Its members (Name, MinParams, Bind, ...) come from Func.Prototype like every function's.
class BuiltInFunc final : public NativeFunc {
public:
    explicit BuiltInFunc(const BuiltInFuncDef* d);
    const BuiltInFuncDef* const def;

    Status Call(CallResult& result, ValueToken** params, int count) override;
    bool ArgIsByRef(int index) const override { return IsOutputParam(index); }
    bool IsOutputParam(int zeroBasedIndex) const;
};

// Binary search (A-to-Z fold) of the table; null when there is no such function.
const BuiltInFuncDef* FindBuiltInFunc(const Char* name, size_t length);
// The function object for a row, created on first use.
BuiltInFunc* GetBuiltInFunc(const BuiltInFuncDef* def);
// The `IsSet` function the compiler binds `IsSet(var)` to.
BuiltInFunc* IsSetFunc();
// Start-up self-check for test builds: true when the table is in strictly ascending folded order.
bool BuiltInFuncTableIsSorted();

// Routines that live with other subsystems but are bound through this table.
// objects/ObjectFunctions.cpp
Status BifIsObject(CallResult& result, ValueToken** params, int paramCount);
Status BifHasProp(CallResult& result, ValueToken** params, int paramCount);
Status BifGetMethod(CallResult& result, ValueToken** params, int paramCount);  // GetMethod 0, HasMethod 1
Status BifHasBase(CallResult& result, ValueToken** params, int paramCount);
Status BifObjBase(CallResult& result, ValueToken** params, int paramCount);    // ObjGetBase 0, ObjSetBase 1
Status BifObjOwn(CallResult& result, ValueToken** params, int paramCount);     // ObjHasOwnProp .. ObjOwnProps 0-4
Status BifObjAddRef(CallResult& result, ValueToken** params, int paramCount);  // ObjAddRef 0, ObjRelease 1
Status BifObjPtr(CallResult& result, ValueToken** params, int paramCount);     // ObjPtr .. ObjFromPtrAddRef 0-3

}  // namespace brm
