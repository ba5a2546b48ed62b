// The global object functions (IsObject, HasProp, HasMethod, GetMethod, HasBase, ObjGetBase, ObjSetBase and
// the Obj... family) and Object.Prototype's native members.
#include <cwchar>
#include <string>
#include "base/SortedTable.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "objects/BuiltInFunctions.h"
#include "objects/Enumerator.h"
#include "objects/Func.h"
#include "objects/NativeClass.h"
#include "objects/Object.h"
#include "objects/ObjectArgs.h"

namespace brm {

namespace {

// Addresses below this are never objects: the first 64 KB of the address space is never mapped.
constexpr uint64_t kLowestObjectAddress = 65536;

inline int Identity(const CallResult& result) { return static_cast<const BuiltInFunc*>(result.func)->def->identity; }

inline IObject* TokenObject(const ValueToken& t) {
    if (t.symbol == SymObject)
        return t.object;
    if (t.symbol == SymVariable && t.var->IsObject())
        return t.var->Object();
    return nullptr;
}

inline Object* TokenScriptObject(const ValueToken& t) { return dynamic_cast<Object*>(TokenObject(t)); }

inline bool Given(ValueToken** params, int count, int i) { return i < count && TokenKind(*params[i]) != SymMissing; }

Status OutOfMemory() { return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory); }

// A member name from any value: numbers as text, objects refused with a parameter error.
Status NameParam(ValueToken** params, int i, Char* buffer, const Char*& name) {
    if (TokenKind(*params[i]) == SymObject)
        return RaiseParamTypeError(i, L"String", *params[i]);
    int32_t length;
    name = TokenToString(*params[i], buffer, &length);
    return Status::Ok;
}

// The object whose chain a value's members are searched in: an Object itself, another object's base,
// a primitive's prototype.
Object* LookupObject(const ValueToken& value) {
    if (IObject* o = TokenObject(value)) {
        if (auto* obj = dynamic_cast<Object*>(o))
            return obj;
        return dynamic_cast<Object*>(o->GetBase());
    }
    return PrimitivePrototype(value);
}

Status ReturnObject(CallResult& result, IObject* o) {
    if (!o) {
        result.value.SetString(L"", 0);
        return Status::Ok;
    }
    o->AddRef();
    result.value.SetObject(o);
    return Status::Ok;
}

}  // namespace

// --- Global functions ---

Status BifIsObject(CallResult& result, ValueToken** params, int) {
    result.value.SetInteger(TokenObject(*params[0]) ? 1 : 0);
    return Status::Ok;
}

Status BifHasProp(CallResult& result, ValueToken** params, int) {
    Char buffer[kScratchChars];
    const Char* name = nullptr;
    BRM_TRY(NameParam(params, 1, buffer, name));
    int found = 0;
    for (Object* o = LookupObject(*params[0]); o; o = static_cast<Object*>(o->GetBase()))
        if (o->FindOwnProp(name)) {
            found = 1;
            break;
        }
    result.value.SetInteger(found);
    return Status::Ok;
}

// GetMethod (identity 0) and HasMethod (identity 1).
Status BifGetMethod(CallResult& result, ValueToken** params, int count) {
    const bool has = Identity(result) == 1;
    Char buffer[kScratchChars];
    const Char* name = nullptr;
    if (Given(params, count, 1))
        BRM_TRY(NameParam(params, 1, buffer, name));
    IObject* candidate = nullptr;
    if (!name) {
        candidate = TokenObject(*params[0]);
    } else {
        bool sawGetter = false;
        for (Object* o = LookupObject(*params[0]); o; o = static_cast<Object*>(o->GetBase())) {
            Property* p = o->FindOwnProp(name);
            if (!p)
                continue;
            if (p->IsDynamic()) {
                if (p->desc->method) {
                    candidate = p->desc->method;
                    break;
                }
                if (p->desc->getter)
                    sawGetter = true;
                continue;
            }
            if (p->kind == PropKind::Object && !sawGetter)
                candidate = p->object;
            break;
        }
    }
    if (candidate && Given(params, count, 2)) {
        ValueToken n;
        if (!TokenToNumber(*params[2], n) || n.symbol != SymInteger)
            return RaiseParamTypeError(2, L"Integer", *params[2]);
        bool valid = true;
        BRM_TRY(CallbackCheck(candidate, static_cast<int>(n.valueInt64) + (name ? 1 : 0), false, valid));
        if (!valid)
            candidate = nullptr;
    }
    if (has) {
        result.value.SetInteger(candidate ? 1 : 0);
        return Status::Ok;
    }
    if (!candidate)
        return RaiseNoMember(*params[0], InvokeCall, name);
    return ReturnObject(result, candidate);
}

