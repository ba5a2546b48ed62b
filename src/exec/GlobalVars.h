// The script's global variables: one list sorted by name (A-to-Z fold), searched by binary search.
// Built-in functions and built-in variables become globals the first time a name refers to them.
#pragma once
#include <cstddef>
#include "expr/ValueToken.h"

namespace brm {

constexpr size_t kMaxVarNameLength = 253;  // longer names are never found; creating one is an error

enum class BuiltIns : bool { Skip, Materialise };

// The global of that name, or, unless skipped, a built-in function (as a constant) or an `A_` built-in
// variable (virtual) materialised as a global; null when there is none.
Var* FindGlobal(const Char* name, size_t length, BuiltIns builtIns = BuiltIns::Materialise);
// As FindGlobal, creating an unset global when not found. Null after reporting "Variable name too long."
// (at load time) or "Out of memory.".
Var* FindOrAddGlobal(const Char* name, size_t length);

// Reports "Variable name too long." with the name (not the rest of the line) as the extra text: a load
// error while the script loads, an error raised in the running thread afterwards.
Status ReportNameTooLong(const Char* name, size_t length);

size_t GlobalVarCount();
Var* GlobalVarAt(size_t index);  // in sorted order

// Releases every global's value (exit sequence): objects are released, buffers freed.
void FreeGlobals();

}  // namespace brm
