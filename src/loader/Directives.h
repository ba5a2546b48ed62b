// Directives: lines beginning with "#" that configure the script while it loads, and the settings
// they store. A setting read later overrides an earlier one.
#pragma once
#include <cstdint>
#include "expr/ValueToken.h"

namespace brm {

class ScriptReader;

enum class WarnMode : uint8_t { Off = 0, OutputDebug = 1, MsgBox = 2, StdOut = 3 };

struct DirectiveSettings {
    bool noTrayIcon = false;
    int32_t hotIfTimeout = 1000;       // ms
    int32_t maxThreadsPerHotkey = 1;
    bool maxThreadsBuffer = false;
    int32_t maxThreads = 10;           // total pseudo-threads
    bool suspendExempt = false;        // for the hotkeys that follow
    bool winActivateForce = false;
    WarnMode warnLocalSameAsGlobal = WarnMode::Off;
    WarnMode warnUnreachable = WarnMode::MsgBox;
    WarnMode warnVarUnset = WarnMode::MsgBox;
};

extern DirectiveSettings g_directives;

enum class DirectiveResult : uint8_t { Handled, NotDirective, Failed };

// The reader's current line begins with "#".
DirectiveResult HandleDirective(ScriptReader& reader);

// Shows a warning in the given mode: nothing for Off and OutputDebug (no debugger output in this
// build), "Warning: " lines on standard output for StdOut, the warning dialog for MsgBox.
void EmitWarning(WarnMode mode, uint16_t fileIndex, int32_t lineNumber, const Char* message,
                 const Char* extra = nullptr);

}  // namespace brm
