// Physical lines to logical lines: comments, block comments, continuation sections and continued
// expressions, each logical line with the number of its first physical line.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "loader/ScriptReader.h"
#include "startup/ScriptHost.h"
#include "system/TextStream.h"

namespace brm {
namespace {

struct Recorded {
    std::vector<std::wstring> lines;
    bool continueExpressions = false;
};

Status Record(ScriptReader& reader, void* context) {
    auto* rec = static_cast<Recorded*>(context);
    if (rec->continueExpressions) BRM_TRY(reader.ContinueExpression(ContinueContext::Normal));
    rec->lines.push_back(std::to_wstring(g_script.loadLineNumber) + L": " + std::wstring(reader.Line(), reader.LineLength()));
    return Status::Ok;
}

std::vector<std::wstring> Read(const std::string& utf8, bool continueExpressions = true) {
    TextMem mem;
    EXPECT_TRUE(mem.Open(utf8.data(), utf8.size(), false, TextStream::Read | TextStream::EolCrLf | TextStream::EolLoneCr, 65001));
    Recorded rec;
    rec.continueExpressions = continueExpressions;
    ScriptReader reader(mem, 0, Record, &rec);
    g_script.errorStdOut = true;  // a failure is reported on standard error, never in a dialog
    EXPECT_EQ(reader.Run(false), Status::Ok);
    return rec.lines;
}

using Lines = std::vector<std::wstring>;

TEST(ScriptReader, CommentsAndBlankLinesKeepLineNumbers) {
    EXPECT_EQ(Read("a := 1 ; note\n\n; whole line\nb := 2;not a comment\n  c := 3  \n"),
              (Lines{L"1: a := 1", L"4: b := 2;not a comment", L"5: c := 3"}));
    EXPECT_EQ(Read("x := \"`;\"\n"), (Lines{L"1: x := \";\""}));
    EXPECT_EQ(Read("/*\nhidden\n*/ shown\n/* one */\nlast\n"), (Lines{L"3: shown", L"5: last"}));
    EXPECT_EQ(Read("a\n/* never closed\nb\n"), (Lines{L"1: a"}));
}

TEST(ScriptReader, SectionsJoinWithTheirOptions) {
    struct Case {
        const char* text;
        Lines expected;
    };
    const Case cases[] = {
        {"s := \"\n(\n  one\n  two\n)\"\nnext\n", {L"1: s := \"one\ntwo\"", L"6: next"}},
        {"s := \"\n(Join,\na\nb\n)\"\n", {L"1: s := \"a,b\""}},
        {"s := \"\n(Join`s\na\nb\n)\"\n", {L"1: s := \"a b\""}},
        {"s := \"\n(LTrim0\n  a\n)\"\n", {L"1: s := \"  a\""}},
        {"s := \"\n(RTrim0\na  \n)\"\n", {L"1: s := \"a  \""}},
        {"s := \"\n(C\na ; gone\n; dropped\nb\n)\"\n", {L"1: s := \"a\nb\""}},
        // Automatic indentation takes only the first content line's run, and only from lines that share it.
        {"s := \"\n(\n    a\n  b\n    c\n)\"\n", {L"1: s := \"a\n  b\nc\""}},
        // A section inside a string escapes its quotes; literal backquotes are doubled.
        {"s := \"\n(\nsay \"hi\"\n)\"\n", {L"1: s := \"say `\"hi`\"\""}},
        {"s := \"\n(`\na`tb\n)\"\n", {L"1: s := \"a``tb\""}},
        // A section after a word gets a space so that it does not fuse with it.
        {"f\n(\nx\n)\n", {L"1: f x"}},
        // A parenthesised expression is not a section.
        {"(a + b).c()\n", {L"1: (a + b).c()"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Read(c.text, false), c.expected) << c.text;
}

TEST(ScriptReader, ExpressionsContinueAcrossLines) {
    struct Case {
        const char* text;
        Lines expected;
    };
    const Case cases[] = {
        {"x := (1\n  + 2\n  + 3)\ny := 1\n", {L"1: x := (1 + 2 + 3)", L"4: y := 1"}},
        {"if a\n  and b\n  f()\n", {L"1: if a and b", L"3: f()"}},
        {"x := 1 +\n2\n", {L"1: x := 1 + 2"}},
        {"x := 1 +\nReturn\n", {L"1: x := 1 +", L"2: Return"}},
        {"x := 1\n, y := 2\n", {L"1: x := 1 , y := 2"}},
        {"x++\n--y\n", {L"1: x++", L"2: --y"}},
        {"label:\nnext\n", {L"1: label:", L"2: next"}},
        {"if (a) {\nb\n", {L"1: if (a) {", L"2: b"}},
        {"obj := {a: 1,\n b: 2}\n", {L"1: obj := {a: 1, b: 2}"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Read(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace brm
