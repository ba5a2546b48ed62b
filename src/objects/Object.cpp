// Object: the own-property table with its shared names and recycled memory, the prototype-chain walk of
// get, set and call, meta-functions, construction and the last release.
#include "objects/Object.h"
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "objects/BuiltInFunctions.h"
#include "objects/Func.h"
#include "objects/NativeFunc.h"
#include "objects/ObjectArgs.h"
#include "runtime/PseudoThread.h"

namespace brm {

// Objects, property tables and short texts are small, and scripts make and drop them at a high rate: freed
// blocks are kept on a free list per size (in steps of 8 bytes), because the system heap takes a lock and
// far longer for each request. Only the script thread makes and frees objects. The lists together keep a
// bounded number of bytes, so that a burst of blocks does not hold its memory for ever, yet a script that
// drops a hundred thousand short strings and makes as many again (splitting text in a loop) reuses them.
constexpr size_t kBlockStep = 8;
constexpr size_t kMaxRecycled = 256;
constexpr size_t kMaxKeptBytes = 16u << 20;
struct FreeBlock {
    FreeBlock* next;
};
FreeBlock* s_freeBlocks[kMaxRecycled / kBlockStep];
size_t s_keptBytes = 0;

void* AllocBlock(size_t size) {
    if (size > kMaxRecycled || !size)
        return malloc(size);
    size_t list = (size - 1) / kBlockStep;
    if (FreeBlock* b = s_freeBlocks[list]) {
        s_freeBlocks[list] = b->next;
        s_keptBytes -= (list + 1) * kBlockStep;
        return b;
    }
    return malloc((list + 1) * kBlockStep);
}

void FreeBlockOf(void* block, size_t size) {
    if (!block)
        return;
    if (size > kMaxRecycled || !size) {
        free(block);
        return;
    }
    size_t list = (size - 1) / kBlockStep;
    const size_t bytes = (list + 1) * kBlockStep;
    if (s_keptBytes + bytes > kMaxKeptBytes) {
        free(block);
        return;
    }
    auto* b = static_cast<FreeBlock*>(block);
    b->next = s_freeBlocks[list];
    s_freeBlocks[list] = b;
    s_keptBytes += bytes;
}

StringBlock* AllocStringBlock(const Char* text, size_t length) {
    auto* block = static_cast<StringBlock*>(AllocBlock(StringBlock::BytesFor(length + 1)));
    if (!block)
        return nullptr;
    block->capacity = static_cast<uint32_t>(length + 1);
    block->length = static_cast<uint32_t>(length);
    wmemcpy(block->text, text, length);
    block->text[length] = L'\0';
    return block;
}

void FreeStringBlock(StringBlock* block) {
    if (block && block->capacity)
        FreeBlockOf(block, StringBlock::BytesFor(block->capacity));
}

namespace {

inline size_t TableBytes(uint32_t capacity) { return sizeof(PropTable) + capacity * sizeof(Property); }

// Every object created empty shares this table; its capacity of 0 means "never written".
PropTable s_emptyTable = {0, 0, 0};
StringBlock s_emptyString = {0, 0, {0}};

inline Char FoldKey(Char c) { return (c >= L'A' && c <= L'Z') ? static_cast<Char>(c + 32) : c; }
inline uint32_t KeyBit(Char key) { return 1u << (key & 31); }

StringBlock* NewStringBlock(const Char* text, size_t length) {
    if (!length)
        return &s_emptyString;
    return AllocStringBlock(text, length);
}

// Property names are shared: one counted copy of each spelling serves every entry that uses it, so that
// giving an instance the same properties as the last one costs no allocation. Case matters here (each
// object keeps the spelling it first saw); the table is only ever touched by the script thread.
struct NameBlock {
    NameBlock* next;  // in the bucket
    uint32_t refs;
    uint32_t hash;
    uint32_t length;
    Char text[1];
};

struct NameTable {
    NameBlock** buckets = nullptr;
    uint32_t mask = 0;  // bucket count - 1
    uint32_t count = 0;
};
NameTable s_names;

inline size_t NameBytes(size_t length) { return sizeof(NameBlock) + length * sizeof(Char); }

inline NameBlock* BlockOf(const Char* text) {
    return reinterpret_cast<NameBlock*>(reinterpret_cast<char*>(const_cast<Char*>(text)) - offsetof(NameBlock, text));
}

bool GrowNames() {
    uint32_t size = s_names.buckets ? (s_names.mask + 1) * 2 : 64;
    auto** buckets = static_cast<NameBlock**>(calloc(size, sizeof(NameBlock*)));
    if (!buckets)
        return false;
    for (uint32_t i = 0; s_names.buckets && i <= s_names.mask; ++i) {
        for (NameBlock* b = s_names.buckets[i]; b;) {
            NameBlock* next = b->next;
            NameBlock*& head = buckets[b->hash & (size - 1)];
            b->next = head;
            head = b;
            b = next;
        }
    }
    free(s_names.buckets);
    s_names.buckets = buckets;
    s_names.mask = size - 1;
    return true;
}

// Names are short: comparing here beats a call into the C library.
inline bool SameText(const Char* a, const Char* b, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

// The shared copy of name with one more reference; null when out of memory.
Char* AcquireName(const Char* name) {
    uint32_t hash = 2166136261u;
    size_t length = 0;
    for (; name[length]; ++length)
        hash = (hash ^ name[length]) * 16777619u;
    if (s_names.buckets) {
        for (NameBlock* b = s_names.buckets[hash & s_names.mask]; b; b = b->next) {
            if (b->hash == hash && b->length == length && SameText(b->text, name, length)) {
                ++b->refs;
                return b->text;
            }
        }
    }
    if (s_names.count >= s_names.mask && !GrowNames())
        return nullptr;
    auto* b = static_cast<NameBlock*>(AllocBlock(NameBytes(length)));
    if (!b)
        return nullptr;
    b->refs = 1;
    b->hash = hash;
    b->length = static_cast<uint32_t>(length);
    wmemcpy(b->text, name, length + 1);
    NameBlock*& head = s_names.buckets[hash & s_names.mask];
    b->next = head;
    head = b;
    ++s_names.count;
    return b->text;
}

void ReleaseName(Char* text) {
    NameBlock* b = BlockOf(text);
    if (--b->refs)
        return;
    for (NameBlock** link = &s_names.buckets[b->hash & s_names.mask];; link = &(*link)->next) {
        if (*link == b) {
            *link = b->next;
            break;
        }
    }
    --s_names.count;
    FreeBlockOf(b, NameBytes(b->length));
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
            FreeStringBlock(string);
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

// The order of the C library's case-insensitive comparison in the "C" locale (only A-Z fold), done here:
// the library's version consults the thread's locale for every character, and this runs on every lookup.
inline int CompareName(Char key, const Char* name, const Property& entry) {
    if (key != entry.key)
        return key < entry.key ? -1 : 1;
    const Char* other = entry.name;
    if (!key || other == name)
        return 0;  // both empty, or the same shared name text
    for (size_t i = 1;; ++i) {
        Char a = FoldKey(name[i]), b = FoldKey(other[i]);
        if (a != b)
            return a < b ? -1 : 1;
        if (!a)
            return 0;
    }
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
    if (base) {
        base->AddRef();
        MarkBase(base);
    }
}

Object::~Object() {
    Touch();
    IObject* base = m_base;
    m_base = nullptr;
    PropTable* table = m_props;
    m_props = &s_emptyTable;
    if (base)
        base->Release();
    for (uint32_t i = 0; i < table->count; ++i) {
        Property& p = table->Items()[i];
        ReleaseName(p.name);
        OwnedValue release(p);
    }
    if (table != &s_emptyTable)
        FreeBlockOf(table, TableBytes(table->capacity));
}

void* Object::operator new(size_t size) {
    void* block = AllocBlock(size);
    if (!block)
        throw std::bad_alloc();
    return block;
}

void* Object::operator new(size_t size, const std::nothrow_t&) noexcept { return AllocBlock(size); }

void Object::operator delete(void* block, size_t size) noexcept { FreeBlockOf(block, size); }

IObject* g_trivialInit = nullptr;

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

const Char* const kSpecialNames[] = {L"__Init", L"__New", L"__Delete", L"__Get", L"__Set", L"__Call"};
constexpr int kSpecialCount = static_cast<int>(Object::Special::Count);
static_assert(sizeof(kSpecialNames) / sizeof(kSpecialNames[0]) == kSpecialCount);

// What a base gives for each special member, valid while s_layoutEpoch is unchanged. Every change to a
// base (its table, its own base, its end) moves the epoch, so a stale entry is never used.
struct InheritedSpecials {
    Object* base;
    uint32_t epoch;
    IObject* found[kSpecialCount];
};
constexpr int kInheritedBits = 6;  // slots are indexed by the top bits of a multiplicative hash
constexpr uint32_t kInheritedSlots = 1u << kInheritedBits;
InheritedSpecials s_inherited[kInheritedSlots];
uint32_t s_layoutEpoch = 1;  // 0 marks an empty slot

}  // namespace

uint32_t Object::LayoutEpoch() { return s_layoutEpoch; }

const Char* Object::SharedName(const Char* name) { return AcquireName(name); }

void Object::InvalidateInherited() {
    if (++s_layoutEpoch == 0) {
        memset(static_cast<void*>(s_inherited), 0, sizeof(s_inherited));
        s_layoutEpoch = 1;
    }
}

IObject* Object::FindSpecial(Special which) {
    const Char* name = kSpecialNames[static_cast<int>(which)];
    if (m_props->count && FindOwnProp(name))
        return FindMethodLike(this, name);
    auto* base = static_cast<Object*>(GetBase());
    if (!base)
        return nullptr;
    const auto mixed = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(base) >> 3) * 2654435761u;
    InheritedSpecials& slot = s_inherited[mixed >> (32 - kInheritedBits)];
    if (slot.base != base || slot.epoch != s_layoutEpoch) {
        for (int k = 0; k < kSpecialCount; ++k)
            slot.found[k] = FindMethodLike(base, kSpecialNames[k]);
        slot.base = base;
        slot.epoch = s_layoutEpoch;
    }
    return slot.found[static_cast<int>(which)];
}

bool Object::Delete() {
    // What owns __Class counts as a prototype here, whatever its flags: a prototype never runs __Delete.
    if (m_base && !FindOwnProp(L"__Class")) {
        IObject* method = FindSpecial(Special::Delete);
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
                return false;
            }
        }
    }
    delete this;
    return true;
}

