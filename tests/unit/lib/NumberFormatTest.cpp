// The printf conversions of NumberFormat and the sink that measures what does not fit.
#include <gtest/gtest.h>
#include <string>
#include "lib/NumberFormat.h"

using namespace brm;

namespace {

FieldSpec Spec(const Char* text, Char type) {
    FieldSpec spec;
    const Char* end = text;
    while (*end)
        ++end;
    ParseFieldSpec(text, end, spec);
    spec.type = type;
    return spec;
}

std::wstring Int(const Char* spec, Char type, int64_t v) {
    Char buffer[512];
    TextSink out(buffer, 511);
    WriteIntegerField(out, Spec(spec, type), v);
    return std::wstring(buffer, static_cast<size_t>(out.Length()));
}

std::wstring Dbl(const Char* spec, Char type, double v) {
    Char buffer[2048];
    TextSink out(buffer, 2047);
    WriteFloatField(out, Spec(spec, type), v);
    return std::wstring(buffer, static_cast<size_t>(out.Length()));
}

}  // namespace

TEST(NumberFormat, ParsesFlagsWidthAndPrecision) {
    FieldSpec s = Spec(L"-+ 0#12.5", L'f');
    EXPECT_TRUE(s.left && s.plus && s.space && s.zero && s.alt);
    EXPECT_EQ(s.width, 12);
    EXPECT_EQ(s.precision, 5);
    EXPECT_EQ(Spec(L"7.", L'f').precision, 0);
    EXPECT_EQ(Spec(L"7", L'f').precision, -1);
    EXPECT_EQ(Spec(L"99999999999999999999", L'd').width, kMaxFieldWidth);
}

TEST(NumberFormat, Integers) {
    EXPECT_EQ(Int(L"", L'd', INT64_MIN), L"-9223372036854775808");
    EXPECT_EQ(Int(L"+08", L'd', -5), L"-0000005");
    EXPECT_EQ(Int(L"08.3", L'd', 5), L"     005");
    EXPECT_EQ(Int(L"#", L'o', 0), L"0");
    EXPECT_EQ(Int(L"#.0", L'o', 0), L"0");
    EXPECT_EQ(Int(L"#08", L'x', 255), L"0x0000ff");
    EXPECT_EQ(Int(L"", L'X', -1), L"FFFFFFFFFFFFFFFF");
    EXPECT_EQ(Int(L"-4", L'c', 0x41), L"A   ");
}

TEST(NumberFormat, Floats) {
    EXPECT_EQ(Dbl(L".3", L'f', 2.0005), L"2.001");  // 2.0005 is stored just above the half
    EXPECT_EQ(Dbl(L".0", L'f', 0.5), L"0");
    EXPECT_EQ(Dbl(L"", L'e', 1e-300), L"1.000000e-300");
    EXPECT_EQ(Dbl(L"", L'g', 123456789), L"1.23457e+08");
    EXPECT_EQ(Dbl(L".10", L'g', 0.1), L"0.1");
    EXPECT_EQ(Dbl(L"#.10", L'g', 0.1), L"0.1000000000");
    EXPECT_EQ(Dbl(L"", L'g', 0.0001), L"0.0001");
    EXPECT_EQ(Dbl(L"", L'g', -0.0), L"-0");
    EXPECT_EQ(Dbl(L"08", L'f', -1.0 / 0.0), L"    -inf");
    EXPECT_EQ(Dbl(L"+", L'E', 0.0 / 0.0), L"+NAN");
    EXPECT_EQ(Dbl(L"012", L'a', -1.0), L"-0x000001p+0");
    EXPECT_EQ(Dbl(L".1200", L'f', 1.0).size(), 1202u);  // decimals beyond a double's are zeros
    EXPECT_EQ(Dbl(L".900", L'e', 1.0).substr(895), L"0000000e+00");
}

TEST(NumberFormat, SinkMeasuresWhatDoesNotFit) {
    Char buffer[4] = {L'x', L'x', L'x', L'x'};
    TextSink out(buffer, 3);
    out.Put(L"ab", 2);
    EXPECT_TRUE(out.Fits());
    out.Put(L"cd", 2);
    out.Fill(L' ', 10);
    EXPECT_FALSE(out.Fits());
    EXPECT_EQ(out.Length(), 14u);
    EXPECT_EQ(buffer[2], L'x');  // nothing is written past the capacity, nor partly
}
