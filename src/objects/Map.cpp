// Map: key normalisation, the sorted regions, and the members of Map.Prototype.
#include "objects/Map.h"
#include <new>
#include "base/Messages.h"
#include "base/SortedTable.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "objects/Array.h"
#include "objects/Enumerator.h"
#include "objects/NativeClass.h"

namespace brm {

namespace {

enum MapMember : uint8_t { kEnum, kItem, kNew, kCapacity, kCaseSense, kClear, kClone, kCount, kDelete, kGet, kHas, kSet };

const ObjectMemberDef kMapMembers[] = {
    {L"__Enum", MemberThunk<Map, &Map::Member>, kEnum, MemberKind::Method, 0, 1},
    {L"__Item", MemberThunk<Map, &Map::Member>, kItem, MemberKind::ReadWriteProperty, 1, 1},
    {L"__New", MemberThunk<Map, &Map::Member>, kNew, MemberKind::Method, 0, 255},
    {L"Capacity", MemberThunk<Map, &Map::Member>, kCapacity, MemberKind::ReadWriteProperty, 0, 0},
    {L"CaseSense", MemberThunk<Map, &Map::Member>, kCaseSense, MemberKind::ReadWriteProperty, 0, 0},
    {L"Clear", MemberThunk<Map, &Map::Member>, kClear, MemberKind::Method, 0, 0},
    {L"Clone", MemberThunk<Map, &Map::Member>, kClone, MemberKind::Method, 0, 0},
    {L"Count", MemberThunk<Map, &Map::Member>, kCount, MemberKind::ReadOnlyProperty, 0, 0},
    {L"Delete", MemberThunk<Map, &Map::Member>, kDelete, MemberKind::Method, 1, 1},
    {L"Get", MemberThunk<Map, &Map::Member>, kGet, MemberKind::Method, 1, 2},
    {L"Has", MemberThunk<Map, &Map::Member>, kHas, MemberKind::Method, 1, 1},
    {L"Set", MemberThunk<Map, &Map::Member>, kSet, MemberKind::Method, 0, 255},
};

constexpr uint32_t kFirstCapacity = 4;

Status OutOfMemory() { return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory); }

bool IsOmitted(const ValueToken* t) {
    return !t || t->symbol == SymMissing || (t->symbol == SymVariable && t->var->IsUnset());
}

inline Char FoldedFirst(const Char* text) { return *text; }

Status MapStep(Object* target, uint32_t& position, int mode, Var* first, Var* second, StepResult& step) {
    auto* m = static_cast<Map*>(target);
    if (position >= m->Count()) {
        step = StepResult::End;
        return Status::Ok;
    }
    step = StepResult::Continue;
    MapEntry& e = m->EntryAt(position);
    if (first) {
        if (m->IsIntegerEntry(position)) BRM_TRY(first->AssignInteger(e.keyInt));
        else if (m->IsObjectEntry(position)) {
            e.keyObject->AddRef();  // the variable takes this reference over
            BRM_TRY(first->AssignObject(e.keyObject));
        }
        else BRM_TRY(first->AssignString(e.keyText));
    }
    if (mode >= 2 && second) {
        ValueToken value;
        e.value.ToToken(value);
        BRM_TRY(second->Assign(value));
    }
    return Status::Ok;
}

}  // namespace

Map* Map::Create(IObject* base) {
    if (!base) base = BuiltInPrototype(ClassId::Map);
    return new (std::nothrow) Map(base);
}

void RegisterMapClass() {
    constexpr int count = static_cast<int>(sizeof(kMapMembers) / sizeof(kMapMembers[0]));
    RegisterNativeClass(ClassId::Map, {kMapMembers, count, []() -> Object* { return Map::Create(); }});
}

Map::~Map() {
    Clear();
    free(m_entries);
}

void Map::Normalise(const ValueToken& token, Key& key) {
    ValueToken v = token;
    if (v.symbol == SymVariable) token.var->ToToken(v);
    switch (v.symbol) {
    case SymInteger:
        key.kind = Key::Integer;
        key.integer = v.valueInt64;
        return;
    case SymObject:
        key.kind = Key::Object;
        key.object = v.object;
        return;
    case SymFloat:
        key.kind = Key::String;
        FormatFloat(v.valueDouble, key.buffer);
        key.text = key.buffer;
        return;
    case SymMissing:
        key.kind = Key::String;
        key.text = L"";
        return;
    default:
        key.kind = Key::String;
        key.text = TokenToString(v, key.buffer);
        return;
    }
}

int Map::CompareText(const Char* a, Char aKey, const Char* b, Char bKey) const {
    if (m_flags & FlagLocale) return lstrcmpiW(a, b);
    if (m_flags & FlagCaseless) return CompareFoldAZ(a, b);
    if (aKey != bKey) return aKey < bKey ? -1 : 1;
    return wcscmp(a, b);
}

