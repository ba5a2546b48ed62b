// PseudoThread: the record of one running script thread — its loop state and its thrown value.
// For now there is only the auto-execute thread; events will start further ones on the same record type.
#pragma once
#include <cstdint>
#include "exec/ErrorReport.h"
#include "exec/Raise.h"
#include "expr/ValueToken.h"

namespace brm {

// Classes a thrown value can be tested against until script classes exist: the error classes in
// their hierarchy plus the primitive types and `Any`.
enum class ThrowClass : uint8_t {
    Any, Object, Primitive, String, Number, Integer, Float,
    Error, MemoryError, OSError, TargetError, TimeoutError, TypeError, UnsetError, MemberError,
    PropertyError, MethodError, UnsetItemError, ValueError, IndexError, ZeroDivisionError,
    Count
};

ThrowClass ThrowClassOf(ErrorClass cls);
// The class name lookup used by Catch lists (A-to-Z fold); false when the name is not a class.
bool FindThrowClass(const Char* name, size_t length, ThrowClass& out);
const Char* ThrowClassName(ThrowClass cls);
// True when `cls` is `base` or derives from it.
bool ThrowClassDerives(ThrowClass cls, ThrowClass base);

// The value a `Throw` or a raised error left in the thread. A string value owns its text.
struct ThrownValue {
    ValueToken value;     // String (text owned below), Integer, Float or Object (one reference owned)
    Char* ownedText;      // malloc'd text of a String value
    ThrowClass cls;       // the class the value belongs to (an error's class, or the primitive's type)
    Char* extra;          // malloc'd extra text of a raised error, or null
    uint16_t fileIndex;   // where it was raised
    int32_t lineNumber;