Status BifHasBase(CallResult& result, ValueToken** params, int) {
    IObject* base = TokenObject(*params[1]);
    if (!base)
        return RaiseTypeError(L"object", *params[1]);
    IObject* start;
    if (IObject* o = TokenObject(*params[0]))
        start = o->GetBase();
    else
        start = PrimitivePrototype(*params[0]);
    int found = 0;
    for (IObject* b = start; b; b = b->GetBase())
        if (b == base) {
            found = 1;
            break;
        }
    result.value.SetInteger(found);
    return Status::Ok;
}

// ObjGetBase (identity 0) and ObjSetBase (identity 1).
Status BifObjBase(CallResult& result, ValueToken** params, int) {
    if (Identity(result) == 0) {
        if (IObject* o = TokenObject(*params[0]))
            return ReturnObject(result, o->GetBase());
        return ReturnObject(result, PrimitivePrototype(*params[0]));
    }
    Object* target = TokenScriptObject(*params[0]);
    if (!target)
        return RaiseTypeError(L"Object", *params[0]);
    IObject* base = TokenObject(*params[1]);
    if (!dynamic_cast<Object*>(base))
        return RaiseTypeError(L"Object", *params[1]);
    BRM_TRY(target->SetBase(base));
    result.value.SetString(L"", 0);
    return Status::Ok;
}

// ObjHasOwnProp 0, ObjOwnPropCount 1, ObjGetCapacity 2, ObjSetCapacity 3, ObjOwnProps 4.
Status BifObjOwn(CallResult& result, ValueToken** params, int count) {
    Object* o = TokenScriptObject(*params[0]);
    if (!o)
        return RaiseTypeError(L"Object", *params[0]);
    switch (Identity(result)) {
    case 0: {
        if (count < 2)
            return RaiseMsg(ErrorClass::Error, Msg::TooFewParams, L"ObjHasOwnProp");
        Char buffer[kScratchChars];
        const Char* name = nullptr;
        BRM_TRY(NameParam(params, 1, buffer, name));
        result.value.SetInteger(o->FindOwnProp(name) ? 1 : 0);
        return Status::Ok;
    }
    case 1: result.value.SetInteger(o->OwnPropCount()); return Status::Ok;
    case 2: result.value.SetInteger(o->OwnPropCapacity()); return Status::Ok;
    case 3: {
        ValueToken n;
        if (count < 2 || !TokenToNumber(*params[1], n))
            return count < 2 ? RaiseMsg(ErrorClass::Error, Msg::TooFewParams, L"ObjSetCapacity")
                             : RaiseParamTypeError(1, L"Number", *params[1]);
        int64_t want = n.symbol == SymInteger ? n.valueInt64 : FloatToInt64(n.valueDouble);
        if (want > 0x7FFFFFF)
            return OutOfMemory();
        if (!o->SetOwnPropCapacity(static_cast<int>(want < 0 ? 0 : want)))
            return OutOfMemory();
        result.value.SetInteger(o->OwnPropCapacity());
        return Status::Ok;
    }
    default: {
        // The table itself, not a call of OwnProps: a class may define a method of that name for its own ends.
        IndexEnumerator* e = IndexEnumerator::Create(o, OwnPropsStep, 0);
        if (!e)
            return OutOfMemory();
        result.value.SetObject(e);
        return Status::Ok;
    }
    }
}

