// Var: assignment, the buffer growth policy, lazy number-to-text, built-in variables and references.
// Invariant: a Var holding an object has an empty text buffer; a Var holding a number keeps its text only
// as a cache. An old value (an object) is released only after the new one is in place, because releasing
// it can run a destructor that reads the same variable.
#include "expr/Var.h"
#include <malloc.h>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>
#include "base/Pool.h"
#include "exec/Raise.h"
#include "objects/VarRef.h"

namespace brm {

namespace {

const Char s_emptyString[1] = {0};

// Short buffers come from the pool in three sizes so that most short strings cost no heap call; a buffer
// that later needs more than this moves to the heap.
constexpr uint32_t kPoolBufferLimit = 128;

// Heap buffer growth when the final size is unknown: generous while small, geometric (x1.1) through the
// middle range, then linear so that a huge string does not reserve a tenth of itself again.
uint64_t GrowRequest(uint64_t need) {
    if (need < 32)
        return 32;
    if (need < 520)
        return 520;
    if (need < 0x50000)
        return (need * 11 / 10) & ~uint64_t(1);
    if (need < 0x320000)
        return need + 32768;
    if (need < 0xC80000)
        return (need + need / 100) & ~uint64_t(1);
    return need + 131072;
}

Msg ActionMessage(VarAction action) {
    switch (action) {
    case VarAction::TakeReference: return Msg::ActionTakeReference;
    case VarAction::Output: return Msg::ActionBeOutput;
    default: return Msg::ActionBeAssigned;
    }
}

}  // namespace

Char* VarEmptyString() {
    // Writing through this pointer faults (the array is read-only), which catches a Var that forgot it
    // has no buffer.
    return const_cast<Char*>(s_emptyString);
}

Var::Var(const Char* name, uint8_t scope, uint8_t type)
    : m_valueInt64(0),
      m_contents(VarEmptyString()),
      m_byteLength(0),
      m_capacity(0),
      m_allocKind(VarAllocNone),
      m_attrib(VarAttribUnset),
      m_scope(scope),
      m_type(type),
      m_name(name) {}

Var Var::MakeVirtual(const Char* name, const BuiltInVarDesc* desc) {
    Var v(name, 0, VarTypeVirtual);
    v.m_virtual = desc;
    v.m_attrib = 0;  // a built-in variable always has a value
    return v;
}

const Char* VarKindName(const Var& var) {
    const Var* target = var.Target();
    if (target->m_type == VarTypeVirtual)
        return MessageText(Msg::KindBuiltInVariable);
    if (target->m_type == VarTypeConstant && (target->m_attrib & VarAttribObject))
        return target->m_object->TypeName();
    uint8_t scope = var.m_scope;
    if (scope & VarScopeLocal) {
        if (scope & VarScopeStatic)
            return MessageText(Msg::KindStaticVariable);
        if (scope & VarScopeParam)
            return MessageText(Msg::KindParameter);
        return MessageText(Msg::KindLocalVariable);
    }
    if (scope & VarScopeGlobal)
        return MessageText(Msg::KindGlobalVariable);
    return MessageText(Msg::KindVariable);
}

Status Var::RaiseReadOnly(VarAction action) const {
    return RaiseFormatted(ErrorClass::Error, nullptr, Msg::CannotDo, VarKindName(*this),
                          MessageText(ActionMessage(action)));
}

// --- Assignment ---

Status Var::AssignSpecial(const ValueToken& value) {
    if (m_type == VarTypeVirtual) {
        if (value.symbol == SymMissing)
            return RaiseMsg(ErrorClass::Error, Msg::InvalidAssignment);
        if (m_virtual->setter)
            return m_virtual->setter(value, m_name);
    }
    return RaiseReadOnly(VarAction::Assign);
}

Status Var::Assign(const ValueToken& value) {
    Var* t = Target();
    if (t->m_type >= VarTypeConstant)
        return t->AssignSpecial(value);
    switch (value.symbol) {
    case SymString: return t->AssignString(value.marker, value.markerLength);
    case SymInteger: return t->AssignNumber(value.valueInt64, VarAttribInteger);
    case SymFloat: return t->AssignNumber(value.valueInt64, VarAttribFloat);  // the double's bits
    case SymObject:
        value.object->AddRef();
        return t->AssignObject(value.object);
    case SymVariable: return t->AssignFromVar(*value.var->Target());
    case SymMissing: t->Free(VarFreeMarkUnset | VarFreeIfLarge); return Status::Ok;
    default: return t->AssignString(L"", 0);
    }
}

void Var::ReleaseObject(IObject* object) { object->Release(); }

Status Var::AssignInteger(int64_t value) {
    Var* t = Target();
    if (t->m_type >= VarTypeConstant) {
        ValueToken token;
        token.SetInteger(value);
        return t->AssignSpecial(token);
    }
    return t->AssignNumber(value, VarAttribInteger);
}

Status Var::AssignFloat(double value) {
    Var* t = Target();
    ValueToken token;
    token.SetFloat(value);
    if (t->m_type >= VarTypeConstant)
        return t->AssignSpecial(token);
    return t->AssignNumber(token.valueInt64, VarAttribFloat);
}

Status Var::AssignObject(IObject* object) {
    Var* t = Target();
    if (t->m_type >= VarTypeConstant) {
        ValueToken token;
        token.SetObject(object);
        Status status = t->AssignSpecial(token);
        object->Release();  // the reference this Var would have taken over
        return status;
    }
    if (t->m_attrib & VarAttribObject) {
        IObject* old = t->m_object;
        t->m_object = object;
        t->m_attrib = (t->m_attrib & VarAttribKeptByAssign) | VarAttribObject | VarAttribNotNumeric;
        old->Release();
        return Status::Ok;
    }
    t->Free(VarFreeMemory);
    t->m_object = object;
    t->m_attrib = (t->m_attrib & VarAttribKeptByAssign) | VarAttribObject | VarAttribNotNumeric;
    return Status::Ok;
}

Status Var::AssignFromVar(Var& source) {
    if (source.m_type == VarTypeVirtual) {
        Char scratch[kScratchChars];
        CallResult result(scratch);
        BRM_TRY(source.CallGetter(result));
        if (result.memToFree && result.value.symbol == SymString && result.value.marker == result.memToFree) {
            AdoptString(result.memToFree, result.value.markerLength);
            result.memToFree = nullptr;
            return Status::Ok;
        }
        return Assign(result.value);
    }
    uint8_t attrib = source.m_attrib;
    if (attrib & VarAttribNumberMask)
        return AssignNumber(source.m_valueInt64, attrib & VarAttribNumberMask);
    if (attrib & VarAttribObject) {
        source.m_object->AddRef();
        return AssignObject(source.m_object);
    }
    if (attrib & VarAttribUnset) {
        Free(VarFreeMarkUnset | VarFreeIfLarge);
        return Status::Ok;
    }
    if (&source == this)
        return Status::Ok;
    BRM_TRY(AssignString(source.m_contents, static_cast<int32_t>(source.m_byteLength / sizeof(Char))));
    m_attrib |= attrib & VarAttribNotNumeric;  // same text, same answer
    return Status::Ok;
}

Status Var::AssignString(const Char* text, int32_t length, ExactSize exact) {
    Var* t = Target();
    if (text && length < 0)
        length = text == t->m_contents ? static_cast<int32_t>(t->m_byteLength / sizeof(Char))
                                       : static_cast<int32_t>(wcslen(text));
    if (t->m_type == VarTypeConstant || (t->m_type == VarTypeVirtual && text)) {
        ValueToken token;
        token.SetString(text ? text : L"", text ? length : 0);
        return t->AssignSpecial(token);
    }
    return t->StoreString(text, length, exact);
}

Status Var::StoreString(const Char* text, int32_t length, ExactSize exact) {
    uint8_t virtualBit = m_type == VarTypeVirtual ? VarAttribGetterText : 0;
    if (length == 0 || (!text && length < 0)) {
        Free(text || length == 0 ? VarFreeIfLarge : 0);
        m_attrib = (m_attrib & ~VarAttribUnset) | virtualBit;
        return Status::Ok;
    }
    if (length > kVarMaxChars)
        return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
    uint32_t need = (static_cast<uint32_t>(length) + 1) * sizeof(Char);
    if (need > m_capacity) {
        if (m_allocKind != VarAllocHeap && need <= kPoolBufferLimit) {
            uint32_t size = need < 9                ? 8
                            : exact == ExactSize::Yes ? (need + 3) & ~3u
                            : need <= 16              ? 16
                                                      : kPoolBufferLimit;
            auto* block = static_cast<Char*>(PoolAlloc(size));
            if (!block)
                return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
            // The old pool block, if any, is abandoned: pool memory is never given back.
            m_contents = block;
            m_capacity = size;
            m_allocKind = VarAllocPool;
        } else {
            uint64_t request = exact == ExactSize::Yes ? need : GrowRequest(need);
            // The old text is replaced, not extended, so it is not copied. It cannot be the source:
            // text inside the old buffer would have fitted in it.
            if (m_allocKind == VarAllocHeap && m_capacity)
                free(m_contents);
            auto* block = request <= 0x7FFFFFFF ? static_cast<Char*>(malloc(static_cast<size_t>(request))) : nullptr;
            if (!block) {
                m_contents = VarEmptyString();
                m_capacity = 0;
                m_byteLength = 0;
                if (m_attrib & VarAttribNumberMask)
                    m_attrib |= VarAttribStale;  // the number survives; its text must be made again
                else if (!(m_attrib & VarAttribObject))
                    m_attrib = (m_attrib & VarAttribKeptByAssign) | VarAttribUnset;
                return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
            }
            m_contents = block;
            m_capacity = static_cast<uint32_t>(request);
            m_allocKind = VarAllocHeap;
        }
    }
    if (text) {
        if (text != m_contents)
            memmove(m_contents, text, static_cast<size_t>(length) * sizeof(Char));
        m_contents[length] = 0;
        m_byteLength = static_cast<uint32_t>(length) * sizeof(Char);
    } else {
        m_contents[0] = 0;
        m_byteLength = 0;
    }
    IObject* old = (m_attrib & VarAttribObject) ? m_object : nullptr;
    m_attrib = (m_attrib & VarAttribKeptByAssign) | virtualBit;
    if (old) {
        m_valueInt64 = 0;
        old->Release();
    }
    return Status::Ok;
}

void Var::AdoptString(Char* heapText, int32_t length) {
    Var* t = Target();
    if (t->m_type == VarTypeConstant) {  // never happens through the language: constants are rejected at load
        free(heapText);
        return;
    }
    if (length < 0)
        length = static_cast<int32_t>(wcslen(heapText));
    if (t->m_allocKind == VarAllocHeap && t->m_capacity)
        free(t->m_contents);
    size_t want = (static_cast<size_t>(length) + 1) * sizeof(Char);
    size_t size = _msize(heapText);
    if (size == static_cast<size_t>(-1) || size < want)
        size = want;
    else if (size > want + 64 && _expand(heapText, want))  // shrinks in place or not at all
        size = want;
    t->m_contents = heapText;
    t->m_capacity = static_cast<uint32_t>(size);
    t->m_allocKind = VarAllocHeap;
    t->m_byteLength = static_cast<uint32_t>(length) * sizeof(Char);
    IObject* old = (t->m_attrib & VarAttribObject) ? t->m_object : nullptr;
    t->m_attrib = (t->m_attrib & VarAttribKeptByAssign) | (t->m_type == VarTypeVirtual ? VarAttribGetterText : 0);
    if (old) {
        t->m_valueInt64 = 0;
        old->Release();
    }
}

bool Var::Append(const Char* text, int32_t count) {
    Var* t = Target();
    // A stale number's buffer holds old text; the caller's full assignment formats it first.
    if (t->m_type != VarTypeNormal || (t->m_attrib & VarAttribObject) ||
        ((t->m_attrib & VarAttribStale) && (t->m_attrib & VarAttribNumberMask)))
        return false;
    if (count < 0)
        count = static_cast<int32_t>(wcslen(text));
    uint32_t length = t->m_byteLength / sizeof(Char);
    if ((uint64_t(length) + uint64_t(count) + 1) * sizeof(Char) > t->m_capacity)
        return false;
    memmove(t->m_contents + length, text, static_cast<size_t>(count) * sizeof(Char));
    t->m_contents[length + count] = 0;
    t->m_byteLength += static_cast<uint32_t>(count) * sizeof(Char);
    t->m_attrib &= VarAttribAssigned | VarAttribObject | VarAttribGetterText;
    return true;
}

bool Var::AppendGrowing(const Char* text, int32_t count) {
    Var* t = Target();
    if (t->m_type != VarTypeNormal || (t->m_attrib & VarAttribObject) || (t->m_attrib & VarAttribNumberMask) ||
        t->m_allocKind != VarAllocHeap || !t->m_capacity)
        return false;
    if (count < 0)
        count = static_cast<int32_t>(wcslen(text));
    uint32_t length = t->m_byteLength / sizeof(Char);
    uint64_t need = (uint64_t(length) + uint64_t(count) + 1) * sizeof(Char);
    if (need > (uint64_t(kVarMaxChars) + 1) * sizeof(Char))
        return false;
    // A text that keeps growing by appends grows by half again each time, so that appending stays linear
    // however long the text gets; the additive steps of an assignment would copy it over and over.
    uint64_t request = GrowRequest(need);
    uint64_t half = uint64_t(t->m_capacity) + t->m_capacity / 2;
    if (request < half)
        request = half & ~uint64_t(1);
    if (request > 0x7FFFFFFF)
        request = need;
    // The appended text may lie in this very buffer (x .= x): remember where, since the buffer may move.
    const Char* begin = t->m_contents;
    bool inside = text >= begin && text < begin + t->m_capacity / sizeof(Char);
    size_t offset = inside ? static_cast<size_t>(text - begin) : 0;
    auto* block = static_cast<Char*>(realloc(t->m_contents, static_cast<size_t>(request)));
    if (!block)
        return false;
    t->m_contents = block;
    t->m_capacity = static_cast<uint32_t>(request);
    if (inside)
        text = block + offset;
    memmove(block + length, text, static_cast<size_t>(count) * sizeof(Char));
    block[length + count] = 0;
    t->m_byteLength += static_cast<uint32_t>(count) * sizeof(Char);
    t->m_attrib &= VarAttribAssigned | VarAttribObject | VarAttribGetterText;
    return true;
}

void Var::Free(int options) {
    Var* t = this;
    if (options & VarFreeDropAlias) {
        if (m_type == VarTypeAlias) {
            m_type = VarTypeNormal;
            m_byteLength = 0;  // was the alias target
        }
    } else {
        t = Target();
    }
    t->m_byteLength = 0;
    uint8_t attrib = t->m_attrib;
    t->m_attrib = (attrib & VarAttribAssigned) | ((options & VarFreeMarkUnset) ? VarAttribUnset : 0);
    if (attrib & VarAttribObject) {
        // An alias made by MakeRef holds its VarRef here, so dropping the alias releases it too.
        IObject* old = t->m_object;
        t->m_valueInt64 = 0;
        old->Release();
        return;
    }
    if (t->m_capacity == 0)
        return;  // the shared empty string: nothing to free or truncate
    if (t->m_allocKind == VarAllocHeap &&
        ((options & VarFreeMemory) || ((options & VarFreeIfLarge) && t->m_capacity > kVarLargeBufferBytes))) {
        free(t->m_contents);
        t->m_contents = VarEmptyString();
        t->m_capacity = 0;  // the kind stays Heap: a VarRef's Var must never take pool memory it cannot return
        return;
    }
    t->m_contents[0] = 0;
}

void Var::SetAlias(Var* target, VarRef* ref) {
    Free(VarFreeMemory | VarFreeDropAlias);
    m_type = VarTypeAlias;
    m_aliasFor = target;
    if (ref) {
        m_object = ref;
        m_attrib = (m_attrib & VarAttribAssigned) | VarAttribObject | VarAttribNotNumeric;
    } else {
        m_attrib &= VarAttribAssigned;
    }
}

// --- Reading ---

Status Var::CallGetter(CallResult& result) {
    Status status = m_virtual->getter(result, m_name);
    if (status == Status::Ok && result.result != Status::Ok)
        status = result.result;
    return status == Status::Fail || status == Status::EarlyExit ? status : Status::Ok;
}

Status Var::RefreshText() {
    Var* t = Target();
    if (t->m_type == VarTypeVirtual) {
        Char scratch[kScratchChars];
        CallResult result(scratch);
        BRM_TRY(t->CallGetter(result));
        if (result.memToFree && result.value.symbol == SymString && result.value.marker == result.memToFree) {
            t->AdoptString(result.memToFree, result.value.markerLength);
            result.memToFree = nullptr;
            return Status::Ok;
        }
        int32_t length;
        const Char* text = TokenToString(result.value, result.buffer, &length);
        return t->StoreString(text, length, ExactSize::No);
    }
    uint8_t kind = t->m_attrib & VarAttribNumberMask;
    if (kind && (t->m_attrib & VarAttribStale)) {
        Char number[kScratchChars];
        int length = kind == VarAttribInteger ? FormatInt64(t->m_valueInt64, number)
                                              : FormatFloat(t->m_valueDouble, number);
        BRM_TRY(t->StoreString(number, length, ExactSize::No));
        t->m_attrib |= kind;  // holds both now: the number stays authoritative, the text is current
    }
    return Status::Ok;
}

const Char* Var::Text(Refresh refresh) {
    Var* t = Target();
    if (refresh == Refresh::Yes)
        (void)t->RefreshText();  // a failure was raised; the buffer is left empty
    return t->m_contents;
}

int32_t Var::Length() {
    Var* t = Target();
    (void)t->RefreshText();
    return static_cast<int32_t>(t->m_byteLength / sizeof(Char));
}

NumericKind Var::TextNumeric() {
    Var* t = Target();
    if (t->m_attrib & VarAttribInteger)
        return NumericKind::Integer;
    if (t->m_attrib & VarAttribFloat)
        return NumericKind::Float;
    if (t->m_attrib & (VarAttribObject | VarAttribNotNumeric))
        return NumericKind::None;
    NumericKind kind = IsNumeric(t->Text());
    if (kind == NumericKind::None && t->m_type != VarTypeVirtual)
        t->m_attrib |= VarAttribNotNumeric;
    return kind;
}

double Var::ToDouble() {
    Var* t = Target();
    if (t->m_attrib & VarAttribInteger)
        return static_cast<double>(t->m_valueInt64);
    if (t->m_attrib & VarAttribFloat)
        return t->m_valueDouble;
    if (t->m_attrib & VarAttribObject)
        return 0.0;
    return TextToDouble(t->Text(), HexCheck::Yes);
}

int64_t Var::ToInt64() {
    Var* t = Target();
    if (t->m_attrib & VarAttribInteger)
        return t->m_valueInt64;
    if (t->m_attrib & VarAttribFloat)
        return FloatToInt64(t->m_valueDouble);
    if (t->m_attrib & VarAttribObject)
        return 0;
    return ParseInt64(t->Text());
}

bool Var::Truth() {
    Var* t = Target();
    if (t->m_attrib & VarAttribInteger)
        return t->m_valueInt64 != 0;
    if (t->m_attrib & VarAttribFloat)
        return t->m_valueDouble != 0.0;  // NaN is true
    if (t->m_attrib & VarAttribObject)
        return true;
    const Char* text = t->Text();
    if (t->m_byteLength == 0)
        return false;
    if (text[0] > '0' || text[0] == 0)
        return true;
    switch (t->TextNumeric()) {
    case NumericKind::Integer: return ParseInt64(text) != 0;
    case NumericKind::Float: return ParseDouble(text) != 0.0;
    default: return true;
    }
}

void Var::ToToken(ValueToken& token) {
    Var* t = Target();
    uint8_t attrib = t->m_attrib;
    if (t->m_type != VarTypeVirtual) {
        if (attrib & VarAttribInteger)
            return token.SetInteger(t->m_valueInt64);
        if (attrib & VarAttribFloat)
            return token.SetFloat(t->m_valueDouble);
        if (attrib & VarAttribObject)
            return token.SetObject(t->m_object);
        if (attrib & VarAttribUnset)
            return token.SetMissing();
    }
    const Char* text = t->Text();
    token.SetString(text, static_cast<int32_t>(t->m_byteLength / sizeof(Char)));
}

// --- References and direct buffer access ---

VarRef* Var::MakeRef() {
    if (m_type == VarTypeAlias) {
        Var* holder = (m_attrib & VarAttribObject) ? this : m_aliasFor;
        if (holder->m_type == VarTypeAlias && (holder->m_attrib & VarAttribObject)) {
            auto* existing = static_cast<VarRef*>(holder->m_object);
            existing->AddRef();
            return existing;
        }
    }
    Var* target = Target();
    if (target->m_type != VarTypeNormal) {
        (void)target->RaiseReadOnly(VarAction::TakeReference);
        return nullptr;
    }
    VarRef* ref = VarRef::Create();
    if (!ref) {
        (void)RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        return nullptr;
    }
    Var& body = ref->Body();
    body.m_name = target->m_name;
    body.m_scope = target->m_scope | VarScopeInVarRef;
    // The value moves: a number or object with its bits, a string with its buffer (swapped below).
    uint8_t attrib = target->m_attrib;
    body.m_valueInt64 = target->m_valueInt64;
    body.m_attrib = attrib | ((attrib & VarAttribTypeMask) ? VarAttribStale : 0);
    std::swap(body.m_contents, target->m_contents);
    std::swap(body.m_capacity, target->m_capacity);
    std::swap(body.m_byteLength, target->m_byteLength);
    std::swap(body.m_allocKind, target->m_allocKind);
    // A body without a buffer must take later ones from the heap: it dies with the VarRef and pool
    // memory cannot be returned.
    if (body.m_capacity == 0)
        body.m_allocKind = VarAllocHeap;
    auto makeAlias = [&](Var* v) {
        v->m_type = VarTypeAlias;
        v->m_aliasFor = &body;
        v->m_object = ref;
        v->m_attrib = (v->m_attrib & VarAttribAssigned) | VarAttribObject | VarAttribNotNumeric;
        ref->AddRef();
    };
    if (this != target)
        makeAlias(this);
    makeAlias(target);
    return ref;
}

Status Var::UpdateLength() {
    Var* t = Target();
    if (t->m_attrib & VarAttribObject)
        return Status::Ok;  // an object's buffer is empty and not the value
    if (t->m_capacity) {
        const Char* end = wmemchr(t->m_contents, 0, t->m_capacity / sizeof(Char));
        if (!end)  // the script wrote past the text it reserved: memory after it may be damaged
            return CriticalError(Msg::NotNullTerminated);
        t->m_byteLength = static_cast<uint32_t>(end - t->m_contents) * sizeof(Char);
    } else {
        t->m_byteLength = 0;
    }
    t->m_attrib &= VarAttribKeptByAssign;  // the buffer's text is now the value
    return Status::Ok;
}

Status Var::SetCapacity(int64_t chars, int64_t& usableChars) {
    Var* t = Target();
    usableChars = 0;
    if (t->m_type != VarTypeNormal)
        return t->RaiseReadOnly(VarAction::TakeReference);
    if (chars < 0) {
        BRM_TRY(t->UpdateLength());
    } else if (chars == 0) {
        t->Free(VarFreeMemory);
        t->m_attrib &= ~VarAttribUnset;
    } else {
        if (chars > kVarMaxChars)
            return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        BRM_TRY(t->AssignString(nullptr, static_cast<int32_t>(chars), ExactSize::Yes));
    }
    usableChars = t->CapacityChars();
    return Status::Ok;
}

}  // namespace brm
