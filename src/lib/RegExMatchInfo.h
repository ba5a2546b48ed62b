// RegExMatchObject, the match object (script class RegExMatchInfo): the groups of one match, with its own
// copy of the stretch of the haystack they cover.
#pragma once
#include <cstdint>
#include "objects/Object.h"

namespace brm {

class CompiledRegEx;

struct RegExGroup {
    int32_t start;   // haystack position, -1 when the group was not set
    int32_t length;  // 0 when not set
};

class RegExMatchObject final : public Object {
public:
    // From an engine run: C pairs in ovector (groupCount + 1), N set by the engine (its return value).
    // group0 (when given) replaces pair 0, as a callout sees the attempt so far. Null when nothing matched
    // (N <= 0) or out of memory (*outOfMemory set; nothing raised).
    static RegExMatchObject* Create(const Char* haystack, const int* ovector, int pairCount, int setCount,
                                    const Char* mark, CompiledRegEx* pattern, const int* group0,
                                    bool* outOfMemory);

    Status Member(CallResult& result, int identity, int invokeKind, ValueToken** params, int paramCount);

    int Count() const { return m_count; }
    const RegExGroup& Group(int i) const { return m_pairs[i]; }
    const Char* GroupText(int i) const { return m_span + (m_pairs[i].start - m_spanStart); }
    const Char* GroupName(int i) const { return m_names ? m_names[i] : nullptr; }

private:
    explicit RegExMatchObject(IObject* base) : Object(base) {}
    ~RegExMatchObject() override;
    // False after raising "Parameter #1 invalid." (st: Fail, or Ok when the thread continued).
    bool ChooseGroup(ValueToken** params, int paramCount, int& group, Status& st);

    Char* m_span = nullptr;   // shares one block with m_pairs
    int32_t m_spanStart = 0;
    RegExGroup* m_pairs = nullptr;
    const Char** m_names = nullptr;   // the pattern's own names, kept alive by m_pattern
    int32_t m_count = 0;
    Char* m_mark = nullptr;
    CompiledRegEx* m_pattern = nullptr;  // counted; only when the pattern names groups
};

// Registers RegExMatchInfo's member table; the class tree is built after it.
void RegisterRegExMatchClass();

}  // namespace brm
