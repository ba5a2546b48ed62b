// The start-up sequence: command line, load, single instance, main window, auto-execute, then resident or exit.
#include "startup/Startup.h"
#include <string>
#include "base/Messages.h"
#include "exec/ErrorReport.h"
#include "exec/Executor.h"
#include "exec/StackGuard.h"
#include "runtime/PseudoThread.h"
#include "loader/ScriptSource.h"
#include "objects/Array.h"
#include "objects/ErrorObjects.h"
#include "objects/Func.h"
#include "objects/Map.h"
#include "objects/Object.h"
#include "runtime/MessageLoop.h"
#include "startup/CommandLine.h"
#include "startup/Exit.h"
#include "startup/MainWindow.h"
#include "startup/ScriptHost.h"
#include "startup/SingleInstance.h"
#include "startup/TruePath.h"

namespace brm {

namespace {

constexpr int32_t kResidentWaitMs = 10;

Msg MessageForException(DWORD code) {
    if (code == EXCEPTION_ACCESS_VIOLATION) return Msg::InvalidMemory;
    if (code == EXCEPTION_STACK_OVERFLOW) return Msg::RecursionLimit;
    return Msg::SystemException;
}

// The last line of defence: a processor exception becomes a critical error instead of a crash report.
LONG WINAPI ExceptionGuard(EXCEPTION_POINTERS* info) {
    DWORD code = info->ExceptionRecord->ExceptionCode;
    Char message[128];
    FormatMessageText(message, 128, MessageText(MessageForException(code)), static_cast<unsigned>(code));
    g_thread->errorMode = 0;  // Try handling is off: the error is shown and the program ends
    const ScriptLine* line = g_script.currentLine;
    ReportErrorAtLine(ErrorKind::Critical, line, nullptr, 0, message, nullptr);
    Terminate(ExitReason::Critical, g_script.exitCode ? g_script.exitCode : 2);
}

}  // namespace

int RunProgram(int argc, wchar_t** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS);
    {
        std::wstring dir(kMaxPathChars, L'\0');
        DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(dir.size()), dir.data());
        dir.resize(n < dir.size() ? n : 0);
        g_script.initialWorkingDir = dir;
        g_script.workingDir = dir;
    }
    if (ParseCommandLine(argc, argv) != Status::Ok) return 2;
    RegisterErrorClasses();
    RegisterArrayClass();
    RegisterMapClass();
    RegisterFuncClass();
    if (CreateBuiltInClasses() != Status::Ok) return 2;  // class names must exist before the script binds names
    if (CreateArgsArray() != Status::Ok) return 2;

    switch (LoadScript()) {
        case LoadResult::Failed: return 2;
        case LoadResult::ValidatedOnly: return 0;
        case LoadResult::Loaded: break;
    }
    switch (EnforceSingleInstance()) {
        case InstanceDecision::QuitQuietly: return 0;
        case InstanceDecision::QuitFailed: return 2;
        case InstanceDecision::Proceed: break;
    }
    if (!CreateMainWindow()) return 2;
    g_script.running = true;

    InitStackGuard();
    SetUnhandledExceptionFilter(ExceptionGuard);
    BeginAutoExecuteThread();
    Status status = RunAutoExecute();
    EndAutoExecuteThread();
    if (IsPersistent()) PumpMessages(kResidentWaitMs, PumpMode::Resident);
    // An error that ended the script is a failure even when the script never set an exit code.
    if (status == Status::Fail && g_script.exitCode == 0) g_script.exitCode = 2;
    ExitWithReason(status == Status::Fail ? ExitReason::Error : ExitReason::Exit, g_script.exitCode);
    return 0;
}

}  // namespace brm
