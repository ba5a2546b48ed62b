// The raising routines: a raised error becomes an Error object of its class, thrown into the running
// thread; Catch tests its class, and one that nothing will catch is reported where it was raised.
#include "exec/Raise.h"
#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include "exec/ErrorReport.h"
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "loader/ScriptLine.h"
#include "loader/SourceFiles.h"
#include "objects/ErrorObjects.h"
#include "runtime/PseudoThread.h"
#include "startup/Exit.h"
#include "startup/ScriptHost.h"

namespace brm {

namespace {

// Raises nested inside the construction of an Error object (a failing __New, or memory running out while
// it sets its properties) throw plain records instead, so that construction can never recurse.
int s_constructing = 0;

ThrownValue* MakeThrown(ErrorClass cls, const Char* message, const Char* extra, bool& raisedInstead) {
    raisedInstead = false;
    if (s_constructing || !BuiltInPrototype(ClassId::Error)) return NewThrownError(cls, message, extra);
    ++s_constructing;
    Status st;
    Object* error = NewErrorObject(cls, message, extra, st);
    --s_constructing;
    if (!error) {
        // The construction raised its own error (already thrown), or memory ran out.
        raisedInstead = g_thread->thrown != nullptr;
        return raisedInstead ? nullptr : NewThrownError(cls, message, extra);
    }
    return NewThrownObject(error, ThrowClassOf(cls));
}

}  // namespace

Status RaiseWithKind(ErrorKind kind, ErrorClass cls, const Char* message, const Char* extra) {
    PseudoThread& thread = *g_thread;
    bool raisedInstead;
    ThrownValue* v = MakeThrown(cls, message, extra, raisedInstead);
    if (raisedInstead) return Status::Fail;
    if (!v) {
        MessageBoxW(nullptr, MessageText(Msg::OutOfMemoryThreadExit), nullptr, MB_ICONERROR | MB_SETFOREGROUND);
        return Status::Fail;
    }
    // A value still pending (an error raised while another unwinds) is superseded by the new one.
    ClearThrown(thread);
    thread.thrown = v;
    if (thread.errorMode & ErrorModeCaughtHere) return Status::Fail;
    if (ReportUnhandled(v, kind)) {
        // Continue: the error is forgotten and the failing operation yields "".
        ClearThrown(thread);
        return Status::Ok;
    }
    return Status::Fail;
}

Status RaiseError(ErrorClass cls, const Char* message, const Char* extra) {
    return RaiseWithKind(ErrorKind::Continuable, cls, message, extra);
}

Status RaiseOSErrorCode(uint32_t code, const Char* extra) {
    g_thread->lastError = code;  // A_LastError keeps the code the error reports
    Char text[16];
    FormatMessageText(text, 16, L"%u", code);
    return RaiseError(ErrorClass::OSError, text, extra);
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

Status RaiseParamError(int paramIndex, const ValueToken& value) {
    Char scratch[kScratchChars];
    ValueToken v = value;
    if (v.symbol == SymVariable) {
        if (v.var->IsUnset())
            v.SetString(L"", 0);
        else
            value.var->ToToken(v);
    }
    const Char* text = v.symbol == SymObject ? TokenTypeName(v) : TokenToString(v, scratch);
    return RaiseFormatted(ErrorClass::ValueError, text, Msg::ParamInvalid, paramIndex + 1);
}

Status CriticalError(Msg id, const Char* extra) {
    const ScriptLine* line = g_script.currentLine;
    ReportError(ErrorKind::Critical, line ? SourceFileName(line->fileIndex) : nullptr, line ? line->lineNumber : 0,
                MessageText(id), extra);
    // The program cannot continue safely: objects are not released. A critical end is a failure even
    // when the script set no exit code.
    Terminate(ExitReason::Critical, g_script.exitCode ? g_script.exitCode : 2);
}

}  // namespace brm
