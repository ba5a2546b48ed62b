// Format: fills "{index:spec}" placeholders with values through the printf conversions of NumberFormat.
// The text is processed into the call's own buffer; when it does not fit there, the measured length sizes
// a heap buffer and a second pass writes it.
#include "lib/Format.h"
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "lib/NumberFormat.h"

namespace brm {

namespace {

// Flags, width, point and precision of one placeholder: longer specifications are taken as plain text.
constexpr ptrdiff_t kMaxSpecChars = 46;
// The longest result: lengths are kept in 32-bit tokens, and far below that memory runs out anyway.
constexpr uint64_t kMaxResultChars = 0x3FFFFFFF;

enum class Conversion { Text, Integer, Double };
enum class CaseChange { None, Upper, Lower, Title };

inline bool IsDigit(Char c) { return c >= L'0' && c <= L'9'; }
inline bool IsFlag(Char c) { return c == L'-' || c == L'+' || c == L'0' || c == L' ' || c == L'#'; }
inline bool IsIn(Char c, const Char* set) { return c && wcschr(set, c); }

// The title rule StrTitle follows: a letter after white space (or at the start) is upper-cased, every other
// letter lower-cased; a word that starts with a digit keeps its letters as they come.
void TitleCase(Char* text, uint64_t length) {
    bool wordStart = true;
    for (uint64_t i = 0; i < length; ++i) {
        Char c = text[i];
        if (IsCharAlphaW(c)) {
            Char one[2] = {c, 0};
            if (wordStart)
                CharUpperBuffW(one, 1);
            else
                CharLowerBuffW(one, 1);
            text[i] = one[0];
            wordStart = false;
        } else if (IsCharAlphaNumericW(c)) {
            wordStart = false;
        } else if (iswspace(c)) {
            wordStart = true;
        }
    }
}

void ChangeCase(Char* text, uint64_t length, CaseChange change) {
    switch (change) {
    case CaseChange::Upper: CharUpperBuffW(text, static_cast<DWORD>(length)); break;
    case CaseChange::Lower: CharLowerBuffW(text, static_cast<DWORD>(length)); break;
    case CaseChange::Title: TitleCase(text, length); break;
    case CaseChange::None: break;
    }
}

struct Placeholder {
    int index;
    Conversion conversion = Conversion::Text;
    CaseChange change = CaseChange::None;
    bool hasSpec = false;
    FieldSpec spec;
    const Char* end;  // after the closing brace
};

// Reads the placeholder whose "{" is at p; false when it is not one (the "{" is then plain text).
bool ReadPlaceholder(const Char* p, int lastIndex, int valueCount, Placeholder& ph) {
    const Char* q = p + 1;
    if (IsDigit(*q)) {
        int64_t index = 0;
        for (; IsDigit(*q); ++q)
            if (index <= valueCount)
                index = index * 10 + (*q - L'0');
        if (index < 1 || index > valueCount)
            return false;
        ph.index = static_cast<int>(index);
    } else {
        if (lastIndex + 1 > valueCount)
            return false;
        ph.index = lastIndex + 1;
    }
    if (*q == L'}') {
        ph.end = q + 1;
        return true;
    }
    if (*q != L':')
        return false;
    const Char* specStart = ++q;
    while (IsFlag(*q))
        ++q;
    while (IsDigit(*q))
        ++q;
    if (*q == L'.')
        for (++q; IsDigit(*q); ++q) {
        }
    if (q - specStart > kMaxSpecChars)
        return false;
    ParseFieldSpec(specStart, q, ph.spec);
    ph.hasSpec = true;
    if (IsIn(*q, L"diouxX") || IsIn(*q, L"cCp")) {
        ph.conversion = Conversion::Integer;
        ph.spec.type = *q++;
    } else if (IsIn(*q, L"eEfgGaA")) {
        ph.conversion = Conversion::Double;
        ph.spec.type = *q++;
    } else {
        switch (*q) {
        case L'U': ph.change = CaseChange::Upper; ++q; break;
        case L'L':
        case L'l': ph.change = CaseChange::Lower; ++q; break;
        case L'T':
        case L't': ph.change = CaseChange::Title; ++q; break;
        }
        if (*q == L's')
            ++q;
    }
    if (*q != L'}')
        return false;
    ph.end = q + 1;
    return true;
}

// One pass over the format. Errors (a value of the wrong type) can only arise on the first pass.
Status FormatPass(const Char* format, ValueToken** params, int count, TextSink& out) {
    int lastIndex = 0;
    int valueCount = count - 1;
    const Char* p = format;
    for (;;) {
        const Char* run = p;
        while (*p && *p != L'{')
            ++p;
        out.Put(run, static_cast<size_t>(p - run));
        if (!*p)
            return Status::Ok;
        if ((p[1] == L'{' || p[1] == L'}') && p[2] == L'}') {
            out.Put(p[1]);
            p += 3;
            continue;
        }
        Placeholder ph;
        if (!ReadPlaceholder(p, lastIndex, valueCount, ph)) {
            out.Put(L'{');
            ++p;
            continue;
        }
        lastIndex = ph.index;
        p = ph.end;
        ValueToken& value = *params[ph.index];
        uint64_t fieldStart = out.Length();
        if (ph.conversion != Conversion::Text) {
            if (TokenIsNumeric(value) == NumericKind::None)
                return RaiseParamTypeError(ph.index, L"Number", value);
            if (ph.conversion == Conversion::Integer)
                WriteIntegerField(out, ph.spec, TokenToInt64(value));
            else
                WriteFloatField(out, ph.spec, TokenToDouble(value, HexCheck::Yes));
        } else {
            if (TokenKind(value) == SymObject)
                return RaiseParamTypeError(ph.index, L"String", value);
            Char scratch[kScratchChars];
            int32_t length = -1;
            const Char* text = TokenToString(value, scratch, &length);
            size_t textLength = length < 0 ? wcslen(text) : static_cast<size_t>(length);
            if (ph.hasSpec)
                WriteTextField(out, ph.spec, text, textLength);
            else
                out.Put(text, textLength);
        }
        if (ph.change != CaseChange::None && out.Fits())
            ChangeCase(out.At(fieldStart), out.Length() - fieldStart, ph.change);
        if (out.Length() > kMaxResultChars)
            return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
    }
}

}  // namespace

Status BifFormat(CallResult& result, ValueToken** params, int count) {
    ValueToken& formatToken = *params[0];
    if (TokenIsPureNumeric(formatToken) != NumericKind::None) {
        int32_t length = -1;
        const Char* text = TokenToString(formatToken, result.buffer, &length);
        result.value.SetString(text, length);
        return Status::Ok;
    }
    if (TokenKind(formatToken) == SymObject)
        return RaiseParamTypeError(0, L"String", formatToken);
    Char formatScratch[kScratchChars];
    const Char* format = TokenToString(formatToken, formatScratch);

    TextSink first(result.buffer, kScratchChars - 1);
    BRM_TRY(FormatPass(format, params, count, first));
    uint64_t length = first.Length();
    if (first.Fits()) {
        result.buffer[length] = 0;
        result.value.SetString(result.buffer, static_cast<int32_t>(length));
        return Status::Ok;
    }
    auto* text = static_cast<Char*>(malloc((static_cast<size_t>(length) + 1) * sizeof(Char)));
    if (!text)
        return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
    TextSink second(text, static_cast<size_t>(length));
    if (FormatPass(format, params, count, second) != Status::Ok) {  // cannot fail: the first pass checked
        free(text);
        return Status::Fail;
    }
    text[length] = 0;
    result.memToFree = text;
    result.value.SetString(text, static_cast<int32_t>(length));
    return Status::Ok;
}

}  // namespace brm
