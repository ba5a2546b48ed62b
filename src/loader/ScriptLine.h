// ScriptLine, LineAction and the argument record: the loader's output, which the executor walks.
// Everything here is allocated from the small-block pool and lives until the process ends.
#pragma once
#include <cstdint>
#include "expr/ValueToken.h"

namespace brm {

struct RefRecord;     // reference-scan record (expression tokenizer)
struct CompiledExpr;  // postfix form (expression compiler)

// code, name, statement word, min args, max args
#define BRM_LINE_ACTIONS(X)                  \
    X(0, Invalid, L"", 0, 0)                 \
    X(1, Assign, L":=", 2, 2)                \
    X(2, Expression, L"", 1, 1)              \
    X(3, BlockBegin, L"{", 0, 0)             \
    X(4, BlockEnd, L"}", 0, 0)               \
    X(5, Static, L"Static", 1, 1)            \
    X(6, HotIf, L"#HotIf", 0, 1)             \
    X(7, Exit, L"Exit", 0, 1)                \
    X(8, If, L"If", 1, 1)                    \
    X(9, Else, L"Else", 0, 0)                \
    X(10, Loop, L"Loop", 0, 1)               \
    X(11, LoopFiles, L"Loop Files", 1, 2)    \
    X(12, LoopReg, L"Loop Reg", 1, 2)        \
    X(13, LoopRead, L"Loop Read", 1, 2)      \
    X(14, LoopParse, L"Loop Parse", 1, 3)    \
    X(15, For, L"For", 0, 20)                \
    X(16, While, L"While", 1, 1)             \
    X(17, Until, L"Until", 1, 1)             \
    X(18, Break, L"Break", 0, 1)             \
    X(19, Continue, L"Continue", 0, 1)       \
    X(20, Goto, L"Goto", 1, 1)               \
    X(21, Return, L"Return", 0, 1)           \
    X(22, Try, L"Try", 0, 0)                 \
    X(23, Catch, L"Catch", 0, 1)             \
    X(24, Finally, L"Finally", 0, 0)         \
    X(25, Throw, L"Throw", 0, 1)             \
    X(26, Switch, L"Switch", 0, 2)           \
    X(27, Case, L"Case", 1, 20)

enum class LineAction : uint8_t {
#define BRM_LA_ENUM(code, name, word, minArgs, maxArgs) name = code,
    BRM_LINE_ACTIONS(BRM_LA_ENUM)
#undef BRM_LA_ENUM
};

enum class ArgKind : uint8_t { Normal = 0, InputVar = 1, OutputVar = 2 };

struct ArgRecord {
    ArgKind kind;
    bool isExpression;
    uint32_t length;           // characters
    const Char* text;          // after escape sequences were resolved; permanent
    RefRecord* refs;           // reference-scan list ending in a null marker; null when none
    CompiledExpr* postfix;     // filled by the expression compiler
    int32_t maxStack;          // the compiled expression's two counts
    int32_t maxAlloc;
};

struct ScriptLine {
    LineAction action;
    uint8_t argCount;
    uint16_t fileIndex;
    int32_t lineNumber;
    ArgRecord* args;
    void* attribute;
    ScriptLine* prevLine;
    ScriptLine* nextLine;
    ScriptLine* relatedLine;
    ScriptLine* parentLine;
};

}  // namespace brm
