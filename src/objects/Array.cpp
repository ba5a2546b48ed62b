// Array: storage, growth, index translation and the members of Array.Prototype.
#include "objects/Array.h"
#include <new>
#include "base/Messages.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "exec/GlobalVars.h"
#include "expr/Evaluator.h"
#include "startup/CommandLine.h"
#include "objects/Enumerator.h"
#include "objects/NativeClass.h"

namespace brm {

namespace {

// Positions and counts are 32-bit; the largest valid position is the largest signed 32-bit value.
constexpr int64_t kMaxPosition = 0x7FFFFFFF;

enum ArrayMember : uint8_t {
    kEnum, kItem, kNew, kCapacity, kClone, kDelete, kGet, kHas, kInsertAt, kLength, kPop, kPush, kRemoveAt,
};

const ObjectMemberDef kArrayMembers[] = {
    {L"__Enum", MemberThunk<Array, &Array::Member>, kEnum, MemberKind::Method, 0, 1},
    {L"__Item", MemberThunk<Array, &Array::Member>, kItem, MemberKind::ItemProperty, 1, 1},
    {L"__New", MemberThunk<Array, &Array::Member>, kNew, MemberKind::Method, 0, 255},
    {L"Capacity", MemberThunk<Array, &Array::Member>, kCapacity, MemberKind::ReadWriteProperty, 0, 0},
    {L"Clone", MemberThunk<Array, &Array::Member>, kClone, MemberKind::Method, 0, 0},
    {L"Delete", MemberThunk<Array, &Array::Member>, kDelete, MemberKind::Method, 1, 1},
    {L"Get", MemberThunk<Array, &Array::Member>, kGet, MemberKind::Method, 1, 2},
    {L"Has", MemberThunk<Array, &Array::Member>, kHas, MemberKind::Method, 1, 1},
    {L"InsertAt", MemberThunk<Array, &Array::Member>, kInsertAt, MemberKind::Method, 1, 255},
    {L"Length", MemberThunk<Array, &Array::Member>, kLength, MemberKind::ReadWriteProperty, 0, 0},
    {L"Pop", MemberThunk<Array, &Array::Member>, kPop, MemberKind::Method, 0, 0},
    {L"Push", MemberThunk<Array, &Array::Member>, kPush, MemberKind::Method, 0, 255},
    {L"RemoveAt", MemberThunk<Array, &Array::Member>, kRemoveAt, MemberKind::Method, 1, 2},
};

Status OutOfMemory() { return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory); }

bool IsOmitted(const ValueToken* t) {
    return !t || t->symbol == SymMissing || (t->symbol == SymVariable && t->var->IsUnset());
}

// The value as text for an error's extra text.
const Char* ExtraText(const ValueToken& t, Char* scratch) {
    if (t.symbol == SymVariable && t.var->IsUnset()) return L"";
    ValueToken v = t;
    if (v.symbol == SymVariable) t.var->ToToken(v);
    if (v.symbol == SymObject) return TokenTypeName(v);
    return TokenToString(v, scratch);
}

// A numeric argument as an integer; the parameter type error naming "Number" otherwise.
Status IntegerArg(ValueToken** params, int index, int64_t& out) {
    if (TokenIsNumeric(*params[index]) == NumericKind::None) return RaiseParamTypeError(index, L"Number", *params[index]);
    out = TokenToInt64(*params[index]);
    return Status::Ok;
}

Status ArrayStep(Object* target, uint32_t& position, int mode, Var* first, Var* second, StepResult& step) {
    auto* a = static_cast<Array*>(target);
    if (position >= a->Length()) {
        step = StepResult::End;
        return Status::Ok;
    }
    step = StepResult::Continue;
    ValueToken value;
    a->ItemAt(position).ToToken(value);
    if (mode >= 2) {
        if (first) BRM_TRY(first->AssignInteger(static_cast<int64_t>(position) + 1));
        if (second) BRM_TRY(second->Assign(value));
    } else if (first) {
        BRM_TRY(first->Assign(value));
    }
    return Status::Ok;
}

}  // namespace

