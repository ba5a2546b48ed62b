// The statement executor: walks ScriptLines by the links the block linker made.
#pragma once
#include <cstdint>
#include "expr/ValueToken.h"
#include "loader/ScriptLine.h"

namespace brm {

enum class ExecMode : int32_t {  // word-sized, as every flag passed by value (see ExactSize)
    OneLine,       // one line (a whole block when the line is "{")
    UntilBlockEnd, // until the end of the current block
    FunctionBody,  // a function body: Return yields Ok instead of Status::Return
};

// Runs lines from `line`; *jumpTo receives a line outside this run's block to continue at (or null).
// returnValue receives the value of a Return (may be null when none is wanted).
Status ExecUntil(ScriptLine* line, ExecMode mode, CallResult* returnValue, ScriptLine** jumpTo);

// Runs the auto-execute section from g_script.firstLine in the current pseudo-thread.
// Ok or EarlyExit mean a normal end; Fail means the thread ended on an error (already reported).
Status RunAutoExecute();

// The loop state that the built-in variables read (the current pseudo-thread's).
int64_t CurrentLoopIndex();              // A_Index: 0 outside any loop
const Char* CurrentLoopField(int32_t* length = nullptr);  // A_LoopField: "" outside a parse loop

// Getters of A_LoopReadLine and of the A_LoopFile... family (one getter reads the name it was called by).
Status GetLoopReadLine(CallResult& result, const Char* name);
Status GetLoopFileVar(CallResult& result, const Char* name);

}  // namespace brm
