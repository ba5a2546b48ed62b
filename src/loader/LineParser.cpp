// The line classifier and statement parser. Each logical line is classified once; statements are split
// into argument records (escape sequences resolved, with a literal map) and handed to the block linker.
// The parser reuses its working buffers from line to line: nothing is allocated per line except the
// permanent copies a ScriptLine keeps.
#include "loader/LineParser.h"
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include "base/Pool.h"
#include "exec/GlobalVars.h"
#include "exec/Raise.h"
#include "exec/Scope.h"
#include "expr/Compiler.h"
#include "expr/Tokenizer.h"
#include "expr/Var.h"
#include "loader/BlockLinker.h"
#include "loader/Definitions.h"
#include "loader/Directives.h"
#include "loader/LoadError.h"
#include "loader/ScriptReader.h"
#include "objects/BuiltInFunctions.h"
#include "startup/ScriptHost.h"

namespace brm {

namespace {

constexpr size_t kMaxWordLength = 253;  // longer leading words are never statement words or names
constexpr int kMaxArgs = 20;            // the most any statement takes (For, Case)
constexpr size_t kNameShownChars = 300; // names quoted in messages are cut to this

struct ActionInfo {
    const Char* word;
    uint8_t minArgs;
    uint8_t maxArgs;
};

constexpr ActionInfo kActions[] = {
#define BRM_LA_INFO(code, name, word, minArgs, maxArgs) {word, minArgs, maxArgs},
    BRM_LINE_ACTIONS(BRM_LA_INFO)
#undef BRM_LA_INFO
};

const ActionInfo& Info(LineAction a) { return kActions[static_cast<int>(a)]; }

inline bool IsBlank(Char c) { return c == L' ' || c == L'\t'; }
inline bool IsDigit(Char c) { return c >= L'0' && c <= L'9'; }

bool EqualsFold(const Char* a, size_t aLength, const Char* b) {
    return CompareFoldAZ(a, aLength, b, wcslen(b)) == 0;
}

// The statement words proper (If to Case) that may open a line.
LineAction FindStatementWord(const Char* word, size_t length) {
    for (int code = static_cast<int>(LineAction::If); code <= static_cast<int>(LineAction::Case); ++code) {
        if (code >= static_cast<int>(LineAction::LoopFiles) && code <= static_cast<int>(LineAction::LoopParse))
            continue;  // two-word forms are reached through Loop
        if (EqualsFold(word, length, kActions[code].word)) return static_cast<LineAction>(code);
    }
    return LineAction::Invalid;
}

size_t SkipBlanks(const Char* text, size_t i) {
    while (IsBlank(text[i])) ++i;
    return i;
}

// Trims blanks from both ends in place (moves the start pointer).
void Trim(Char*& text, size_t& length) {
    while (length && IsBlank(*text)) ++text, --length;
    while (length && IsBlank(text[length - 1])) --length;
    text[length] = 0;
}

// Growable working buffers, kept between lines.
template <class T>
class Scratch {
public:
    ~Scratch() { free(m_data); }
    T* Get(size_t count) {
        if (count > m_capacity) {
            size_t capacity = m_capacity ? m_capacity : 256;
            while (capacity < count) capacity *= 2;
            T* grown = static_cast<T*>(realloc(m_data, capacity * sizeof(T)));
            if (!grown) return nullptr;
            m_data = grown;
            m_capacity = capacity;
        }
        return m_data;
    }

private:
    T* m_data = nullptr;
    size_t m_capacity = 0;
};

Scratch<bool> s_literalMap;
Scratch<Char> s_callText;

// Resolves escape sequences in place, filling map (one flag per resulting character). Returns the new length.
size_t ResolveEscapes(Char* text, size_t length, bool* map) {
    size_t out = 0;
    for (size_t i = 0; i < length; ++i) {
        Char c = text[i];
        if (c == L'`' && i + 1 < length) {
            Char e = text[++i];
            switch (e) {
            case L'a': c = 7; break;
            case L'b': c = 8; break;
            case L'f': c = 12; break;
            case L'n': c = 10; break;
            case L'r': c = 13; break;
            case L's': c = L' '; break;
            case L't': c = L'\t'; break;
            case L'v': c = 11; break;
            default: c = e; break;
            }
            text[out] = c;
            map[out++] = true;
            continue;
        }
        text[out] = c;
        map[out++] = false;
    }
    text[out] = 0;
    return out;
}

// Follows brackets, quotes and "? :" pairs through an expression, so that a comma (or Case's colon) can be
// told apart from one inside a call, a string or a ternary.
class ExprScanner {
public:
    // True when the scan stands outside brackets, quotes and "? :" pairs.
    bool AtTopLevel() const { return m_depth == 0 && !m_quote && m_ternary == 0; }

