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

MapTextOrder TextOrderOf(uint32_t flags) {
    if (flags & Map::FlagLocale) return MapTextOrder::Locale;
    return flags & Map::FlagCaseless ? MapTextOrder::FoldAZ : MapTextOrder::Ordinal;
}

Status OutOfMemory() { return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory); }

bool IsOmitted(const ValueToken* t) {
    return !t || t->symbol == SymMissing || (t->symbol == SymVariable && t->var->IsUnset());
}

Status MapStep(Object* target, uint32_t& position, int mode, Var* first, Var* second, StepResult& step) {
    auto* m = static_cast<Map*>(target);
    if (position >= m->Count()) {
        step = StepResult::End;
        return Status::Ok;
    }
    MapEntry* e = m->EntryAt(position);
    if (!e) {
        step = StepResult::End;
        return Status::Ok;
    }
    step = StepResult::Continue;
    if (first) {
        if (e->kind == MapKeyKind::Integer) BRM_TRY(first->AssignInteger(e->keyInt));
        else if (e->kind == MapKeyKind::Object) {
            e->keyObject->AddRef();  // the variable takes this reference over
            BRM_TRY(first->AssignObject(e->keyObject));
        }
        else BRM_TRY(first->AssignString(e->Text(), static_cast<int32_t>(e->length)));
    }
    if (mode >= 2 && second) {
        ValueToken value;
        e->value.ToToken(value);
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

Map::~Map() { Clear(); }

void Map::Normalise(const ValueToken& token, MapKey& key, Char* buffer) {
    ValueToken v = token;
    if (v.symbol == SymVariable) token.var->ToToken(v);
    key.integer = 0;
    key.object = nullptr;
    key.text = nullptr;
    key.length = 0;
    key.hash = 0;
    switch (v.symbol) {
    case SymInteger:
        key.kind = MapKeyKind::Integer;
        key.integer = v.valueInt64;
        return;
    case SymObject:
        key.kind = MapKeyKind::Object;
        key.object = v.object;
        return;
    case SymFloat:
        key.kind = MapKeyKind::String;
        FormatFloat(v.valueDouble, buffer);
        key.text = buffer;
        break;
    case SymMissing:
        key.kind = MapKeyKind::String;
        key.text = L"";
        break;
    default:
        key.kind = MapKeyKind::String;
        key.text = TokenToString(v, buffer);
        break;
    }
    // A key ends at its first null character.
    key.length = static_cast<uint32_t>(wcslen(key.text));
}

Status Map::Insert(MapKey& key, const ValueToken& value) {
    uint32_t capacity = m_capacity;
    if (Count() == capacity) capacity = capacity ? capacity * 2 : kFirstCapacity;
    if (!m_index.Reserve(1)) return OutOfMemory();
    MapEntry* e = m_index.NewEntry(key);
    if (!e) return OutOfMemory();
    if (!e->value.Store(value)) {
        m_index.FreeEntry(e);
        return OutOfMemory();
    }
    if (key.kind == MapKeyKind::Object) key.object->AddRef();
    m_index.Add(e);
    m_capacity = capacity;
    return Status::Ok;
}

Status Map::SetItem(const ValueToken& keyToken, const ValueToken& value) {
    Char buffer[kScratchChars];
    MapKey key;
    Normalise(keyToken, key, buffer);
    MapEntry* e = m_index.Find(key);
    if (!e) return Insert(key, value);
    ValueCell fresh;
    if (!fresh.Store(value)) return OutOfMemory();
    ValueCell old = e->value;
    e->value = fresh;
    old.Drop();
    return Status::Ok;
}

Status Map::CopyEntries(Map& from) {
    uint32_t count = from.Count();
    if (!count) return Status::Ok;
    auto* copies = static_cast<MapEntry**>(malloc(static_cast<size_t>(count) * sizeof(MapEntry*)));
    if (!copies) return OutOfMemory();
    uint32_t made = 0;
    for (; made < count; ++made) {
        MapEntry* source = from.m_index.At(made);
        MapKey key;
        key.kind = source->kind;
        key.integer = source->keyInt;
        key.object = source->keyObject;
        key.text = source->Text();
        key.length = source->length;
        key.hash = source->hash;
        MapEntry* e = m_index.NewEntry(key);
        if (e && !e->value.CopyFrom(source->value)) {
            m_index.FreeEntry(e);
            e = nullptr;
        }
        if (!e) break;
        if (e->kind == MapKeyKind::Object) e->keyObject->AddRef();
        copies[made] = e;
    }
    bool added = made == count && m_index.AddSorted(copies, count);
    if (!added)
        while (made) ReleaseEntry(copies[--made]);
    free(copies);
    return added ? Status::Ok : OutOfMemory();
}

void Map::ReleaseEntry(MapEntry* e) {
    e->value.Drop();
    if (e->kind == MapKeyKind::Object) e->keyObject->Release();
    m_index.FreeEntry(e);
}

void Map::Clear() {
    if (!Count()) return;
    // Releasing texts and numbers runs no script code: such a map lets go of everything at once.
    if (m_index.AllPlain()) {
        m_index.DropAllPlain();
        return;
    }
    // Last entry first; each entry leaves the map before its key and value are released (a __Delete may
    // look at the map).
    while (MapEntry* e = m_index.Last()) {
        m_index.Remove(e);
        ReleaseEntry(e);
    }
}

Status Map::Member(CallResult& result, int identity, int invokeKind, ValueToken** params, int paramCount) {
    Char scratch[kScratchChars];
    switch (identity) {
    case kItem:
    case kGet: {
        if (identity == kItem && invokeKind == InvokeSet) return SetItem(*params[1], *params[0]);
        MapKey key;
        Normalise(*params[0], key, scratch);
        MapEntry* e = m_index.Find(key);
        if (e && !e->value.IsMissing()) {
            if (!CopyCellToResult(e->value, result)) return OutOfMemory();
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
            if (!reserved && Count() == m_capacity) {
                uint32_t pairs = static_cast<uint32_t>(paramCount / 2);
                if (!m_index.Reserve(pairs)) return OutOfMemory();
                m_capacity += pairs;
            }
            reserved = true;
            BRM_TRY(SetItem(*params[i], *params[i + 1]));
        }
        AddRef();
        result.value.SetObject(this);
        return Status::Ok;
    }
    case kHas: {
        MapKey key;
        Normalise(*params[0], key, scratch);
        result.value.SetInteger(m_index.Find(key) != nullptr);
        return Status::Ok;
    }
    case kDelete: {
        MapKey key;
        Normalise(*params[0], key, scratch);
        MapEntry* e = m_index.Find(key);
        if (!e) {
            const Char* extra = key.kind == MapKeyKind::Object ? TokenTypeName(*params[0]) : TokenToString(*params[0], scratch);
            return RaiseMsg(ErrorClass::UnsetItemError, Msg::ItemHasNoValue, extra);
        }
        m_index.Remove(e);
        MoveCellToResult(e->value, result);
        e->value.SetMissing();
        ReleaseEntry(e);
        return Status::Ok;
    }
    case kClear:
        Clear();
        return Status::Ok;
    case kCount:
        result.value.SetInteger(Count());
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
        uint32_t capacity = static_cast<uint32_t>(n) < Count() ? Count() : static_cast<uint32_t>(n);
        if (!m_index.Resize(capacity)) return OutOfMemory();
        m_capacity = capacity;
        return Status::Ok;
    }
    case kCaseSense: {
        if (invokeKind != InvokeSet) {
            result.value.SetString((m_flags & FlagLocale) ? L"Locale" : (m_flags & FlagCaseless) ? L"Off" : L"On");
            return Status::Ok;
        }
        if (Count()) return RaiseMsg(ErrorClass::Error, Msg::MapMustBeEmpty);
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
        m_index.SetTextOrder(TextOrderOf(flags));
        return Status::Ok;
    }
    case kClone: {
        Map* copy = Create(GetBase());
        if (!copy) return OutOfMemory();
        Ref<Map> owner(copy);
        copy->AddFlags(m_flags & (FlagCaseless | FlagLocale));
        copy->m_index.SetTextOrder(m_index.TextOrder());
        BRM_TRY(copy->CopyEntries(*this));
        copy->m_capacity = m_capacity;
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