Status MissingItem(Object* self, CallResult& result, ValueToken* fallback, const ValueToken& key) {
    if (!IsOmitted(fallback)) {
        ValueToken v = *fallback;
        if (v.symbol == SymVariable) fallback->var->ToToken(v);
        if (v.symbol == SymObject) v.object->AddRef();
        result.value = v;
        if (v.symbol == SymString) {
            // The argument's text may not outlive the call: copy it into the result.
            int32_t length = v.markerLength < 0 ? static_cast<int32_t>(wcslen(v.marker)) : v.markerLength;
            Char* target = result.buffer;
            if (length >= kScratchChars) {
                target = static_cast<Char*>(malloc((static_cast<size_t>(length) + 1) * sizeof(Char)));
                if (!target) return OutOfMemory();
                result.memToFree = target;
            }
            wmemcpy(target, v.marker, static_cast<size_t>(length));
            target[length] = 0;
            result.value.SetString(target, length);
        }
        return Status::Ok;
    }
    ValueToken self1;
    self1.SetObject(self);
    Status st = self->InvokeMember(result, InvokeGet, L"Default", self1, nullptr, 0);
    if (st != Status::NotHandled) return st;
    Char scratch[kScratchChars];
    return RaiseMsg(ErrorClass::UnsetItemError, Msg::ItemHasNoValue, ExtraText(key, scratch));
}

Status CreateArrayLiteral(CallResult& result, ValueToken** params, int count) {
    Array* a = Array::Create();
    if (!a) return OutOfMemory();
    Ref<Array> owner(a);
    BRM_TRY(a->Append(params, count));
    result.value.SetObject(owner.Detach());
    return Status::Ok;
}

Status CreateArgsArray() {
    Var* var = FindOrAddGlobal(L"A_Args", 6);
    if (!var) return Status::Fail;
    Array* args = Array::Create();
    if (!args) return OutOfMemory();
    Ref<Array> owner(args);
    for (const std::wstring& arg : g_scriptArgs)
        BRM_TRY(args->AppendText(arg.c_str(), static_cast<int32_t>(arg.size())));
    return var->AssignObject(owner.Detach());
}

Array* Array::Create(IObject* base) {
    if (!base) base = BuiltInPrototype(ClassId::Array);
    return new (std::nothrow) Array(base);
}

void RegisterArrayClass() {
    constexpr int count = static_cast<int>(sizeof(kArrayMembers) / sizeof(kArrayMembers[0]));
    RegisterNativeClass(ClassId::Array, {kArrayMembers, count, []() -> Object* { return Array::Create(); }});
}

Array::~Array() {
    Truncate(0);
    free(m_items);
}

int64_t Array::Position(int64_t index, uint32_t count) {
    if (index <= 0) index += static_cast<int64_t>(count) + 1;
    int64_t position = index - 1;
    return position < 0 || position > kMaxPosition ? -1 : position;
}

bool Array::Reserve(uint64_t capacity) {
    if (capacity < m_count) capacity = m_count;
    if (capacity == m_capacity) return true;
    if (capacity > static_cast<uint64_t>(kMaxPosition) + 1) return false;
    if (!capacity) {
        free(m_items);
        m_items = nullptr;
        m_capacity = 0;
        return true;
    }
    auto* items = static_cast<ValueCell*>(realloc(m_items, capacity * sizeof(ValueCell)));
    if (!items) return false;
    m_items = items;
    m_capacity = static_cast<uint32_t>(capacity);
    return true;
}

void Array::Truncate(uint32_t newCount) {
    // Released from the end, one at a time, with the count already lowered: a __Delete sees a whole array.
    while (m_count > newCount) {
        ValueCell old = m_items[--m_count];
        old.Drop();
    }
}

Status Array::InsertAt(uint32_t position, ValueToken** values, int count) {
    if (count <= 0) return Status::Ok;
    uint64_t needed = static_cast<uint64_t>(m_count) + static_cast<uint64_t>(count);
    if (needed > m_capacity) {
        uint64_t grown = static_cast<uint64_t>(m_capacity) * 2;
        if (!Reserve(grown > needed && grown <= static_cast<uint64_t>(kMaxPosition) + 1 ? grown : needed))
            return OutOfMemory();
    }
    memmove(m_items + position + count, m_items + position, (m_count - position) * sizeof(ValueCell));
    for (int i = 0; i < count; ++i) m_items[position + i].SetMissing();
    m_count += static_cast<uint32_t>(count);
    for (int i = 0; i < count; ++i)
        if (!m_items[position + i].Store(*values[i])) return OutOfMemory();
    return Status::Ok;
}

