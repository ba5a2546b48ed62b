// TextStream over real files in a temporary folder and over memory: marks, line ends, decoding, buffering.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "system/Encoding.h"
#include "system/TextStream.h"

namespace brm {
namespace {

using Bytes = std::string;
#define B(literal) Bytes(literal, sizeof(literal) - 1)

constexpr uint32_t R = TextStream::Read;
constexpr uint32_t W = TextStream::Write;
constexpr uint32_t A = TextStream::Append;
constexpr uint32_t RW = TextStream::ReadWrite;
constexpr uint32_t CrLf = TextStream::EolCrLf;
constexpr uint32_t LoneCr = TextStream::EolLoneCr;
constexpr uint32_t Bom8 = TextStream::BomUtf8;
constexpr uint32_t Bom16 = TextStream::BomUtf16;
constexpr uint32_t ShareAll = TextStream::ShareRead | TextStream::ShareWrite | TextStream::ShareDelete;

Bytes Utf16Bytes(const std::wstring& text) {
    Bytes out;
    for (wchar_t c : text) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    return out;
}

std::wstring ReadAll(TextStream& s, uint32_t chunk = 1000, bool stopAtLineEnd = false) {
    std::wstring all;
    std::wstring buf(chunk + 1, L'#');
    for (int guard = 0; guard < 100000; ++guard) {
        uint32_t n = s.ReadText(buf.data(), chunk, stopAtLineEnd);
        if (n == 0) break;
        all.append(buf.data(), n);
    }
    return all;
}

std::wstring Hex(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        wchar_t part[8];
        swprintf(part, 8, L"%04X ", unsigned(c));
        out += part;
    }
    return out;
}

std::wstring Hex(const Bytes& bytes) {
    std::wstring out;
    for (unsigned char c : bytes) {
        wchar_t part[8];
        swprintf(part, 8, L"%02X ", unsigned(c));
        out += part;
    }
    return out;
}

class TextStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        static int s_counter = 0;
        m_dir = std::wstring(temp) + L"brm_textstream_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::to_wstring(++s_counter);
        ASSERT_TRUE(CreateDirectoryW(m_dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    }

    void TearDown() override {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((m_dir + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileW((m_dir + L"\\" + data.cFileName).c_str());
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
        RemoveDirectoryW(m_dir.c_str());
    }

    std::wstring PathOf(const wchar_t* name) const { return m_dir + L"\\" + name; }

    std::wstring MakeFile(const Bytes& bytes, const wchar_t* name = L"file.txt") {
        std::wstring path = PathOf(name);
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        if (!bytes.empty()) WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
        CloseHandle(h);
        return path;
    }

    static Bytes Contents(const std::wstring& path) {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return "<missing>";
        Bytes out;
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got) out.append(chunk, got);
        CloseHandle(h);
        return out;
    }

    // The text a file holds when read with the given flags and code page.
    std::wstring ReadFileText(const Bytes& bytes, uint32_t flags, uint32_t codePage, uint32_t chunk = 1000) {
        std::wstring path = MakeFile(bytes);
        TextFile f;
        EXPECT_TRUE(f.Open(path.c_str(), flags, codePage));
        return ReadAll(f, chunk);
    }

    std::wstring m_dir;
};

// Marks

TEST_F(TextStreamTest, DetectsOnlyLittleEndianUtf16AndUtf8Marks) {
    struct Case {
        Bytes bytes;
        uint32_t codePage;
        std::wstring text;
        uint32_t codePageAfter;
    } const cases[] = {
        {B("\xFF\xFE" "a\0b\0"), 1252, L"ab", 1200},
        {B("\xFE\xFF\0a"), 1252, std::wstring(L"\u00FE\u00FF\0a", 4), 1252},
        {B("\xEF\xBB\xBF\xC3\xA9"), 1252, L"\u00E9", 65001},
        {B("\xEF\xBB\xBF"), 1252, L"", 65001},
        {B("\xEF\xBB"), 65001, L"\uFFFD", 65001},
        {B("\xFF"), 1252, L"\u00FF", 1252},
        {B("abc"), 65001, L"abc", 65001},
        {B("a\0"), 1200, L"a", 1200},
        {B("\xE9"), 1252, L"\u00E9", 1252},
    };
    for (const Case& c : cases) {
        std::wstring path = MakeFile(c.bytes);
        TextFile f;
        ASSERT_TRUE(f.Open(path.c_str(), R, c.codePage));
        EXPECT_EQ(f.CodePage(), c.codePageAfter) << Hex(c.bytes);
        EXPECT_EQ(ReadAll(f), c.text) << Hex(c.bytes);
    }
}

TEST_F(TextStreamTest, WritesMarksOnlyToNewOrEmptyFiles) {
    struct Case {
        const char* name;
        bool exists;
        Bytes before;
        uint32_t flags;
        uint32_t codePage;
        std::wstring text;
        Bytes after;
    } const cases[] = {
        {"new UTF-8", false, "", W | Bom8, 65001, L"x", B("\xEF\xBB\xBFx")},
        {"new UTF-16", false, "", W | Bom16, 1200, L"x", B("\xFF\xFEx\0")},
        {"UTF-8 wins", false, "", W | Bom8 | Bom16, 65001, L"x", B("\xEF\xBB\xBFx")},
        {"UTF-8-RAW", false, "", W, 65001, L"x", B("x")},
        {"write truncates", true, "abc", W | Bom8, 65001, L"x", B("\xEF\xBB\xBFx")},
        {"append to non-empty", true, "abc", A | Bom8, 65001, L"x", B("abcx")},
        {"append creates", false, "", A | Bom8, 65001, L"x", B("\xEF\xBB\xBFx")},
        {"append to empty", true, "", A | Bom8, 65001, L"x", B("\xEF\xBB\xBFx")},
        {"append RAW", false, "", A, 65001, L"x", B("x")},
        {"read/write empty", true, "", RW | Bom16, 1200, L"x", B("\xFF\xFEx\0")},
        {"read/write new", false, "", RW | Bom8, 65001, L"x", B("\xEF\xBB\xBFx")},
        {"append follows UTF-8 mark", true, B("\xEF\xBB\xBF" "abc"), A | Bom8, 1252, L"\u00E9",
         B("\xEF\xBB\xBF" "abc\xC3\xA9")},
        {"append follows UTF-16 mark", true, B("\xFF\xFE" "a\0"), A, 65001, L"b", B("\xFF\xFE" "a\0b\0")},
    };
    for (const Case& c : cases) {
        std::wstring path = PathOf(L"marks.txt");
        if (c.exists)
            MakeFile(c.before, L"marks.txt");
        else
            DeleteFileW(path.c_str());
        {
            TextFile f;
            ASSERT_TRUE(f.Open(path.c_str(), c.flags, c.codePage)) << c.name;
            EXPECT_GT(f.WriteText(c.text.c_str(), 0), 0u) << c.name;
        }
        EXPECT_EQ(Contents(path), c.after) << c.name << ": " << Hex(Contents(path));
    }
}

TEST_F(TextStreamTest, ReadWriteDropsReadAheadBeforeWriting) {
    std::wstring path = MakeFile(B("\xEF\xBB\xBF" "abc"));
    {
        TextFile f;
        ASSERT_TRUE(f.Open(path.c_str(), RW | Bom8, 65001));
        Char c[2];
        ASSERT_EQ(f.ReadText(c, 1, false), 1u);
        EXPECT_EQ(c[0], L'a');
        EXPECT_EQ(f.Position(), 4);
        EXPECT_EQ(f.WriteText(L"X", 1), 1u);
        EXPECT_EQ(f.Position(), 5);
        EXPECT_EQ(ReadAll(f), L"c");
    }
    EXPECT_EQ(Contents(path), B("\xEF\xBB\xBF" "aXc"));
    {
        TextFile f;
        ASSERT_TRUE(f.Open(path.c_str(), RW, 65001));
        EXPECT_EQ(f.WriteText(L"Y", 1), 1u);
    }
    EXPECT_EQ(Contents(path), B("\xEF\xBB\xBF" "YXc"));
}

// Line ends

TEST_F(TextStreamTest, TranslatesLineEndsOnRead) {
    struct Case {
        const wchar_t* text;
        uint32_t flags;
        const wchar_t* expected;
    } const cases[] = {
        {L"a\r\nb", 0, L"a\r\nb"},        {L"a\r\nb", CrLf, L"a\nb"},      {L"a\r\nb", LoneCr, L"a\r\nb"},
        {L"a\rb", CrLf, L"a\rb"},         {L"a\rb", LoneCr, L"a\nb"},      {L"a\r\r\nb", CrLf | LoneCr, L"a\n\nb"},
        {L"a\r", CrLf | LoneCr, L"a\n"},  {L"a\r", CrLf, L"a\r"},          {L"\r\n\r\n", CrLf, L"\n\n"},
        {L"a\n\rb", CrLf | LoneCr, L"a\n\nb"},
    };
    for (const Case& c : cases) {
        std::wstring text = c.text;
        Bytes narrow(text.begin(), text.end());
        EXPECT_EQ(ReadFileText(narrow, c.flags, 65001), c.expected) << Hex(text) << " flags " << c.flags;
        EXPECT_EQ(ReadFileText(Utf16Bytes(text), c.flags, 1200), c.expected) << Hex(text) << " UTF-16 flags " << c.flags;
        EXPECT_EQ(ReadFileText(narrow, c.flags, 65001, 1), c.expected) << Hex(text) << " one at a time";
    }
}

TEST_F(TextStreamTest, ReadsLineByLine) {
    std::wstring path = MakeFile(B("one\r\ntwo\rthree\nlast"));
    TextFile f;
    ASSERT_TRUE(f.Open(path.c_str(), R | CrLf | LoneCr, 65001));
    Char buf[64];
    const wchar_t* lines[] = {L"one\n", L"two\n", L"three\n", L"last"};
    for (const wchar_t* line : lines) {
        uint32_t n = f.ReadText(buf, 63, true);
        EXPECT_EQ(std::wstring(buf, n), line);
        EXPECT_EQ(buf[n], 0) << "terminated when there is room";
    }
    EXPECT_EQ(f.ReadText(buf, 63, true), 0u);
    EXPECT_EQ(f.ReadText(buf, 63, true), 0u);

    TextFile raw;
    ASSERT_TRUE(raw.Open(MakeFile(B("x\r\ny"), L"raw.txt").c_str(), R, 65001));
    uint32_t n = raw.ReadText(buf, 63, true);
    EXPECT_EQ(std::wstring(buf, n), L"x\r\n");
    n = raw.ReadText(buf, 63, true);
    EXPECT_EQ(std::wstring(buf, n), L"y");
}

TEST_F(TextStreamTest, CrLfSplitByRoomKeepsTheLfForTheNextRead) {
    std::wstring path = MakeFile(B("a\r\nb"));
    TextFile f;
    ASSERT_TRUE(f.Open(path.c_str(), R | ShareAll, 65001));
    Char buf[4] = {L'#', L'#', L'#', L'#'};
    ASSERT_EQ(f.ReadText(buf, 2, false), 2u);
    EXPECT_EQ(std::wstring(buf, 2), L"a\r");
    EXPECT_EQ(buf[2], L'#') << "no terminator without room";
    ASSERT_EQ(f.ReadText(buf, 2, false), 2u);
    EXPECT_EQ(std::wstring(buf, 2), L"\nb");

    TextFile t;
    ASSERT_TRUE(t.Open(path.c_str(), R | CrLf | ShareAll, 65001));
    ASSERT_EQ(t.ReadText(buf, 2, false), 2u);
    EXPECT_EQ(std::wstring(buf, 2), L"a\n");
    ASSERT_EQ(t.ReadText(buf, 2, false), 1u);
    EXPECT_EQ(buf[0], L'b');
}

TEST_F(TextStreamTest, TranslatesLineEndsOnWrite) {
    struct Case {
        std::vector<std::wstring> writes;
        uint32_t codePage;
        Bytes expected;
    } const cases[] = {
        {{L"a\nb"}, 65001, B("a\r\nb")},
        {{L"a\r", L"\nb"}, 65001, B("a\r\nb")},
        {{L"a\n", L"\nb"}, 65001, B("a\r\n\r\nb")},
        {{L"a\r\nb"}, 65001, B("a\r\nb")},
        {{L"\n\n"}, 65001, B("\r\n\r\n")},
        {{L"a\nb"}, 1200, Utf16Bytes(L"a\r\nb")},
        {{L"a\r", L"\n"}, 1200, Utf16Bytes(L"a\r\n")},
    };
    for (const Case& c : cases) {
        std::wstring path = PathOf(L"eol.txt");
        {
            TextFile f;
            ASSERT_TRUE(f.Open(path.c_str(), W | CrLf, c.codePage));
            for (const std::wstring& w : c.writes) f.WriteText(w.c_str(), uint32_t(w.size()));
        }
        EXPECT_EQ(Contents(path), c.expected) << Hex(Contents(path));
    }
}

// Decoding

TEST_F(TextStreamTest, DecodesUtf8AndReplacesWhatItCannot) {
    struct Case {
        Bytes bytes;
        std::wstring text;
    } const cases[] = {
        {B("a\xE2\x82\xAC"), L"a\u20AC"},
        {B("\xE2\x82"), L"\uFFFD"},                      // cut at the end
        {B("ab\xF0\x9F\x98"), L"ab\uFFFD"},
        {B("\"\xC3\"x\""), L"\"\uFFFD\"x\""},            // a stray lead byte keeps the quote after it
        {B("\xE2\nb"), L"\uFFFD\nb"},                    // ... and the line end
        {B("\xE2\x82\n"), L"\uFFFD\uFFFD\n"},
        {B("\xFF" "a\x80"), L"\uFFFDa\uFFFD"},
        {B("\xC0\x80z"), L"\uFFFD\uFFFDz"},              // overlong
        {B("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD"},      // an encoded surrogate
        {B("\xF8\x88"), L"\uFFFD\uFFFD"},
        {B("\xF0\x9F\x98\x80!"), L"\U0001F600!"},
        {B("\xC3\xA9\xC3"), L"\u00E9\uFFFD"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Hex(ReadFileText(c.bytes, R, 65001)), Hex(c.text)) << Hex(c.bytes);
        EXPECT_EQ(Hex(ReadFileText(c.bytes, R, 65001, 1)), Hex(c.text)) << Hex(c.bytes) << " one at a time";
    }
}

TEST_F(TextStreamTest, StrayLeadByteDoesNotSwallowLineEnds) {
    std::wstring path = MakeFile(B("x = \"\xE9\"\r\ny = 1\r\n"));
    TextFile f;
    ASSERT_TRUE(f.Open(path.c_str(), R | CrLf | LoneCr, 65001));
    Char buf[64];
    uint32_t n = f.ReadText(buf, 63, true);
    EXPECT_EQ(std::wstring(buf, n), L"x = \"\uFFFD\"\n");
    n = f.ReadText(buf, 63, true);
    EXPECT_EQ(std::wstring(buf, n), L"y = 1\n");
}

TEST_F(TextStreamTest, Utf16OddFinalByteAndPairs) {
    EXPECT_EQ(ReadFileText(B("\xFF\xFE" "a\0b"), R, 65001), L"a\uFFFD");
    EXPECT_EQ(ReadFileText(Utf16Bytes(L"\U0001F600z"), R, 1200), L"\U0001F600z");
}

TEST_F(TextStreamTest, SurrogatePairsNeedTwoUnitsOfRoom) {
    std::wstring path = MakeFile(B("a\xF0\x9F\x98\x80"));
    TextFile f;
    ASSERT_TRUE(f.Open(path.c_str(), R | ShareAll, 65001));
    Char buf[4];
    ASSERT_EQ(f.ReadText(buf, 2, false), 1u) << "the pair does not fit beside the a";
    EXPECT_EQ(buf[0], L'a');
    ASSERT_EQ(f.ReadText(buf, 2, false), 2u);
    EXPECT_EQ(buf[0], 0xD83D);
    EXPECT_EQ(buf[1], 0xDE00);

    // A one-unit read still gets somewhere: the pair comes in two reads.
    TextFile g;
    ASSERT_TRUE(g.Open(path.c_str(), R | ShareAll, 65001));
    EXPECT_EQ(ReadAll(g, 1), L"a\U0001F600");
}

TEST_F(TextStreamTest, SequencesCutByTheBufferAreJoined) {
    const uint32_t size = TextStream::kBufferSize;
    Bytes utf8 = Bytes(size - 1, 'a') + B("\xE2\x82\xAC" "b");
    EXPECT_EQ(ReadFileText(utf8, R, 65001, 100000), std::wstring(size - 1, L'a') + L"\u20ACb");
    EXPECT_EQ(ReadFileText(utf8, R, 65001, 7), std::wstring(size - 1, L'a') + L"\u20ACb");

    Bytes crlf(size - 1, 'a');
    crlf.append("\r\nz");
    EXPECT_EQ(ReadFileText(crlf, R | CrLf, 65001, 100000), std::wstring(size - 1, L'a') + L"\nz");

    Bytes utf16 = B("\xFF\xFE") + Utf16Bytes(std::wstring(size / 2 - 2, L'a') + L"\U0001F600" + L"c");
    EXPECT_EQ(ReadFileText(utf16, R, 65001, 100000), std::wstring(size / 2 - 2, L'a') + L"\U0001F600c");
    Bytes utf16odd = B("\xFF\xFE") + Utf16Bytes(std::wstring(size / 2 - 1, L'a')) + "b";
    EXPECT_EQ(ReadFileText(utf16odd, R, 65001, 100000), std::wstring(size / 2 - 1, L'a') + L"\uFFFD");
}

TEST_F(TextStreamTest, MultibyteCodePageLeadBytes) {
    if (!IsValidCodePage(936)) GTEST_SKIP() << "code page 936 is not installed";
    struct Case {
        Bytes bytes;
        std::wstring text;
    } const cases[] = {
        {B("\xC4\xE3\xBA\xC3"), L"\u4F60\u597D"},
        {B("a\xC4\xE3z"), L"a\u4F60z"},
        {B("\xC4\xE3\xC4"), L"\u4F60\uFFFD"},  // a lead byte cut by the end
        {B("\xC4\n\xC4\xE3"), L"\uFFFD\n\u4F60"},  // a lead byte before a line end keeps the line end
        {B("\xC4\"x"), L"\uFFFD\"x"},
    };
    for (const Case& c : cases) EXPECT_EQ(Hex(ReadFileText(c.bytes, R, 936)), Hex(c.text)) << Hex(c.bytes);

    Bytes cut = Bytes(TextStream::kBufferSize - 1, 'a') + B("\xC4\xE3");
    EXPECT_EQ(ReadFileText(cut, R, 936, 100000), std::wstring(TextStream::kBufferSize - 1, L'a') + L"\u4F60");

    std::wstring path = PathOf(L"gbk.txt");
    {
        TextFile f;
        ASSERT_TRUE(f.Open(path.c_str(), W, 936));
        EXPECT_EQ(f.WriteText(L"\u4F60\u597D!", 0), 5u);
    }
    EXPECT_EQ(Contents(path), B("\xC4\xE3\xBA\xC3!"));

    if (IsValidCodePage(932)) {
        EXPECT_EQ(ReadFileText(B("\x82\xA0\x5C"), R, 932), L"\u3042\\");
    }
}

// Encoding

TEST_F(TextStreamTest, EncodesIntoTheCodePage) {
    struct Case {
        uint32_t codePage;
        std::wstring text;
        Bytes bytes;
    } const cases[] = {
        {1252, L"\u00E9\u20AC", B("\xE9\x80")},
        {65001, L"\u00E9\U0001F600", B("\xC3\xA9\xF0\x9F\x98\x80")},
        {1200, L"a\U0001F600", Utf16Bytes(L"a\U0001F600")},
        {65001, L"plain", B("plain")},
    };
    for (const Case& c : cases) {
        std::wstring path = PathOf(L"enc.txt");
        {
            TextFile f;
            ASSERT_TRUE(f.Open(path.c_str(), W, c.codePage));
            EXPECT_EQ(f.WriteText(c.text.c_str(), uint32_t(c.text.size())), c.bytes.size());
        }
        EXPECT_EQ(Contents(path), c.bytes) << Hex(Contents(path));
    }
}

TEST_F(TextStreamTest, LongTextRoundTrips) {
    std::wstring text;
    for (int i = 0; i < 6000; ++i) text += L"ab\u00E9\u4E2D\U0001F600\n";
    for (uint32_t codePage : {65001u, 1200u}) {
        std::wstring path = PathOf(L"long.txt");
        {
            TextFile f;
            ASSERT_TRUE(f.Open(path.c_str(), W | (codePage == 1200 ? Bom16 : Bom8), codePage));
            f.WriteText(text.c_str(), uint32_t(text.size()));
        }
        TextFile f;
        ASSERT_TRUE(f.Open(path.c_str(), R, 0));
        EXPECT_EQ(f.CodePage(), codePage) << "the mark decides";
        EXPECT_TRUE(ReadAll(f, 333) == text) << codePage;
    }
}

TEST_F(TextStreamTest, SettingTheCodePageWritesNoMark) {
    std::wstring path = PathOf(L"cp.txt");
    {
        TextFile f;
        ASSERT_TRUE(f.Open(path.c_str(), W, 0));
        EXPECT_EQ(f.CodePage(), AnsiCodePage());
        f.SetCodePage(kEncodingUtf8Raw);
        EXPECT_EQ(f.CodePage(), 65001u);
        f.WriteText(L"\u00E9", 1);
        f.SetCodePage(1200);
        f.WriteText(L"a", 1);
        f.SetCodePage(0);
        EXPECT_EQ(f.CodePage(), AnsiCodePage());
    }
    EXPECT_EQ(Contents(path), B("\xC3\xA9" "a\0"));
}

// Bytes

TEST_F(TextStreamTest, ReadBytesServesReadAheadThenReadsDirectly) {
    Bytes data;
    for (int i = 0; i < 30000; ++i) data += char('a' + i % 26);
    std::wstring path = MakeFile(data);
    TextFile f;
    ASSERT_TRUE(f.Open(path.c_str(), R, 65001));
    Char c[2];
    ASSERT_EQ(f.ReadText(c, 1, false), 1u);
    Bytes got(20000, '\0');
    ASSERT_EQ(f.ReadBytes(got.data(), 20000), 20000u);
    EXPECT_TRUE(got == data.substr(1, 20000));
    Bytes small(5, '\0');
    ASSERT_EQ(f.ReadBytes(small.data(), 5), 5u);
    EXPECT_EQ(small, data.substr(20001, 5));
    EXPECT_EQ(f.Position(), 20006);
    EXPECT_EQ(ReadAll(f).size(), 30000u - 20006u);
    EXPECT_EQ(f.ReadBytes(small.data(), 5), 0u);
}

TEST_F(TextStreamTest, WriteBytesBuffersSmallAndWritesLargeDirectly) {
    std::wstring path = PathOf(L"bytes.bin");
    Bytes big(10000, 'B');
    {
        TextFile f;
        ASSERT_TRUE(f.Open(path.c_str(), W, 65001));
        EXPECT_EQ(f.WriteBytes("12", 2), 2u);
        EXPECT_EQ(f.WriteBytes(big.data(), uint32_t(big.size())), big.size());
        EXPECT_EQ(f.WriteText(L"\u00E9", 1), 2u);
        EXPECT_EQ(f.Position(), 10004);
        EXPECT_EQ(f.StreamLength(), 10004);
    }
    EXPECT_TRUE(Contents(path) == "12" + big + B("\xC3\xA9"));
}

TEST_F(TextStreamTest, PositionSeekAndLength) {
    std::wstring path = MakeFile(B("hello world"));
    {
        TextFile f;
        ASSERT_TRUE(f.Open(path.c_str(), RW, 65001));
        Char buf[8];
        ASSERT_EQ(f.ReadText(buf, 5, false), 5u);
        EXPECT_EQ(f.Position(), 5);
        EXPECT_FALSE(f.AtEOF());
        EXPECT_TRUE(f.SeekTo(0, 2));
        EXPECT_TRUE(f.AtEOF());
        f.WriteText(L"!", 1);
        EXPECT_EQ(f.Position(), 12);
        EXPECT_EQ(f.StreamLength(), 12);
        EXPECT_TRUE(f.SeekTo(-6, 2));
        ASSERT_EQ(f.ReadText(buf, 5, false), 5u);
        EXPECT_EQ(std::wstring(buf, 5), L"world");
        EXPECT_TRUE(f.SetLength(5));
        EXPECT_EQ(f.Position(), 5);
        EXPECT_TRUE(f.AtEOF());
    }
    EXPECT_EQ(Contents(path), "hello");
}

// Opening and closing

TEST_F(TextStreamTest, OpenFailuresLeaveTheSystemError) {
    TextFile f;
    EXPECT_FALSE(f.Open(PathOf(L"missing.txt").c_str(), R, 65001));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(f.IsOpen());
    Char buf[4];
    EXPECT_EQ(f.ReadText(buf, 3, false), 0u);
    EXPECT_EQ(f.WriteText(L"x", 1), 0u);
    EXPECT_FALSE(f.OpenHandle(INVALID_HANDLE_VALUE, R, 65001));
    EXPECT_NE(GetLastError(), DWORD(NO_ERROR));
}

TEST_F(TextStreamTest, ShareModeComesFromTheFlags) {
    std::wstring path = PathOf(L"share.txt");
    TextFile f;
    ASSERT_TRUE(f.Open(path.c_str(), W, 65001));
    HANDLE other = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    ASSERT_TRUE(f.Open(path.c_str(), W | ShareAll, 65001));
    other = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
}

TEST_F(TextStreamTest, ReopeningAndDestroyingFlushAndClose) {
    std::wstring first = PathOf(L"first.txt");
    std::wstring second = PathOf(L"second.txt");
    {
        TextFile f;
        ASSERT_TRUE(f.Open(first.c_str(), W, 65001));
        f.WriteText(L"abc", 3);
        ASSERT_TRUE(f.Open(second.c_str(), W, 65001));
        EXPECT_EQ(Contents(first), "abc");
        EXPECT_TRUE(DeleteFileW(first.c_str())) << "the old handle was closed";
        f.WriteText(L"def", 3);
    }
    EXPECT_EQ(Contents(second), "def");
    EXPECT_TRUE(DeleteFileW(second.c_str()));
    TextFile closed;
    closed.Close();
    EXPECT_FALSE(closed.Flush() && closed.IsOpen());
}

TEST_F(TextStreamTest, HandleModeNeitherReadsNorWritesMarksNorCloses) {
    std::wstring path = MakeFile(B("\xEF\xBB\xBF" "ab"));
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    {
        TextFile f;
        ASSERT_TRUE(f.OpenHandle(h, R, 1252));
        EXPECT_TRUE(f.Flags() & TextStream::HandleMode);
        EXPECT_EQ(f.Handle(), h);
        EXPECT_EQ(f.CodePage(), 1252u);
        EXPECT_EQ(ReadAll(f), L"\u00EF\u00BB\u00BF" L"ab");
    }
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u) << "the handle is still open";
    SetEndOfFile(h);
    {
        TextFile f;
        ASSERT_TRUE(f.OpenHandle(h, W | Bom8, 65001));
        f.WriteText(L"x", 1);
    }
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "y", 1, &written, nullptr));
    CloseHandle(h);
    EXPECT_EQ(Contents(path), "xy");
}