    void Feed(const Char* text, size_t i, const bool* map) {
        Char c = text[i];
        bool literal = map && map[i];
        if (m_quote) {
            if (c == m_quote && !literal) m_quote = 0;
            return;
        }
        if (literal) return;
        switch (c) {
        case L'"': case L'\'': m_quote = c; break;
        case L'(': case L'[': case L'{': ++m_depth; break;
        case L')': case L']': case L'}': if (m_depth) --m_depth; break;
        case L'?':
            // "??" and "?." are not the ternary operator.
            if (text[i + 1] != L'?' && (i == 0 || text[i - 1] != L'?') && text[i + 1] != L'.') ++m_ternary;
            break;
        case L':':
            if (text[i + 1] != L'=' && m_ternary) --m_ternary;
            break;
        default: break;
        }
    }

private:
    int m_depth = 0;
    int m_ternary = 0;
    Char m_quote = 0;
};

struct ArgList {
    Char* text[kMaxArgs];
    const bool* map[kMaxArgs];
    int count = 0;
};

void PushArg(Char* text, size_t start, size_t end, bool* map, ArgList& args) {
    Char* a = text + start;
    size_t n = end - start;
    while (n && IsBlank(*a)) ++a, --n;
    while (n && IsBlank(a[n - 1])) --n;
    a[n] = 0;
    args.text[args.count] = a;
    args.map[args.count] = map + (a - text);
    ++args.count;
}

// Splits text (already unescaped) at separating commas into at most maxArgs arguments, writing
// terminators in place; the last permitted argument takes the rest. Returns true when a separating
// comma remained beyond the last permitted argument.
bool SplitArgs(Char* text, size_t length, bool* map, int maxArgs, bool expressions, ArgList& args) {
    args.count = 0;
    if (!length) return false;
    ExprScanner scan;
    size_t start = 0;
    bool leftOver = false;
    for (size_t i = 0;; ++i) {
        bool end = i >= length;
        bool comma = !end && text[i] == L',' && !map[i] && (!expressions || scan.AtTopLevel());
        if (comma && args.count + 1 >= maxArgs) {
            leftOver = true;
            comma = false;
            end = true;
            i = length;
        }
        if (end || comma) {
            PushArg(text, start, i, map, args);
            if (end) break;
            start = i + 1;
            continue;
        }
        if (expressions) scan.Feed(text, i, map);
    }
    return leftOver;
}

// Finds the matching ")" for the "(" at text[0], skipping quotes; returns its index or npos.
size_t MatchParen(const Char* text, size_t length) {
    int depth = 0;
    Char quote = 0;
    for (size_t i = 0; i < length; ++i) {
        Char c = text[i];
        if (quote) {
            if (c == L'`') ++i;
            else if (c == quote) quote = 0;
            continue;
        }
        if (c == L'"' || c == L'\'') quote = c;
        else if (c == L'(' || c == L'[' || c == L'{') ++depth;
        else if (c == L')' || c == L']' || c == L'}') {
            if (--depth == 0) return c == L')' ? i : static_cast<size_t>(-1);
        }
    }
    return static_cast<size_t>(-1);
}

// An argument written wholly in parentheses (optionally followed by "{" for For and Catch) loses them.
// Returns true when the parentheses were removed; *brace tells whether a trailing "{" followed.
bool StripParens(Char*& text, size_t& length, bool allowBrace, bool* brace) {
    *brace = false;
    if (!length || text[0] != L'(') return false;
    size_t close = MatchParen(text, length);
    if (close == static_cast<size_t>(-1)) return false;
    size_t after = SkipBlanks(text, close + 1);
    if (after < length) {
        if (!(allowBrace && text[after] == L'{' && after + 1 == length)) return false;
        *brace = true;
    }
    text[close] = 0;
    ++text;
    length = close - 1;
    Trim(text, length);
    return true;
}

bool EndsWithContinuationBrace(const Char* text, size_t length, const bool* map) {
    return length && text[length - 1] == L'{' && !(map && map[length - 1]);
}

// Is this a compound assignment operator (or ":=") at text? Returns its length, or 0.
size_t AssignmentOperatorAt(const Char* t) {
    static const Char* const kOps[] = {L">>>=", L"//=", L"<<=", L">>=", L":=", L"+=", L"-=", L"*=", L"/=",
                                        L".=", L"|=", L"&=", L"^="};
    for (const Char* op : kOps) {
        size_t n = wcslen(op);
        if (wcsncmp(t, op, n) == 0) return n;
    }
    return 0;
}

Status ReportArgCount(Msg id, LineAction action, int count) {
    return ReportLoadErrorF(nullptr, id, Info(action).word, count, count == 1 ? L"" : L"s");
}

// Builds "word(rest)" for a call written without parentheses. wordEnd is where the callee text ends.
Char* MakeCallText(const Char* text, size_t wordEnd, size_t length, size_t* outLength) {
    Char* buf = s_callText.Get(length + 3);
    if (!buf) return nullptr;
    memcpy(buf, text, wordEnd * sizeof(Char));
    size_t n = wordEnd;
    buf[n++] = L'(';
    size_t restStart = wordEnd < length ? wordEnd + 1 : length;  // the blank after the word becomes "("
    memcpy(buf + n, text + restStart, (length - restStart) * sizeof(Char));
    n += length - restStart;
    buf[n++] = L')';
    buf[n] = 0;
    *outLength = n;
    return buf;
}

Status AddExpressionLine(Char* text, size_t length) {
    bool* map = s_literalMap.Get(length + 1);
    if (!map) return ReportLoadErrorMsg(Msg::OutOfMemory);
    length = ResolveEscapes(text, length, map);
    Char* args[1] = {text};
    const bool* maps[1] = {map};
    return AddLine(LineAction::Expression, args, 1, maps, true);
}

Status ParseDeclaration(Char* text, size_t length, size_t wordLength);

}  // namespace

const Char* ActionWord(LineAction action) { return Info(action).word; }

bool ValidateName(const Char* name, size_t length, NameKind kind) {
    if (!length) return false;
    static const Char* const kKindNames[] = {L"", L"variable", L"function", L"class", L"group", L"method"};
    const Char* kindName = kKindNames[static_cast<int>(kind)];
    Char shown[kNameShownChars + 1];
    size_t shownLength = length < kNameShownChars ? length : kNameShownChars;
    memcpy(shown, name, shownLength * sizeof(Char));
    shown[shownLength] = 0;
    auto fail = [&](Msg id) {
        if (kind == NameKind::Check) return false;
        if (g_script.loadFinished)
            (void)RaiseFormatted(ErrorClass::Error, nullptr, id, kindName, shown);  // a name made at run time
        else
            (void)ReportLoadErrorF(nullptr, id, kindName, shown);
        return false;
    };
    if (IsDigit(name[0])) return fail(Msg::NameStartsWithDigit);
    for (size_t i = 0; i < length; ++i)
        if (name[i] < 128 && !IsNameChar(name[i])) return fail(Msg::NameIllegalChar);
    if (kind == NameKind::Group || kind == NameKind::Method) return true;
    static const Char* const kReserved[] = {L"or", L"and", L"not", L"is", L"IsSet", L"Super", L"as", L"contains",
                                            L"in", L"unset", L"True", L"False", L"local", L"global", L"static"};
    bool reserved = FindStatementWord(name, length) != LineAction::Invalid;
    for (const Char* word : kReserved) reserved = reserved || EqualsFold(name, length, word);
    if (reserved) return fail(Msg::NameReserved);
    return true;
}

Status AddLine(LineAction action, Char* const* args, int argCount, const bool* const* literalMaps,
               bool argsAreExpressions) {
    auto* line = static_cast<ScriptLine*>(PoolAlloc(sizeof(ScriptLine)));
    if (!line) return ReportLoadErrorMsg(Msg::OutOfMemory);
    memset(line, 0, sizeof(ScriptLine));
    line->action = action;
    line->argCount = static_cast<uint8_t>(argCount);
    line->fileIndex = g_script.loadFileIndex;
    line->lineNumber = g_script.loadLineNumber;
    if (argCount) {
        line->args = static_cast<ArgRecord*>(PoolAlloc(sizeof(ArgRecord) * static_cast<size_t>(argCount)));
        if (!line->args) return ReportLoadErrorMsg(Msg::OutOfMemory);
        for (int i = 0; i < argCount; ++i) {
            ArgRecord& arg = line->args[i];
            memset(&arg, 0, sizeof(arg));
            size_t length = wcslen(args[i]);
            Char* text = PoolStrDup(args[i], length);
            if (!text) return ReportLoadErrorMsg(Msg::OutOfMemory);
            arg.text = text;
            arg.length = static_cast<uint32_t>(length);
            bool output = (action == LineAction::Assign && i == 0) || (action == LineAction::For && i < argCount - 1);
            arg.kind = output ? ArgKind::OutputVar : ArgKind::Normal;
            arg.isExpression = argsAreExpressions && length != 0;
            if (arg.isExpression) BRM_TRY(ScanReferences(arg, literalMaps ? literalMaps[i] : nullptr));
        }
    }
    line->prevLine = g_script.lastLine;
    if (g_script.lastLine) g_script.lastLine->nextLine = line;
    else g_script.firstLine = line;
    g_script.lastLine = line;
    return LinkNewLine(line);
}

Status ParseStatement(Char* text, size_t length, LineAction forced) {
    Trim(text, length);
    if (!length) return Status::Ok;

    if (forced != LineAction::Invalid) {
        bool* map = s_literalMap.Get(length + 1);
        if (!map) return ReportLoadErrorMsg(Msg::OutOfMemory);
        length = ResolveEscapes(text, length, map);
        Char* args[1] = {text};
        const bool* maps[1] = {map};
        return AddLine(forced, args, 1, maps, true);
    }

    // The first word and what follows it.
    size_t wordLength = 0;
    while (wordLength < length && IsNameChar(text[wordLength])) ++wordLength;
    if (wordLength > kMaxWordLength) wordLength = 0;
    const Char after = text[wordLength];
    const size_t next = SkipBlanks(text, wordLength);
    const Char c1 = text[next];
    const Char c2 = c1 ? text[next + 1] : 0;

    // Declarations.
    if (wordLength && (EqualsFold(text, wordLength, L"global") || EqualsFold(text, wordLength, L"local") ||
                       EqualsFold(text, wordLength, L"static"))) {
        if (wordLength == length || (IsBlank(after) && IsNameChar(c1)))
            return ParseDeclaration(text, length, wordLength);
    }

    // Assignments and operators right after the first word.
    if (size_t opLength = AssignmentOperatorAt(text + next)) {
        if (wordLength && opLength == 2 && c1 == L':') {
            // name := value: an Assign line, unless the value is a sequence of expressions.
            Char* value = text + next + 2;
            size_t valueLength = length - (next + 2);
            Trim(value, valueLength);
            ExprScanner scan;
            bool sequence = false;
            for (size_t i = 0; i < valueLength && !sequence; ++i) {
                if (value[i] == L'`') ++i;
                else if (value[i] == L',' && scan.AtTopLevel()) sequence = true;
                else scan.Feed(value, i, nullptr);
            }
            if (!sequence && valueLength) {
                bool* map = s_literalMap.Get(valueLength + 1);
                if (!map) return ReportLoadErrorMsg(Msg::OutOfMemory);
                ResolveEscapes(value, valueLength, map);
                Char target[kMaxWordLength + 1];
                memcpy(target, text, wordLength * sizeof(Char));
                target[wordLength] = 0;
                Char* args[2] = {target, value};
                const bool* maps[2] = {nullptr, map};
                return AddLine(LineAction::Assign, args, 2, maps, true);
            }
        }
        return AddExpressionLine(text, length);
    }
    if (!wordLength && ((c1 == L'+' && c2 == L'+') || (c1 == L'-' && c2 == L'-')))
        return AddExpressionLine(text, length);
    if (c1 == L'?' && c2 != L'?' && c2 != L'.' && wordLength) return AddExpressionLine(text, length);

    // A member chain: obj.a.b followed by an argument list is a method call statement.
    if (wordLength && after == L'.') {
        size_t end = wordLength;
        while (end < length && (IsNameChar(text[end]) || text[end] == L'.')) ++end;
        if (end == length || IsBlank(text[end])) {
            size_t op = SkipBlanks(text, end);
            bool assignment = AssignmentOperatorAt(text + op) ||
                              (text[op] == L'+' && text[op + 1] == L'+') || (text[op] == L'-' && text[op + 1] == L'-');
            if (!assignment) {
                size_t callLength;
                Char* call = MakeCallText(text, end, length, &callLength);
                if (!call) return ReportLoadErrorMsg(Msg::OutOfMemory);
                return AddExpressionLine(call, callLength);
            }
        }
        return AddExpressionLine(text, length);
    }

    // Statement words and calls written without parentheses.
    LineAction action = LineAction::Invalid;
    if (wordLength && (after == 0 || IsBlank(after) || after == L'(') && c1 != L'=' && c1 != L':') {
        action = FindStatementWord(text, wordLength);
        if (action == LineAction::Invalid) {
            if (after != L'(' && !IsDigit(text[0])) {
                size_t callLength;
                Char* call = MakeCallText(text, wordLength, length, &callLength);
                if (!call) return ReportLoadErrorMsg(Msg::OutOfMemory);
                return AddExpressionLine(call, callLength);
            }
        }
    } else if (wordLength && after == L'{') {
        LineAction a = FindStatementWord(text, wordLength);
        if (a == LineAction::Else || a == LineAction::Try || a == LineAction::Finally) action = a;
        else if ((a == LineAction::Loop || a == LineAction::Switch) && wordLength + 1 == length) action = a;
    }

    if (action == LineAction::Invalid) {
        if (wordLength && c1 == L':' && EqualsFold(text, wordLength, L"Default")) {
            BRM_TRY(AddLine(LineAction::Case));
            Char* rest = text + next + 1;
            return ParseStatement(rest, length - (next + 1));
        }
        if ((c1 == L'+' && c2 == L'+') || (c1 == L'-' && c2 == L'-')) return AddExpressionLine(text, length);
        if (c1 == L'?' && wcschr(text + next + 1, L':')) return AddExpressionLine(text, length);
        if ((wordLength && (after == L'(' || after == L'[')) || text[0] == L'(' || text[0] == L'[' || c1 == L'%')
            return AddExpressionLine(text, length);
        if (c1 == L'=' && c2 != L'=') return ReportLoadErrorMsg(Msg::DidYouMeanAssign, text);
        if (c1 == L',') return ReportLoadErrorMsg(Msg::CallNeedsSpace, text);
        if (wcsstr(text, L"::")) return ReportLoadErrorMsg(Msg::InvalidHotkey, text);
        return ReportLoadErrorMsg(Msg::NoRecognizedAction, text);
    }

    // The statement's argument text.
    Char* argText = text + wordLength;
    size_t argLength = length - wordLength;
    Trim(argText, argLength);

    // Statements that may carry a block or another statement on the same line.
    if (action == LineAction::Else || action == LineAction::Try || action == LineAction::Finally ||
        (action == LineAction::Catch && argText[0] == L'{')) {
        if (argText[0] == L'(') return ReportLoadErrorMsg(Msg::SyntaxError, argText);
        BRM_TRY(AddLine(action));
        if (argText[0] == L'{') {
            BRM_TRY(AddLine(LineAction::BlockBegin));
            ++argText;
            --argLength;
        }
        return ParseStatement(argText, argLength);
    }

    // Case: the values run to the first ":" at the top level; the rest is a statement of its own.
    Char* sameLine = nullptr;
    size_t sameLineLength = 0;
    if (action == LineAction::Case) {
        ExprScanner scan;
        size_t colon = static_cast<size_t>(-1);
        for (size_t i = 0; i < argLength; ++i) {
            if (argText[i] == L'`') {
                ++i;
                continue;
            }
            if (argText[i] == L':' && argText[i + 1] != L'=' && scan.AtTopLevel()) {
                colon = i;
                break;
            }
            scan.Feed(argText, i, nullptr);
        }
        if (colon == static_cast<size_t>(-1)) return ReportLoadErrorMsg(Msg::MissingColon, text);
        sameLine = argText + colon + 1;
        sameLineLength = argLength - colon - 1;
        argLength = colon;
        while (argLength && IsBlank(argText[argLength - 1])) --argLength;
    }

    // Loop: the first word of the argument may name another kind of loop.
    if (action == LineAction::Loop) {
        size_t w = 0;
        while (w < argLength && IsNameChar(argText[w])) ++w;
        if (w && w < argLength && (IsBlank(argText[w]) || argText[w] == L',')) {
            static const struct { const Char* word; LineAction action; } kKinds[] = {
                {L"Files", LineAction::LoopFiles}, {L"Reg", LineAction::LoopReg},
                {L"Read", LineAction::LoopRead}, {L"Parse", LineAction::LoopParse}};
            LineAction kind = LineAction::Invalid;
            for (auto& k : kKinds)
                if (EqualsFold(argText, w, k.word)) kind = k.action;
            size_t rest = SkipBlanks(argText, w);
            if (kind != LineAction::Invalid) {
                action = kind;
                if (argText[rest] == L',') rest = SkipBlanks(argText, rest + 1);
                argText += rest;
                argLength -= rest;
            } else if (argText[rest] == L',') {
                return ReportLoadErrorMsg(Msg::InvalidLoopType, text);
            }
        }
    }

    bool blockOpened = false;
    bool expressions = true;
    if (action == LineAction::For || action == LineAction::Catch || action == LineAction::Break ||
        action == LineAction::Continue || action == LineAction::Goto) {
        bool brace = false;
        bool allowBrace = action == LineAction::For || action == LineAction::Catch;
        bool parens = StripParens(argText, argLength, allowBrace, &brace);
        if (brace) blockOpened = true;
        if (action == LineAction::Catch || (!parens && action != LineAction::For)) expressions = false;
    }

    bool* map = s_literalMap.Get(argLength + 1);
    if (!map) return ReportLoadErrorMsg(Msg::OutOfMemory);
    argText[argLength] = 0;
    argLength = ResolveEscapes(argText, argLength, map);

    ArgList args;
    const ActionInfo& info = Info(action);
    if (action == LineAction::For) {
        // Names, the word "in", then the expression: each becomes an argument. The names are terminated
        // only once the whole list proved valid, so that an error can still show the line as written.
        size_t i = 0;
        size_t nameStart[kMaxArgs], nameLength[kMaxArgs];
        int names = 0;
        bool current = false;
        for (;;) {
            i = SkipBlanks(argText, i);
            if (i >= argLength) return ReportLoadErrorMsg(Msg::SyntaxError, text);
            Char c = argText[i];
            if ((c == L'i' || c == L'I') && (argText[i + 1] == L'n' || argText[i + 1] == L'N') &&
                IsBlank(argText[i + 2])) {
                if (!current && names) nameStart[names] = nameLength[names] = 0, ++names;  // "k, in x"
                else if (current) ++names;
                i += 2;
                break;
            }
            if (names + 2 >= kMaxArgs) return ReportLoadErrorMsg(Msg::SyntaxError, text);
            if (c == L',') {
                if (!current) nameStart[names] = nameLength[names] = 0;  // an omitted variable
                ++names;
                current = false;
                ++i;
                continue;
            }
            if (current || !IsNameChar(c) || IsDigit(c)) return ReportLoadErrorMsg(Msg::SyntaxError, text);
            nameStart[names] = i;
            while (i < argLength && IsNameChar(argText[i])) ++i;
            nameLength[names] = i - nameStart[names];
            current = true;
            if (!IsBlank(argText[i]) && argText[i] != L',') return ReportLoadErrorMsg(Msg::SyntaxError, text);
        }
        Char* const omitted = argText + argLength;  // reads as ""
        for (int k = 0; k < names; ++k) {
            args.text[k] = nameLength[k] ? argText + nameStart[k] : omitted;
            args.map[k] = nullptr;
        }
        for (int k = 0; k < names; ++k)
            if (nameLength[k]) argText[nameStart[k] + nameLength[k]] = 0;
        args.count = names;
        Char* expr = argText + i;
        size_t exprLength = argLength - i;
        bool* exprMap = map + i;
        while (exprLength && IsBlank(*expr)) ++expr, ++exprMap, --exprLength;
        while (exprLength && IsBlank(expr[exprLength - 1])) --exprLength;
        if (EndsWithContinuationBrace(expr, exprLength, exprMap)) {
            blockOpened = true;
            --exprLength;
            while (exprLength && IsBlank(expr[exprLength - 1])) --exprLength;
        }
        expr[exprLength] = 0;
        if (!exprLength) return ReportLoadErrorMsg(Msg::Param1Required, text);
        args.text[args.count] = expr;
        args.map[args.count] = exprMap;
        ++args.count;
    } else {
        bool leftOver = SplitArgs(argText, argLength, map, info.maxArgs ? info.maxArgs : 1, expressions, args);
        if (info.maxArgs == 0 && args.count) leftOver = true;
        if (args.count < info.minArgs) return ReportArgCount(Msg::RequiresAtLeast, action, info.minArgs);
        if (leftOver && action != LineAction::Catch) return ReportArgCount(Msg::AcceptsAtMost, action, info.maxArgs);
        int mustHave = action == LineAction::Case ? args.count : info.minArgs;
        for (int a = 0; a < mustHave; ++a)
            if (!*args.text[a])
                return ReportLoadErrorF(nullptr, Msg::RequiresNonBlank, info.word, static_cast<unsigned>(a + 1));
        bool braceAction = action == LineAction::If || action == LineAction::While || action == LineAction::Catch ||
                           action == LineAction::Switch ||
                           (action >= LineAction::Loop && action <= LineAction::LoopParse);
        if (braceAction && args.count) {
            Char* last = args.text[args.count - 1];
            size_t lastLength = wcslen(last);
            if (EndsWithContinuationBrace(last, lastLength, args.map[args.count - 1])) {
                blockOpened = true;
                --lastLength;
                while (lastLength && IsBlank(last[lastLength - 1])) --lastLength;
                if (!lastLength) {
                    if (action != LineAction::Loop && action != LineAction::Catch && action != LineAction::Switch)
                        return ReportLoadErrorMsg(Msg::Param1Required, text);
                    --args.count;
                }
                last[lastLength] = 0;
            }
        }
        if (action == LineAction::Switch && args.count && !*args.text[0])
            return ReportLoadErrorMsg(Msg::Param1NotBlank);
    }

    BRM_TRY(AddLine(action, args.text, args.count, args.map, expressions));
    if (blockOpened) BRM_TRY(AddLine(LineAction::BlockBegin));
    if (sameLine) return ParseStatement(sameLine, sameLineLength);
    return Status::Ok;
}

namespace {

// global/local/static with or without names; alone, the word sets the function's default scope.
Status ParseDeclaration(Char* text, size_t length, size_t wordLength) {
    DeclKind kind = EqualsFold(text, wordLength, L"global")  ? DeclKind::Global
                    : EqualsFold(text, wordLength, L"local") ? DeclKind::Local
                                                             : DeclKind::Static;
    if (wordLength == length) return DeclareDefaultScope(kind, text);
    if (kind != DeclKind::Global && !LoadingFunc()) return ReportLoadErrorMsg(Msg::UnexpectedDeclaration, text);
    // Initialisers under a control statement are kept together in a block.
    bool wrapped = false;
    size_t i = SkipBlanks(text, wordLength);
    while (i < length) {
        size_t nameStart = i;
        while (i < length && IsNameChar(text[i])) ++i;
        size_t nameLength = i - nameStart;
        if (!nameLength) return ReportLoadErrorMsg(Msg::InvalidVarDeclaration, text + nameStart);
        if (!ValidateName(text + nameStart, nameLength, NameKind::Variable)) return Status::Fail;
        BRM_TRY(DeclareVar(kind, text + nameStart, nameLength));
        size_t j = SkipBlanks(text, i);
        if (j >= length) break;
        if (text[j] == L',') {
            i = SkipBlanks(text, j + 1);
            continue;
        }
        if (!AssignmentOperatorAt(text + j)) return ReportLoadErrorMsg(Msg::InvalidVarDeclaration, text + nameStart);
        // The initialiser runs to the next top-level comma.
        ExprScanner scan;
        size_t end = j;
        for (; end < length; ++end) {
            if (text[end] == L'`') {
                ++end;
                continue;
            }
            if (text[end] == L',' && scan.AtTopLevel()) break;
            scan.Feed(text, end, nullptr);
        }
        if (!wrapped && PendingControlLine()) {
            BRM_TRY(AddLine(LineAction::BlockBegin));
            wrapped = true;
        }
        Char saved = text[end];
        text[end] = 0;
        // A static's initialiser runs once, the first time its line is reached.
        BRM_TRY(ParseStatement(text + nameStart, end - nameStart,
                               kind == DeclKind::Static ? LineAction::Static : LineAction::Invalid));
        text[end] = saved;
        i = end < length ? SkipBlanks(text, end + 1) : length;
    }
    if (wrapped) BRM_TRY(AddLine(LineAction::BlockEnd));
    return Status::Ok;
}

// Part of the function-definition test: name(params) followed by "{", "=>", or a next line "{".
bool IsFunctionDefinition(const Char* text, size_t length, const Char* nextLine) {
    size_t i = 0;
    while (i < length && IsNameChar(text[i])) ++i;
    if (i == 6 && EqualsFold(text, 6, L"Static") && IsBlank(text[i])) {
        size_t start = SkipBlanks(text, i);
        text += start;
        length -= start;
        i = 0;
        while (i < length && IsNameChar(text[i])) ++i;
    }
    if (!i || text[i] != L'(') return false;
    if (FindStatementWord(text, i) != LineAction::Invalid) return false;
    size_t close = MatchParen(text + i, length - i);
    if (close == static_cast<size_t>(-1)) return false;
    size_t after = SkipBlanks(text, i + close + 1);
    if (after == length) return nextLine && nextLine[0] == L'{';
    if (text[after] == L'{' && after + 1 == length) return true;
    return text[after] == L'=' && text[after + 1] == L'>';
}

// Key names and modifier symbols, optionally "key & key" and a trailing " up"; no quotes, brackets or
// assignments, which only expressions contain.
bool LooksLikeHotkey(const Char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        Char c = text[i];
        if (c == L'"' || c == L'\'' || c == L'(' || c == L'[' || c == L'{' || c == L',' || c == L'%') return false;
        if (c == L':' && text[i + 1] == L'=') return false;
        if (IsBlank(c) && !(i + 1 < length && (text[i + 1] == L'&' || IsBlank(text[i + 1]))) &&
            !(i && (text[i - 1] == L'&' || IsBlank(text[i - 1]))) &&
            !(i + 3 == length && CompareFoldAZ(text + i + 1, 2, L"up", 2) == 0))
            return false;
    }
    return length != 0;
}

bool IsLabelLine(const Char* text, size_t length) {
    if (length < 2 || text[length - 1] != L':') return false;
    for (size_t i = 0; i + 1 < length; ++i)
        if (!IsNameChar(text[i])) return false;
    return true;
}

// Shifts the reader's current line so that it starts at `from`.
void DropLinePrefix(ScriptReader& reader, size_t from) {
    Char* line = reader.Line();
    size_t length = reader.LineLength();
    memmove(line, line + from, (length - from + 1) * sizeof(Char));
    reader.SetLineLength(length - from);
}

}  // namespace

