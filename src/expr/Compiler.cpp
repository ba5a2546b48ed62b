// The postfix compiler: reorders infix tokens by precedence (a shunting-yard pass with call-site records),
// rewrites property targets of assignments into get/set calls, then binds and validates the result.
#include "expr/Compiler.h"
#include <array>
#include <deque>
#include <vector>
#include "base/Pool.h"
#include "exec/GlobalVars.h"
#include "exec/Scope.h"
#include "expr/Conversions.h"
#include "expr/Tokenizer.h"
#include "interop/DllCall.h"
#include "expr/Var.h"
#include "loader/Directives.h"
#include "loader/LoadError.h"
#include "objects/BuiltInFunctions.h"
#include "objects/ClassInit.h"
#include "objects/Func.h"
#include "startup/ScriptHost.h"

namespace brm {

namespace {

struct OperatorInfo {
    uint8_t precedence;
    OpKind kind;
    const Char* text;
    const Char* name;
};

constexpr std::array<OperatorInfo, kSymbolCount> MakeOperatorTable() {
    std::array<OperatorInfo, kSymbolCount> t{};
    for (auto& e : t)
        e = OperatorInfo{0, OpKind::Reserved, L"", L""};
    const Char* operandNames[] = {L"String", L"Integer", L"Float", L"Missing", L"Variable",
                                  L"Object", L"Dynamic", L"Super", L"StackBottom"};
    for (int i = 0; i < static_cast<int>(SymFirstOperator); ++i)
        t[i].name = operandNames[i];
#define BRM_OP_ROW(sym, nm, txt, prec, knd) t[sym] = OperatorInfo{prec, OpKind::knd, txt, L## #nm};
    BRM_OPERATORS(BRM_OP_ROW)
#undef BRM_OP_ROW
    t[SymEnd].name = L"End";
    return t;
}
constexpr std::array<OperatorInfo, kSymbolCount> kOperators = MakeOperatorTable();
static_assert(kOperators[SymPower].precedence == 73 && kOperators[SymAssign].precedence == 7);

// Compiler-local InfixToken flags.
constexpr uint32_t InfixConsumed = 0x100;    // the token was rewritten away
constexpr uint32_t InfixWasMember = 0x200;   // a member access turned into its call token: still an operand

inline bool IsOperand(uint32_t s) { return s <= SymSuper; }
inline bool IsOpener(uint32_t s) { return s == SymOpenParen || s == SymOpenBracket || s == SymOpenBrace; }
inline bool IsCloser(uint32_t s) { return s == SymCloseParen || s == SymCloseBracket || s == SymCloseBrace; }
inline bool IsAssignment(uint32_t s) { return s >= SymAssign && s <= SymConcatAssign; }
inline bool IsPrefix(uint32_t s) { return (s >= SymNot && s <= SymBitNot) || s == SymPreIncrement || s == SymPreDecrement; }
inline bool IsVarLike(uint32_t s) { return s == SymVariable || s == SymDynamic; }

inline bool AfterOperand(const InfixToken* prev) {
    if (!prev)
        return false;
    uint32_t s = prev->token.symbol;
    return IsOperand(s) || s == SymPostIncrement || s == SymPostDecrement || s == SymMember || IsCloser(s) ||
           (prev->flags & InfixWasMember);
}

inline bool StartsOperand(uint32_t s) {
    return IsOperand(s) || IsOpener(s) || s == SymCall || IsPrefix(s);
}

inline uint32_t BinaryOfCompound(uint32_t s) {
    switch (s) {
    case SymAddAssign: return SymAdd;
    case SymSubtractAssign: return SymSubtract;
    case SymMultiplyAssign: return SymMultiply;
    case SymDivideAssign: return SymDivide;
    case SymFloorDivideAssign: return SymFloorDivide;
    case SymBitOrAssign: return SymBitOr;
    case SymBitXorAssign: return SymBitXor;
    case SymBitAndAssign: return SymBitAnd;
    case SymShiftLeftAssign: return SymShiftLeft;
    case SymShiftRightAssign: return SymShiftRight;
    case SymShiftRightLogicalAssign: return SymShiftRightLogical;
    default: return SymConcat;
    }
}

inline CallSite* SiteOf(const InfixToken& t) { return static_cast<CallSite*>(t.token.extraPtr); }

inline bool IsGetCall(const InfixToken& t) {
    if (t.token.symbol != SymCall)
        return false;
    const CallSite* site = SiteOf(t);
    return site && (site->flags & CallKindMask) == CallGet && !site->func &&
           !(site->flags & (CallArrayLiteral | CallObjectLiteral | CallRegExMatch));
}

class PostfixCompiler {
public:
    PostfixCompiler(std::vector<InfixToken>& in) : m_in(in) {}
    Status Run();
    std::vector<InfixToken> m_out;

private:
    struct Entry {
        InfixToken* tok;
        CallSite* savedSite;
        int outIndex;  // jump operators: their copy in the output
    };