// --- Own properties ---

Property* Object::FindOwnProp(const Char* name, int* insertAt) {
    Char key = FoldKey(name[0]);
    if (!insertAt && !(m_props->keyMask & KeyBit(key)))
        return nullptr;
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
            FreeBlockOf(m_props, TableBytes(m_props->capacity));
        m_props = &s_emptyTable;
        return true;
    }
    auto* table = static_cast<PropTable*>(AllocBlock(TableBytes(capacity)));
    if (!table)
        return false;
    table->capacity = capacity;
    table->count = count;
    table->keyMask = m_props->keyMask;
    if (count)
        memcpy(static_cast<void*>(table->Items()), m_props->Items(), count * sizeof(Property));
    if (m_props != &s_emptyTable)
        FreeBlockOf(m_props, TableBytes(m_props->capacity));
    m_props = table;
    return true;
}

Property* Object::AddOwnProp(const Char* name, int at) {
    if (m_props->count == m_props->capacity &&
        !SetOwnPropCapacity(m_props->capacity ? static_cast<int>(m_props->capacity * 2) : 4))
        return nullptr;
    Char* copy = AcquireName(name);
    if (!copy)
        return nullptr;
    Property* items = m_props->Items();
    if (m_props->count > static_cast<uint32_t>(at))
        memmove(static_cast<void*>(items + at + 1), items + at, (m_props->count - at) * sizeof(Property));
    ++m_props->count;
    Property& p = items[at];
    p.valueInt64 = 0;
    p.kind = PropKind::Missing;
    p.key = FoldKey(name[0]);
    p.name = copy;
    m_props->keyMask |= KeyBit(p.key);
    Touch();
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
    Touch();
    ReleaseName(oldName);
    return true;  // old is released last
}