// Swaps a standard handle for a file while a test opens "*" or "**".
class StdHandleSwap {
public:
    StdHandleSwap(DWORD which, HANDLE replacement) : m_which(which), m_old(GetStdHandle(which)) {
        SetStdHandle(which, replacement);
    }
    ~StdHandleSwap() { SetStdHandle(m_which, m_old); }

private:
    DWORD m_which;
    HANDLE m_old;
};

TEST_F(TextStreamTest, StandardHandlesGetNoMarksAndStayOpen) {
    struct Case {
        const wchar_t* name;
        DWORD which;
        uint32_t flags;
    } const cases[] = {
        {L"*", STD_OUTPUT_HANDLE, W | Bom8},
        {L"*", STD_OUTPUT_HANDLE, A | Bom8},
        {L"**", STD_ERROR_HANDLE, W | Bom16},
        {L"**", STD_ERROR_HANDLE, A | Bom8},
    };
    for (const Case& c : cases) {
        std::wstring path = PathOf(L"std.txt");
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        {
            StdHandleSwap swap(c.which, h);
            TextFile f;
            ASSERT_TRUE(f.Open(c.name, c.flags, 65001));
            EXPECT_EQ(f.Handle(), h);
            EXPECT_EQ(f.Flags() & (TextStream::HandleMode | TextStream::AccessMask), TextStream::HandleMode | W)
                << "append on a standard handle is write";
            f.WriteText(L"out", 0);
        }
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(h, "!", 1, &written, nullptr)) << "closing the stream left the handle open";
        CloseHandle(h);
        EXPECT_EQ(Contents(path), "out!");
    }

    std::wstring path = MakeFile(B("\xEF\xBB\xBF" "in\r\n"));
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    {
        StdHandleSwap swap(STD_INPUT_HANDLE, h);
        TextFile f;
        ASSERT_TRUE(f.Open(L"*", R | CrLf, 65001));
        EXPECT_EQ(ReadAll(f), L"\uFEFFin\n") << "piped input is data from its first byte";
    }
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
    CloseHandle(h);
}

