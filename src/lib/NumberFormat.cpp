// The printf conversions on std::to_chars. A field is assembled from a prefix (sign or radix marker),
// leading zeros, the digits, and zeros inserted inside the digits where a precision asks for more digits
// than a double holds; padding goes around it as the flags say.
#include "lib/NumberFormat.h"
#include <windows.h>

#include <charconv>
#include <cmath>
#include <cstring>

namespace brm {

namespace {

// A double's exact decimal expansion has at most 767 significant digits and 1074 decimals: digits asked
// for beyond these are zeros, so they are written as padding rather than computed.
constexpr int32_t kMaxExactDecimals = 1100;
constexpr int32_t kMaxExactSignificant = 800;
constexpr int32_t kMaxHexDigits = 13;  // the 52 stored bits of a double's fraction
// 309 integer digits, a point and the decimals, or a mantissa and an exponent, with room to spare.
constexpr size_t kDigitBuffer = 1500;

struct Field {
    const char* prefix = "";
    size_t prefixLength = 0;
    uint64_t leadZeros = 0;
    const char* body = "";
    size_t bodyLength = 0;
    size_t insertAt = 0;       // where insertZeros go inside body
    uint64_t insertZeros = 0;
    bool zeroPad = true;       // the '0' flag applies
    bool upper = false;        // letters upper-cased
};

void PutBody(TextSink& out, const char* text, size_t count, bool upper) {
    if (!upper) {
        out.PutNarrow(text, count);
        return;
    }
    char buffer[64];
    while (count) {
        size_t n = count < sizeof buffer ? count : sizeof buffer;
        for (size_t i = 0; i < n; ++i)
            buffer[i] = (text[i] >= 'a' && text[i] <= 'z') ? static_cast<char>(text[i] - 32) : text[i];
        out.PutNarrow(buffer, n);
        text += n;
        count -= n;
    }
}

void Emit(TextSink& out, const FieldSpec& spec, const Field& f) {
    uint64_t total = f.prefixLength + f.leadZeros + f.bodyLength + f.insertZeros;
    uint64_t pad = static_cast<uint64_t>(spec.width) > total ? static_cast<uint64_t>(spec.width) - total : 0;
    bool zeros = spec.zero && f.zeroPad && !spec.left;
    if (pad && !spec.left && !zeros)
        out.Fill(L' ', pad);
    PutBody(out, f.prefix, f.prefixLength, f.upper);
    out.Fill(L'0', f.leadZeros + (zeros ? pad : 0));
    PutBody(out, f.body, f.insertAt, f.upper);
    out.Fill(L'0', f.insertZeros);
    PutBody(out, f.body + f.insertAt, f.bodyLength - f.insertAt, f.upper);
    if (pad && spec.left)
        out.Fill(L' ', pad);
}

const char* SignPrefix(bool negative, const FieldSpec& spec) {
    return negative ? "-" : spec.plus ? "+" : spec.space ? " " : "";
}

// Pads and writes a field of UTF-16 text (s, c, C, p): the '0' flag pads with zeros, as the system's
// C runtime does for these conversions.
void EmitText(TextSink& out, const FieldSpec& spec, const Char* text, size_t length) {
    uint64_t pad = static_cast<uint64_t>(spec.width) > length ? static_cast<uint64_t>(spec.width) - length : 0;
    if (pad && !spec.left)
        out.Fill(spec.zero ? L'0' : L' ', pad);
    out.Put(text, length);
    if (pad && spec.left)
        out.Fill(L' ', pad);
}

size_t CStrLength(const char* s) { return strlen(s); }

// Position of the exponent marker in scientific digits, or the length when there is none.
size_t ExponentAt(const char* text, size_t length, char marker) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] == marker)
            return i;
    return length;
}

}  // namespace

void TextSink::Put(const Char* text, size_t count) {
    if (m_length + count <= m_capacity)
        wmemcpy(m_buffer + m_length, text, count);
    m_length += count;
}

void TextSink::PutNarrow(const char* text, size_t count) {
    if (m_length + count <= m_capacity)
        for (size_t i = 0; i < count; ++i)
            m_buffer[m_length + i] = static_cast<Char>(static_cast<unsigned char>(text[i]));
    m_length += count;
}

void TextSink::Fill(Char c, uint64_t count) {
    if (m_length + count <= m_capacity)
        for (uint64_t i = 0; i < count; ++i)
            m_buffer[m_length + i] = c;
    m_length += count;
}

