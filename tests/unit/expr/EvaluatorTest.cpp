// Operator semantics, evaluated without the executor.
#include <gtest/gtest.h>
#include "ExprTestSupport.h"

namespace brm::test {
namespace {

struct Case {
    const wchar_t* text;
    const wchar_t* value;  // expected text, or the error message when error is set
    bool error = false;
};

void Check(const Case& c) {
    Evaluated e = EvaluateText(c.text);
    EXPECT_TRUE(e.compileError.empty()) << c.text << L" → " << e.compileError;
    if (c.error) {
        EXPECT_FALSE(e.ok) << c.text << L" gave " << e.value;
        EXPECT_EQ(e.error, c.value) << c.text;
    } else {
        EXPECT_TRUE(e.ok) << c.text << L" → " << e.error;
        EXPECT_EQ(e.value, c.value) << c.text;
    }
}

TEST(EvaluatorTest, Comparisons) {
    Case cases[] = {
        {L"\"10\" = 10.0", L"1"},   {L"\"10\" = \"10.0\"", L"0"}, {L"\"abc\" = \"ABC\"", L"1"},
        {L"\"abc\" == \"ABC\"", L"0"}, {L"\"abc\" != \"ABC\"", L"0"}, {L"\"abc\" !== \"ABC\"", L"1"},
        {L"\"10\" < \"9\"", L"0"},  {L"1 = 1 && 2 > 1", L"1"},
        {L"\"abc\" < \"abd\"", L"Expected a Number but got a String.", true},
        {L"\"\xC4\" = \"\xE4\"", L"0"},
    };
    for (const Case& c : cases)
        Check(c);
}

TEST(EvaluatorTest, Arithmetic) {
    Case cases[] = {
        {L"7 // 2", L"3"},
        {L"-7 // 2", L"-3"},
        {L"7 // 2.0", L"Expected an Integer but got a Float.", true},
        {L"7 / 2", L"3.5"},
        {L"6 / 3", L"2.0"},
        {L"1 / 0", L"Divide by zero.", true},
        {L"1 // 0", L"Divide by zero.", true},
        {L"2 ** 63", L"-9223372036854775808"},
        {L"2 ** -1", L"0.5"},
        {L"(-2) ** 3", L"-8"},
        {L"-2 ** 2", L"-4"},
        {L"(-8) ** (1/3)", L"Error evaluating expression.", true},
        {L"0 ** 0", L"Error evaluating expression.", true},
        {L"0 ** -1", L"Divide by zero.", true},
        {L"1 << 64", L"Error evaluating expression.", true},
        {L"-1 >>> 60", L"15"},
        {L"-16 >> 2", L"-4"},
        {L"9223372036854775807 + 1", L"-9223372036854775808"},
        {L"-9223372036854775808 // -1", L"-9223372036854775808"},
        {L"-(-9223372036854775808)", L"-9223372036854775808"},
        {L"(h := \"0x10\", h + 0)", L"16"},
        {L"0.1 + 0.2", L"0.30000000000000004"},
        {L"~5", L"-6"},
        {L"~1.5", L"Expected a Number but got a Float.", true},
        {L"-\"5\"", L"-5"},
        {L"-\"abc\"", L"Expected a Number but got a String.", true},
        {L"(a := \"a\", a * 2)", L"Expected a Number but got a String.", true},
        {L"!0 . !1", L"10"},
    };
    for (const Case& c : cases)
        Check(c);
}

TEST(EvaluatorTest, LogicAssignmentAndConcatenation) {
    Case cases[] = {
        {L"\"\" || \"abc\"", L"abc"},
        {L"0 && neverCalled()", L"0"},
        {L"neverAssigned ?? 5", L"5"},
        {L"(q := 7, q ?? 5)", L"7"},
        {L"0 ? 1 : 0 ? 2 : 3", L"3"},
        {L"1 ? \"y\" : \"n\"", L"y"},
        {L"(x := 5, x++)", L"5"},
        {L"(x := 5, x++, x)", L"6"},
        {L"(x := \"5\", x++, Type(x))", L"Integer"},
        {L"(x := 1, x += 2, x *= 10, x)", L"30"},
        {L"(s := \"ab\", s .= \"cd\", s)", L"abcd"},
        {L"(n := 1, n /= 4)", L"0.25"},
        {L"\"a\" . 1.5", L"a1.5"},
        {L"1 . 2", L"12"},
        {L"Chr(65) Ord(\"A\")", L"A65"},
        {L"(i := 2, x2 := \"two\", x%i%)", L"two"},
        {L"(ab := 3, %\"a\" \"b\"%)", L"3"},
        {L"IsSet(neverAssigned2) . IsSet(x)", L"01"},
        {L"unsetRead + 1", L"This global variable has not been assigned a value.", true},
        {L"%\"\"%", L"This dynamic variable is blank.", true},
        {L"%\"noSuchVariableAnywhere\"%", L"Variable not found.", true},
        {L"a_tab = A_Tab", L"1"},
        {L"(v := 1, v.Length)", L"This value of type \"Integer\" has no property named \"Length\".", true},
        {L"(v := 1, v())", L"This value of type \"Integer\" has no method named \"Call\".", true},
    };
    for (const Case& c : cases)
        Check(c);
}

TEST(EvaluatorTest, BuiltInFunctions) {
    Case cases[] = {
        {L"Mod(7, 3)", L"1"},
        {L"Mod(-7, 3)", L"-1"},
        {L"Mod(7.5, 2)", L"1.5"},
        {L"Mod(-9223372036854775808, -1)", L"0"},
        {L"Mod(7, 0)", L"Divide by zero.", true},
        {L"Mod(\"x\", 2)", L"Invalid parameter(s).", true},
        {L"StrLen(\"abc\")", L"3"},
        {L"SubStr(\"hello\", 2, 3)", L"ell"},
        {L"SubStr(\"hello\", -2)", L"lo"},
        {L"SubStr(\"hello\", 2, -1)", L"ell"},
        {L"InStr(\"abcabc\", \"C\")", L"3"},
        {L"InStr(\"abcabc\", \"C\", true)", L"0"},
        {L"InStr(\"abcabc\", \"c\", , -1)", L"6"},
        {L"InStr(\"abcabc\", \"b\", , 1, 2)", L"5"},
        {L"Abs(-3)", L"3"},
        {L"Round(2.5)", L"3"},
        {L"Round(3.14159, 2)", L"3.14"},
        {L"Round(1234, -2)", L"1200"},
        {L"Floor(-1.5) . Ceil(1.2)", L"-22"},
        {L"Max(1, 2.5, 2)", L"2.5"},
        {L"Min(3, 1)", L"1"},
        {L"Type(1.0) Type(1) Type(\"\")", L"FloatIntegerString"},
        {L"Integer(\"1.9\") + Float(\"0x10\")", L"17.0"},
        {L"StrUpper(\"abc\") StrLower(\"DEF\")", L"ABCdef"},
        {L"(f := Mod, f(9, 5))", L"4"},
    };
    for (const Case& c : cases)
        Check(c);
}

TEST(EvaluatorTest, TablesAreSorted) {
    EXPECT_TRUE(BuiltInFuncTableIsSorted());
}

}  // namespace
}  // namespace brm::test
