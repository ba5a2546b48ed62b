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

}  // namespace brm
