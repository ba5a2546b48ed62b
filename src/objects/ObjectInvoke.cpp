// Object::InvokeMember: get, set and call along the base chain, with the meta-function fallbacks.
// Any script code run from here (getters, setters, methods) may change the tables being walked, so
// nothing found before such a call is used after it.
#include <cwchar>
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "objects/BuiltInFunctions.h"
#include "objects/Func.h"
#include "objects/Object.h"
#include "objects/ObjectArgs.h"

namespace brm {

ArgsArrayFactory g_newArgsArray = nullptr;

namespace {

inline Object* BaseOf(Object* o) { return static_cast<Object*>(o->GetBase()); }

// Calls an accessor or method with `this` (and a setter's value) before the arguments.
Status CallWithThis(IObject* func, CallResult& result, ValueToken& self, ValueToken* value, ValueToken** params,
                    int paramCount) {
    ArgsWithThis args(self, value, params, paramCount);
    if (!args.Ok())
        return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
    Ref<IObject> keep = Ref<IObject>::Borrow(func);  // the call may redefine the member that held it
    return CallFunction(func, result, args.Array(), args.Count());
}

Status OutOfMemory() { return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory); }

// Applies `[params]` to an intermediate value (a property's value or a getter's result).
Status IndexResult(CallResult& result, CallResult& intermediate, ValueToken** params, int paramCount) {
    return InvokeValueOrFail(result, InvokeGet, nullptr, intermediate.value, params, paramCount);
}

// Calls a value found by name: its default member, with `this` as the first argument.
Status CallFound(CallResult& result, CallResult& callee, ValueToken& self, ValueToken** params, int paramCount) {
    ArgsWithThis args(self, nullptr, params, paramCount);
    if (!args.Ok())
        return OutOfMemory();
    return CallValue(callee.value, result, args.Array(), args.Count());
}

inline bool IsMissingValue(const ValueToken& t) {
    return t.symbol == SymMissing || (t.symbol == SymVariable && t.var->IsUnset());
}

}  // namespace

// Calls the meta-function the chain gives for the kind, if any; for a set, value is V.
static Status InvokeMeta(Object* target, CallResult& result, int kind, const Char* name, ValueToken& self,
                         ValueToken** params, int paramCount, ValueToken* value) {
    IObject* meta = target->FindSpecial(kind == InvokeGet   ? Object::Special::Get
                                        : kind == InvokeSet ? Object::Special::Set
                                                            : Object::Special::Call);
    if (!meta || !g_newArgsArray)
        return Status::NotHandled;
    Object* array = g_newArgsArray(params, paramCount);
    if (!array)
        return OutOfMemory();
    Ref<Object> arrayRef(array);
    Ref<IObject> keep = Ref<IObject>::Borrow(meta);
    ValueToken nameToken, arrayToken;
    nameToken.SetString(name, static_cast<int32_t>(wcslen(name)));
    arrayToken.SetObject(array);
    ArgsWithThis args(self, &nameToken, nullptr, 0, &arrayToken, value);
    if (!args.Ok())
        return OutOfMemory();
    return CallFunction(meta, result, args.Array(), args.Count());
}

