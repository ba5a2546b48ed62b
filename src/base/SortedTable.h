// Static tables sorted by name in A-to-Z-folded order (built-in functions, variables, members):
// the one comparison, the compile-time order check and the binary search they all use.
#pragma once
#include <cstddef>
#include <cwchar>
#include "expr/ValueToken.h"

namespace brm {

// Case-insensitive comparison folding only A-Z, as the tables are sorted; negative, 0 or positive.
constexpr int CompareFoldAZ(const Char* a, size_t aLength, const Char* b, size_t bLength) {
    size_t n = aLength < bLength ? aLength : bLength;
    for (size_t i = 0; i < n; ++i) {
        Char ca = a[i], cb = b[i];
        if (ca >= L'A' && ca <= L'Z') ca = static_cast<Char>(ca + 32);
        if (cb >= L'A' && cb <= L'Z') cb = static_cast<Char>(cb + 32);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return aLength == bLength ? 0 : (aLength < bLength ? -1 : 1);
}

// The same fold for terminated text: at most n characters (as the C library's caseless comparisons,
// which under this runtime consult the locale on every call and cost far more than the comparison).
inline int CompareFoldAZ(const Char* a, const Char* b, size_t n = static_cast<size_t>(-1)) {
    for (size_t i = 0; i < n; ++i) {
        Char ca = a[i], cb = b[i];
        if (ca >= L'A' && ca <= L'Z') ca = static_cast<Char>(ca + 32);
        if (cb >= L'A' && cb <= L'Z') cb = static_cast<Char>(cb + 32);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (!ca) return 0;
    }
    return 0;
}

constexpr size_t ConstLength(const Char* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

// For a static_assert: every row's `name` sorts strictly after the one before it.
template <class Row, size_t N>
constexpr bool IsSortedByName(const Row (&rows)[N]) {
    for (size_t i = 1; i < N; ++i)
        if (CompareFoldAZ(rows[i - 1].name, ConstLength(rows[i - 1].name), rows[i].name, ConstLength(rows[i].name)) >= 0)
            return false;
    return true;
}

// Binary search by name (length characters, not necessarily terminated); null when absent.
template <class Row, size_t N>
const Row* FindByName(const Row (&rows)[N], const Char* name, size_t length) {
    size_t lo = 0, hi = N;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        int c = CompareFoldAZ(name, length, rows[mid].name, wcslen(rows[mid].name));
        if (c == 0) return &rows[mid];
        if (c < 0) hi = mid;
        else lo = mid + 1;
    }
    return nullptr;
}

}  // namespace brm