// ObjAddRef (identity 0) and ObjRelease (identity 1).
Status BifObjAddRef(CallResult& result, ValueToken** params, int) {
    ValueToken n;
    if (!TokenToNumber(*params[0], n) || n.symbol != SymInteger ||
        static_cast<uint64_t>(n.valueInt64) < kLowestObjectAddress)
        return RaiseParamError(0, *params[0]);
    auto* o = reinterpret_cast<IObject*>(static_cast<uintptr_t>(n.valueInt64));
    result.value.SetInteger(Identity(result) == 0 ? o->AddRef() : o->Release());
    return Status::Ok;
}

// ObjPtr 0, ObjPtrAddRef 1, ObjFromPtr 2, ObjFromPtrAddRef 3.
Status BifObjPtr(CallResult& result, ValueToken** params, int) {
    int id = Identity(result);
    if (id <= 1) {
        IObject* o = TokenObject(*params[0]);
        if (!o)
            return RaiseTypeError(L"object", *params[0]);
        if (id == 1)
            o->AddRef();
        result.value.SetInteger(static_cast<int64_t>(reinterpret_cast<uintptr_t>(o)));
        return Status::Ok;
    }
    ValueToken n;
    if (!TokenToNumber(*params[0], n) || n.symbol != SymInteger ||
        static_cast<uint64_t>(n.valueInt64) < kLowestObjectAddress)
        return RaiseParamError(0, *params[0]);
    auto* o = reinterpret_cast<IObject*>(static_cast<uintptr_t>(n.valueInt64));
    if (id == 3)
        o->AddRef();
    result.value.SetObject(o);  // takes over the reference the script handed back
    return Status::Ok;
}

// --- Object.Prototype ---

