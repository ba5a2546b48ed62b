// The comparison modes: option classification, comparisons and needle searches for each mode.
#include "lib/StringCompare.h"
#include <windows.h>
#include <shlwapi.h>
#include <emmintrin.h>
#include <cwchar>
#include "base/SortedTable.h"
#include "expr/Conversions.h"

namespace brm {

namespace {

inline Char FoldAZ(Char c) { return (c >= L'A' && c <= L'Z') ? static_cast<Char>(c + 32) : c; }

bool TextIs(const Char* text, size_t length, const Char* word) {
    return CompareFoldAZ(text, length, word, wcslen(word)) == 0;
}

// CharLowerW of every code unit, made once: Locale searches would otherwise call it per character.
const Char* LowerTable() {
    static Char* s_table = nullptr;
    if (!s_table) {
        static Char table[65536];
        for (size_t i = 0; i < 65536; ++i)
            table[i] = static_cast<Char>(i);
        CharLowerBuffW(table, 65536);
        s_table = table;
    }
    return s_table;
}

}  // namespace

Char LocaleLower(Char c) { return LowerTable()[static_cast<uint16_t>(c)]; }

CaseMode ParseCaseModeText(const Char* text, size_t length) {
    if (length == 0 || (length == 1 && text[0] == L'0') || TextIs(text, length, L"Off"))
        return CaseMode::Off;
    if ((length == 1 && text[0] == L'1') || TextIs(text, length, L"On"))
        return CaseMode::On;
    if (TextIs(text, length, L"Locale"))
        return CaseMode::Locale;
    if (TextIs(text, length, L"Logical"))
        return CaseMode::Logical;
    return CaseMode::Invalid;
}

CaseMode ParseCaseMode(const ValueToken& option) {
    switch (TokenKind(option)) {
    case SymMissing:
        return CaseMode::Off;
    case SymInteger: {
        int64_t v = TokenToInt64(option);
        return v == 0 ? CaseMode::Off : v == 1 ? CaseMode::On : CaseMode::Invalid;
    }
    case SymString: {
        Char buffer[kScratchChars];
        int32_t length = 0;
        const Char* text = TokenToString(option, buffer, &length);
        if (length < 0)
            length = static_cast<int32_t>(wcslen(text));
        return ParseCaseModeText(text, static_cast<size_t>(length));
    }
    default:  // Float, object
        return CaseMode::Invalid;
    }
}

int CompareText(const Char* a, size_t aLength, const Char* b, size_t bLength, CaseMode mode) {
    switch (mode) {
    case CaseMode::Off: {
        size_t n = aLength < bLength ? aLength : bLength;
        for (size_t i = 0; i < n; ++i) {
            Char ca = FoldAZ(a[i]), cb = FoldAZ(b[i]);
            if (ca != cb)
                return static_cast<int>(static_cast<uint16_t>(ca)) - static_cast<int>(static_cast<uint16_t>(cb));
        }
        return aLength == bLength ? 0 : (aLength < bLength ? -1 : 1);
    }
    case CaseMode::Locale:
        return lstrcmpiW(a, b);
    case CaseMode::Logical:
        return StrCmpLogicalW(a, b);
    default: {
        size_t n = aLength < bLength ? aLength : bLength;
        for (size_t i = 0; i < n; ++i)
            if (a[i] != b[i])
                return static_cast<uint16_t>(a[i]) < static_cast<uint16_t>(b[i]) ? -1 : 1;
        return aLength == bLength ? 0 : (aLength < bLength ? -1 : 1);
    }
    }
}

bool MatchAt(const Char* hay, const Char* needle, size_t n, CaseMode mode) {
    switch (mode) {
    case CaseMode::Off:
        for (size_t i = 0; i < n; ++i)
            if (FoldAZ(hay[i]) != FoldAZ(needle[i]))
                return false;
        return true;
    case CaseMode::Locale: {
        const Char* lower = LowerTable();
        for (size_t i = 0; i < n; ++i)
            if (lower[static_cast<uint16_t>(hay[i])] != lower[static_cast<uint16_t>(needle[i])])
                return false;
        return true;
    }
    default:
        return wmemcmp(hay, needle, n) == 0;
    }
}

ptrdiff_t FindText(const Char* hay, size_t hayLength, size_t from, const Char* needle, size_t needleLength,
                   CaseMode mode) {
    if (needleLength == 0)
        return from <= hayLength ? static_cast<ptrdiff_t>(from) : -1;
    if (needleLength > hayLength || from > hayLength - needleLength)
        return -1;
    const size_t last = hayLength - needleLength;  // the last offset a match may begin at
    const Char* rest = needle + 1;
    const size_t restLength = needleLength - 1;
    if (mode == CaseMode::Locale) {
        const Char* lower = LowerTable();
        Char first = lower[static_cast<uint16_t>(needle[0])];
        for (size_t i = from; i <= last; ++i)
            if (lower[static_cast<uint16_t>(hay[i])] == first && MatchAt(hay + i + 1, rest, restLength, mode))
                return static_cast<ptrdiff_t>(i);
        return -1;
    }
    // On and Off: candidates for the first character are found eight at a time. Off equates only A-Z
    // with a-z, which differ in one bit; setting that bit on both sides finds either case.
    const CaseMode restMode = mode == CaseMode::Off ? CaseMode::Off : CaseMode::On;
    Char first = needle[0];
    uint16_t fold = 0;
    if (mode == CaseMode::Off && FoldAZ(first) >= L'a' && FoldAZ(first) <= L'z') {
        first = FoldAZ(first);
        fold = 0x20;
    }
    size_t i = from;
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(first));
    const __m128i bit = _mm_set1_epi16(static_cast<short>(fold));
    for (; i + 8 <= last + 1; i += 8) {
        __m128i units = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i)), bit);
        unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(units, wanted)));
        while (hits) {
            size_t at = i + (static_cast<unsigned>(__builtin_ctz(hits)) >> 1);
            if (MatchAt(hay + at + 1, rest, restLength, restMode))
                return static_cast<ptrdiff_t>(at);
            hits &= hits - 1;
            hits &= hits - 1;  // both bytes of the unit
        }
    }
    for (; i <= last; ++i)
        if (static_cast<Char>(hay[i] | fold) == first && MatchAt(hay + i + 1, rest, restLength, restMode))
            return static_cast<ptrdiff_t>(i);
    return -1;
}

ptrdiff_t FindTextBackward(const Char* hay, size_t end, const Char* needle, size_t needleLength, CaseMode mode) {
    if (needleLength > end)
        return -1;
    for (size_t i = end - needleLength + 1; i-- > 0;)
        if (MatchAt(hay + i, needle, needleLength, mode))
            return static_cast<ptrdiff_t>(i);
    return -1;
}

}  // namespace brm
