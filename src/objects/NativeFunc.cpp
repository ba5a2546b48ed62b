// NativeFunc, BuiltInMethod and RoutineFunc: the argument checks shared by native functions and the
// `this` check of methods.
#include "objects/NativeFunc.h"
#include <new>
#include "base/Pool.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"

namespace brm {

namespace {

// Func may or may not carry the Object record; a native function's base is Func.Prototype either way.
template <class F>
void InitFuncBase(F* f) {
    if constexpr (std::is_base_of_v<Object, F>)
        f->SetBaseUnchecked(BuiltInPrototype(ClassId::Func));
}

template <class F>
IObject* FuncBase(F* f) {
    if constexpr (std::is_base_of_v<Object, F>)
        return f->F::GetBase();
    else
        return BuiltInPrototype(ClassId::Func);
}

inline bool IsOmitted(const ValueToken* t) { return t->symbol == SymMissing; }

}  // namespace

NativeFunc::NativeFunc(const Char* name, int minParams, int maxParams, bool isVariadic)
    : Func(name, minParams, maxParams, isVariadic) {
    InitFuncBase<Func>(this);
}

IObject* NativeFunc::GetBase() { return FuncBase<Func>(this); }

Status NativeFunc::InvokeMember(CallResult& result, int flags, const Char* name, ValueToken& thisToken,
                                ValueToken** params, int paramCount) {
    if (!name && (flags & InvokeKindMask) == InvokeCall && !OwnPropCount())
        return Call(result, params, paramCount);
    return Func::InvokeMember(result, flags, name, thisToken, params, paramCount);
}

Status NativeFunc::CheckArgCount(ValueToken** params, int& count, Omitted omitted) {
    // Trailing omitted arguments are dropped only when there are too many; a variadic method receives them.
    while (count > m_maxParams && !m_isVariadic && count > 0 && IsOmitted(params[count - 1]))
        --count;
    if (count > m_maxParams && !m_isVariadic)
        return RaiseMsg(ErrorClass::Error, Msg::TooManyParams, m_name);
    if (count < m_minParams)
        return RaiseMsg(ErrorClass::Error, Msg::TooFewParams, m_name);
    for (int i = 0; omitted != Omitted::LeftToCaller && i < m_minParams; ++i)
        if (IsOmitted(params[i]) && !(omitted == Omitted::ExceptValue && i == 1))
            return RaiseMsg(ErrorClass::Error, Msg::MissingRequiredParam);  // no name, unlike the counts
    return Status::Ok;
}

// --- BuiltInMethod ---

BuiltInMethod::BuiltInMethod(const Char* name, const ObjectMemberDef* def, Object* owner, int invokeKind,
                             int minParams, int maxParams, bool variadic)
    : NativeFunc(name, minParams, maxParams, variadic), m_def(def), m_owner(owner), m_invokeKind(invokeKind) {}

BuiltInMethod* BuiltInMethod::Create(const Char* name, const ObjectMemberDef* def, Object* owner, int invokeKind) {
    int fixed = invokeKind == InvokeSet ? 2 : 1;  // `this`, and a setter's value
    bool variadic = def->maxParams == 255;
    int minParams = fixed + def->minParams;
    int maxParams = fixed + (variadic ? def->minParams : def->maxParams);
    void* memory = PoolAlloc(sizeof(BuiltInMethod));
    if (!memory)
        return nullptr;
    return new (memory) BuiltInMethod(name, def, owner, invokeKind, minParams, maxParams, variadic);
}

Status BuiltInMethod::Call(CallResult& result, ValueToken** params, int count) {
    const bool unsetValue = m_invokeKind == InvokeSet && m_def->kind == MemberKind::ItemProperty;
    BRM_TRY(CheckArgCount(params, count, unsetValue ? Omitted::ExceptValue : Omitted::Check));
    IObject* self;
    Status s = CheckThis(m_owner, *params[0], result, self);
    if (!self)
        return s;
    return m_def->routine(self, result, m_def->identity, m_invokeKind, params + 1, count - 1);
}

Status NativeFunc::CheckThis(Object* owner, const ValueToken& t, CallResult& result, IObject*& self) {
    self = nullptr;
    if (t.symbol == SymObject)
        self = t.object;
    else if (t.symbol == SymVariable && t.var->IsObject())
        self = t.var->Object();
    if (self && self->IsOfType(owner))
        return Status::Ok;
    self = nullptr;
    ValueToken className;
    if (!owner->GetOwnProp(L"__Class", className) || className.symbol != SymString)
        className.SetString(L"Object", 6);
    Status s = RaiseTypeError(className.marker, t);
    if (s == Status::Ok)
        result.value.SetString(L"", 0);
    return s;
}

// --- RoutineFunc ---

RoutineFunc* RoutineFunc::Create(const Char* name, NativeRoutine routine, int minParams, int maxParams,
                                 bool variadic) {
    void* memory = PoolAlloc(sizeof(RoutineFunc));
    if (!memory)
        return nullptr;
    return new (memory) RoutineFunc(name, routine, minParams, maxParams, variadic);
}

Status RoutineFunc::Call(CallResult& result, ValueToken** params, int count) {
    BRM_TRY(CheckArgCount(params, count));
    result.func = this;
    return m_routine(result, params, count);
}

}  // namespace brm
