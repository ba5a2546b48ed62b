// Encoding names: parsing, formatting and the ANSI code page that 0 stands for.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "system/Encoding.h"

namespace brm {
namespace {

struct ParseCase {
    const Char* name;
    bool valid;
    uint32_t value;
};

TEST(Encoding, ParsesNames) {
    const ParseCase cases[] = {
        {L"", true, 0},
        {L"UTF-8", true, 65001},
        {L"utf-8", true, 65001},
        {L"UTF-8-RAW", true, 0x8000FDE9},
        {L"Utf-8-Raw", true, 0x8000FDE9},
        {L"UTF-16", true, 1200},
        {L"utf-16-raw", true, 0x800004B0},
        {L"CP1252", true, 1252},
        {L"cp1252", true, 1252},
        {L"1252", true, 1252},
        {L"CP0", true, 0},
        {L"0", true, 0},
        {L"CP1200", true, 1200},
        {L"65001", true, 65001},
        {L"CP65001", true, 65001},
        {L"CP01252", true, 1252},
        {L"CP99999", false, 0},
        {L"99999", false, 0},
        {L"UTF-9", false, 0},
        {L"UTF-8 ", false, 0},
        {L"UTF8", false, 0},
        {L"12x", false, 0},
        {L"CP", false, 0},
        {L"CP-1252", false, 0},
        {L"+1252", false, 0},
        {L" 1252", false, 0},
        {L"0x4E4", false, 0},
        {L"CP4294968548", false, 0},  // 1252 + 2^32 must not wrap around to a valid code page
        {L"2147484900", false, 0},    // 1252 with bit 31: the -RAW bit has no numeric spelling
    };
    for (const ParseCase& c : cases) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(ParseEncodingName(c.name, value), c.valid) << std::wstring(c.name).size() << " chars";
        if (c.valid)
            EXPECT_EQ(value, c.value);
        else
            EXPECT_EQ(value, 0xDEADBEEFu) << "an invalid name leaves the value alone";
    }
    uint32_t value = 7;
    EXPECT_TRUE(ParseEncodingName(nullptr, value));
    EXPECT_EQ(value, 0u);
}

TEST(Encoding, MultibyteCodePagesParseWhenInstalled) {
    for (uint32_t cp : {936u, 932u}) {
        uint32_t value = 0;
        std::wstring name = L"CP" + std::to_wstring(cp);
        EXPECT_EQ(ParseEncodingName(name.c_str(), value), IsValidCodePage(cp) != 0);
    }
}

TEST(Encoding, ValidatesIntegers) {
    EXPECT_TRUE(ValidEncodingValue(0));
    EXPECT_TRUE(ValidEncodingValue(1200));
    EXPECT_TRUE(ValidEncodingValue(65001));
    EXPECT_TRUE(ValidEncodingValue(1252));
    EXPECT_FALSE(ValidEncodingValue(99999));
    EXPECT_FALSE(ValidEncodingValue(1201));
    EXPECT_FALSE(ValidEncodingValue(0x8000FDE9));
}

TEST(Encoding, FormatsNames) {
    struct Case {
        uint32_t value;
        const Char* name;
    } const cases[] = {
        {65001, L"UTF-8"},       {0x8000FDE9, L"UTF-8-RAW"}, {1200, L"UTF-16"},
        {0x800004B0, L"UTF-16-RAW"}, {0, L"CP0"},            {1252, L"CP1252"},
        {936, L"CP936"},         {0x800004E4, L"CP1252"},    {0x7FFFFFFF, L"CP2147483647"},
    };
    for (const Case& c : cases) {
        Char buffer[kEncodingNameSize];
        int n = FormatEncodingName(c.value, buffer);
        EXPECT_STREQ(buffer, c.name);
        EXPECT_EQ(n, int(wcslen(c.name)));
    }
}

TEST(Encoding, NamesRoundTrip) {
    for (uint32_t value : {0u, 1200u, 65001u, 0x8000FDE9u, 0x800004B0u, 1252u, 437u}) {
        Char buffer[kEncodingNameSize];
        FormatEncodingName(value, buffer);
        uint32_t parsed = 12345;
        ASSERT_TRUE(ParseEncodingName(buffer, parsed));
        EXPECT_EQ(parsed, value);
    }
}

TEST(Encoding, AnsiCodePageIsTheSystems) {
    EXPECT_EQ(AnsiCodePage(), GetACP());
    EXPECT_EQ(EncodingCodePage(0x8000FDE9), 65001u);
}

}  // namespace
}  // namespace brm
