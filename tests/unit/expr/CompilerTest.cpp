// Postfix order, call-site records and every compiler error message.
#include <gtest/gtest.h>
#include "ExprTestSupport.h"

namespace brm::test {
namespace {

TEST(CompilerTest, OperatorTablesFollowTheSymbolList) {
    EXPECT_EQ(SymPostIncrement, 9u);
    EXPECT_EQ(SymCall, 70u);
    EXPECT_EQ(SymReserved, 72u);
    EXPECT_EQ(OperatorPrecedence(SymPower), 73);
    EXPECT_EQ(OperatorPrecedence(SymDynamicConcat), 4);
    EXPECT_EQ(OperatorPrecedence(71), 0);
    EXPECT_EQ(OperatorPrecedence(SymEnd), 0);
    EXPECT_STREQ(OperatorText(SymShiftRightLogicalAssign), L">>>=");
    EXPECT_EQ(OperatorKind(SymCoalesce), OpKind::Jump);
}

TEST(CompilerTest, PostfixOrder) {
    struct Case {
        const wchar_t* text;
        const wchar_t* postfix;
    } cases[] = {
        {L"1 + 2 * 3", L"1 2 3 Multiply Add"},
        {L"(1 + 2) * 3", L"1 2 Add 3 Multiply"},
        {L"2 ** 3 ** 2", L"2 3 2 Power Power"},
        {L"-2**2", L"2 2 Power Negate"},
        {L"(-2)**2", L"-2 2 Power"},
        {L"2 ** -1", L"2 -1 Power"},
        {L"x := -5", L"x#4 -5 Assign"},
        {L"a := b := 1", L"a#4 b#4 1 Assign Assign"},
        {L"not a = b", L"a b Equal Not"},
        {L"!a = b", L"a LogicalNot b Equal"},
        {L"a || b || c", L"a Or@4 b Or@4 c"},
        {L"a ? b : c", L"a Question@3 b Colon@4 c"},
        {L"a ? b : c ? d : e", L"a Question@3 b Colon@8 c Question@7 d Colon@8 e"},
        {L"x := y ?? z", L"x#4 y#2 Coalesce@3 z Assign"},
        {L"f(a,, b)", L"f a Missing b Call/3"},
        {L"f(a, )", L"f a Call/1"},
        {L"f()", L"f Call/0"},
        {L"x := \"a\" \"b\"", L"x#4 \"a\" \"b\" Concat Assign"},
        {L"x := a . b", L"x#4 a b Concat Assign"},
        {L"x := a .b", L"x#4 a Get.b/0 Assign"},
        {L"obj.p := v", L"obj v Set.p/1"},
        {L"obj[i] := v", L"obj i v Set/2"},
        {L"obj.count += 1", L"obj Get.count+keep/0 1 Add Set.count/1"},
        {L"obj.p++", L"obj Get.p+keep/0 1 Add Set.p/1 1 Subtract"},
        {L"++obj.p", L"obj Get.p+keep/0 1 Add Set.p/1"},
        {L"x++", L"x#4 PostIncrement"},
        {L"--x", L"x#4 PreDecrement"},
        {L"y := &x", L"y#4 x#3 Assign"},
        {L"y := &(x := 5)", L"y#4 x#4 5 Assign Reference Assign"},
        {L"IsSet(x)", L"x#1 IsSet/1"},
        {L"f(x?)", L"f x#2 Call/1"},
        {L"[1, 2]", L"1 2 Array/2"},
        {L"{a: 1, 1: 2}", L"\"a\" 1 \"1\" 2 ObjectLit/4"},
        {L"a.b.c(1)", L"a Get.b/0 1 Call.c/1"},
        {L"o.p[1, 2]", L"o 1 2 Get.p/2"},
        {L"x%i%", L"\"x\" i Concat Dynamic"},
        {L"%\"a\" \"b\"%", L"\"a\" \"b\" Concat Dynamic"},
        {L"o.%n% := 1", L"o n 1 Set.%/1"},
        {L"Mod(7, 2)", L"Object 7 2 Call/2"},
        {L"\"a\" ~= \"b\"", L"\"a\" \"b\" RegEx/2"},
        {L"1e3 + 0x1e3", L"1000.0 483 Add"},
        {L"1. + .5", L"1.0 0.5 Add"},
        {L"a, b", L"a b Comma"},
        {L"f(args*)", L"f args Call*/1"},
    };
    for (const Case& c : cases) {
        Compiled r = CompileText(c.text);
        EXPECT_TRUE(r.ok) << c.text << L" → " << r.error;
        EXPECT_EQ(r.postfix, c.postfix) << c.text;
    }
}

TEST(CompilerTest, ErrorsAreReportedWithTheirExactMessage) {
    struct Case {
        const wchar_t* text;
        const wchar_t* message;
    } cases[] = {
        {L"x ? y", L"A \"?\" is missing its \":\""},
        {L"a : b", L"A \":\" is missing its \"?\""},
        {L"a := 1 +", L"Missing operand."},
        {L"a ||", L"Missing operand."},
        {L"&5", L"\"&\" requires a variable."},
        {L"{a: 1, b}", L"Missing \"propertyname:\" in object literal."},
        {L"{(a): 1}", L"Invalid property name in object literal."},
        {L"()", L"Syntax error."},
        {L"(a", L"Syntax error."},
        {L"a)", L"Syntax error."},
        {L"1 + * 2", L"Missing operand."},
        {L"(y?) + 1", L"Syntax error."},
        {L"x? + 1", L"A \"?\" is missing its \":\""},
        {L"5 := 1", L"Invalid assignment."},
        {L"++5", L"Invalid assignment."},
        {L"IsSet(5)", L"IsSet requires a variable."},
        {L"(a : b)", L"Unexpected \":\""},
        {L"[a : b]", L"Missing \"]\" before \":\""},
        {L"Mod(1)", L"Too few parameters passed to function."},
        {L"Mod(1, 2, 3)", L"Too many parameters passed to function."},
        {L"InStr(, \"a\")", L"Missing a required parameter."},
        {L"A_ScriptDir := 1", L"This built-in variable cannot be assigned a value."},
        {L"Mod := 1", L"This Func cannot be assigned a value."},
        {L"y := &A_Index", L"This built-in variable cannot have its reference taken."},
    };
    for (const Case& c : cases) {
        Compiled r = CompileText(c.text);
        EXPECT_FALSE(r.ok) << c.text;
        EXPECT_EQ(r.error, c.message) << c.text;
    }
}

TEST(CompilerTest, SingleOperandsAreSimplified) {
    Compiled text = CompileText(L"\"plain\"");
    ASSERT_TRUE(text.ok);
    EXPECT_FALSE(text.line->args[0].isExpression);
    EXPECT_EQ(std::wstring(text.line->args[0].text, text.line->args[0].length), L"plain");

    Compiled var = CompileText(L"someVar");
    ASSERT_TRUE(var.ok);
    EXPECT_EQ(var.line->args[0].kind, ArgKind::InputVar);
    ASSERT_NE(ArgVar(var.line->args[0]), nullptr);

    Compiled loopText = CompileText(L"\"x\"", LineAction::While);
    ASSERT_TRUE(loopText.ok);
    EXPECT_TRUE(loopText.line->args[0].isExpression);
}

}  // namespace
}  // namespace brm::test