bool Map::Find(const Key& key, uint32_t* at) {
    uint32_t lo, hi;
    switch (key.kind) {
    case Key::Integer: lo = 0; hi = m_intCount; break;
    case Key::Object: lo = m_intCount; hi = m_nonStringCount; break;
    default: lo = m_nonStringCount; hi = m_count; break;
    }
    Char keyChar = key.kind != Key::String || (m_flags & FlagCaseless) ? 0 : FoldedFirst(key.text);
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        const MapEntry& e = m_entries[mid];
        int c;
        if (key.kind == Key::Integer)
            c = key.integer < e.keyInt ? -1 : key.integer > e.keyInt ? 1 : 0;
        else if (key.kind == Key::Object) {
            auto a = reinterpret_cast<intptr_t>(key.object), b = reinterpret_cast<intptr_t>(e.keyObject);
            c = a < b ? -1 : a > b ? 1 : 0;
        } else {
            c = CompareText(key.text, keyChar, e.keyText, e.keyChar);
        }
        if (c == 0) {
            *at = mid;
            return true;
        }
        if (c < 0) hi = mid;
        else lo = mid + 1;
    }
    *at = lo;
    return false;
}

bool Map::Grow(uint32_t capacity) {
    if (capacity < m_count) capacity = m_count;
    if (!capacity) {
        free(m_entries);
        m_entries = nullptr;
        m_capacity = 0;
        return true;
    }
    auto* entries = static_cast<MapEntry*>(realloc(m_entries, static_cast<size_t>(capacity) * sizeof(MapEntry)));
    if (!entries) return false;
    m_entries = entries;
    m_capacity = capacity;
    return true;
}

Status Map::Insert(const Key& key, uint32_t at, const ValueToken& value) {
    if (m_count == m_capacity && !Grow(m_capacity ? m_capacity * 2 : kFirstCapacity)) return OutOfMemory();
    MapEntry e;
    e.value.SetMissing();
    e.keyChar = 0;
    switch (key.kind) {
    case Key::Integer: e.keyInt = key.integer; break;
    case Key::Object:
        e.keyObject = key.object;
        break;
    default: {
        size_t length = wcslen(key.text);
        e.keyText = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
        if (!e.keyText) return OutOfMemory();
        wmemcpy(e.keyText, key.text, length + 1);
        if (!(m_flags & FlagCaseless)) e.keyChar = FoldedFirst(key.text);
        break;
    }
    }
    if (!e.value.Store(value)) {
        if (key.kind == Key::String) free(e.keyText);
        return OutOfMemory();
    }
    if (key.kind == Key::Object) key.object->AddRef();
    memmove(m_entries + at + 1, m_entries + at, (m_count - at) * sizeof(MapEntry));
    m_entries[at] = e;
    ++m_count;
    if (key.kind == Key::Integer) ++m_intCount;
    if (key.kind != Key::String) ++m_nonStringCount;
    return Status::Ok;
}

Status Map::SetItem(const ValueToken& keyToken, const ValueToken& value) {
    Key key;
    Normalise(keyToken, key);
    uint32_t at;
    if (!Find(key, &at)) return Insert(key, at, value);
    ValueCell fresh;
    if (!fresh.Store(value)) return OutOfMemory();
    ValueCell old = m_entries[at].value;
    m_entries[at].value = fresh;
    old.Drop();
    return Status::Ok;
}

void Map::Clear() {
    // Last entry first; each entry leaves the map before its key and value are released.
    while (m_count) {
        uint32_t i = m_count - 1;
        MapEntry e = m_entries[i];
        bool isString = i >= m_nonStringCount;
        bool isObject = !isString && i >= m_intCount;
        m_count = i;
        if (m_nonStringCount > i) m_nonStringCount = i;
        if (m_intCount > i) m_intCount = i;
        e.value.Drop();
        if (isString) free(e.keyText);
        else if (isObject) e.keyObject->Release();
    }
}

