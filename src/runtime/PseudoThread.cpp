// The thread record and the thrown-value mechanics Throw, Try and Catch rely on.
#include "runtime/PseudoThread.h"
#include "runtime/CallbackList.h"
#include <cstdlib>
#include <cstring>
#include "exec/ErrorReport.h"
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "loader/ScriptLine.h"
#include "loader/SourceFiles.h"
#include "objects/BuiltInFunctions.h"
#include "objects/ErrorObjects.h"
#include "objects/IObject.h"
#include "objects/Object.h"
#include "loader/Directives.h"
#include "objects/Func.h"
#include "runtime/MessageLoop.h"
#include "startup/Exit.h"
#include "startup/MainWindow.h"
#include "startup/ScriptHost.h"
#include "startup/TrayIcon.h"
#include <windows.h>

namespace brm {

namespace {

// Record 0, the #MaxThreads limit (at most 255), and one spare record for the exit callbacks.
constexpr int kThreadStackSize = 255 + 2;
PseudoThread s_threads[kThreadStackSize];

// What the interrupted thread was doing, restored when the thread on top of it ends.
struct InterruptedState {
    ScriptLine* line;
    UserFunc* func;
};
InterruptedState s_interrupted[kThreadStackSize];

constexpr int32_t kAutoExecuteUninterruptibleMs = 100;

}  // namespace

PseudoThread* g_thread = &s_threads[0];
int32_t g_threadCount = 0;
bool g_allowInterruption = true;
int32_t g_interruptTime = 17;
int32_t g_interruptLines = 1000;
uint32_t g_lastCheckTick = 0;
int32_t g_linesUntilClock = 0;
int32_t g_pausedThreads = 0;
uint8_t g_menuVisible = 0;

int32_t MaxThreads() { return g_directives.maxThreads; }

PseudoThread& DefaultThread() { return s_threads[0]; }

void BeginAutoExecuteThread() {
    PseudoThread& t = s_threads[0];
    g_threadCount = 1;
    t.interruptible = false;
    t.uninterruptibleTime = kAutoExecuteUninterruptibleMs;
    t.startTick = GetTickCount();
    t.uninterruptedLines = 0;
    g_lastCheckTick = t.startTick;
    if (g_mainWindow) SetTimer(g_mainWindow, kInterruptCheckTimerId, kInterruptCheckPeriodMs, nullptr);
}

void EndAutoExecuteThread() {
    PseudoThread& t = s_threads[0];
    g_threadCount = 0;
    t.priority = INT32_MIN;  // any event may now start a thread
    t.interruptible = true;
    t.uninterruptibleTime = 0;
}

static void InitRecord(PseudoThread& t, int32_t priority) {
    ClearThrown(t);
    t = PseudoThread{};
    t.settings = s_threads[0].settings;
    t.priority = priority;
    if ((g_interruptTime && g_interruptLines) || t.settings.critical) {
        t.settings.checkInterval = 16;
        t.interruptible = false;
        if (!t.settings.critical) {
            t.uninterruptibleTime = g_interruptTime < 0 ? -1 : g_interruptTime;
            t.startTick = GetTickCount();
        } else {
            t.uninterruptibleTime = -1;
        }
    }
}

void StartPseudoThread(int32_t priority) {
    int depth = static_cast<int>(g_thread - s_threads);
    s_interrupted[depth] = {g_script.currentLine, g_runningFunc};
    ++g_threadCount;
    // Record 0 belongs to the auto-execute section: a thread launched while it runs, or from the idle state,
    // takes the next record either way.
    g_thread = &s_threads[depth + 1 < kThreadStackSize ? depth + 1 : depth];
    InitRecord(*g_thread, priority);
    g_runningFunc = nullptr;
    UpdateTrayIcon(false);  // the icon shows whether the running thread is paused
}

void ResetPseudoThread(int32_t priority) {
    InitRecord(*g_thread, priority);
    g_runningFunc = nullptr;
}

void ResetForNextCallback() {
    ClearThrown(*g_thread);
    *g_thread = PseudoThread{};
    g_thread->settings = s_threads[0].settings;
    g_runningFunc = nullptr;
}

void EndPseudoThread() {
    ClearThrown(*g_thread);
    if (g_thread->paused) {
        g_thread->paused = false;
        --g_pausedThreads;
    }
    if (g_thread > s_threads) --g_thread;
    --g_threadCount;
    int depth = static_cast<int>(g_thread - s_threads);
    g_script.currentLine = s_interrupted[depth].line;
    g_runningFunc = s_interrupted[depth].func;
    UpdateTrayIcon(false);
    if (g_threadCount <= 0) {
        g_threadCount = 0;
        if (!g_script.exitInProgress && !IsPersistent()) ExitWithReason(ExitReason::Exit, g_script.exitCode);
        g_script.exitCode = 0;
    }
}

PseudoThread* InterruptedThread() { return g_thread > s_threads ? g_thread - 1 : nullptr; }

bool IsInterruptible() {
    if (!g_allowInterruption || g_menuVisible) return false;
    if (!g_threadCount) return true;
    PseudoThread& t = *g_thread;
    if (!t.interruptible && t.uninterruptibleTime != -1 &&
        GetTickCount() - t.startTick >= static_cast<uint32_t>(t.uninterruptibleTime) && t.uninterruptedLines) {
        t.interruptible = true;
        if (!t.settings.critical) t.settings.checkInterval = 5;
    }
    return t.interruptible;
}

namespace {

struct ThrowClassRow {
    const Char* name;
    ThrowClass parent;
};

// Indexed by ThrowClass; Any is its own root.
constexpr ThrowClassRow kThrowClasses[] = {
    {L"Any", ThrowClass::Any},
    {L"Object", ThrowClass::Any},
    {L"Primitive", ThrowClass::Any},
    {L"String", ThrowClass::Primitive},
    {L"Number", ThrowClass::Primitive},
    {L"Integer", ThrowClass::Number},
    {L"Float", ThrowClass::Number},
    {L"Error", ThrowClass::Object},
    {L"MemoryError", ThrowClass::Error},
    {L"OSError", ThrowClass::Error},
    {L"TargetError", ThrowClass::Error},
    {L"TimeoutError", ThrowClass::Error},
    {L"TypeError", ThrowClass::Error},
    {L"UnsetError", ThrowClass::Error},
    {L"MemberError", ThrowClass::UnsetError},
    {L"PropertyError", ThrowClass::MemberError},
    {L"MethodError", ThrowClass::MemberError},
    {L"UnsetItemError", ThrowClass::UnsetError},
    {L"ValueError", ThrowClass::Error},
    {L"IndexError", ThrowClass::ValueError},
    {L"ZeroDivisionError", ThrowClass::Error},
};
static_assert(sizeof(kThrowClasses) / sizeof(kThrowClasses[0]) == static_cast<size_t>(ThrowClass::Count));

Char* DupText(const Char* text, size_t length) {
    Char* copy = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
    if (!copy) return nullptr;
    memcpy(copy, text, length * sizeof(Char));
    copy[length] = 0;
    return copy;
}

}  // namespace

ThrowClass ThrowClassOf(ErrorClass cls) {
    return static_cast<ThrowClass>(static_cast<int>(ThrowClass::Error) + static_cast<int>(cls));
}

bool FindThrowClass(const Char* name, size_t length, ThrowClass& out) {
    for (size_t i = 0; i < static_cast<size_t>(ThrowClass::Count); ++i) {
        const Char* n = kThrowClasses[i].name;
        if (CompareFoldAZ(name, length, n, wcslen(n)) == 0) {
            out = static_cast<ThrowClass>(i);
            return true;
        }
    }
    return false;
}

const Char* ThrowClassName(ThrowClass cls) { return kThrowClasses[static_cast<int>(cls)].name; }

bool ThrowClassDerives(ThrowClass cls, ThrowClass base) {
    for (;;) {
        if (cls == base) return true;
        if (cls == ThrowClass::Any) return false;
        cls = kThrowClasses[static_cast<int>(cls)].parent;
    }
}

static ClassId ClassIdOfThrowClass(ThrowClass cls) {
    return ClassIdOf(static_cast<ErrorClass>(static_cast<int>(cls) - static_cast<int>(ThrowClass::Error)));
}

// The most derived built-in class in an object's base chain, so that Catch lists naming built-in classes
// match instances of script subclasses too.
static ThrowClass ClassifyObject(IObject* obj) {
    for (IObject* b = obj->GetBase(); b; b = b->GetBase()) {
        for (int i = static_cast<int>(ThrowClass::Count) - 1; i >= static_cast<int>(ThrowClass::Error); --i) {
            Object* proto = BuiltInPrototype(ClassIdOfThrowClass(static_cast<ThrowClass>(i)));
            if (proto && proto == b) return static_cast<ThrowClass>(i);
        }
    }
    return ThrowClass::Object;
}

static ThrownValue* AllocThrown() {
    auto* v = static_cast<ThrownValue*>(calloc(1, sizeof(ThrownValue)));
    if (!v) return nullptr;
    if (g_script.currentLine) {
        v->fileIndex = g_script.currentLine->fileIndex;
        v->lineNumber = g_script.currentLine->lineNumber;
    }
    return v;
}

ThrownValue* NewThrownValue(const ValueToken& value) {
    ThrownValue* v = AllocThrown();
    if (!v) return nullptr;
    switch (TokenKind(value)) {
    case SymInteger:
        v->value.SetInteger(TokenToInt64(value));
        v->cls = ThrowClass::Integer;
        break;
    case SymFloat:
        v->value.SetFloat(TokenToDouble(value));
        v->cls = ThrowClass::Float;
        break;
    case SymObject: {
        IObject* obj = value.symbol == SymObject ? value.object : value.symbol == SymVariable ? value.var->Object() : nullptr;
        if (obj) {
            obj->AddRef();
            v->value.SetObject(obj);
            v->cls = ClassifyObject(obj);
            break;
        }
        [[fallthrough]];
    }
    default: {
        Char scratch[kScratchChars];
        int32_t length = 0;
        const Char* text = TokenToString(value, scratch, &length);
        if (length < 0) length = static_cast<int32_t>(wcslen(text));
        v->ownedText = DupText(text, static_cast<size_t>(length));
        if (!v->ownedText) {
            free(v);
            return nullptr;
        }
        v->value.SetString(v->ownedText, length);
        v->cls = ThrowClass::String;
        break;
    }
    }
    return v;
}

ThrownValue* NewThrownObject(IObject* error, ThrowClass cls) {
    ThrownValue* v = AllocThrown();
    if (!v) {
        error->Release();
        return nullptr;
    }
    v->value.SetObject(error);
    v->cls = cls;
    return v;
}

ThrownValue* NewThrownError(ErrorClass cls, const Char* message, const Char* extra) {
    ThrownValue* v = AllocThrown();
    if (!v) return nullptr;
    size_t length = message ? wcslen(message) : 0;
    v->ownedText = DupText(message ? message : L"", length);
    if (extra && *extra) v->extra = DupText(extra, wcslen(extra));
    if (!v->ownedText) {
        free(v->extra);
        free(v);
        return nullptr;
    }
    v->value.SetString(v->ownedText, static_cast<int32_t>(length));
    v->cls = ThrowClassOf(cls);
    return v;
}

void FreeThrownValue(ThrownValue* v) {
    if (!v) return;
    if (v->value.symbol == SymObject && v->value.object) v->value.object->Release();
    free(v->ownedText);
    free(v->extra);
    free(v);
}

bool ReportUnhandled(ThrownValue* v, ErrorKind kind) {
    // OnError callbacks see the value first; one that answers decides instead of the dialog.
    if (!g_onError.Empty() && !g_onErrorRunning && kind != ErrorKind::Warning) {
        ValueToken mode;
        mode.SetString(kind == ErrorKind::Continuable ? L"Return" : kind == ErrorKind::Critical ? L"ExitApp" : L"Exit");
        ValueToken* params[] = {&v->value, &mode};
        int64_t answer = 0;
        bool failed = false;
        g_onErrorRunning = true;
        // The callbacks run in this thread, each after the first on a fresh record; the thread's own record
        // (its A_Index, loop items and settings) comes back afterwards, so a thread that continues after the
        // error goes on where it was. The pending value is set aside, so nothing the callbacks do frees it.
        PseudoThread saved = *g_thread;
        UserFunc* savedFunc = g_runningFunc;
        g_thread->thrown = nullptr;
        g_thread->errorMode = 0;
        bool answered = g_onError.CallInOrder(params, 2, &answer, &failed, ResetForNextCallback);
        ClearThrown(*g_thread);
        *g_thread = saved;
        g_runningFunc = savedFunc;
        g_onErrorRunning = false;
        if (answered) return !failed && answer < 0 && kind == ErrorKind::Continuable;
    }
    Char scratch[kScratchChars];
    const Char* message;
    const Char* extra = v->extra;
    const Char* file = SourceFileName(v->fileIndex);
    int32_t line = v->lineNumber;
    ErrorFields fields;
    if (v->value.symbol == SymObject && ReadErrorFields(v->value.object, fields)) {
        message = fields.message;
        extra = fields.extra;
        // The error's own File and Line name the line to show, when that is a line of the script.
        if (*fields.file && FindScriptLine(fields.file, fields.line)) {
            file = fields.file;
            line = fields.line;
        }
    } else {
        message = TokenToString(v->value, scratch);
    }
    if (!*message) message = MessageText(Msg::UnhandledException);
    return ReportError(kind, file, line, message, extra) == ErrorChoice::Continue;
}

void ClearThrown(PseudoThread& thread) {
    FreeThrownValue(thread.thrown);
    thread.thrown = nullptr;
}

}  // namespace brm
