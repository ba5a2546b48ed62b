// RegExMatch and RegExReplace: parameters, starting positions, running the engine, the replacement
// syntax and the replace loop.
#include <windows.h>
#include <pcre.h>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "lib/RegEx.h"
#include "lib/RegExCallout.h"
#include "lib/RegExMatchInfo.h"
#include "lib/StringFunctions.h"
#include "objects/BuiltInFunctions.h"
#include "objects/MdFunc.h"

namespace brm {

namespace {

int Identity(const CallResult& result) { return static_cast<const BuiltInFunc*>(result.func)->def->identity; }

inline bool Given(ValueToken** params, int count, int i) {
    return i < count && TokenKind(*params[i]) != SymMissing;
}

// The parameter readers return false after raising; st is then Fail, or Ok when the thread continued
// from the error, which ends the call all the same.
bool ParamText(ValueToken** params, int i, const Char*& text, int32_t& length, Char* buffer, Status& st) {
    if (TokenKind(*params[i]) == SymObject) {
        st = RaiseParamTypeError(i, L"String", *params[i]);
        return false;
    }
    text = TokenToString(*params[i], buffer, &length);
    if (length < 0)
        length = static_cast<int32_t>(wcslen(text));
    return true;
}

bool ParamInt(ValueToken** params, int i, int64_t& value, Status& st) {
    ValueToken n;
    if (!TokenToNumber(*params[i], n)) {
        st = RaiseParamTypeError(i, L"Number", *params[i]);
        return false;
    }
    value = n.symbol == SymInteger ? n.valueInt64 : FloatToInt64(n.valueDouble);
    return true;
}

// A call that ends with an error: RegExMatch still empties its output variable when the thread goes on.
Status Abandon(Status st, Var* outVar) {
    if (outVar && st == Status::Ok)
        return outVar->AssignString(L"", 0);
    return st;
}

// 1-based positions from the start, 0 and negatives from the end; always within the haystack.
int32_t StartOffset(int64_t p, int32_t length) {
    if (p >= 1)
        return p - 1 > length ? length : static_cast<int32_t>(p - 1);
    return length + p < 0 ? 0 : static_cast<int32_t>(length + p);
}

// Owns what a call borrows or allocates for the length of a run.
struct RunStorage {
    CompiledRegEx* pattern = nullptr;
    int* ovector = nullptr;
    int stackVector[99];
    Char* haystackCopy = nullptr;
    Char* replacementCopy = nullptr;
    Char* output = nullptr;
    ~RunStorage() {
        if (ovector != stackVector) free(ovector);
        free(haystackCopy);
        free(replacementCopy);
        free(output);
        if (pattern) pattern->Release();
    }
};

// A callout may assign to the variable the haystack or replacement text lives in, which would free the
// text under the engine's feet: a pattern that can call out works on copies.
bool CopyText(const Char*& text, int32_t length, Char*& copy) {
    copy = static_cast<Char*>(malloc((static_cast<size_t>(length) + 1) * sizeof(Char)));
    if (!copy)
        return false;
    wmemcpy(copy, text, static_cast<size_t>(length));
    copy[length] = 0;
    text = copy;
    return true;
}

Status OutOfMemory() { return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory); }

// A negative code other than no-match: what a callout left pending, else the engine's error.
Status RunError(RegExRun& run, int rc) {
    Status st;
    if (rc == PCRE_ERROR_CALLOUT && run.TakeCalloutFailure(st))
        return st;
    Char code[24];
    FormatInt64(rc, code);
    return RaiseMsg(ErrorClass::Error, Msg::RegExExecError, code);
}

// --- Replacement ---

enum class CaseMode : int { None, Upper, Lower, Title };

struct Groups {
    const Char* haystack;
    const int* ovector;
    int setCount;   // pairs the engine set
    int start0, end0;  // group 0 as the loop uses it (never a negative length)
    const CompiledRegEx* pattern;

