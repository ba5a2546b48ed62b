// Message retrieval and dispatch for a resident script. Pseudo-threads for events arrive with their sources.
#include "runtime/MessageLoop.h"
#include <windows.h>
#include "expr/Conversions.h"
#include "objects/BuiltInFunctions.h"
#include "startup/Exit.h"
#include "startup/ScriptHost.h"

namespace brm {

bool g_persistent = false;

bool IsPersistent() { return g_persistent; }

Status BifPersistent(CallResult& result, ValueToken** params, int paramCount) {
    bool previous = g_persistent;
    g_persistent = paramCount && params[0]->symbol != SymMissing ? TokenToBool(*params[0]) : true;
    result.value.SetInteger(previous ? 1 : 0);
    return Status::Ok;
}

void PumpMessages(PumpMode, unsigned timeoutMs) {
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) ExitWithReason(ExitReason::Exit, static_cast<int32_t>(msg.wParam));
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

}  // namespace brm