namespace {

Status ObjClone(IObject* selfObject, CallResult& result, int, int, ValueToken**, int) {
    auto* self = static_cast<Object*>(selfObject);
    Object* objectProto = BuiltInPrototype(ClassId::Object);
    if (self->NativePrototype() != objectProto)  // Object.Prototype itself has none: not a plain Object
        return RaiseMsg(ErrorClass::TypeError, Msg::TypeMismatchPlain);
    Object* copy = Object::Create(self->GetBase());
    if (!copy)
        return OutOfMemory();
    Ref<Object> keep(copy);
    if (!copy->SetOwnPropCapacity(self->OwnPropCount()))
        return OutOfMemory();
    for (int i = 0; i < self->OwnPropCount(); ++i) {
        const Property& p = self->OwnPropAt(i);
        Property* q = copy->AddOwnProp(p.name, i);
        if (!q)
            return OutOfMemory();
        if (p.IsDynamic()) {
            PropDesc* d = copy->GetOrCreateDynamicProp(p.name);
            if (!d)
                return OutOfMemory();
            *d = *p.desc;
            if (d->getter) d->getter->AddRef();
            if (d->setter) d->setter->AddRef();
            if (d->method) d->method->AddRef();
            continue;
        }
        ValueToken v;
        p.ToToken(v);
        if (v.symbol != SymMissing && !Object::AssignProp(*q, v))
            return OutOfMemory();
    }
    if (self->IsPrototype())
        copy->AddFlags(Object::FlagPrototype);
    result.value.SetObject(keep.Detach());
    return Status::Ok;
}

// Name to text as DefineProp and the other own-property methods want it; an empty name is refused.
Status OwnName(ValueToken** params, int i, Char* buffer, const Char*& name, bool refuseEmpty) {
    BRM_TRY(NameParam(params, i, buffer, name));
    if (refuseEmpty && !*name)
        return RaiseParamError(i, *params[i]);
    return Status::Ok;
}

Status ObjDefineProp(IObject* selfObject, CallResult& result, int, int, ValueToken** params, int) {
    auto* self = static_cast<Object*>(selfObject);
    Char buffer[kScratchChars];
    const Char* name = nullptr;
    BRM_TRY(OwnName(params, 0, buffer, name, true));
    // A name read from a variable points into it, and a __Delete run by the releases below may assign that
    // variable: the name is copied first.
    const std::wstring ownName(name);
    name = ownName.c_str();
    Object* desc = TokenScriptObject(*params[1]);
    if (!desc)
        return RaiseParamError(1, *params[1]);
    IObject* parts[3] = {};
    const Char* partNames[3] = {L"Get", L"Set", L"Call"};
    int present = 0;
    for (int k = 0; k < 3; ++k) {
        ValueToken v;
        Property* p = desc->FindOwnProp(partNames[k]);
        if (!p)
            continue;
        if (p->kind != PropKind::Object)
            return RaiseParamError(1, *params[1]);
        p->ToToken(v);
        parts[k] = v.object;
        ++present;
    }
    Property* valueProp = desc->FindOwnProp(L"Value");
    if ((valueProp && present) || (!valueProp && !present) || (valueProp && valueProp->IsDynamic()))
        return RaiseParamError(1, *params[1]);
    // Hold the parts: defining them may release the descriptor object's last other owner.
    Ref<IObject> held[3];
    for (int k = 0; k < 3; ++k)
        held[k] = Ref<IObject>::Borrow(parts[k]);
    if (valueProp) {
        // The accessors let go here may run a __Delete that changes or drops the descriptor object: hold it,
        // and read its Value only afterwards.
        Ref<IObject> keepDesc = Ref<IObject>::Borrow(desc);
        if (Property* own = self->FindOwnProp(name); own && own->IsDynamic()) {
            self->DeleteOwnProp(name);
            valueProp = desc->FindOwnProp(L"Value");
            if (!valueProp || valueProp->IsDynamic())
                return RaiseParamError(1, *params[1]);
        }
        ValueToken v;
        valueProp->ToToken(v);
        BRM_TRY(self->SetOwnProp(name, v));
    } else {
        if (parts[2])
            BRM_TRY(self->DefineMethod(name, parts[2]));
        if (parts[0] || parts[1]) {
            PropDesc* d = self->GetOrCreateDynamicProp(name);
            if (!d)
                return OutOfMemory();
            for (int k = 0; k < 2; ++k) {
                if (!parts[k])
                    continue;
                IObject*& slot = k == 0 ? d->getter : d->setter;
                parts[k]->AddRef();
                IObject* old = slot;
                slot = parts[k];
                if (old)
                    old->Release();
                d = self->GetOrCreateDynamicProp(name);  // a release may have changed the table
                if (!d)
                    return OutOfMemory();
            }
            BRM_TRY(RefreshAccessorShape(self, name));
        } else if (!self->FindOwnProp(name) || !self->FindOwnProp(name)->IsDynamic()) {
            if (!self->GetOrCreateDynamicProp(name))
                return OutOfMemory();
        }
    }
    return ReturnObject(result, self);
}

Status ObjDeleteProp(IObject* selfObject, CallResult& result, int, int, ValueToken** params, int) {
    auto* self = static_cast<Object*>(selfObject);
    Char buffer[kScratchChars];
    const Char* name = nullptr;
    BRM_TRY(OwnName(params, 0, buffer, name, false));
    Property* p = self->FindOwnProp(name);
    if (!p) {
        result.value.SetString(L"", 0);
        return Status::Ok;
    }
    if (!p->IsDynamic() && !Object::CopyToResult(*p, result))
        return OutOfMemory();
    self->DeleteOwnProp(name);
    return Status::Ok;
}

Status ObjGetOwnPropDesc(IObject* selfObject, CallResult& result, int, int, ValueToken** params, int) {
    auto* self = static_cast<Object*>(selfObject);
    Char buffer[kScratchChars];
    const Char* name = nullptr;
    BRM_TRY(OwnName(params, 0, buffer, name, false));
    Property* p = self->FindOwnProp(name);
    if (!p) {
        ValueToken t;
        t.SetObject(self);
        return RaiseNoMember(t, InvokeGet, name);
    }
    Object* desc = Object::Create();
    if (!desc)
        return OutOfMemory();
    Ref<Object> keep(desc);
    if (!p->IsDynamic()) {
        ValueToken v;
        p->ToToken(v);
        BRM_TRY(desc->SetOwnProp(L"Value", v));
    } else {
        PropDesc d = *p->desc;  // copied: setting properties on desc cannot run script code, but be safe
        if (d.getter) BRM_TRY(desc->SetOwnPropObject(L"Get", d.getter));
        if (d.setter) BRM_TRY(desc->SetOwnPropObject(L"Set", d.setter));
        if (d.method) BRM_TRY(desc->SetOwnPropObject(L"Call", d.method));
    }
    result.value.SetObject(keep.Detach());
    return Status::Ok;
}

Status ObjHasOwnPropMember(IObject* selfObject, CallResult& result, int, int, ValueToken** params, int) {
    auto* self = static_cast<Object*>(selfObject);
    Char buffer[kScratchChars];
    const Char* name = nullptr;
    BRM_TRY(OwnName(params, 0, buffer, name, false));
    result.value.SetInteger(self->FindOwnProp(name) ? 1 : 0);
    return Status::Ok;
}

Status ObjOwnPropsMember(IObject* selfObject, CallResult& result, int, int, ValueToken**, int) {
    IndexEnumerator* e = IndexEnumerator::Create(static_cast<Object*>(selfObject), OwnPropsStep, 0);
    if (!e)
        return OutOfMemory();
    result.value.SetObject(e);
    return Status::Ok;
}

}  // namespace

