// Message retrieval and dispatch, the pseudo-threads it launches, and the script's thread functions.
#include "runtime/MessageLoop.h"
#include <windows.h>
#include <cwchar>
#include "base/SortedTable.h"
#include "expr/Conversions.h"
#include "objects/MdFunc.h"
#include "runtime/MessageMonitor.h"
#include "runtime/ScriptTimer.h"
#include "startup/Exit.h"
#include "startup/MainWindow.h"
#include "startup/ScriptHost.h"
#include "startup/TrayIcon.h"
#include "startup/UserMenu.h"

namespace brm {

bool g_persistent = false;

namespace {

bool s_mainTimerOn = false;
bool s_nestedPump = false;

// Messages at and above WM_HOTKEY start threads; they stay queued while the thread may not be interrupted.
constexpr UINT kUninterruptibleFilter = 0x311;
constexpr int32_t kUnspecifiedMs = 10;

bool SameWord(const Char* a, const Char* b) { return CompareFoldAZ(a, wcslen(a), b, wcslen(b)) == 0; }

}  // namespace

bool IsPersistent() {
    return g_persistent || g_enabledTimers > 0 || HaveMessageMonitors() || (g_mainWindow && IsWindowVisible(g_mainWindow));
}

bool BifPersistent(Opt<bool> persist) {
    bool previous = g_persistent;
    g_persistent = persist ? *persist : true;
    return previous;
}

void EnsureMainTimer() {
    if (s_mainTimerOn || !g_mainWindow) return;
    s_mainTimerOn = SetTimer(g_mainWindow, kMainTimerId, 10, nullptr) != 0;
}

void KillMainTimerIfUnneeded() {
    if (!s_mainTimerOn || g_enabledTimers || g_timedWaits) return;
    KillTimer(g_mainWindow, kMainTimerId);
    s_mainTimerOn = false;
}

void LineCheckSlow(uint32_t now) {
    if (now - g_lastCheckTick > g_thread->settings.checkInterval) {
        MSG msg;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) PumpMessages(-1, PumpMode::Timed);
        g_lastCheckTick = GetTickCount();
    }
    while (g_thread->paused) PumpMessages(kPumpUnspecified, PumpMode::Timed);
}

bool PumpMessages(int32_t timeout, PumpMode mode) {
    bool clearNested = false;
    if (mode == PumpMode::Nested) {
        mode = PumpMode::Timed;
        if (!s_nestedPump) s_nestedPump = clearNested = true;
    }
    const bool timed = mode == PumpMode::Timed;
    bool returnAtEmpty, waitOver = false, yielded = false, launched = false;
    uint32_t start;
    if (timeout == kPumpUnspecified) {
        timeout = kUnspecifiedMs;
        returnAtEmpty = true;
        start = 0;
    } else {
        returnAtEmpty = timeout <= 5;
        start = timeout > 5 ? GetTickCount() : 0;
    }
    if (g_enabledTimers && CheckTimers()) launched = true;
    bool countedWait = false;
    if (timeout > 0 && timed) {
        ++g_timedWaits;
        countedWait = true;
        EnsureMainTimer();
    }
    int retrieved = 0;
    auto remaining = [&]() { return static_cast<int32_t>(start + static_cast<uint32_t>(timeout) - GetTickCount()); };
    for (;;) {
        MSG msg;
        UINT upper = IsInterruptible() ? 0 : kUninterruptibleFilter;
        bool got;
        if (timeout > 0 && !waitOver && !s_nestedPump) {
            BOOL r = GetMessageW(&msg, nullptr, 0, upper);
            if (r == -1) continue;
            got = true;
        } else {
            got = PeekMessageW(&msg, nullptr, 0, upper, PM_REMOVE) != 0;
        }
        if (!got) {
            if (!timed) {  // the idle loop never returns
                WaitMessage();
                continue;
            }
            if (timeout == 0 && !yielded) {
                Sleep(0);
                yielded = true;
                continue;
            }
            if (!retrieved && returnAtEmpty) {
                if (timeout > 0) Sleep(5);
                retrieved = 1;
                continue;
            }
            if (returnAtEmpty || !timed || remaining() < 6) break;
            Sleep(5);
            continue;
        }
        ++retrieved;
        if (HaveMessageMonitors()) {
            LRESULT answer = 0;
            if (OfferToMonitors(msg.hwnd, msg.message, msg.wParam, msg.lParam, &msg, &answer)) continue;
        }
        switch (msg.message) {
            case WM_QUIT:
                ExitWithReason(ExitReason::Close, static_cast<int32_t>(msg.wParam));
                continue;  // an OnExit callback cancelled the exit
            case WM_CANCELJOURNAL:
                waitOver = true;
                continue;
            case WM_TIMER:
                if (msg.hwnd == g_mainWindow && g_mainWindow && msg.wParam == kInterruptCheckTimerId) {
                    // A thread whose uninterruptible time has run out while it waits becomes interruptible.
                    if (g_allowInterruption && !g_menuVisible && g_threadCount) IsInterruptible();
                    continue;
                }
                if (msg.hwnd == g_mainWindow && g_mainWindow && msg.lParam == 0) {
                    if (g_enabledTimers && CheckTimers()) launched = true;
                    if (timed && timeout >= 1 && (returnAtEmpty || remaining() <= 5)) goto done;
                    continue;
                }
                break;
            case kMenuItemMessage:
                if (msg.hwnd == g_mainWindow && g_mainWindow) {
                    LaunchMenuItem(static_cast<uint32_t>(msg.lParam));
                    launched = true;
                    continue;
                }
                break;
        }
        if (TranslateMainWindowKeys(msg)) continue;
        // The window procedure must not offer this message to the monitors a second time.
        PseudoThread& current = *g_thread;
        current.dispatching = true;
        current.dispatchedMessage = msg.message;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        current.dispatching = false;
    }
done:
    g_lastCheckTick = GetTickCount();
    if (clearNested) s_nestedPump = false;
    if (countedWait) {
        --g_timedWaits;
        KillMainTimerIfUnneeded();
    }
    return launched;
}

