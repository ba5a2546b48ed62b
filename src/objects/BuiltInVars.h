// The table of built-in variables (names without the "A_" prefix), sorted in A-to-Z-folded order. A virtual
// Var points at its row; reading calls the getter, assigning the setter.
#pragma once
#include <cstddef>
#include "expr/ValueToken.h"
#include "expr/Var.h"

namespace brm {

// A row: the name and the descriptor a virtual Var points at (getter and setter shapes are in expr/Var.h;
// both receive the name as written in the script, so one getter may serve several variables).
struct BuiltInVarDef {
    const Char* name;  // without "A_"
    BuiltInVarDesc desc;
};

// Binary search (A-to-Z fold) by the name without its prefix; null when there is none.
const BuiltInVarDef* FindBuiltInVar(const Char* nameWithoutPrefix, size_t length);
bool BuiltInVarTableIsSorted();

// The process-wide limits on hotkey bursts, shown and changed through their A_ variables.
struct HotkeyLimits {
    int32_t maxPerInterval = 70;  // presses allowed within one interval before the script asks to go on
    int32_t interval = 2000;      // milliseconds
    int32_t modifierTimeout = 50;  // kept and shown only: no keyboard hook uses it in this build
};
extern HotkeyLimits g_hotkeyLimits;

// Settings that a built-in variable and a function both change, parsed and applied alike by both.
constexpr int32_t kRegView64 = 0x100, kRegView32 = 0x200;  // the view bits registry calls combine with access
bool ParseCoordMode(const Char* text, int& mode);           // "Client" 0, "Window" 1, "Screen" 2 (any case)
const Char* CoordModeName(int mode);
void SetCoordModeBits(int shift, int mode);                 // shift: a CoordTarget of runtime/PseudoThread.h
bool ApplyTitleMatchWord(const Char* text);                 // "1" "2" "3" "RegEx" set the mode; "Fast" "Slow" the speed
bool ParseRegView(const Char* text, int32_t& view);         // "Default" (any case), exactly "32" or "64"
const Char* RegViewName(int32_t view);
void StoreRegView(int32_t view);

}  // namespace brm
