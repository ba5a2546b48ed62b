// The YYYYMMDDHH24MISS parser.
#include "lib/Timestamp.h"
#include <cwchar>

namespace brm {

namespace {

constexpr ptrdiff_t kMinStampLength = 4;   // the year alone
constexpr ptrdiff_t kMaxStampLength = 14;  // down to the second

int Digits(const Char* p, int n) {
    int v = 0;
    for (int i = 0; i < n; ++i)
        v = v * 10 + (p[i] - L'0');
    return v;
}

}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int WeekdayOf(int year, int month, int day) {
    static constexpr int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 1 || month > 12)
        return 1;
    int y = month < 3 ? year - 1 : year;
    int w = (day + kOffsets[month - 1] + y + y / 4 - y / 100 + y / 400) % 7;
    return w < 0 ? w + 7 : w;
}

bool ParseTimestamp(const Char* text, SYSTEMTIME& out, ValidateTime validate, ptrdiff_t length) {
    if (length < 0)
        length = static_cast<ptrdiff_t>(wcslen(text));
    if (length < kMinStampLength || length > kMaxStampLength || (length & 1))
        return false;
    // Digits only: blanks, a sign or "0x", which a general numeric test would let through, cannot be
    // read as fields.
    for (ptrdiff_t i = 0; i < length; ++i)
        if (text[i] < L'0' || text[i] > L'9')
            return false;
    int fields[6] = {Digits(text, 4), 1, 1, 0, 0, 0};
    for (int f = 1; f < 6 && 4 + 2 * f <= length; ++f)
        fields[f] = Digits(text + 2 + 2 * f, 2);
    out.wYear = static_cast<WORD>(fields[0]);
    out.wMonth = static_cast<WORD>(fields[1]);
    out.wDay = static_cast<WORD>(fields[2]);
    out.wHour = static_cast<WORD>(fields[3]);
    out.wMinute = static_cast<WORD>(fields[4]);
    out.wSecond = static_cast<WORD>(fields[5]);
    out.wMilliseconds = 0;
    out.wDayOfWeek = static_cast<WORD>(WeekdayOf(fields[0], fields[1], fields[2]));
    if (validate == ValidateTime::Yes) {
        // SystemTimeToFileTime under some hosts takes 29 February of any year; the month's length is
        // checked here so that every host refuses the same dates.
        if (fields[1] >= 1 && fields[1] <= 12 && fields[2] > DaysInMonth(fields[0], fields[1]))
            return false;
        FILETIME ft;
        if (!SystemTimeToFileTime(&out, &ft))
            return false;
    }
    return true;
}

int DayOfYear(const SYSTEMTIME& st) {
    int day = st.wDay;
    // A month outside 1 to 12 (the stamp is not validated) counts the whole months it passes.
    for (int m = 1; m < st.wMonth && m <= 12; ++m)
        day += DaysInMonth(st.wYear, m);
    return day;
}

// Weeks of an ISO 8601 week-numbering year: 53 when it starts on a Thursday, or on a Wednesday in a leap year.
static int IsoWeeksIn(int year) {
    auto p = [](int y) { return (y + y / 4 - y / 100 + y / 400) % 7; };
    return p(year) == 4 || p(year - 1) == 3 ? 53 : 52;
}

void IsoWeek(const SYSTEMTIME& st, int& year, int& week) {
    int isoWeekday = st.wDayOfWeek == 0 ? 7 : st.wDayOfWeek;  // Monday 1 to Sunday 7
    year = st.wYear;
    week = (DayOfYear(st) - isoWeekday + 10) / 7;
    if (week < 1) {
        --year;
        week = IsoWeeksIn(year);
    } else if (week > IsoWeeksIn(year)) {
        ++year;
        week = 1;
    }
}

}  // namespace brm
