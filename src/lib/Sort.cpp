// Sort: orders the items of a delimited text by its option letters or a callback.
// Every setting lives in the call's own record, so a callback that sorts again cannot disturb the sort
// that called it. Items are ordered by a merge sort, which ends with every item exactly once whatever a
// callback answers (a comparison-based sort that trusts its comparator can run off the array when the
// answers contradict each other).
#include "lib/Sort.h"
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "lib/MathFunctions.h"
#include "lib/StringCompare.h"
#include "lib/StringFunctions.h"
#include "objects/IObject.h"
#include "objects/Object.h"

namespace brm {

namespace {

struct SortItem {
    const Char* text;  // inside the working copy, terminated where its delimiter was
    uint32_t length;
    uint32_t key;      // random mode: 31 random bits, so that a difference of two keys cannot overflow
    union {
        double number;    // numeric mode: the value read from the column on
        uint64_t prefix;  // text modes "On" and "Off": the first four code units from the column on
    };
};

struct SortSettings {
    CaseMode mode = CaseMode::Off;
    Char delimiter = L'\n';
    bool numeric = false, reverse = false, random = false, unique = false, keepEmpty = false, fileName = false;
    size_t column = 0;
    IObject* callback = nullptr;
    bool prefixes = false;  // items carry prefix keys that order them as the comparison does where they differ
    Status callbackStatus = Status::Ok;  // Fail or EarlyExit once a callback call failed or exited
};

inline Char Upper(Char c) { return static_cast<Char>(towupper(c)); }

bool WordFollows(const Char* p, const Char* word) {
    for (; *word; ++p, ++word)
        if (Upper(*p) != *word)
            return false;
    return true;
}

// "P" followed by a number as the C runtime's _wtoi reads it: blanks, a sign, digits.
int64_t ReadColumnNumber(const Char* p) {
    while (iswspace(*p))
        ++p;
    bool negative = *p == L'-';
    if (*p == L'-' || *p == L'+')
        ++p;
    int64_t n = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p)
        if (n < 0x7FFFFFFF)
            n = n * 10 + (*p - L'0');
    return negative ? -n : n;
}

void ParseSortOptions(const Char* p, SortSettings& s) {
    for (; *p; ++p) {
        switch (Upper(*p)) {
        case L'C':
            if (WordFollows(p + 1, L"LOGICAL")) {
                s.mode = CaseMode::Logical;
                p += 7;
            } else if (Upper(p[1]) == L'L') {
                s.mode = CaseMode::Locale;
                p += WordFollows(p + 2, L"OCALE") ? 6 : 1;
            } else if (WordFollows(p + 1, L"OFF")) {
                s.mode = CaseMode::Off;
                p += 3;
            } else if (WordFollows(p + 1, L"ON")) {
                s.mode = CaseMode::On;
                p += 2;
            } else if (p[1] == L'0') {
                s.mode = CaseMode::Off;
                ++p;
            } else {
                s.mode = CaseMode::On;
                if (p[1] == L'1')
                    ++p;
            }
            break;
        case L'D':
            if (p[1])
                s.delimiter = *++p;
            break;
        case L'N': s.numeric = true; break;
        case L'P': {
            int64_t n = ReadColumnNumber(p + 1);
            s.column = n < 1 ? 0 : static_cast<size_t>(n - 1);
            break;
        }
        case L'R':
            if (WordFollows(p + 1, L"ANDOM")) {
                s.random = true;
                p += 5;
            } else {
                s.reverse = true;
            }
            break;
        case L'U': s.unique = true; break;
        case L'Z': s.keepEmpty = true; break;
        case L'\\': s.fileName = true; break;
        }
    }
}

// The first four code units (A-Z folded for "Off") as one number, high unit first, zeros past the end: where
// two prefixes differ they order the texts as a code-unit comparison does. Equal prefixes decide nothing
// (a text can go on with U+0000), so the full comparison follows.
uint64_t PrefixKey(const Char* text, size_t length, CaseMode mode) {
    uint64_t key = 0;
    for (size_t i = 0; i < 4; ++i) {
        Char c = i < length ? text[i] : 0;
        if (mode == CaseMode::Off && c >= L'A' && c <= L'Z')
            c = static_cast<Char>(c + 32);
        key = (key << 16) | static_cast<uint16_t>(c);
    }
    return key;
}

// The numeric value of an item's text: hexadecimal when it begins (after blanks and a sign) with "0x" and
// a hex digit, else the decimal conversion; text that is no number reads as 0.
double ItemNumber(const Char* text) {
    const Char* p = text;
    while (*p == L' ' || *p == L'\t')
        ++p;
    const Char* q = (*p == L'-' || *p == L'+') ? p + 1 : p;
    if (q[0] == L'0' && (q[1] | 0x20) == L'x' && iswxdigit(q[2]))
        return static_cast<double>(ParseInt64(p));
    return ParseDouble(p);
}

inline int InputOrder(const SortItem& a, const SortItem& b) { return a.text < b.text ? -1 : a.text > b.text ? 1 : 0; }

int CompareGeneral(const SortSettings& s, const SortItem& a, const SortItem& b) {
    if (s.numeric) {
        double diff = a.number - b.number;
        if (diff == 0)
            return InputOrder(a, b);  // not reversed: equal values keep their input order under "R"
        int r = diff > 0 ? 1 : -1;   // a NaN difference counts as less
        return s.reverse ? -r : r;
    }
    if (s.prefixes && a.prefix != b.prefix)
        return (a.prefix < b.prefix) != s.reverse ? -1 : 1;
    size_t ca = s.column < a.length ? s.column : a.length, cb = s.column < b.length ? s.column : b.length;
    int r = CompareText(a.text + ca, a.length - ca, b.text + cb, b.length - cb, s.mode);
    if (!r)
        r = InputOrder(a, b);
    return s.reverse ? -r : r;
}

const Char* AfterLastBackslash(const SortItem& item, size_t& length) {
    for (size_t i = item.length; i > 0; --i)
        if (item.text[i - 1] == L'\\') {
            length = item.length - i;
            return item.text + i;
        }
    length = item.length;
    return item.text;
}

int CompareFileName(const SortSettings& s, const SortItem& a, const SortItem& b) {
    size_t la, lb;
    const Char* na = AfterLastBackslash(a, la);
    const Char* nb = AfterLastBackslash(b, lb);
    int r = CompareText(na, la, nb, lb, s.mode);
    if (!r)
        r = InputOrder(a, b);
    return s.reverse ? -r : r;
}

int CompareByCallback(SortSettings& s, const SortItem& a, const SortItem& b) {
    if (s.callbackStatus != Status::Ok)
        return 0;  // after a failure no further callback is called
    ValueToken first, second, offset;
    first.SetString(a.text, static_cast<int32_t>(a.length));
    second.SetString(b.text, static_cast<int32_t>(b.length));
    offset.SetInteger(static_cast<int64_t>(b.text - a.text));
    ValueToken* params[] = {&first, &second, &offset};
    Char scratch[kScratchChars];
    CallResult result(scratch);
    Status st = CallFunction(s.callback, result, params, 3);
    if (st != Status::Ok) {
        s.callbackStatus = st == Status::EarlyExit ? Status::EarlyExit : Status::Fail;
        return 0;
    }
    int64_t answer = 0;
    switch (result.value.symbol) {
    case SymInteger: answer = result.value.valueInt64; break;
    case SymFloat: answer = FloatToInt64(result.value.valueDouble); break;
    case SymString: answer = ParseInt64(result.value.marker); break;
    default: break;  // unset, an object
    }
    if (!answer)
        return InputOrder(a, b);
    return answer < 0 ? -1 : 1;
}

int Compare(SortSettings& s, const SortItem& a, const SortItem& b) {
    if (s.callback)
        return CompareByCallback(s, a, b);
    if (s.random)
        return static_cast<int>(a.key) - static_cast<int>(b.key);
    if (s.fileName)
        return CompareFileName(s, a, b);
    return CompareGeneral(s, a, b);
}

// Runs this long are put in order by insertion before merging starts: cheaper than the merge passes they
// replace, and like them bounded by the run whatever the comparisons answer.
constexpr size_t kInsertionRun = 16;

// Bottom-up merge sort of items using temp (as large); the sorted run ends in items. Stable: an item moves
// before an earlier one only when the comparison says it is less.
void MergeSort(SortSettings& s, SortItem* items, SortItem* temp, size_t count) {
    for (size_t lo = 0; lo < count; lo += kInsertionRun) {
        size_t hi = lo + kInsertionRun < count ? lo + kInsertionRun : count;
        for (size_t i = lo + 1; i < hi; ++i) {
            SortItem item = items[i];
            size_t j = i;
            for (; j > lo && Compare(s, items[j - 1], item) > 0; --j)
                items[j] = items[j - 1];
            items[j] = item;
        }
    }
    SortItem* from = items;
    SortItem* to = temp;
    for (size_t width = kInsertionRun; width < count; width *= 2) {
        for (size_t lo = 0; lo < count; lo += 2 * width) {
            size_t mid = lo + width < count ? lo + width : count;
            size_t hi = lo + 2 * width < count ? lo + 2 * width : count;
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi)
                to[k++] = Compare(s, from[i], from[j]) > 0 ? from[j++] : from[i++];
            while (i < mid)
                to[k++] = from[i++];
            while (j < hi)
                to[k++] = from[j++];
        }
        SortItem* t = from;
        from = to;
        to = t;
    }
    if (from != items)
        memcpy(items, from, count * sizeof(SortItem));
}

