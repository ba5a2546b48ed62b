// Reads one script file into logical lines: comments removed, continuation sections joined,
// continued expressions pulled together. One reader per file being read; includes nest readers.
#pragma once
#include <cstddef>
#include <cstdint>
#include "expr/ValueToken.h"

namespace brm {

class TextStream;

// A growable line of wide characters. Starts at 4096 characters and doubles; no other limit.
class LineBuffer {
public:
    LineBuffer();
    ~LineBuffer();
    LineBuffer(const LineBuffer&) = delete;
    LineBuffer& operator=(const LineBuffer&) = delete;

    Char* Data() { return m_data; }
    const Char* Data() const { return m_data; }
    size_t Length() const { return m_length; }
    bool Empty() const { return m_length == 0; }
    bool Reserve(size_t chars);  // false when memory runs out
    bool Append(const Char* text, size_t count);
    bool Append(Char c) { return Append(&c, 1); }
    void SetLength(size_t length) { m_length = length; m_data[length] = 0; }
    void Clear() { SetLength(0); }
    void Swap(LineBuffer& other);

private:
    static constexpr size_t kInitialChars = 4096;
    static constexpr size_t kReserveChars = 3;  // room for a terminator and a little look-behind
    Char* m_data;
    size_t m_length = 0;
    size_t m_capacity;
};

enum class ContinueContext : uint8_t { Normal, ClassBody };

class ScriptReader;
// Where finished logical lines go: the line classifier, or a test's recorder.
using LineSink = Status (*)(ScriptReader& reader, void* context);

class ScriptReader {
public:
    ScriptReader(TextStream& stream, uint16_t fileIndex, LineSink sink = nullptr, void* sinkContext = nullptr);

    // Reads the whole file, handing each logical line to the line classifier.
    Status Run(bool startedInsideBlock);

    Char* Line() { return m_line.Data(); }
    size_t LineLength() const { return m_line.Length(); }
    void SetLineLength(size_t length) { m_line.SetLength(length); }
    // The first physical line of the next logical line (empty at end of input).
    const Char* LookAhead() const { return m_next.Data(); }
    size_t LookAheadLength() const { return m_next.Length(); }
    // Marks the look-ahead line as used by the current statement (for example a function's "{").
    void ConsumeLookAhead() { m_next.Clear(); }
    int32_t LookAheadLineNumber() const { return m_nextLineNumber; }

    // Extends the current line with following lines while brackets stay open or a continuation
    // operator joins them. Reports and fails on unbalanced brackets and unterminated strings.
    Status ContinueExpression(ContinueContext ctx);

private:
    enum class SectionKind : uint8_t { None, Plain, WithComments };
    enum class LTrimMode : uint8_t { Automatic, All, None };
    enum class ReadResult : uint8_t { Line, Comment, EndOfInput };

    ReadResult ReadPhysical(LineBuffer& into);
    Status ReadLogical();
    Status ReadSection(bool* isSection);
    void RemoveTrailingComment(LineBuffer& line, size_t from);
    bool AppendSectionContent(const Char* text, size_t length);

    TextStream& m_stream;
    uint16_t m_fileIndex;
    LineSink m_sink;
    void* m_sinkContext;
    int32_t m_physicalLines = 0;   // physical lines read so far in this file
    int32_t m_nextLineNumber = 0;  // number of the look-ahead line
    bool m_endOfInput = false;
    bool m_inBlockComment = false;
    LineBuffer m_line;
    LineBuffer m_next;

    // Continuation-section state (for the section being read).
    SectionKind m_section = SectionKind::None;
    Char m_join[16] = L"\n";
    LTrimMode m_ltrim = LTrimMode::Automatic;
    bool m_rtrim = true;
    bool m_literalBackquote = false;
    Char m_quote = 0;  // the quote of a string the section continues, or 0
    Char m_indentChar = 0;
    size_t m_indentCount = 0;
    int m_contentLines = 0;
};

}  // namespace brm