Status Array::Append(ValueToken** values, int count) { return InsertAt(m_count, values, count); }

// The splitting and listing functions append text by the hundred thousand: straight into the next cell.
Status Array::AppendText(const Char* text, int32_t length) {
    if (m_count == m_capacity) {  // grows as InsertAt does
        uint64_t needed = static_cast<uint64_t>(m_count) + 1;
        uint64_t grown = static_cast<uint64_t>(m_capacity) * 2;
        if (!Reserve(grown > needed && grown <= static_cast<uint64_t>(kMaxPosition) + 1 ? grown : needed))
            return OutOfMemory();
    }
    if (length < 0) length = static_cast<int32_t>(wcslen(text));
    ValueCell& cell = m_items[m_count];
    if (!cell.StoreText(text, static_cast<size_t>(length))) return OutOfMemory();
    ++m_count;
    return Status::Ok;
}

Status Array::ItemOrDefault(CallResult& result, ValueToken& index, ValueToken* fallback) {
    int64_t i = 0;
    ValueToken* p = &index;
    BRM_TRY(IntegerArg(&p, 0, i));
    int64_t position = Position(i, m_count);
    Char scratch[kScratchChars];
    if (position < 0 || position >= m_count) return RaiseMsg(ErrorClass::IndexError, Msg::InvalidIndex, ExtraText(index, scratch));
    ValueCell& cell = m_items[position];
    if (cell.IsMissing()) return MissingItem(this, result, fallback, index);
    if (!CopyCellToResult(cell, result)) return OutOfMemory();
    return Status::Ok;
}

