// Physical lines to logical lines: comments, block comments, continuation sections and continued
// expressions. Line numbers count every physical line so each logical line carries its first line's number.
#include "loader/ScriptReader.h"
#include "loader/LineParser.h"
#include "loader/LoadError.h"
#include "startup/ScriptHost.h"
#include "system/TextStream.h"

namespace brm {

namespace {

constexpr size_t kMaxTrackedBrackets = 100;  // deeper closers are counted but no longer matched
constexpr size_t kSpaceBeforeSectionLimit = 16384;
constexpr size_t kMaxJoinChars = 15;

bool IsBlank(Char c) { return c == L' ' || c == L'\t'; }
bool IsWordChar(Char c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_' || c > 127; }
Char FoldAZ(Char c) { return c >= L'A' && c <= L'Z' ? static_cast<Char>(c + 32) : c; }

bool EqualsNoCase(const Char* a, size_t n, const Char* word) {
    for (size_t i = 0; i < n; ++i, ++word)
        if (!*word || FoldAZ(a[i]) != FoldAZ(*word)) return false;
    return *word == 0;
}

bool IsOneOf(const Char* a, size_t n, std::initializer_list<const Char*> words) {
    for (const Char* w : words)
        if (EqualsNoCase(a, n, w)) return true;
    return false;
}

bool StartsWith(const Char* s, size_t len, const Char* prefix) {
    size_t n = wcslen(prefix);
    return len >= n && wcsncmp(s, prefix, n) == 0;
}

bool StartsWithNoCase(const Char* s, size_t len, const Char* prefix) {
    size_t n = wcslen(prefix);
    if (len < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (FoldAZ(s[i]) != FoldAZ(prefix[i])) return false;
    return true;
}

void TrimRight(LineBuffer& b) {
    size_t n = b.Length();
    while (n && IsBlank(b.Data()[n - 1])) --n;
    b.SetLength(n);
}

void TrimLeft(LineBuffer& b) {
    size_t skip = 0;
    while (skip < b.Length() && IsBlank(b.Data()[skip])) ++skip;
    if (skip) {
        wmemmove(b.Data(), b.Data() + skip, b.Length() - skip);
        b.SetLength(b.Length() - skip);
    }
}

// The first word (letters, digits, underscore, characters above 127) when a blank, "(" or "{" follows it.
size_t WordAt(const Char* s, size_t len, size_t at) {
    size_t end = at;
    while (end < len && IsWordChar(s[end])) ++end;
    if (end == at) return 0;
    if (end < len && !IsBlank(s[end]) && s[end] != L'(' && s[end] != L'{') return 0;
    return end - at;
}

size_t SkipBlanks(const Char* s, size_t len, size_t at) {
    while (at < len && IsBlank(s[at])) ++at;
    return at;
}

const std::initializer_list<const Char*> kStatementWords = {
    L"If", L"Else", L"Loop", L"For", L"While", L"Until", L"Break", L"Continue", L"Goto", L"Return",
    L"Try", L"Catch", L"Finally", L"Throw", L"Switch", L"Case"};

bool EndsWithContinuationOperator(const Char* s, size_t len) {
    if (!len) return false;
    Char last = s[len - 1];
    if (wcschr(L"<>=/|^,?:+-*&!~", last)) {
        if ((last == L'+' || last == L'-') && len >= 2 && s[len - 2] == last) return false;
        return true;
    }
    if (last == L'.') return len >= 2 && IsBlank(s[len - 2]);
    size_t start = len;
    while (start && IsWordChar(s[start - 1])) --start;
    if (start == len) return false;
    if (start && s[start - 1] == L'.') return false;  // a property name, not an operator
    return IsOneOf(s + start, len - start, {L"or", L"and", L"not", L"is", L"as", L"contains", L"in"});
}

// A hotkey's text: modifier symbols, then a key name or a character, or "key & key", optionally " up".
bool LooksLikeHotkey(const Char* s, size_t len) {
    size_t i = 0;
    while (i < len && wcschr(L"#!^+<>*~$", s[i]) && i + 1 < len) ++i;
    if (i >= len) return false;
    size_t rest = len - i;
    const Char* k = s + i;
    if (rest >= 3 && EqualsNoCase(k + rest - 3, 3, L" up")) rest -= 3;
    if (rest == 1) return true;
    for (size_t j = 0; j < rest; ++j)
        if (!IsWordChar(k[j]) && !(k[j] == L' ' || k[j] == L'&')) return false;
    for (size_t j = 0; j < rest; ++j)  // spaces only around a single "&"
        if (k[j] == L' ' && !(j + 1 < rest && k[j + 1] == L'&') && !(j && k[j - 1] == L'&')) return false;
    return true;
}

bool IsHotstringDefinition(const Char* s, size_t len) {
    if (!len || s[0] != L':') return false;
    for (size_t i = 1; i < len; ++i) {
        if (s[i] == L':') return true;
        if (!IsWordChar(s[i]) && !wcschr(L"?*- \t", s[i])) return false;
    }
    return false;
}

bool BeginsWithContinuationOperator(const Char* s, size_t len) {
    if (!len) return false;
    Char c = s[0];
    if (wcschr(L"<>=/|^,?:.+-*&!~", c)) {
        if ((c == L'+' || c == L'-') && len >= 2 && s[1] == c) return false;
        if (c == L':' && len >= 2 && s[1] == L':') return false;
        for (size_t i = 0; i + 1 < len; ++i)
            if (s[i] == L':' && s[i + 1] == L':') {
                if (i && LooksLikeHotkey(s, i)) return false;
                break;
            }
        if (IsHotstringDefinition(s, len)) return false;
        return true;
    }
    size_t w = 0;
    while (w < len && IsWordChar(s[w])) ++w;
    if (!w || w >= len || !IsBlank(s[w])) return false;
    return IsOneOf(s, w, {L"and", L"or", L"is", L"in", L"contains", L"as"});
}

// Index of the first ":" that is not part of ":=" and not inside quotes, brackets or a "? :" pair.
size_t FirstBareColon(const Char* s, size_t len) {
    Char quote = 0;
    int depth = 0, ternary = 0;
    for (size_t i = 0; i < len; ++i) {
        Char c = s[i];
        if (quote) {
            if (c == L'`') ++i;
            else if (c == quote) quote = 0;
            continue;
        }
        switch (c) {
            case L'"': case L'\'': quote = c; break;
            case L'(': case L'[': case L'{': ++depth; break;
            case L')': case L']': case L'}': --depth; break;
            case L'?':
                if (i + 1 < len && s[i + 1] == L'?') ++i;
                else if (depth == 0) ++ternary;
                break;
            case L':':
                if (i + 1 < len && s[i + 1] == L'=') { ++i; break; }
                if (depth) break;
                if (ternary) { --ternary; break; }
                return i;
        }
    }
    return len;
}

struct BracketState {
    Char expected[kMaxTrackedBrackets];
    size_t depth = 0;
    Char quote = 0;
};

}  // namespace

// ---- LineBuffer ----

LineBuffer::LineBuffer() : m_data(static_cast<Char*>(malloc((kInitialChars + kReserveChars) * sizeof(Char)))), m_capacity(kInitialChars) {
    if (!m_data) m_capacity = 0;
    else m_data[0] = 0;
}

LineBuffer::~LineBuffer() { free(m_data); }

bool LineBuffer::Reserve(size_t chars) {
    if (chars <= m_capacity && m_data) return true;
    size_t capacity = m_capacity ? m_capacity : kInitialChars;
    while (capacity < chars) capacity *= 2;
    auto grown = static_cast<Char*>(realloc(m_data, (capacity + kReserveChars) * sizeof(Char)));
    if (!grown) return false;
    m_data = grown;
    m_capacity = capacity;
    return true;
}

bool LineBuffer::Append(const Char* text, size_t count) {
    if (!Reserve(m_length + count)) return false;
    wmemcpy(m_data + m_length, text, count);
    SetLength(m_length + count);
    return true;
}

void LineBuffer::Swap(LineBuffer& other) {
    std::swap(m_data, other.m_data);
    std::swap(m_length, other.m_length);
    std::swap(m_capacity, other.m_capacity);
}

// ---- ScriptReader ----

ScriptReader::ScriptReader(TextStream& stream, uint16_t fileIndex, LineSink sink, void* sinkContext)
    : m_stream(stream), m_fileIndex(fileIndex), m_sink(sink), m_sinkContext(sinkContext) {}

ScriptReader::ReadResult ScriptReader::ReadPhysical(LineBuffer& into) {
    into.Clear();
    bool gotAny = false;
    for (;;) {
        if (!into.Reserve(into.Length() + 1024)) return ReadResult::EndOfInput;  // cannot grow: treat as the end
        size_t room = 1024;
        uint32_t n = m_stream.ReadText(into.Data() + into.Length(), static_cast<uint32_t>(room), true);
        if (n == 0) break;
        gotAny = true;
        into.SetLength(into.Length() + n);
        if (into.Data()[into.Length() - 1] == L'\n') {
            into.SetLength(into.Length() - 1);
            break;
        }
    }
    if (!gotAny) return ReadResult::EndOfInput;
    // Standard input is never checked for a byte-order mark, so a piped script may still start with one.
    if (m_physicalLines == 0 && into.Length() && into.Data()[0] == 0xFEFF) {
        wmemmove(into.Data(), into.Data() + 1, into.Length() - 1);
        into.SetLength(into.Length() - 1);
    }
    ++m_physicalLines;

    const Char* s = into.Data();
    size_t first = SkipBlanks(s, into.Length(), 0);
    if (m_section == SectionKind::Plain) {
        if (first >= into.Length() || s[first] != L')') return ReadResult::Line;
        TrimLeft(into);
        TrimRight(into);
        RemoveTrailingComment(into, 0);
        return ReadResult::Line;
    }
    if (m_section == SectionKind::WithComments) {
        if (first < into.Length() && s[first] == L';') return ReadResult::Comment;
        if (first < into.Length() && s[first] == L')') TrimLeft(into);
        RemoveTrailingComment(into, 0);
        return ReadResult::Line;
    }
    TrimLeft(into);
    TrimRight(into);
    s = into.Data();
    if (m_inBlockComment) {
        if (!StartsWith(s, into.Length(), L"*/")) return ReadResult::Line;
    } else {
        if (into.Length() && s[0] == L';') {
            into.Clear();
            return ReadResult::Line;
        }
        if (StartsWith(s, into.Length(), L"/*")) return ReadResult::Line;
    }
    RemoveTrailingComment(into, 0);
    return ReadResult::Line;
}

void ScriptReader::RemoveTrailingComment(LineBuffer& line, size_t from) {
    Char* s = line.Data();
    size_t len = line.Length();
    for (size_t i = from; i < len; ++i) {
        if (s[i] != L';') continue;
        if (i == 0) {
            line.Clear();
            return;
        }
        if (IsBlank(s[i - 1])) {
            line.SetLength(i - 1);
            TrimRight(line);
            return;
        }
        if (m_literalBackquote) continue;
        size_t run = 0;
        while (run < i && s[i - 1 - run] == L'`') ++run;
        if (run % 2) {  // "`;" is a plain semicolon
            wmemmove(s + i - 1, s + i, len - i);
            --len;
            line.SetLength(len);
            --i;
        }
    }
}

Status ScriptReader::ReadLogical() {
    for (;;) {
        ReadResult r = ReadPhysical(m_next);
        if (r == ReadResult::EndOfInput) {
            m_next.Clear();
            m_endOfInput = true;
            return Status::Ok;
        }
        const Char* s = m_next.Data();
        size_t len = m_next.Length();
        if (m_inBlockComment) {
            if (StartsWith(s, len, L"*/")) {
                m_inBlockComment = false;
                size_t rest = SkipBlanks(s, len, 2);
                wmemmove(m_next.Data(), s + rest, len - rest);
                m_next.SetLength(len - rest);
            } else {
                if (len >= 2 && s[len - 2] == L'*' && s[len - 1] == L'/') m_inBlockComment = false;
                continue;
            }
        } else if (StartsWith(s, len, L"/*")) {
            if (!(len >= 4 && s[len - 2] == L'*' && s[len - 1] == L'/')) m_inBlockComment = true;
            continue;
        }
        if (m_next.Empty()) continue;
        m_nextLineNumber = m_physicalLines;
        s = m_next.Data();
        if (s[0] == L'(' && s[1] != L':') {
            bool isSection = false;
            BRM_TRY(ReadSection(&isSection));
            if (isSection) continue;
        }
        return Status::Ok;
    }
}

Status ScriptReader::ReadSection(bool* isSection) {
    // Options are read before the look-ahead buffer is reused for the section's lines.
    const Char* s = m_next.Data() + 1;
    size_t len = m_next.Length() - 1;
    Char join[kMaxJoinChars + 1] = L"\n";
    LTrimMode ltrim = LTrimMode::Automatic;
    bool rtrim = true, comments = false, literal = false;
    std::wstring invalid;
    bool haveInvalid = false;
    for (size_t i = 0; i < len;) {
        i = SkipBlanks(s, len, i);
        if (i >= len) break;
        size_t end = i;
        while (end < len && !IsBlank(s[end])) ++end;
        const Char* w = s + i;
        size_t n = end - i;
        i = end;
        for (size_t k = 0; k < n; ++k)
            if (w[k] == L'(' || w[k] == L')') return Status::Ok;  // an expression, not a section
        if (StartsWithNoCase(w, n, L"Join")) {
            size_t j = 0;
            for (size_t k = 4; k < n && j < kMaxJoinChars; ++k) {
                if (w[k] == L'`' && k + 1 < n && (w[k + 1] == L's' || w[k + 1] == L't')) {
                    join[j++] = w[k + 1] == L's' ? L' ' : L'\t';
                    ++k;
                } else {
                    join[j++] = w[k];
                }
            }
            join[j] = 0;
        } else if (EqualsNoCase(w, n, L"LTrim")) {
            ltrim = LTrimMode::All;
        } else if (EqualsNoCase(w, n, L"LTrim0")) {
            ltrim = LTrimMode::None;
        } else if (EqualsNoCase(w, n, L"RTrim0")) {
            rtrim = false;
        } else if (EqualsNoCase(w, n, L"RTrim")) {
        } else if (n <= 8 && StartsWithNoCase(L"Comments", 8, std::wstring(w, n).c_str())) {
            comments = true;
        } else if (n == 1 && w[0] == L'`') {
            literal = true;
        } else if (!haveInvalid) {
            haveInvalid = true;
            invalid.assign(w, n);
        }
    }
    if (haveInvalid) return ReportLoadErrorMsg(Msg::InvalidOption, invalid.c_str());

    *isSection = true;
    wcscpy(m_join, join);
    m_ltrim = ltrim;
    m_rtrim = rtrim;
    m_literalBackquote = literal;
    m_section = comments ? SectionKind::WithComments : SectionKind::Plain;
    m_contentLines = 0;
    m_indentChar = 0;
    m_indentCount = 0;

    // Does the logical line so far end inside a string? Then the section continues that string.
    m_quote = 0;
    const Char* line = m_line.Data();
    for (size_t i = 0; i < m_line.Length(); ++i) {
        if (m_quote) {
            if (line[i] == L'`') ++i;
            else if (line[i] == m_quote) m_quote = 0;
        } else if (line[i] == L'"' || line[i] == L'\'') {
            m_quote = line[i];
        }
    }

    for (;;) {
        ReadResult r = ReadPhysical(m_next);
        if (r == ReadResult::EndOfInput) {
            m_section = SectionKind::None;
            m_literalBackquote = false;
            m_next.Clear();
            return ReportLoadErrorMsg(Msg::MissingCloseParen, m_line.Data());
        }
        if (r == ReadResult::Comment) continue;
        if (m_next.Length() && m_next.Data()[0] == L')') {
            TrimRight(m_next);
            bool ok = m_line.Append(m_next.Data() + 1, m_next.Length() - 1);
            m_section = SectionKind::None;
            m_literalBackquote = false;
            m_next.Clear();
            if (!ok) return ReportLoadErrorMsg(Msg::OutOfMemory);
            return Status::Ok;
        }
        if (!AppendSectionContent(m_next.Data(), m_next.Length())) return ReportLoadErrorMsg(Msg::OutOfMemory);
    }
}

bool ScriptReader::AppendSectionContent(const Char* text, size_t length) {
    bool first = m_contentLines == 0;
    if (first && !m_quote && !m_line.Empty() && m_line.Length() < kSpaceBeforeSectionLimit &&
        IsWordChar(m_line.Data()[m_line.Length() - 1])) {
        if (!m_line.Append(L' ')) return false;
    }
    size_t start = 0;
    if (m_ltrim == LTrimMode::Automatic) {
        if (first) {
            m_indentChar = length && IsBlank(text[0]) ? text[0] : 0;
            m_indentCount = 0;
            if (m_indentChar)
                while (m_indentCount < length && text[m_indentCount] == m_indentChar) ++m_indentCount;
        }
        if (m_indentCount && length >= m_indentCount) {
            size_t k = 0;
            while (k < m_indentCount && text[k] == m_indentChar) ++k;
            if (k == m_indentCount) start = k;
        }
    } else if (m_ltrim == LTrimMode::All) {
        start = SkipBlanks(text, length, 0);
    }
    size_t end = length;
    if (m_rtrim)
        while (end > start && IsBlank(text[end - 1])) --end;
    if (!first && !m_line.Append(m_join, wcslen(m_join))) return false;
    ++m_contentLines;
    if (!m_quote && !m_literalBackquote) return m_line.Append(text + start, end - start);
    for (size_t i = start; i < end; ++i) {
        Char c = text[i];
        if (c == L'`') {
            if (m_literalBackquote) {
                if (!m_line.Append(L"``", 2)) return false;
            } else {
                if (!m_line.Append(c)) return false;
                if (i + 1 < end && !m_line.Append(text[++i])) return false;
            }
        } else if (m_quote && c == m_quote) {
            if (!m_line.Append(L'`') || !m_line.Append(c)) return false;
        } else if (!m_line.Append(c)) {
            return false;
        }
    }
    return true;
}

Status ScriptReader::Run(bool startedInsideBlock) {
    int32_t lineNumber = 0;
    m_line.Clear();
    m_next.Clear();
    for (;;) {
        g_script.loadFileIndex = m_fileIndex;
        g_script.loadLineNumber = lineNumber;
        BRM_TRY(ReadLogical());
        if (!m_line.Empty()) {
            BRM_TRY(m_sink ? m_sink(*this, m_sinkContext) : ClassifyLine(*this));
            g_script.loadFileIndex = m_fileIndex;  // an include in the line may have moved it
        }
        if (m_endOfInput && m_next.Empty()) break;
        m_line.Swap(m_next);
        m_next.Clear();
        lineNumber = m_nextLineNumber;
    }
    g_script.loadLineNumber = lineNumber;
    BRM_TRY(FinishFile(startedInsideBlock));
    g_script.loadLineNumber = lineNumber + 1;
    return Status::Ok;
}

Status ScriptReader::ContinueExpression(ContinueContext ctx) {
    BracketState st;
    auto count = [&](size_t from) -> Status {
        const Char* s = m_line.Data();
        for (size_t i = from; i < m_line.Length(); ++i) {
            Char c = s[i];
            if (st.quote) {
                if (c == L'`') ++i;
                else if (c == st.quote) st.quote = 0;
                continue;
            }
            switch (c) {
                case L'"': case L'\'': st.quote = c; break;
                case L'(': case L'[': case L'{':
                    if (st.depth < kMaxTrackedBrackets) st.expected[st.depth] = c == L'(' ? L')' : c == L'[' ? L']' : L'}';
                    ++st.depth;
                    break;
                case L')': case L']': case L'}':
                    if (!st.depth) return ReportLoadErrorF(m_line.Data(), Msg::UnexpectedChar, c);
                    --st.depth;
                    if (st.depth < kMaxTrackedBrackets && st.expected[st.depth] != c)
                        return ReportLoadErrorF(m_line.Data(), Msg::MissingBefore, st.expected[st.depth], c);
                    break;
            }
        }
        if (st.quote) return ReportLoadErrorF(m_line.Data(), Msg::MissingChar, st.quote);
        return Status::Ok;
    };
    BRM_TRY(count(0));

    for (;;) {
        const Char* s = m_line.Data();
        size_t len = m_line.Length();
        // The statement word that decides how a trailing "{" is read: "Else If" counts as "If".
        size_t wordAt = 0, wordLen = WordAt(s, len, 0);
        if (ctx == ContinueContext::ClassBody && wordLen && EqualsNoCase(s, wordLen, L"Static")) {
            wordAt = SkipBlanks(s, len, wordLen);
            wordLen = WordAt(s, len, wordAt);
        }
        bool braceAfterElse = false;
        if (wordLen && IsOneOf(s + wordAt, wordLen, {L"Else", L"Try", L"Finally"})) {
            size_t after = SkipBlanks(s, len, wordAt + wordLen);
            if (after < len && s[after] == L'{') braceAfterElse = true;
            else {
                size_t nextAt = after, nextLen = WordAt(s, len, after);
                if (nextLen) { wordAt = nextAt; wordLen = nextLen; }
            }
        }

        bool join = false;
        if (st.depth == 0) {
            if (m_next.Empty() || len == 0 || braceAfterElse) return Status::Ok;
            const Char* n = m_next.Data();
            size_t nlen = m_next.Length();
            if (s[len - 1] == L':') {
                if (FirstBareColon(s, len) == len - 1) return Status::Ok;  // a label or similar
                join = true;
            } else if (EndsWithContinuationOperator(s, len)) {
                size_t w = 0;
                while (w < nlen && IsWordChar(n[w])) ++w;
                join = !(w && IsOneOf(n, w, kStatementWords));
            } else {
                join = BeginsWithContinuationOperator(n, nlen);
            }
            if (!join) return Status::Ok;
        } else if (st.depth == 1 && len >= 2 && s[len - 1] == L'{') {
            size_t before = len - 1;
            while (before && IsBlank(s[before - 1])) --before;
            if (before && (s[before - 1] == L')' || s[before - 1] == L']')) return Status::Ok;
            if (wordLen && IsOneOf(s + wordAt, wordLen, {L"If", L"Else", L"Loop", L"For", L"While", L"Try", L"Catch", L"Finally", L"Switch"}) &&
                !EndsWithContinuationOperator(s, before))
                return Status::Ok;
            if (ctx == ContinueContext::ClassBody && wordLen && SkipBlanks(s, len, wordAt + wordLen) == len - 1) return Status::Ok;
        }

        if (m_next.Empty()) {
            if (st.depth > kMaxTrackedBrackets) return ReportLoadErrorMsg(Msg::MissingSymbol, m_line.Data());
            return ReportLoadErrorF(m_line.Data(), Msg::MissingChar, st.expected[st.depth - 1]);
        }
        size_t from = m_line.Length();
        if (!m_line.Append(L' ') || !m_line.Append(m_next.Data(), m_next.Length())) return ReportLoadErrorMsg(Msg::OutOfMemory);
        m_next.Clear();
        BRM_TRY(ReadLogical());
        BRM_TRY(count(from));
    }
}

}  // namespace brm
