// The postfix compiler: operator symbols and their precedence, the call-site record, CompiledExpr, and the
// three load-time passes over an expression argument (compile to postfix, bind variables, validate).
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include "expr/ValueToken.h"
#include "loader/ScriptLine.h"

namespace brm {

struct BuiltInFunc;

// How an operator takes its operands (drives both the compiler and the evaluator).
enum class OpKind : uint8_t {
    Postfix,   // x++ x--
    Member,    // .name (becomes a call token)
    Closer,    // ) ] }
    Opener,    // ( [ {
    Comma,
    Assign,    // := and the compound assignments
    Jump,      // : ? ?? || &&
    Binary,
    Prefix,    // not - + & ! ~ ++ --
    Call,      // call-site token, IsSet
    Reserved,
};

// symbol, name, source text, precedence, kind. A higher precedence binds tighter; an odd one makes the
// operator right-associative. Symbol 71 is not used; 73 (SymEnd) ends every compiled expression.
#define BRM_OPERATORS(X)                                        \
    X(9, PostIncrement, L"++", 82, Postfix)                     \
    X(10, PostDecrement, L"--", 82, Postfix)                    \
    X(11, Member, L".", 86, Member)                             \
    X(12, CloseParen, L")", 2, Closer)                          \
    X(13, CloseBracket, L"]", 2, Closer)                        \
    X(14, CloseBrace, L"}", 2, Closer)                          \
    X(15, OpenParen, L"(", 2, Opener)                           \
    X(16, OpenBracket, L"[", 2, Opener)                         \
    X(17, OpenBrace, L"{", 2, Opener)                           \
    X(18, Comma, L",", 6, Comma)                                \
    X(19, Assign, L":=", 7, Assign)                             \
    X(20, AddAssign, L"+=", 7, Assign)                          \
    X(21, SubtractAssign, L"-=", 7, Assign)                     \
    X(22, MultiplyAssign, L"*=", 7, Assign)                     \
    X(23, DivideAssign, L"/=", 7, Assign)                       \
    X(24, FloorDivideAssign, L"//=", 7, Assign)                 \
    X(25, BitOrAssign, L"|=", 7, Assign)                        \
    X(26, BitXorAssign, L"^=", 7, Assign)                       \
    X(27, BitAndAssign, L"&=", 7, Assign)                       \
    X(28, ShiftLeftAssign, L"<<=", 7, Assign)                   \
    X(29, ShiftRightAssign, L">>=", 7, Assign)                  \
    X(30, ShiftRightLogicalAssign, L">>>=", 7, Assign)          \
    X(31, ConcatAssign, L".=", 7, Assign)                       \
    X(32, Colon, L":", 11, Jump)                                \
    X(33, Question, L"?", 11, Jump)                             \
    X(34, Coalesce, L"??", 15, Jump)                            \
    X(35, Or, L"||", 17, Jump)                                  \
    X(36, And, L"&&", 21, Jump)                                 \
    X(37, Is, L"is", 28, Binary)                                \
    X(38, Equal, L"=", 30, Binary)                              \
    X(39, StrictEqual, L"==", 30, Binary)                       \
    X(40, NotEqual, L"!=", 30, Binary)                          \
    X(41, StrictNotEqual, L"!==", 30, Binary)                   \
    X(42, Greater, L">", 34, Binary)                            \
    X(43, Less, L"<", 34, Binary)                               \
    X(44, GreaterOrEqual, L">=", 34, Binary)                    \
    X(45, LessOrEqual, L"<=", 34, Binary)                       \
    X(46, RegExMatch, L"~=", 36, Binary)                        \
    X(47, Concat, L".", 38, Binary)                             \
    X(48, DynamicConcat, L"%", 4, Binary)                       \
    X(49, BitOr, L"|", 42, Binary)                              \
    X(50, BitXor, L"^", 46, Binary)                             \
    X(51, BitAnd, L"&", 50, Binary)                             \
    X(52, ShiftLeft, L"<<", 54, Binary)                         \
    X(53, ShiftRight, L">>", 54, Binary)                        \
    X(54, ShiftRightLogical, L">>>", 54, Binary)                \
    X(55, FloorDivide, L"//", 62, Binary)                       \
    X(56, Add, L"+", 58, Binary)                                \
    X(57, Subtract, L"-", 58, Binary)                           \
    X(58, Multiply, L"*", 62, Binary)                            \
    X(59, Divide, L"/", 62, Binary)                             \
    X(60, Power, L"**", 73, Binary)                             \
    X(61, Not, L"not", 25, Prefix)                              \
    X(62, Negate, L"-", 67, Prefix)                             \
    X(63, UnaryPlus, L"+", 67, Prefix)                          \
    X(64, Reference, L"&", 67, Prefix)                          \
    X(65, LogicalNot, L"!", 67, Prefix)                         \
    X(66, BitNot, L"~", 67, Prefix)                             \
    X(67, IsSet, L"IsSet", 86, Call)                            \
    X(68, PreIncrement, L"++", 77, Prefix)                      \
    X(69, PreDecrement, L"--", 77, Prefix)                      \
    X(70, Call, L"()", 86, Call)                                \
    X(72, Reserved, L"", 0, Reserved)

enum OperatorSymbol : uint32_t {
#define BRM_OP_ENUM(sym, name, text, prec, kind) Sym##name = sym,
    BRM_OPERATORS(BRM_OP_ENUM)
#undef BRM_OP_ENUM
};

constexpr int kSymbolCount = SymEnd + 1;  // 74: operand kinds, operators and the end marker

// The evaluator asks for every token's kind: a table in the header, so the question is one load.
constexpr std::array<OpKind, kSymbolCount> MakeOperatorKinds() {
    std::array<OpKind, kSymbolCount> k{};
    for (auto& e : k)
        e = OpKind::Reserved;
#define BRM_OP_KIND(sym, nm, txt, prec, knd) k[sym] = OpKind::knd;
    BRM_OPERATORS(BRM_OP_KIND)
#undef BRM_OP_KIND
    return k;
}
inline constexpr std::array<OpKind, kSymbolCount> kOperatorKinds = MakeOperatorKinds();

// Indexed by symbol; operand kinds, unused symbols and the end marker give precedence 0.
uint8_t OperatorPrecedence(uint32_t symbol);
inline OpKind OperatorKind(uint32_t symbol) {
    return symbol < static_cast<uint32_t>(kSymbolCount) ? kOperatorKinds[symbol] : OpKind::Reserved;
}
const Char* OperatorText(uint32_t symbol);
const Char* OperatorName(uint32_t symbol);  // the enumerator's name without "Sym", for dumps and tests

// Flags of a call-site record. Bits 0 and 1 are the invoke kind.
enum CallSiteFlag : uint32_t {
    CallGet = 0,
    CallSet = 1,
    CallInvoke = 2,
    CallKindMask = 3,
    CallVariadic = 0x10000,     // f(args*): the last argument's items are passed separately
    CallDynamicName = 0x20000,  // .%expr%: the member name is an extra operand on the stack
    CallKeepTarget = 0x40000,   // the target stays on the stack under the result, for a following set
    // The constructors behind these arrive with the object core; until then the call raises an error.
    CallArrayLiteral = 0x100000,
    CallObjectLiteral = 0x200000,
    CallRegExMatch = 0x400000,
};

// Operand-stack shape of a call token: [target] [name] args... → result.
struct CallSite {
    IObject* func;           // called directly (array/object constructors, ~=, IsSet); null: callee on the stack
    // Member access; null for a plain call or the default item member. The shared copy that property tables
    // use (Object::SharedName), so an entry spelled the same way is recognised by its pointer.
    const Char* memberName;
    uint32_t flags;
    int32_t paramCount;      // counts the assigned value of a set, and each key and value of an object literal
    BuiltInFunc* builtIn;    // set by validation when the callee is known to be a built-in function
    // What this site found last time, checked before use: objects of one class keep their members at the
    // same positions, and their bases answer the same until a base changes (the layout epoch moves).
    int32_t ownIndex;        // position of the member in the last target's own table
    uint32_t chainEpoch;     // 0: nothing remembered about a chain
    IObject* chainBase;      // the base whose chain was searched
    IObject* chainMethod;    // what the search found there (borrowed from that chain), or null
};

// The postfix form of one argument. Tokens end with SymEnd. Jump operators hold in `extra` the index of the
// last token of the part they can skip; call tokens hold their CallSite in `extraPtr`.
struct CompiledExpr {
    ValueToken* tokens;
    const Char** positions;  // per token, where it was in the source text (load-time error reports)
    int32_t count;           // tokens, the end marker included
};

// Usage words beyond those of ValueToken.h. Usage 1 and 3 or more want the variable itself.
enum : uint32_t {
    VarUsageIsSetArg = 1,
    VarUsageReference = 3,
    VarUsageAssignTarget = 4,
};

// Pass 1: lexes and reorders the argument into postfix; binds assignment and reference targets. On failure
// the error has been reported through the loader. A single-operand argument is simplified (see Simplify).
Status CompilePostfix(ScriptLine& line, ArgRecord& arg);
// Pass 2: binds every remaining Variable token and folds constants. The first form walks every line.
Status BindVariables();
Status BindVariables(ScriptLine& line, ArgRecord& arg);
// Pass 3: simulated run of the operand stack; parameter-count checks of known functions; variable use.
Status ValidateExpression(ScriptLine& line, ArgRecord& arg);

// The variable of an output-variable or input-variable argument (null for other arguments).
Var* ArgVar(const ArgRecord& arg);

// Readable dump of a compiled argument, one token per word ("x 1 Add"), for tests and debugging.
void DumpPostfix(const ArgRecord& arg, std::wstring& out);

}  // namespace brm
