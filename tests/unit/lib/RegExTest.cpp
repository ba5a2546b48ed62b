// The window title matcher and the pattern cache beneath it: positions, options, failures that must
// stay silent, and callouts that only continue.
#include <gtest/gtest.h>
#include <cwchar>
#include "lib/RegEx.h"

using namespace brm;

namespace {

int Find(const wchar_t* text, const wchar_t* needle) {
    return RegExFindInText(text, wcslen(text), needle, wcslen(needle));
}

}  // namespace

TEST(RegExFindInText, GivesTheFirstMatchPosition) {
    EXPECT_EQ(Find(L"Untitled - Notepad", L"Notepad$"), 12);
    EXPECT_EQ(Find(L"xyz", L"y"), 2);
    EXPECT_EQ(Find(L"xyz", L"^xyz$"), 1);
    EXPECT_EQ(Find(L"xyz", L"q"), 0);
    EXPECT_EQ(Find(L"", L""), 1);
}

TEST(RegExFindInText, HonoursTheOptionsPrefix) {
    EXPECT_EQ(Find(L"My Document", L"i)my doc"), 1);
    EXPECT_EQ(Find(L"My Document", L"my doc"), 0);
    EXPECT_EQ(Find(L"a)b", L"a\\)b"), 1);
}

TEST(RegExFindInText, APatternThatDoesNotCompileNeverMatches) {
    EXPECT_EQ(Find(L"abc)", L"abc)"), 0);
    EXPECT_EQ(Find(L"a", L"(?CName"), 0);
    const wchar_t lone[] = {L'a', 0xD800, 0};
    EXPECT_EQ(Find(L"a", lone), 0);
}

TEST(RegExFindInText, TextWithALoneSurrogateIsCheckedNotRead) {
    const wchar_t lone[] = {L'x', 0xDC00, L'y', 0};
    EXPECT_EQ(Find(lone, L"y"), 0);
    const wchar_t pair[] = {L'x', 0xD83D, 0xDE00, L'y', 0};
    EXPECT_EQ(Find(pair, L"x.y"), 1);
}

TEST(RegExFindInText, CalloutsOnlyContinue) {
    EXPECT_EQ(Find(L"abc", L"b(?C1)c"), 2);
    EXPECT_EQ(Find(L"abc", L"b(?CNamed)c"), 2);
    EXPECT_EQ(Find(L"abc", L"C)bc"), 2);
}

TEST(RegExFindInText, RunawayBacktrackingEndsAsNoMatch) {
    EXPECT_EQ(Find(L"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa!", L"(a+)+$"), 0);
}

TEST(RegExCache, ManyPatternsEvictAndRecompile) {
    wchar_t needle[32];
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 150; ++i) {
            swprintf(needle, 32, L"^p%d$", i);
            wchar_t text[32];
            swprintf(text, 32, L"p%d", i);
            ASSERT_EQ(Find(text, needle), 1) << i;
        }
}

TEST(RegExCache, AnEntryInUseOutlivesEviction) {
    CompiledRegEx* held = GetCompiledRegEx(L"(?<name>held)", 13, ReportErrors::No);
    ASSERT_NE(held, nullptr);
    wchar_t needle[32];
    for (int i = 0; i < 150; ++i) {
        swprintf(needle, 32, L"evict%d", i);
        Find(L"x", needle);
    }
    ASSERT_NE(held->groupNames, nullptr);
    EXPECT_STREQ(held->groupNames[1], L"name");
    EXPECT_EQ(held->groupCount, 1);
    held->Release();
}

TEST(RegExCache, NamedCalloutsGetPrivateNumbersAndPositionsMapBack) {
    const wchar_t needle[] = L"i)a(?CName)b(?C7:Other)c(?C)";
    CompiledRegEx* r = GetCompiledRegEx(needle, wcslen(needle), ReportErrors::No);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->prefixLength, 2);
    EXPECT_TRUE(r->mayCallOut);
    ASSERT_NE(r->callouts, nullptr);
    EXPECT_STREQ(r->callouts[1].name, L"Name");
    EXPECT_EQ(r->callouts[1].number, 0);
    EXPECT_STREQ(r->callouts[2].name, L"Other");
    EXPECT_EQ(r->callouts[2].number, 7);
    EXPECT_EQ(r->callouts[3].name, nullptr);
    // The engine sees "a(?C1)b(?C2)c(?C3)": b at 6 and c at 12 stand at 9 and 21 as written.
    EXPECT_EQ(r->OriginalPosition(0), 0);
    EXPECT_EQ(r->OriginalPosition(6), 9);
    EXPECT_EQ(r->OriginalPosition(12), 21);
    EXPECT_EQ(r->OriginalPosition(18), 26);
    r->Release();
}

TEST(RegExCache, NumberedCalloutsAloneAreNotRewritten) {
    const wchar_t needle[] = L"a(?C5)b[(?CX)]\\(?C";
    CompiledRegEx* r = GetCompiledRegEx(needle, wcslen(needle), ReportErrors::No);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->callouts, nullptr);  // "(?CX)" in a class and "\(?CY)" are no callouts
    EXPECT_EQ(r->OriginalPosition(6), 6);
    r->Release();
}