    bool Text(int group, const Char*& text, size_t& length) const {
        if (group < 0 || group >= setCount)
            return false;
        int s = group ? ovector[2 * group] : start0;
        int e = group ? ovector[2 * group + 1] : end0;
        if (s < 0 || e <= s)
            return false;
        text = haystack + s;
        length = static_cast<size_t>(e - s);
        return true;
    }
    // The first group of that name that took part (several may share it under option J), else the first.
    int ByName(const Char* name, size_t length) const {
        if (!pattern->groupNames)
            return -1;
        int first = -1;
        for (int i = 1; i <= pattern->groupCount; ++i) {
            const Char* n = pattern->groupNames[i];
            if (!n || _wcsnicmp(n, name, length) != 0 || n[length])
                continue;
            if (first < 0)
                first = i;
            if (i < setCount && ovector[2 * i] >= 0)
                return i;
        }
        return first;
    }
};

size_t Insert(const Char* text, size_t length, CaseMode mode, Char* out) {
    if (!out)
        return length;
    wmemcpy(out, text, length);
    switch (mode) {
    case CaseMode::None: break;
    case CaseMode::Upper: CharUpperBuffW(out, static_cast<DWORD>(length)); break;
    case CaseMode::Lower: CharLowerBuffW(out, static_cast<DWORD>(length)); break;
    case CaseMode::Title: {
        bool wordStart = true;
        for (size_t i = 0; i < length; ++i) {
            Char c = out[i];
            if (IsCharAlphaW(c)) {
                if (wordStart) CharUpperBuffW(out + i, 1);
                else CharLowerBuffW(out + i, 1);
                wordStart = false;
            } else if (iswspace(c)) {
                wordStart = true;
            }
        }
        break;
    }
    }
    return length;
}

// The expanded replacement: measured when out is null, written otherwise. Returns its length.
size_t Expand(const Char* repl, size_t replLength, const Groups& groups, Char* out) {
    constexpr size_t kMaxBraced = 32;  // a longer ${...} is no group reference
    size_t n = 0;
    for (size_t i = 0; i < replLength; ++i) {
        Char c = repl[i];
        if (c != L'$' || i + 1 >= replLength) {
            if (out) out[n] = c;
            ++n;
            continue;
        }
        Char next = repl[i + 1];
        if (next == L'$') {
            if (out) out[n] = L'$';
            ++n;
            ++i;
            continue;
        }
        CaseMode mode = CaseMode::None;
        size_t j = i + 1;
        switch (next) {
        case L'U': case L'u': mode = CaseMode::Upper; ++j; break;
        case L'L': case L'l': mode = CaseMode::Lower; ++j; break;
        case L'T': case L't': mode = CaseMode::Title; ++j; break;
        default: break;
        }
        int group = -2;  // -2: no reference here
        size_t after = 0;
        if (j < replLength && repl[j] >= L'0' && repl[j] <= L'9') {
            group = repl[j] - L'0';
            after = j + 1;
        } else if (j < replLength && repl[j] == L'{') {
            size_t k = j + 1;
            while (k < replLength && k <= j + 1 + kMaxBraced && repl[k] != L'}') ++k;
            size_t inner = k - (j + 1);
            if (k < replLength && repl[k] == L'}' && inner >= 1 && inner <= kMaxBraced) {
                const Char* text = repl + j + 1;
                if (text[0] >= L'0' && text[0] <= L'9') {
                    int64_t number = 0;
                    for (size_t d = 0; d < inner && text[d] >= L'0' && text[d] <= L'9'; ++d)
                        if (number < 100000) number = number * 10 + (text[d] - L'0');
                    group = static_cast<int>(number);
                } else {
                    group = groups.ByName(text, inner);
                }
                after = k + 1;
            }
        }
        if (group == -2) {
            if (out) out[n] = L'$';  // copied as is; scanning goes on with the next character
            ++n;
            continue;
        }
        const Char* text;
        size_t length;
        if (groups.Text(group, text, length))
            n += Insert(text, length, mode, out ? out + n : nullptr);
        i = after - 1;
    }
    return n;
}

// The capacity to grow the output to: extrapolates the growth per replacement so far over the
// replacements still expected, capped, plus the rest of the haystack.
size_t EstimateCapacity(int64_t k, int64_t remaining, size_t haystackLength, size_t needed, size_t matchEnd) {
    constexpr double kCapBase = 10.0 * 1024 * 1024;  // growth is capped near a few times 10 MB
    int64_t e = static_cast<int64_t>(needed) + 2;
    int64_t h = static_cast<int64_t>(haystackLength), f = static_cast<int64_t>(matchEnd);
    int64_t a = k ? (static_cast<int64_t>(needed) - f) / k : 0;
    int64_t s = a >= 0 ? 1 : -1;
    int64_t g;
    if (a == 0) {
        g = 0;
    } else if (h == 0 || f == 0) {
        g = a < 0 ? -a : a;
    } else {
        double p = static_cast<double>(f) / static_cast<double>(h);
        int64_t m = p >= 1 ? 0 : static_cast<int64_t>(static_cast<double>(k) / p * (1 - p) + static_cast<double>(s));
        if (remaining >= 0 && remaining < m)
            m = remaining;
        else
            m = m + s * static_cast<int64_t>(0.2 * static_cast<double>(m) + 1);
        if (m < 0) m = 0;
        double factor = k + m > 0 ? static_cast<double>(2 * k / (k + m) + 1) : 3.0;
        double larger = static_cast<double>(h > e ? h : e);
        double cap = factor * (larger >= static_cast<double>(0xA00000) ? larger : kCapBase);
        double growth = static_cast<double>(a < 0 ? -a : a) * static_cast<double>(m);
        g = s * static_cast<int64_t>(growth < cap ? growth : cap);
    }
    int64_t extra = g + h - f;
    return static_cast<size_t>(e + 1 + (extra > 0 ? extra : 0));
}

bool Reserve(RunStorage& storage, size_t& capacity, size_t needed, int64_t k, int64_t remaining, size_t hayLength,
             size_t matchEnd) {
    if (needed + 3 <= capacity)
        return true;
    size_t newCapacity = EstimateCapacity(k, remaining, hayLength, needed, matchEnd);
    if (newCapacity < needed + 3)
        newCapacity = needed + 3;
    auto* grown = static_cast<Char*>(realloc(storage.output, newCapacity * sizeof(Char)));
    if (!grown)
        return false;
    storage.output = grown;
    capacity = newCapacity;
    return true;
}

Status Replace(CallResult& result, ValueToken** params, int count, RunStorage& storage, RegExRun& run,
               int32_t offset, int checkOption) {
    Status st = Status::Ok;
    Char replBuffer[kScratchChars];
    const Char* repl = L"";
    int32_t replLength = 0;
    if (Given(params, count, 2))
        if (!ParamText(params, 2, repl, replLength, replBuffer, st))
            return st;
    Var* countVar = nullptr;
    if (Given(params, count, 3) && !(countVar = md::OutputVar(*params[3])))
        return md::RaiseOutputNeedsVar(3, *params[3]);
    int64_t limit = -1;
    if (Given(params, count, 4))
        if (!ParamInt(params, 4, limit, st))
            return st;
    if (storage.pattern->mayCallOut && replLength && !CopyText(repl, replLength, storage.replacementCopy))
        return OutOfMemory();

    const Char* hay = run.haystack;
    const int32_t hayLength = run.haystackLength;
    const int vectorSize = run.pairCount * 3;
    int32_t r = 0, d = offset;
    int64_t k = 0, remaining = limit;
    int options = 0;
    size_t outLength = 0, capacity = 0;
    for (;;) {
        int rc = PCRE_ERROR_NOMATCH;
        if (remaining != 0)
            rc = pcre16_exec(storage.pattern->re, &run.extra, reinterpret_cast<PCRE_SPTR16>(hay), hayLength, d,
                             options | checkOption, storage.ovector, vectorSize);
        if (rc < 0 && rc != PCRE_ERROR_NOMATCH)
            return RunError(run, rc);
        if (rc >= 0) {
            int s = storage.ovector[0], e = storage.ovector[1];
            // \K in a lookbehind can start a match inside text already copied, and \K in a lookahead can end
            // a match before its start: the loop replaces only what lies ahead, so it never goes back.
            if (s < r) s = r;
            if (e < s) e = s;
            if (options && s == e && e == d)
                rc = PCRE_ERROR_NOMATCH;  // the same empty match again: treat as none, so the loop advances
            else {
                ++k;
                if (remaining > 0) --remaining;
                Groups groups{hay, storage.ovector, rc ? rc : run.pairCount, s, e, storage.pattern};
                size_t insert = Expand(repl, static_cast<size_t>(replLength), groups, nullptr);
                size_t needed = outLength + static_cast<size_t>(s - r) + insert;
                if (!Reserve(storage, capacity, needed, k, remaining, static_cast<size_t>(hayLength), static_cast<size_t>(e)))
                    return OutOfMemory();
                wmemcpy(storage.output + outLength, hay + r, static_cast<size_t>(s - r));
                outLength += static_cast<size_t>(s - r);
                outLength += Expand(repl, static_cast<size_t>(replLength), groups, storage.output + outLength);
                r = d = e;
                options = s == e ? PCRE_NOTEMPTY | PCRE_ANCHORED : 0;
                continue;
            }
        }
        if (!options || d >= hayLength || remaining == 0)
            break;
        // Nothing non-empty at the place of an empty match: step over one character, a surrogate pair or
        // (when the newline convention takes CR LF as one) a CR LF pair whole.
        int32_t step = 1;
        if (r + 1 < hayLength && ((hay[r] >= 0xD800 && hay[r] <= 0xDBFF && hay[r + 1] >= 0xDC00 && hay[r + 1] <= 0xDFFF) ||
                                  (storage.pattern->crlfIsOneChar && hay[r] == L'\r' && hay[r + 1] == L'\n')))
            step = 2;
        if (!Reserve(storage, capacity, outLength + static_cast<size_t>(step), k, remaining, static_cast<size_t>(hayLength),
                     static_cast<size_t>(r)))
            return OutOfMemory();
        wmemcpy(storage.output + outLength, hay + r, static_cast<size_t>(step));
        outLength += static_cast<size_t>(step);
        r = d = r + step;
        options = 0;
    }
    if (k == 0) {
        BRM_TRY(SetResultText(result, hay, static_cast<size_t>(hayLength)));
    } else {
        size_t rest = static_cast<size_t>(hayLength - r);
        if (!Reserve(storage, capacity, outLength + rest, k, remaining, static_cast<size_t>(hayLength),
                     static_cast<size_t>(r)))
            return OutOfMemory();
        wmemcpy(storage.output + outLength, hay + r, rest);
        outLength += rest;
        storage.output[outLength] = 0;
        result.memToFree = storage.output;
        result.value.SetString(storage.output, static_cast<int32_t>(outLength));
        storage.output = nullptr;
    }
    if (countVar)
        return countVar->AssignInteger(k);
    return Status::Ok;
}

}  // namespace

