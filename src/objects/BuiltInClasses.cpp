// The built-in class tree: prototypes and class objects made once at start-up, their global constants,
// the `Call` of the instantiable classes and the conversions behind String(), Number(), Integer(), Float().
#include <cwchar>
#include "base/Pool.h"
#include "exec/GlobalVars.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "lib/RegExMatchInfo.h"
#include "objects/Array.h"
#include "objects/Buffer.h"
#include "objects/BuiltInFunctions.h"
#include "objects/ErrorObjects.h"
#include "objects/Func.h"
#include "objects/Map.h"
#include "objects/NativeClass.h"
#include "objects/NativeFunc.h"
#include "objects/Object.h"
#include "startup/UserMenu.h"
#include "system/FileObject.h"

namespace brm {

namespace {

constexpr int kClassCount = static_cast<int>(ClassId::Count);

struct ClassRow {
    const Char* name;
    ClassId parent;
};

constexpr ClassRow kClassRows[] = {
#define BRM_CLASS_ROW(id, name, parent) {name, ClassId::parent},
    BRM_BUILTIN_CLASSES(BRM_CLASS_ROW)
#undef BRM_CLASS_ROW
};

constexpr bool ParentsPrecede() {
    for (int i = 1; i < kClassCount; ++i)
        if (static_cast<int>(kClassRows[i].parent) >= i)
            return false;
    return true;
}
static_assert(ParentsPrecede(), "a built-in class must be listed after its parent");

Object* s_prototypes[kClassCount];
Object* s_classes[kClassCount];
NativeClassDef s_native[kClassCount];  // filled by RegisterNativeClass before start-up builds the tree

enum class DescPartKind { Getter, Setter, Method };

Status OutOfMemory() { return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory); }

// "%s.Call" and the like, from the pool (the function objects live for the whole run).
const Char* PoolName(const Char* a, const Char* b, const Char* c = L"") {
    size_t la = wcslen(a), lb = wcslen(b), lc = wcslen(c);
    Char buffer[512];
    if (la + lb + lc >= 512)
        return L"";
    wmemcpy(buffer, a, la);
    wmemcpy(buffer + la, b, lb);
    wmemcpy(buffer + la + lb, c, lc);
    const Char* copy = PoolStrDup(buffer, la + lb + lc);
    return copy ? copy : L"";
}

// --- Instance creation ---

// The own Prototype of the class being called (`this`, params[0]), or null when it has none.
Object* CalledPrototype(ValueToken** params) {
    IObject* cls = nullptr;
    const ValueToken& t = *params[0];
    if (t.symbol == SymObject)
        cls = t.object;
    else if (t.symbol == SymVariable && t.var->IsObject())
        cls = t.var->Object();
    Object* classObject = AsObject(cls);
    ValueToken proto;
    if (classObject && classObject->GetOwnProp(L"Prototype", proto) && proto.symbol == SymObject)
        return AsObject(proto.object);
    return nullptr;
}

// Runs __Init and __New on the new instance, which the result then holds.
Status Initialize(Object* instance, CallResult& result, ValueToken** params, int count) {
    Ref<Object> keep(instance);
    // The class in params[0] gives way to the instance for the construction: __New receives the
    // arguments as they stand, with `this` in front, and no new array is built.
    ValueToken self;
    self.SetObject(instance);
    ValueToken* const cls = params[0];
    params[0] = &self;
    Status st = instance->ConstructWithThis(params, count);
    params[0] = cls;
    BRM_TRY(st);
    result.value.SetObject(keep.Detach());
    return Status::Ok;
}

// Step shared by every instantiable class: `this` (params[0]) is the class actually called; its own
// Prototype becomes the new instance's base, then __Init and __New run.
Status FinishInstance(Object* instance, CallResult& result, ValueToken** params, int count) {
    Ref<Object> keep(instance);
    Object* protoObject = CalledPrototype(params);
    if (!protoObject)
        return RaiseParamError(0, *params[0]);
    if (protoObject != instance->GetBase())
        BRM_TRY(instance->SetBase(protoObject));  // continued: construction goes on with the old base
    return Initialize(keep.Detach(), result, params, count);
}

Status ClassCall(CallResult& result, ValueToken** params, int count) {
    auto* self = static_cast<RoutineFunc*>(result.func);
    auto create = reinterpret_cast<NativeCreate>(self->Data());
    if (!create) {
        // A plain instance is born with its base when the base change below would be allowed (the same
        // native type as a plain Object's): the result is the same, without the detour.
        Object* proto = CalledPrototype(params);
        const auto nativeOf = [](Object* o) {
            return (o->Flags() & Object::FlagNativeType) ? o : o->NativePrototype();
        };
        if (proto && nativeOf(proto) == nativeOf(BuiltInPrototype(ClassId::Object))) {
            Object* instance = Object::Create(proto);
            if (!instance)
                return OutOfMemory();
            return Initialize(instance, result, params, count);
        }
    }
    Object* instance = create ? create() : Object::Create();
    if (!instance)
        return OutOfMemory();
    return FinishInstance(instance, result, params, count);
}

// The Array of arguments a meta-function receives.
Object* NewArgsArray(ValueToken** items, int count) {
    Array* a = Array::Create();
    if (a && a->Append(items, count) != Status::Ok) {
        a->Release();
        return nullptr;
    }
    return a;
}

Status AnyInit(CallResult& result, ValueToken**, int) {
    result.value.SetString(L"", 0);
    return Status::Ok;
}

// --- Conversions: the Call of String, Number, Integer and Float (params[0] is the class) ---

Status StringCall(CallResult& result, ValueToken** params, int) {
    ValueToken& v = *params[1];
    if (TokenKind(v) == SymObject) {
        Status s = InvokeValueOrFail(result, InvokeCall, L"ToString", v, nullptr, 0);
        return s;
    }
    if (TokenKind(v) == SymMissing) {
        result.value.SetString(L"", 0);
        return Status::Ok;
    }
    int32_t length;
    const Char* text = TokenToString(v, result.buffer, &length);
    if (length < 0)
        length = static_cast<int32_t>(wcslen(text));
    if (text != result.buffer) {
        Char* target = result.buffer;
        if (length >= kScratchChars) {
            target = static_cast<Char*>(malloc((static_cast<size_t>(length) + 1) * sizeof(Char)));
            if (!target)
                return OutOfMemory();
            result.memToFree = target;
        }
        wmemcpy(target, text, static_cast<size_t>(length));
        target[length] = L'\0';
        text = target;
    }
    result.value.SetString(text, length);
    return Status::Ok;
}

Status NumberCall(CallResult& result, ValueToken** params, int) {
    ValueToken n;
    if (!TokenToNumber(*params[1], n))
        return RaiseParamTypeError(0, L"Number", *params[1]);
    result.value = n;
    return Status::Ok;
}

Status IntegerCall(CallResult& result, ValueToken** params, int) {
    if (TokenIsNumeric(*params[1]) == NumericKind::None)
        return RaiseParamTypeError(0, L"Number", *params[1]);
    result.value.SetInteger(TokenToInt64(*params[1]));
    return Status::Ok;
}

Status FloatCall(CallResult& result, ValueToken** params, int) {
    if (TokenIsNumeric(*params[1]) == NumericKind::None)
        return RaiseParamTypeError(0, L"Number", *params[1]);
    result.value.SetFloat(TokenToDouble(*params[1], HexCheck::Yes));
    return Status::Ok;
}

Status DefineCall(Object* cls, const Char* className, NativeRoutine routine, int minParams, int maxParams,
                  bool variadic, void* data = nullptr) {
    RoutineFunc* f = RoutineFunc::Create(PoolName(className, L".Call"), routine, minParams, maxParams, variadic);
    if (!f)
        return OutOfMemory();
    f->SetData(data);
    return cls->DefineMethod(L"Call", f);
}

Status DefineClassGlobal(const Char* name, Object* cls) {
    Var* v = FindOrAddGlobal(name, wcslen(name));
    if (!v)
        return Status::Fail;
    cls->AddRef();
    v->m_object = cls;
    v->m_attrib = VarAttribObject | VarAttribNotNumeric;
    v->m_type = VarTypeConstant;
    return Status::Ok;
}

// The classic functions that are also members of Any.Prototype.
Status DefineFromTable(Object* proto, const Char* member, const Char* function, DescPartKind part) {
    const BuiltInFuncDef* def = FindBuiltInFunc(function, wcslen(function));
    BuiltInFunc* f = def ? GetBuiltInFunc(def) : nullptr;
    if (!f)
        return OutOfMemory();
    switch (part) {
    case DescPartKind::Getter: return proto->DefineGetter(member, f);
    case DescPartKind::Setter: return proto->DefineSetter(member, f);
    default: return proto->DefineMethod(member, f);
    }
}

Status BuildAnyPrototype(Object* any) {
    BRM_TRY(DefineFromTable(any, L"GetMethod", L"GetMethod", DescPartKind::Method));
    BRM_TRY(DefineFromTable(any, L"HasBase", L"HasBase", DescPartKind::Method));
    BRM_TRY(DefineFromTable(any, L"HasMethod", L"HasMethod", DescPartKind::Method));
    BRM_TRY(DefineFromTable(any, L"HasProp", L"HasProp", DescPartKind::Method));
    BRM_TRY(DefineFromTable(any, L"Base", L"ObjGetBase", DescPartKind::Getter));
    BRM_TRY(DefineFromTable(any, L"Base", L"ObjSetBase", DescPartKind::Setter));
    RoutineFunc* init = RoutineFunc::Create(L"Any.Prototype.__Init", AnyInit, 1, 1, false);
    if (!init)
        return OutOfMemory();
    g_trivialInit = init;
    return any->DefineMethod(L"__Init", init);
}

}  // namespace