// Sleep Delay
void BifSleep(int32_t delay) { PumpMessages(delay, PumpMode::Timed); }

// Critical [OnOffNumeric]: the previous check interval when the thread was critical, else 0.
int64_t BifCritical(Opt<const Char*> setting) {
    PseudoThread& t = *g_thread;
    int64_t previous = t.settings.critical ? static_cast<int64_t>(t.settings.checkInterval) : 0;
    uint32_t interval = 16;
    if (setting && **setting && !SameWord(*setting, L"On"))
        interval = static_cast<uint32_t>(IsNumeric(*setting) != NumericKind::None ? ParseInt64(*setting) : 0);
    if (!interval) {
        t.settings.critical = false;
        t.settings.checkInterval = 5;
        t.interruptible = true;
    } else {
        t.settings.checkInterval = interval;
        t.settings.critical = true;
        t.interruptible = false;
        t.uninterruptibleTime = -1;
    }
    return previous;
}

// Pause [NewState]: without a value the calling thread waits here until a newer thread unpauses it;
// 1, 0 and -1 pause, unpause or toggle the thread the current one interrupted.
FResult BifPause(Opt<int64_t> state) {
    if (!state) {
        PseudoThread& t = *g_thread;
        if (!t.paused) {
            t.paused = true;
            ++g_pausedThreads;
            UpdateTrayIcon(false);
        }
        while (t.paused) PumpMessages(kPumpUnspecified, PumpMode::Timed);
        return FrOk;
    }
    if (*state != 1 && *state != 0 && *state != -1) return FrParam(0);
    PseudoThread* below = InterruptedThread();
    if (!below) return FrOk;
    bool pause = *state == -1 ? !below->paused : *state == 1;
    if (pause != below->paused) {
        below->paused = pause;
        g_pausedThreads += pause ? 1 : -1;
    }
    return FrOk;
}

// Thread SubFunction [, Value1, Value2]
FResult BifThread(const Char* command, Opt<int64_t> value1, Opt<int64_t> value2) {
    if (SameWord(command, L"Priority")) {
        if (value1) g_thread->priority = static_cast<int32_t>(*value1);
    } else if (SameWord(command, L"Interrupt")) {
        if (value1) g_interruptTime = static_cast<int32_t>(*value1);
        if (value2) g_interruptLines = static_cast<int32_t>(*value2);
    } else if (SameWord(command, L"NoTimers")) {
        g_thread->settings.timersAllowed = value1 && *value1 == 0;
    } else {
        return FrParam(0);
    }
    return FrOk;
}

}  // namespace brm
