// Compiling patterns: the options prefix, named callouts rewritten to private numbers, the process-wide
// cache of compiled patterns, and the window title matcher.
#include "lib/RegEx.h"
#include <windows.h>
#include <pcre.h>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include "base/Messages.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "lib/RegExCallout.h"

namespace brm {

namespace {

// --- The cache ---

// 100 entries keyed by the exact NeedleRegEx text. The entry used last is checked first and the search
// then spreads outward from it both ways, so a loop alternating between a few patterns finds each at once.
constexpr int kCacheSize = 100;

struct Cache {
    CompiledRegEx* slots[kCacheSize] = {};
    int lastUsed = -1;
    int lastFilled = -1;
};
Cache s_cache;
// One lock around the cache: every lookup, compilation and replacement of an entry happens under it, and
// it is released before the engine runs (a callout may need it again).
SRWLOCK s_cacheLock = SRWLOCK_INIT;

class CacheLock {
public:
    CacheLock() { AcquireSRWLockExclusive(&s_cacheLock); }
    ~CacheLock() { ReleaseSRWLockExclusive(&s_cacheLock); }
    CacheLock(const CacheLock&) = delete;
    CacheLock& operator=(const CacheLock&) = delete;
};

inline bool Matches(const CompiledRegEx* entry, const Char* text, size_t length) {
    return entry && entry->TextLength() == length && wmemcmp(entry->Text(), text, length) == 0;
}

int FindInCache(const Char* text, size_t length) {
    Cache& c = s_cache;
    if (c.lastUsed < 0)
        return -1;
    if (Matches(c.slots[c.lastUsed], text, length))
        return c.lastUsed;
    int last = c.slots[kCacheSize - 1] ? kCacheSize - 1 : c.lastFilled;
    int forward = c.lastUsed, backward = c.lastUsed;
    for (int probe = 1; probe <= last; ++probe) {
        int at;
        if (probe & 1)
            at = forward = forward >= last ? 0 : forward + 1;
        else
            at = backward = backward <= 0 ? last : backward - 1;
        if (Matches(c.slots[at], text, length)) {
            c.lastUsed = at;
            return at;
        }
    }
    return -1;
}

// --- The options prefix ---

struct Prefix {
    int length = 0;  // characters, the ")" included; 0 when there is none
    int options = 0;
    bool study = false;
};

constexpr int kNewlineBits = PCRE_NEWLINE_CR | PCRE_NEWLINE_LF | PCRE_NEWLINE_ANY;  // 0x700000

Prefix ParsePrefix(const Char* text, size_t length) {
    Prefix p;
    // Without a newline option the convention is ANYCRLF, passed explicitly: the engine's built-in default
    // depends on how it was configured.
    int newline = PCRE_NEWLINE_ANYCRLF;
    int options = 0;
    bool study = false;
    for (size_t i = 0; i < length; ++i) {
        switch (text[i]) {
        case L'i': options |= PCRE_CASELESS; break;
        case L'm': options |= PCRE_MULTILINE; break;
        case L's': options |= PCRE_DOTALL; break;
        case L'x': options |= PCRE_EXTENDED; break;
        case L'A': options |= PCRE_ANCHORED; break;
        case L'D': options |= PCRE_DOLLAR_ENDONLY; break;
        case L'J': options |= PCRE_DUPNAMES; break;
        case L'U': options |= PCRE_UNGREEDY; break;
        case L'X': options |= PCRE_EXTRA; break;
        case L'C': options |= PCRE_AUTO_CALLOUT; break;
        case L'S': study = true; break;
        case L'\n': newline = PCRE_NEWLINE_LF; break;
        case L'\r':
            if (i + 1 < length && text[i + 1] == L'\n') {
                ++i;
                newline = PCRE_NEWLINE_CRLF;
            } else {
                newline = PCRE_NEWLINE_CR;
            }
            break;
        case L'\a':
            newline = PCRE_NEWLINE_ANY;
            options |= PCRE_BSR_UNICODE;
            break;
        case L' ':
        case L'\t': break;
        case L')':
            p.length = static_cast<int>(i + 1);
            p.options = options | newline;
            p.study = study;
            return p;
        default:
            i = length;  // not an option character: the whole text is the pattern
            break;
        }
    }
    p.options = PCRE_NEWLINE_ANYCRLF;
    return p;
}

// --- Named callouts ---

// The engine's own text for one of its compile errors, got by compiling a pattern that commits it, so
// that the rewriting of named callouts reports exactly what the engine would.
void EngineErrorText(int code, const char*& text) {
    static const PCRE_UCHAR16 kTooBig[] = {'(', '?', 'C', '2', '5', '6', ')', 0};
    static const PCRE_UCHAR16 kUnclosed[] = {'(', '?', 'C', '1', 0};
    const char* message = "";
    int gotCode = 0, offset = 0;
    pcre16* re = pcre16_compile2(code == 38 ? kTooBig : kUnclosed, PCRE_UTF16, &gotCode, &message, &offset, nullptr);
    if (re)
        pcre16_free(re);
    text = message;
}

struct CompileError {
    int code = 0;
    int offset = 0;
    const char* message = "";
};

// A callout written in the pattern at [start, end).
struct CalloutSite {
    size_t start, end;
    int number;
    size_t nameStart, nameLength;  // nameLength 0: no name
};

bool IsDigit(Char c) { return c >= L'0' && c <= L'9'; }

// Finds "(?C" items outside escapes, \Q..\E, character classes and (?#...) comments. Returns false with
// error set for a named callout the engine would reject.
bool ScanCallouts(const Char* p, size_t n, CalloutSite* sites, int& count, bool& named, CompileError& error,
                  int maxSites) {
    count = 0;
    named = false;
    for (size_t i = 0; i < n; ++i) {
        Char c = p[i];
        if (c == L'\\') {
            if (i + 1 < n && p[i + 1] == L'Q') {
                size_t j = i + 2;
                while (j + 1 < n && !(p[j] == L'\\' && p[j + 1] == L'E'))
                    ++j;
                i = j + 1;
            } else {
                ++i;
            }
            continue;
        }
        if (c == L'[') {
            size_t j = i + 1;
            if (j < n && p[j] == L'^') ++j;
            if (j < n && p[j] == L']') ++j;  // a leading "]" is a member
            for (; j < n && p[j] != L']'; ++j) {
                if (p[j] == L'\\') ++j;
                else if (p[j] == L'[' && j + 1 < n && p[j + 1] == L':') {
                    size_t k = j + 2;
                    while (k + 1 < n && !(p[k] == L':' && p[k + 1] == L']')) ++k;
                    if (k + 1 < n) j = k + 1;
                }
            }
            i = j;
            continue;
        }
        if (c != L'(' || i + 2 >= n || p[i + 1] != L'?')
            continue;
        if (p[i + 2] == L'#') {
            while (i < n && p[i] != L')') ++i;
            continue;
        }
        if (p[i + 2] != L'C')
            continue;
        size_t j = i + 3;
        CalloutSite site{i, 0, 0, 0, 0};
        if (j < n && IsDigit(p[j])) {
            int value = 0;
            while (j < n && IsDigit(p[j])) {
                if (value <= 255) value = value * 10 + (p[j] - L'0');
                ++j;
            }
            if (j >= n || (p[j] != L')' && p[j] != L':'))
                continue;  // left for the engine to judge
            if (value > 255) {
                error.code = 38;
                error.offset = static_cast<int>(j);
                return false;
            }
            site.number = value;
            if (p[j] == L':')
                site.nameStart = ++j;
        } else if (j < n && p[j] == L':') {
            site.nameStart = ++j;
        } else if (j < n && p[j] != L')') {
            site.nameStart = j;
        }
        if (site.nameStart) {
            while (j < n && p[j] != L')') ++j;
            if (j >= n) {
                error.code = 39;
                error.offset = static_cast<int>(n);
                return false;
            }
            site.nameLength = j - site.nameStart;
            if (site.nameLength)
                named = true;
        } else if (j >= n || p[j] != L')') {
            continue;
        }
        site.end = j + 1;
        if (count >= maxSites) {
            error.code = 38;  // no private number is left for this callout
            error.offset = static_cast<int>(i);
            return false;
        }
        sites[count++] = site;
        i = j;
    }
    return true;
}


}  // namespace

// --- CompiledRegEx ---

CompiledRegEx* CompiledRegEx::Create(const Char* text, size_t length) {
    auto* r = new (std::nothrow) CompiledRegEx;
    if (!r)
        return nullptr;
    r->m_text = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
    if (!r->m_text) {
        delete r;
        return nullptr;
    }
    wmemcpy(r->m_text, text, length);
    r->m_text[length] = 0;
    r->m_textLength = length;
    return r;
}

void CompiledRegEx::Destroy() {
    if (study)
        pcre16_free_study(study);
    if (re)
        pcre16_free(re);
    if (callouts)
        for (int i = 0; i <= kMaxRenamedCallouts; ++i)
            free(const_cast<Char*>(callouts[i].name));
    free(callouts);
    free(positionMap);
    free(groupNames);
    free(m_text);
    delete this;
}

int CompiledRegEx::OriginalPosition(int position) const {
    int result = position;
    for (int i = 0; i < positionPairs && positionMap[2 * i] <= position; ++i)
        result = positionMap[2 * i + 1] + (position - positionMap[2 * i]);
    return result;
}

namespace {

// Rewrites the named callouts of the pattern proper into private numbers, filling the record's callout
// table and position map. out receives the pattern the engine sees (or stays null: no rewriting needed).
bool RewriteCallouts(CompiledRegEx& r, const Char* p, size_t n, PCRE_UCHAR16*& out, CompileError& error) {
    out = nullptr;
    CalloutSite stackSites[16];
    CalloutSite* sites = stackSites;
    // Each site needs at least three characters "(?C": a generous bound without a first pass.
    size_t maxSites = n / 3 + 1;
    if (maxSites > kMaxRenamedCallouts + 1) maxSites = kMaxRenamedCallouts + 1;
    if (maxSites > 16) {
        sites = static_cast<CalloutSite*>(malloc(maxSites * sizeof(CalloutSite)));
        if (!sites)
            return false;
    }
    int count = 0;
    bool named = false;
    bool ok = ScanCallouts(p, n, sites, count, named, error, kMaxRenamedCallouts + 1);
    if (ok && named && count > kMaxRenamedCallouts) {
        error.code = 38;
        error.offset = static_cast<int>(sites[kMaxRenamedCallouts].start);
        ok = false;
    }
    if (ok && named) {
        r.callouts = static_cast<RegExCalloutName*>(calloc(kMaxRenamedCallouts + 1, sizeof(RegExCalloutName)));
        r.positionMap = static_cast<int32_t*>(malloc(static_cast<size_t>(count) * 2 * sizeof(int32_t)));
        // "(?C)" becomes "(?C254)": at most four characters more per callout.
        out = static_cast<PCRE_UCHAR16*>(malloc((n + 4 * static_cast<size_t>(count) + 1) * sizeof(PCRE_UCHAR16)));
        if (!r.callouts || !r.positionMap || !out) {
            free(out);
            out = nullptr;
            ok = false;
            error.code = -1;
        }
        size_t from = 0, to = 0;
        for (int i = 0; ok && i < count; ++i) {
            const CalloutSite& s = sites[i];
            int k = i + 1;
            memcpy(out + to, p + from, (s.start - from) * sizeof(Char));
            to += s.start - from;
            const Char head[] = {L'(', L'?', L'C'};
            memcpy(out + to, head, sizeof head);
            to += 3;
            Char digits[kScratchChars];
            int dn = FormatInt64(k, digits);
            memcpy(out + to, digits, static_cast<size_t>(dn) * sizeof(Char));
            to += static_cast<size_t>(dn);
            out[to++] = L')';
            from = s.end;
            r.callouts[k].number = s.number;
            if (s.nameLength) {
                auto* name = static_cast<Char*>(malloc((s.nameLength + 1) * sizeof(Char)));
                if (!name) {
                    ok = false;
                    error.code = -1;
                    break;
                }
                wmemcpy(name, p + s.nameStart, s.nameLength);
                name[s.nameLength] = 0;
                r.callouts[k].name = name;
            }
            r.positionMap[2 * i] = static_cast<int32_t>(to);
            r.positionMap[2 * i + 1] = static_cast<int32_t>(s.end);
            r.positionPairs = i + 1;
        }
        if (ok) {
            memcpy(out + to, p + from, (n - from) * sizeof(Char));
            to += n - from;
            out[to] = 0;
        } else {
            free(out);
            out = nullptr;
        }
    }
    if (sites != stackSites)
        free(sites);
    return ok;
}

// Compiles the pattern proper with the prefix's options. False with error set (code -1: out of memory).
bool Compile(CompiledRegEx& r, const Char* needle, size_t length, CompileError& error) {
    Prefix prefix = ParsePrefix(needle, length);
    r.prefixLength = prefix.length;
    r.mayCallOut = (prefix.options & PCRE_AUTO_CALLOUT) || wcsstr(needle + prefix.length, L"(?C");
    const Char* proper = needle + prefix.length;
    size_t properLength = length - static_cast<size_t>(prefix.length);
    PCRE_UCHAR16* rewritten = nullptr;
    if (!RewriteCallouts(r, proper, properLength, rewritten, error)) {
        if (error.code > 0) {
            EngineErrorText(error.code, error.message);
            error.offset = r.OriginalPosition(error.offset);
        }
        return false;
    }
    // The pattern is the whole string up to its terminator; an embedded NUL ends it for the engine.
    const PCRE_UCHAR16* pattern = rewritten ? rewritten : reinterpret_cast<const PCRE_UCHAR16*>(proper);
    // The engine checks the pattern's UTF-16 itself: a lone surrogate is a compile error, never a pattern
    // the matcher would misread.
    int code = 0, offset = 0;
    const char* message = "";
    r.re = pcre16_compile2(pattern, prefix.options | PCRE_UTF16, &code, &message, &offset, nullptr);
    free(rewritten);
    if (!r.re) {
        error.code = code;
        error.offset = r.OriginalPosition(offset);
        error.message = message;
        return false;
    }
    if (prefix.study) {
        const char* studyError = nullptr;
        r.study = pcre16_study(r.re, 0, &studyError);
    }
    pcre16_fullinfo(r.re, r.study, PCRE_INFO_CAPTURECOUNT, &r.groupCount);
    unsigned long options = 0;
    pcre16_fullinfo(r.re, r.study, PCRE_INFO_OPTIONS, &options);
    r.crlfIsOneChar = (options & PCRE_NEWLINE_ANY) != 0;  // ANY and ANYCRLF both carry this bit
    int nameCount = 0, entrySize = 0;
    PCRE_UCHAR16* table = nullptr;
    pcre16_fullinfo(r.re, r.study, PCRE_INFO_NAMECOUNT, &nameCount);
    if (nameCount > 0) {
        pcre16_fullinfo(r.re, r.study, PCRE_INFO_NAMEENTRYSIZE, &entrySize);
        pcre16_fullinfo(r.re, r.study, PCRE_INFO_NAMETABLE, &table);
        r.groupNames = static_cast<const Char**>(calloc(static_cast<size_t>(r.groupCount) + 1, sizeof(Char*)));
        if (!r.groupNames) {
            error.code = -1;
            return false;
        }
        // Each entry: the group number, then its terminated name. With duplicate names a number may come
        // more than once only under different names, so the first entry for a group is its name.
        for (int i = 0; i < nameCount; ++i) {
            const PCRE_UCHAR16* entry = table + static_cast<ptrdiff_t>(i) * entrySize;
            int group = entry[0];
            if (group > 0 && group <= r.groupCount && !r.groupNames[group])
                r.groupNames[group] = reinterpret_cast<const Char*>(entry + 1);
        }
    }
    return true;
}

void InstallCalloutHook() {
    static bool s_installed = false;
    if (!s_installed) {
        pcre16_callout = RegExCalloutHook;
        s_installed = true;
    }
}

}  // namespace

CompiledRegEx* GetCompiledRegEx(const Char* needle, size_t length, ReportErrors report, Status* status) {
    if (status)
        *status = Status::Fail;
    CompileError error;
    CompiledRegEx* evicted = nullptr;
    CompiledRegEx* found = nullptr;
    {
        CacheLock lock;
        int at = FindInCache(needle, length);
        if (at >= 0) {
            found = s_cache.slots[at];
            found->AddRef();
        } else {
            InstallCalloutHook();
            CompiledRegEx* r = CompiledRegEx::Create(needle, length);
            if (!r) {
                error.code = -1;
            } else if (!Compile(*r, needle, length, error)) {
                r->Release();
            } else {
                int slot = s_cache.lastUsed < 0 ? 0 : (s_cache.lastFilled + 1) % kCacheSize;
                evicted = s_cache.slots[slot];  // still alive while a running match holds it
                s_cache.slots[slot] = r;
                s_cache.lastFilled = s_cache.lastUsed = slot;
                r->AddRef();
                found = r;
            }
        }
    }
    if (evicted)
        evicted->Release();
    if (found) {
        if (status)
            *status = Status::Ok;
        return found;
    }
    // Raised outside the lock: an error dialog or OnError callback may run script code that needs the cache.
    if (report == ReportErrors::Yes) {
        Status st;
        if (error.code < 0) {
            st = RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        } else {
            Char message[128];  // the engine's message is cut to fit
            Char engineText[100];
            size_t i = 0;
            for (const char* m = error.message ? error.message : ""; *m && i + 1 < 100; ++m)
                engineText[i++] = static_cast<Char>(static_cast<unsigned char>(*m));
            engineText[i] = 0;
            FormatMessageText(message, 128, MessageText(Msg::RegExCompileError), error.code, error.offset, engineText);
            st = RaiseError(ErrorClass::Error, message);
        }
        if (status)
            *status = st;
    }
    return nullptr;
}

bool IsValidUtf16(const Char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        Char c = text[i];
        if (c < 0xD800 || c > 0xDFFF)
            continue;
        if (c >= 0xDC00 || i + 1 >= length || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
            return false;
        ++i;
    }
    return true;
}

int RegExFindInText(const Char* text, size_t length, const Char* needle, size_t needleLength) {
    CompiledRegEx* pattern = GetCompiledRegEx(needle, needleLength, ReportErrors::No);
    if (!pattern)
        return 0;
    RegExRun run{};
    run.pattern = pattern;
    PrepareRegExRun(run, false);
    int stackVector[30];
    int pairs = pattern->groupCount + 1;
    int* ovector = pairs <= 10 ? stackVector : static_cast<int*>(malloc(static_cast<size_t>(pairs) * 3 * sizeof(int)));
    int found = 0;
    if (ovector) {
        // A title holding a lone surrogate is checked by the engine, which then reports no match.
        int options = IsValidUtf16(text, length) ? PCRE_NO_UTF16_CHECK : 0;
        int rc = pcre16_exec(pattern->re, &run.extra, reinterpret_cast<PCRE_SPTR16>(text), static_cast<int>(length),
                             0, options, ovector, pairs * 3);
        if (rc >= 0)
            found = ovector[0] + 1;
        if (ovector != stackVector)
            free(ovector);
    }
    pattern->Release();
    return found;
}

}  // namespace brm