    uint32_t TopSymbol() const { return m_stack.back().tok ? m_stack.back().tok->token.symbol : SymStackBottom; }
    Status Error(Msg id, const Char* pos) { return ReportLoadErrorMsg(id, pos); }
    InfixToken& Synth(uint32_t symbol, const Char* pos, void* extraPtr = nullptr) {
        InfixToken t{};
        t.token.valueInt64 = 0;
        t.token.symbol = symbol;
        t.token.extraPtr = extraPtr;
        t.position = pos;
        m_synth.push_back(t);
        return m_synth.back();
    }
    void Output(const InfixToken& t) { m_out.push_back(t); }
    void OutputSymbol(uint32_t symbol, const Char* pos, void* extraPtr = nullptr) {
        InfixToken t{};
        t.token.valueInt64 = 0;
        t.token.symbol = symbol;
        t.token.extraPtr = extraPtr;
        t.position = pos;
        m_out.push_back(t);
    }
    void OutputInteger(int64_t v, const Char* pos) {
        OutputSymbol(SymInteger, pos);
        m_out.back().token.SetInteger(v);
    }
    Status CopySite(const CallSite* from, CallSite*& to) {
        to = static_cast<CallSite*>(PoolAlloc(sizeof(CallSite)));
        if (!to)
            return Error(Msg::OutOfMemory, nullptr);
        *to = *from;
        return Status::Ok;
    }
    Status Pop(InfixToken* next);
    Status PopGetCall(InfixToken& call, InfixToken* next);
    Status CloseArgument(InfixToken& t, const InfixToken* prev);

