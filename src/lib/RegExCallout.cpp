// Callouts into script functions: resolving the function, the match object it receives, A_EventInfo,
// and keeping every failure on this side of the engine.
#include "lib/RegExCallout.h"
#include <climits>
#include <cstring>
#include <cwchar>
#include "exec/Raise.h"
#include "exec/Scope.h"
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "lib/RegExMatchInfo.h"
#include "objects/Object.h"
#include "runtime/PseudoThread.h"

namespace brm {

namespace {

int RunCallout(RegExRun& run, const pcre16_callout_block& block) {
    CompiledRegEx* pattern = run.pattern;
    int number = block.callout_number;
    const Char* name = nullptr;
    if (pattern->callouts && number >= 1 && number <= kMaxRenamedCallouts) {
        name = pattern->callouts[number].name;
        number = pattern->callouts[number].number;
    }
    const Char* functionName = name ? name : L"pcre_callout";
    bool globalOnly = false;
    Var* var = FindVarRunTime(functionName, wcslen(functionName), false, &globalOnly);
    if (!var || !var->IsObject()) {
        run.missingCallout = functionName;
        return PCRE_ERROR_CALLOUT;
    }
    Ref<IObject> function = Ref<IObject>::Borrow(var->Object());

    RegExCalloutInfo info;
    info.block = block;
    info.block.callout_number = number;
    int end = pattern->OriginalPosition(block.pattern_position + block.next_item_length);
    info.block.pattern_position = pattern->OriginalPosition(block.pattern_position);
    info.block.next_item_length = end - info.block.pattern_position;
    info.block.pattern_position += pattern->prefixLength;
    info.name = name;

    const int group0[2] = {block.start_match, block.current_position};
    bool outOfMemory = false;
    Ref<RegExMatchObject> match(RegExMatchObject::Create(run.haystack, block.offset_vector, run.pairCount,
                                                         block.capture_top, reinterpret_cast<const Char*>(block.mark), pattern, group0,
                                                         &outOfMemory));
    if (!match) {
        run.outOfMemory = true;
        return PCRE_ERROR_CALLOUT;
    }
    ValueToken args[5];
    args[0].SetObject(match.get());
    args[1].SetInteger(number);
    args[2].SetInteger(static_cast<int64_t>(block.start_match) + 1);
    args[3].SetString(run.haystack, run.haystackLength);
    args[4].SetString(run.needle, -1);
    ValueToken* params[5] = {&args[0], &args[1], &args[2], &args[3], &args[4]};

    uint32_t previousEventInfo = g_thread->eventInfo;
    g_thread->eventInfo = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&info));
    Char scratch[kScratchChars];
    CallResult r(scratch);
    Status st = CallFunction(function.get(), r, params, 5);
    g_thread->eventInfo = previousEventInfo;
    if (st == Status::Fail || st == Status::EarlyExit) {
        run.calloutStatus = st;
        return PCRE_ERROR_CALLOUT;
    }
    if (TokenIsNumeric(r.value) == NumericKind::None)
        return 0;
    int64_t value = TokenToInt64(r.value);
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

}  // namespace

int RegExCalloutHook(pcre16_callout_block* block) {
    auto* run = static_cast<RegExRun*>(block->callout_data);
    if (!run)
        return 0;  // the window matcher runs without callouts
    // The engine's frames have no unwind tables of ours: nothing may be thrown through them.
    try {
        return RunCallout(*run, *block);
    } catch (...) {
        run->thrown = std::current_exception();
        return PCRE_ERROR_CALLOUT;
    }
}

void PrepareRegExRun(RegExRun& run, bool withCallouts) {
    if (run.pattern->study)
        run.extra = *run.pattern->study;
    else
        memset(&run.extra, 0, sizeof run.extra);
    run.extra.flags |= PCRE_EXTRA_MATCH_LIMIT | PCRE_EXTRA_MATCH_LIMIT_RECURSION | PCRE_EXTRA_MARK;
    run.extra.match_limit = kMatchLimit;
    run.extra.match_limit_recursion = kMatchLimitRecursion;
    run.extra.mark = &run.mark;
    if (withCallouts) {
        run.extra.flags |= PCRE_EXTRA_CALLOUT_DATA;
        run.extra.callout_data = &run;
    }
}

bool RegExRun::TakeCalloutFailure(Status& status) {
    if (thrown) {
        std::exception_ptr e = thrown;
        thrown = nullptr;
        std::rethrow_exception(e);
    }
    if (calloutStatus != Status::Ok) {
        status = calloutStatus;
        return true;
    }
    if (missingCallout) {
        status = RaiseMsg(ErrorClass::ValueError, Msg::InvalidCallout, missingCallout);
        return true;
    }
    if (outOfMemory) {
        status = RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        return true;
    }
    return false;
}

}  // namespace brm
