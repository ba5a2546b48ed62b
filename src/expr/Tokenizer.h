// The expression tokenizer: the reference scan run while a statement is split into arguments,
// and the lexer that turns an argument's text plus its reference records into infix tokens.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>
#include "expr/ValueToken.h"
#include "loader/ScriptLine.h"

namespace brm {

// What a reference record stands for. The numbers are stable: compiled tables and tests use them.
enum class RefType : uint8_t {
    Name = 0,              // a variable or function name
    DynamicEnd = 1,        // end of `...%expr%...`; marker at the end, length 0
    LiteralPiece = 2,      // literal text between `%` groups of a dynamic name (possibly empty)
    String = 3,            // quoted string: marker after the opening quote, length of the content
    WordOperator = 4,      // `or`, `and`, `not`, `is`, `IsSet`, `Super`, `unset`; symbol holds the operator
    TrueFalse = 5,         // symbol holds 1 or 0
    DynamicMemberEnd = 6,  // end of `.%expr%`; marker at the end, length 0
    FatArrow = 7,          // a fat-arrow function already made into a function; var holds it
};

// One item found by the reference scan, in text order. A list ends with a record whose marker is null.
struct RefRecord {
    const Char* marker;
    uint8_t symbol;       // operator symbol (WordOperator), 1/0 (TrueFalse), last-piece flag (LiteralPiece, String)
    RefType type;
    uint8_t pieceNumber;  // LiteralPiece: 1, 2, ...; String: 1
    uint32_t length;      // characters
    Var* var;             // FatArrow: the variable that holds the function
};

// Scans one expression argument (arg.text, arg.length) and stores its reference records in arg.refs
// (permanent, null-marker terminated; null when there are none). literalMap, when given, holds one flag
// per character of arg.text, set where an escape sequence produced the character. Errors are reported
// through the loader's error routine.
Status ScanReferences(ArgRecord& arg, const bool* literalMap);

// One token of the infix form, with where it came from (for error reports).
struct InfixToken {
    ValueToken token;
    const Char* position;
    uint32_t flags;  // InfixFlag bits
};
enum InfixFlag : uint32_t {
    InfixSynthetic = 1,      // a bracket the lexer added around a dynamic name: never a call
    InfixParamProperty = 2,  // the `[` of obj.prop[...]: its call token already precedes it
};

// The lexer: turns the argument's text and reference records into infix tokens ending with SymEnd.
// Variable tokens are unbound: var is null and extraPtr points at their RefRecord.
Status LexExpression(const ArgRecord& arg, std::vector<InfixToken>& out);

// The word operators, `True`/`False`, that a variable or function may not be named (the loader's name
// check adds the statement words and the declaration keywords).
bool IsExpressionReservedWord(const Char* name, size_t length);

// The expression delimiters: a name ends at one of them.
bool IsExpressionDelimiter(Char c);
// Name characters: letters, digits, `_`, and everything at or above U+0080.
inline bool IsNameChar(Char c) {
    return c >= 0x80 || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_';
}

}  // namespace brm