// Fills keys from the system's random source; without it, from a generator seeded by the clock.
void RandomKeys(SortItem* items, size_t count) {
    const size_t kBatch = 256;
    uint32_t keys[kBatch];
    uint64_t state = 0;
    for (size_t at = 0; at < count; at += kBatch) {
        size_t n = count - at < kBatch ? count - at : kBatch;
        if (!SystemRandom(keys, static_cast<unsigned long>(n * sizeof(uint32_t)))) {
            if (!state) {
                LARGE_INTEGER t;
                QueryPerformanceCounter(&t);
                state = static_cast<uint64_t>(t.QuadPart) | 1;
            }
            for (size_t i = 0; i < n; ++i) {  // xorshift64*
                state ^= state >> 12;
                state ^= state << 25;
                state ^= state >> 27;
                keys[i] = static_cast<uint32_t>((state * 0x2545F4914F6CDD1DULL) >> 32);
            }
        }
        for (size_t i = 0; i < n; ++i)
            items[at + i].key = keys[i] >> 1;
    }
}

bool SameForUnique(const SortSettings& s, const SortItem& a, const SortItem& b) {
    if (s.numeric && !s.column)
        return a.number == b.number;
    return CompareText(a.text, a.length, b.text, b.length, s.mode) == 0;
}