void RegisterNativeClass(ClassId id, const NativeClassDef& def) { s_native[static_cast<int>(id)] = def; }

Object* BuiltInPrototype(ClassId id) { return s_prototypes[static_cast<int>(id)]; }
Object* BuiltInClass(ClassId id) { return s_classes[static_cast<int>(id)]; }

Object* CreatePrototype(const Char* className, IObject* base) {
    Object* proto = Object::Create(base);
    if (!proto)
        return nullptr;
    ValueToken name;
    name.SetString(className, -1);
    int at;
    Property* p = proto->FindOwnProp(L"__Class", &at);
    if (!p)
        p = proto->AddOwnProp(L"__Class", at);
    if (!p || !Object::AssignProp(*p, name)) {
        proto->Release();
        return nullptr;
    }
    proto->AddFlags(Object::FlagPrototype);
    return proto;
}

Object* CreateClassObject(Object* prototype, IObject* baseClass) {
    Object* cls = Object::Create(baseClass);
    if (!cls)
        return nullptr;
    ValueToken p;
    p.SetObject(prototype);
    int at;
    Property* entry = cls->FindOwnProp(L"Prototype", &at);
    if (!entry)
        entry = cls->AddOwnProp(L"Prototype", at);
    if (!entry || !Object::AssignProp(*entry, p)) {
        cls->Release();
        return nullptr;
    }
    return cls;
}