Status Map::Member(CallResult& result, int identity, int invokeKind, ValueToken** params, int paramCount) {
    Char scratch[kScratchChars];
    switch (identity) {
    case kItem:
    case kGet: {
        if (identity == kItem && invokeKind == InvokeSet) return SetItem(*params[1], *params[0]);
        Key key;
        Normalise(*params[0], key);
        uint32_t at;
        if (Find(key, &at) && !m_entries[at].value.IsMissing()) {
            if (!CopyCellToResult(m_entries[at].value, result)) return OutOfMemory();
            return Status::Ok;
        }
        return MissingItem(this, result, identity == kGet && paramCount > 1 ? params[1] : nullptr, *params[0]);
    }
    case kNew:
    case kSet: {
        if (paramCount % 2) return RaiseMsg(ErrorClass::Error, Msg::InvalidParamCount);
        bool reserved = false;
        for (int i = 0; i < paramCount; i += 2) {
            if (IsOmitted(params[i]) || IsOmitted(params[i + 1])) continue;
            if (!reserved && m_count == m_capacity) {
                if (!Grow(m_capacity + static_cast<uint32_t>(paramCount / 2))) return OutOfMemory();
            }
            reserved = true;
            BRM_TRY(SetItem(*params[i], *params[i + 1]));
        }
        AddRef();
        result.value.SetObject(this);
        return Status::Ok;
    }
    case kHas: {
        Key key;
        Normalise(*params[0], key);
        uint32_t at;
        result.value.SetInteger(Find(key, &at));
        return Status::Ok;
    }
    case kDelete: {
        Key key;
        Normalise(*params[0], key);
        uint32_t at;
        if (!Find(key, &at)) {
            const Char* extra = key.kind == Key::Object ? TokenTypeName(*params[0]) : TokenToString(*params[0], scratch);
            return RaiseMsg(ErrorClass::UnsetItemError, Msg::ItemHasNoValue, extra);
        }
        MapEntry e = m_entries[at];
        memmove(m_entries + at, m_entries + at + 1, (m_count - at - 1) * sizeof(MapEntry));
        --m_count;
        if (key.kind == Key::Integer) --m_intCount;
        if (key.kind != Key::String) --m_nonStringCount;
        MoveCellToResult(e.value, result);
        if (key.kind == Key::String) free(e.keyText);
        else if (key.kind == Key::Object) e.keyObject->Release();
        return Status::Ok;
    }
    case kClear:
        Clear();
        return Status::Ok;
    case kCount:
        result.value.SetInteger(m_count);
        return Status::Ok;
    case kCapacity: {
        if (invokeKind != InvokeSet) {
            result.value.SetInteger(m_capacity);
            return Status::Ok;
        }
        if (TokenIsNumeric(*params[0]) == NumericKind::None) return RaiseParamTypeError(0, L"Number", *params[0]);
        int64_t n = TokenToInt64(*params[0]);
        if (n < 0) n = 0;
        if (n > 0x7FFFFFFF) return OutOfMemory();
        if (!Grow(static_cast<uint32_t>(n))) return OutOfMemory();
        return Status::Ok;
    }
    case kCaseSense: {
        if (invokeKind != InvokeSet) {
            result.value.SetString((m_flags & FlagLocale) ? L"Locale" : (m_flags & FlagCaseless) ? L"Off" : L"On");
            return Status::Ok;
        }
        if (m_count) return RaiseMsg(ErrorClass::Error, Msg::MapMustBeEmpty);
        ValueToken v = *params[0];
        if (v.symbol == SymVariable) params[0]->var->ToToken(v);
        uint32_t flags;
        const Char* text = v.symbol == SymObject ? L"" : TokenToString(v, scratch);
        if (v.symbol == SymInteger ? v.valueInt64 == 1 : (!CompareFoldAZ(text, L"On") || !wcscmp(text, L"1")))
            flags = 0;
        else if (v.symbol == SymInteger ? v.valueInt64 == 0 : (!CompareFoldAZ(text, L"Off") || !wcscmp(text, L"0")))
            flags = FlagCaseless;
        else if (v.symbol != SymInteger && !CompareFoldAZ(text, L"Locale"))
            flags = FlagCaseless | FlagLocale;
        else
            return RaiseMsg(ErrorClass::ValueError, Msg::InvalidValue, v.symbol == SymObject ? TokenTypeName(v) : text);
        RemoveFlags(FlagCaseless | FlagLocale);
        AddFlags(flags);
        return Status::Ok;
    }
    case kClone: {
        Map* copy = Create(GetBase());
        if (!copy) return OutOfMemory();
        Ref<Map> owner(copy);
        copy->AddFlags(m_flags & (FlagCaseless | FlagLocale));
        if (!copy->Grow(m_capacity)) return OutOfMemory();
        for (uint32_t i = 0; i < m_count; ++i) {
            MapEntry e = m_entries[i];
            if (!e.value.CopyFrom(m_entries[i].value)) return OutOfMemory();
            if (i >= m_nonStringCount) {
                size_t length = wcslen(e.keyText);
                e.keyText = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
                if (!e.keyText) {
                    e.value.Drop();
                    return OutOfMemory();
                }
                wmemcpy(e.keyText, m_entries[i].keyText, length + 1);
            } else if (i >= m_intCount) {
                e.keyObject->AddRef();
            }
            copy->m_entries[i] = e;
            copy->m_count = i + 1;
            copy->m_intCount = i < m_intCount ? i + 1 : m_intCount;
            copy->m_nonStringCount = i < m_nonStringCount ? i + 1 : m_nonStringCount;
        }
        BRM_TRY(CopyOwnProps(this, copy));
        result.value.SetObject(owner.Detach());
        return Status::Ok;
    }
    case kEnum: {
        int varCount = paramCount && !IsOmitted(params[0]) ? static_cast<int>(TokenToInt64(*params[0])) : 0;
        IndexEnumerator* e = IndexEnumerator::Create(this, MapStep, varCount);
        if (!e) return OutOfMemory();
        result.value.SetObject(e);
        return Status::Ok;
    }
    }
    return Status::NotHandled;
}

}  // namespace brm
