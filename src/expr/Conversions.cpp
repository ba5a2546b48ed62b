// Conversions between text and numbers, the numeric tests, float formatting and truth values.
// Numbers are formatted and parsed by std::to_chars/from_chars, never by the C runtime: its printf
// writes three-digit exponents ("1e+017") and its parsers differ between runtime versions.
// Integer arithmetic here wraps modulo 2^64 and is done on uint64_t so that overflow is defined.
#include "expr/Conversions.h"
#include <charconv>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <limits>
#include <string>
#include "expr/Var.h"
#include "objects/IObject.h"

namespace brm {

namespace {

inline bool IsBlank(Char c) { return c == ' ' || c == '\t'; }
inline bool IsDigit(Char c) { return c >= '0' && c <= '9'; }
inline bool IsHexDigit(Char c) { return IsDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }
inline unsigned HexValue(Char c) { return IsDigit(c) ? unsigned(c - '0') : unsigned((c | 0x20) - 'a' + 10); }
inline bool IsHexPrefix(const Char* p) { return p[0] == '0' && (p[1] | 0x20) == 'x' && IsHexDigit(p[2]); }

// The whitespace the C library's decimal conversion skips.
inline bool IsCSpace(Char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

const Char* TextOrEmpty(const Char* text) { return text ? text : L""; }

// Copies narrow ASCII digits into a wide buffer and terminates it.
int Widen(const char* from, int count, Char* to) {
    for (int i = 0; i < count; ++i)
        to[i] = static_cast<Char>(from[i]);
    to[count] = 0;
    return count;
}

// Length of a String token's text.
int32_t MarkerLength(const ValueToken& token) {
    return token.markerLength >= 0 ? token.markerLength : static_cast<int32_t>(wcslen(token.marker));
}

}  // namespace

bool TextToBool(const Char* text, int32_t length) {
    text = TextOrEmpty(text);
    if (length < 0)
        length = static_cast<int32_t>(wcslen(text));
    if (length == 0)
        return false;
    if (text[0] > '0' || text[0] == 0)  // NUL first with a positive length: binary data, not "empty"
        return true;
    switch (IsNumeric(text)) {
    case NumericKind::Integer: return ParseInt64(text) != 0;
    case NumericKind::Float: return ParseDouble(text) != 0.0;
    default: return true;
    }
}

NumericKind IsNumeric(const Char* text, AllowNegative neg, AllowEmpty empty, AllowFloat flt) {
    const Char* p = TextOrEmpty(text);
    while (IsBlank(*p))
        ++p;
    if (!*p)
        return empty == AllowEmpty::Yes ? NumericKind::Integer : NumericKind::None;
    if (*p == '-') {
        if (neg == AllowNegative::No)
            return NumericKind::None;
        ++p;
    } else if (*p == '+') {
        ++p;
    }
    bool hex = IsHexPrefix(p);
    if (hex)
        p += 2;
    bool digits = false, dot = false, exponent = false;
    for (;; ++p) {
        Char c = *p;
        if (!c)
            break;
        if (IsBlank(c)) {
            while (IsBlank(*p))
                ++p;
            if (*p)
                return NumericKind::None;
            break;
        }
        if (hex ? IsHexDigit(c) : IsDigit(c)) {
            digits = true;
            continue;
        }
        // A '.' after the exponent ("1e5.5") is refused: every parser would stop there and silently
        // drop the rest, so the text is not the number it looks like.
        if (c == '.' && !dot && !hex && !exponent && flt == AllowFloat::Yes) {
            dot = true;
            continue;
        }
        if ((c | 0x20) == 'e' && flt == AllowFloat::Yes && digits && !exponent) {  // hex mode took 'e' above
            exponent = true;
            if (p[1] == '+' || p[1] == '-')
                ++p;
            if (!IsDigit(p[1]))
                return NumericKind::None;
            continue;
        }
        return NumericKind::None;
    }
    if (!digits)
        return NumericKind::None;
    return dot || exponent ? NumericKind::Float : NumericKind::Integer;
}

int64_t ParseIntPrefix(const Char* text, const Char** end) {
    const Char* p = TextOrEmpty(text);
    while (IsBlank(*p))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    uint64_t value = 0;
    const Char* digitsStart;
    if (IsHexPrefix(p)) {
        p += 2;
        digitsStart = p;
        for (; IsHexDigit(*p); ++p)
            value = value * 16 + HexValue(*p);
    } else {
        digitsStart = p;
        for (; IsDigit(*p); ++p)
            value = value * 10 + unsigned(*p - '0');
    }
    if (end)
        *end = p == digitsStart ? text : p;
    return static_cast<int64_t>(negative ? 0 - value : value);
}

int64_t ParseInt64(const Char* text) {
    const Char* p = TextOrEmpty(text);
    while (IsBlank(*p))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    uint64_t value = 0;
    if (IsHexPrefix(p)) {
        for (p += 2; IsHexDigit(*p); ++p)
            value = value * 16 + HexValue(*p);
    } else {
        for (; IsDigit(*p); ++p)
            value = value * 10 + unsigned(*p - '0');
        const Char* fraction = p;
        const Char* fractionEnd = p;
        if (*p == '.') {
            fraction = ++p;
            while (IsDigit(*p))
                ++p;
            fractionEnd = p;
        }
        if ((*p | 0x20) == 'e') {
            const Char* q = p + 1;
            bool negativeExponent = *q == '-';
            if (*q == '-' || *q == '+')
                ++q;
            if (IsDigit(*q)) {
                // Saturate: anything past 64 (or 20 when dividing) already gives 0.
                int exponent = 0;
                for (; IsDigit(*q); ++q)
                    if (exponent < 100000)
                        exponent = exponent * 10 + (*q - '0');
                if (!negativeExponent) {
                    // Fraction digits first, so "1.5e3" is 1500 rather than 1000.
                    for (; exponent > 0 && fraction < fractionEnd; --exponent)
                        value = value * 10 + unsigned(*fraction++ - '0');
                    if (exponent >= 64)  // 10^64 is a multiple of 2^64: the product wraps to 0
                        value = 0;
                    else
                        for (; exponent > 0; --exponent)
                            value *= 10;
                } else if (exponent >= 20) {  // 10^20 exceeds every 64-bit value
                    value = 0;
                } else {
                    for (; exponent > 0; --exponent)
                        value /= 10;
                }
            }
        }
    }
    return static_cast<int64_t>(negative ? 0 - value : value);
}

double ParseDouble(const Char* text) { return ParseDoublePrefix(text, nullptr); }

double ParseDoublePrefix(const Char* text, const Char** end) {
    const Char* p = TextOrEmpty(text);
    if (end)
        *end = p;
    while (IsCSpace(*p))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    const Char* start = p;
    int integerDigits = 0;      // significant digits before the point
    int leadingFractionZeros = 0;
    bool anyDigit = false, nonzeroSeen = false;
    for (; IsDigit(*p); ++p) {
        anyDigit = true;
        if (*p != '0')
            nonzeroSeen = true;
        if (nonzeroSeen)
            ++integerDigits;
    }
    if (*p == '.') {
        for (++p; IsDigit(*p); ++p) {
            anyDigit = true;
            if (!nonzeroSeen) {
                if (*p == '0')
                    ++leadingFractionZeros;
                else
                    nonzeroSeen = true;
            }
        }
    }
    if (!anyDigit)
        return 0.0;
    long exponent = 0;
    if ((*p | 0x20) == 'e') {
        const Char* q = p + 1;
        bool negativeExponent = *q == '-';
        if (*q == '-' || *q == '+')
            ++q;
        if (IsDigit(*q)) {
            for (; IsDigit(*q); ++q)
                if (exponent < 100000000)
                    exponent = exponent * 10 + (*q - '0');
            if (negativeExponent)
                exponent = -exponent;
            p = q;
        }
    }
    if (end)
        *end = p;
    size_t length = static_cast<size_t>(p - start);
    char local[128];
    std::string large;
    char* narrow = local;
    if (length > sizeof(local)) {
        large.resize(length);
        narrow = large.data();
    }
    for (size_t i = 0; i < length; ++i)
        narrow[i] = static_cast<char>(start[i]);
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(narrow, narrow + length, value, std::chars_format::general);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone here; give what the C library gives: infinity on
        // overflow, zero on underflow.
        long magnitude = (integerDigits > 0 ? integerDigits - 1 : -(leadingFractionZeros + 1)) + exponent;
        value = nonzeroSeen && magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

int64_t FloatToInt64(double d) {
    // Also false for NaN.
    if (!(std::fabs(d) < 9223372036854775808.0))
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
}

int FormatFloat(double value, Char* buffer) {
    // Texts for the non-finite values; the sign of a NaN carries no meaning for a script, so it is dropped.
    if (std::isnan(value))
        return Widen("nan", 3, buffer);
    if (std::isinf(value))
        return value < 0 ? Widen("-inf", 4, buffer) : Widen("inf", 3, buffer);
    char narrow[64];
    auto [end, ec] = std::to_chars(narrow, narrow + sizeof(narrow), value, std::chars_format::general, 17);
    (void)ec;  // 17 significant digits always fit in 64 characters
    int length = static_cast<int>(end - narrow);
    // A Float must not read back as an Integer: "1" becomes "1.0".
    if (!memchr(narrow, '.', length) && !memchr(narrow, 'e', length) && length + 2 < kScratchChars &&
        narrow[length - 1] >= '0' && narrow[length - 1] <= '9') {
        narrow[length++] = '.';
        narrow[length++] = '0';
    }
    return Widen(narrow, length, buffer);
}

Char* PutPaddedDecimal(Char* out, uint32_t value, int width) {
    Char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<Char>(L'0' + value % 10);
        value /= 10;
    } while (value);
    while (width-- > n)
        *out++ = L'0';
    while (n)
        *out++ = digits[--n];
    return out;
}

int FormatInt64(int64_t value, Char* buffer) {
    char narrow[24];
    auto [end, ec] = std::to_chars(narrow, narrow + sizeof(narrow), value);
    (void)ec;
    return Widen(narrow, static_cast<int>(end - narrow), buffer);
}

double TextToDouble(const Char* text, HexCheck hex) {
    text = TextOrEmpty(text);
    if (hex == HexCheck::Yes) {
        const Char* p = text;
        while (IsBlank(*p))
            ++p;
        if (*p == '-' || *p == '+')
            ++p;
        if (IsHexPrefix(p))
            return static_cast<double>(ParseInt64(text));
    }
    return ParseDouble(text);
}

const Char* TokenToString(const ValueToken& token, Char* buffer, int32_t* length) {
    int32_t n = 0;
    const Char* text = L"";
    switch (token.symbol) {
    case SymString:
        text = token.marker;
        n = MarkerLength(token);
        break;
    case SymInteger:
        if (buffer) {
            n = FormatInt64(token.valueInt64, buffer);
            text = buffer;
        }
        break;
    case SymFloat:
        if (buffer) {
            n = FormatFloat(token.valueDouble, buffer);
            text = buffer;
        }
        break;
    case SymVariable: {
        Var* v = token.var->Target();
        text = v->Text();
        n = static_cast<int32_t>(v->m_byteLength / sizeof(Char));
        break;
    }
    default:
        break;
    }
    if (length)
        *length = n;
    return text;
}

int64_t TokenToInt64(const ValueToken& token) {
    switch (token.symbol) {
    case SymInteger: return token.valueInt64;
    case SymFloat: return FloatToInt64(token.valueDouble);
    case SymString: return ParseInt64(token.marker);
    case SymVariable: return token.var->ToInt64();
    default: return 0;
    }
}

double TokenToDouble(const ValueToken& token, HexCheck hex) {
    switch (token.symbol) {
    case SymFloat: return token.valueDouble;
    case SymInteger: return static_cast<double>(token.valueInt64);
    case SymString: return TextToDouble(token.marker, hex);
    case SymVariable: {
        Var* v = token.var->Target();
        if (v->m_attrib & VarAttribInteger)
            return static_cast<double>(v->m_valueInt64);
        if (v->m_attrib & VarAttribFloat)
            return v->m_valueDouble;
        if (v->m_attrib & VarAttribObject)
            return 0.0;
        return TextToDouble(v->Text(), hex);
    }
    default: return 0.0;
    }
}

bool TokenToNumber(const ValueToken& token, ValueToken& number) {
    const Char* text;
    switch (token.symbol) {
    case SymInteger: number.SetInteger(token.valueInt64); return true;
    case SymFloat: number.SetFloat(token.valueDouble); return true;
    case SymString: text = token.marker; break;
    case SymVariable: {
        Var* v = token.var->Target();
        if (v->m_attrib & VarAttribInteger) {
            number.SetInteger(v->m_valueInt64);
            return true;
        }
        if (v->m_attrib & VarAttribFloat) {
            number.SetFloat(v->m_valueDouble);
            return true;
        }
        if (v->m_attrib & VarAttribObject)
            return false;
        switch (v->TextNumeric()) {
        case NumericKind::Integer: number.SetInteger(ParseInt64(v->m_contents)); return true;
        case NumericKind::Float: number.SetFloat(ParseDouble(v->m_contents)); return true;
        default: return false;
        }
    }
    default: return false;
    }
    switch (IsNumeric(text)) {
    case NumericKind::Integer: number.SetInteger(ParseInt64(text)); return true;
    case NumericKind::Float: number.SetFloat(ParseDouble(text)); return true;
    default: return false;
    }
}

uint32_t TokenKind(const ValueToken& token) {
    switch (token.symbol) {
    case SymInteger:
    case SymFloat:
    case SymMissing:
    case SymObject:
        return token.symbol;
    case SymVariable: {
        uint8_t attrib = token.var->Target()->m_attrib;
        if (attrib & VarAttribInteger)
            return SymInteger;
        if (attrib & VarAttribFloat)
            return SymFloat;
        if (attrib & VarAttribObject)
            return SymObject;
        return SymString;
    }
    default: return SymString;
    }
}

NumericKind TokenIsPureNumeric(const ValueToken& token) {
    switch (TokenKind(token)) {
    case SymInteger: return NumericKind::Integer;
    case SymFloat: return NumericKind::Float;
    default: return NumericKind::None;
    }
}

NumericKind TokenIsNumeric(const ValueToken& token) {
    switch (token.symbol) {
    case SymInteger: return NumericKind::Integer;
    case SymFloat: return NumericKind::Float;
    case SymString: return IsNumeric(token.marker);
    case SymVariable: {
        Var* v = token.var->Target();
        if (v->m_attrib & VarAttribInteger)
            return NumericKind::Integer;
        if (v->m_attrib & VarAttribFloat)
            return NumericKind::Float;
        if (v->m_attrib & VarAttribObject)
            return NumericKind::None;
        return v->TextNumeric();
    }
    default: return NumericKind::None;
    }
}

bool TokenToBool(const ValueToken& token) {
    switch (token.symbol) {
    case SymInteger: return token.valueInt64 != 0;
    case SymFloat: return token.valueDouble != 0.0;  // NaN is true
    case SymObject: return true;
    case SymString: return TextToBool(token.marker, token.markerLength);
    case SymVariable: return token.var->Truth();
    default: return false;
    }
}

const Char* TokenTypeName(const ValueToken& token) {
    switch (token.symbol) {
    case SymString: return L"String";
    case SymInteger: return L"Integer";
    case SymFloat: return L"Float";
    case SymObject: return token.object->TypeName();
    case SymVariable: {
        Var* v = token.var->Target();
        if (v->m_attrib & VarAttribInteger)
            return L"Integer";
        if (v->m_attrib & VarAttribFloat)
            return L"Float";
        if (v->m_attrib & VarAttribObject)
            return v->m_object->TypeName();
        return (v->m_attrib & VarAttribUnset) && v->m_type != VarTypeVirtual ? L"" : L"String";
    }
    default: return L"";
    }
}

}  // namespace brm