void ParseFieldSpec(const Char* p, const Char* end, FieldSpec& spec) {
    for (; p < end; ++p) {
        switch (*p) {
        case L'-': spec.left = true; continue;
        case L'+': spec.plus = true; continue;
        case L' ': spec.space = true; continue;
        case L'0': spec.zero = true; continue;
        case L'#': spec.alt = true; continue;
        }
        break;
    }
    auto number = [&](int32_t& to) {
        int64_t n = 0;
        for (; p < end && *p >= L'0' && *p <= L'9'; ++p)
            if ((n = n * 10 + (*p - L'0')) > kMaxFieldWidth)
                n = kMaxFieldWidth;
        to = static_cast<int32_t>(n);
    };
    number(spec.width);
    if (p < end && *p == L'.') {
        ++p;
        number(spec.precision);
    }
}

void WriteIntegerField(TextSink& out, const FieldSpec& spec, int64_t value) {
    Field f;
    char digits[72];
    switch (spec.type) {
    case L'c':
    case L'C': {
        Char c = static_cast<Char>(static_cast<uint32_t>(value) & 0xFFFF);
        if (spec.type == L'C') {  // a narrow character of the system's code page
            char narrow = static_cast<char>(value & 0xFF);
            if (MultiByteToWideChar(CP_ACP, 0, &narrow, 1, &c, 1) != 1)
                c = static_cast<unsigned char>(narrow);
        }
        EmitText(out, spec, &c, 1);
        return;
    }
    case L'p': {  // a 32-bit address as eight upper-case hexadecimal digits
        Char text[8];
        uint32_t v = static_cast<uint32_t>(value);
        for (int i = 7; i >= 0; --i, v >>= 4)
            text[i] = L"0123456789ABCDEF"[v & 15];
        FieldSpec plain = spec;
        plain.zero = false;
        EmitText(out, plain, text, 8);
        return;
    }
    }
    bool negative = false;
    uint64_t magnitude = static_cast<uint64_t>(value);
    int base = 10;
    if (spec.type == L'd' || spec.type == L'i') {
        negative = value < 0;
        if (negative)
            magnitude = 0 - magnitude;
        f.prefix = SignPrefix(negative, spec);
    } else if (spec.type == L'o') {
        base = 8;
    } else if (spec.type == L'x' || spec.type == L'X') {
        base = 16;
        f.upper = spec.type == L'X';
        if (spec.alt && magnitude)
            f.prefix = "0x";
    }
    f.prefixLength = CStrLength(f.prefix);
    size_t length = 0;
    if (magnitude || spec.precision != 0)
        length = static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, magnitude, base).ptr - digits);
    f.body = digits;
    f.bodyLength = length;
    if (spec.precision > 0 && static_cast<size_t>(spec.precision) > length)
        f.leadZeros = static_cast<uint64_t>(spec.precision) - length;
    if (base == 8 && spec.alt && !f.leadZeros && (length == 0 || digits[0] != '0'))
        f.leadZeros = 1;
    f.zeroPad = spec.precision < 0;
    Emit(out, spec, f);
}