Status BifRegEx(CallResult& result, ValueToken** params, int count) {
    const bool replace = Identity(result) == 1;
    Char hayBuffer[kScratchChars], needleBuffer[kScratchChars];
    const Char *hay = L"", *needle = L"";
    int32_t hayLength = 0, needleLength = 0;
    Status st = Status::Ok;
    if (!ParamText(params, 0, hay, hayLength, hayBuffer, st) || !ParamText(params, 1, needle, needleLength, needleBuffer, st))
        return st;
    Var* outVar = nullptr;
    if (!replace && Given(params, count, 2) && !(outVar = md::OutputVar(*params[2])))
        return md::RaiseOutputNeedsVar(2, *params[2]);

    RunStorage storage;
    storage.pattern = GetCompiledRegEx(needle, static_cast<size_t>(needleLength), ReportErrors::Yes, &st);
    if (!storage.pattern)
        return Abandon(st, outVar);
    int startParam = replace ? 5 : 3;
    int64_t start = 1;
    if (Given(params, count, startParam))
        if (!ParamInt(params, startParam, start, st))
            return Abandon(st, outVar);
    int32_t offset = StartOffset(start, hayLength);
    if (storage.pattern->mayCallOut && !CopyText(hay, hayLength, storage.haystackCopy))
        return Abandon(OutOfMemory(), outVar);

    int pairs = storage.pattern->groupCount + 1;
    storage.ovector = storage.stackVector;
    if (pairs * 3 > static_cast<int>(sizeof(storage.stackVector) / sizeof(int))) {
        storage.ovector = static_cast<int*>(malloc(static_cast<size_t>(pairs) * 3 * sizeof(int)));
        if (!storage.ovector)
            return Abandon(OutOfMemory(), outVar);
    }
    RegExRun run{};
    run.pattern = storage.pattern;
    run.needle = storage.pattern->Text();
    run.haystack = hay;
    run.haystackLength = hayLength;
    run.pairCount = pairs;
    PrepareRegExRun(run, true);
    // The engine may skip its UTF-16 check only when the text is known to be valid and the start is not in
    // the middle of a surrogate pair; otherwise it checks and reports the fault as its error.
    int checkOption = 0;
    if (IsValidUtf16(hay, static_cast<size_t>(hayLength)) &&
        !(offset > 0 && offset < hayLength && hay[offset] >= 0xDC00 && hay[offset] <= 0xDFFF &&
          hay[offset - 1] >= 0xD800 && hay[offset - 1] <= 0xDBFF))
        checkOption = PCRE_NO_UTF16_CHECK;

    if (replace)
        return Replace(result, params, count, storage, run, offset, checkOption);

    int rc = pcre16_exec(storage.pattern->re, &run.extra, reinterpret_cast<PCRE_SPTR16>(hay), hayLength, offset,
                         checkOption, storage.ovector, pairs * 3);
    if (rc == PCRE_ERROR_NOMATCH) {
        result.value.SetInteger(0);
        return outVar ? outVar->AssignString(L"", 0) : Status::Ok;
    }
    if (rc < 0)
        return Abandon(RunError(run, rc), outVar);
    result.value.SetInteger(static_cast<int64_t>(storage.ovector[0]) + 1);
    if (!outVar)
        return Status::Ok;
    bool outOfMemory = false;
    RegExMatchObject* match = RegExMatchObject::Create(hay, storage.ovector, pairs, rc ? rc : pairs,
                                                       reinterpret_cast<const Char*>(run.mark), storage.pattern,
                                                       nullptr, &outOfMemory);
    if (!match)
        return Abandon(OutOfMemory(), outVar);
    return outVar->AssignObject(match);
}

}  // namespace brm