PropDesc* Object::GetOrCreateDynamicProp(const Char* name) {
    for (;;) {
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
        {
            OwnedValue old(*p);
            p->kind = PropKind::Dynamic;
            p->desc = desc;
            Touch();
        }
        // Releasing the old value may have run a __Delete that deleted or replaced this very entry (and
        // freed the descriptor just made): the caller is given what the table holds now.
    }
}

Status Object::SetOwnProp(const Char* name, const ValueToken& value) {
    int at;
    Property* p = FindOwnProp(name, &at);
    if (!p && !(p = AddOwnProp(name, at)))
        return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
    Touch();  // before the old value goes, which may run code that looks at this object's heirs
    if (!AssignProp(*p, value))
        return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
    return Status::Ok;
}

Status Object::AddOwnPropValue(const Char* name, int at, const ValueToken& value) {
    Property* p = AddOwnProp(name, at);
    if (!p || !AssignProp(*p, value))
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
    o->Touch();
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
    // Ownership decides, not the flag: a script may give an object its own __Class or take it away.
    if (FindOwnProp(L"__Class"))
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
    auto* b = AsObject(newBase);
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
    if (newBase) {
        newBase->AddRef();
        MarkBase(newBase);
    }
    Touch();
    IObject* old = m_base;
    m_base = newBase;
    if (old)
        old->Release();
}

// --- Construction ---

Status Object::Construct(ValueToken** params, int paramCount) {
    ValueToken self;
    self.SetObject(this);
    ArgsWithThis args(self, nullptr, params, paramCount);
    if (!args.Ok())
        return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
    return ConstructWithThis(args.Array(), args.Count());
}

Status Object::ConstructWithThis(ValueToken** argsWithThis, int count) {
    Char scratch[kScratchChars];
    IObject* init = FindSpecial(Special::Init);
    if (init && init != g_trivialInit) {
        CallResult result(scratch);
        BRM_TRY(CallFunction(init, result, argsWithThis, 1));
    }
    IObject* ctor = FindSpecial(Special::New);
    if (!ctor) {
        if (count > 1)
            return RaiseMsg(ErrorClass::Error, Msg::TooManyParams);
        return Status::Ok;
    }
    CallResult result(scratch);
    return CallFunction(ctor, result, argsWithThis, count);
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
    // A script function, the common case, is called without the detour through the invoke protocol; every
    // other function kind answers a nameless call itself (a classic built-in through its argument checks).
    // Types are compared by address: a script function is always this one record. A function given an own
    // Call property takes the invoke protocol, which finds it.
    if (&typeid(*func) == &typeid(UserFunc) && !static_cast<UserFunc*>(func)->OwnPropCount())
        return static_cast<UserFunc*>(func)->CallWith(result, params, paramCount, nullptr);
    if (&typeid(*func) == &typeid(RoutineFunc) && !static_cast<RoutineFunc*>(func)->OwnPropCount())  // a class's Call
        return static_cast<RoutineFunc*>(func)->Call(result, params, paramCount);
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
