// Block structure: links each new ScriptLine to its parent and related lines as it is added, keeps the
// label lists, and after loading checks every jump and warns about lines that can never run.
#pragma once
#include <cstddef>
#include <cstdint>
#include "expr/ValueToken.h"
#include "loader/ScriptLine.h"
#include "runtime/PseudoThread.h"

namespace brm {

class UserFunc;

// Labels are per scope: the global list and each function's own; one chain holds them all, each label
// tagged with its function (null for the global scope).
struct Label {
    const Char* name;  // permanent
    UserFunc* scope;
    ScriptLine* line;  // null until the next line is added
    Label* prev;
    Label* next;
};

// What a Catch line's attribute points at once jumps are checked.
constexpr int kMaxCatchClasses = 19;
struct CatchInfo {
    Var* outputVar;  // `as name`, or null
    uint8_t classCount;
    ThrowClass classes[kMaxCatchClasses];
    IObject* prototypes[kMaxCatchClasses];  // a script class's prototype (classes[i] is then Count), else null
};

// Called by the add-line operation for every new line, after it was appended to the list.
Status LinkNewLine(ScriptLine* line);

// A label line: "Duplicate label." when the scope already has one of that name.
Status AddLabel(const Char* name, size_t length);
Label* FindLabel(const Char* name, size_t length, const UserFunc* scope);  // ignoring case
// The scope whose labels a jump from `line` may reach: its function, or null for the global scope.
UserFunc* LabelScopeOf(const ScriptLine* line);
// Whether a label names `line` (a label always belongs to the scope of the line it names).
bool LineHasLabel(const ScriptLine* line);

// Loading state the parser consults.
ScriptLine* OpenBlockLine();        // innermost open "{", or null
ScriptLine* PendingControlLine();   // control statement still waiting for its body, or null

// A function defined inside an expression adds its lines while another statement is being parsed. Between
// these two calls lines are linked as if they stood alone: no pending statement takes them as its body and
// no pending label names them; afterwards the surrounding statement's structure is as it was.
struct LinkState {
    ScriptLine* pending;
    ScriptLine* completed;
};
LinkState SuspendLinking();
void ResumeLinking(const LinkState& state);
// Makes `block` the innermost open "{" so that new lines go into a body that is already closed (the lines
// are then moved there by the caller); returns the previous one, to be put back afterwards.
ScriptLine* ReopenBlock(ScriptLine* block);

// End of one file: "Missing \"}\"" for an open block unless the file started inside one, then a
// control statement still waiting for its body.
Status CheckEndOfFile(bool startedInsideBlock);

// Called while expressions are compiled: splits a trailing "as name" off a Catch argument (or a whole
// "as name") and binds the output variable; the line's attribute becomes its CatchInfo.
Status PrepareCatchOutputVar(ScriptLine& line);

// After the implicit Exit line was added: checks every jump, parses Catch class lists, validates
// expressions and warns about unreachable lines.
Status CheckJumps();

bool IsLoopAction(LineAction a);

// The Goto check shared with the executor: finds the label and verifies the jump. At run time the
// failure is raised as an error; at load time it is reported.
enum class JumpCheck : bool { LoadTime, RunTime };
Status ResolveGoto(ScriptLine* gotoLine, const Char* label, size_t length, JumpCheck when, ScriptLine** target);

}  // namespace brm