TEST_F(TextStreamTest, OtherUsesOfStarAreFileNames) {
    TextFile f;
    EXPECT_FALSE(f.Open(L"**", R, 65001));
    EXPECT_FALSE(f.Open(L"*", RW, 65001));
}

// Memory

TEST_F(TextStreamTest, MemoryStreamsReadWithMarks) {
    static const char kScript[] = "\xEF\xBB\xBF" "MsgBox \"h\xC3\xA9\"\r\nExit\rEnd";
    TextMem m;
    ASSERT_TRUE(m.Open(kScript, sizeof kScript - 1, false, R | CrLf | LoneCr | ShareAll, 1252));
    EXPECT_EQ(m.CodePage(), 65001u);
    Char buf[32];
    uint32_t n = m.ReadText(buf, 31, true);
    EXPECT_EQ(std::wstring(buf, n), L"MsgBox \"h\u00E9\"\n");
    n = m.ReadText(buf, 31, true);
    EXPECT_EQ(std::wstring(buf, n), L"Exit\n");
    n = m.ReadText(buf, 31, true);
    EXPECT_EQ(std::wstring(buf, n), L"End");
    EXPECT_EQ(m.ReadText(buf, 31, true), 0u);
    EXPECT_FALSE(m.SeekTo(0, 0));

    // An owned block is freed on reopen and on destruction (checked by leak tools, exercised here).
    char* owned = static_cast<char*>(malloc(4));
    memcpy(owned, "a\0b\0", 4);
    ASSERT_TRUE(m.Open(owned, 4, true, R, 1200));
    EXPECT_EQ(ReadAll(m), L"ab");
    char* again = static_cast<char*>(malloc(2));
    memcpy(again, "zz", 2);
    ASSERT_TRUE(m.Open(again, 2, true, R, 65001));
    EXPECT_EQ(ReadAll(m), L"zz");
}

}  // namespace
}  // namespace brm
