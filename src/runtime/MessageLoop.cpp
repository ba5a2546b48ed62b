// Message retrieval and dispatch for a resident script. Pseudo-threads for events arrive with their sources.
#include "runtime/MessageLoop.h"
#include <windows.h>
#include "expr/Conversions.h"
#include "objects/MdFunc.h"
#include "startup/Exit.h"
#include "startup/ScriptHost.h"

namespace brm {

bool g_persistent = false;

bool IsPersistent() { return g_persistent; }

bool BifPersistent(Opt<bool> persist) {
    bool previous = g_persistent;
    g_persistent = persist ? *persist : true;
    return previous;
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