Status Object::InvokeMember(CallResult& result, int flags, const Char* name, ValueToken& self, ValueToken** params,
                            int paramCount) {
    const int kind = flags & InvokeKindMask;
    if (!name) {
        name = kind == InvokeCall ? L"Call" : L"__Item";
        flags |= InvokeNoMeta;
    }
    Char scratch[kScratchChars];

    if (kind == InvokeGet) {
        IObject* fallbackMethod = nullptr;
        for (Object* o = this; o; o = BaseOf(o)) {
            Property* p = o->FindOwnProp(name);
            if (!p)
                continue;
            if (!p->IsDynamic()) {
                if (!paramCount)
                    return CopyToResult(*p, result) ? Status::Ok : OutOfMemory();
                CallResult value(scratch);
                if (!CopyToResult(*p, value))
                    return OutOfMemory();
                return IndexResult(result, value, params, paramCount);
            }
            PropDesc* d = p->desc;
            if (d->getterTakesNoArgs) {
                if (!paramCount) {
                    if (d->getter)
                        return CallWithThis(d->getter, result, self, nullptr, nullptr, 0);
                    d->method->AddRef();
                    result.value.SetObject(d->method);
                    return Status::Ok;
                }
                CallResult value(scratch);
                if (d->getter) {
                    BRM_TRY(CallWithThis(d->getter, value, self, nullptr, nullptr, 0));
                } else {
                    d->method->AddRef();
                    value.value.SetObject(d->method);
                }
                return IndexResult(result, value, params, paramCount);
            }
            if (d->getter)
                return CallWithThis(d->getter, result, self, nullptr, params, paramCount);
            if (!fallbackMethod)
                fallbackMethod = d->method;
        }
        if (fallbackMethod) {
            fallbackMethod->AddRef();
            result.value.SetObject(fallbackMethod);
            return Status::Ok;
        }
        if (flags & InvokeNoMeta)
            return Status::NotHandled;
        return InvokeMeta(this, result, kind, name, self, params, paramCount, nullptr);
    }

    if (kind == InvokeCall) {
        IObject* rememberedGetter = nullptr;
        for (Object* o = this; o; o = BaseOf(o)) {
            Property* p = o->FindOwnProp(name);
            if (!p)
                continue;
            if (!p->IsDynamic()) {
                CallResult callee(scratch);
                if (!CopyToResult(*p, callee))
                    return OutOfMemory();
                return CallFound(result, callee, self, params, paramCount);
            }
            PropDesc* d = p->desc;
            if (d->method)
                return CallWithThis(d->method, result, self, nullptr, params, paramCount);
            if (!rememberedGetter && d->getter)
                rememberedGetter = d->getter;
        }
        if (rememberedGetter) {
            CallResult callee(scratch);
            BRM_TRY(CallWithThis(rememberedGetter, callee, self, nullptr, nullptr, 0));
            return CallFound(result, callee, self, params, paramCount);
        }
        if (flags & InvokeNoMeta)
            return Status::NotHandled;
        return InvokeMeta(this, result, kind, name, self, params, paramCount, nullptr);
    }

    // InvokeSet: the last argument is the value; the ones before it are index arguments.
    if (paramCount < 1)
        return Status::NotHandled;
    ValueToken& value = *params[paramCount - 1];
    const int indexCount = paramCount - 1;
    Property* foundValue = nullptr;  // a value entry at which the walk stopped
    Object* foundIn = nullptr;
    PropDesc* remembered = nullptr;
    int ownAt = 0;  // where a new own entry goes; nothing below changes the table before it is used
    for (Object* o = this; o; o = BaseOf(o)) {
        Property* p = o == this ? FindOwnProp(name, &ownAt) : o->FindOwnProp(name);
        if (!p)
            continue;
        if (!p->IsDynamic()) {
            if (!remembered) {
                foundValue = p;
                foundIn = o;
            }
            break;
        }
        PropDesc* d = p->desc;
        if (d->setter && (!indexCount || !d->setterTakesNoArgs))
            return CallWithThis(d->setter, result, self, &value, params, indexCount);
        if ((!remembered && (d->getter || d->method)) || (remembered && !remembered->getter && d->getter))
            remembered = d;
    }
    if (!remembered && !foundValue && !(flags & InvokeNoMeta)) {
        Status s = InvokeMeta(this, result, kind, name, self, params, indexCount, &value);
        if (s != Status::NotHandled)
            return s;
    }
    if (!indexCount) {
        if (remembered || (flags & (InvokeOnBehalf | InvokeSuper))) {
            if (!(flags & InvokeSuper))
                return (remembered || foundValue) ? RaiseMsg(ErrorClass::Error, Msg::PropertyReadOnly)
                                                  : Status::NotHandled;
            if (remembered)
                return RaiseMsg(ErrorClass::Error, Msg::PropertyReadOnly);
            auto* realThis = self.symbol == SymObject ? dynamic_cast<Object*>(self.object) : nullptr;
            if (!realThis)
                return foundValue ? RaiseMsg(ErrorClass::Error, Msg::PropertyReadOnly) : Status::NotHandled;
            if (IsMissingValue(value)) {
                realThis->DeleteOwnProp(name);
                return Status::Ok;
            }
            return realThis->SetOwnProp(name, value);
        }
        if (foundValue && foundIn == this) {
            if (IsMissingValue(value)) {
                DeleteOwnProp(name);
                return Status::Ok;
            }
            Touch();  // before the old value goes
            return AssignProp(*foundValue, value) ? Status::Ok : OutOfMemory();
        }
        if (IsMissingValue(value))
            return Status::Ok;  // an inherited value is never changed, and there is nothing to delete
        return AddOwnPropValue(name, ownAt, value);
    }
    // Indexed assignment: x.Name[A] := V sets __Item of whatever x.Name is.
    if (!remembered && !foundValue)
        return Status::NotHandled;
    CallResult target(scratch);
    if (foundValue && !remembered) {
        if (!CopyToResult(*foundValue, target))
            return OutOfMemory();
    } else if (remembered->getter) {
        BRM_TRY(CallWithThis(remembered->getter, target, self, nullptr, nullptr, 0));
    } else {
        remembered->method->AddRef();
        target.value.SetObject(remembered->method);
    }
    return InvokeValueOrFail(result, InvokeSet, nullptr, target.value, params, paramCount);
}

