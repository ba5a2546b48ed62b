// Script timers: SetTimer's list of callbacks run periodically or once, each run a pseudo-thread.
#pragma once
#include <cstdint>
#include "objects/IObject.h"

namespace brm {

struct ScriptTimer {
    IObject* callback;   // counted; also the timer's identity
    uint32_t period;     // ms between runs; 0 is due at every check
    uint32_t lastRun;    // tick of creation, of each (re)setting of the period and of each launch
    int32_t priority;
    uint8_t running;     // its pseudo-threads now running
    uint8_t protectedCount;  // non-zero while a deletion sweep must not free it
    bool enabled;
    bool runOnce;
    ScriptTimer* next;
};

extern int32_t g_enabledTimers;
extern int32_t g_timedWaits;  // PumpMessages calls in progress that have a time-out

// Runs the due timers; true when at least one ran.
bool CheckTimers();
void DeleteTimer(IObject* callback);
// The timers in creation order (the key-history view lists them).
const ScriptTimer* FirstTimer();

}  // namespace brm
