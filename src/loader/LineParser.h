// The line classifier and statement parser: turns each logical line into ScriptLines, and runs the
// load phases that follow reading (compiling arguments, appending Exit, linking and jump checks).
#pragma once
#include <cstddef>
#include "expr/ValueToken.h"
#include "loader/ScriptLine.h"

namespace brm {

class ScriptReader;

// Handles one logical line completely (the reader's current line; its look-ahead may be consumed).
Status ClassifyLine(ScriptReader& reader);

// End-of-file checks: an open block ("Missing \"}\"") unless the file was included inside one,
// then a control statement still waiting for its body ("Unexpected \"%s\"").
Status FinishFile(bool startedInsideBlock);

// After every file was read: compiles each expression argument and binds variables.
Status CompileScript();

// Appends the implicit Exit line after the last line, then checks every jump and warns about
// unreachable lines.
Status AppendExitAndLink();

// True while a block is open: the reader uses this to know whether an included file starts inside one.
bool IsInsideBlock();

// Parses statement text (modified in place) into one or more lines. forced is Invalid for an ordinary
// statement; literalMap may be null (no escapes resolved yet) or hold one flag per character of text.
Status ParseStatement(Char* text, size_t length, LineAction forced = LineAction::Invalid);

// Creates a ScriptLine with copies of the arguments and links it. literalMaps[i] may be null.
Status AddLine(LineAction action, Char* const* args = nullptr, int argCount = 0,
               const bool* const* literalMaps = nullptr, bool argsAreExpressions = true);

// Name kinds for ValidateName; Check validates silently.
enum class NameKind : int { Check = 0, Variable = 1, Function = 2, Class = 3, Group = 4, Method = 5 };
// Reports the problem (unless kind is Check) and returns false when the name is not acceptable.
bool ValidateName(const Char* name, size_t length, NameKind kind);

// The statement word of an action ("If", "Loop Parse", ...), used in messages.
const Char* ActionWord(LineAction action);

}  // namespace brm
