// The comparison modes and the timestamp parser that the string, sort and date functions share.
#include <gtest/gtest.h>
#include <cwchar>
#include "lib/StringCompare.h"
#include "lib/Timestamp.h"

using namespace brm;

namespace {

int Sign(int n) { return n < 0 ? -1 : n > 0 ? 1 : 0; }

int Compare(const Char* a, const Char* b, CaseMode mode) { return CompareText(a, wcslen(a), b, wcslen(b), mode); }

ptrdiff_t Find(const Char* hay, const Char* needle, CaseMode mode, size_t from = 0) {
    return FindText(hay, wcslen(hay), from, needle, wcslen(needle), mode);
}

}  // namespace

TEST(StringCompare, ClassifiesOptionValues) {
    struct Case {
        const Char* text;
        CaseMode mode;
    } cases[] = {
        {L"On", CaseMode::On}, {L"on", CaseMode::On}, {L"1", CaseMode::On}, {L"Off", CaseMode::Off},
        {L"OFF", CaseMode::Off}, {L"0", CaseMode::Off}, {L"", CaseMode::Off}, {L"Locale", CaseMode::Locale},
        {L"lOcAlE", CaseMode::Locale}, {L"Logical", CaseMode::Logical}, {L"2", CaseMode::Invalid},
        {L"On ", CaseMode::Invalid}, {L"01", CaseMode::Invalid}, {L"true", CaseMode::Invalid},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseCaseModeText(c.text, wcslen(c.text)), c.mode) << c.text;
    ValueToken t{};
    t.SetInteger(1);
    EXPECT_EQ(ParseCaseMode(t), CaseMode::On);
    t.SetInteger(0);
    EXPECT_EQ(ParseCaseMode(t), CaseMode::Off);
    t.SetInteger(2);
    EXPECT_EQ(ParseCaseMode(t), CaseMode::Invalid);
    t.SetFloat(1.0);
    EXPECT_EQ(ParseCaseMode(t), CaseMode::Invalid);
    t.SetString(L"Locale");
    EXPECT_EQ(ParseCaseMode(t), CaseMode::Locale);
    t.SetMissing();
    EXPECT_EQ(ParseCaseMode(t), CaseMode::Off);
}

TEST(StringCompare, ComparesInEachMode) {
    EXPECT_EQ(Sign(Compare(L"a", L"B", CaseMode::Off)), -1);
    EXPECT_EQ(Compare(L"a", L"B", CaseMode::On), 1);
    EXPECT_EQ(Compare(L"B", L"a", CaseMode::On), -1);
    EXPECT_EQ(Compare(L"abc", L"ABC", CaseMode::Off), 0);
    EXPECT_EQ(Sign(Compare(L"[", L"A", CaseMode::Off)), -1);  // A-Z fold to lower case, as _wcsicmp
    EXPECT_EQ(Sign(Compare(L"\u00e9", L"\u00c9", CaseMode::Off)), 1);  // only A-Z fold
    EXPECT_EQ(Compare(L"\u00e9", L"\u00c9", CaseMode::Locale), 0);
    EXPECT_EQ(Sign(Compare(L"file10", L"file9", CaseMode::Logical)), 1);
    EXPECT_EQ(Sign(Compare(L"file10", L"file9", CaseMode::On)), -1);
    EXPECT_EQ(Sign(Compare(L"ab", L"abc", CaseMode::Off)), -1);
    EXPECT_EQ(Compare(L"abc", L"ab", CaseMode::On), 1);
    const Char withNul[] = {L'a', 0, L'b'};
    EXPECT_EQ(CompareText(withNul, 3, L"a", 1, CaseMode::On), 1);  // lengths bound the texts
}

TEST(StringCompare, FindsAcrossBlocks) {
    const Char* hay = L"0123456789abcdefABCDEF_xyzXYZ";
    EXPECT_EQ(Find(hay, L"xyz", CaseMode::Off), 23);
    EXPECT_EQ(Find(hay, L"XYZ", CaseMode::On), 26);
    EXPECT_EQ(Find(hay, L"XYZ", CaseMode::Off, 24), 26);
    EXPECT_EQ(Find(hay, L"F_x", CaseMode::On), 21);
    EXPECT_EQ(Find(hay, L"f_X", CaseMode::Off), 21);
    EXPECT_EQ(Find(hay, L"_", CaseMode::Off), 22);
    EXPECT_EQ(Find(hay, L"\x7f", CaseMode::Off), -1);  // '_' | 0x20 is DEL: no false match
    EXPECT_EQ(Find(hay, L"Z", CaseMode::On), 28);
    EXPECT_EQ(Find(hay, L"z", CaseMode::On, 26), -1);
    EXPECT_EQ(Find(hay, L"xyzXYZ!", CaseMode::Off), -1);
    EXPECT_EQ(Find(L"\u00c9x", L"\u00e9", CaseMode::Off), -1);
    EXPECT_EQ(Find(L"\u00c9x", L"\u00e9", CaseMode::Locale), 0);
    EXPECT_EQ(FindTextBackward(L"abcabc", 6, L"bc", 2, CaseMode::On), 4);
    EXPECT_EQ(FindTextBackward(L"abcabc", 5, L"bc", 2, CaseMode::On), 1);
    EXPECT_EQ(FindTextBackward(L"abcabc", 1, L"bc", 2, CaseMode::On), -1);
}

TEST(Timestamp, ParsesFieldsAndDefaults) {
    SYSTEMTIME st;
    ASSERT_TRUE(ParseTimestamp(L"20230415", st));
    EXPECT_EQ(st.wYear, 2023);
    EXPECT_EQ(st.wMonth, 4);
    EXPECT_EQ(st.wDay, 15);
    EXPECT_EQ(st.wHour, 0);
    EXPECT_EQ(st.wDayOfWeek, 6);  // a Saturday
    ASSERT_TRUE(ParseTimestamp(L"2024", st));
    EXPECT_EQ(st.wMonth, 1);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wDayOfWeek, 1);  // 1 January 2024, a Monday
    ASSERT_TRUE(ParseTimestamp(L"19991231235958", st));
    EXPECT_EQ(st.wHour, 23);
    EXPECT_EQ(st.wMinute, 59);
    EXPECT_EQ(st.wSecond, 58);
    EXPECT_EQ(st.wDayOfWeek, 5);
    ASSERT_TRUE(ParseTimestamp(L"20231345", st));  // not validated: the fields as written
    EXPECT_EQ(st.wMonth, 13);
    EXPECT_EQ(st.wDayOfWeek, 1);
    EXPECT_FALSE(ParseTimestamp(L"20231345", st, ValidateTime::Yes));
    EXPECT_FALSE(ParseTimestamp(L"20230229", st, ValidateTime::Yes));
    EXPECT_TRUE(ParseTimestamp(L"20240229", st, ValidateTime::Yes));
    EXPECT_FALSE(ParseTimestamp(L"202", st));
    EXPECT_FALSE(ParseTimestamp(L"20231", st));
    EXPECT_FALSE(ParseTimestamp(L"202301011200001", st));
    EXPECT_FALSE(ParseTimestamp(L" 2023", st));
    EXPECT_FALSE(ParseTimestamp(L"0x20", st));
    EXPECT_TRUE(ParseTimestamp(L"2023010199", st, ValidateTime::No, 8));  // the length bounds the text
    EXPECT_EQ(st.wHour, 0);
    EXPECT_EQ(WeekdayOf(2000, 2, 29), 2);
    EXPECT_EQ(DaysInMonth(1900, 2), 28);
    EXPECT_EQ(DaysInMonth(2000, 2), 29);
}