Status CreateBuiltInClasses() {
    if (s_prototypes[0])
        return Status::Ok;
    // The native classes' member tables; registering twice is harmless, so callers need not do it first.
    RegisterErrorClasses();
    RegisterArrayClass();
    RegisterMapClass();
    RegisterFuncClass();
    RegisterRegExMatchClass();
    RegisterMenuClasses();
    RegisterBufferClass();
    RegisterFileClass();
    const auto idx = [](ClassId id) { return static_cast<int>(id); };
    // The roots first: Object.Prototype must exist before any Object::Create() without a base.
    Object* any = CreatePrototype(L"Any", nullptr);
    if (!any)
        return OutOfMemory();
    s_prototypes[idx(ClassId::Any)] = any;
    const ClassId roots[] = {ClassId::Object, ClassId::Func, ClassId::Class};
    for (ClassId id : roots) {
        Object* base = id == ClassId::Object ? any : s_prototypes[idx(ClassId::Object)];
        if (!(s_prototypes[idx(id)] = CreatePrototype(kClassRows[idx(id)].name, base)))
            return OutOfMemory();
    }
    Object* classProto = s_prototypes[idx(ClassId::Class)];
    for (int i = 0; i < kClassCount; ++i) {
        const ClassRow& row = kClassRows[i];
        Object* parentProto = i ? s_prototypes[idx(row.parent)] : nullptr;
        if (!s_prototypes[i] && !(s_prototypes[i] = CreatePrototype(row.name, parentProto)))
            return OutOfMemory();
        Object* proto = s_prototypes[i];
        const NativeClassDef& native = s_native[i];
        if (native.members && native.memberCount)
            BRM_TRY(AddNativeMembers(proto, row.name, native.members, native.memberCount));
        if (native.bindMembers)
            BRM_TRY(native.bindMembers(proto));
        IObject* baseClass = i ? static_cast<IObject*>(s_classes[idx(row.parent)]) : classProto;
        if (!(s_classes[i] = CreateClassObject(proto, baseClass)))
            return OutOfMemory();
        BRM_TRY(DefineClassGlobal(row.name, s_classes[i]));
    }
    Object* objectProto = s_prototypes[idx(ClassId::Object)];
    if (!s_native[idx(ClassId::Object)].members)
        BRM_TRY(AddNativeMembers(objectProto, L"Object", kObjectMembers, kObjectMemberCount));
    BRM_TRY(BuildAnyPrototype(any));
    g_newArgsArray = NewArgsArray;
    // Instantiable classes: Object, and every registered class that makes its own native instances.
    BRM_TRY(DefineCall(s_classes[idx(ClassId::Object)], L"Object", ClassCall, 1, 1, true));
    for (int i = 0; i < kClassCount; ++i)
        if (s_native[i].create)
            BRM_TRY(DefineCall(s_classes[i], kClassRows[i].name, ClassCall, 1, 1, true,
                               reinterpret_cast<void*>(s_native[i].create)));
    BRM_TRY(DefineCall(s_classes[idx(ClassId::String)], L"String", StringCall, 2, 2, false));
    BRM_TRY(DefineCall(s_classes[idx(ClassId::Number)], L"Number", NumberCall, 2, 2, false));
    BRM_TRY(DefineCall(s_classes[idx(ClassId::Integer)], L"Integer", IntegerCall, 2, 2, false));
    BRM_TRY(DefineCall(s_classes[idx(ClassId::Float)], L"Float", FloatCall, 2, 2, false));
    // An Error counts as a plain Object for Clone and base changes.
    s_prototypes[idx(ClassId::Error)]->RemoveFlags(Object::FlagNativeType);
    s_prototypes[idx(ClassId::OSError)]->RemoveFlags(Object::FlagNativeType);
    return Status::Ok;
}