Status ClassifyLine(ScriptReader& reader) {
    Char* line = reader.Line();
    size_t length = reader.LineLength();
    if (!length) return Status::Ok;

    // Hotstrings are not part of this build.
    if (line[0] == L':' && line[1]) {
        const Char* optionsEnd = wcschr(line + 1, L':');
        if (optionsEnd && wcsstr(optionsEnd + 1, L"::")) return ReportLoadErrorMsg(Msg::HotstringsDisabled);
    }

    // Hotkeys: until the hotkey table exists, a plausible key name before "::" is refused clearly.
    if (const Char* colons = length > 2 ? wcsstr(line + 1, L"::") : nullptr) {
        if (LooksLikeHotkey(line, static_cast<size_t>(colons - line)))
            return ReportLoadErrorMsg(Msg::HotkeysUnsupported, line);
    }

    // Labels (and "Default:" directly inside a Switch block).
    if (IsLabelLine(line, length)) {
        ScriptLine* block = OpenBlockLine();
        if (EqualsFold(line, length - 1, L"Default") && block && block->parentLine &&
            block->parentLine->action == LineAction::Switch)
            return AddLine(LineAction::Case);
        return AddLabel(line, length - 1);
    }

    if (line[0] == L'#') {
        uint16_t fileIndex = g_script.loadFileIndex;
        int32_t lineNumber = g_script.loadLineNumber;
        DirectiveResult result = HandleDirective(reader);
        g_script.loadFileIndex = fileIndex;
        g_script.loadLineNumber = lineNumber;
        if (result == DirectiveResult::Failed) return Status::Fail;
        if (result == DirectiveResult::Handled) return Status::Ok;
        line = reader.Line();
        length = reader.LineLength();
    }

    // Braces; whatever follows them ("} else {") is classified again.
    size_t start = 0;
    while (start < length && (line[start] == L'{' || line[start] == L'}')) {
        // A function header already opened its body for the "{" on the line after it; a class body's
        // braces add no lines.
        if (line[start] == L'{') {
            if (!TakeFunctionBrace() && !TakeClassBrace()) BRM_TRY(AddLine(LineAction::BlockBegin));
        } else if (InClassBody()) {
            BRM_TRY(EndClass());
        } else {
            BRM_TRY(AddLine(LineAction::BlockEnd));
        }
        start = SkipBlanks(line, start + 1);
    }
    if (start) {
        if (start >= length) return Status::Ok;
        DropLinePrefix(reader, start);
        line = reader.Line();
        length = reader.LineLength();
    }

    if (length > 6 && EqualsFold(line, 5, L"Class") && IsBlank(line[5])) {
        size_t i = SkipBlanks(line, 5);
        if (line[i] && !IsExpressionDelimiter(line[i]) && line[i] != L'"' && line[i] != L'\'') {
            if (LoadingFunc()) return ReportLoadErrorMsg(Msg::ClassInFunction, line);
            return DefineClass(line + i, length - i, reader.LookAhead());
        }
    }
    if (InClassBody()) {
        BRM_TRY(reader.ContinueExpression(ContinueContext::ClassBody));
        return DefineClassMember(reader.Line(), reader.LineLength(), reader.LookAhead());
    }

    BRM_TRY(reader.ContinueExpression(ContinueContext::Normal));
    line = reader.Line();
    length = reader.LineLength();
    if (IsFunctionDefinition(line, length, reader.LookAhead())) return DefineFunction(line, length);
    return ParseStatement(line, length);
}

