// Object: the own-property table, the prototype-chain walk of get, set and call, meta-functions,
// construction and the last release.
#include "objects/Object.h"
#include <cstdlib>
#include <cwchar>
#include <new>
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "objects/BuiltInFunctions.h"
#include "objects/ObjectArgs.h"
#include "runtime/PseudoThread.h"

namespace brm {

namespace {

// Every object created empty shares this table; its capacity of 0 means "never written".
PropTable s_emptyTable = {0, 0};
StringBlock s_emptyString = {0, 0, {0}};

inline Char FoldKey(Char c) { return (c >= L'A' && c <= L'Z') ? static_cast<Char>(c + 32) : c; }

StringBlock* NewStringBlock(const Char* text, size_t length) {
    if (!length)
        return &s_emptyString;
    auto* block = static_cast<StringBlock*>(malloc(sizeof(StringBlock) + length * sizeof(Char)));
    if (!block)
        return nullptr;
    block->capacity = static_cast<uint32_t>(length + 1);
    block->length = static_cast<uint32_t>(length);
    wmemcpy(block->text, text, length);
    block->text[length] = L'\0';
    return block;
}

// What an entry owns, detached from the table so that it can be released after the table is consistent
// again: a release may run __Delete, which may change this very table.
struct OwnedValue {
    PropKind kind = PropKind::Missing;
    union {
        IObject* object;
        StringBlock* string;
        PropDesc* desc;
        int64_t bits;
    };
    OwnedValue() : bits(0) {}
    explicit OwnedValue(const Property& p) : kind(p.kind), bits(p.valueInt64) {}
    OwnedValue(const OwnedValue&) = delete;
    OwnedValue& operator=(const OwnedValue&) = delete;
    ~OwnedValue() {
        switch (kind) {
        case PropKind::String:
            if (string->capacity)
                free(string);
            break;
        case PropKind::Object:
            object->Release();
            break;
        case PropKind::Dynamic: {
            PropDesc* d = desc;
            if (d->getter) d->getter->Release();
            if (d->setter) d->setter->Release();
            if (d->method) d->method->Release();
            free(d);
            break;
        }
        default:
            break;
        }
    }
};

inline int CompareName(Char key, const Char* name, const Property& entry) {
    if (key != entry.key)
        return key < entry.key ? -1 : 1;
    return _wcsicmp(name, entry.name);
}

// A borrowed token of a Variable's value; other tokens as they are.
inline void Deref(const ValueToken& in, ValueToken& out) {
    if (in.symbol == SymVariable)
        in.var->ToToken(out);
    else
        out = in;
}

inline IObject* TokenObject(const ValueToken& t) {
    if (t.symbol == SymObject)
        return t.object;
    if (t.symbol == SymVariable && t.var->IsObject())
        return t.var->Object();
    return nullptr;
}

}  // namespace

// --- IObject defaults ---

Status IObject::InvokeMember(CallResult& result, int flags, const Char* name, ValueToken& thisToken,
                             ValueToken** params, int paramCount) {
    IObject* base = GetBase();
    if (!base)
        return Status::NotHandled;
    return base->InvokeMember(result, flags | InvokeOnBehalf, name, thisToken, params, paramCount);
}

bool IObject::IsOfType(IObject* prototype) {
    for (IObject* b = GetBase(); b; b = b->GetBase())
        if (b == prototype)
            return true;
    return false;
}

// --- Property ---

void Property::ToToken(ValueToken& token) const {
    switch (kind) {
    case PropKind::String: token.SetString(string->text, static_cast<int32_t>(string->length)); break;
    case PropKind::Integer: token.SetInteger(valueInt64); break;
    case PropKind::Float: token.SetFloat(valueDouble); break;
    case PropKind::Object: token.SetObject(object); break;
    default: token.SetMissing(); break;
    }
}

bool Object::CopyToResult(const Property& prop, CallResult& result) {
    switch (prop.kind) {
    case PropKind::String: {
        size_t length = prop.string->length;
        Char* target = result.buffer;
        if (length >= static_cast<size_t>(kScratchChars)) {
            target = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
            if (!target)
                return false;
            result.memToFree = target;
        }
        wmemcpy(target, prop.string->text, length + 1);
        result.value.SetString(target, static_cast<int32_t>(length));
        return true;
    }
    case PropKind::Integer: result.value.SetInteger(prop.valueInt64); return true;
    case PropKind::Float: result.value.SetFloat(prop.valueDouble); return true;
    case PropKind::Object:
        prop.object->AddRef();
        result.value.SetObject(prop.object);
        return true;
    default:
        result.value.SetString(L"", 0);
        return true;
    }
}

bool Object::AssignProp(Property& prop, const ValueToken& in) {
    ValueToken value;
    Char buffer[kScratchChars];
    Deref(in, value);
    Property fresh = prop;
    switch (value.symbol) {
    case SymInteger: fresh.kind = PropKind::Integer; fresh.valueInt64 = value.valueInt64; break;
    case SymFloat: fresh.kind = PropKind::Float; fresh.valueDouble = value.valueDouble; break;
    case SymObject:
        value.object->AddRef();
        fresh.kind = PropKind::Object;
        fresh.object = value.object;
        break;
    case SymMissing: fresh.kind = PropKind::Missing; fresh.valueInt64 = 0; break;
    default: {
        int32_t length;
        const Char* text = TokenToString(value, buffer, &length);
        if (length < 0)
            length = static_cast<int32_t>(wcslen(text));
        StringBlock* block = NewStringBlock(text, static_cast<size_t>(length));
        if (!block)
            return false;
        fresh.kind = PropKind::String;
        fresh.string = block;
        break;
    }
    }
    OwnedValue old(prop);
    prop = fresh;
    return true;  // old is released here, after the entry holds its new value
}

// --- Object: life ---

Object::Object() : m_props(&s_emptyTable) {}

Object::Object(IObject* base) : m_base(base), m_props(&s_emptyTable) {
    if (base)
        base->AddRef();
}

Object::~Object() {
    IObject* base = m_base;
    m_base = nullptr;
    PropTable* table = m_props;
    m_props = &s_emptyTable;
    if (base)
        base->Release();
    for (uint32_t i = 0; i < table->count; ++i) {
        Property& p = table->Items()[i];
        free(p.name);
        OwnedValue release(p);
    }
    if (table != &s_emptyTable)
        free(table);
}

Object* Object::Create() { return Create(BuiltInPrototype(ClassId::Object)); }

Object* Object::Create(IObject* base) { return new (std::nothrow) Object(base); }

namespace {

// Finds a method-like member for __Delete, __Init, __New and the meta-functions: an own descriptor's
// method, or an own value that is an object, ends the search. A non-object value first, or an object
// value after a descriptor that had only accessors, means "none".
IObject* FindMethodLike(Object* start, const Char* name) {
    bool sawAccessor = false;
    for (Object* o = start; o; o = static_cast<Object*>(o->GetBase())) {
        Property* p = o->FindOwnProp(name);
        if (!p)
            continue;
        if (p->IsDynamic()) {
            if (p->desc->method)
                return p->desc->method;
            sawAccessor = true;
            continue;
        }
        if (p->kind == PropKind::Object && !sawAccessor)
            return p->object;
        return nullptr;
    }
    return nullptr;
}

}  // namespace

void Object::Delete() {
    if (m_base && !IsPrototype()) {
        IObject* method = FindMethodLike(this, L"__Delete");
        if (method) {
            method->AddRef();
            PseudoThread& thread = *g_thread;
            ThrownValue* pending = thread.thrown;
            uint8_t mode = thread.errorMode;
            thread.thrown = nullptr;
            thread.errorMode = static_cast<uint8_t>((mode & ~ErrorModeCaughtHere) | ErrorModeInDelete);
            Char scratch[kScratchChars];
            {
                CallResult result(scratch);
                ValueToken self;
                self.SetObject(this);
                ValueToken* args[1] = {&self};
                (void)CallFunction(method, result, args, 1);
            }
            ClearThrown(thread);  // reported already; it must not reach the code that dropped the reference
            thread.thrown = pending;
            thread.errorMode = mode;
            method->Release();
            if (m_refCount > 1) {
                --m_refCount;  // __Delete stored a new reference: the new owners keep the object
                return;
            }
        }
    }
    delete this;
}

// --- Own properties ---

Property* Object::FindOwnProp(const Char* name, int* insertAt) {
    Char key = FoldKey(name[0]);
    Property* items = m_props->Items();
    int low = 0, high = static_cast<int>(m_props->count) - 1;
    while (low <= high) {
        int mid = (low + high) >> 1;
        int c = CompareName(key, name, items[mid]);
        if (c < 0)
            high = mid - 1;
        else if (c > 0)
            low = mid + 1;
        else
            return items + mid;
    }
    if (insertAt)
        *insertAt = low;
    return nullptr;
}

bool Object::SetOwnPropCapacity(int n) {
    uint32_t count = m_props->count;
    uint32_t capacity = n < 0 ? 0 : static_cast<uint32_t>(n);
    if (capacity < count)
        capacity = count;
    if (capacity == m_props->capacity)
        return true;
    if (!capacity) {
        if (m_props != &s_emptyTable)
            free(m_props);
        m_props = &s_emptyTable;
        return true;
    }
    auto* table = static_cast<PropTable*>(malloc(sizeof(PropTable) + capacity * sizeof(Property)));
    if (!table)
        return false;
    table->capacity = capacity;
    table->count = count;
    if (count)
        memcpy(static_cast<void*>(table->Items()), m_props->Items(), count * sizeof(Property));
    if (m_props != &s_emptyTable)
        free(m_props);
    m_props = table;
    return true;
}

Property* Object::AddOwnProp(const Char* name, int at) {
    if (m_props->count == m_props->capacity &&
        !SetOwnPropCapacity(m_props->capacity ? static_cast<int>(m_props->capacity * 2) : 4))
        return nullptr;
    size_t length = wcslen(name);
    auto* copy = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
    if (!copy)
        return nullptr;
    wmemcpy(copy, name, length + 1);
    Property* items = m_props->Items();
    memmove(static_cast<void*>(items + at + 1), items + at, (m_props->count - at) * sizeof(Property));
    ++m_props->count;
    Property& p = items[at];
    p.valueInt64 = 0;
    p.kind = PropKind::Missing;
    p.key = FoldKey(name[0]);
    p.name = copy;
    return &p;
}

bool Object::DeleteOwnProp(const Char* name) {
    Property* p = FindOwnProp(name);
    if (!p)
        return false;
    OwnedValue old(*p);
    Char* oldName = p->name;
    Property* items = m_props->Items();
    size_t at = static_cast<size_t>(p - items);
    memmove(static_cast<void*>(items + at), items + at + 1, (m_props->count - at - 1) * sizeof(Property));
    --m_props->count;
    free(oldName);
    return true;  // old is released last
}

PropDesc* Object::GetOrCreateDynamicProp(const Char* name) {
    int at;
    Property* p = FindOwnProp(name, &at);
    if (p && p->IsDynamic())
        return p->desc;
    auto* desc = static_cast<PropDesc*>(calloc(1, sizeof(PropDesc)));
    if (!desc)
        return nullptr;
    if (!p && !(p = AddOwnProp(name, at))) {
        free(desc);
        return nullptr;
    }
    OwnedValue old(*p);
    p->kind = PropKind::Dynamic;
    p->desc = desc;
    return desc;
}

Status Object::SetOwnProp(const Char* name, const ValueToken& value) {
    int at;
    Property* p = FindOwnProp(name, &at);
    if (!p && !(p = AddOwnProp(name, at)))
        return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
    if (!AssignProp(*p, value))
        return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
    return Status::Ok;
}

Status Object::SetOwnPropString(const Char* name, const Char* text, int32_t length) {
    ValueToken t;
    t.SetString(text, length);
    return SetOwnProp(name, t);
}

Status Object::SetOwnPropInteger(const Char* name, int64_t value) {
    ValueToken t;
    t.SetInteger(value);
    return SetOwnProp(name, t);
}

Status Object::SetOwnPropObject(const Char* name, IObject* object) {
    ValueToken t;
    t.SetObject(object);
    return SetOwnProp(name, t);
}

bool Object::GetOwnProp(const Char* name, ValueToken& value) {
    Property* p = FindOwnProp(name);
    if (!p || p->IsDynamic())
        return false;
    p->ToToken(value);
    return true;
}

namespace {

enum class DescPart { Getter, Setter, Method };

Status DefinePart(Object* o, const Char* name, IObject* func, DescPart part) {
    PropDesc* d = o->GetOrCreateDynamicProp(name);
    if (!d)
        return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
    IObject** slot = part == DescPart::Getter ? &d->getter : part == DescPart::Setter ? &d->setter : &d->method;
    if (func)
        func->AddRef();
    IObject* old = *slot;
    *slot = func;
    if (part == DescPart::Method && !d->getter)
        d->getterTakesNoArgs = true;
    if (old)
        old->Release();
    return Status::Ok;
}

}  // namespace

Status Object::DefineMethod(const Char* name, IObject* func) { return DefinePart(this, name, func, DescPart::Method); }
Status Object::DefineGetter(const Char* name, IObject* func) {
    BRM_TRY(DefinePart(this, name, func, DescPart::Getter));
    return RefreshAccessorShape(this, name);
}
Status Object::DefineSetter(const Char* name, IObject* func) {
    BRM_TRY(DefinePart(this, name, func, DescPart::Setter));
    return RefreshAccessorShape(this, name);
}

// --- Type and base ---

const Char* Object::TypeName() {
    if (IsPrototype())
        return L"Prototype";
    for (Object* o = static_cast<Object*>(m_base); o; o = static_cast<Object*>(o->m_base)) {
        Property* p = o->FindOwnProp(L"__Class");
        if (!p)
            continue;
        if (p->kind == PropKind::String)
            return p->string->text;
        return L"";
    }
    return L"Object";
}

bool Object::IsOfType(IObject* prototype) {
    if (prototype == BuiltInPrototype(ClassId::Object))
        return true;
    if (IsPrototype())
        return false;
    for (IObject* b = m_base; b; b = static_cast<Object*>(b)->m_base)
        if (b == prototype)
            return true;
    return false;
}

Object* Object::NativePrototype() {
    for (Object* o = static_cast<Object*>(m_base); o; o = static_cast<Object*>(o->m_base))
        if (o->m_flags & FlagNativeType)
            return o;
    return nullptr;
}

bool Object::CanSetBase(IObject* newBase) {
    auto* b = dynamic_cast<Object*>(newBase);
    if (!b || b == this)
        return false;
    Object* nativeOfB = (b->m_flags & FlagNativeType) ? b : b->NativePrototype();
    if (nativeOfB != NativePrototype())
        return false;
    for (Object* o = static_cast<Object*>(b->m_base); o; o = static_cast<Object*>(o->m_base))
        if (o == this)
            return false;
    return true;
}

Status Object::SetBase(IObject* newBase) {
    if (!CanSetBase(newBase))
        return RaiseMsg(ErrorClass::ValueError, Msg::InvalidBase);
    SetBaseUnchecked(newBase);
    return Status::Ok;
}

void Object::SetBaseUnchecked(IObject* newBase) {
    if (newBase)
        newBase->AddRef();
    IObject* old = m_base;
    m_base = newBase;
    if (old)
        old->Release();
}

// --- Construction ---

Status Object::Construct(ValueToken** params, int paramCount) {
    Char scratch[kScratchChars];
    ValueToken self;
    self.SetObject(this);
    if (IObject* init = FindMethodLike(this, L"__Init")) {
        CallResult result(scratch);
        ValueToken* args[1] = {&self};
        BRM_TRY(CallFunction(init, result, args, 1));
    }
    IObject* ctor = FindMethodLike(this, L"__New");
    if (!ctor) {
        if (paramCount)
            return RaiseMsg(ErrorClass::Error, Msg::TooManyParams);
        return Status::Ok;
    }
    ArgsWithThis args(self, nullptr, params, paramCount);
    if (!args.Ok())
        return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
    CallResult result(scratch);
    return CallFunction(ctor, result, args.Array(), args.Count());
}

// --- Invoking values ---

Status RaiseNoMember(const ValueToken& target, int flags, const Char* name) {
    bool method = (flags & InvokeKindMask) == InvokeCall;
    if (!name)
        name = method ? L"Call" : L"__Item";
    return RaiseFormatted(method ? ErrorClass::MethodError : ErrorClass::PropertyError, nullptr, Msg::NoSuchMember,
                          TokenTypeName(target), method ? L"method" : L"property", name);
}

Object* PrimitivePrototype(const ValueToken& value) {
    switch (TokenKind(value)) {
    case SymInteger: return BuiltInPrototype(ClassId::Integer);
    case SymFloat: return BuiltInPrototype(ClassId::Float);
    case SymString: return BuiltInPrototype(ClassId::String);
    default: return nullptr;
    }
}

Status InvokeValue(CallResult& result, int flags, const Char* name, ValueToken& target, ValueToken** params,
                   int paramCount) {
    if (!name)
        flags |= InvokeNoMeta;
    if (IObject* o = TokenObject(target)) {
        if (target.symbol == SymObject)
            return o->InvokeMember(result, flags, name, target, params, paramCount);
        ValueToken self;
        self.SetObject(o);
        return o->InvokeMember(result, flags, name, self, params, paramCount);
    }
    ValueToken self;
    Deref(target, self);
    if (self.symbol == SymString && self.markerLength < 0)
        self.markerLength = static_cast<int32_t>(wcslen(self.marker));
    Object* proto = PrimitivePrototype(self);
    if (!proto)
        return Status::NotHandled;
    return proto->InvokeMember(result, flags | InvokeOnBehalf, name, self, params, paramCount);
}

Status InvokeValueOrFail(CallResult& result, int flags, const Char* name, ValueToken& target, ValueToken** params,
                         int paramCount) {
    Status s = InvokeValue(result, flags, name, target, params, paramCount);
    if (s == Status::NotHandled)
        return RaiseNoMember(target, flags, name);
    return s;
}

Status CallFunction(IObject* func, CallResult& result, ValueToken** params, int paramCount) {
    if (dynamic_cast<BuiltInFunc*>(func))
        return CallFunctionObject(func, result, params, paramCount);
    ValueToken callee;
    callee.SetObject(func);
    Status s = func->InvokeMember(result, InvokeCall | InvokeNoMeta, nullptr, callee, params, paramCount);
    if (s == Status::NotHandled)
        return RaiseNoMember(callee, InvokeCall, nullptr);
    return s;
}

Status CallValue(ValueToken& callee, CallResult& result, ValueToken** params, int paramCount) {
    if (IObject* o = TokenObject(callee))
        return CallFunction(o, result, params, paramCount);
    return InvokeValueOrFail(result, InvokeCall, nullptr, callee, params, paramCount);
}

}  // namespace brm
