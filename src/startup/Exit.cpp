// Exit reasons and the exit sequence.
#include "startup/Exit.h"
#include "exec/GlobalVars.h"
#include "runtime/CallbackList.h"
#include "runtime/MessageMonitor.h"
#include "runtime/PseudoThread.h"
#include "startup/MainWindow.h"
#include "startup/ScriptHost.h"
#include "startup/TrayIcon.h"

namespace brm {

const wchar_t* ExitReasonText(ExitReason reason) {
    switch (reason) {
        case ExitReason::Critical:
        case ExitReason::Destroy:
        case ExitReason::Close: return L"Close";
        case ExitReason::None: return L"";
        case ExitReason::Error: return L"Error";
        case ExitReason::Logoff: return L"Logoff";
        case ExitReason::Shutdown: return L"Shutdown";
        case ExitReason::Menu: return L"Menu";
        case ExitReason::Exit: return L"Exit";
        case ExitReason::Reload: return L"Reload";
        case ExitReason::Single: return L"Single";
    }
    return L"";
}

void Terminate(ExitReason reason, int32_t exitCode) {
    StopMessageMonitors();
    g_allowInterruption = false;  // nor timers: a destructor that waits must not start one
    g_thread->paused = false;     // a destructor's lines must not wait for a resume that cannot come
    // A critical error may have left objects inconsistent: their destructors are not run then.
    if (reason != ExitReason::Critical) FreeGlobals();
    PostQuitMessage(exitCode);
    DestroyMainWindow();
    fflush(nullptr);
    ExitProcess(static_cast<UINT>(exitCode));
}

void ExitWithReason(ExitReason reason, int32_t exitCode) {
    // Before the main window exists the script never ran: such an exit is a start-up failure.
    int32_t code = g_script.running ? exitCode : 2;
    if (!g_onExit.Empty() && !g_script.exitInProgress) {
        // The callbacks run in a thread of their own (the stack keeps a spare record for it), with nothing
        // able to interrupt them: a timer or a message that fires while they wait stays queued.
        StartPseudoThread(0);
        UpdateTrayIcon(false);
        bool allowed = g_allowInterruption;
        g_allowInterruption = false;
        g_script.exitInProgress = true;
        ValueToken reasonText, codeToken;
        reasonText.SetString(ExitReasonText(reason));
        codeToken.SetInteger(code);
        ValueToken* params[] = {&reasonText, &codeToken};
        int64_t answer = 0;
        bool failed = false;
        bool stopped = g_onExit.CallInOrder(params, 2, &answer, &failed, ResetForNextCallback);
        if (stopped && !failed && static_cast<int>(reason) >= 0) {
            // Cancelled: the state before the request comes back and the caller carries on (or ends its
            // thread). The exit stays marked while the callbacks' thread ends, so that ending it cannot
            // start another exit of its own.
            g_allowInterruption = allowed;
            EndPseudoThread();
            g_script.exitInProgress = false;
            return;
        }
    }
    g_script.exitInProgress = true;
    Terminate(reason, code);
}

void ExitApp(int32_t exitCode) {
    g_script.exitCode = exitCode;
    ExitWithReason(ExitReason::Exit, g_script.exitCode);
}

}  // namespace brm
