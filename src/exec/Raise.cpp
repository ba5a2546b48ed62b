// The raising routines. Until Error objects exist, a raised error is a thrown value carrying its class,
// message and extra text; Catch tests the class, and an unhandled one is reported where it was raised.
#include "exec/Raise.h"
#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include "exec/ErrorReport.h"
#include "loader/ScriptLine.h"
#include "loader/SourceFiles.h"
#include "runtime/PseudoThread.h"
#include "startup/ScriptHost.h"

namespace brm {

Status RaiseError(ErrorClass cls, const Char* message, const Char* extra) {
    PseudoThread& thread = *g_thread;
    ThrownValue* v = NewThrownError(cls, message, extra);
    if (!v) return CriticalError(Msg::OutOfMemoryThreadExit);
    // A value still pending (an error raised while another unwinds) is superseded by the new one.
    ClearThrown(thread);
    thread.thrown = v;
    if (!(thread.errorMode & ErrorModeCaughtHere)) ReportUnhandled(v);
    return Status::Fail;
}

Status RaiseMsg(ErrorClass cls, Msg id, const Char* extra) { return RaiseError(cls, MessageText(id), extra); }

Status RaiseFormatted(ErrorClass cls, const Char* extra, Msg id, ...) {
    Char text[1024];
    va_list args;
    va_start(args, id);
    FormatMessageTextV(text, sizeof(text) / sizeof(text[0]), MessageText(id), args);
    va_end(args);
    return RaiseError(cls, text, extra);
}

Status CriticalError(Msg id, const Char* extra) {
    const ScriptLine* line = g_script.currentLine;
    ReportError(ErrorKind::Critical, line ? SourceFileName(line->fileIndex) : nullptr, line ? line->lineNumber : 0,
                MessageText(id), extra);
    // The program cannot continue safely, so the exit sequence (and its callbacks) is not run.
    ExitProcess(static_cast<UINT>(g_script.running ? g_script.exitCode : 0));
}

}  // namespace brm