struct HeapText {
    Char* p = nullptr;
    ~HeapText() { free(p); }
};

}  // namespace

Status BifSort(CallResult& result, ValueToken** params, int count) {
    if (TokenKind(*params[0]) == SymObject)
        return RaiseParamTypeError(0, L"String", *params[0]);
    SortSettings s;
    if (count > 1 && TokenKind(*params[1]) != SymMissing) {
        if (TokenKind(*params[1]) == SymObject)
            return RaiseParamTypeError(1, L"String", *params[1]);
        Char optionScratch[kScratchChars];
        ParseSortOptions(TokenToString(*params[1], optionScratch), s);
    }
    Ref<IObject> callback;
    if (count > 2 && TokenKind(*params[2]) != SymMissing) {
        if (TokenKind(*params[2]) != SymObject)
            return RaiseParamError(2, *params[2]);
        IObject* o = params[2]->symbol == SymObject ? params[2]->object : params[2]->var->Object();
        callback = Ref<IObject>::Borrow(o);  // held while the sort runs, whatever the callback does
        s.callback = o;
    }

    Char textScratch[kScratchChars];
    int32_t length32 = -1;
    const Char* text = TokenToString(*params[0], textScratch, &length32);
    size_t length = length32 < 0 ? wcslen(text) : static_cast<size_t>(length32);
    if (!length) {
        result.value.SetString(L"", 0);
        return Status::Ok;
    }

    size_t itemCount = 1;
    for (size_t i = 0; i < length; ++i)
        if (text[i] == s.delimiter)
            ++itemCount;
    bool afterLast = false, crlf = false;
    if (!s.keepEmpty && text[length - 1] == s.delimiter) {
        --itemCount;
        afterLast = true;
    } else if (s.delimiter == L'\n') {
        const Char* lf = wmemchr(text, L'\n', length);
        crlf = lf && lf > text && lf[-1] == L'\r';
        if (crlf)
            afterLast = true;
    }
    if (itemCount <= 1)
        return SetResultText(result, text, length);

    // The working copy (CR LF added in CRLF mode), the items and their merge buffer, and the output.
    size_t copyLength = length + (crlf ? 2 : 0);
    HeapText copy, out;
    copy.p = static_cast<Char*>(malloc((copyLength + 1) * sizeof(Char)));
    out.p = static_cast<Char*>(malloc((copyLength + 1) * sizeof(Char)));
    auto* items = static_cast<SortItem*>(malloc(2 * itemCount * sizeof(SortItem)));
    struct ItemsOwner {
        SortItem* p;
        ~ItemsOwner() { free(p); }
    } itemsOwner{items};
    if (!copy.p || !out.p || !items)
        return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
    wmemcpy(copy.p, text, length);
    if (crlf) {
        copy.p[length] = L'\r';
        copy.p[length + 1] = L'\n';
    }
    copy.p[copyLength] = 0;
    Char* start = copy.p;
    size_t n = 0;
    for (size_t i = 0; i < copyLength && n < itemCount; ++i)
        if (copy.p[i] == s.delimiter) {
            copy.p[i] = 0;
            items[n++] = {start, static_cast<uint32_t>(copy.p + i - start), 0, {0}};
            start = copy.p + i + 1;
        }
    if (n < itemCount)
        items[n++] = {start, static_cast<uint32_t>(copy.p + copyLength - start), 0, {0}};
    if (s.numeric)
        for (size_t i = 0; i < n; ++i)
            items[i].number = ItemNumber(items[i].text + (s.column < items[i].length ? s.column : items[i].length));
    if (s.random && !s.callback)
        RandomKeys(items, n);
    s.prefixes = !s.callback && !s.random && !s.fileName && !s.numeric &&
                 (s.mode == CaseMode::On || s.mode == CaseMode::Off);
    if (s.prefixes)
        for (size_t i = 0; i < n; ++i) {
            size_t c = s.column < items[i].length ? s.column : items[i].length;
            items[i].prefix = PrefixKey(items[i].text + c, items[i].length - c, s.mode);
        }

    MergeSort(s, items, items + n, n);
    if (s.callbackStatus != Status::Ok)
        return s.callbackStatus;  // the error was raised (or the thread exits); no result

    size_t w = 0;
    const SortItem* last = nullptr;
    for (size_t i = 0; i < n; ++i) {
        if (s.unique && last && SameForUnique(s, items[i], *last))
            continue;
        if (last && !afterLast)
            out.p[w++] = s.delimiter;
        wmemcpy(out.p + w, items[i].text, items[i].length);
        w += items[i].length;
        if (afterLast)
            out.p[w++] = s.delimiter;
        last = &items[i];
    }
    if (crlf)
        w = w >= 2 ? w - 2 : 0;
    if (w < static_cast<size_t>(kScratchChars))
        return SetResultText(result, out.p, w);
    out.p[w] = 0;
    result.memToFree = out.p;
    out.p = nullptr;
    result.value.SetString(result.memToFree, static_cast<int32_t>(w));
    return Status::Ok;
}

}  // namespace brm
