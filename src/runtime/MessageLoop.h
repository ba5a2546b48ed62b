// The message loop: the one place messages are retrieved. Every wait runs inside it.
#pragma once
#include <windows.h>
#include <cstdint>
#include "runtime/PseudoThread.h"

namespace brm {

enum class PumpMode {
    Resident,  // the idle loop of a resident script: waits for messages forever, never returns
    Timed,     // returns when the time-out has run out (Sleep and every other wait)
    Nested,    // as Timed, from inside a window procedure: never blocks in GetMessageW
};

// 10 ms, returning as soon as the queue is found empty (the periodic check and Pause).
constexpr int32_t kPumpUnspecified = static_cast<int32_t>(0x8000012Fu);

// Retrieves and dispatches messages, launching pseudo-threads for timers and the script's events when the
// running thread may be interrupted. True when at least one pseudo-thread ran.
bool PumpMessages(int32_t timeoutMs, PumpMode mode);

// The main window's timer that drives script timers and timed waits; it exists only while needed, so an
// idle script gets no periodic wake-ups.
constexpr UINT_PTR kMainTimerId = 9;
// Started with the auto-execute section: lets a waiting thread's uninterruptible time run out.
constexpr UINT_PTR kInterruptCheckTimerId = 14;
constexpr UINT kInterruptCheckPeriodMs = 82800000;
void EnsureMainTimer();
void KillMainTimerIfUnneeded();

// The slow half of the check the executor makes before each line.
void LineCheckSlow(uint32_t now);

// Before each line: looks at the message queue once the thread's check interval has passed; counts the
// lines an uninterruptible thread runs, so that it becomes interruptible after Thread "Interrupt"'s lines.
inline void LineCheck() {
    PseudoThread& t = *g_thread;
    // The clock is read every few lines only: lines are far shorter than the check interval, and a line
    // that waits (Sleep, a dialog) looks at the queue itself.
    if (--g_linesUntilClock <= 0 || t.paused) {
        g_linesUntilClock = kLinesPerClockRead;
        uint32_t now = GetTickCount();
        if (now - g_lastCheckTick > t.settings.checkInterval || t.paused) LineCheckSlow(now);
    }
    if (!g_thread->interruptible && !g_thread->settings.critical) {
        PseudoThread& u = *g_thread;
        if (++u.uninterruptedLines > g_interruptLines && g_interruptLines >= 0) {
            u.interruptible = true;
            u.settings.checkInterval = 5;
        }
    }
}

// Persistent [Flag]: the flag the persistence test reads.
extern bool g_persistent;
// The persistence test: Persistent, enabled timers, message monitors.
bool IsPersistent();

}  // namespace brm
