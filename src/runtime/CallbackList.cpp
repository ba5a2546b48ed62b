// OnExit and OnError: registration and calling in list order.
#include "runtime/CallbackList.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "objects/MdFunc.h"
#include "objects/Func.h"
#include "objects/Object.h"

namespace brm {

CallbackList g_onExit;
CallbackList g_onError;
bool g_onErrorRunning = false;

bool CallbackList::Contains(IObject* f) const {
    for (const auto& e : m_entries)
        if (e.get() == f) return true;
    return false;
}

void CallbackList::AddLast(IObject* f) {
    if (!Contains(f)) m_entries.push_back(Ref<IObject>::Borrow(f));
}

void CallbackList::AddFirst(IObject* f) {
    if (!Contains(f)) m_entries.insert(m_entries.begin(), Ref<IObject>::Borrow(f));
}

void CallbackList::Remove(IObject* f) {
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
        if (it->get() == f) {
            Ref<IObject> keep = *it;  // released after the list no longer holds it
            m_entries.erase(it);
            return;
        }
}

bool CallbackList::CallInOrder(ValueToken** params, int count, int64_t* answer, bool* failed, void (*beforeNext)()) {
    // A copy: a callback may add or remove entries while the list is being called.
    std::vector<Ref<IObject>> entries = m_entries;
    bool first = true;
    for (auto& e : entries) {
        if (!first && beforeNext) beforeNext();
        first = false;
        Char scratch[kScratchChars];
        CallResult result(scratch);
        if (CallFunction(e.get(), result, params, count) != Status::Ok) {
            *failed = true;
            return true;
        }
        if (TokenIsNumeric(result.value) == NumericKind::Integer) {
            int64_t v = TokenToInt64(result.value);
            if (v) {
                *answer = v;
                *failed = false;
                return true;
            }
        }
    }
    return false;
}

namespace {

FResult Register(CallbackList& list, IObject* f, Opt<int32_t> mode) {
    bool valid = true;
    if (CallbackCheck(f, 2, true, valid) != Status::Ok) return FrFail;
    switch (mode ? *mode : 1) {
        case 1: list.AddLast(f); break;
        case -1: list.AddFirst(f); break;
        case 0: list.Remove(f); break;
        default: return FrParam(1);
    }
    return FrOk;
}

}  // namespace

FResult BifOnExit(IObject* callback, Opt<int32_t> mode) { return Register(g_onExit, callback, mode); }

FResult BifOnError(IObject* callback, Opt<int32_t> mode) { return Register(g_onError, callback, mode); }

}  // namespace brm
