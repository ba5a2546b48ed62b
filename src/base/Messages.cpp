// The message table's texts, generated from the one list.
#include "base/Messages.h"

namespace brm {

static const Char* const s_messageTexts[] = {
#define BRM_MSG_TEXT(name, text) text,
    BRM_MESSAGES(BRM_MSG_TEXT)
#undef BRM_MSG_TEXT
};

const Char* MessageText(Msg id) { return s_messageTexts[static_cast<int>(id)]; }

}  // namespace brm

namespace brm {

size_t FormatMessageTextV(Char* buffer, size_t capacity, const Char* format, va_list args) {
    if (capacity == 0) return 0;
    size_t n = 0;
    auto put = [&](Char c) { if (n + 1 < capacity) buffer[n++] = c; };
    auto putNumber = [&](uint64_t v, bool negative, unsigned base, bool upper) {
        Char digits[24];
        int d = 0;
        do {
            unsigned digit = static_cast<unsigned>(v % base);
            digits[d++] = static_cast<Char>(digit < 10 ? L'0' + digit : (upper ? L'A' : L'a') + digit - 10);
            v /= base;
        } while (v);
        if (negative) put(L'-');
        while (d) put(digits[--d]);
    };
    for (const Char* p = format; *p; ++p) {
        if (*p != L'%') { put(*p); continue; }
        ++p;
        bool wide64 = false;
        if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') { wide64 = true; p += 3; }
        switch (*p) {
            case L's': {
                const Char* s = va_arg(args, const Char*);
                for (s = s ? s : L""; *s; ++s) put(*s);
                break;
            }
            case L'c': put(static_cast<Char>(va_arg(args, int))); break;
            case L'd':
            case L'i': {
                int64_t v = wide64 ? va_arg(args, int64_t) : va_arg(args, int);
                putNumber(v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v), v < 0, 10, false);
                break;
            }
            case L'u': putNumber(wide64 ? va_arg(args, uint64_t) : va_arg(args, unsigned), false, 10, false); break;
            case L'x':
            case L'X': putNumber(wide64 ? va_arg(args, uint64_t) : va_arg(args, unsigned), false, 16, *p == L'X'); break;
            case L'%': put(L'%'); break;
            case L'\0': --p; break;
            default: put(L'%'); put(*p); break;
        }
    }
    buffer[n] = L'\0';
    return n;
}

size_t FormatMessageText(Char* buffer, size_t capacity, const Char* format, ...) {
    va_list args;
    va_start(args, format);
    size_t n = FormatMessageTextV(buffer, capacity, format, args);
    va_end(args);
    return n;
}

}  // namespace brm