Status AddNativeMembers(Object* prototype, const Char* className, const ObjectMemberDef* rows, int count) {
    prototype->AddFlags(Object::FlagNativeType);
    for (int i = 0; i < count; ++i) {
        const ObjectMemberDef& row = rows[i];
        if (row.kind == MemberKind::Method) {
            BuiltInMethod* m =
                BuiltInMethod::Create(PoolName(className, L".Prototype.", row.name), &row, prototype, InvokeCall);
            if (!m)
                return OutOfMemory();
            BRM_TRY(prototype->DefineMethod(row.name, m));
            continue;
        }
        Char prefix[256];
        size_t n = wcslen(className);
        if (n > 200)
            return OutOfMemory();
        wmemcpy(prefix, className, n);
        wmemcpy(prefix + n, L".Prototype.", 12);
        BuiltInMethod* getter =
            BuiltInMethod::Create(PoolName(prefix, row.name, L".Get"), &row, prototype, InvokeGet);
        if (!getter)
            return OutOfMemory();
        BRM_TRY(prototype->DefineGetter(row.name, getter));
        if (row.kind == MemberKind::ReadWriteProperty || row.kind == MemberKind::ItemProperty) {
            BuiltInMethod* setter =
                BuiltInMethod::Create(PoolName(prefix, row.name, L".Set"), &row, prototype, InvokeSet);
            if (!setter)
                return OutOfMemory();
            BRM_TRY(prototype->DefineSetter(row.name, setter));
        }
    }
    return Status::Ok;
}

}  // namespace brm