    std::vector<InfixToken>& m_in;
    std::vector<Entry> m_stack;
    std::deque<InfixToken> m_synth;
    CallSite* m_site = nullptr;
};

// A get call (member access or index) about to be output: an assignment, ++ or -- that follows turns it
// into a get (keeping the target) and a set of the same member.
Status PostfixCompiler::PopGetCall(InfixToken& call, InfixToken* next) {
    CallSite* site = SiteOf(call);
    uint32_t n = next ? next->token.symbol : SymEnd;
    if (n == SymAssign) {
        site->flags = (site->flags & ~CallKindMask) | CallSet;
        site->paramCount++;
        next->token.extraPtr = site;
        return Status::Ok;
    }
    if (IsAssignment(n)) {
        CallSite* get;
        BRM_TRY(CopySite(site, get));
        get->flags |= CallKeepTarget;
        OutputSymbol(SymCall, call.position, get);
        site->flags = (site->flags & ~CallKindMask) | CallSet;
        site->paramCount++;
        next->token.extraPtr = site;
        return Status::Ok;
    }
    bool post = n == SymPostIncrement || n == SymPostDecrement;
    Entry* prefix = nullptr;
    if (!post && m_stack.size() > 1 && n != SymMember && n != SymCall && !IsOpener(n)) {
        uint32_t under = TopSymbol();
        if (under == SymPreIncrement || under == SymPreDecrement)
            prefix = &m_stack.back();
    }
    if (!post && !prefix) {
        Output(call);
        return Status::Ok;
    }
    int64_t step = (post ? n == SymPostIncrement : prefix->tok->token.symbol == SymPreIncrement) ? 1 : -1;
    CallSite* get;
    BRM_TRY(CopySite(site, get));
    get->flags |= CallKeepTarget;
    OutputSymbol(SymCall, call.position, get);
    OutputInteger(step, call.position);
    OutputSymbol(SymAdd, call.position);
    site->flags = (site->flags & ~CallKindMask) | CallSet;
    site->paramCount++;
    OutputSymbol(SymCall, call.position, site);
    if (post) {
        OutputInteger(step, call.position);
        OutputSymbol(SymSubtract, call.position);
        next->flags |= InfixConsumed;
    } else {
        prefix->tok->flags |= InfixConsumed;
    }
    return Status::Ok;
}

Status PostfixCompiler::Pop(InfixToken* next) {
    Entry e = m_stack.back();
    m_stack.pop_back();
    InfixToken& t = *e.tok;
    uint32_t s = t.token.symbol;
    switch (s) {
    case SymColon:
    case SymCoalesce:
    case SymOr:
    case SymAnd: {
        int target = static_cast<int>(m_out.size()) - 1;
        if (target == e.outIndex)
            return Error(Msg::MissingOperand, t.position);
        m_out[e.outIndex].token.extra = static_cast<uint32_t>(target);
        return Status::Ok;
    }
    case SymQuestion:
        return Error(Msg::QuestionMissingColon, t.position);
    case SymRegExMatch:
        OutputSymbol(SymCall, t.position, t.token.extraPtr);
        return Status::Ok;
    case SymDynamicConcat:
        OutputSymbol(SymConcat, t.position);
        return Status::Ok;
    case SymReference: {
        uint32_t last = m_out.empty() ? SymEnd : m_out.back().token.symbol;
        if (IsVarLike(last)) {
            m_out.back().token.varUsage = VarUsageReference;
            return Status::Ok;
        }
        if (IsAssignment(last) || last == SymPreIncrement || last == SymPreDecrement) {
            Output(t);
            return Status::Ok;
        }
        return Error(Msg::ReferenceNeedsVariable, t.position);
    }
    case SymPreIncrement:
    case SymPreDecrement: {
        if (t.flags & InfixConsumed)
            return Status::Ok;
        uint32_t last = m_out.empty() ? SymEnd : m_out.back().token.symbol;
        if (IsVarLike(last))
            m_out.back().token.varUsage = VarUsageAssignTarget;
        else if (!(IsAssignment(last) || last == SymPreIncrement || last == SymPreDecrement))
            return Error(Msg::InvalidAssignment, t.position);
        Output(t);
        return Status::Ok;
    }
    case SymCall: {
        CallSite* site = SiteOf(t);
        if (site->func && site->func == IsSetFunc()) {
            uint32_t last = m_out.empty() ? SymEnd : m_out.back().token.symbol;
            if (site->paramCount != 1 || !IsVarLike(last))
                return Error(Msg::IsSetNeedsVariable, t.position);
            m_out.back().token.varUsage = VarUsageIsSetArg;
        }
        if (IsGetCall(t))
            return PopGetCall(t, next);
        Output(t);
        return Status::Ok;
    }
    default:
        if (IsAssignment(s) && t.token.extraPtr) {
            if (s != SymAssign)
                OutputSymbol(BinaryOfCompound(s), t.position);
            OutputSymbol(SymCall, t.position, t.token.extraPtr);
            return Status::Ok;
        }
        Output(t);
        return Status::Ok;
    }
}

// A comma or closer ends an argument of the current call site.
Status PostfixCompiler::CloseArgument(InfixToken& t, const InfixToken* prev) {
    uint32_t s = t.token.symbol;
    uint32_t p = prev ? prev->token.symbol : SymEnd;
    bool empty = IsOpener(p) || p == SymComma;
    if (empty) {
        if (s == SymComma) {
            OutputSymbol(SymMissing, t.position);
            m_site->paramCount++;
        }
        return Status::Ok;
    }
    m_site->paramCount++;
    if ((m_site->flags & CallObjectLiteral) && (m_site->paramCount & 1))
        return Error(Msg::MissingPropertyName, t.position);
    return Status::Ok;
}

Status PostfixCompiler::Run() {
    m_out.reserve(m_in.size() + 8);
    m_stack.push_back(Entry{nullptr, nullptr, -1});
    for (size_t i = 0; i < m_in.size(); ++i) {
        InfixToken& t = m_in[i];
        InfixToken* prev = i ? &m_in[i - 1] : nullptr;
        InfixToken* next = i + 1 < m_in.size() ? &m_in[i + 1] : nullptr;
        uint32_t s = t.token.symbol;
        if (IsOperand(s)) {
            Output(t);
            continue;
        }
        switch (s) {
        case SymMember:
            while (TopSymbol() != SymStackBottom && OperatorPrecedence(TopSymbol()) >= 86)
                BRM_TRY(Pop(&t));
            t.token.symbol = SymCall;
            t.flags |= InfixWasMember;
            m_stack.push_back(Entry{&t, nullptr, -1});
            continue;
        case SymCall:
            while (TopSymbol() != SymStackBottom && OperatorPrecedence(TopSymbol()) >= 86)
                BRM_TRY(Pop(&t));
            m_stack.push_back(Entry{&t, nullptr, -1});
            if (next && IsOpener(next->token.symbol)) {
                m_stack.push_back(Entry{next, m_site, -1});
                m_site = SiteOf(t);
                ++i;
            }
            continue;
        case SymOpenParen:
            if (AfterOperand(prev) && !(t.flags & InfixSynthetic)) {
                while (TopSymbol() != SymStackBottom && OperatorPrecedence(TopSymbol()) >= 86)
                    BRM_TRY(Pop(&t));
                auto* site = static_cast<CallSite*>(PoolAlloc(sizeof(CallSite)));
                if (!site)
                    return Error(Msg::OutOfMemory, nullptr);
                *site = CallSite{nullptr, nullptr, CallInvoke, 0, nullptr, 0, 0, nullptr, nullptr};
                m_stack.push_back(Entry{&Synth(SymCall, t.position, site), nullptr, -1});
                m_stack.push_back(Entry{&t, m_site, -1});
                m_site = site;
            } else {
                m_stack.push_back(Entry{&t, m_site, -1});
                m_site = nullptr;
            }
            continue;
        case SymOpenBracket:
        case SymOpenBrace:
            if (s == SymOpenBracket && AfterOperand(prev)) {
                while (TopSymbol() != SymStackBottom && OperatorPrecedence(TopSymbol()) >= 86)
                    BRM_TRY(Pop(&t));
            }
            m_stack.push_back(Entry{&t, m_site, -1});
            m_site = SiteOf(t);
            continue;
        case SymComma:
        case SymCloseParen:
        case SymCloseBracket:
        case SymCloseBrace: {
            while (!IsOpener(TopSymbol()) && TopSymbol() != SymStackBottom &&
                   (s != SymComma || OperatorPrecedence(TopSymbol()) >= OperatorPrecedence(SymComma)))
                BRM_TRY(Pop(&t));
            bool siteOpener = m_site && IsOpener(TopSymbol());
            if (siteOpener) {
                BRM_TRY(CloseArgument(t, prev));
                if (s == SymComma)
                    continue;
            } else {
                uint32_t p = prev ? prev->token.symbol : SymEnd;
                if (p == SymOpenParen || p == SymComma)
                    return Error(Msg::SyntaxError, t.position);
                if (s == SymComma) {
                    if (!next || !StartsOperand(next->token.symbol))
                        return Error(Msg::MissingOperand, t.position);
                    m_stack.push_back(Entry{&t, nullptr, -1});
                    continue;
                }
            }
            uint32_t want = s == SymCloseParen ? SymOpenParen : s == SymCloseBracket ? SymOpenBracket : SymOpenBrace;
            if (TopSymbol() != want)
                return Error(Msg::SyntaxError, t.position);
            Entry opener = m_stack.back();
            m_stack.pop_back();
            m_site = opener.savedSite;
            InfixToken* after = next;  // what follows the closer decides whether a get becomes a set
            if (s == SymCloseParen || (opener.tok->flags & InfixParamProperty)) {
                if (TopSymbol() == SymCall)
                    BRM_TRY(Pop(after));
            } else {
                opener.tok->token.symbol = SymCall;
                m_stack.push_back(Entry{opener.tok, nullptr, -1});
                BRM_TRY(Pop(after));
            }
            continue;
        }
        case SymColon: {
            while (TopSymbol() != SymStackBottom && !IsOpener(TopSymbol()) && TopSymbol() != SymQuestion)
                BRM_TRY(Pop(&t));
            uint32_t top = TopSymbol();
            if (top == SymStackBottom)
                return Error(Msg::ColonMissingQuestion, t.position);
            if (top == SymOpenBrace && m_site && (m_site->flags & CallObjectLiteral)) {
                uint32_t p = prev ? prev->token.symbol : SymEnd;
                if (p == SymDynamic && !m_out.empty() && m_out.back().token.symbol == SymDynamic)
                    m_out.pop_back();  // a computed key is the name itself, not a variable
                else if (p != SymString)
                    return Error(Msg::InvalidPropertyName, t.position);
                m_site->paramCount++;
                continue;
            }
            if (top == SymOpenParen)
                return ReportLoadErrorF(t.position, Msg::UnexpectedChar, L':');
            if (top == SymOpenBracket)
                return ReportLoadErrorF(t.position, Msg::MissingBefore, L']', L':');
            if (top == SymOpenBrace)
                return ReportLoadErrorF(t.position, Msg::MissingBefore, L'}', L':');
            Entry& q = m_stack.back();
            m_out[q.outIndex].token.extra = static_cast<uint32_t>(m_out.size());
            Output(t);
            q.tok = &t;
            q.outIndex = static_cast<int>(m_out.size()) - 1;
            if (!next || !StartsOperand(next->token.symbol))
                return Error(Msg::MissingOperand, t.position);
            continue;
        }
        case SymEnd:
            while (TopSymbol() != SymStackBottom) {
                if (IsOpener(TopSymbol()))
                    return Error(Msg::SyntaxError, m_stack.back().tok->position);
                BRM_TRY(Pop(&t));
            }
            OutputSymbol(SymEnd, t.position);
            return Status::Ok;
        default:
            break;
        }
        if (s == SymMultiply && m_site && next && (next->token.symbol == SymCloseParen || next->token.symbol == SymCloseBracket) &&
            AfterOperand(prev)) {
            m_site->flags |= CallVariadic;
            continue;
        }
        if (s == SymReserved)
            return Error(Msg::UnexpectedReservedWord, t.position);
        // Any other operator.
        if (t.flags & InfixConsumed)
            continue;
        bool prefix = IsPrefix(s);
        if (prefix == AfterOperand(prev))
            return Error(Msg::SyntaxError, t.position);
        bool assign = IsAssignment(s);
        bool postfix = s == SymPostIncrement || s == SymPostDecrement;
        if (assign || postfix) {
            uint32_t last = m_out.empty() ? SymEnd : m_out.back().token.symbol;
            bool property = TopSymbol() == SymCall && IsGetCall(*m_stack.back().tok);
            if (!property && !t.token.extraPtr) {
                if (IsVarLike(last) && prev && IsVarLike(prev->token.symbol))
                    m_out.back().token.varUsage = VarUsageAssignTarget;
                else if (!(IsAssignment(last) || last == SymPreIncrement || last == SymPreDecrement))
                    return Error(Msg::InvalidAssignment, t.position);
            }
        }
        if (!postfix && (!next || !StartsOperand(next->token.symbol)))
            return Error(Msg::MissingOperand, t.position);
        if (assign) {
            if (TopSymbol() == SymCall && IsGetCall(*m_stack.back().tok))
                BRM_TRY(Pop(&t));
        } else {
            int prec = OperatorPrecedence(s);
            int need = (prec & 1) ? prec + 1 : prec;
            while (TopSymbol() != SymStackBottom && OperatorPrecedence(TopSymbol()) >= need) {
                if (s >= SymNot && s <= SymBitNot && TopSymbol() == SymPower)
                    break;
                BRM_TRY(Pop(&t));
            }
        }
        if (t.flags & InfixConsumed)
            continue;
        int outIndex = -1;
        if (s == SymQuestion || s == SymCoalesce || s == SymOr || s == SymAnd) {
            Output(t);
            outIndex = static_cast<int>(m_out.size()) - 1;
        }
        m_stack.push_back(Entry{&t, nullptr, outIndex});
    }
    return Error(Msg::SyntaxError, nullptr);
}

bool IsSimplifiable(LineAction a) {
    switch (a) {
    case LineAction::For: case LineAction::While: case LineAction::Until: case LineAction::Throw:
    case LineAction::Switch: case LineAction::Case: case LineAction::HotIf:
        return false;
    default:
        return true;
    }
}

Status BindToken(ValueToken& token, ArgRecord& arg) {
    auto* rec = static_cast<RefRecord*>(token.extraPtr);
    Var* var = (rec->type == RefType::FatArrow)
                   ? rec->var
                   : FindOrAddVar(rec->marker, rec->length, token.varUsage >= VarUsageReference ? VarUse::Write : VarUse::Read);
    if (!var)
        return Status::Fail;
    token.var = var;
    uint32_t usage = token.varUsage;
    if (usage >= VarUsageReference) {
        var->Target()->m_attrib |= VarAttribAssigned;
        return Status::Ok;
    }
    if (usage == VarUsageIsSetArg) {
        if (var->IsUnset())
            var->Target()->m_attrib |= VarAttribWarned;
        return Status::Ok;
    }
    if (var->IsVirtual())
        arg.maxAlloc++;
    // A class that initialises on first use keeps its variable: reading it is what starts the initialisation.
    if (var->IsConstant() && var->IsObject() && !IsPendingClassHolder(var)) {
        IObject* object = var->Object();
        object->AddRef();
        token.SetObject(object);
        token.extraPtr = nullptr;
    }
    return Status::Ok;
}

bool IsBound(const ValueToken& t) { return t.symbol != SymVariable || t.var; }

}  // namespace

uint8_t OperatorPrecedence(uint32_t symbol) { return symbol < kSymbolCount ? kOperators[symbol].precedence : 0; }
const Char* OperatorText(uint32_t symbol) { return symbol < kSymbolCount ? kOperators[symbol].text : L""; }
const Char* OperatorName(uint32_t symbol) { return symbol < kSymbolCount ? kOperators[symbol].name : L""; }

Status CompilePostfix(ScriptLine& line, ArgRecord& arg) {
    arg.postfix = nullptr;
    arg.maxStack = arg.maxAlloc = 0;
    std::vector<InfixToken> infix;
    BRM_TRY(LexExpression(arg, infix));
    PostfixCompiler compiler(infix);
    try {
        BRM_TRY(compiler.Run());
    } catch (const std::bad_alloc&) {
        return ReportLoadErrorMsg(Msg::OutOfMemory);
    }
    std::vector<InfixToken>& out = compiler.m_out;
    int32_t count = static_cast<int32_t>(out.size());
    auto* expr = static_cast<CompiledExpr*>(PoolAlloc(sizeof(CompiledExpr)));
    auto* tokens = static_cast<ValueToken*>(PoolAlloc(sizeof(ValueToken) * count));
    auto* positions = static_cast<const Char**>(PoolAlloc(sizeof(const Char*) * count));
    if (!expr || !tokens || !positions)
        return ReportLoadErrorMsg(Msg::OutOfMemory);
    int32_t stack = 0, temps = 0;
    for (int32_t i = 0; i < count; ++i) {
        tokens[i] = out[i].token;
        positions[i] = out[i].position;
        uint32_t s = tokens[i].symbol;
        if (IsOperand(s) || s == SymCall)
            ++stack;
        if (s == SymDynamic || s == SymCall || s == SymConcat || s == SymReference)
            ++temps;
        if (s == SymVariable && tokens[i].varUsage >= VarUsageReference && !tokens[i].var) {
            const auto* rec = static_cast<const RefRecord*>(tokens[i].extraPtr);
            Var* var = FindOrAddVar(rec->marker, rec->length, VarUse::Write);
            if (!var)
                return Status::Fail;
            tokens[i].var = var;
            var->Target()->m_attrib |= VarAttribAssigned;
        }
    }
    *expr = CompiledExpr{tokens, positions, count};
    arg.postfix = expr;
    arg.maxStack = stack;
    arg.maxAlloc = temps;

    if (arg.kind == ArgKind::OutputVar) {
        if (count != 2 || tokens[0].symbol != SymVariable)
            return ReportLoadErrorMsg(Msg::SyntaxError, arg.text);
        ValueToken& t = tokens[0];
        t.varUsage = VarUsageOutputOnly;
        if (!t.var) {
            const auto* rec = static_cast<const RefRecord*>(t.extraPtr);
            t.var = FindOrAddVar(rec->marker, rec->length, VarUse::Write);
            if (!t.var)
                return Status::Fail;
        }
        t.var->Target()->m_attrib |= VarAttribAssigned;
        return Status::Ok;
    }
    if (count == 2 && IsSimplifiable(line.action)) {
        ValueToken& t = tokens[0];
        if (t.symbol == SymString) {
            // Plain text: the executor reads it without evaluating.
            arg.text = t.marker;
            arg.length = static_cast<uint32_t>(t.markerLength);
            arg.isExpression = false;
        } else if (t.symbol == SymVariable && t.varUsage == VarUsageRead && line.action != LineAction::Return) {
            arg.kind = ArgKind::InputVar;
        }
    }
    return Status::Ok;
}

Status BindVariables(ScriptLine& line, ArgRecord& arg) {
    (void)line;
    if (!arg.postfix)
        return Status::Ok;
    CompiledExpr& e = *arg.postfix;
    for (int32_t i = 0; i < e.count; ++i) {
        ValueToken& t = e.tokens[i];
        if (!IsBound(t)) {
            g_script.loadFileIndex = line.fileIndex;
            g_script.loadLineNumber = line.lineNumber;
            BRM_TRY(BindToken(t, arg));
        }
    }
    return Status::Ok;
}

Status BindVariables() {
    for (ScriptLine* line = g_script.firstLine; line; line = line->nextLine) {
        SetBindScope(FuncOfLine(line));
        for (int a = 0; a < line->argCount; ++a) {
            Status st = BindVariables(*line, line->args[a]);
            if (st != Status::Ok) {
                SetBindScope(nullptr);
                return st;
            }
        }
    }
    SetBindScope(nullptr);
    return Status::Ok;
}

Status ValidateExpression(ScriptLine& line, ArgRecord& arg) {
    if (!arg.postfix)
        return Status::Ok;
    CompiledExpr& e = *arg.postfix;
    g_script.loadFileIndex = line.fileIndex;
    g_script.loadLineNumber = line.lineNumber;
    // Simulated operand stack: the index of the token that produced each entry.
    std::vector<int32_t> stack;
    stack.reserve(arg.maxStack + 1);
    auto missingLike = [&](int32_t index) {
        const ValueToken& t = e.tokens[index];
        return t.symbol == SymMissing || ((t.symbol == SymVariable || t.symbol == SymDynamic) && t.varUsage == VarUsageMaybeUnset);
    };
    auto syntax = [&](int32_t i) { return ReportLoadErrorMsg(Msg::SyntaxError, e.positions[i]); };
    auto popValue = [&](int32_t i, bool allowMissing, int32_t& out) -> Status {
        if (stack.empty())
            return syntax(i);
        out = stack.back();
        stack.pop_back();
        if (!allowMissing && missingLike(out))
            return syntax(i);
        return Status::Ok;
    };
    for (int32_t i = 0; i < e.count; ++i) {
        ValueToken& t = e.tokens[i];
        uint32_t s = t.symbol;
        int32_t a = -1, b = -1;
        if (s == SymEnd)
            break;
        if (s == SymDynamic) {
            BRM_TRY(popValue(i, false, a));
            if (e.tokens[a].symbol == SymMissing)
                return syntax(i);
            stack.push_back(i);
            continue;
        }
        if (IsOperand(s)) {
            if (s == SymVariable && t.var) {
                Var* v = t.var;
                if (t.varUsage == VarUsageRead && v->m_type == VarTypeNormal &&
                    (v->m_attrib & (VarAttribUnset | VarAttribAssigned | VarAttribWarned)) == VarAttribUnset) {
                    // Once per variable: a name that nothing ever assigns is most likely misspelt.
                    v->m_attrib |= VarAttribWarned;
                    Char text[128];
                    FormatMessageText(text, sizeof(text) / sizeof(text[0]), MessageText(Msg::NeverAssigned),
                                      VarKindName(*v));
                    EmitWarning(g_directives.warnVarUnset, line.fileIndex, line.lineNumber, text, v->m_name);
                }
                if (t.varUsage == VarUsageReference && (v->IsVirtual() || v->IsConstant()))
                    return ReportLoadErrorF(e.positions[i], Msg::CannotDo, VarKindName(*v->Target()), L"have its reference taken");
                // The target of an assignment statement is an output variable too, but what fails is the assignment.
                if ((t.varUsage == VarUsageAssignTarget || t.varUsage == VarUsageOutputOnly) && v->IsReadOnly())
                    return ReportLoadErrorF(e.positions[i], Msg::CannotDo, VarKindName(*v->Target()),
                                            t.varUsage == VarUsageOutputOnly && line.action != LineAction::Assign
                                                ? L"be used as an output variable"
                                                : L"be assigned a value");
            }
            stack.push_back(i);
            continue;
        }
        switch (OperatorKind(s)) {
        case OpKind::Jump:
            BRM_TRY(popValue(i, s == SymColon || s == SymCoalesce, a));
            continue;
        case OpKind::Comma:
            BRM_TRY(popValue(i, false, b));
            BRM_TRY(popValue(i, true, a));
            stack.push_back(b);
            continue;
        case OpKind::Prefix:
        case OpKind::Postfix:
            BRM_TRY(popValue(i, false, a));
            stack.push_back(i);
            continue;
        case OpKind::Assign:
        case OpKind::Binary:
            BRM_TRY(popValue(i, s == SymAssign, b));
            BRM_TRY(popValue(i, false, a));
            stack.push_back(i);
            continue;
        case OpKind::Call: {
            CallSite* site = static_cast<CallSite*>(t.extraPtr);
            int n = site->paramCount;
            if (static_cast<int>(stack.size()) < n)
                return syntax(i);
            int32_t* args = stack.data() + stack.size() - n;
            bool plain = !site->func && !site->memberName && !(site->flags & (CallDynamicName | CallArrayLiteral | CallObjectLiteral | CallRegExMatch)) &&
                         (site->flags & CallKindMask) == CallInvoke;
            int32_t calleeIndex = -1;
            if (plain && static_cast<int>(stack.size()) > n)
                calleeIndex = stack[stack.size() - n - 1];
            IObject* known = site->func;
            if (!known && calleeIndex >= 0 && e.tokens[calleeIndex].symbol == SymObject)
                known = e.tokens[calleeIndex].object;
            if (auto* fn = dynamic_cast<Func*>(known)) {
                // A function named directly: its parameter counts are known now.
                bool variadicCall = site->flags & CallVariadic;
                int given = variadicCall ? n - 1 : n;
                if (given < fn->MinParams() && !variadicCall)
                    return ReportLoadErrorMsg(Msg::TooFewParams, e.positions[i]);
                if (given > fn->MaxParams() && !fn->IsVariadic())
                    return ReportLoadErrorMsg(Msg::TooManyParams, e.positions[i]);
                for (int k = 0; k < n && k < fn->MinParams(); ++k)
                    if (e.tokens[args[k]].symbol == SymMissing)
                        return ReportLoadErrorMsg(Msg::MissingRequiredParam, e.positions[i]);
                if (auto* bif = dynamic_cast<BuiltInFunc*>(fn)) {
                    // `&var` for an output parameter of a classic built-in passes the variable itself.
                    for (int k = 0; k < n; ++k) {
                        ValueToken& at = e.tokens[args[k]];
                        if (at.symbol == SymVariable && at.varUsage == VarUsageReference && bif->IsOutputParam(k))
                            at.varUsage = VarUsageOutputOnly;
                    }
                    if (!site->func)
                        site->builtIn = bif;
                    // A literal DllCall function of a module loaded already: its address, found once now.
                    if (bif->def->routine == BifDllCall && bif->def->identity == 0 && n >= 1 &&
                        e.tokens[args[0]].symbol == SymString)
                        if (FARPROC f = ResolveDllFunction(e.tokens[args[0]].marker, nullptr))
                            e.tokens[args[0]].SetInteger(static_cast<int64_t>(reinterpret_cast<uintptr_t>(f)));
                }
            }
            std::vector<int32_t> keptArgs;
            if (site->flags & CallKeepTarget)
                keptArgs.assign(args, args + n);
            stack.resize(stack.size() - n);
            if (site->flags & CallDynamicName)
                BRM_TRY(popValue(i, false, a));
            bool hasTarget = !site->func && !(site->flags & (CallArrayLiteral | CallObjectLiteral | CallRegExMatch));
            if (site->flags & CallRegExMatch) {
                // ~= carries its two operands as arguments.
            } else if (hasTarget) {
                BRM_TRY(popValue(i, false, a));
                if (site->flags & CallKeepTarget) {
                    stack.push_back(a);
                    if (site->flags & CallDynamicName)
                        stack.push_back(a);  // the name stays too, for the set that follows
                    stack.insert(stack.end(), keptArgs.begin(), keptArgs.end());
                }
            }
            stack.push_back(i);
            continue;
        }
        default:
            return syntax(i);
        }
    }
    bool allowMissing = (line.action == LineAction::Assign && &arg == &line.args[1]) || line.action == LineAction::Return;
    if (stack.size() != 1 || (!allowMissing && missingLike(stack[0])))
        return ReportLoadErrorMsg(Msg::SyntaxError, arg.text);
    return Status::Ok;
}

Var* ArgVar(const ArgRecord& arg) {
    if ((arg.kind != ArgKind::InputVar && arg.kind != ArgKind::OutputVar) || !arg.postfix)
        return nullptr;
    const ValueToken& t = arg.postfix->tokens[0];
    return t.symbol == SymVariable ? t.var : nullptr;
}

void DumpPostfix(const ArgRecord& arg, std::wstring& out) {
    out.clear();
    if (!arg.postfix) {
        out.assign(arg.text, arg.length);
        return;
    }
    const CompiledExpr& e = *arg.postfix;
    Char buffer[kScratchChars];
    for (int32_t i = 0; i < e.count && e.tokens[i].symbol != SymEnd; ++i) {
        const ValueToken& t = e.tokens[i];
        if (!out.empty())
            out += L' ';
        switch (t.symbol) {
        case SymString:
            out += L'"';
            out.append(t.marker, t.markerLength);
            out += L'"';
            break;
        case SymInteger:
            FormatInt64(t.valueInt64, buffer);
            out += buffer;
            break;
        case SymFloat:
            FormatFloat(t.valueDouble, buffer);
            out += buffer;
            break;
        case SymVariable:
            if (t.var) {
                out += t.var->m_name;
            } else {
                const auto* rec = static_cast<const RefRecord*>(t.extraPtr);
                out.append(rec->marker, rec->length);
            }
            if (t.varUsage != VarUsageRead) {
                out += L'#';
                out += static_cast<Char>(L'0' + t.varUsage);
            }
            break;
        case SymDynamic:
            out += L"Dynamic";
            if (t.varUsage != VarUsageRead) {
                out += L'#';
                out += static_cast<Char>(L'0' + t.varUsage);
            }
            break;
        case SymObject:
            out += L"Object";
            break;
        case SymCall: {
            const auto* site = static_cast<const CallSite*>(t.extraPtr);
            uint32_t kind = site->flags & CallKindMask;
            out += site->flags & CallArrayLiteral    ? L"Array"
                   : site->flags & CallObjectLiteral ? L"ObjectLit"
                   : site->flags & CallRegExMatch    ? L"RegEx"
                   : site->func                      ? L"IsSet"
                   : kind == CallGet                 ? L"Get"
                   : kind == CallSet                 ? L"Set"
                                                     : L"Call";
            if (site->memberName) {
                out += L'.';
                out += site->memberName;
            }
            if (site->flags & CallDynamicName)
                out += L".%";
            if (site->flags & CallKeepTarget)
                out += L"+keep";
            if (site->flags & CallVariadic)
                out += L"*";
            out += L'/';
            FormatInt64(site->paramCount, buffer);
            out += buffer;
            break;
        }
        default:
            out += OperatorName(t.symbol);
            if (OperatorKind(t.symbol) == OpKind::Jump) {
                out += L'@';
                FormatInt64(t.extra, buffer);
                out += buffer;
            }
            break;
        }
    }
}

}  // namespace brm