// --- Accessor shapes ---

namespace {

// Reads MinParams, MaxParams and IsVariadic; a native Func answers directly. Any callable object may be an
// accessor: a property it lacks leaves that part of the shape unknown (0) rather than failing.
Status ReadShape(IObject* func, int64_t& minParams, int64_t& maxParams, bool& variadic) {
    if (auto* f = dynamic_cast<Func*>(func)) {
        minParams = f->MinParams();
        maxParams = f->MaxParams();
        variadic = f->IsVariadic();
        return Status::Ok;
    }
    if (auto* bif = dynamic_cast<BuiltInFunc*>(func)) {
        minParams = bif->MinParams();
        maxParams = bif->MaxParams();
        variadic = bif->IsVariadic();
        return Status::Ok;
    }
    const Char* names[3] = {L"MinParams", L"MaxParams", L"IsVariadic"};
    int64_t values[3] = {0, 0, 0};
    ValueToken self;
    self.SetObject(func);
    for (int i = 0; i < 3; ++i) {
        Char scratch[kScratchChars];
        CallResult r(scratch);
        Status st = InvokeValue(r, InvokeGet, names[i], self, nullptr, 0);
        if (st == Status::NotHandled)
            continue;
        BRM_TRY(st);
        values[i] = TokenToInt64(r.value);
    }
    minParams = values[0];
    maxParams = values[1];
    variadic = values[2] != 0;
    return Status::Ok;
}

}  // namespace

Status RefreshAccessorShape(Object* object, const Char* name) {
    Property* p = object->FindOwnProp(name);
    if (!p || !p->IsDynamic())
        return Status::Ok;
    PropDesc* d = p->desc;
    Ref<IObject> getter = Ref<IObject>::Borrow(d->getter);
    Ref<IObject> setter = Ref<IObject>::Borrow(d->setter);
    bool getterNeedsArgs = false, getterTakesNoArgs = !getter && d->method, setterTakesNoArgs = false;
    int64_t minP, maxP;
    bool variadic;
    if (getter) {
        BRM_TRY(ReadShape(getter.get(), minP, maxP, variadic));
        getterNeedsArgs = minP >= 2;
        getterTakesNoArgs = maxP == 1 && !variadic;
    }
    if (setter) {
        BRM_TRY(ReadShape(setter.get(), minP, maxP, variadic));
        setterTakesNoArgs = maxP == 2 && !variadic;
    }
    // Reading the shapes may have run script code: look the entry up again.
    p = object->FindOwnProp(name);
    if (!p || !p->IsDynamic())
        return Status::Ok;
    p->desc->getterNeedsArgs = getterNeedsArgs;
    p->desc->getterTakesNoArgs = getterTakesNoArgs;
    p->desc->setterTakesNoArgs = setterTakesNoArgs;
    return Status::Ok;
}

}  // namespace brm
