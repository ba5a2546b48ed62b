// Function definitions at load time.
#include "loader/Definitions.h"
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>
#include "base/Messages.h"
#include "base/Pool.h"
#include "exec/GlobalVars.h"
#include "exec/Scope.h"
#include "expr/Conversions.h"
#include "expr/Tokenizer.h"
#include "expr/Var.h"
#include "loader/BlockLinker.h"
#include "loader/LineParser.h"
#include "loader/LoadError.h"
#include "objects/BuiltInFunctions.h"
#include "objects/Func.h"
#include "startup/ScriptHost.h"

namespace brm {

namespace {

constexpr size_t kMaxFunctionName = 253;
constexpr int kMaxParams = 255;
constexpr size_t kMaxDefaultText = 16384;
constexpr size_t kMaxLiteralDefault = 256;  // longer defaults are always computed

bool s_braceAlreadyAdded = false;

inline bool IsBlank(Char c) { return c == L' ' || c == L'\t'; }
size_t SkipBlanks(const Char* text, size_t i) {
    while (IsBlank(text[i])) ++i;
    return i;
}
bool EqualsFold(const Char* a, size_t aLength, const Char* b) { return CompareFoldAZ(a, aLength, b, wcslen(b)) == 0; }

// The end of a default: the next "," or ")" outside brackets and quotes.
size_t DefaultEnd(const Char* text, size_t i, size_t end) {
    int depth = 0;
    Char quote = 0;
    for (; i < end; ++i) {
        Char c = text[i];
        if (quote) {
            if (c == L'`') ++i;
            else if (c == quote) quote = 0;
            continue;
        }
        if (c == L'"' || c == L'\'') quote = c;
        else if (c == L'(' || c == L'[' || c == L'{') ++depth;
        else if (c == L')' || c == L']' || c == L'}') {
            if (depth == 0) return i;
            --depth;
        } else if (c == L',' && depth == 0) return i;
    }
    return end;
}

size_t MatchCloseParen(const Char* text, size_t open, size_t length) {
    size_t close = DefaultEnd(text, open + 1, length);
    while (close < length && text[close] == L',') close = DefaultEnd(text, close + 1, length);
    return close < length && text[close] == L')' ? close : static_cast<size_t>(-1);
}

// A quoted string with nothing after it but blanks: the text with its escapes resolved, else false.
bool QuotedDefault(const Char* text, size_t length, std::wstring& out) {
    if (length < 2 || (text[0] != L'"' && text[0] != L'\'') || text[length - 1] != text[0]) return false;
    Char quote = text[0];
    out.clear();
    for (size_t i = 1; i + 1 < length; ++i) {
        Char c = text[i];
        if (c == quote) return false;  // "a" "b" is an expression
        if (c == L'`' && i + 2 < length) {
            Char e = text[++i];
            switch (e) {
            case L'n': c = L'\n'; break;
            case L'r': c = L'\r'; break;
            case L't': c = L'\t'; break;
            case L'b': c = L'\b'; break;
            case L'f': c = L'\f'; break;
            case L'v': c = L'\v'; break;
            case L'a': c = L'\a'; break;
            case L's': c = L' '; break;
            default: c = e; break;
            }
        }
        out.push_back(c);
    }
    return true;
}

struct PendingDefault {
    int index;
    std::wstring statement;
};

}  // namespace

bool TakeFunctionBrace() {
    bool taken = s_braceAlreadyAdded;
    s_braceAlreadyAdded = false;
    return taken;
}

namespace {

// The header "name(params)" and what follows it. An expression function (inExpression) may be unnamed and
// has nothing after ")"; its body lines are added by the caller. *created receives the function.
Status DefineFunctionImpl(Char* text, size_t length, bool inExpression, UserFunc** created, Var** holderOut) {
    size_t i = 0;
    bool isStatic = false;
    while (i < length && IsNameChar(text[i])) ++i;
    if (i == 6 && EqualsFold(text, 6, L"Static") && IsBlank(text[i])) {
        isStatic = true;
        size_t skip = SkipBlanks(text, i);
        text += skip;
        length -= skip;
        i = 0;
        while (i < length && IsNameChar(text[i])) ++i;
    }
    const size_t nameLength = i;
    UserFunc* outer = LoadingFunc();
    if (isStatic && !outer) return ReportLoadErrorMsg(Msg::InvalidFunctionDeclaration, text);
    if (nameLength > kMaxFunctionName) return ReportLoadErrorMsg(Msg::FunctionNameTooLong, text);
    const bool unnamed = inExpression && !nameLength;
    if (!unnamed && !ValidateName(text, nameLength, NameKind::Function)) return Status::Fail;
    const size_t open = i;
    const size_t close = MatchCloseParen(text, open, length);
    if (close == static_cast<size_t>(-1)) return ReportLoadErrorMsg(Msg::MissingCloseParen, text);

    // The function and the variable that holds it.
    Char* name = PoolStrDup(text, nameLength);
    void* memory = PoolAlloc(sizeof(UserFunc));
    if (!name || !memory) return ReportLoadErrorMsg(Msg::OutOfMemory);
    auto* func = new (memory) UserFunc(name);
    func->outer = outer;
    func->isStatic = isStatic;
    Var* holder;
    if (unnamed) {
        // An unnamed function is held by a variable of the current scope that has no name.
        void* varMemory = PoolAlloc(sizeof(Var));
        if (!varMemory) return ReportLoadErrorMsg(Msg::OutOfMemory);
        holder = new (varMemory) Var(L"", outer ? VarScopeLocal | VarScopeStatic : VarScopeGlobal, VarTypeConstant);
        holder->m_attrib |= VarAttribAssigned;
        if (outer) {
            if (!outer->AddNested(holder, func)) return ReportLoadErrorMsg(Msg::OutOfMemory);
        } else {
            holder->m_object = func;
            holder->m_attrib = VarAttribObject | VarAttribAssigned | VarAttribNotNumeric;
        }
    } else if (outer) {
        if (Var* existing = outer->vars.Find(text, nameLength))
            return ReportLoadErrorF(text, Msg::DeclarationConflict, MessageText(Msg::KindFunction), VarKindName(*existing));
        // Kept as a static until the first call of the outer function shows whether it needs a closure
        // per call; it holds its value from then on.
        holder = AddFuncVar(outer, text, nameLength, VarScopeLocal | VarScopeStatic);
        if (!holder) return Status::Fail;
        if (!outer->AddNested(holder, func)) return ReportLoadErrorMsg(Msg::OutOfMemory);
        holder->m_type = VarTypeConstant;
        holder->m_attrib |= VarAttribAssigned;
    } else {
        if (Var* existing = FindGlobal(text, nameLength, BuiltIns::Skip))
            return ReportLoadErrorF(text, Msg::DeclarationConflict, MessageText(Msg::KindFunction), VarKindName(*existing));
        holder = FindOrAddGlobal(text, nameLength);
        if (!holder) return Status::Fail;
        holder->m_type = VarTypeConstant;
        holder->m_object = func;  // the variable keeps the creator's reference: functions live for the whole run
        holder->m_attrib = VarAttribObject | VarAttribAssigned | VarAttribNotNumeric;
    }

    // Parameters.
    ParamRecord records[kMaxParams + 1];
    std::vector<PendingDefault> computed;
    int count = 0, required = 0;
    bool variadic = false, sawDefault = false;
    size_t p = SkipBlanks(text, open + 1);
    while (p < close) {
        if (count >= kMaxParams) return ReportLoadErrorMsg(Msg::TooManyParamsDeclared, text);
        ParamRecord& r = records[count];
        memset(&r, 0, sizeof(r));
        if (text[p] == L'&') {
            r.byRef = 1;
            p = SkipBlanks(text, p + 1);
        }
        size_t nameStart = p;
        while (p < close && IsNameChar(text[p])) ++p;
        size_t paramNameLength = p - nameStart;
        p = SkipBlanks(text, p);
        if (text[p] == L'*') {
            variadic = true;
            if (paramNameLength) {
                if (func->vars.Find(text + nameStart, paramNameLength))
                    return ReportLoadErrorF(text + nameStart, Msg::DeclarationConflict, MessageText(Msg::KindParameter),
                                            MessageText(Msg::KindParameter));
                if (!ValidateName(text + nameStart, paramNameLength, NameKind::Variable)) return Status::Fail;
                r.var = AddFuncVar(func, text + nameStart, paramNameLength, VarScopeLocal | VarScopeParam);
                if (!r.var) return Status::Fail;
            }
            p = SkipBlanks(text, p + 1);
            if (p != close) return ReportLoadErrorMsg(Msg::MissingCloseParen, text + p);
            break;
        }
        if (!paramNameLength) return ReportLoadErrorMsg(Msg::MissingParamName, text + nameStart);
        if (!ValidateName(text + nameStart, paramNameLength, NameKind::Variable)) return Status::Fail;
        if (func->vars.Find(text + nameStart, paramNameLength))
            return ReportLoadErrorF(text + nameStart, Msg::DeclarationConflict, MessageText(Msg::KindParameter),
                                    MessageText(Msg::KindParameter));
        r.var = AddFuncVar(func, text + nameStart, paramNameLength, VarScopeLocal | VarScopeParam);
        if (!r.var) return Status::Fail;
        if (text[p] == L'?') {
            r.defaultKind = ParamDefault::Unset;
            p = SkipBlanks(text, p + 1);
        } else if (text[p] == L':' && text[p + 1] == L'=') {
            size_t d = SkipBlanks(text, p + 2);
            size_t end = DefaultEnd(text, d, close);
            size_t dl = end;
            while (dl > d && IsBlank(text[dl - 1])) --dl;
            dl -= d;
            const Char* def = text + d;
            std::wstring quoted;
            if (dl > kMaxDefaultText) return ReportLoadErrorMsg(Msg::InvalidFunctionDeclaration, text + nameStart);
            if (!dl) return ReportLoadErrorMsg(Msg::InvalidFunctionDeclaration, text + nameStart);
            std::wstring literal(def, dl);
            if (QuotedDefault(def, dl, quoted)) {
                r.defaultKind = ParamDefault::String;
                r.value.text = PoolStrDup(quoted.c_str(), quoted.size());
                if (!r.value.text) return ReportLoadErrorMsg(Msg::OutOfMemory);
            } else if (dl <= kMaxLiteralDefault && EqualsFold(def, dl, L"false")) {
                r.defaultKind = ParamDefault::Integer;
                r.value.integer = 0;
            } else if (dl <= kMaxLiteralDefault && EqualsFold(def, dl, L"true")) {
                r.defaultKind = ParamDefault::Integer;
                r.value.integer = 1;
            } else if (dl <= kMaxLiteralDefault && EqualsFold(def, dl, L"unset")) {
                r.defaultKind = ParamDefault::Unset;
            } else if (dl <= kMaxLiteralDefault &&
                       IsNumeric(literal.c_str(), AllowNegative::Yes, AllowEmpty::No, AllowFloat::Yes) ==
                           NumericKind::Integer) {
                r.defaultKind = ParamDefault::Integer;
                r.value.integer = ParseInt64(literal.c_str());
            } else if (dl <= kMaxLiteralDefault &&
                       IsNumeric(literal.c_str(), AllowNegative::Yes, AllowEmpty::No, AllowFloat::Yes) ==
                           NumericKind::Float) {
                r.defaultKind = ParamDefault::Float;
                r.value.number = ParseDouble(literal.c_str());
            } else {
                r.defaultKind = ParamDefault::Expression;
                computed.push_back({count, std::wstring(text + nameStart, paramNameLength) + L" := " + literal});
            }
            p = SkipBlanks(text, end);
        } else if (text[p] == L'=') {
            return ReportLoadErrorMsg(Msg::ExpectedColonEquals, text + p);
        }
        if (r.defaultKind != ParamDefault::None) {
            sawDefault = true;
        } else {
            if (sawDefault) return ReportLoadErrorMsg(Msg::ParamDefaultRequired, r.var->m_name);
            ++required;
        }
        ++count;
        if (p == close) break;
        if (text[p] != L',') return ReportLoadErrorMsg(Msg::MissingComma, text + p);
        p = SkipBlanks(text, p + 1);
        if (p == close) return ReportLoadErrorMsg(Msg::MissingParamName, text + p);
    }
    if (variadic) {
        ParamRecord& r = records[count];
        if (!r.var) memset(&r, 0, sizeof(r));
    }
    size_t recordCount = static_cast<size_t>(count) + (variadic ? 1 : 0);
    func->paramList = static_cast<ParamRecord*>(PoolAlloc(sizeof(ParamRecord) * (recordCount ? recordCount : 1)));
    if (!func->paramList) return ReportLoadErrorMsg(Msg::OutOfMemory);
    memcpy(static_cast<void*>(func->paramList), records, sizeof(ParamRecord) * recordCount);
    func->SetParamCounts(required, count, variadic);

    *created = func;
    if (holderOut) *holderOut = holder;
    if (inExpression) {
        BRM_TRY(AddLine(LineAction::BlockBegin));
        func->bodyBegin = g_script.lastLine;
        func->bodyBegin->attribute = func;
        for (PendingDefault& d : computed) {
            Char* args[1] = {d.statement.data()};
            BRM_TRY(AddLine(LineAction::Expression, args, 1, nullptr, true));
            func->paramList[d.index].value.line = g_script.lastLine;
            ++func->defaultLineCount;
        }
        return Status::Ok;
    }

    // What follows ")": "{", "=>" and an expression, or nothing (the "{" is on the next line).
    size_t after = SkipBlanks(text, close + 1);
    const Char* arrow = nullptr;
    size_t arrowLength = 0;
    bool braceHere = false;
    if (text[after] == L'{') {
        braceHere = true;
    } else if (text[after] == L'=' && text[after + 1] == L'>') {
        arrow = text + SkipBlanks(text, after + 2);
        arrowLength = wcslen(arrow);
        while (arrowLength && IsBlank(arrow[arrowLength - 1])) --arrowLength;
        if (!arrowLength) return ReportLoadErrorMsg(Msg::InvalidFunctionDeclaration, text);
    }
    BRM_TRY(AddLine(LineAction::BlockBegin));
    ScriptLine* begin = g_script.lastLine;
    begin->attribute = func;
    func->bodyBegin = begin;
    for (PendingDefault& d : computed) {
        std::wstring statement = d.statement;
        BRM_TRY(ParseStatement(statement.data(), statement.size(), LineAction::Expression));
        func->paramList[d.index].value.line = g_script.lastLine;
        ++func->defaultLineCount;
    }
    if (arrow) {
        std::wstring expr(arrow, arrowLength);
        BRM_TRY(ParseStatement(expr.data(), expr.size(), LineAction::Return));
        BRM_TRY(AddLine(LineAction::BlockEnd));
        func->bodyEnd = g_script.lastLine;
        return Status::Ok;
    }
    if (!braceHere) s_braceAlreadyAdded = true;
    return Status::Ok;
}

}  // namespace

Status DefineFunction(Char* text, size_t length) {
    UserFunc* func = nullptr;
    return DefineFunctionImpl(text, length, false, &func, nullptr);
}

Status DefineExpressionFunction(const Char* header, size_t headerLength, const Char* body, size_t bodyLength,
                                const bool* bodyMap, Var** holder) {
    LinkState state = SuspendLinking();
    std::wstring headerText(header, headerLength);
    std::wstring bodyText(body, bodyLength);
    UserFunc* func = nullptr;
    Status st = DefineFunctionImpl(headerText.data(), headerText.size(), true, &func, holder);
    if (st == Status::Ok) {
        Char* args[1] = {bodyText.data()};
        const bool* maps[1] = {bodyMap};
        st = AddLine(LineAction::Return, args, 1, bodyMap ? maps : nullptr, true);
    }
    if (st == Status::Ok) st = AddLine(LineAction::BlockEnd);
    if (st == Status::Ok) func->bodyEnd = g_script.lastLine;
    ResumeLinking(state);
    return st;
}

}  // namespace brm
