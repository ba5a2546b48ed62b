// The monitor list and its dispatch: a monitor may add or remove monitors, even of the message being
// dispatched, while it runs; the positions of every dispatch in progress follow those changes, so that
// no monitor is skipped or called twice.
#include "runtime/MessageMonitor.h"
#include <vector>
#include "expr/Conversions.h"
#include "expr/ValueToken.h"
#include "objects/Func.h"
#include "objects/MdFunc.h"
#include "objects/Object.h"
#include "runtime/PseudoThread.h"

namespace brm {

namespace {

constexpr int kMaxMonitorThreads = 255;

struct Monitor {
    Ref<IObject> callback;
    uint32_t message;
    uint8_t running;
    uint8_t maxThreads;
};

// A dispatch in progress; they nest through pseudo-threads, innermost first.
struct DispatchPosition {
    DispatchPosition* outer;
    size_t index;
    size_t count;
    bool currentRemoved;
};

std::vector<Monitor> s_monitors;
DispatchPosition* s_positions = nullptr;
bool s_stopped = false;

Monitor* Find(uint32_t message, IObject* callback, size_t* at) {
    for (size_t i = 0; i < s_monitors.size(); ++i)
        if (s_monitors[i].message == message && s_monitors[i].callback.get() == callback) {
            *at = i;
            return &s_monitors[i];
        }
    return nullptr;
}

void RemoveAt(size_t k) {
    for (DispatchPosition* p = s_positions; p; p = p->outer) {
        if (p->index >= k && p->index != static_cast<size_t>(-1)) {
            if (p->index == k) p->currentRemoved = true;
            --p->index;  // wraps below 0 for entry 0; the loop's increment brings it back
        }
        if (p->count) --p->count;
    }
    Ref<IObject> keep = std::move(s_monitors[k].callback);  // released after the list no longer holds it
    s_monitors.erase(s_monitors.begin() + static_cast<ptrdiff_t>(k));
}

// Runs one monitor; true when it answered.
bool RunMonitor(DispatchPosition& pos, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, const MSG* msg,
                LRESULT* answer) {
    Monitor& m = s_monitors[pos.index];
    if (g_threadCount >= MaxThreads() || m.running >= m.maxThreads || g_thread->priority > 0) return false;
    Ref<IObject> callback = m.callback;  // the monitor may remove itself
    ++m.running;
    StartPseudoThread(0);
    HWND top = hwnd;
    while (top && (GetWindowLongW(top, GWL_STYLE) & WS_CHILD)) {
        HWND parent = GetParent(top);
        if (!parent) break;
        top = parent;
    }
    (void)top;  // the last found window arrives with the window functions
    if (msg) g_thread->eventInfo = msg->time;
    ValueToken args[4];
    args[0].SetInteger(static_cast<int64_t>(static_cast<uintptr_t>(wParam)));
    args[1].SetInteger(static_cast<int64_t>(lParam));
    args[2].SetInteger(message);
    args[3].SetInteger(static_cast<int64_t>(reinterpret_cast<uintptr_t>(hwnd)));
    ValueToken* params[] = {&args[0], &args[1], &args[2], &args[3]};
    bool answered = false;
    {
        Char scratch[kScratchChars];
        CallResult result(scratch);
        if (CallFunction(callback.get(), result, params, 4) == Status::Ok) {
            const ValueToken& v = result.value;
            bool empty = v.symbol == SymString && (v.markerLength == 0 || (v.markerLength < 0 && !*v.marker));
            if (!empty) {
                answered = true;
                *answer = static_cast<LRESULT>(TokenToInt64(v));
            }
        }
    }
    EndPseudoThread();
    if (pos.currentRemoved) pos.currentRemoved = false;
    else if (pos.index < s_monitors.size() && s_monitors[pos.index].running) --s_monitors[pos.index].running;
    return answered;
}

}  // namespace

bool HaveMessageMonitors() { return !s_stopped && !s_monitors.empty(); }

void StopMessageMonitors() { s_stopped = true; }

bool OfferToMonitors(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, const MSG* msg, LRESULT* result) {
    if (!HaveMessageMonitors()) return false;
    DispatchPosition pos{s_positions, 0, s_monitors.size(), false};
    s_positions = &pos;
    bool answered = false;
    for (; pos.index < pos.count && pos.index < s_monitors.size(); ++pos.index) {
        if (s_monitors[pos.index].message != message) continue;
        if (RunMonitor(pos, hwnd, message, wParam, lParam, msg, result)) {
            answered = true;
            break;
        }
    }
    s_positions = pos.outer;
    return answered;
}

// OnMessage MsgNumber, Callback [, MaxThreads]
FResult BifOnMessage(uint32_t message, IObject* callback, Opt<int64_t> maxThreads) {
    bool remove = false, atFront = false;
    int64_t limit = 1;
    if (maxThreads) {
        limit = *maxThreads;
        if (limit == 0) remove = true;
        else if (limit < 0) {
            atFront = true;
            limit = -limit;
        }
        if (limit > kMaxMonitorThreads) limit = kMaxMonitorThreads;
    }
    size_t at = 0;
    if (Monitor* m = Find(message, callback, &at)) {
        if (remove) RemoveAt(at);
        else if (maxThreads) m->maxThreads = static_cast<uint8_t>(limit);
        return FrOk;
    }
    if (remove) return FrOk;
    bool valid = true;
    if (CallbackCheck(callback, 4, true, valid) != Status::Ok) return FrFail;
    Monitor entry{Ref<IObject>::Borrow(callback), message, 0, static_cast<uint8_t>(limit)};
    if (atFront) {
        s_monitors.insert(s_monitors.begin(), std::move(entry));
        for (DispatchPosition* p = s_positions; p; p = p->outer) {
            ++p->index;
            ++p->count;
        }
    } else {
        s_monitors.push_back(std::move(entry));
    }
    return FrOk;
}

}  // namespace brm
