// Conversions: the numeric test, integer and float parsing, float formatting, truth values and the
// token conversions, as tables of cases.
#include <gtest/gtest.h>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "objects/ObjectBase.h"

using namespace brm;

namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

ValueToken Str(const Char* text, int32_t length = -1) {
    ValueToken t{};
    t.SetString(text, length);
    return t;
}
ValueToken Int(int64_t v) {
    ValueToken t{};
    t.SetInteger(v);
    return t;
}
ValueToken Flt(double v) {
    ValueToken t{};
    t.SetFloat(v);
    return t;
}
ValueToken VarTok(Var& v) {
    ValueToken t{};
    t.SetVar(&v);
    return t;
}

class PlainObject : public ObjectBase {
public:
    const Char* TypeName() override { return L"Plain"; }
};

}  // namespace

TEST(Conversions, IsNumeric) {
    using N = NumericKind;
    struct Case { const Char* text; N expected; AllowNegative neg; AllowEmpty empty; AllowFloat flt; };
    const auto Y = AllowNegative::Yes;
    const auto EN = AllowEmpty::No, EY = AllowEmpty::Yes;
    const auto FY = AllowFloat::Yes, FN = AllowFloat::No;
    const Case cases[] = {
        {L" 12 ", N::Integer, Y, EN, FY},   {L"+5", N::Integer, Y, EN, FY},     {L"0x1F", N::Integer, Y, EN, FY},
        {L"0X1f", N::Integer, Y, EN, FY},   {L"1.", N::Float, Y, EN, FY},       {L".5", N::Float, Y, EN, FY},
        {L"1e5", N::Float, Y, EN, FY},      {L"1.e5", N::Float, Y, EN, FY},     {L"1E+05", N::Float, Y, EN, FY},
        {L"1e-5", N::Float, Y, EN, FY},     {L"-0x10", N::Integer, Y, EN, FY},  {L"0x1e5", N::Integer, Y, EN, FY},
        {L"\t7\t", N::Integer, Y, EN, FY},  {L"-12", N::Integer, Y, EN, FY},    {L"007", N::Integer, Y, EN, FY},
        {L"", N::None, Y, EN, FY},          {L" ", N::None, Y, EN, FY},         {L".", N::None, Y, EN, FY},
        {L"0x", N::None, Y, EN, FY},        {L"0x1.5", N::None, Y, EN, FY},     {L"1e", N::None, Y, EN, FY},
        {L"1e+", N::None, Y, EN, FY},       {L"- 5", N::None, Y, EN, FY},       {L"+-5", N::None, Y, EN, FY},
        {L"1 2", N::None, Y, EN, FY},       {L"12 x", N::None, Y, EN, FY},      {L"abc", N::None, Y, EN, FY},
        {L"1e5e5", N::None, Y, EN, FY},     {L"1..2", N::None, Y, EN, FY},      {L"e5", N::None, Y, EN, FY},
        {L"1e5.5", N::None, Y, EN, FY},     {L"0xg", N::None, Y, EN, FY},       {L"1\n", N::None, Y, EN, FY},
        // the switches
        {L"", N::Integer, Y, EY, FY},       {L"  ", N::Integer, Y, EY, FY},
        {L"-5", N::None, AllowNegative::No, EN, FY}, {L"+5", N::Integer, AllowNegative::No, EN, FY},
        {L"1.5", N::None, Y, EN, FN},       {L"1e5", N::None, Y, EN, FN},       {L"0x1e5", N::Integer, Y, EN, FN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsNumeric(c.text, c.neg, c.empty, c.flt), c.expected) << '"' << testing::PrintToString(std::wstring(c.text)) << '"';
    EXPECT_EQ(IsNumeric(nullptr), NumericKind::None);
}

TEST(Conversions, ParseInt64) {
    struct Case { const Char* text; int64_t expected; };
    const Case cases[] = {
        {L"1.5e3", 1500}, {L"25e-1", 2}, {L"12abc", 12}, {L"abc", 0}, {L"0xFF", 255}, {L"-0x10", -16},
        {L"9223372036854775807", INT64_MAX}, {L"9223372036854775808", kMin}, {L"18446744073709551617", 1},
        {L"-9223372036854775808", kMin}, {L" \t+42", 42}, {L"1e", 1}, {L"1e+", 1}, {L"1.999", 1},
        {L"-1.5e1", -15}, {L"1.25e1", 12}, {L"1.2e5", 120000}, {L"123e-2", 1}, {L"-15e-1", -1},
        {L"5e-20", 0}, {L"5e-19", 0}, {L"1e19", static_cast<int64_t>(10000000000000000000ull)},
        {L"1e64", 0}, {L"3e63", static_cast<int64_t>(3ull * 0x8000000000000000ull)},  // 10^63 = 2^63 * odd
        {L"0x", 0}, {L"0x1e5", 485}, {L"0xFFFFFFFFFFFFFFFF", -1}, {L"0x10000000000000001", 1},
        {L"", 0}, {L"-", 0}, {L"1e999999999999", 0}, {L"  -7  ", -7}, {L"1.5E+2", 150},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseInt64(c.text), c.expected) << testing::PrintToString(std::wstring(c.text));
}

TEST(Conversions, ParseIntPrefix) {
    struct Case { const Char* text; int64_t value; int stop; };
    const Case cases[] = {
        {L"123abc", 123, 3}, {L"abc", 0, 0}, {L"-0x1Fz", -31, 5}, {L"  7", 7, 3},
        {L"-", 0, 0}, {L"1.5", 1, 1}, {L"0x", 0, 1}, {L"+12 ", 12, 3}, {L"1e5", 1, 1},
    };
    for (const Case& c : cases) {
        const Char* end = nullptr;
        EXPECT_EQ(ParseIntPrefix(c.text, &end), c.value) << testing::PrintToString(std::wstring(c.text));
        EXPECT_EQ(end - c.text, c.stop) << testing::PrintToString(std::wstring(c.text));
    }
}

TEST(Conversions, ParseDouble) {
    struct Case { const Char* text; double expected; };
    const Case cases[] = {
        {L"1.5", 1.5}, {L" -2.5e3x", -2500.0}, {L"abc", 0.0}, {L"0x10", 0.0}, {L".5", 0.5}, {L"5.", 5.0},
        {L"+3", 3.0}, {L"\n\t 4", 4.0}, {L"1e400", kInf}, {L"-1e400", -kInf}, {L"1e-400", 0.0},
        {L"0.1", 0.1}, {L"1e", 1.0}, {L"2e+", 2.0}, {L"0.30000000000000004", 0.1 + 0.2},
        {L"000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
         L"000000000000000000000000000000000000000000000001.5", 1.5},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseDouble(c.text), c.expected) << testing::PrintToString(std::wstring(c.text));
    EXPECT_TRUE(std::signbit(ParseDouble(L"-0")));
}

TEST(Conversions, FloatToInt64) {
    struct Case { double value; int64_t expected; };
    const Case cases[] = {
        {1.9, 1}, {-1.9, -1}, {0.0, 0}, {9.2233720368547748e18, 9223372036854774784},
        {9.2233720368547758e18, kMin}, {-9.2233720368547758e18, kMin}, {kInf, kMin}, {-kInf, kMin}, {kNaN, kMin},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FloatToInt64(c.value), c.expected) << c.value;
}

TEST(Conversions, FormatFloat) {
    struct Case { double value; const Char* expected; };
    const Case cases[] = {
        {1.0, L"1.0"}, {0.1, L"0.10000000000000001"}, {1e16, L"10000000000000000.0"}, {1e17, L"1e+17"},
        {-0.0, L"-0.0"}, {1.2345678901234568e20, L"1.2345678901234568e+20"}, {0.1 + 0.2, L"0.30000000000000004"},
        {3.0, L"3.0"}, {123.456, L"123.456"}, {-2.5, L"-2.5"}, {1e-5, L"1.0000000000000001e-05"},
        {1e21, L"1e+21"}, {5e-324, L"4.9406564584124654e-324"}, {1.7976931348623157e308, L"1.7976931348623157e+308"},
        {kInf, L"inf"}, {-kInf, L"-inf"}, {kNaN, L"nan"}, {-kNaN, L"nan"},
    };
    for (const Case& c : cases) {
        Char buffer[kScratchChars];
        int length = FormatFloat(c.value, buffer);
        EXPECT_STREQ(buffer, c.expected);
        EXPECT_EQ(length, static_cast<int>(wcslen(c.expected)));
    }
}

TEST(Conversions, FormatInt64) {
    struct Case { int64_t value; const Char* expected; };
    const Case cases[] = {{0, L"0"}, {-5, L"-5"}, {INT64_MAX, L"9223372036854775807"}, {kMin, L"-9223372036854775808"}};
    for (const Case& c : cases) {
        Char buffer[kScratchChars];
        EXPECT_EQ(FormatInt64(c.value, buffer), static_cast<int>(wcslen(c.expected)));
        EXPECT_STREQ(buffer, c.expected);
    }
}

TEST(Conversions, TruthOfStrings) {
    struct Case { const Char* text; bool expected; };
    const Case cases[] = {
        {L"", false}, {L"0", false}, {L" 0", false}, {L" 0 ", false}, {L"0.0", false}, {L"-0", false},
        {L"0x0", false}, {L"00", false}, {L"+0", false}, {L"0e5", false}, {L".0", false}, {L"-0.0", false},
        {L"a", true}, {L"0a", true}, {L" ", true}, {L"1", true}, {L"0.0a", true}, {L"00x", true},
        {L"-1", true}, {L"0.1", true}, {L"0x1", true}, {L"false", true}, {L" 1", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TokenToBool(Str(c.text)), c.expected) << testing::PrintToString(std::wstring(c.text));
        EXPECT_EQ(TextToBool(c.text), c.expected) << testing::PrintToString(std::wstring(c.text));
    }
    // Binary text: NUL first but a recorded length.
    EXPECT_TRUE(TokenToBool(Str(L"\0x", 2)));
    EXPECT_FALSE(TokenToBool(Str(L"\0x", -1)));
}

TEST(Conversions, TruthOfOtherKinds) {
    ValueToken missing{};
    missing.SetMissing();
    PlainObject* object = new PlainObject();
    ValueToken obj{};
    obj.SetObject(object);
    struct Case { ValueToken token; bool expected; };
    const Case cases[] = {
        {Int(0), false}, {Int(5), true}, {Int(-1), true}, {Flt(0.0), false}, {Flt(-0.0), false},
        {Flt(0.5), true}, {Flt(kNaN), true}, {missing, false}, {obj, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TokenToBool(c.token), c.expected) << "symbol " << c.token.symbol;
    object->Release();
}

TEST(Conversions, TokenToDoubleHexCheck) {
    EXPECT_EQ(TokenToDouble(Str(L"0x10"), HexCheck::No), 0.0);
    EXPECT_EQ(TokenToDouble(Str(L"0x10"), HexCheck::Yes), 16.0);
    EXPECT_EQ(TokenToDouble(Str(L" -0x10"), HexCheck::Yes), -16.0);
    EXPECT_EQ(TokenToDouble(Str(L"0x"), HexCheck::Yes), 0.0);
    EXPECT_EQ(TokenToDouble(Str(L"1.5e1"), HexCheck::Yes), 15.0);
    EXPECT_EQ(TokenToDouble(Int(3)), 3.0);
    EXPECT_EQ(TokenToDouble(Int(9007199254740993)), 9007199254740992.0);  // nearest double
    EXPECT_EQ(TokenToDouble(Flt(2.5)), 2.5);
    ValueToken missing{};
    missing.SetMissing();
    EXPECT_EQ(TokenToDouble(missing), 0.0);
}

TEST(Conversions, TokenToInt64) {
    EXPECT_EQ(TokenToInt64(Int(7)), 7);
    EXPECT_EQ(TokenToInt64(Flt(-2.9)), -2);
    EXPECT_EQ(TokenToInt64(Flt(1e300)), kMin);
    EXPECT_EQ(TokenToInt64(Str(L"1.9")), 1);
    EXPECT_EQ(TokenToInt64(Str(L"1e3")), 1000);
    EXPECT_EQ(TokenToInt64(Str(L"0x10")), 16);
    ValueToken missing{};
    missing.SetMissing();
    EXPECT_EQ(TokenToInt64(missing), 0);
}

TEST(Conversions, TokenToString) {
    Char buffer[kScratchChars];
    int32_t length = -5;
    EXPECT_STREQ(TokenToString(Int(-42), buffer, &length), L"-42");
    EXPECT_EQ(length, 3);
    EXPECT_STREQ(TokenToString(Flt(2.0), buffer, &length), L"2.0");
    EXPECT_EQ(length, 3);
    EXPECT_STREQ(TokenToString(Int(5), nullptr, &length), L"");  // no buffer: no text
    EXPECT_EQ(length, 0);
    EXPECT_STREQ(TokenToString(Str(L"abc"), buffer, &length), L"abc");
    EXPECT_EQ(length, 3);
    ValueToken partial = Str(L"abcdef", 2);
    TokenToString(partial, buffer, &length);
    EXPECT_EQ(length, 2);
    ValueToken missing{};
    missing.SetMissing();
    EXPECT_STREQ(TokenToString(missing, buffer, &length), L"");
    EXPECT_EQ(length, 0);
    Var v;
    ASSERT_EQ(v.AssignFloat(0.5), Status::Ok);
    EXPECT_STREQ(TokenToString(VarTok(v), buffer, &length), L"0.5");
    EXPECT_EQ(length, 3);
    v.Free();
}

TEST(Conversions, TokenToNumber) {
    struct Case { const Char* text; bool ok; uint32_t symbol; double value; };
    const Case cases[] = {
        {L"12", true, SymInteger, 12}, {L" 1.5 ", true, SymFloat, 1.5}, {L"0x10", true, SymInteger, 16},
        {L"0x1e5", true, SymInteger, 485}, {L"1e3", true, SymFloat, 1000}, {L"-7", true, SymInteger, -7},
        {L"abc", false, 0, 0}, {L"", false, 0, 0}, {L"12 x", false, 0, 0},
    };
    for (const Case& c : cases) {
        ValueToken number{};
        ASSERT_EQ(TokenToNumber(Str(c.text), number), c.ok) << testing::PrintToString(std::wstring(c.text));
        if (!c.ok)
            continue;
        EXPECT_EQ(number.symbol, c.symbol);
        EXPECT_EQ(number.symbol == SymInteger ? static_cast<double>(number.valueInt64) : number.valueDouble, c.value);
    }
    ValueToken number{};
    EXPECT_TRUE(TokenToNumber(Flt(2.5), number));
    EXPECT_EQ(number.valueDouble, 2.5);
    ValueToken missing{};
    missing.SetMissing();
    EXPECT_FALSE(TokenToNumber(missing, number));
    PlainObject* object = new PlainObject();
    ValueToken obj{};
    obj.SetObject(object);
    EXPECT_FALSE(TokenToNumber(obj, number));
    object->Release();
}

TEST(Conversions, KindsAndTypeNames) {
    Var integer, text, unset;
    ASSERT_EQ(integer.AssignInteger(5), Status::Ok);
    ASSERT_EQ(text.AssignString(L"5"), Status::Ok);
    ValueToken missing{};
    missing.SetMissing();
    PlainObject* object = new PlainObject();
    ValueToken obj{};
    obj.SetObject(object);

    struct Case { ValueToken token; uint32_t kind; NumericKind pure; NumericKind numeric; const Char* type; };
    const Case cases[] = {
        {Str(L"5"), SymString, NumericKind::None, NumericKind::Integer, L"String"},
        {Str(L"x"), SymString, NumericKind::None, NumericKind::None, L"String"},
        {Int(1), SymInteger, NumericKind::Integer, NumericKind::Integer, L"Integer"},
        {Flt(1), SymFloat, NumericKind::Float, NumericKind::Float, L"Float"},
        {missing, SymMissing, NumericKind::None, NumericKind::None, L""},
        {obj, SymObject, NumericKind::None, NumericKind::None, L"Plain"},
        {VarTok(integer), SymInteger, NumericKind::Integer, NumericKind::Integer, L"Integer"},
        {VarTok(text), SymString, NumericKind::None, NumericKind::Integer, L"String"},
        {VarTok(unset), SymString, NumericKind::None, NumericKind::None, L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TokenKind(c.token), c.kind) << "symbol " << c.token.symbol;
        EXPECT_EQ(TokenIsPureNumeric(c.token), c.pure) << "symbol " << c.token.symbol;
        EXPECT_EQ(TokenIsNumeric(c.token), c.numeric) << "symbol " << c.token.symbol;
        EXPECT_STREQ(TokenTypeName(c.token), c.type) << "symbol " << c.token.symbol;
    }
    object->Release();
    integer.Free();
    text.Free();
}

TEST(Conversions, NotNumericIsRememberedOnTheVariable) {
    Var v;
    ASSERT_EQ(v.AssignString(L"abc"), Status::Ok);
    EXPECT_FALSE(v.m_attrib & VarAttribNotNumeric);
    EXPECT_EQ(TokenIsNumeric(VarTok(v)), NumericKind::None);
    EXPECT_TRUE(v.m_attrib & VarAttribNotNumeric);
    // Writing into the buffer directly invalidates the cached answer.
    v.m_contents[0] = '1';
    v.m_contents[1] = 0;
    ASSERT_EQ(v.UpdateLength(), Status::Ok);
    EXPECT_FALSE(v.m_attrib & VarAttribNotNumeric);
    EXPECT_EQ(TokenIsNumeric(VarTok(v)), NumericKind::Integer);
    // Any assignment clears it too.
    ASSERT_EQ(v.AssignString(L"x"), Status::Ok);
    EXPECT_FALSE(v.m_attrib & VarAttribNotNumeric);
    ValueToken number{};
    EXPECT_FALSE(TokenToNumber(VarTok(v), number));
    EXPECT_TRUE(v.m_attrib & VarAttribNotNumeric);
    v.Free();
}
