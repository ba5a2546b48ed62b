// The reference scan's records and the tokenizer's load-time errors.
#include <gtest/gtest.h>
#include <string>
#include "ExprTestSupport.h"

namespace brm::test {
namespace {

// One line per record: type, then the text it covers, then the symbol or flag.
std::wstring Records(const wchar_t* text) {
    ArgRecord arg{};
    arg.isExpression = true;
    arg.text = text;
    arg.length = static_cast<uint32_t>(wcslen(text));
    std::wstring out;
    std::wstring error = CaptureStdErr([&] {
        if (ScanReferences(arg, nullptr) != Status::Ok)
            out = L"error";
    });
    if (out == L"error")
        return L"error: " + error;
    for (const RefRecord* r = arg.refs; r && r->marker; ++r) {
        if (!out.empty())
            out += L' ';
        out += std::to_wstring(static_cast<int>(r->type)) + L":" + std::wstring(r->marker, r->length) + L":" +
               std::to_wstring(r->symbol);
    }
    return out;
}

TEST(TokenizerTest, ReferenceScanRecordsNamesStringsAndWords) {
    struct Case {
        const wchar_t* text;
        const wchar_t* records;
    } cases[] = {
        {L"x := \"a\" . y", L"0:x:0 3:a:1 0:y:0"},
        {L"a and B OR not c", L"0:a:0 4:and:36 0:B:0 4:OR:35 4:not:61 0:c:0"},
        {L"obj.in + True - false", L"0:obj:0 5:True:1 5:false:0"},
        {L"x%i%y", L"2:x:0 0:i:0 2:y:1 1::0"},
        {L"%a%", L"2::0 0:a:0 2::1 1::0"},
        {L"o.%n%", L"0:o:0 2::0 0:n:0 2::1 6::0"},
        {L"{1: \"a\", key: \"b\"}", L"3:a:1 3:b:1"},
        {L"1e3 + 0x1e3 - 1. * .5", L""},
        {L"IsSet(v) || unset", L"4:IsSet:67 0:v:0 4:unset:3"},
        {L"f('it''s')", L"0:f:0 3:it:1 3:s:1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Records(c.text), c.records) << c.text;
}

TEST(TokenizerTest, ErrorsAreReportedWithTheirExactMessage) {
    struct Case {
        const wchar_t* text;
        const wchar_t* message;
    } cases[] = {
        {L"\"abc", L"Missing close-quote"},
        {L"x := a # b", L"Illegal character in expression."},
        {L"x in y", L"Unexpected reserved word."},
        {L"a AS b", L"Unexpected reserved word."},
        {L"%x", L"Missing ending \"%\""},
        {L"x := y\"b\"", L"Missing space or operator before this."},
        {L"\"abc\" + 1", L"Unexpected operator following literal string."},
        {L"x {", L"Unexpected \"{\""},
        {L"Super.x()", L"\"Super\" is valid only inside a class."},
        {L"Super", L"Syntax error."},
        {L"IsSet x", L"Missing \"(\""},
        {L"a. b", L"Syntax error."},
        {L"??", L"Syntax error."},
        {L"(x) =>", L"Invalid function declaration."},
    };
    for (const Case& c : cases) {
        Compiled r = CompileText(c.text);
        EXPECT_FALSE(r.ok) << c.text;
        EXPECT_EQ(r.error, c.message) << c.text;
    }
}

TEST(TokenizerTest, AcceptedForms) {
    const wchar_t* good[] = {
        L"x := \"a\" \"b\"", L"\"abc\" != x", L"\"a\" && b", L"obj.in", L"AND_x := 1", L"x := a .b",
        L"x := a . b",       L"f(x?)",       L"x := 1.",   L"\"a\" ~= \"b\"",
    };
    for (const wchar_t* text : good) {
        Compiled r = CompileText(text);
        EXPECT_TRUE(r.ok) << text << L" → " << r.error;
    }
}

}  // namespace
}  // namespace brm::test
