// The loop machinery the executor's loop kinds share, and the items of file and read-line loops that
// the A_LoopFile... and A_LoopReadLine variables and FileAppend read.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include "expr/ValueToken.h"
#include "loader/ScriptLine.h"

namespace brm {

class TextFile;

// The entry a file loop is visiting.
struct LoopFileItem {
    const WIN32_FIND_DATAW* data;
    const Char* dir;        // the directory as the pattern gave it, with a trailing separator unless empty
    size_t dirLength;
    const Char* fullDir;    // the same made absolute, with a trailing backslash
    size_t fullDirLength;
    const Char* shortDir;   // its short form, with a trailing backslash
    size_t shortDirLength;
};

// The innermost read-line loop: its current line and its output file, opened on first use.
struct LoopReadItem {
    const Char* line;
    int32_t length;
    const Char* outputName;  // "" when the loop has no output file
    TextFile* output;        // null until FileAppend first writes to it
};

// The Until closing `loop`, or null.
ScriptLine* UntilOf(ScriptLine* loop);
// Runs one iteration's body; false when the loop ends (then *status and *jump are the loop's result).
bool RunLoopBody(ScriptLine* loop, ScriptLine* until, CallResult* ret, Status* status, ScriptLine** jump);
// Where to continue after a loop, running its Else when the body never ran.
Status FinishLoop(ScriptLine* loop, ScriptLine* until, bool ran, Status st, CallResult* ret, ScriptLine** jump,
                  ScriptLine** next);

Status ExecLoopFiles(ScriptLine* line, CallResult* ret, ScriptLine** jump, ScriptLine** next);
Status ExecLoopReg(ScriptLine* line, CallResult* ret, ScriptLine** jump, ScriptLine** next);
Status ExecLoopRead(ScriptLine* line, CallResult* ret, ScriptLine** jump, ScriptLine** next);

LoopReadItem* CurrentReadLoop();

}  // namespace brm
