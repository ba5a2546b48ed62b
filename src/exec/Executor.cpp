// The statement executor: runs ScriptLines by the parent and related links the block linker made, with
// the loops, Try/Catch/Finally, Switch and the jumps. No block structure is searched for at run time.
//
// A jump (Goto, a labelled Break or Continue) travels upward as a target line: each block runner takes it
// when the target lies directly in its own block, and otherwise hands it to its caller.
#include "exec/Executor.h"
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include "exec/ErrorReport.h"
#include "exec/ExecutorLoops.h"
#include "exec/Raise.h"
#include "exec/StackGuard.h"
#include "expr/Compiler.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "loader/BlockLinker.h"
#include "objects/BuiltInFunctions.h"
#include "objects/Func.h"
#include "objects/Enumerator.h"
#include "objects/IObject.h"
#include "objects/VarRef.h"
#include "runtime/LineHistory.h"
#include "runtime/MessageLoop.h"
#include "runtime/PseudoThread.h"
#include "startup/Exit.h"
#include "startup/ScriptHost.h"

namespace brm {

namespace {

// Parse loops copy their input; up to this many characters the copy lives on the machine stack.
constexpr size_t kParseStackChars = 40000;

// Restores the thread's loop state when a loop ends, however it ends.
class LoopStateSaver {
public:
    LoopStateSaver() : m_saved(g_thread->loop) {}
    ~LoopStateSaver() { g_thread->loop = m_saved; }
    LoopStateSaver(const LoopStateSaver&) = delete;
    LoopStateSaver& operator=(const LoopStateSaver&) = delete;

private:
    LoopState m_saved;
};

}  // namespace

ScriptLine* UntilOf(ScriptLine* loop) {
    ScriptLine* r = loop->relatedLine;
    return r && r->action == LineAction::Until && r->attribute == loop ? r : nullptr;
}

bool RunLoopBody(ScriptLine* loop, ScriptLine* until, CallResult* ret, Status* status, ScriptLine** jump) {
    ScriptLine* target = nullptr;
    Status st = ExecUntil(loop->nextLine, ExecMode::OneLine, ret, &target);
    if (st == Status::Continue && (!target || target == loop)) {
        st = Status::Ok;
        target = nullptr;
    } else if (st == Status::Break && !target) {
        *status = Status::Ok;
        return false;
    }
    if (st != Status::Ok || target) {
        *status = st;
        *jump = target;
        return false;
    }
    if (until) {
        g_script.currentLine = until;
        bool done = false;
        st = EvaluateCondition(*until, until->args[0], done);
        if (st != Status::Ok || done) {
            *status = st;
            return false;
        }
    }
    ++g_thread->loop.index;
    return true;
}

Status FinishLoop(ScriptLine* loop, ScriptLine* until, bool ran, Status st, CallResult* ret, ScriptLine** jump,
                  ScriptLine** next) {
    if (until) {
        *next = until->nextLine;
        return st;
    }
    ScriptLine* after = loop->relatedLine;
    if (after && after->action == LineAction::Else && after->attribute == loop) {
        *next = after->relatedLine;
        if (!ran && st == Status::Ok && !*jump) {
            g_script.currentLine = after;
            return ExecUntil(after->nextLine, ExecMode::OneLine, ret, jump);
        }
        return st;
    }
    *next = after;
    return st;
}

namespace {

Status EvaluateText(ScriptLine& line, int index, CallResult& result, const Char** text, int32_t* length) {
    *text = L"";
    *length = 0;
    if (index >= line.argCount) return Status::Ok;
    BRM_TRY(EvaluateExpr(line, line.args[index], result));
    *text = TokenToString(result.value, result.buffer, length);
    if (*length < 0) *length = static_cast<int32_t>(wcslen(*text));
    return Status::Ok;
}

Status ExecLoop(ScriptLine* line, CallResult* ret, ScriptLine** jump, ScriptLine** next) {
    ScriptLine* until = UntilOf(line);
    bool infinite = line->argCount == 0;
    int64_t count = 0;
    if (!infinite) {
        Char scratch[kScratchChars];
        CallResult r(scratch);
        BRM_TRY(EvaluateExpr(*line, line->args[0], r));
        count = TokenToInt64(r.value);
    }
    Status st = Status::Ok;
    bool ran = false;
    {
        LoopStateSaver saver;  // restored before an Else runs
        g_thread->loop.index = 1;
        while (infinite || g_thread->loop.index <= count) {
            ran = true;
            if (!RunLoopBody(line, until, ret, &st, jump)) break;
        }
    }
    return FinishLoop(line, until, ran, st, ret, jump, next);
}

Status ExecWhile(ScriptLine* line, CallResult* ret, ScriptLine** jump, ScriptLine** next) {
    ScriptLine* until = UntilOf(line);
    Status st = Status::Ok;
    bool ran = false;
    {
        LoopStateSaver saver;  // restored before an Else runs
        g_thread->loop.index = 1;
        for (;;) {
            g_script.currentLine = line;
            bool truth = false;
            st = EvaluateCondition(*line, line->args[0], truth);
            if (st != Status::Ok || !truth) break;
            ran = true;
            if (!RunLoopBody(line, until, ret, &st, jump)) break;
        }
    }
    return FinishLoop(line, until, ran, st, ret, jump, next);
}

bool InSet(Char c, const Char* set, int32_t setLength) {
    for (int32_t i = 0; i < setLength; ++i)
        if (set[i] == c) return true;
    return false;
}

Status ExecLoopParse(ScriptLine* line, CallResult* ret, ScriptLine** jump, ScriptLine** next) {
    ScriptLine* until = UntilOf(line);
    Char s1[kScratchChars], s2[kScratchChars], s3[kScratchChars];
    CallResult r1(s1), r2(s2), r3(s3);
    const Char *input, *delims, *omit;
    int32_t inputLength, delimsLength, omitLength;
    BRM_TRY(EvaluateText(*line, 0, r1, &input, &inputLength));
    BRM_TRY(EvaluateText(*line, 1, r2, &delims, &delimsLength));
    BRM_TRY(EvaluateText(*line, 2, r3, &omit, &omitLength));

    // The body may change the variable the input came from, so it is split in a private copy.
    std::unique_ptr<Char[]> heapCopy;
    Char* buf;
    if (inputLength < static_cast<int32_t>(kParseStackChars)) {
        buf = static_cast<Char*>(__builtin_alloca((static_cast<size_t>(inputLength) + 1) * sizeof(Char)));
    } else {
        heapCopy.reset(new (std::nothrow) Char[static_cast<size_t>(inputLength) + 1]);
        if (!heapCopy) return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        buf = heapCopy.get();
    }
    memcpy(buf, input, static_cast<size_t>(inputLength) * sizeof(Char));
    buf[inputLength] = 0;

    Status st = Status::Ok;
    bool ran = false;
    LoopState saved = g_thread->loop;  // restored before an Else runs
    g_thread->loop.index = 1;
    const bool csv = delimsLength == 3 && CompareFoldAZ(delims, 3, L"CSV", 3) == 0;
    Char* const end = buf + inputLength;
    Char* p = buf;
    while (inputLength && p <= end) {
        Char* field = p;
        Char* fieldEnd;
        bool last;
        if (csv) {
            if (*p == L'"') {
                // A quoted field: "" stands for one quote; text after the closing quote is dropped.
                Char* out = p;
                ++p;
                while (p < end) {
                    if (*p == L'"') {
                        if (p[1] == L'"') {
                            *out++ = L'"';
                            p += 2;
                            continue;
                        }
                        ++p;
                        break;
                    }
                    *out++ = *p++;
                }
                fieldEnd = out;
                while (p < end && *p != L',') ++p;
            } else {
                while (p < end && *p != L',') ++p;
                fieldEnd = p;
            }
            last = p >= end;
            ++p;
        } else if (!delimsLength) {
            // Every character is a field, except those listed to be omitted.
            if (p >= end) break;
            if (InSet(*p, omit, omitLength)) {
                ++p;
                continue;
            }
            fieldEnd = p + 1;
            last = fieldEnd >= end;
            // The character after the field is needed intact for the next field: copy it aside.
            Char single[2] = {*p, 0};
            ++p;
            g_thread->loop.field = single;
            g_thread->loop.fieldLength = 1;
            ran = true;
            if (!RunLoopBody(line, until, ret, &st, jump)) break;
            if (last) break;
            continue;
        } else {
            while (p < end && !InSet(*p, delims, delimsLength)) ++p;
            fieldEnd = p;
            last = p >= end;
            ++p;
        }
        while (field < fieldEnd && InSet(*field, omit, omitLength)) ++field;
        while (fieldEnd > field && InSet(fieldEnd[-1], omit, omitLength)) --fieldEnd;
        *fieldEnd = 0;  // the delimiter (or terminator) there is already consumed
        g_thread->loop.field = field;
        g_thread->loop.fieldLength = static_cast<int32_t>(fieldEnd - field);
        ran = true;
        bool goOn = RunLoopBody(line, until, ret, &st, jump);
        if (!goOn || last) break;
    }
    g_thread->loop = saved;
    return FinishLoop(line, until, ran, st, ret, jump, next);
}

// A For line has at most 20 arguments: the value and up to 19 variables.
constexpr int kMaxForVars = 19;

// For: the loop variables are set aside and the enumerator writes through references to them; afterwards
// each variable gets its old state back.
Status ExecFor(ScriptLine* line, CallResult* ret, ScriptLine** jump, ScriptLine** next) {
    Char scratch[kScratchChars];
    CallResult r(scratch);
    BRM_TRY(EvaluateExpr(*line, line->args[line->argCount - 1], r));
    const int varCount = line->argCount - 1;
    IObject* enumerator = nullptr;
    BRM_TRY(GetEnumerator(r.value, varCount, enumerator));
    Ref<IObject> owner(enumerator);

    struct SavedVar {
        Var* var;
        alignas(Var) unsigned char state[sizeof(Var)];
        VarRef* ref;
    };
    SavedVar saved[kMaxForVars];
    ValueToken tokens[kMaxForVars];
    ValueToken* params[kMaxForVars];
    int savedCount = 0;
    Status st = Status::Ok;
    for (int i = 0; i < varCount; ++i) {
        params[i] = &tokens[i];
        tokens[i].SetMissing();
        Var* v = line->args[i].length ? ArgVar(line->args[i]) : nullptr;
        if (!v) continue;
        // A variable shared with closures is one variable wherever it is named: the loop sets the shared
        // one, so that a closure made in the body sees each value. (A by-reference parameter becomes a
        // variable of the loop's own.)
        if (v->m_type == VarTypeAlias && !(v->m_scope & VarScopeParam)) v = v->Target();
        SavedVar& sv = saved[savedCount];
        memcpy(sv.state, static_cast<void*>(v), sizeof(Var));
        const Var& old = *reinterpret_cast<const Var*>(sv.state);
        new (v) Var(old.m_name, old.m_scope, VarTypeNormal);
        sv.var = v;
        sv.ref = v->MakeRef();
        ++savedCount;
        if (!sv.ref) {
            st = Status::Fail;
            break;
        }
        tokens[i].SetObject(sv.ref);
    }

    ScriptLine* until = UntilOf(line);
    bool ran = false;
    if (st == Status::Ok) {
        LoopStateSaver saver;  // restored before an Else runs
        g_thread->loop.index = 1;
        for (;;) {
            g_script.currentLine = line;
            bool more = false;
            st = CallEnumerator(enumerator, params, varCount, more);
            if (st != Status::Ok || !more) break;
            ran = true;
            if (!RunLoopBody(line, until, ret, &st, jump)) break;
        }
    }
    owner = Ref<IObject>();
    for (int i = savedCount - 1; i >= 0; --i) {
        SavedVar& sv = saved[i];
        sv.var->Free(VarFreeMemory | VarFreeDropAlias);  // drops the alias and its reference
        memcpy(static_cast<void*>(sv.var), sv.state, sizeof(Var));
        if (sv.ref) sv.ref->Release();
    }
    if (st != Status::Ok) return st;
    return FinishLoop(line, until, ran, st, ret, jump, next);
}

bool CatchMatches(const ScriptLine* c, const ThrownValue* ex) {
    auto* info = static_cast<const CatchInfo*>(c->attribute);
    if (!info || !info->classCount) return ex->IsError();
    for (int i = 0; i < info->classCount; ++i) {
        if (IObject* proto = info->prototypes[i]) {
            if (ex->value.symbol == SymObject)
                for (IObject* b = ex->value.object->GetBase(); b; b = b->GetBase())
                    if (b == proto) return true;
        } else if (ThrowClassDerives(ex->cls, info->classes[i])) {
            return true;
        }
    }
    return false;
}

Status ExecTry(ScriptLine* line, CallResult* ret, ScriptLine** jump, ScriptLine** next) {
    PseudoThread& thread = *g_thread;
    const uint8_t savedMode = thread.errorMode;
    ThrownValue* const savedThrown = thread.thrown;
    thread.thrown = nullptr;

    // The clauses that follow the body: Catch..., an Else that follows the last Catch, Finally.
    ScriptLine* p = line->relatedLine;
    ScriptLine* firstCatch = p && p->action == LineAction::Catch ? p : nullptr;
    ScriptLine* lastCatch = nullptr;
    while (p && p->action == LineAction::Catch) {
        lastCatch = p;
        p = p->relatedLine;
    }
    ScriptLine* elseLine = lastCatch && p && p->action == LineAction::Else && p->attribute == lastCatch ? p : nullptr;
    if (elseLine) p = elseLine->relatedLine;
    ScriptLine* finallyLine = p && p->action == LineAction::Finally ? p : nullptr;
    *next = finallyLine ? finallyLine->relatedLine : p;

    // A Try followed directly by Finally catches nothing: errors in its body are shown where raised.
    const bool catches = !(line->relatedLine && line->relatedLine->action == LineAction::Finally);
    if (catches) thread.errorMode = static_cast<uint8_t>((savedMode | ErrorModeCaughtHere) & ~ErrorModeInCatch);
    Status st = ExecUntil(line->nextLine, ExecMode::OneLine, ret, jump);
    thread.errorMode = savedMode;
    const bool completed = st == Status::Ok && !*jump;

    if (st == Status::Fail && thread.thrown) {
        ThrownValue* ex = thread.thrown;
        ScriptLine* handler = nullptr;
        for (ScriptLine* c = firstCatch; c; c = c == lastCatch ? nullptr : c->relatedLine) {
            if (CatchMatches(c, ex)) {
                handler = c;
                break;
            }
        }
        if (handler) {
            thread.thrown = nullptr;
            g_script.currentLine = handler;
            auto* info = static_cast<CatchInfo*>(handler->attribute);
            st = info && info->outputVar ? info->outputVar->Assign(ex->value) : Status::Ok;
            if (st == Status::Ok) {
                thread.errorMode = static_cast<uint8_t>(savedMode | ErrorModeInCatch);
                st = ExecUntil(handler->nextLine, ExecMode::OneLine, ret, jump);
                thread.errorMode = savedMode;
            }
            if (st == Status::Fail && !thread.thrown) {
                // A Throw without a value in the Catch body: the caught value is thrown on.
                thread.thrown = ex;
                if (!(savedMode & ErrorModeCaughtHere)) ReportUnhandled(ex);
            } else {
                FreeThrownValue(ex);
            }
        } else if (!firstCatch && !finallyLine && ex->IsError()) {
            ClearThrown(thread);
            st = Status::Ok;
        } else if (catches && !(savedMode & ErrorModeCaughtHere)) {
            // Nothing here or outside will catch it: it was not shown when raised, so show it now.
            ReportUnhandled(ex);
        }
    } else if (completed && elseLine) {
        g_script.currentLine = elseLine;
        st = ExecUntil(elseLine->nextLine, ExecMode::OneLine, ret, jump);
    }

    if (finallyLine) {
        g_script.currentLine = finallyLine;
        if (st == Status::Ok && !*jump) {
            st = ExecUntil(finallyLine->nextLine, ExecMode::OneLine, ret, jump);
        } else {
            ThrownValue* aside = thread.thrown;
            thread.thrown = nullptr;
            ScriptLine* finallyJump = nullptr;
            Status fs = ExecUntil(finallyLine->nextLine, ExecMode::OneLine, ret, &finallyJump);
            if (fs == Status::Ok && !finallyJump) {
                thread.thrown = aside;
            } else {
                FreeThrownValue(aside);
                *jump = nullptr;
                st = fs == Status::Fail || fs == Status::EarlyExit ? fs : RaiseMsg(ErrorClass::Error, Msg::JumpOutOfFinally);
            }
        }
    }

    if (savedThrown) {
        if (thread.thrown) FreeThrownValue(savedThrown);
        else thread.thrown = savedThrown;
    }
    return st;
}

Status ExecThrow(ScriptLine* line) {
    PseudoThread& thread = *g_thread;
    if (!line->argCount) {
        if (thread.errorMode & ErrorModeInCatch) return Status::Fail;  // re-thrown by the enclosing Catch
        return RaiseWithKind(ErrorKind::Error, ErrorClass::Error, MessageText(Msg::ExceptionThrown));
    }
    Char scratch[kScratchChars];
    CallResult r(scratch);
    BRM_TRY(EvaluateExpr(*line, line->args[0], r));
    ThrownValue* v = NewThrownValue(r.value);
    if (!v) return CriticalError(Msg::OutOfMemoryThreadExit);
    ClearThrown(thread);
    thread.thrown = v;
    if (!(thread.errorMode & ErrorModeCaughtHere)) ReportUnhandled(v);
    return Status::Fail;
}

enum class CaseSense : uint8_t { On, Off, Locale };

bool CaseMatches(const ValueToken& sw, const ValueToken& cv, CaseSense sense) {
    uint32_t swKind = TokenKind(sw), cvKind = TokenKind(cv);
    if (swKind == SymObject || cvKind == SymObject) {
        IObject* a = sw.symbol == SymVariable ? (sw.var->IsObject() ? sw.var->Object() : nullptr) : sw.object;
        IObject* b = cv.symbol == SymVariable ? (cv.var->IsObject() ? cv.var->Object() : nullptr) : cv.object;
        return swKind == cvKind && a == b;
    }
    if (TokenIsNumeric(sw) != NumericKind::None &&
        (TokenIsPureNumeric(sw) != NumericKind::None || TokenIsPureNumeric(cv) != NumericKind::None)) {
        ValueToken a, b;
        if (TokenToNumber(sw, a) && TokenToNumber(cv, b)) {
            if (a.symbol == SymInteger && b.symbol == SymInteger) return a.valueInt64 == b.valueInt64;
            double x = a.symbol == SymInteger ? static_cast<double>(a.valueInt64) : a.valueDouble;
            double y = b.symbol == SymInteger ? static_cast<double>(b.valueInt64) : b.valueDouble;
            return x == y;
        }
    }
    Char b1[kScratchChars], b2[kScratchChars];
    int32_t l1 = 0, l2 = 0;
    const Char* t1 = TokenToString(sw, b1, &l1);
    const Char* t2 = TokenToString(cv, b2, &l2);
    if (l1 < 0) l1 = static_cast<int32_t>(wcslen(t1));
    if (l2 < 0) l2 = static_cast<int32_t>(wcslen(t2));
    switch (sense) {
    case CaseSense::On:
        return l1 == l2 && memcmp(t1, t2, static_cast<size_t>(l1) * sizeof(Char)) == 0;
    case CaseSense::Off:
        return CompareFoldAZ(t1, static_cast<size_t>(l1), t2, static_cast<size_t>(l2)) == 0;
    case CaseSense::Locale:
        return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, t1, l1, t2, l2) == CSTR_EQUAL;
    }
    return false;
}

Status ExecSwitch(ScriptLine* line, CallResult* ret, ScriptLine** jump, ScriptLine** next) {
    *next = line->relatedLine;
    Char s1[kScratchChars], s2[kScratchChars];
    CallResult value(s1), sense(s2);
    const bool hasValue = line->argCount >= 1;
    CaseSense mode = CaseSense::On;
    if (hasValue) BRM_TRY(EvaluateExpr(*line, line->args[0], value));
    if (line->argCount >= 2) {
        BRM_TRY(EvaluateExpr(*line, line->args[1], sense));
        const Char* text = TokenToString(sense.value, sense.buffer);
        if (!wcscmp(text, L"1") || CompareFoldAZ(text, wcslen(text), L"On", 2) == 0) mode = CaseSense::On;
        else if (!wcscmp(text, L"0") || CompareFoldAZ(text, wcslen(text), L"Off", 3) == 0) mode = CaseSense::Off;
        else if (CompareFoldAZ(text, wcslen(text), L"Locale", 6) == 0) mode = CaseSense::Locale;
        else return RaiseMsg(ErrorClass::ValueError, Msg::Param2Invalid, text);
        if (TokenKind(value.value) == SymObject)
        {
            const Char* type = TokenTypeName(value.value);
            Char first = type[0] >= L'A' && type[0] <= L'Z' ? static_cast<Char>(type[0] + 32) : type[0];
            const Char* article = wcschr(L"aeiou", first) && first ? L"n" : L"";
            return RaiseFormatted(ErrorClass::TypeError, nullptr, Msg::TypeMismatch, L"", L"String", article, type);
        }
    }

    ScriptLine* body = line->nextLine;
    if (!body || body->action != LineAction::BlockBegin || body->parentLine != line) return Status::Ok;
    ScriptLine* selected = nullptr;
    ScriptLine* fallback = nullptr;
    for (ScriptLine* c = body->nextLine; c && c->action == LineAction::Case && !selected; c = c->relatedLine) {
        if (!c->argCount) {
            fallback = c;
            continue;
        }
        g_script.currentLine = c;
        for (int i = 0; i < c->argCount; ++i) {
            if (!hasValue) {
                bool truth = false;
                BRM_TRY(EvaluateCondition(*c, c->args[i], truth));
                if (truth) {
                    selected = c;
                    break;
                }
                continue;
            }
            Char s3[kScratchChars];
            CallResult cv(s3);
            BRM_TRY(EvaluateExpr(*c, c->args[i], cv));
            if (CaseMatches(value.value, cv.value, mode)) {
                selected = c;
                break;
            }
        }
    }
    if (!selected) selected = fallback;
    if (!selected) return Status::Ok;
    // The chosen Case is the line the switch went through; the lines view shows it like any other.
    if (g_thread->settings.listLines) RecordLine(selected, GetTickCount());
    return ExecUntil(selected->nextLine, ExecMode::UntilBlockEnd, ret, jump);
}

// Break, Continue or Goto whose target is written as an expression.
Status ComputedJumpTarget(ScriptLine* line, ScriptLine** target, bool* innermost) {
    Char scratch[kScratchChars];
    CallResult r(scratch);
    BRM_TRY(EvaluateExpr(*line, line->args[0], r));
    int32_t length = 0;
    const Char* text = TokenToString(r.value, r.buffer, &length);
    if (length < 0) length = static_cast<int32_t>(wcslen(text));
    if (line->action == LineAction::Goto)
        return ResolveGoto(line, text, static_cast<size_t>(length), JumpCheck::RunTime, target);
    int64_t levels = 0;
    Label* label = nullptr;
    if (TokenIsNumeric(r.value) == NumericKind::Integer) levels = TokenToInt64(r.value);
    else if (!(label = FindLabel(text, static_cast<size_t>(length), LabelScopeOf(line))))
        return RaiseMsg(ErrorClass::Error, Msg::LabelNotFound, text);
    int64_t level = 0;
    for (ScriptLine* p = line->parentLine; p; p = p->parentLine) {
        if (p->action == LineAction::Finally || (p->action == LineAction::BlockBegin && p->attribute)) break;
        if (!IsLoopAction(p->action)) continue;
        ++level;
        if (label ? label->line == p : level == levels) {
            *innermost = level == 1;
            if (line->action == LineAction::Continue) {
                *target = p;
            } else {
                ScriptLine* after = p->relatedLine;
                if (after && after->action == LineAction::Until && after->attribute == p) after = after->nextLine;
                *target = after;
            }
            return Status::Ok;
        }
    }
    return RaiseMsg(ErrorClass::ValueError, Msg::Param1Invalid, text);
}

}  // namespace

