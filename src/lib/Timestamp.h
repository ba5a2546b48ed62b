// Date-time stamps written YYYYMMDDHH24MISS: the parser shared by the type test IsTime and the date
// functions.
#pragma once
#include <windows.h>
#include <cstddef>
#include "expr/ValueToken.h"

namespace brm {

enum class ValidateTime : int { No, Yes };

// 4 to 14 digits, an even number of them: the year, then as far as the text reaches two digits each for
// month (default 1), day (default 1), hour, minute and second (default 0); milliseconds 0. wDayOfWeek is
// computed for months 1 to 12 (0 = Sunday) and is 1 for any other month. With ValidateTime::Yes the
// result must also be a time SystemTimeToFileTime accepts. False (out unspecified) when the text is not
// a stamp. length -1: text is NUL-terminated.
bool ParseTimestamp(const Char* text, SYSTEMTIME& out, ValidateTime validate = ValidateTime::No,
                    ptrdiff_t length = -1);

// The Gregorian calendar's rules; DaysInMonth is 0 for a month outside 1 to 12.
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// The day of the week (0 = Sunday) of a date in the proleptic Gregorian calendar; 1 for a month outside
// 1 to 12.
int WeekdayOf(int year, int month, int day);

// 1 to 366; a month outside 1 to 12 (a stamp that was not validated) counts the whole months it passes.
int DayOfYear(const SYSTEMTIME& st);
// The ISO 8601 week (weeks start on Monday; week 1 holds the year's first Thursday) and its year.
void IsoWeek(const SYSTEMTIME& st, int& year, int& week);

}  // namespace brm
