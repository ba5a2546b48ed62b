// Compiled regular expressions: the options prefix, the process-wide cache of compiled patterns, the
// engine's run settings, and the matcher the RegEx title match mode uses.
#pragma once
#include <cstddef>
#include <cstdint>
#include "expr/ValueToken.h"

struct real_pcre16;
struct pcre16_extra;

namespace brm {

// A named or renumbered callout of the pattern as written: the engine sees a private number instead.
struct RegExCalloutName {
    int number;         // the number the script wrote (0 when none)
    const Char* name;   // owned by the pattern record; null for a numbered callout
};

// One compiled pattern. Shared by the cache and by every running match and match object that uses it:
// the count keeps it alive after the cache gives its slot to another pattern (a callout may run further
// regular expressions that fill the cache while a match is still running).
class CompiledRegEx {
public:
    // Null when out of memory (nothing raised).
    static CompiledRegEx* Create(const Char* text, size_t length);
    void AddRef() { ++m_refs; }
    void Release() {
        if (--m_refs == 0)
            Destroy();
    }

    const Char* Text() const { return m_text; }
    size_t TextLength() const { return m_textLength; }

    real_pcre16* re = nullptr;
    pcre16_extra* study = nullptr;
    int prefixLength = 0;   // characters of the options prefix, its ")" included
    int groupCount = 0;     // capturing groups; the offset vector has room for groupCount + 1 pairs
    bool mayCallOut = false;     // the pattern has callouts (or option C): matches work on copies of their texts
    bool crlfIsOneChar = false;  // newline ANY or ANYCRLF: an empty match never stops between CR and LF
    const Char** groupNames = nullptr;  // groupCount + 1 entries into the engine's name table; null: no names
    // Private callout number k (1..kMaxRenamedCallouts) stands for callouts[k]; null when nothing was renamed.
    RegExCalloutName* callouts = nullptr;
    // Position map of the rewritten pattern: pairs (rewritten position, original position) at each
    // rewritten callout's end, ascending; positions between follow the last pair before them.
    int32_t* positionMap = nullptr;
    int positionPairs = 0;

    // A position in the pattern the engine saw, counted from the start of the pattern proper as written.
    int OriginalPosition(int position) const;

private:
    CompiledRegEx() = default;
    void Destroy();
    long m_refs = 1;
    Char* m_text = nullptr;  // the whole NeedleRegEx, options prefix included: the cache key
    size_t m_textLength = 0;
};

constexpr int kMaxRenamedCallouts = 254;  // private numbers 1..254; the engine keeps 255 for automatic ones

// Each match runs with both limits set explicitly: a pattern that backtracks without end stops with the
// engine's limit error instead of running for hours, and the engine's own recursion (kept on the heap in
// this build) stops long before it could exhaust memory.
constexpr unsigned long kMatchLimit = 10000000;
constexpr unsigned long kMatchLimitRecursion = 1000000;

enum class ReportErrors : int { No, Yes };

// The compiled pattern for a NeedleRegEx, from the cache or compiled now; the caller receives a reference.
// Null when it does not compile (with ReportErrors::Yes the "Compile error" was raised; status then says
// whether the thread continued) or when out of memory.
CompiledRegEx* GetCompiledRegEx(const Char* needle, size_t length, ReportErrors report, Status* status = nullptr);

// True when text holds no lone surrogate: only then may the engine skip its own validity check.
bool IsValidUtf16(const Char* text, size_t length);

// The window title matcher: the 1-based position of the first match of needle in text, or 0. Uses the
// cache, reports nothing (a pattern that does not compile never matches) and runs no callout.
int RegExFindInText(const Char* text, size_t length, const Char* needle, size_t needleLength);

// RegExMatch (identity 0) and RegExReplace (identity 1).
Status BifRegEx(CallResult& result, ValueToken** params, int paramCount);

}  // namespace brm
