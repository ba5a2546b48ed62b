// Callouts: the context of one running match, and the routine the engine calls at each callout point,
// which runs a script function in the middle of the match.
#pragma once
#include <pcre.h>
#include <exception>
#include "expr/ValueToken.h"
#include "lib/RegEx.h"

namespace brm {

// One running match, handed to the engine as its callout data. Nothing thrown and no error raised in a
// callout may pass through the engine's frames: the callout records what happened here and returns the
// engine's abort code, and the caller acts on the record once the engine has returned.
struct RegExRun {
    CompiledRegEx* pattern;   // counted by the caller for the whole run
    const Char* needle;       // the whole NeedleRegEx (the pattern record's own copy)
    const Char* haystack;     // terminated
    int haystackLength;
    int pairCount;            // capturing groups + 1
    pcre16_extra extra;       // this run's own: study data, limits, callout data and mark
    PCRE_UCHAR16* mark = nullptr;

    Status calloutStatus = Status::Ok;     // Fail or EarlyExit: the callout function failed or exited
    const Char* missingCallout = nullptr;  // "Invalid callout" is due, for this name
    bool outOfMemory = false;
    std::exception_ptr thrown;

    // After the engine returned a negative code other than no-match: raises what a callout left pending
    // and returns true, with status set; false when no callout is to blame.
    bool TakeCalloutFailure(Status& status);
};

// What A_EventInfo points at during a callout: the engine's block, numbered and positioned as the
// script wrote the pattern, followed by the callout's name.
struct RegExCalloutInfo {
    pcre16_callout_block block;
    const Char* name;  // null for a numbered callout
};

// Installed as the engine's callout hook.
int RegExCalloutHook(pcre16_callout_block* block);

// Fills run.extra from the pattern's study data with both limits and, when callouts are to run, the
// callout data. Call with the run at its final address.
void PrepareRegExRun(RegExRun& run, bool withCallouts);

}  // namespace brm
