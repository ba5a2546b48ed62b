// The string functions. Text is UTF-16; positions and lengths count code units and are 1-based in the
// script interface. Every routine works on a text together with its length, so embedded NULs survive.
#include "lib/StringFunctions.h"
#include <windows.h>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "lib/StringCompare.h"
#include "lib/Timestamp.h"
#include "objects/Array.h"
#include "objects/BuiltInFunctions.h"

namespace brm {

namespace {

// --- Parameters and results ---

inline bool Given(ValueToken** params, int count, int i) { return i < count && params[i]->symbol != SymMissing; }

int Identity(const CallResult& result) { return static_cast<const BuiltInFunc*>(result.func)->def->identity; }

// A text parameter: a String as it is, a number as its text; an object is the type error.
Status ParamText(ValueToken** params, int i, Char* buffer, const Char*& text, size_t& length) {
    if (TokenKind(*params[i]) == SymObject)
        return RaiseParamTypeError(i, L"String", *params[i]);
    int32_t n = 0;
    text = TokenToString(*params[i], buffer, &n);
    length = n < 0 ? wcslen(text) : static_cast<size_t>(n);
    return Status::Ok;
}

// A numeric parameter: a Float is truncated toward zero; values beyond the 64-bit range saturate instead
// of wrapping, so a huge position or length means "past the end" rather than some small number.
Status ParamInt(ValueToken** params, int i, int64_t& value) {
    ValueToken n;
    if (!TokenToNumber(*params[i], n))
        return RaiseParamTypeError(i, L"Number", *params[i]);
    if (n.symbol == SymInteger) {
        value = n.valueInt64;
    } else {
        double d = std::trunc(n.valueDouble);
        value = d != d ? 0 : d >= 9.2e18 ? INT64_MAX : d <= -9.2e18 ? INT64_MIN : static_cast<int64_t>(d);
    }
    return Status::Ok;
}

Status RaiseOmitted(int i) { return RaiseFormatted(ErrorClass::ValueError, nullptr, Msg::ParamNotOmitted, i + 1); }

// "Parameter #n invalid." quoting the argument.
Status ParamInvalid(ValueToken** params, int i) { return RaiseParamError(i, *params[i]); }

CaseMode ParamCase(ValueToken** params, int count, int i) {
    return Given(params, count, i) ? ParseCaseMode(*params[i]) : CaseMode::Off;
}


// Hands a heap block of length characters (room for the terminator included) to the result; a short text
// is moved to the scratch buffer instead.
void SetResultBlock(CallResult& result, Char* block, size_t length) {
    if (length < static_cast<size_t>(kScratchChars)) {
        wmemcpy(result.buffer, block, length);
        free(block);
        block = result.buffer;
    } else {
        result.memToFree = block;
    }
    block[length] = L'\0';
    result.value.SetString(block, static_cast<int32_t>(length));
}

Var* OutputVar(ValueToken** params, int count, int i) {
    return Given(params, count, i) ? md::OutputVar(*params[i]) : nullptr;
}

inline bool InSet(Char c, const Char* set, size_t setLength) {
    for (size_t i = 0; i < setLength; ++i)
        if (set[i] == c)
            return true;
    return false;
}

// The U+0000 character is never trimmed, even though a terminated OmitChars "contains" its terminator.
void TrimRange(const Char* text, size_t& begin, size_t& end, const Char* omit, size_t omitLength, bool left,
               bool right) {
    if (left)
        while (begin < end && text[begin] && InSet(text[begin], omit, omitLength))
            ++begin;
    if (right)
        while (end > begin && text[end - 1] && InSet(text[end - 1], omit, omitLength))
            --end;
}

inline bool IsHighSurrogate(Char c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(Char c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

Status SetResultText(CallResult& result, const Char* text, size_t length) {
    Char* target = result.buffer;
    if (length >= static_cast<size_t>(kScratchChars)) {
        target = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
        if (!target)
            return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        result.memToFree = target;
    }
    if (text != target)
        wmemmove(target, text, length);
    target[length] = L'\0';
    result.value.SetString(target, static_cast<int32_t>(length));
    return Status::Ok;
}

// --- Measuring and cutting ---

Status BifStrLen(CallResult& result, ValueToken** params, int) {
    Char buffer[kScratchChars];
    const Char* s = L"";
    size_t length = 0;
    BRM_TRY(ParamText(params, 0, buffer, s, length));
    result.value.SetInteger(static_cast<int64_t>(length));
    return Status::Ok;
}

Status BifSubStr(CallResult& result, ValueToken** params, int count) {
    Char buffer[kScratchChars];
    const Char* s = L"";
    size_t length = 0;
    BRM_TRY(ParamText(params, 0, buffer, s, length));
    if (!Given(params, count, 1))
        return RaiseOmitted(1);
    int64_t start = 0, take = 0;
    BRM_TRY(ParamInt(params, 1, start));
    bool limited = Given(params, count, 2);
    if (limited)
        BRM_TRY(ParamInt(params, 2, take));
    const int64_t L = static_cast<int64_t>(length);
    if (start == 0 || start > L)
        return SetResultText(result, L"", 0);
    int64_t offset = start > 0 ? start - 1 : (L + start < 0 ? 0 : L + start);
    int64_t rest = L - offset;
    if (limited) {
        if (take < 0)
            rest = take <= -rest ? 0 : rest + take;
        else if (take < rest)
            rest = take;
    }
    return SetResultText(result, s + offset, static_cast<size_t>(rest));
}

// --- Searching ---

// InStr(Haystack, Needle, CaseSense := "Off", StartingPos := 1, Occurrence := 1)
Status BifInStr(CallResult& result, ValueToken** params, int count) {
    Char hayBuffer[kScratchChars], needleBuffer[kScratchChars];
    const Char *hay = L"", *needle = L"";
    size_t hayLength = 0, needleLength = 0;
    BRM_TRY(ParamText(params, 0, hayBuffer, hay, hayLength));
    BRM_TRY(ParamText(params, 1, needleBuffer, needle, needleLength));
    if (!needleLength)
        return ParamInvalid(params, 1);
    CaseMode mode = ParamCase(params, count, 2);
    if (mode == CaseMode::Logical || mode == CaseMode::Invalid)
        return ParamInvalid(params, 2);
    const bool startGiven = Given(params, count, 3), occurrenceGiven = Given(params, count, 4);
    int64_t start = 1, occurrence = 1;
    if (startGiven)
        BRM_TRY(ParamInt(params, 3, start));
    if (start == 0)
        return ParamInvalid(params, 3);
    if (occurrenceGiven)
        BRM_TRY(ParamInt(params, 4, occurrence));
    if (occurrence == 0)
        return ParamInvalid(params, 4);
    const int64_t L = static_cast<int64_t>(hayLength);
    if (start < 0) {
        if (!occurrenceGiven)
            occurrence = -1;
        start = start < -L - 1 ? 0 : start + L + 1;  // guarded: start + L could wrap below INT64_MIN
    }
    result.value.SetInteger(0);
    if (occurrence > 0) {
        int64_t from = start - 1 < 0 ? 0 : start - 1 > L ? L : start - 1;
        for (;;) {
            ptrdiff_t at = FindText(hay, hayLength, static_cast<size_t>(from), needle, needleLength, mode);
            if (at < 0)
                return Status::Ok;
            if (--occurrence == 0) {
                result.value.SetInteger(at + 1);
                return Status::Ok;
            }
            from = at + static_cast<int64_t>(needleLength);  // matches never overlap
        }
    }
    int64_t end = !startGiven ? L : start < 0 ? 0 : start > L ? L : start;
    for (;;) {
        ptrdiff_t at = FindTextBackward(hay, static_cast<size_t>(end), needle, needleLength, mode);
        if (at < 0)
            return Status::Ok;
        if (++occurrence == 0) {
            result.value.SetInteger(at + 1);
            return Status::Ok;
        }
        end = at;  // the next match must end before this one begins
    }
}

// --- Replacing ---

namespace {

// The longest text StrReplace builds: a string's length is a 32-bit count, and twice this many bytes is
// more than a 32-bit process can hold anyway; beyond it the size arithmetic itself would wrap.
constexpr uint64_t kMaxResultChars = 0x3FFFFFFF;

// The growth of StrReplace's output block: the length needed now plus an estimate of what the rest of
// the haystack will add, so that a text with many matches is copied a few times, not once per match.
// d: change in length per replacement; k: replacements so far; r: replacements still allowed (negative
// when unlimited); n: haystack length; p: position of the current match.
size_t ReplaceGrowth(size_t needed, int64_t d, int64_t k, int64_t r, size_t n, size_t p) {
    constexpr double kGrowthCap = 10485760.0;  // 10 Mi characters: bounds one step's guess for a huge text
    double extra;
    if (d == 0 || p == 0 || n == 0) {
        extra = static_cast<double>(d);
    } else {
        double sign = d > 0 ? 1.0 : -1.0;
        double h = static_cast<double>(p) / static_cast<double>(n);
        double m = h >= 1.0 ? 0.0 : static_cast<double>(k) / h * (1.0 - h) + sign;
        double rr = static_cast<double>(r);
        if (r < 0 || rr >= m)
            rr = m + (m * 0.2 + 1.0) * sign;
        double big = static_cast<double>(n);
        if (static_cast<double>(needed) > big)
            big = static_cast<double>(needed);
        if (kGrowthCap > big)
            big = kGrowthCap;
        double kr = static_cast<double>(k) + rr;
        double factor = kr != 0.0 ? 2.0 * (1.0 - rr / kr) + 1.0 : 1.0;
        double byCount = std::fabs(static_cast<double>(d)) * rr;
        double cap = factor * big;
        extra = sign * (byCount < cap ? byCount : cap);
    }
    double more = extra + static_cast<double>(n - p);
    if (!(more > 0.0))
        more = 0.0;
    if (more > 1e9)
        more = 1e9;
    return needed + static_cast<size_t>(more) + 1;
}

// The result when nothing was replaced: the haystack as it is.
Status FinishReplace(CallResult& result, const Char* hay, size_t hayLength, Var* countVar, int64_t replaced) {
    BRM_TRY(SetResultText(result, hay, hayLength));
    return countVar ? countVar->AssignInteger(replaced) : Status::Ok;
}

}  // namespace

// StrReplace(Haystack, Needle, ReplaceText := "", CaseSense := "Off", &OutputVarCount, Limit := -1)
Status BifStrReplace(CallResult& result, ValueToken** params, int count) {
    Char hayBuffer[kScratchChars], needleBuffer[kScratchChars], replaceBuffer[kScratchChars];
    const Char *hay = L"", *needle = L"", *replacement = L"";
    size_t hayLength = 0, needleLength = 0, replaceLength = 0;
    BRM_TRY(ParamText(params, 0, hayBuffer, hay, hayLength));
    BRM_TRY(ParamText(params, 1, needleBuffer, needle, needleLength));
    if (Given(params, count, 2))
        BRM_TRY(ParamText(params, 2, replaceBuffer, replacement, replaceLength));
    CaseMode mode = ParamCase(params, count, 3);
    if (mode == CaseMode::Logical || mode == CaseMode::Invalid)
        return ParamInvalid(params, 3);
    int64_t limit = -1;
    if (Given(params, count, 5))
        BRM_TRY(ParamInt(params, 5, limit));
    Var* countVar = OutputVar(params, count, 4);

    int64_t replaced = 0;
    Char* out = nullptr;
    size_t outLength = 0, capacity = 0, scan = 0;
    if (hayLength && needleLength && limit != 0) {
        const int64_t d = static_cast<int64_t>(replaceLength) - static_cast<int64_t>(needleLength);
        if (d > 0) {
            // A growing output would be copied whole at each step, and a large block's copy costs far
            // more than a second search: the matches are counted first and the block made to measure.
            int64_t matches = 0;
            for (size_t from = 0;; ++matches) {
                ptrdiff_t at = FindText(hay, hayLength, from, needle, needleLength, mode);
                if (at < 0 || matches == limit)
                    break;
                from = static_cast<size_t>(at) + needleLength;
            }
            if (!matches)
                return FinishReplace(result, hay, hayLength, countVar, 0);
            const uint64_t total = static_cast<uint64_t>(hayLength) + static_cast<uint64_t>(matches) * static_cast<uint64_t>(d);
            if (total > kMaxResultChars)
                return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
            capacity = static_cast<size_t>(total) + 1;
            out = static_cast<Char*>(malloc(capacity * sizeof(Char)));
            if (!out)
                return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        }
        for (;;) {
            ptrdiff_t at = FindText(hay, hayLength, scan, needle, needleLength, mode);
            if (at < 0)
                break;
            size_t p = static_cast<size_t>(at);
            size_t needed = outLength + (p - scan) + replaceLength;
            if (needed + 1 > capacity) {
                int64_t remaining = limit < 0 ? -1 : limit - replaced;
                size_t size = ReplaceGrowth(needed, d, replaced, remaining, hayLength, p);
                auto* grown = static_cast<Char*>(realloc(out, size * sizeof(Char)));
                if (!grown) {
                    free(out);
                    return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
                }
                out = grown;
                capacity = size;
            }
            wmemcpy(out + outLength, hay + scan, p - scan);
            outLength += p - scan;
            wmemcpy(out + outLength, replacement, replaceLength);
            outLength += replaceLength;
            scan = p + needleLength;  // replaced text is never searched again
            if (++replaced == limit)
                break;
        }
    }
    if (!replaced) {
        free(out);
        return FinishReplace(result, hay, hayLength, countVar, 0);
    } else {
        size_t tail = hayLength - scan;
        if (outLength + tail + 1 > capacity) {
            auto* grown = static_cast<Char*>(realloc(out, (outLength + tail + 1) * sizeof(Char)));
            if (!grown) {
                free(out);
                return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
            }
            out = grown;
        }
        wmemcpy(out + outLength, hay + scan, tail);
        SetResultBlock(result, out, outLength + tail);
    }
    if (countVar)
        return countVar->AssignInteger(replaced);
    return Status::Ok;
}

// --- Splitting ---

namespace {

constexpr int kInlineDelimiters = 16;  // delimiter lists up to this size need no heap block

struct Delimiter {
    const Char* text;
    size_t length = 0;
};

// The earliest delimiter at or after from, the first in list order at that position; -1 when none.
ptrdiff_t FindDelimiter(const Char* text, size_t length, size_t from, const Delimiter* list, int count,
                        int& which) {
    if (count == 1) {
        which = 0;
        return FindText(text, length, from, list[0].text, list[0].length, CaseMode::On);
    }
    for (size_t i = from; i < length; ++i) {
        Char c = text[i];
        for (int k = 0; k < count; ++k)
            if (list[k].text[0] == c && list[k].length <= length - i &&
                wmemcmp(text + i + 1, list[k].text + 1, list[k].length - 1) == 0) {
                which = k;
                return static_cast<ptrdiff_t>(i);
            }
    }
    return -1;
}

}  // namespace

FResult BifStrSplit(const Char* text, ValueToken* delimiterArg, Opt<const Char*> omitChars, Opt<int32_t> maxParts,
                    ValueRet ret) {
    const size_t length = wcslen(text);
    const Char* omit = omitChars ? *omitChars : L"";
    const size_t omitLength = wcslen(omit);

    Delimiter inlineList[kInlineDelimiters];
    Delimiter* list = inlineList;
    int delimiterCount = 0;
    Char delimiterBuffer[kScratchChars];
    struct HeapList {
        Delimiter* p = nullptr;
        ~HeapList() { free(p); }
    } heapList;
    if (delimiterArg && TokenKind(*delimiterArg) == SymObject) {
        IObject* object = delimiterArg->symbol == SymObject ? delimiterArg->object : delimiterArg->var->Object();
        auto* array = dynamic_cast<Array*>(object);
        if (!array || !array->Length())
            return FrParam(1);
        uint32_t n = array->Length();
        if (n > kInlineDelimiters) {
            heapList.p = static_cast<Delimiter*>(malloc(n * sizeof(Delimiter)));
            if (!heapList.p)
                return FrOutOfMemory;
            list = heapList.p;
        }
        for (uint32_t i = 0; i < n; ++i) {
            const ValueCell& cell = array->ItemAt(i);
            if (cell.kind != PropKind::String || !cell.string->length)
                return FrParam(1);
            list[i] = {cell.string->text, cell.string->length};
        }
        delimiterCount = static_cast<int>(n);
    } else if (delimiterArg) {
        int32_t n = 0;
        const Char* d = TokenToString(*delimiterArg, delimiterBuffer, &n);
        size_t dl = n < 0 ? wcslen(d) : static_cast<size_t>(n);
        if (dl) {
            list[0] = {d, dl};
            delimiterCount = 1;
        }
    }

    Array* parts = Array::Create();
    if (!parts)
        return FrOutOfMemory;
    Ref<Array> owner(parts);
    // left: the parts still to be split off before the rest becomes the last one; negative is unlimited.
    int64_t left = maxParts ? static_cast<int64_t>(*maxParts) - 1 : -1;
    if (!length || (maxParts && *maxParts == 0)) {
        ret.result->value.SetObject(owner.Detach());
        return FrOk;
    }
    auto add = [&](size_t begin, size_t end) {
        TrimRange(text, begin, end, omit, omitLength, true, true);
        return parts->AppendText(text + begin, static_cast<int32_t>(end - begin)) == Status::Ok;
    };
    size_t pos = 0;
    if (delimiterCount) {
        while (left != 0 && pos < length) {
            int which = 0;
            ptrdiff_t at = FindDelimiter(text, length, pos, list, delimiterCount, which);
            if (at < 0)
                break;
            if (!add(pos, static_cast<size_t>(at)))
                return FrFail;
            pos = static_cast<size_t>(at) + list[which].length;
            if (left > 0)
                --left;
        }
        if (!add(pos, length))
            return FrFail;
    } else {
        while (pos < length) {
            if (left == 0) {
                if (!add(pos, length))
                    return FrFail;
                break;
            }
            // A surrogate pair is one character: splitting it would make two halves that encode nothing.
            size_t width = IsHighSurrogate(text[pos]) && pos + 1 < length && IsLowSurrogate(text[pos + 1]) ? 2 : 1;
            if (!(width == 1 && InSet(text[pos], omit, omitLength))) {
                if (parts->AppendText(text + pos, static_cast<int32_t>(width)) != Status::Ok)
                    return FrFail;
                if (left > 0)
                    --left;
            }
            pos += width;
        }
    }
    ret.result->value.SetObject(owner.Detach());
    return FrOk;
}

// --- Trimming and case ---

// Trim 0, LTrim 1, RTrim 2.
Status BifTrim(CallResult& result, ValueToken** params, int count) {
    Char buffer[kScratchChars], omitBuffer[kScratchChars];
    const Char* s = L"";
    const Char* omit = L" \t";
    size_t length = 0, omitLength = 2;
    BRM_TRY(ParamText(params, 0, buffer, s, length));
    if (Given(params, count, 1))
        BRM_TRY(ParamText(params, 1, omitBuffer, omit, omitLength));
    int which = Identity(result);
    size_t begin = 0, end = length;
    TrimRange(s, begin, end, omit, omitLength, which != 2, which != 1);
    return SetResultText(result, s + begin, end - begin);
}

// StrLower 0, StrUpper 1, StrTitle 2: the system's case mapping on a copy.
Status BifStrCase(CallResult& result, ValueToken** params, int) {
    Char buffer[kScratchChars];
    const Char* s = L"";
    size_t length = 0;
    BRM_TRY(ParamText(params, 0, buffer, s, length));
    BRM_TRY(SetResultText(result, s, length));
    Char* text = const_cast<Char*>(result.value.marker);
    if (!length)
        return Status::Ok;
    switch (Identity(result)) {
    case 0:
        CharLowerBuffW(text, static_cast<DWORD>(length));
        break;
    case 1:
        CharUpperBuffW(text, static_cast<DWORD>(length));
        break;
    default: {
        bool wordStart = true;
        for (size_t i = 0; i < length; ++i) {
            if (IsCharAlphaW(text[i])) {
                if (wordStart)
                    CharUpperBuffW(text + i, 1);
                else
                    CharLowerBuffW(text + i, 1);
                wordStart = false;
            } else if (IsCharAlphaNumericW(text[i])) {
                wordStart = false;  // a word that starts with a digit keeps its letters as they come: "2go"
            } else if (iswspace(static_cast<wint_t>(text[i]))) {
                wordStart = true;
            }
        }
        break;
    }
    }
    return Status::Ok;
}

// --- Comparing ---

Status BifStrCompare(CallResult& result, ValueToken** params, int count) {
    Char aBuffer[kScratchChars], bBuffer[kScratchChars];
    const Char *a = L"", *b = L"";
    size_t aLength = 0, bLength = 0;
    BRM_TRY(ParamText(params, 0, aBuffer, a, aLength));
    BRM_TRY(ParamText(params, 1, bBuffer, b, bLength));
    CaseMode mode = ParamCase(params, count, 2);
    if (mode == CaseMode::Invalid)
        return ParamInvalid(params, 2);
    result.value.SetInteger(CompareText(a, aLength, b, bLength, mode));
    return Status::Ok;
}

namespace {

// A side of a version comparison: the text and where reading has got to.
struct VersionCursor {
    const Char* p;
    const Char* end;
    bool AtEnd() const { return p == end || !*p; }
    Char Peek() const { return AtEnd() ? L'\0' : *p; }
};

// One component: "+" counts as 0 and stays; otherwise a number is read as wcstol reads one (blanks, a
// sign, decimal digits; saturating). It is numeric when followed by ".", "-", "+" or the end; anything
// else is greater than every number (2147483647) and stays.
int64_t ReadComponent(const VersionCursor& v, const Char*& after, bool& numeric) {
    after = v.p;
    numeric = false;
    if (v.Peek() == L'+')
        return 0;
    const Char* q = v.p;
    while (q < v.end && iswspace(static_cast<wint_t>(*q)))
        ++q;
    bool negative = false;
    if (q < v.end && (*q == L'-' || *q == L'+'))
        negative = *q++ == L'-';
    const Char* digits = q;
    int64_t value = 0;
    while (q < v.end && *q >= L'0' && *q <= L'9') {
        if (value <= 2147483648)
            value = value * 10 + (*q - L'0');
        ++q;
    }
    if (q == digits) {
        q = v.p;  // no number: wcstol leaves the position where it was
        value = 0;
    } else if (negative) {
        value = value > 2147483648 ? -2147483648LL : -value;
    } else if (value > 2147483647) {
        value = 2147483647;
    }
    Char next = q < v.end ? *q : L'\0';
    if (next == L'.' || next == L'-' || next == L'+' || next == L'\0') {
        numeric = true;
        after = q;
        return value;
    }
    return 2147483647;
}

inline bool IsVersionTerminator(Char c) { return c == L'+' || c == L'.' || c == L'\0'; }

int CompareVersions(VersionCursor a, VersionCursor b) {
    for (;;) {
        if (a.AtEnd() && b.AtEnd())
            return 0;
        bool aNumeric, bNumeric;
        const Char *aAfter, *bAfter;
        int64_t av = ReadComponent(a, aAfter, aNumeric), bv = ReadComponent(b, bAfter, bNumeric);
        if (av != bv)
            return av < bv ? -1 : 1;
        a.p = aAfter;
        b.p = bAfter;
        if (a.Peek() == L'.' || b.Peek() == L'.') {
            if (a.Peek() == L'.')
                ++a.p;
            if (b.Peek() == L'.')
                ++b.p;
            continue;
        }
        if ((a.Peek() == L'-') != (b.Peek() == L'-'))
            return a.Peek() == L'-' ? -1 : 1;
        for (;;) {
            Char ca = a.Peek(), cb = b.Peek();
            bool ta = IsVersionTerminator(ca), tb = IsVersionTerminator(cb);
            if (ta && tb) {
                if (ca == L'.' || cb == L'.') {
                    if (ca == L'.')
                        ++a.p;
                    if (cb == L'.')
                        ++b.p;
                    break;
                }
                return 0;  // whatever follows a "+" is build metadata
            }
            Char xa = ta ? L'\0' : ca, xb = tb ? L'\0' : cb;
            if (xa != xb)
                return static_cast<uint16_t>(xa) < static_cast<uint16_t>(xb) ? -1 : 1;
            ++a.p;
            ++b.p;
        }
    }
}

}  // namespace

Status BifVerCompare(CallResult& result, ValueToken** params, int) {
    Char aBuffer[kScratchChars], bBuffer[kScratchChars];
    const Char *a = L"", *b = L"";
    size_t aLength = 0, bLength = 0;
    BRM_TRY(ParamText(params, 0, aBuffer, a, aLength));
    BRM_TRY(ParamText(params, 1, bBuffer, b, bLength));
    const Char* bEnd = b + bLength;
    bool less = false, greater = false, equal = false;
    if (b < bEnd && *b == L'<') { less = true; ++b; }
    if (b < bEnd && *b == L'>') { greater = true; ++b; }
    if (b < bEnd && *b == L'=') { equal = true; ++b; }
    const bool hasOperator = less || greater || equal;
    if (aLength && *a == L'v') { ++a; --aLength; }
    if (b < bEnd && *b == L'v') ++b;
    int c = CompareVersions({a, a + aLength}, {b, bEnd});
    if (hasOperator)
        result.value.SetInteger((c < 0 && less) || (c > 0 && greater) || (c == 0 && equal) ? 1 : 0);
    else
        result.value.SetInteger(c);
    return Status::Ok;
}

// --- Characters ---

Status BifOrd(CallResult& result, ValueToken** params, int) {
    const Char* s = L"";
    size_t length = 0;
    BRM_TRY(ParamText(params, 0, result.buffer, s, length));
    int64_t code = length ? static_cast<uint16_t>(s[0]) : 0;
    if (length > 1 && IsHighSurrogate(s[0]) && IsLowSurrogate(s[1]))
        code = 0x10000 + ((static_cast<int64_t>(s[0]) - 0xD800) << 10) + (s[1] - 0xDC00);
    result.value.SetInteger(code);
    return Status::Ok;
}

Status BifChr(CallResult& result, ValueToken** params, int) {
    int64_t code = 0;
    BRM_TRY(ParamInt(params, 0, code));
    if (code < 0 || code > 0x10FFFF)
        return ParamInvalid(params, 0);
    Char text[2];
    size_t length = 1;
    if (code > 0xFFFF) {
        code -= 0x10000;
        text[0] = static_cast<Char>(0xD800 + (code >> 10));
        text[1] = static_cast<Char>(0xDC00 + (code & 0x3FF));
        length = 2;
    } else {
        text[0] = static_cast<Char>(code);
    }
    return SetResultText(result, text, length);
}

// The address of a String's text; a variable's own buffer, valid while the variable keeps that text.
Status BifStrPtr(CallResult& result, ValueToken** params, int) {
    if (TokenKind(*params[0]) != SymString)
        return RaiseParamTypeError(0, L"String", *params[0]);
    const Char* text = TokenToString(*params[0], result.buffer);
    result.value.SetInteger(static_cast<int64_t>(reinterpret_cast<uintptr_t>(text)));
    return Status::Ok;
}

// --- Type tests ---

namespace {

enum TypeTest : int {
    kIsNumber = 1, kIsInteger, kIsFloat, kIsTime, kIsDigit, kIsXDigit, kIsAlnum, kIsAlpha, kIsUpper, kIsLower,
    kIsSpace,
};

bool CharPasses(int test, Char c, bool locale) {
    switch (test) {
    case kIsDigit: return c >= L'0' && c <= L'9';
    case kIsXDigit: return c < 0x80 && iswxdigit(static_cast<wint_t>(c));
    case kIsAlnum: return locale ? IsCharAlphaNumericW(c) != 0 : (c < 0x80 && iswalnum(static_cast<wint_t>(c)));
    case kIsAlpha: return locale ? IsCharAlphaW(c) != 0 : ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'));
    case kIsUpper: return locale ? IsCharUpperW(c) != 0 : (c >= L'A' && c <= L'Z');
    case kIsLower: return locale ? IsCharLowerW(c) != 0 : (c >= L'a' && c <= L'z');
    default: return iswspace(static_cast<wint_t>(c)) != 0;
    }
}

}  // namespace

Status BifIsType(CallResult& result, ValueToken** params, int count) {
    const int test = Identity(result);
    const ValueToken& value = *params[0];
    const uint32_t kind = TokenKind(value);
    if (kind != SymString) {
        if (test > kIsFloat || (kind != SymInteger && kind != SymFloat && kind != SymObject))
            return RaiseParamTypeError(0, L"String", value);
        bool yes = kind == SymInteger ? test != kIsFloat : kind == SymFloat ? test != kIsInteger : false;
        result.value.SetInteger(yes ? 1 : 0);
        return Status::Ok;
    }
    bool locale = false;
    if (test >= kIsAlnum && test <= kIsLower) {
        CaseMode mode = ParamCase(params, count, 1);
        if (mode == CaseMode::Logical || mode == CaseMode::Invalid)
            return ParamInvalid(params, 1);
        locale = mode == CaseMode::Locale;
    }
    Char buffer[kScratchChars];
    const Char* s = L"";
    size_t length = 0;
    BRM_TRY(ParamText(params, 0, buffer, s, length));
    bool yes;
    switch (test) {
    case kIsNumber: yes = IsNumeric(s) != NumericKind::None; break;
    case kIsInteger:
        yes = IsNumeric(s, AllowNegative::Yes, AllowEmpty::No, AllowFloat::No) == NumericKind::Integer;
        break;
    case kIsFloat: yes = IsNumeric(s) == NumericKind::Float; break;
    case kIsTime: {
        SYSTEMTIME st;
        yes = ParseTimestamp(s, st, ValidateTime::Yes, static_cast<ptrdiff_t>(length));
        break;
    }
    default: {
        size_t i = 0;
        if (test == kIsXDigit && length >= 2 && s[0] == L'0' && (s[1] == L'x' || s[1] == L'X'))
            i = 2;
        yes = true;
        for (; i < length && yes; ++i)
            yes = CharPasses(test, s[i], locale);
        break;
    }
    }
    result.value.SetInteger(yes ? 1 : 0);
    return Status::Ok;
}

// --- SplitPath ---

namespace {

struct PathParts {
    size_t nameBegin = 0, dirEnd = 0, driveBegin = 0, driveEnd = 0;
};

ptrdiff_t FindChar(const Char* s, size_t from, size_t to, Char c) {
    for (size_t i = from; i < to; ++i)
        if (s[i] == c)
            return static_cast<ptrdiff_t>(i);
    return -1;
}

ptrdiff_t FindLastChar(const Char* s, size_t from, size_t to, Char c) {
    for (size_t i = to; i > from; --i)
        if (s[i - 1] == c)
            return static_cast<ptrdiff_t>(i - 1);
    return -1;
}

PathParts SplitPathParts(const Char* path, size_t length) {
    PathParts parts;
    size_t s = 0;
    while (s < length && (path[s] == L' ' || path[s] == L'\t'))
        ++s;
    parts.driveBegin = s;
    ptrdiff_t scheme = -1;
    for (size_t i = 0; i + 3 <= length; ++i)
        if (path[i] == L':' && path[i + 1] == L'/' && path[i + 2] == L'/') {
            scheme = static_cast<ptrdiff_t>(i);
            break;
        }
    if (scheme >= 0) {
        size_t host = static_cast<size_t>(scheme) + 3;
        ptrdiff_t sep = FindChar(path, host, length, L'/');
        if (sep < 0)
            sep = FindChar(path, host, length, L'\\');
        size_t hostEnd = sep < 0 ? length : static_cast<size_t>(sep);
        parts.driveEnd = hostEnd;
        if (sep >= 0 && static_cast<size_t>(sep) + 1 < length) {
            ptrdiff_t last = FindLastChar(path, 0, length, L'/');
            if (last == scheme + 2)
                last = FindLastChar(path, 0, length, L'\\');
            parts.nameBegin = static_cast<size_t>(last) + 1;
            parts.dirEnd = static_cast<size_t>(last);
        } else {
            parts.nameBegin = length;
            parts.dirEnd = hostEnd;
        }
        return parts;
    }
    if (length - s >= 2 && path[s] == L'\\' && path[s + 1] == L'\\') {
        ptrdiff_t next = FindChar(path, s + 2, length, L'\\');
        parts.driveEnd = next < 0 ? length : static_cast<size_t>(next);
    } else if (length - s >= 2 && path[s + 1] == L':') {
        parts.driveEnd = s + 2;
    } else {
        parts.driveEnd = s;
    }
    ptrdiff_t slash = FindLastChar(path, 0, length, L'\\');
    if (slash >= 0) {
        parts.nameBegin = static_cast<size_t>(slash) + 1;
        parts.dirEnd = static_cast<size_t>(slash);
    } else {
        ptrdiff_t colon = FindLastChar(path, 0, length, L':');
        parts.nameBegin = colon < 0 ? 0 : static_cast<size_t>(colon) + 1;
        parts.dirEnd = parts.nameBegin;
    }
    return parts;
}

}  // namespace

// SplitPath(Path, &OutFileName, &OutDir, &OutExtension, &OutNameNoExt, &OutDrive)
Status BifSplitPath(CallResult& result, ValueToken** params, int count) {
    Char buffer[kScratchChars];
    const Char* given = L"";
    size_t length = 0;
    BRM_TRY(ParamText(params, 0, buffer, given, length));
    // A copy: the path may be a variable that is also one of the outputs.
    Char local[kScratchChars];
    Char* path = local;
    struct Owned {
        Char* p = nullptr;
        ~Owned() { free(p); }
    } owned;
    if (length >= static_cast<size_t>(kScratchChars)) {
        owned.p = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
        if (!owned.p)
            return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        path = owned.p;
    }
    wmemcpy(path, given, length);
    path[length] = 0;

    PathParts parts = SplitPathParts(path, length);
    const Char* name = path + parts.nameBegin;
    size_t nameLength = length - parts.nameBegin;
    ptrdiff_t dot = FindLastChar(name, 0, nameLength, L'.');
    size_t stemLength = dot < 0 ? nameLength : static_cast<size_t>(dot);
    const Char* ext = dot < 0 ? name + nameLength : name + dot + 1;
    size_t extLength = dot < 0 ? 0 : nameLength - static_cast<size_t>(dot) - 1;

    struct Piece {
        const Char* text;
        size_t length = 0;
    } pieces[5] = {{name, nameLength}, {path, parts.dirEnd}, {ext, extLength}, {name, stemLength},
                   {path + parts.driveBegin, parts.driveEnd - parts.driveBegin}};
    for (int i = 0; i < 5; ++i)
        if (Var* var = OutputVar(params, count, i + 1))
            BRM_TRY(var->AssignString(pieces[i].text, static_cast<int32_t>(pieces[i].length)));
    result.value.SetString(L"", 0);
    return Status::Ok;
}

}  // namespace brm