// A class body at the top level has no open block line of its own, but counts as inside one: a file
// included there (a file of methods) ends with the body still open.
bool IsInsideBlock() { return OpenBlockLine() != nullptr || ClassBodyOpen(); }

Status FinishFile(bool startedInsideBlock) {
    BRM_TRY(CheckEndOfFile(startedInsideBlock));
    if (!startedInsideBlock && ClassBodyOpen()) return ReportLoadErrorMsg(Msg::MissingCloseBrace);
    return Status::Ok;
}

Status CompileScript() {
    // Errors name the line being compiled; the load position is put back for the Exit line that follows.
    const uint16_t fileIndex = g_script.loadFileIndex;
    const int32_t lineNumber = g_script.loadLineNumber;
    for (ScriptLine* line = g_script.firstLine; line; line = line->nextLine) {
        g_script.loadFileIndex = line->fileIndex;
        g_script.loadLineNumber = line->lineNumber;
        SetBindScope(FuncOfLine(line));
        if (line->action == LineAction::Catch && line->argCount) BRM_TRY(PrepareCatchOutputVar(*line));
        for (int i = 0; i < line->argCount; ++i) {
            ArgRecord& arg = line->args[i];
            if (arg.isExpression) BRM_TRY(CompilePostfix(*line, arg));
        }
    }
    g_script.loadFileIndex = fileIndex;
    g_script.loadLineNumber = lineNumber;
    SetBindScope(nullptr);
    return BindVariables();
}

Status AppendExitAndLink() {
    BRM_TRY(AddLine(LineAction::Exit));
    return CheckJumps();
}

}  // namespace brm
