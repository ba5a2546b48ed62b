// The match object: building it from an engine run, choosing a group by number or name, and the members
// of RegExMatchInfo.Prototype.
#include "lib/RegExMatchInfo.h"
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "lib/RegEx.h"
#include "lib/StringFunctions.h"
#include "objects/Array.h"
#include "objects/Enumerator.h"
#include "objects/NativeClass.h"

namespace brm {

namespace {

enum MatchMember : uint8_t { kEnum, kGet, kItem, kCount, kLen, kMark, kName, kPos };

// Pos, Len and Name are both methods and read-only properties: m.Pos, m.Pos[2] and m.Pos(2) all work.
const ObjectMemberDef kMatchMembers[] = {
    {L"__Enum", MemberThunk<RegExMatchObject, &RegExMatchObject::Member>, kEnum, MemberKind::Method, 0, 1},
    {L"__Get", MemberThunk<RegExMatchObject, &RegExMatchObject::Member>, kGet, MemberKind::Method, 2, 2},
    {L"__Item", MemberThunk<RegExMatchObject, &RegExMatchObject::Member>, kItem, MemberKind::ReadOnlyProperty, 0, 1},
    {L"Count", MemberThunk<RegExMatchObject, &RegExMatchObject::Member>, kCount, MemberKind::ReadOnlyProperty, 0, 0},
    {L"Len", MemberThunk<RegExMatchObject, &RegExMatchObject::Member>, kLen, MemberKind::Method, 0, 1},
    {L"Len", MemberThunk<RegExMatchObject, &RegExMatchObject::Member>, kLen, MemberKind::ReadOnlyProperty, 0, 1},
    {L"Mark", MemberThunk<RegExMatchObject, &RegExMatchObject::Member>, kMark, MemberKind::ReadOnlyProperty, 0, 0},
    {L"Name", MemberThunk<RegExMatchObject, &RegExMatchObject::Member>, kName, MemberKind::Method, 1, 1},
    {L"Name", MemberThunk<RegExMatchObject, &RegExMatchObject::Member>, kName, MemberKind::ReadOnlyProperty, 1, 1},
    {L"Pos", MemberThunk<RegExMatchObject, &RegExMatchObject::Member>, kPos, MemberKind::Method, 0, 1},
    {L"Pos", MemberThunk<RegExMatchObject, &RegExMatchObject::Member>, kPos, MemberKind::ReadOnlyProperty, 0, 1},
};

bool IsOmitted(const ValueToken* t) {
    return !t || t->symbol == SymMissing || (t->symbol == SymVariable && t->var->IsUnset());
}

Status GroupValue(RegExMatchObject& m, int group, CallResult& result) {
    const RegExGroup& g = m.Group(group);
    if (g.start < 0 || g.length <= 0) {
        result.value.SetString(L"", 0);
        return Status::Ok;
    }
    return SetResultText(result, m.GroupText(group), static_cast<size_t>(g.length));
}

Status MatchStep(Object* target, uint32_t& position, int mode, Var* first, Var* second, StepResult& step) {
    auto* m = static_cast<RegExMatchObject*>(target);
    if (position >= static_cast<uint32_t>(m->Count())) {
        step = StepResult::End;
        return Status::Ok;
    }
    step = StepResult::Continue;
    int group = static_cast<int>(position);
    const RegExGroup& g = m->Group(group);
    const Char* text = g.start >= 0 && g.length > 0 ? m->GroupText(group) : L"";
    int32_t length = g.start >= 0 && g.length > 0 ? g.length : 0;
    Var* textVar = mode >= 2 ? second : first;
    if (mode >= 2 && first) {
        if (const Char* name = m->GroupName(group))
            BRM_TRY(first->AssignString(name));
        else
            BRM_TRY(first->AssignInteger(group));
    }
    if (textVar)
        BRM_TRY(textVar->AssignString(text, length));
    return Status::Ok;
}

}  // namespace

void RegisterRegExMatchClass() {
    constexpr int count = static_cast<int>(sizeof(kMatchMembers) / sizeof(kMatchMembers[0]));
    RegisterNativeClass(ClassId::RegExMatchInfo, {kMatchMembers, count, nullptr});
}


RegExMatchObject* RegExMatchObject::Create(const Char* haystack, const int* ovector, int pairCount, int setCount,
                                           const Char* mark, CompiledRegEx* pattern, const int* group0,
                                           bool* outOfMemory) {
    *outOfMemory = false;
    if (setCount <= 0 || pairCount <= 0)
        return nullptr;
    if (setCount > pairCount)
        setCount = pairCount;
    auto* m = new (std::nothrow) RegExMatchObject(BuiltInPrototype(ClassId::RegExMatchInfo));
    if (!m) {
        *outOfMemory = true;
        return nullptr;
    }
    int32_t low = INT32_MAX, high = 0;
    for (int i = 0; i < setCount; ++i) {
        int32_t start = i == 0 && group0 ? group0[0] : ovector[2 * i];
        int32_t end = i == 0 && group0 ? group0[1] : ovector[2 * i + 1];
        if (start < 0)
            continue;
        if (end < start)
            end = start;  // \K inside a lookahead can end a match before its start: never a negative length
        if (start < low) low = start;
        if (end > high) high = end;
    }
    size_t spanLength = low < high ? static_cast<size_t>(high - low) : 0;
    size_t pairBytes = static_cast<size_t>(pairCount) * sizeof(RegExGroup);
    auto* block = static_cast<char*>(malloc(pairBytes + (spanLength + 1) * sizeof(Char)));
    if (!block) {
        m->Release();
        *outOfMemory = true;
        return nullptr;
    }
    m->m_pairs = reinterpret_cast<RegExGroup*>(block);
    m->m_count = pairCount;
    for (int i = 0; i < pairCount; ++i) {
        int32_t start = i == 0 && group0 ? group0[0] : ovector[2 * i];
        int32_t end = i == 0 && group0 ? group0[1] : ovector[2 * i + 1];
        if (i >= setCount || start < 0)
            m->m_pairs[i] = {-1, 0};
        else
            m->m_pairs[i] = {start, end > start ? end - start : 0};
    }
    if (spanLength) {
        m->m_span = reinterpret_cast<Char*>(block + pairBytes);
        wmemcpy(m->m_span, haystack + low, spanLength);
        m->m_span[spanLength] = 0;
        m->m_spanStart = low;
    }
    if (mark) {
        size_t n = wcslen(mark);
        m->m_mark = static_cast<Char*>(malloc((n + 1) * sizeof(Char)));
        if (!m->m_mark) {
            m->Release();
            *outOfMemory = true;
            return nullptr;
        }
        wmemcpy(m->m_mark, mark, n + 1);
    }
    if (pattern && pattern->groupNames) {
        pattern->AddRef();
        m->m_pattern = pattern;
        m->m_names = pattern->groupNames;
    }
    return m;
}

RegExMatchObject::~RegExMatchObject() {
    free(m_pairs);
    free(m_mark);
    if (m_pattern)
        m_pattern->Release();
}

bool RegExMatchObject::ChooseGroup(ValueToken** params, int paramCount, int& group, Status& st) {
    group = 0;
    if (paramCount < 1 || IsOmitted(params[0]))
        return true;
    ValueToken& p = *params[0];
    int64_t n;
    if (TokenKind(p) != SymObject && TokenIsNumeric(p) != NumericKind::None) {
        n = TokenToInt64(p);
    } else {
        if (!m_names || TokenKind(p) == SymObject) {
            st = RaiseParamError(0, p);
            return false;
        }
        Char buffer[kScratchChars];
        const Char* name = TokenToString(p, buffer);
        n = -1;
        for (int i = 1; i < m_count; ++i) {
            if (!m_names[i] || _wcsicmp(m_names[i], name) != 0)
                continue;
            if (n < 0)
                n = i;
            if (m_pairs[i].start >= 0) {
                n = i;  // duplicate names: the first of them that took part
                break;
            }
        }
    }
    if (n < 0 || n >= m_count) {
        st = RaiseParamError(0, p);
        return false;
    }
    group = static_cast<int>(n);
    return true;
}

Status RegExMatchObject::Member(CallResult& result, int identity, int, ValueToken** params, int paramCount) {
    int group = 0;
    // A bad group ends the member even when the thread continues from the error.
    Status st = Status::Ok;
    switch (identity) {
    case kEnum: {
        int varCount = paramCount && !IsOmitted(params[0]) ? static_cast<int>(TokenToInt64(*params[0])) : 0;
        IndexEnumerator* e = IndexEnumerator::Create(this, MatchStep, varCount);
        if (!e)
            return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        result.value.SetObject(e);
        return Status::Ok;
    }
    case kGet: {
        // `m.Year` reaches here; `m.Year[1]` brings index arguments, which a group's text cannot take.
        if (paramCount >= 2) {
            IObject* args = TokenKind(*params[1]) == SymObject
                                ? (params[1]->symbol == SymObject ? params[1]->object : params[1]->var->Object())
                                : nullptr;
            auto* array = dynamic_cast<Array*>(args);
            if (array && array->Length())
                return RaiseMsg(ErrorClass::Error, Msg::InvalidUsage);
        }
        if (!ChooseGroup(params, paramCount >= 1 ? 1 : 0, group, st))
            return st;
        return GroupValue(*this, group, result);
    }
    case kItem:
        if (!ChooseGroup(params, paramCount, group, st))
            return st;
        return GroupValue(*this, group, result);
    case kCount:
        result.value.SetInteger(m_count - 1);
        return Status::Ok;
    case kLen:
        if (!ChooseGroup(params, paramCount, group, st))
            return st;
        result.value.SetInteger(m_pairs[group].start >= 0 ? m_pairs[group].length : 0);
        return Status::Ok;
    case kPos:
        if (!ChooseGroup(params, paramCount, group, st))
            return st;
        result.value.SetInteger(m_pairs[group].start >= 0 ? m_pairs[group].start + 1 : 0);
        return Status::Ok;
    case kName: {
        if (!ChooseGroup(params, paramCount, group, st))
            return st;
        const Char* name = GroupName(group);
        return name ? SetResultText(result, name, wcslen(name)) : Status::Ok;
    }
    case kMark:
        return m_mark ? SetResultText(result, m_mark, wcslen(m_mark)) : Status::Ok;
    }
    return Status::NotHandled;
}

}  // namespace brm
