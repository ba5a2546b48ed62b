// The reference scan (while statements are split into arguments) and the lexer (at the start of
// compilation). The scan records names, strings and word operators without resolving anything, because
// variables and functions are looked up only once the whole script is known.
#include "expr/Tokenizer.h"
#include <cwchar>
#include <string>
#include "base/Pool.h"
#include "expr/Compiler.h"
#include "expr/Conversions.h"
#include "exec/Scope.h"
#include "loader/Definitions.h"
#include "loader/LoadError.h"
#include "objects/BuiltInFunctions.h"
#include "objects/Func.h"

namespace brm {

namespace {

constexpr size_t kRefGrowStep = 128;

inline bool IsBlank(Char c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r'; }

inline bool IsDigit(Char c) { return c >= L'0' && c <= L'9'; }

inline bool IsHexDigit(Char c) {
    return IsDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

inline bool EqualsFold(const Char* a, size_t aLength, const Char* b) {
    size_t bLength = wcslen(b);
    return CompareFoldAZ(a, aLength, b, bLength) == 0;
}

struct WordOperator {
    const Char* word;
    uint8_t symbol;
};
// The Missing value's word maps to its operand kind, `Super` to its marker kind.
constexpr WordOperator kWordOperators[] = {
    {L"or", SymOr},       {L"and", SymAnd},   {L"not", SymNot},      {L"is", SymIs},
    {L"IsSet", SymIsSet}, {L"Super", SymSuper}, {L"unset", SymMissing}, {L"as", SymReserved},
    {L"contains", SymReserved}, {L"in", SymReserved},
};

// 0: not a word operator; else the record type and symbol.
bool MatchWordOperator(const Char* name, size_t length, RefType& type, uint8_t& symbol) {
    if (length >= 9)
        return false;
    for (const WordOperator& w : kWordOperators) {
        if (EqualsFold(name, length, w.word)) {
            type = RefType::WordOperator;
            symbol = w.symbol;
            return true;
        }
    }
    if (EqualsFold(name, length, L"true") || EqualsFold(name, length, L"false")) {
        type = RefType::TrueFalse;
        symbol = (length == 4) ? 1 : 0;
        return true;
    }
    return false;
}

class Scanner {
public:
    Scanner(const Char* text, size_t length, const bool* map) : m_text(text), m_end(text + length), m_map(map) {
        m_refs.reserve(kRefGrowStep);
    }

    // Scans until terminator (outside strings and brackets) or the end; p is left at the terminator.
    Status Scan(const Char*& p, Char terminator);

    std::vector<RefRecord> m_refs;

private:
    bool Literal(const Char* p) const { return m_map && m_map[p - m_text]; }
    Status Add(const Char* marker, RefType type, uint32_t length, uint8_t symbol = 0, uint8_t piece = 0);
    Status ScanString(const Char*& p);
    Status ScanDynamic(const Char* pieceStart, const Char*& p, bool member);
    const Char* SkipBlanks(const Char* p) const {
        while (p < m_end && IsBlank(*p))
            ++p;
        return p;
    }
    const Char* PrevNonBlank(const Char* p) const {
        while (p > m_text && IsBlank(p[-1]))
            --p;
        return p > m_text ? p - 1 : nullptr;
    }
    // The matching closer of the bracket at p (skipping strings and nested brackets), or m_end.
    const Char* MatchBracket(const Char* p) const;
    // A function written in the expression: the header runs from start to headerEnd ("(params)",
    // "name(params)" or a lone parameter name), the body from bodyStart to the next comma or closer at this
    // level. Defines it and records a reference to the variable that holds it; p moves past the body.
    Status FatArrow(const Char* start, const Char* headerEnd, const Char* bodyStart, const Char*& p, Char terminator);

    const Char* m_text;
    const Char* m_end;
    const bool* m_map;
};

Status Scanner::Add(const Char* marker, RefType type, uint32_t length, uint8_t symbol, uint8_t piece) {
    if (m_refs.size() == m_refs.capacity()) {
        try {
            m_refs.reserve(m_refs.size() + kRefGrowStep);
        } catch (...) {
            return ReportLoadErrorMsg(Msg::OutOfMemory);
        }
    }
    m_refs.push_back(RefRecord{marker, symbol, type, piece, length, nullptr});
    return Status::Ok;
}

const Char* Scanner::MatchBracket(const Char* p) const {
    int depth = 0;
    for (; p < m_end; ++p) {
        Char c = *p;
        if ((c == L'"' || c == L'\'') && !Literal(p)) {
            Char quote = c;
            for (++p; p < m_end; ++p) {
                if (*p == quote && !Literal(p))
                    break;
                if (!m_map && *p == L'`')
                    ++p;
            }
            if (p >= m_end)
                return m_end;
            continue;
        }
        if (c == L'(' || c == L'[' || c == L'{')
            ++depth;
        else if (c == L')' || c == L']' || c == L'}') {
            if (--depth == 0)
                return p;
        }
    }
    return m_end;
}

Status Scanner::ScanString(const Char*& p) {
    Char quote = *p;
    const Char* start = p + 1;
    const Char* q = start;
    for (; q < m_end; ++q) {
        if (*q == quote && !Literal(q))
            break;
        if (!m_map && *q == L'`' && q + 1 < m_end)
            ++q;
    }
    if (q >= m_end)
        return ReportLoadErrorMsg(Msg::MissingCloseQuote, p);
    BRM_TRY(Add(start, RefType::String, static_cast<uint32_t>(q - start), 1, 1));
    p = q + 1;
    return Status::Ok;
}

Status Scanner::ScanDynamic(const Char* pieceStart, const Char*& p, bool member) {
    uint8_t piece = 1;
    for (;;) {
        bool last = (p >= m_end || *p != L'%');
        BRM_TRY(Add(pieceStart, RefType::LiteralPiece, static_cast<uint32_t>(p - pieceStart), last ? 1 : 0, piece));
        if (last)
            break;
        const Char* open = p;
        const Char* q = p + 1;
        BRM_TRY(Scan(q, L'%'));
        if (q >= m_end)
            return ReportLoadErrorMsg(Msg::MissingEndingPercent, open);
        ++q;  // the closing %
        pieceStart = q;
        while (q < m_end && IsNameChar(*q))
            ++q;
        p = q;
        if (piece < 255)
            ++piece;
    }
    return Add(p, member ? RefType::DynamicMemberEnd : RefType::DynamicEnd, 0);
}

Status Scanner::FatArrow(const Char* start, const Char* headerEnd, const Char* bodyStart, const Char*& p,
                         Char terminator) {
    const Char* q = SkipBlanks(bodyStart);
    const Char* body = q;
    while (q < m_end) {
        Char c = *q;
        if (c == terminator && terminator)
            break;
        if ((c == L'"' || c == L'\'') && !Literal(q)) {
            for (++q; q < m_end && !(*q == c && !Literal(q)); ++q)
                if (!m_map && *q == L'`')
                    ++q;
        } else if (c == L'(' || c == L'[' || c == L'{') {
            q = MatchBracket(q);
        } else if (c == L')' || c == L']' || c == L'}' || c == L',') {
            break;
        }
        if (q < m_end)
            ++q;
    }
    const Char* bodyEnd = q;
    while (bodyEnd > body && IsBlank(bodyEnd[-1]))
        --bodyEnd;
    if (bodyEnd == body)
        return ReportLoadErrorMsg(Msg::InvalidFunctionDeclaration, start);
    std::wstring header;
    if (*start == L'(' || (headerEnd > start && headerEnd[-1] == L')')) {
        header.assign(start, headerEnd);
    } else {
        header = L"(";
        header.append(start, headerEnd);
        header += L")";
    }
    Var* holder = nullptr;
    BRM_TRY(DefineExpressionFunction(header.c_str(), header.size(), body, static_cast<size_t>(bodyEnd - body),
                                     m_map ? m_map + (body - m_text) : nullptr, &holder));
    BRM_TRY(Add(start, RefType::FatArrow, static_cast<uint32_t>(bodyEnd - start)));
    m_refs.back().var = holder;
    p = bodyEnd;
    return Status::Ok;
}

Status Scanner::Scan(const Char*& p, Char terminator) {
    while (p < m_end) {
        Char c = *p;
        if (c == terminator)
            return Status::Ok;
        if (IsBlank(c)) {
            ++p;
            continue;
        }
        switch (c) {
        case L'(': {
            const Char* close = MatchBracket(p);
            if (close < m_end) {
                const Char* after = SkipBlanks(close + 1);
                if (after + 1 < m_end && after[0] == L'=' && after[1] == L'>') {
                    // "name(params) =>": the name just recorded belongs to the function.
                    const Char* start = p;
                    while (start > m_text && IsNameChar(start[-1]))
                        --start;
                    if (start < p && !m_refs.empty() && m_refs.back().marker == start)
                        m_refs.pop_back();
                    BRM_TRY(FatArrow(start, close + 1, after + 2, p, terminator));
                    continue;
                }
            }
            ++p;
            BRM_TRY(Scan(p, L')'));
            if (p < m_end)
                ++p;
            continue;
        }
        case L'[':
        case L'{':
            ++p;
            BRM_TRY(Scan(p, c == L'[' ? L']' : L'}'));
            if (p < m_end)
                ++p;
            continue;
        case L'.':
            if (p + 1 < m_end && (IsNameChar(p[1]) || p[1] == L'%') && !IsDigit(p[1])) {
                const Char* q = p + 1;
                while (q < m_end && IsNameChar(*q))
                    ++q;
                if (q < m_end && *q == L'%' && terminator != L'%') {
                    const Char* start = p + 1;
                    p = q;
                    BRM_TRY(ScanDynamic(start, p, true));
                } else {
                    p = q;
                }
                continue;
            }
            ++p;
            continue;
        case L'%':
            BRM_TRY(ScanDynamic(p, p, false));
            continue;
        case L'"':
        case L'\'':
            BRM_TRY(ScanString(p));
            continue;
        default:
            break;
        }
        if (IsExpressionDelimiter(c)) {
            ++p;
            continue;
        }
        if (IsDigit(c)) {
            const Char* intEnd;
            ParseIntPrefix(p, &intEnd);
            bool hex = (c == L'0' && (p[1] == L'x' || p[1] == L'X') && p + 2 < m_end && IsHexDigit(p[2]));
            const Char* floatEnd = p;
            if (!hex) {
                ParseDoublePrefix(p, &floatEnd);
            }
            auto endsAtDelimiter = [this](const Char* e) { return e >= m_end || IsExpressionDelimiter(*e); };
            if (endsAtDelimiter(intEnd) && intEnd > p) {
                p = (floatEnd > intEnd && endsAtDelimiter(floatEnd)) ? floatEnd : intEnd;
                continue;
            }
            if (floatEnd > p && endsAtDelimiter(floatEnd)) {
                p = floatEnd;
                continue;
            }
            // Otherwise the text is a name (an object literal key such as 1a, or an invalid name).
        }
        const Char* nameStart = p;
        const Char* q = p;
        while (q < m_end && IsNameChar(*q))
            ++q;
        if (q == nameStart)
            return ReportLoadErrorMsg(Msg::IllegalCharInExpression, p);
        uint32_t length = static_cast<uint32_t>(q - nameStart);
        if (q < m_end && *q == L'%' && terminator != L'%') {
            p = q;
            BRM_TRY(ScanDynamic(nameStart, p, false));
            continue;
        }
        const Char* after = SkipBlanks(q);
        if (after < m_end && *after == L':' && !(after + 1 < m_end && after[1] == L'=')) {
            const Char* before = PrevNonBlank(nameStart);
            if (before && (*before == L',' || *before == L'{')) {
                p = q;  // an object literal's property name
                continue;
            }
        }
        if (after + 1 < m_end && after[0] == L'=' && after[1] == L'>') {
            BRM_TRY(FatArrow(nameStart, q, after + 2, p, terminator));
            continue;
        }
        RefType type = RefType::Name;
        uint8_t symbol = 0;
        if (MatchWordOperator(nameStart, length, type, symbol) && type == RefType::WordOperator &&
            symbol == SymReserved)
            return ReportLoadErrorMsg(Msg::UnexpectedReservedWord, nameStart);
        BRM_TRY(Add(nameStart, type, length, symbol));
        p = q;
    }
    return Status::Ok;
}

}  // namespace

bool IsExpressionDelimiter(Char c) {
    switch (c) {
    case L' ': case L'\t': case L'<': case L'>': case L'=': case L'/': case L'|': case L'^': case L',':
    case L'?': case L':': case L'*': case L'&': case L'~': case L'!': case L'(': case L')': case L'[':
    case L']': case L'{': case L'}': case L'%': case L'+': case L'-': case L'\n': case L'.':
        return true;
    case L'\r':  // a continuation line may leave a CR behind; it separates like a newline
        return true;
    default:
        return false;
    }
}

bool IsExpressionReservedWord(const Char* name, size_t length) {
    RefType type;
    uint8_t symbol;
    return MatchWordOperator(name, length, type, symbol);
}

Status ScanReferences(ArgRecord& arg, const bool* literalMap) {
    arg.refs = nullptr;
    Scanner scanner(arg.text, arg.length, literalMap);
    const Char* p = arg.text;
    // A stray closer at the top level is left for the compiler to report.
    while (p < arg.text + arg.length) {
        BRM_TRY(scanner.Scan(p, L'\0'));
        if (p < arg.text + arg.length)
            ++p;
    }
    if (scanner.m_refs.empty())
        return Status::Ok;
    size_t count = scanner.m_refs.size();
    auto* refs = static_cast<RefRecord*>(PoolAlloc((count + 1) * sizeof(RefRecord)));
    if (!refs)
        return ReportLoadErrorMsg(Msg::OutOfMemory);
    std::copy(scanner.m_refs.begin(), scanner.m_refs.end(), refs);
    refs[count] = RefRecord{nullptr, 0, RefType::Name, 0, 0, nullptr};
    arg.refs = refs;
    return Status::Ok;
}

namespace {

class Lexer {
public:
    Lexer(const ArgRecord& arg, std::vector<InfixToken>& out)
        : m_text(arg.text), m_end(arg.text + arg.length), m_refs(arg.refs), m_out(out) {}
    Status Run();

private:
    const Char* SkipBlanks(const Char* p) const {
        while (p < m_end && IsBlank(*p))
            ++p;
        return p;
    }
    bool AfterOperand() const {
        if (m_out.empty())
            return false;
        const InfixToken& t = m_out.back();
        uint32_t s = t.token.symbol;
        return s < SymStackBottom || s == SymPostIncrement || s == SymPostDecrement || s == SymMember ||
               s == SymCloseParen || s == SymCloseBracket || s == SymCloseBrace;
    }
    InfixToken& Emit(uint32_t symbol, const Char* pos, uint32_t flags = 0) {
        InfixToken t{};
        t.token.valueInt64 = 0;
        t.token.symbol = symbol;
        t.token.extraPtr = nullptr;
        t.position = pos;
        t.flags = flags;
        m_out.push_back(t);
        return m_out.back();
    }
    // An operand is about to start at pos: joins it to a preceding operand by implicit concatenation.
    Status OperandStart(const Char* pos) {
        if (!AfterOperand())
            return Status::Ok;
        if (pos > m_text && (pos[-1] == L' ' || pos[-1] == L'\t' || pos[-1] == L'\n' || pos[-1] == L'\r')) {
            Emit(SymConcat, pos);
            return Status::Ok;
        }
        return ReportLoadErrorMsg(Msg::MissingSpaceOrOperator, pos);
    }
    Status EmitString(const Char* text, size_t length, const Char* pos) {
        Char* copy = PoolStrDup(text, length);
        if (!copy)
            return ReportLoadErrorMsg(Msg::OutOfMemory);
        Emit(SymString, pos).token.SetString(copy, static_cast<int32_t>(length));
        m_out.back().token.extraPtr = nullptr;
        return Status::Ok;
    }
    Status NewSite(CallSite*& site, uint32_t flags, const Char* name = nullptr, size_t nameLength = 0) {
        site = static_cast<CallSite*>(PoolAlloc(sizeof(CallSite)));
        if (!site)
            return ReportLoadErrorMsg(Msg::OutOfMemory);
        *site = CallSite{nullptr, nullptr, flags, 0, nullptr, 0, 0, nullptr, nullptr};
        if (name) {
            const Char* copy = PoolStrDup(name, nameLength);
            site->memberName = copy ? Object::SharedName(copy) : nullptr;
            if (!site->memberName)
                return ReportLoadErrorMsg(Msg::OutOfMemory);
        }
        return Status::Ok;
    }
    Status Record(const RefRecord& rec, const Char*& p);
    Status Number(const Char*& p);
    Status Operator(const Char*& p);

    const Char* m_text;
    const Char* m_end;
    const RefRecord* m_refs;
    std::vector<InfixToken>& m_out;
};

Status Lexer::Record(const RefRecord& rec, const Char*& p) {
    const Char* pos = rec.marker;
    switch (rec.type) {
    case RefType::Name:
        BRM_TRY(OperandStart(pos));
        Emit(SymVariable, pos).token.extraPtr = const_cast<RefRecord*>(&rec);
        m_out.back().token.var = nullptr;
        m_out.back().token.varUsage = VarUsageRead;
        p = pos + rec.length;
        return Status::Ok;
    case RefType::String: {
        BRM_TRY(OperandStart(pos - 1));
        BRM_TRY(EmitString(pos, rec.length, pos - 1));
        p = pos + rec.length + 1;
        const Char* q = SkipBlanks(p);
        if (q < m_end) {
            Char c = *q;
            if (c == L'+' || c == L'-' || c == L'*' || c == L'&' || c == L'~' || c == L'!') {
                bool ok = (q + 1 < m_end && q[1] == L'=') || (c == L'&' && q + 1 < m_end && q[1] == L'&');
                if (!ok)
                    return ReportLoadErrorMsg(Msg::OperatorAfterString, q);
            }
        }
        return Status::Ok;
    }
    case RefType::LiteralPiece: {
        bool last = rec.symbol != 0;
        if (rec.pieceNumber == 1) {
            bool member = pos > m_text && pos[-1] == L'.';
            if (!member)
                BRM_TRY(OperandStart(pos));
            Emit(SymOpenParen, pos, InfixSynthetic);
            if (rec.length) {
                BRM_TRY(EmitString(pos, rec.length, pos));
                if (!last)
                    Emit(SymDynamicConcat, pos + rec.length);
            }
        } else {
            if (rec.length) {
                Emit(SymDynamicConcat, pos);
                BRM_TRY(EmitString(pos, rec.length, pos));
            }
            if (!last)
                Emit(SymDynamicConcat, pos + rec.length);
        }
        p = pos + rec.length + (last ? 0 : 1);
        return Status::Ok;
    }
    case RefType::DynamicEnd:
        Emit(SymCloseParen, pos, InfixSynthetic);
        Emit(SymDynamic, pos).token.varUsage = VarUsageRead;
        m_out.back().token.pointer = nullptr;
        return Status::Ok;
    case RefType::DynamicMemberEnd: {
        Emit(SymCloseParen, pos, InfixSynthetic);
        bool call = pos < m_end && *pos == L'(';
        CallSite* site;
        BRM_TRY(NewSite(site, (call ? CallInvoke : CallGet) | CallDynamicName));
        Emit(call ? SymCall : SymMember, pos).token.extraPtr = site;
        return Status::Ok;
    }
    case RefType::WordOperator:
        p = pos + rec.length;
        switch (rec.symbol) {
        case SymMissing:
            BRM_TRY(OperandStart(pos));
            Emit(SymMissing, pos);
            return Status::Ok;
        case SymSuper: {
            const Char* q = SkipBlanks(p);
            bool ok = (p < m_end && *p == L'(') || (q < m_end && (*q == L'.' || *q == L'['));
            if (!ok)
                return ReportLoadErrorMsg(Msg::SyntaxError, pos);
            UserFunc* method = BindScope() ? BindScope() : LoadingFunc();
            if (!method || !method->owner)
                return ReportLoadErrorMsg(Msg::SuperOutsideClass, pos);
            BRM_TRY(OperandStart(pos));
            // The method travels with the marker: its owner says where the search starts, its hidden
            // first parameter holds `this` of the running call.
            Emit(SymSuper, pos).token.pointer = method;
            return Status::Ok;
        }
        case SymIsSet: {
            if (p >= m_end || *p != L'(')
                return ReportLoadErrorF(pos, Msg::MissingChar, L'(');
            BRM_TRY(OperandStart(pos));
            CallSite* site;
            BRM_TRY(NewSite(site, CallInvoke));
            site->func = IsSetFunc();
            Emit(SymCall, pos).token.extraPtr = site;
            return Status::Ok;
        }
        default:
            Emit(rec.symbol, pos);
            return Status::Ok;
        }
    case RefType::TrueFalse:
        BRM_TRY(OperandStart(pos));
        Emit(SymInteger, pos).token.SetInteger(rec.symbol);
        p = pos + rec.length;
        return Status::Ok;
    case RefType::FatArrow:
        BRM_TRY(OperandStart(pos));
        Emit(SymVariable, pos).token.SetVar(rec.var);
        p = pos + rec.length;
        return Status::Ok;
    }
    return Status::Ok;
}

Status Lexer::Number(const Char*& p) {
    const Char* start = p;
    const Char* digits = (*p == L'-' || *p == L'+') ? p + 1 : p;
    bool hex = digits[0] == L'0' && (digits[1] == L'x' || digits[1] == L'X') && digits + 2 < m_end &&
               IsHexDigit(digits[2]);
    const Char* intEnd;
    int64_t value = ParseIntPrefix(start, &intEnd);
    const Char* floatEnd = start;
    double d = 0.0;
    if (!hex) {
        d = ParseDoublePrefix(start, &floatEnd);
    }
    auto endsAtDelimiter = [this](const Char* e) { return e >= m_end || IsExpressionDelimiter(*e); };
    if (floatEnd > intEnd && endsAtDelimiter(floatEnd)) {
        Emit(SymFloat, start).token.SetFloat(d);
        p = floatEnd;
        return Status::Ok;
    }
    if (intEnd > digits && endsAtDelimiter(intEnd)) {
        const Char* q = SkipBlanks(intEnd);
        bool key = q < m_end && *q == L':' && !(q + 1 < m_end && q[1] == L'=') && !m_out.empty() &&
                   (m_out.back().token.symbol == SymOpenBrace || m_out.back().token.symbol == SymComma);
        if (key)
            BRM_TRY(EmitString(start, intEnd - start, start));
        else
            Emit(SymInteger, start).token.SetInteger(value);
        p = intEnd;
        return Status::Ok;
    }
    if (*start == L'.' || *start == L'-')
        return ReportLoadErrorMsg(Msg::SyntaxError, start);
    // A property name that begins with a digit ({1a: x}).
    const Char* q = start;
    while (q < m_end && IsNameChar(*q))
        ++q;
    BRM_TRY(EmitString(start, q - start, start));
    p = q;
    return Status::Ok;
}

Status Lexer::Operator(const Char*& p) {
    const Char* pos = p;
    Char c = *p;
    auto next = [&](int i) -> Char { return p + i < m_end ? p[i] : L'\0'; };
    uint32_t sym;
    int len = 1;
    bool after = AfterOperand();
    switch (c) {
    case L'!':
        if (next(1) == L'=' && next(2) == L'=') sym = SymStrictNotEqual, len = 3;
        else if (next(1) == L'=') sym = SymNotEqual, len = 2;
        else sym = SymLogicalNot;
        break;
    case L'&':
        if (next(1) == L'&') sym = SymAnd, len = 2;
        else if (next(1) == L'=') sym = SymBitAndAssign, len = 2;
        else sym = after ? SymBitAnd : SymReference;
        break;
    case L'(':
        if (after && pos > m_text && IsBlank(pos[-1]))
            Emit(SymConcat, pos);
        sym = SymOpenParen;
        break;
    case L')': sym = SymCloseParen; break;
    case L']': sym = SymCloseBracket; break;
    case L'}': sym = SymCloseBrace; break;
    case L',': sym = SymComma; break;
    case L'*':
        if (next(1) == L'*') sym = SymPower, len = 2;
        else if (next(1) == L'=') sym = SymMultiplyAssign, len = 2;
        else sym = SymMultiply;
        break;
    case L'+':
        if (next(1) == L'=') sym = SymAddAssign, len = 2;
        else if (next(1) == L'+') sym = after ? SymPostIncrement : SymPreIncrement, len = 2;
        else sym = after ? SymAdd : SymUnaryPlus;
        break;
    case L'-':
        if (next(1) == L'=') sym = SymSubtractAssign, len = 2;
        else if (next(1) == L'-') sym = after ? SymPostDecrement : SymPreDecrement, len = 2;
        else if (after) sym = SymSubtract;
        else if (IsDigit(next(1)) || (next(1) == L'.' && IsDigit(next(2)))) {
            // A negative literal, unless a power follows: -2**2 is -(2**2).
            const Char* q = p + 1;
            std::vector<InfixToken>::size_type before = m_out.size();
            BRM_TRY(Number(q));
            const Char* r = SkipBlanks(q);
            if (r + 1 < m_end && r[0] == L'*' && r[1] == L'*') {
                m_out.resize(before);
                sym = SymNegate;
                break;
            }
            m_out.resize(before);
            BRM_TRY(Number(p));
            return Status::Ok;
        } else sym = SymNegate;
        break;
    case L'/':
        if (next(1) == L'/' && next(2) == L'=') sym = SymFloorDivideAssign, len = 3;
        else if (next(1) == L'/') sym = SymFloorDivide, len = 2;
        else if (next(1) == L'=') sym = SymDivideAssign, len = 2;
        else sym = SymDivide;
        break;
    case L':':
        if (next(1) == L'=') sym = SymAssign, len = 2;
        else sym = SymColon;
        break;
    case L'<':
        if (next(1) == L'<' && next(2) == L'=') sym = SymShiftLeftAssign, len = 3;
        else if (next(1) == L'<') sym = SymShiftLeft, len = 2;
        else if (next(1) == L'=') sym = SymLessOrEqual, len = 2;
        else sym = SymLess;
        break;
    case L'=':
        if (next(1) == L'=') sym = SymStrictEqual, len = 2;
        else sym = SymEqual;
        break;
    case L'>':
        if (next(1) == L'>' && next(2) == L'>' && next(3) == L'=') sym = SymShiftRightLogicalAssign, len = 4;
        else if (next(1) == L'>' && next(2) == L'>') sym = SymShiftRightLogical, len = 3;
        else if (next(1) == L'>' && next(2) == L'=') sym = SymShiftRightAssign, len = 3;
        else if (next(1) == L'>') sym = SymShiftRight, len = 2;
        else if (next(1) == L'=') sym = SymGreaterOrEqual, len = 2;
        else sym = SymGreater;
        break;
    case L'?': {
        bool variable = !m_out.empty() &&
                        (m_out.back().token.symbol == SymVariable || m_out.back().token.symbol == SymDynamic);
        if (next(1) == L'?') {
            if (!variable)
                return ReportLoadErrorMsg(Msg::SyntaxError, pos);
            m_out.back().token.varUsage = VarUsageMaybeUnset;
            sym = SymCoalesce, len = 2;
            break;
        }
        const Char* q = SkipBlanks(p + 1);
        if (variable && q < m_end && (*q == L')' || *q == L',' || *q == L']' || *q == L'}' || *q == L':')) {
            m_out.back().token.varUsage = VarUsageMaybeUnset;
            p += 1;
            return Status::Ok;
        }
        sym = SymQuestion;
        break;
    }
    case L'[': {
        CallSite* site;
        if (!m_out.empty() && m_out.back().token.symbol == SymMember && SkipBlanks(p + 1) < m_end &&
            *SkipBlanks(p + 1) != L']') {
            // obj.prop[args]: the member access becomes a get with parameters.
            m_out.back().token.symbol = SymCall;
            site = static_cast<CallSite*>(m_out.back().token.extraPtr);
            Emit(SymOpenBracket, pos, InfixParamProperty).token.extraPtr = site;
            p += 1;
            return Status::Ok;
        }
        BRM_TRY(NewSite(site, after ? CallGet : (CallInvoke | CallArrayLiteral)));
        Emit(SymOpenBracket, pos).token.extraPtr = site;
        p += 1;
        return Status::Ok;
    }
    case L'{': {
        if (after)
            return ReportLoadErrorF(pos, Msg::UnexpectedChar, L'{');
        CallSite* site;
        BRM_TRY(NewSite(site, CallInvoke | CallObjectLiteral));
        Emit(SymOpenBrace, pos).token.extraPtr = site;
        p += 1;
        return Status::Ok;
    }
    case L'^':
        if (next(1) == L'=') sym = SymBitXorAssign, len = 2;
        else sym = SymBitXor;
        break;
    case L'|':
        if (next(1) == L'|') sym = SymOr, len = 2;
        else if (next(1) == L'=') sym = SymBitOrAssign, len = 2;
        else sym = SymBitOr;
        break;
    case L'~':
        if (next(1) == L'=') {
            CallSite* site;
            BRM_TRY(NewSite(site, CallInvoke | CallRegExMatch));
            site->paramCount = 2;
            Emit(SymRegExMatch, pos).token.extraPtr = site;
            p += 2;
            return Status::Ok;
        }
        sym = SymBitNot;
        break;
    case L'.': {
        Char n = next(1);
        if (n == L'=') {
            sym = SymConcatAssign, len = 2;
            break;
        }
        if (n == L' ' || n == L'\t' || n == L'\n' || n == L'\r') {
            if (!m_out.empty() && pos > m_text && IsBlank(pos[-1])) {
                sym = SymConcat;
                break;
            }
            return ReportLoadErrorMsg(Msg::SyntaxError, pos);
        }
        if (!after) {
            if (IsDigit(n))
                return Number(p);
            return ReportLoadErrorMsg(Msg::SyntaxError, pos);
        }
        if (n == L'%') {  // .%expr%: the dynamic pieces follow
            p += 1;
            return Status::Ok;
        }
        const Char* q = p + 1;
        while (q < m_end && IsNameChar(*q))
            ++q;
        if (q == p + 1)
            return ReportLoadErrorMsg(Msg::SyntaxError, pos);
        if (q < m_end && *q == L'%') {  // .name%expr%: a dynamic name whose first piece is `name`
            p += 1;
            return Status::Ok;
        }
        if (q < m_end && !IsExpressionDelimiter(*q))
            return ReportLoadErrorMsg(Msg::IllegalCharInExpression, q);
        bool call = q < m_end && *q == L'(';
        CallSite* site;
        BRM_TRY(NewSite(site, call ? CallInvoke : CallGet, p + 1, q - (p + 1)));
        Emit(call ? SymCall : SymMember, pos).token.extraPtr = site;
        p = q;
        return Status::Ok;
    }
    case L'%':  // the closing % of a dynamic name; its pieces came from the records
        p += 1;
        return Status::Ok;
    default:
        if (IsDigit(c)) {
            BRM_TRY(OperandStart(pos));
            return Number(p);
        }
        if (IsNameChar(c)) {
            // Text without a record: an object literal's property name.
            const Char* q = p;
            while (q < m_end && IsNameChar(*q))
                ++q;
            BRM_TRY(EmitString(p, q - p, p));
            p = q;
            return Status::Ok;
        }
        return ReportLoadErrorMsg(Msg::IllegalCharInExpression, pos);
    }
    Emit(sym, pos);
    p += len;
    return Status::Ok;
}

Status Lexer::Run() {
    m_out.clear();
    m_out.reserve(128);
    const RefRecord* rec = m_refs;
    const Char* p = m_text;
    for (;;) {
        // A string's record marks its content; the lexer meets the opening quote first.
        if (rec && rec->marker && rec->marker - (rec->type == RefType::String ? 1 : 0) <= p) {
            const RefRecord& r = *rec++;
            BRM_TRY(Record(r, p));
            continue;
        }
        if (p < m_end && IsBlank(*p)) {
            ++p;
            continue;
        }
        if (p >= m_end)
            break;
        BRM_TRY(Operator(p));
    }
    Emit(SymEnd, m_end);
    return Status::Ok;
}

}  // namespace

Status LexExpression(const ArgRecord& arg, std::vector<InfixToken>& out) {
    try {
        Lexer lexer(arg, out);
        return lexer.Run();
    } catch (const std::bad_alloc&) {
        return ReportLoadErrorMsg(Msg::OutOfMemory);
    }
}

}  // namespace brm