void WriteFloatField(TextSink& out, const FieldSpec& spec, double value) {
    Field f;
    Char type = spec.type;
    f.upper = type == L'E' || type == L'G' || type == L'A';
    bool negative = std::signbit(value);
    if (std::isnan(value))
        negative = false;  // a NaN's sign is never shown
    f.prefix = SignPrefix(negative, spec);
    f.prefixLength = CStrLength(f.prefix);
    double magnitude = std::fabs(value);
    if (!std::isfinite(value)) {
        f.body = std::isnan(value) ? "nan" : "inf";
        f.bodyLength = 3;
        f.zeroPad = false;
        Emit(out, spec, f);
        return;
    }
    char digits[kDigitBuffer];
    char hexPrefix[4];
    char* end = digits;
    int32_t precision = spec.precision;
    switch (type) {
    case L'f': {
        if (precision < 0)
            precision = 6;
        int32_t computed = precision < kMaxExactDecimals ? precision : kMaxExactDecimals;
        end = std::to_chars(digits, digits + sizeof digits, magnitude, std::chars_format::fixed, computed).ptr;
        f.insertZeros = static_cast<uint64_t>(precision - computed);
        if (!precision && spec.alt)
            *end++ = '.';
        f.insertAt = static_cast<size_t>(end - digits);
        break;
    }
    case L'e':
    case L'E': {
        if (precision < 0)
            precision = 6;
        int32_t computed = precision < kMaxExactSignificant ? precision : kMaxExactSignificant;
        end = std::to_chars(digits, digits + sizeof digits, magnitude, std::chars_format::scientific, computed).ptr;
        size_t at = ExponentAt(digits, static_cast<size_t>(end - digits), 'e');
        if (!precision && spec.alt) {
            memmove(digits + at + 1, digits + at, static_cast<size_t>(end - digits) - at);
            digits[at++] = '.';
            ++end;
        }
        f.insertAt = at;
        f.insertZeros = static_cast<uint64_t>(precision - computed);
        break;
    }
    case L'g':
    case L'G': {
        int32_t significant = precision < 0 ? 6 : precision == 0 ? 1 : precision;
        int32_t computed = significant < kMaxExactSignificant ? significant : kMaxExactSignificant;
        end = std::to_chars(digits, digits + sizeof digits, magnitude, std::chars_format::scientific, computed - 1).ptr;
        size_t at = ExponentAt(digits, static_cast<size_t>(end - digits), 'e');
        int exponent = 0;
        std::from_chars(digits + at + 1 + (digits[at + 1] == '+'), end, exponent);
        uint64_t extra = static_cast<uint64_t>(significant - computed);
        if (exponent < significant && exponent >= -4) {
            int64_t decimals = static_cast<int64_t>(significant) - 1 - exponent;
            int32_t fixedComputed = decimals < kMaxExactDecimals ? static_cast<int32_t>(decimals) : kMaxExactDecimals;
            end = std::to_chars(digits, digits + sizeof digits, magnitude, std::chars_format::fixed, fixedComputed).ptr;
            extra = static_cast<uint64_t>(decimals - fixedComputed);
            at = static_cast<size_t>(end - digits);
        }
        size_t length = static_cast<size_t>(end - digits);
        bool hasPoint = memchr(digits, '.', at) != nullptr;
        if (!spec.alt) {
            // Trailing zeros of the fraction go, and the point with them when nothing follows it.
            extra = 0;
            size_t cut = at;
            if (hasPoint) {
                while (digits[cut - 1] == '0')
                    --cut;
                if (digits[cut - 1] == '.')
                    --cut;
            }
            memmove(digits + cut, digits + at, length - at);
            end = digits + cut + (length - at);
            at = cut;
        } else if (!hasPoint) {
            memmove(digits + at + 1, digits + at, length - at);
            digits[at++] = '.';
            ++end;
        }
        f.insertAt = at;
        f.insertZeros = extra;
        break;
    }
    default: {  // 'a', 'A'
        int32_t computed = precision < kMaxHexDigits ? precision : kMaxHexDigits;
        digits[0] = '0';
        digits[1] = 'x';
        char* start = digits + 2;
        end = precision < 0 ? std::to_chars(start, digits + sizeof digits, magnitude, std::chars_format::hex).ptr
                            : std::to_chars(start, digits + sizeof digits, magnitude, std::chars_format::hex, computed).ptr;
        size_t at = ExponentAt(digits, static_cast<size_t>(end - digits), 'p');
        if (spec.alt && !memchr(digits, '.', at)) {
            memmove(digits + at + 1, digits + at, static_cast<size_t>(end - digits) - at);
            digits[at++] = '.';
            ++end;
        }
        // The radix marker belongs before any zero padding, with the sign.
        size_t n = 0;
        for (size_t i = 0; i < f.prefixLength; ++i)
            hexPrefix[n++] = f.prefix[i];
        hexPrefix[n++] = '0';
        hexPrefix[n++] = 'x';
        f.prefix = hexPrefix;
        f.prefixLength = n;
        memmove(digits, digits + 2, static_cast<size_t>(end - digits) - 2);
        end -= 2;
        at -= 2;
        f.insertAt = at;
        f.insertZeros = precision > computed ? static_cast<uint64_t>(precision - computed) : 0;
        break;
    }
    }
    f.body = digits;
    f.bodyLength = static_cast<size_t>(end - digits);
    Emit(out, spec, f);
}

void WriteTextField(TextSink& out, const FieldSpec& spec, const Char* text, size_t length) {
    if (spec.precision >= 0 && static_cast<size_t>(spec.precision) < length)
        length = static_cast<size_t>(spec.precision);
    EmitText(out, spec, text, length);
}

void WriteFixed(TextSink& out, double value, int32_t decimals) {
    FieldSpec spec;
    spec.type = L'f';
    spec.precision = decimals < 0 ? 0 : decimals;
    WriteFloatField(out, spec, value);
}

}  // namespace brm
