// OnExit and OnError: registration and calling in list order.
#include "runtime/CallbackList.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "objects/BuiltInFunctions.h"
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

bool CallbackList::CallInOrder(ValueToken** params, int count, int64_t* answer, bool* failed) {
    // A copy: a callback may add or remove entries while the list is being called.
    std::vector<Ref<IObject>> entries = m_entries;
    for (auto& e : entries) {
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

Status Register(CallbackList& list, ValueToken** params, int paramCount) {
    if (params[0]->symbol != SymObject &&
        !(params[0]->symbol == SymVariable && params[0]->var->Target()->IsObject()))
        return RaiseFormatted(ErrorClass::ValueError, nullptr, Msg::ParamInvalid, 1);
    IObject* f = params[0]->symbol == SymObject ? params[0]->object : params[0]->var->Target()->Object();
    bool valid = true;
    BRM_TRY(CallbackCheck(f, 2, true, valid));
    int64_t mode = 1;
    if (paramCount > 1 && params[1]->symbol != SymMissing) {
        if (TokenIsNumeric(*params[1]) != NumericKind::Integer)
            return RaiseFormatted(ErrorClass::ValueError, nullptr, Msg::ParamInvalid, 2);
        mode = TokenToInt64(*params[1]);
    }
    switch (mode) {
        case 1: list.AddLast(f); break;
        case -1: list.AddFirst(f); break;
        case 0: list.Remove(f); break;
        default: return RaiseFormatted(ErrorClass::ValueError, nullptr, Msg::ParamInvalid, 2);
    }
    return Status::Ok;
}

}  // namespace

Status BifOnExit(CallResult& result, ValueToken** params, int paramCount) {
    result.value.SetString(L"", 0);
    return Register(g_onExit, params, paramCount);
}

Status BifOnError(CallResult& result, ValueToken** params, int paramCount) {
    result.value.SetString(L"", 0);
    return Register(g_onError, params, paramCount);
}

}  // namespace brm
