// Encoding names, parsed and formatted, and the process's ANSI code page.
#include "system/Encoding.h"

#include <windows.h>

namespace brm {

namespace {

Char FoldAscii(Char c) { return (c >= L'a' && c <= L'z') ? Char(c - (L'a' - L'A')) : c; }

bool EqualsFolded(const Char* a, const Char* b) {
    for (; *a && *b; ++a, ++b)
        if (FoldAscii(*a) != FoldAscii(*b)) return false;
    return *a == *b;
}

struct NamedEncoding {
    const Char* name;
    uint32_t value;
};

constexpr NamedEncoding kNamedEncodings[] = {
    {L"UTF-8", kCodePageUtf8},
    {L"UTF-8-RAW", kEncodingUtf8Raw},
    {L"UTF-16", kCodePageUtf16},
    {L"UTF-16-RAW", kEncodingUtf16Raw},
};

}  // namespace

bool ParseEncodingName(const Char* name, uint32_t& value) {
    if (!name || !*name) {
        value = 0;
        return true;
    }
    for (const NamedEncoding& e : kNamedEncodings) {
        if (EqualsFolded(name, e.name)) {
            value = e.value;
            return true;
        }
    }
    const Char* p = name;
    if (FoldAscii(p[0]) == L'C' && FoldAscii(p[1]) == L'P') p += 2;
    if (!*p) return false;
    uint64_t number = 0;
    for (; *p; ++p) {
        if (*p < L'0' || *p > L'9') return false;
        number = number * 10 + uint64_t(*p - L'0');
        if (number > 0xFFFFFFFFu) return false;
    }
    if (!ValidEncodingValue(uint32_t(number))) return false;
    value = uint32_t(number);
    return true;
}

bool ValidEncodingValue(uint32_t value) {
    return value == 0 || value == kCodePageUtf16 || IsValidCodePage(value);
}

int FormatEncodingName(uint32_t value, Char* buffer) {
    for (const NamedEncoding& e : kNamedEncodings) {
        if (value == e.value) {
            int n = 0;
            for (const Char* s = e.name; *s; ++s) buffer[n++] = *s;
            buffer[n] = 0;
            return n;
        }
    }
    uint32_t codePage = EncodingCodePage(value);
    Char digits[10];
    int count = 0;
    do {
        digits[count++] = Char(L'0' + codePage % 10);
        codePage /= 10;
    } while (codePage);
    int n = 0;
    buffer[n++] = L'C';
    buffer[n++] = L'P';
    while (count) buffer[n++] = digits[--count];
    buffer[n] = 0;
    return n;
}

uint32_t AnsiCodePage() {
    static const uint32_t s_ansiCodePage = GetACP();
    return s_ansiCodePage;
}

}  // namespace brm
