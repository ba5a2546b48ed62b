// Enumeration: the protocol For and other callers use (__Enum, then calls with variable references), and
// IndexEnumerator, the one enumerator object of the native collections (arrays, maps, own properties).
#pragma once
#include <cstdint>
#include "expr/Var.h"
#include "objects/Func.h"
#include "objects/Object.h"

namespace brm {

enum class StepResult : uint8_t { Continue, End };

// One step of a collection at a 0-based position (a step that skips entries advances it). mode is 1 (one variable) or 2 (two). The variables are
// unset on entry; second is null in mode 1. Returns Ok with `step` set, or the failure status.
using EnumStep = Status (*)(Object* target, uint32_t& position, int mode, Var* first, Var* second, StepResult& step);

class IndexEnumerator final : public Func {
public:
    // Holds a reference to target. varCount is the count asked of __Enum (0: none given). Null: out of memory.
    static IndexEnumerator* Create(Object* target, EnumStep step, int varCount);

    const Char* TypeName() override { return L"Enumerator"; }
    IObject* GetBase() override;
    bool IsBuiltIn() const override { return true; }
    bool ArgIsByRef(int) const override { return true; }
    Status Call(CallResult& result, ValueToken** params, int count) override;

private:
    IndexEnumerator(Object* target, EnumStep step, int varCount);
    ~IndexEnumerator() override;

    Object* m_target;
    int64_t m_position = -1;
    EnumStep m_step;
};

// The variable a by-reference argument names: a Variable token's target, or a VarRef's body. Null otherwise.
Var* ReferencedVar(ValueToken& token);

// Asks value for an enumerator of varCount variables (value itself when it has no __Enum). On Ok,
// enumerator holds a new reference, or is null when an error was raised and OnError chose to continue.
Status GetEnumerator(ValueToken& value, int varCount, IObject*& enumerator);
// One step: unsets the referenced variables, calls the enumerator with the tokens; more is the truth of
// its result (false at once for a null enumerator). "Value not enumerable." when the enumerator cannot be
// called.
Status CallEnumerator(IObject* enumerator, ValueToken** refs, int count, bool& more);

class Array;
// The values value enumerates with one variable, collected into a new Array (a spread argument `f(x*)` whose
// value is not an Array). On Ok, out holds a new reference.
Status EnumerateToArray(ValueToken& value, Array*& out);

// The step over own properties (OwnProps) for IndexEnumerator.
Status OwnPropsStep(Object* target, uint32_t& position, int mode, Var* first, Var* second, StepResult& step);

}  // namespace brm