Status Array::Member(CallResult& result, int identity, int invokeKind, ValueToken** params, int paramCount) {
    Char scratch[kScratchChars];
    switch (identity) {
    case kItem: {
        if (invokeKind != InvokeSet) return ItemOrDefault(result, *params[0], nullptr);
        int64_t i = 0;
        BRM_TRY(IntegerArg(params, 1, i));
        int64_t position = Position(i, m_count);
        if (position < 0 || position >= m_count)
            return RaiseMsg(ErrorClass::IndexError, Msg::InvalidIndex, ExtraText(*params[1], scratch));
        ValueCell fresh;
        if (!fresh.Store(*params[0])) return OutOfMemory();
        ValueCell old = m_items[position];
        m_items[position] = fresh;
        old.Drop();  // after the element holds its new value: a __Delete may look at the array
        return Status::Ok;
    }
    case kGet:
        return ItemOrDefault(result, *params[0], paramCount > 1 ? params[1] : nullptr);
    case kLength:
    case kCapacity: {
        if (invokeKind != InvokeSet) {
            result.value.SetInteger(identity == kLength ? m_count : m_capacity);
            return Status::Ok;
        }
        int64_t n = 0;
        BRM_TRY(IntegerArg(params, 0, n));
        if (n < 0 || n > kMaxPosition)
            return RaiseMsg(ErrorClass::ValueError, Msg::InvalidValue, ExtraText(*params[0], scratch));
        uint32_t count = static_cast<uint32_t>(n);
        if (identity == kCapacity) {
            if (count < m_count) Truncate(count);
            if (!Reserve(count)) return OutOfMemory();
            return Status::Ok;
        }
        if (count < m_count) {
            Truncate(count);
            return Status::Ok;
        }
        if (count > m_capacity && !Reserve(count)) return OutOfMemory();
        for (uint32_t i = m_count; i < count; ++i) m_items[i].SetMissing();
        m_count = count;
        return Status::Ok;
    }
    case kNew:
    case kPush:
        BRM_TRY(Append(params, paramCount));
        return Status::Ok;
    case kInsertAt: {
        int64_t i = 0;
        BRM_TRY(IntegerArg(params, 0, i));
        int64_t position = Position(i, m_count);
        if (position < 0 || position > m_count)
            return RaiseFormatted(ErrorClass::ValueError, ExtraText(*params[0], scratch), Msg::ParamInvalid, 1);
        return InsertAt(static_cast<uint32_t>(position), params + 1, paramCount - 1);
    }
    case kRemoveAt: {
        int64_t i = 0;
        BRM_TRY(IntegerArg(params, 0, i));
        int64_t position = Position(i, m_count);
        if (position < 0 || position >= m_count)
            return RaiseFormatted(ErrorClass::ValueError, ExtraText(*params[0], scratch), Msg::ParamInvalid, 1);
        if (paramCount < 2 || IsOmitted(params[1])) {
            ValueCell removed = m_items[position];
            memmove(m_items + position, m_items + position + 1, (m_count - position - 1) * sizeof(ValueCell));
            --m_count;
            MoveCellToResult(removed, result);
            return Status::Ok;
        }
        int64_t length = 0;
        BRM_TRY(IntegerArg(params, 1, length));
        if (length < 0 || position + length > m_count)
            return RaiseFormatted(ErrorClass::ValueError, ExtraText(*params[1], scratch), Msg::ParamInvalid, 2);
        // The cells leave the array before any of them is released.
        std::vector<ValueCell> removed(m_items + position, m_items + position + length);
        memmove(m_items + position, m_items + position + length,
                (m_count - position - length) * sizeof(ValueCell));
        m_count -= static_cast<uint32_t>(length);
        for (ValueCell& c : removed) c.Drop();
        return Status::Ok;
    }
    case kPop: {
        if (!m_count) return RaiseMsg(ErrorClass::Error, Msg::ArrayIsEmpty);
        MoveCellToResult(m_items[--m_count], result);
        return Status::Ok;
    }
    case kHas: {
        int64_t i = 0;
        BRM_TRY(IntegerArg(params, 0, i));
        int64_t position = Position(i, m_count);
        result.value.SetInteger(position >= 0 && position < m_count && !m_items[position].IsMissing());
        return Status::Ok;
    }
    case kDelete: {
        int64_t i = 0;
        BRM_TRY(IntegerArg(params, 0, i));
        int64_t position = Position(i, m_count);
        if (position < 0 || position >= m_count)
            return RaiseFormatted(ErrorClass::ValueError, ExtraText(*params[0], scratch), Msg::ParamInvalid, 1);
        MoveCellToResult(DetachCell(m_items[position]), result);
        return Status::Ok;
    }
    case kClone: {
        Array* copy = Create(GetBase());
        if (!copy) return OutOfMemory();
        Ref<Array> owner(copy);
        if (!copy->Reserve(m_capacity)) return OutOfMemory();
        for (uint32_t i = 0; i < m_count; ++i) {
            if (!copy->m_items[i].CopyFrom(m_items[i])) return OutOfMemory();
            copy->m_count = i + 1;
        }
        BRM_TRY(CopyOwnProps(this, copy));
        result.value.SetObject(owner.Detach());
        return Status::Ok;
    }
    case kEnum: {
        int varCount = paramCount && !IsOmitted(params[0]) ? static_cast<int>(TokenToInt64(*params[0])) : 0;
        IndexEnumerator* e = IndexEnumerator::Create(this, ArrayStep, varCount);
        if (!e) return OutOfMemory();
        result.value.SetObject(e);
        return Status::Ok;
    }
    }
    return Status::NotHandled;
}

Status CopyOwnProps(Object* from, Object* to) {
    for (int i = 0; i < from->OwnPropCount(); ++i) {
        Property& p = from->OwnPropAt(i);
        if (p.IsDynamic()) {
            PropDesc* d = p.desc;
            if (d->getter) BRM_TRY(to->DefineGetter(p.name, d->getter));
            if (d->setter) BRM_TRY(to->DefineSetter(p.name, d->setter));
            if (d->method) BRM_TRY(to->DefineMethod(p.name, d->method));
            continue;
        }
        ValueToken value;
        p.ToToken(value);
        BRM_TRY(to->SetOwnProp(p.name, value));
    }
    return Status::Ok;
}

}  // namespace brm