    bool IsError() const { return ThrowClassDerives(cls, ThrowClass::Error); }
};

// Takes ownership of nothing; copies text, adds a reference to an object. Null when memory runs out.
ThrownValue* NewThrownValue(const ValueToken& value);
// Takes over the caller's reference to an Error object of the given class. Null when memory runs out.
ThrownValue* NewThrownObject(IObject* error, ThrowClass cls);
ThrownValue* NewThrownError(ErrorClass cls, const Char* message, const Char* extra);
void FreeThrownValue(ThrownValue* v);

// Error-mode flags of a thread.
enum ThreadErrorMode : uint8_t {
    ErrorModeCaughtHere = 0x02,  // inside a Try that has a Catch: errors are thrown, not shown
    ErrorModeInDelete = 0x04,
    ErrorModeInCatch = 0x10,     // inside a Catch body: Throw without a value re-throws
};

struct LoopFileItem;
struct LoopReadItem;
struct LoopRegItem;

// The per-thread loop state that A_Index and the A_Loop... variables read. Saved and restored around
// each loop, so that an outer loop's values reappear after an inner loop.
struct LoopState {
    int64_t index = 0;          // A_Index
    const Char* field = L"";    // A_LoopField
    int32_t fieldLength = 0;
    const LoopFileItem* file = nullptr;
    LoopReadItem* read = nullptr;
    const LoopRegItem* reg = nullptr;
};

// The settings a thread starts with and a script changes through the setting functions and the A_ variables
// that show them. Keystroke sending is absent, so the key and mouse delays, send mode and level, caps-lock
// mode and mouse speed are kept and shown but nothing consumes them.
struct ThreadSettings {
    uint32_t checkInterval = 5;  // ms between looks at the message queue; 16 while critical or uninterruptible
    int32_t titleMatchMode = 2;  // 1, 2, 3 or 4 (RegEx)
    int32_t winDelay = 100;
    int32_t controlDelay = 20;
    int32_t keyDelay = 10;
    int32_t keyDelayPlay = -1;
    int32_t keyDuration = -1;
    int32_t keyDurationPlay = -1;
    int32_t mouseDelay = 10;
    int32_t mouseDelayPlay = -1;
    int32_t regView = 0;          // 0 the default view, or the system's 64-bit or 32-bit view flag
    int32_t sendMode = 1;         // SendMode below
    uint32_t fileEncoding = 0;    // an encoding value (system/Encoding.h); 0 the ANSI code page
    uint16_t coordModes = 0;      // two bits per target (CoordTarget): 0 Client, 1 Window, 2 Screen
    bool titleMatchFast = true;
    bool detectHiddenWindows = false;
    bool detectHiddenText = true;
    bool storeCapsLockMode = true;
    uint8_t defaultMouseSpeed = 2;
    uint8_t sendLevel = 0;
    bool listLines = true;
    bool timersAllowed = true;  // Thread "NoTimers"
    bool critical = false;      // Critical
};

enum SendMode : int32_t { SendModeEvent = 0, SendModeInput = 1, SendModePlay = 2, SendModeInputThenPlay = 3 };
// Bit positions of the coordinate mode of each target in ThreadSettings::coordModes.
enum CoordTarget : int { CoordPixel = 0, CoordMouse = 2, CoordToolTip = 4, CoordCaret = 6, CoordMenu = 8 };

struct ScriptTimer;

struct PseudoThread {
    LoopState loop;
    ThrownValue* thrown = nullptr;
    ScriptTimer* launchingTimer = nullptr;  // the timer that started this thread
    uint8_t errorMode = 0;
    uint32_t eventInfo = 0;  // A_EventInfo
    uint32_t lastError = 0;  // A_LastError
    int32_t priority = 0;
    int32_t uninterruptedLines = 0;    // lines run while uninterruptible
    int32_t uninterruptibleTime = 0;   // ms the thread stays uninterruptible after it starts; -1 until it ends
    uint32_t startTick = 0;
    uint32_t dispatchedMessage = 0;  // the message PumpMessages last handed to DispatchMessageW
    bool dispatching = false;        // ... and already offered to the message monitors
    bool paused = false;
    bool interruptible = true;
    ThreadSettings settings;
};

// The running thread. Never null: record 0 of the thread stack is the auto-execute section's, and after that
// section ends the idle state whose settings every new thread copies.
extern PseudoThread* g_thread;
extern int32_t g_threadCount;       // running pseudo-threads (the auto-execute section counts while it runs)
extern bool g_allowInterruption;    // cleared while the exit sequence runs
extern int32_t g_interruptTime;     // Thread "Interrupt": ms a new thread stays uninterruptible
extern int32_t g_interruptLines;    // ... and the lines it may run meanwhile
extern uint32_t g_lastCheckTick;    // when the queue was last looked at
// Lines left before LineCheck reads the clock again: reading it costs more than a short line itself.
extern int32_t g_linesUntilClock;
constexpr int32_t kLinesPerClockRead = 16;
extern int32_t g_pausedThreads;
// 1 while the program shows a popup menu itself, 2 inside a window's own menu loop (WM_ENTERMENULOOP to
// WM_EXITMENULOOP): nothing is interrupted meanwhile, so a chosen item runs after the menu closes.
extern uint8_t g_menuVisible;

// The thread stack's spare record beyond #MaxThreads lets the exit callbacks run with every record in use.
int32_t MaxThreads();
PseudoThread& DefaultThread();  // record 0

// The auto-execute section counts as a running thread; it starts uninterruptible for 100 ms. When it ends
// any event may interrupt the idle state.
void BeginAutoExecuteThread();
void EndAutoExecuteThread();

// Pushes a new record: settings copied from record 0, per-thread fields cleared, the thread uninterruptible
// for its first moments as Thread "Interrupt" says.
void StartPseudoThread(int32_t priority);
// Re-initialises the current record for another callback of the same launch.
void ResetPseudoThread(int32_t priority);
// Between two callbacks of one list: settings copied from record 0, per-thread fields cleared, interruptible.
void ResetForNextCallback();
// Pops the current record; the interrupted thread continues untouched. When the last thread ends and the
// script is not resident, the script exits.
void EndPseudoThread();
bool IsInterruptible();
// The thread the current one interrupted; null in record 0.
PseudoThread* InterruptedThread();

// Reports a thrown value that nothing will catch (the error report of the line that raised it, or of the
// current line), then leaves it in the thread so that the thread ends. For a continuable error the user
// may choose Continue: the result is then true, and the caller releases the value and goes on.
bool ReportUnhandled(ThrownValue* v, ErrorKind kind = ErrorKind::Error);

// Releases the thread's thrown value, if any (the thread is ending).
void ClearThrown(PseudoThread& thread);

}  // namespace brm
