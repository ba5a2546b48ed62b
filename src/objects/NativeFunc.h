// The function objects behind built-in members: NativeFunc (the common part), BuiltInMethod (a row of a
// plain member table bound to a prototype) and RoutineFunc (a class's `Call`, `__Init` and other natives
// that need no table row). They are made once, from the never-freed pool, and live for the whole run.
#pragma once
#include <type_traits>
#include "objects/Func.h"
#include "objects/Object.h"

namespace brm {

class NativeFunc : public Func {
public:
    bool IsBuiltIn() const override { return true; }
    // A call of the default member (a null name) runs the function; everything else goes to Func.Prototype.
    Status InvokeMember(CallResult& result, int flags, const Char* name, ValueToken& thisToken, ValueToken** params,
                        int paramCount) override;
    IObject* GetBase() override;

protected:
    NativeFunc(const Char* name, int minParams, int maxParams, bool isVariadic);
    // Whether CheckArgCount looks for omitted required arguments, or the caller reports them by number.
    // ExceptValue: a setter whose assigned value (the argument after `this`) may be unset.
    enum class Omitted { Check, LeftToCaller, ExceptValue };
    // The shared argument checks: too many, too few, a required one omitted. Fail is raised.
    Status CheckArgCount(ValueToken** params, int& count, Omitted omitted = Omitted::Check);
    // A method's `this` must be an object that is an instance of owner; otherwise the type error naming the
    // owner's class (a continued one leaves the result "", and self null).
    static Status CheckThis(Object* owner, const ValueToken& thisArg, CallResult& result, IObject*& self);
    bool Delete() override { return true; }  // pool memory: never freed
};

class BuiltInMethod final : public NativeFunc {
public:
    // name is the full "<Class>.Prototype.<Name>[.Get|.Set]" from the pool; invokeKind the kind this object
    // serves (InvokeGet for a getter, InvokeSet for a setter, InvokeCall for a method).
    static BuiltInMethod* Create(const Char* name, const ObjectMemberDef* def, Object* owner, int invokeKind);
    Status Call(CallResult& result, ValueToken** params, int count) override;

private:
    BuiltInMethod(const Char* name, const ObjectMemberDef* def, Object* owner, int invokeKind, int minParams,
                  int maxParams, bool variadic);
    const ObjectMemberDef* m_def;
    Object* m_owner;
    int m_invokeKind;
};

// A native function given by a classic routine shape; params include `this` where the function is a method.
using NativeRoutine = Status (*)(CallResult& result, ValueToken** params, int count);

class RoutineFunc final : public NativeFunc {
public:
    static RoutineFunc* Create(const Char* name, NativeRoutine routine, int minParams, int maxParams, bool variadic);
    // result.func is this object while the routine runs, so one routine can serve several functions.
    Status Call(CallResult& result, ValueToken** params, int count) override;
    void SetData(void* data) { m_data = data; }
    void* Data() const { return m_data; }

private:
    RoutineFunc(const Char* name, NativeRoutine routine, int minParams, int maxParams, bool variadic)
        : NativeFunc(name, minParams, maxParams, variadic), m_routine(routine) {}
    NativeRoutine m_routine;
    void* m_data = nullptr;
};

}  // namespace brm
