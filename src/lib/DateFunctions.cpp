// FormatTime, DateAdd and DateDiff: date-times as YYYYMMDDHH24MISS stamps, rendered through the system's
// date and time formatting calls (GetDateFormatW, GetTimeFormatW) and computed on FILETIMEs.
#include "lib/DateFunctions.h"
#include <windows.h>

#include <cmath>
#include <cstdlib>
#include <cwchar>
#include "base/SortedTable.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "lib/StringFunctions.h"
#include "lib/Timestamp.h"

namespace brm {

namespace {

constexpr size_t kMaxFormatChars = 2000;     // a longer FormatTime format is refused
constexpr size_t kMaxStampArgChars = 255;    // of the first FormatTime argument, only this much is read
// Each system call writes into this much; a picture made from a 2000-character format fits too, since
// the conversion adds at most one quote per character.
constexpr int kPartChars = 4010;
constexpr int64_t kTicksPerSecond = 10000000;  // FILETIME counts 100-nanosecond intervals
// Seconds beyond which no FILETIME lies (2^63 ticks): larger offsets cannot give a representable date.
constexpr double kMaxOffsetSeconds = 922337203685.0;

inline bool IsBlank(Char c) { return c == L' ' || c == L'\t'; }


struct TimeOptions {
    LCID locale = LOCALE_USER_DEFAULT;
    DWORD dateFlags = 0, timeFlags = 0;
    bool dateGiven = false, timeGiven = false, reverse = false;
};

void ParseTimeOptions(const Char* p, TimeOptions& o) {
    for (;;) {
        while (IsBlank(*p))
            ++p;
        if (!*p)
            return;
        const Char* word = p;
        while (*p && !IsBlank(*p))
            ++p;
        Char rest[kScratchChars];
        size_t n = static_cast<size_t>(p - word) - 1;
        if (n >= kScratchChars)
            n = kScratchChars - 1;
        wmemcpy(rest, word + 1, n);
        rest[n] = 0;
        switch (*word | 0x20) {
        case L'd':
            o.dateFlags |= static_cast<DWORD>(ParseInt64(rest));
            o.dateGiven = true;
            break;
        case L't':
            o.timeFlags |= static_cast<DWORD>(ParseInt64(rest));
            o.timeGiven = true;
            break;
        case L'l':
            o.locale = CompareFoldAZ(rest, n, L"Sys", 3) == 0 ? LOCALE_SYSTEM_DEFAULT : static_cast<LCID>(ParseInt64(rest));
            break;
        case L'r': o.reverse = true; break;
        }
    }
}

// The length a system call wrote (without its terminator); 0 when it failed.
int Written(int returned) { return returned > 0 ? returned - 1 : 0; }

// Wine's GetDateFormatW rolls a day past the month's end (29 February 2023) into the next month where the
// system refuses the date; refusing it here gives the same empty part on every host.
int DatePart(const TimeOptions& o, DWORD flags, const SYSTEMTIME& st, const Char* picture, Char* out, int room) {
    if (st.wDay < 1 || st.wDay > DaysInMonth(st.wYear, st.wMonth))
        return 0;
    return Written(GetDateFormatW(o.locale, flags, &st, picture, out, room));
}

int TimePart(const TimeOptions& o, DWORD flags, const SYSTEMTIME& st, const Char* picture, Char* out, int room) {
    return Written(GetTimeFormatW(o.locale, flags, &st, picture, out, room));
}

bool Is(const Char* text, size_t length, const Char* word) { return CompareFoldAZ(text, length, word, wcslen(word)) == 0; }

inline bool IsDateLetter(Char c) { return c && wcschr(L"dMyg", c); }
inline bool IsTimeLetter(Char c) { return c && wcschr(L"hHmst", c); }

enum class PictureKind { None, Date, Time };

// Turns a user's format into system pictures: literal runs are quoted, the user's own quotes are kept, and
// the picture is split where letters of the other kind begin (a date call cannot render time fields, nor
// the reverse). Returns the split offset into picture (the second picture starts there), or -1.
ptrdiff_t MakePictures(const Char* format, Char* picture, PictureKind& first) {
    bool q = false, u = false;
    first = PictureKind::None;
    ptrdiff_t split = -1;
    Char* w = picture;
    for (const Char* p = format; *p; ++p) {
        Char c = *p;
        if (c == L'\'') {
            if (q) {
                q = false;
                u = true;
            } else if (u) {
                Char next = p[1];
                u = false;
                if (!next || IsCharAlphaNumericW(next) || next == L'\'')
                    *w++ = L'\'';
                else
                    q = true;  // the open quote carries on over the literal characters that follow
            } else {
                *w++ = L'\'';
                u = true;
            }
        } else if (u) {
            *w++ = c;
        } else if (IsCharAlphaNumericW(c)) {
            if (q) {
                *w++ = L'\'';
                q = false;
            }
            PictureKind kind = IsDateLetter(c) ? PictureKind::Date : IsTimeLetter(c) ? PictureKind::Time : PictureKind::None;
            if (kind != PictureKind::None) {
                if (first == PictureKind::None)
                    first = kind;
                else if (kind != first && split < 0) {
                    *w++ = 0;
                    split = w - picture;
                }
            }
            *w++ = c;
        } else {
            if (!q) {
                *w++ = L'\'';
                q = true;
            }
            *w++ = c;
        }
    }
    if (q)
        *w++ = L'\'';
    *w = 0;
    return split;
}

// Decimal digits of a non-negative value, zero-padded to at least width; returns the count written.
int PutDigits(Char* out, int value, int width) {
    return static_cast<int>(PutPaddedDecimal(out, static_cast<uint32_t>(value), width) - out);
}


bool StampToFileTime(const Char* text, ULARGE_INTEGER& ticks) {
    SYSTEMTIME st;
    FILETIME ft;
    // Validating: the parser also refuses a day past the month's end, which Wine's SystemTimeToFileTime
    // would roll into the next month.
    if (!ParseTimestamp(text, st, ValidateTime::Yes) || !SystemTimeToFileTime(&st, &ft))
        return false;
    ticks.LowPart = ft.dwLowDateTime;
    ticks.HighPart = ft.dwHighDateTime;
    return true;
}

// Seconds per unit of "Days", "Hours", "Minutes" or "Seconds" (the first letter decides); 0 for others.
int64_t UnitSeconds(const Char* units) {
    switch (*units | 0x20) {
    case L'd': return 86400;
    case L'h': return 3600;
    case L'm': return 60;
    case L's': return 1;
    default: return 0;
    }
}

}  // namespace

Status BifFormatTime(CallResult& result, ValueToken** params, int count) {
    Char formatScratch[kScratchChars], stampScratch[kScratchChars];
    const Char* format = L"";
    if (count > 1 && TokenKind(*params[1]) != SymMissing) {
        if (TokenKind(*params[1]) == SymObject)
            return RaiseParamTypeError(1, L"String", *params[1]);
        format = TokenToString(*params[1], formatScratch);
        if (wcslen(format) > kMaxFormatChars)
            return RaiseParamError(1, *params[1]);
    }
    const Char* arg = L"";
    if (count > 0 && TokenKind(*params[0]) != SymMissing) {
        if (TokenKind(*params[0]) == SymObject)
            return RaiseParamTypeError(0, L"String", *params[0]);
        arg = TokenToString(*params[0], stampScratch);
    }
    while (IsBlank(*arg))
        ++arg;
    Char stamp[kMaxStampArgChars + 1];
    size_t argLength = wcslen(arg);
    if (argLength > kMaxStampArgChars)
        argLength = kMaxStampArgChars;
    wmemcpy(stamp, arg, argLength);
    stamp[argLength] = 0;

    SYSTEMTIME st;
    TimeOptions options;
    if (*stamp >= L'0' && *stamp <= L'9') {
        Char* end = stamp;
        while (*end && !IsBlank(*end))
            ++end;
        Char* optionText = end;
        if (*end)
            *optionText++ = 0;
        if (!ParseTimestamp(stamp, st, ValidateTime::No))
            return RaiseParamError(0, *params[0]);
        ParseTimeOptions(optionText, options);
    } else {
        GetLocalTime(&st);
        ParseTimeOptions(stamp, options);
    }

    while (IsBlank(*format))
        ++format;
    size_t formatLength = wcslen(format);
    Char out[2 * kPartChars];
    int n = 0;
    DWORD dateFlags = options.dateFlags, timeFlags = options.timeFlags;
    if (!formatLength) {
        DWORD tf = timeFlags | (options.timeGiven ? 0 : TIME_NOSECONDS);
        DWORD df = dateFlags | (options.dateGiven ? 0 : DATE_LONGDATE);
        if (options.reverse) {
            n = DatePart(options, df, st, nullptr, out, kPartChars);
            out[n++] = L' ';
            n += TimePart(options, tf, st, nullptr, out + n, kPartChars);
        } else {
            n = TimePart(options, tf, st, nullptr, out, kPartChars);
            out[n++] = L' ';
            n += DatePart(options, df, st, nullptr, out + n, kPartChars);
        }
    } else if (Is(format, formatLength, L"YWeek")) {
        int year, week;
        IsoWeek(st, year, week);
        n = PutDigits(out, year, 4);
        n += PutDigits(out + n, week, 2);
    } else if (Is(format, formatLength, L"YDay")) {
        n = PutDigits(out, DayOfYear(st), 1);
    } else if (Is(format, formatLength, L"YDay0")) {
        n = PutDigits(out, DayOfYear(st), 3);
    } else if (Is(format, formatLength, L"WDay")) {
        out[0] = static_cast<Char>(L'1' + st.wDayOfWeek % 7);
        n = 1;
    } else if (Is(format, formatLength, L"ShortDate")) {
        n = DatePart(options, (dateFlags & ~DWORD{DATE_LONGDATE | DATE_YEARMONTH}) | DATE_SHORTDATE, st, nullptr, out, kPartChars);
    } else if (Is(format, formatLength, L"LongDate")) {
        n = DatePart(options, (dateFlags & ~DWORD{DATE_SHORTDATE | DATE_YEARMONTH}) | DATE_LONGDATE, st, nullptr, out, kPartChars);
    } else if (Is(format, formatLength, L"YearMonth")) {
        n = DatePart(options, (dateFlags & ~DWORD{DATE_SHORTDATE | DATE_LONGDATE}) | DATE_YEARMONTH, st, nullptr, out, kPartChars);
    } else if (Is(format, formatLength, L"Time")) {
        n = TimePart(options, timeFlags | (options.timeGiven ? 0 : TIME_NOSECONDS), st, nullptr, out, kPartChars);
    } else {
        Char picture[kPartChars];
        PictureKind first;
        ptrdiff_t split = MakePictures(format, picture, first);
        bool timeFirst = first == PictureKind::Time;
        n = timeFirst ? TimePart(options, timeFlags, st, picture, out, kPartChars)
                      : DatePart(options, dateFlags, st, picture, out, kPartChars);
        if (split >= 0)
            n += timeFirst ? DatePart(options, dateFlags, st, picture + split, out + n, kPartChars)
                           : TimePart(options, timeFlags, st, picture + split, out + n, kPartChars);
    }
    return SetResultText(result, out, static_cast<size_t>(n));
}

FResult BifDateAdd(const Char* dateTime, double time, const Char* units, StrRet ret) {
    ULARGE_INTEGER ticks;
    if (!StampToFileTime(dateTime, ticks))
        return FrParam(0);
    int64_t perUnit = UnitSeconds(units);
    if (!perUnit)
        return FrParam(2);
    double seconds = std::trunc(time * static_cast<double>(perUnit));
    // A date outside what a stamp can hold is an error, not a quietly wrong or empty result.
    if (!(std::fabs(seconds) < kMaxOffsetSeconds))
        return FrParam(1);
    int64_t sum = static_cast<int64_t>(ticks.QuadPart) + static_cast<int64_t>(seconds) * kTicksPerSecond;
    SYSTEMTIME st;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(sum));
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(sum) >> 32);
    if (sum < 0 || !FileTimeToSystemTime(&ft, &st) || st.wYear > 9999)
        return FrParam(1);
    Char text[kScratchChars];
    int n = PutDigits(text, st.wYear, 4);
    for (WORD field : {st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond})
        n += PutDigits(text + n, field, 2);
    return ret.Set(text, static_cast<size_t>(n)) ? FrOk : FrOutOfMemory;
}

FResult BifDateDiff(const Char* dateTime1, const Char* dateTime2, const Char* units, ValueRet ret) {
    ULARGE_INTEGER t[2];
    const Char* stamps[2] = {dateTime1, dateTime2};
    for (int i = 1; i >= 0; --i) {  // the second stamp is examined first
        if (!*stamps[i]) {
            FILETIME now, local;
            GetSystemTimeAsFileTime(&now);
            FileTimeToLocalFileTime(&now, &local);
            t[i].LowPart = local.dwLowDateTime;
            t[i].HighPart = local.dwHighDateTime;
        } else if (!StampToFileTime(stamps[i], t[i])) {
            return FrParam(i);
        }
    }
    int64_t perUnit = UnitSeconds(units);
    if (!perUnit)
        return FrParam(2);
    int64_t seconds = static_cast<int64_t>(t[0].QuadPart - t[1].QuadPart) / kTicksPerSecond;
    ret.result->value.SetInteger(seconds / perUnit);
    return FrOk;
}

}  // namespace brm
