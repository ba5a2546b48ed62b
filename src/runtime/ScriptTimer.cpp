// SetTimer and the timer checks of the message loop.
#include "runtime/ScriptTimer.h"
#include <windows.h>
#include <cstdlib>
#include "expr/ValueToken.h"
#include "objects/Func.h"
#include "objects/MdFunc.h"
#include "objects/Object.h"
#include "runtime/MessageLoop.h"
#include "runtime/PseudoThread.h"

namespace brm {

int32_t g_enabledTimers = 0;
int32_t g_timedWaits = 0;

namespace {

constexpr uint32_t kDefaultPeriod = 250;

ScriptTimer* s_first = nullptr;
ScriptTimer* s_last = nullptr;

ScriptTimer* FindTimer(IObject* callback) {
    for (ScriptTimer* t = s_first; t; t = t->next)
        if (t->callback == callback) return t;
    return nullptr;
}

void Disable(ScriptTimer* t) {
    if (!t->enabled) return;
    t->enabled = false;
    --g_enabledTimers;
    KillMainTimerIfUnneeded();
}

// Unlinks and frees a disabled timer that no thread is running.
void Unlink(ScriptTimer* t) {
    ScriptTimer* prev = nullptr;
    for (ScriptTimer* p = s_first; p && p != t; p = p->next) prev = p;
    (prev ? prev->next : s_first) = t->next;
    if (s_last == t) s_last = prev;
    IObject* callback = t->callback;
    free(t);
    callback->Release();  // last: releasing may run a destructor that touches the list
}

}  // namespace

const ScriptTimer* FirstTimer() { return s_first; }

void DeleteTimer(IObject* callback) {
    ScriptTimer* t = FindTimer(callback);
    if (!t) return;
    Disable(t);
    if (!t->running && !t->protectedCount) Unlink(t);  // else the check that runs it removes it afterwards
}

bool CheckTimers() {
    if (g_pausedThreads) return false;
    if (g_threadCount && !g_thread->settings.timersAllowed) return false;
    if (g_threadCount >= MaxThreads() || !g_allowInterruption) return false;
    if (g_threadCount && !IsInterruptible()) return false;
    bool launched = false;
    int32_t priority = g_thread->priority;
    for (ScriptTimer* t = s_first; t;) {
        uint32_t now = GetTickCount();
        if (!t->enabled || t->running || t->priority < priority || now - t->lastRun < t->period) {
            t = t->next;
            continue;
        }
        if (!launched) {
            StartPseudoThread(t->priority);
            launched = true;
        } else {
            ResetPseudoThread(t->priority);
        }
        priority = t->priority;  // later timers of this pass compare with the one just run
        t->lastRun = now;
        if (t->runOnce) Disable(t);
        g_lastCheckTick = now;
        g_thread->launchingTimer = t;
        ++t->running;
        {
            Char scratch[kScratchChars];
            CallResult result(scratch);
            IObject* callback = t->callback;
            callback->AddRef();  // the callback may delete its own timer
            (void)CallFunction(callback, result, nullptr, 0);
            callback->Release();
        }
        ClearThrown(*g_thread);  // an error ended this callback's thread; the timer stays as it was
        --t->running;
        // Sweep the timers that were deleted meanwhile, starting with the one just run.
        ScriptTimer* next = t;
        while (next && !next->enabled && !next->running && !next->protectedCount) {
            ScriptTimer* after = next->next;
            if (after) ++after->protectedCount;
            Unlink(next);
            if (after) --after->protectedCount;
            next = after;
        }
        t = next == t ? t->next : next;
    }
    if (launched) EndPseudoThread();
    return launched;
}

// SetTimer [Function, Period, Priority]
FResult BifSetTimer(Opt<IObject*> function, Opt<int64_t> period, Opt<int32_t> priority) {
    IObject* callback;
    if (function) {
        bool valid = true;
        if (CallbackCheck(*function, 0, true, valid) != Status::Ok) return FrFail;
        callback = *function;
    } else {
        ScriptTimer* own = g_threadCount ? g_thread->launchingTimer : nullptr;
        if (!own || !own->callback) return FrParam(0);
        callback = own->callback;
    }
    if (period && *period == 0) {
        DeleteTimer(callback);
        return FrOk;
    }
    ScriptTimer* t = FindTimer(callback);
    bool existed = t != nullptr;
    if (!t) {
        t = static_cast<ScriptTimer*>(calloc(1, sizeof(ScriptTimer)));
        if (!t) return FrOutOfMemory;
        callback->AddRef();
        t->callback = callback;
        t->period = kDefaultPeriod;
        (s_last ? s_last->next : s_first) = t;
        s_last = t;
    }
    bool hasPeriod = period.has, hasPriority = priority.has;
    int64_t periodValue = period ? *period : kDefaultPeriod;
    int32_t priorityValue = priority ? *priority : 0;
    if (!t->enabled) {
        t->enabled = true;
        ++g_enabledTimers;
        EnsureMainTimer();
        if (existed) hasPeriod = hasPriority = true;  // re-enabled: the defaults apply to what is omitted
    }
    if (hasPeriod || !existed) {
        t->runOnce = periodValue < 0;
        uint32_t ms = static_cast<uint32_t>(periodValue < 0 ? -static_cast<uint64_t>(periodValue) : periodValue);
        t->period = ms == 1 ? 0 : ms;
    }
    if (hasPriority) t->priority = priorityValue;
    if (!existed || hasPeriod || !hasPriority) t->lastRun = GetTickCount();  // the countdown starts afresh
    return FrOk;
}

}  // namespace brm