Status ExecUntil(ScriptLine* line, ExecMode mode, CallResult* ret, ScriptLine** jumpTo) {
    *jumpTo = nullptr;
    if (StackNearlyExhausted()) RecursionLimitExceeded();
    ScriptLine* const blockParent = line ? line->parentLine : nullptr;
    while (line) {
        if (line->action == LineAction::BlockBegin && line->attribute) {
            line = LineAfterFunctionBody(line);  // a function body runs only when called
            continue;
        }
        LineCheck();
        g_script.currentLine = line;
        if (g_thread->settings.listLines) RecordLine(line, GetTickCount());
        ScriptLine* next = line->nextLine;
        ScriptLine* jump = nullptr;
        Status st = Status::Ok;
        switch (line->action) {
        case LineAction::Assign:
            st = EvaluateAssign(*line);
            break;
        case LineAction::Expression:
            st = EvaluateForEffect(*line, line->args[0]);
            break;
        case LineAction::Static:
            // A static initialiser runs once; the line's attribute records that it has (a failed one runs
            // again at the next call).
            if (!line->attribute) {
                st = EvaluateForEffect(*line, line->args[0]);
                if (st == Status::Ok) line->attribute = line;
            }
            break;
        case LineAction::BlockBegin:
            // A function body runs only when the function is called.
            if (!line->attribute) st = ExecUntil(line->nextLine, ExecMode::UntilBlockEnd, ret, &jump);
            next = line->relatedLine;
            break;
        case LineAction::BlockEnd:
        case LineAction::Case:
            return Status::Ok;
        case LineAction::Exit:
            return Status::EarlyExit;
        case LineAction::If: {
            bool truth = false;
            st = EvaluateCondition(*line, line->args[0], truth);
            if (st != Status::Ok) break;
            ScriptLine* other = line->relatedLine;
            bool hasElse = other && other->action == LineAction::Else && other->attribute == line;
            if (truth && line->nextLine->action == LineAction::Return) {
                // `if cond` + `return x`: the Return ends this run whatever level runs it, so it runs here,
                // also when this If is itself the one line of a loop's or another If's body.
                line = line->nextLine;
                continue;
            }
            if (truth) {
                st = ExecUntil(line->nextLine, ExecMode::OneLine, ret, &jump);
                next = hasElse ? other->relatedLine : other;
            } else if (hasElse) {
                g_script.currentLine = other;
                st = ExecUntil(other->nextLine, ExecMode::OneLine, ret, &jump);
                next = other->relatedLine;
            } else {
                next = other;
            }
            break;
        }
        case LineAction::Else:
        case LineAction::Catch:
            // Reached by falling through (its statement completed): its body is skipped.
            next = line->relatedLine;
            break;
        case LineAction::Until:
        case LineAction::HotIf:
            break;
        case LineAction::Finally:
            st = ExecUntil(line->nextLine, ExecMode::OneLine, ret, &jump);
            next = line->relatedLine;
            break;
        case LineAction::Loop:
            st = ExecLoop(line, ret, &jump, &next);
            break;
        case LineAction::While:
            st = ExecWhile(line, ret, &jump, &next);
            break;
        case LineAction::LoopParse:
            st = ExecLoopParse(line, ret, &jump, &next);
            break;
        case LineAction::For:
            st = ExecFor(line, ret, &jump, &next);
            break;
        case LineAction::LoopFiles:
            st = ExecLoopFiles(line, ret, &jump, &next);
            break;
        case LineAction::LoopRead:
            st = ExecLoopRead(line, ret, &jump, &next);
            break;
        case LineAction::LoopReg:
            st = ExecLoopReg(line, ret, &jump, &next);
            break;
        case LineAction::Break:
        case LineAction::Continue:
        case LineAction::Goto: {
            ScriptLine* target = line->relatedLine;
            bool innermost = target == nullptr;
            if (line->argCount && line->args[0].isExpression) {
                st = ComputedJumpTarget(line, &target, &innermost);
                if (st != Status::Ok) break;
            }
            if (line->action == LineAction::Goto) {
                jump = target;
            } else if (line->action == LineAction::Continue) {
                st = Status::Continue;
                if (!innermost) jump = target;
            } else if (innermost) {
                st = Status::Break;
            } else {
                jump = target;
            }
            break;
        }
        case LineAction::Return:
            if (line->argCount && line->args[0].length && ret) {
                st = EvaluateExpr(*line, line->args[0], *ret);
                if (st != Status::Ok) break;
            }
            return mode == ExecMode::FunctionBody ? Status::Ok : Status::Return;
        case LineAction::Throw:
            st = ExecThrow(line);
            break;
        case LineAction::Try:
            st = ExecTry(line, ret, &jump, &next);
            break;
        case LineAction::Switch:
            st = ExecSwitch(line, ret, &jump, &next);
            next = line->relatedLine;
            break;
        case LineAction::Invalid:
            break;
        }
        if (st != Status::Ok) {
            *jumpTo = jump;
            return st;
        }
        if (jump) {
            if (jump->parentLine == blockParent) {
                line = jump;
                continue;
            }
            *jumpTo = jump;
            return Status::Ok;
        }
        if (mode == ExecMode::OneLine) return Status::Ok;
        line = next;
    }
    return Status::Ok;
}

Status RunAutoExecute() {
    ScriptLine* jump = nullptr;
    Status st = ExecUntil(g_script.firstLine, ExecMode::UntilBlockEnd, nullptr, &jump);
    g_script.currentLine = nullptr;
    ClearThrown(*g_thread);
    if (st == Status::Return || st == Status::Break || st == Status::Continue) st = Status::Ok;
    return st;
}

int64_t CurrentLoopIndex() { return g_thread->loop.index; }

const Char* CurrentLoopField(int32_t* length) {
    if (length) *length = g_thread->loop.fieldLength;
    return g_thread->loop.field;
}

}  // namespace brm