// Sorted by name (A-to-Z fold).
const ObjectMemberDef kObjectMembers[] = {
    {L"Clone", ObjClone, 0, MemberKind::Method, 0, 0},
    {L"DefineProp", ObjDefineProp, 0, MemberKind::Method, 2, 2},
    {L"DeleteProp", ObjDeleteProp, 0, MemberKind::Method, 1, 1},
    {L"GetOwnPropDesc", ObjGetOwnPropDesc, 0, MemberKind::Method, 1, 1},
    {L"HasOwnProp", ObjHasOwnPropMember, 0, MemberKind::Method, 1, 1},
    {L"OwnProps", ObjOwnPropsMember, 0, MemberKind::Method, 0, 0},
};
const int kObjectMemberCount = sizeof(kObjectMembers) / sizeof(kObjectMembers[0]);

}  // namespace brm

namespace brm {

Status ValueIs(const ValueToken& value, const ValueToken& cls, bool& isInstance) {
    isInstance = false;
    auto* classObject = dynamic_cast<Object*>(TokenObject(cls));
    ValueToken proto;
    if (!classObject || !classObject->GetOwnProp(L"Prototype", proto) || proto.symbol != SymObject)
        return RaiseTypeError(L"Class", cls);
    IObject* start;
    if (IObject* o = TokenObject(value))
        start = o->GetBase();
    else
        start = PrimitivePrototype(value);
    for (IObject* b = start; b; b = b->GetBase())
        if (b == proto.object) {
            isInstance = true;
            break;
        }
    return Status::Ok;
}

Status CreateObjectLiteral(CallResult& result, ValueToken** params, int paramCount) {
    if (paramCount & 1)
        return RaiseMsg(ErrorClass::Error, Msg::InvalidParamCount);
    Object* o = Object::Create();
    if (!o)
        return OutOfMemory();
    Ref<Object> keep(o);
    if (paramCount > 8 && !o->SetOwnPropCapacity(paramCount / 2))
        return OutOfMemory();
    for (int i = 0; i < paramCount; i += 2) {
        ValueToken& key = *params[i];
        ValueToken& value = *params[i + 1];
        if (TokenKind(key) == SymMissing || TokenKind(value) == SymMissing)
            continue;
        Char buffer[kScratchChars];
        const Char* name = TokenToString(key, buffer);
        if (!CompareFoldAZ(name, L"Base")) {
            IObject* base = TokenObject(value);
            if (!base)
                BRM_TRY(RaiseMsg(ErrorClass::ValueError, Msg::InvalidBase));
            else
                BRM_TRY(o->SetBase(base));
            continue;
        }
        BRM_TRY(o->SetOwnProp(name, value));
    }
    result.value.SetObject(keep.Detach());
    return Status::Ok;
}

}  // namespace brm
