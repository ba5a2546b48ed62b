// Script classes are initialised once, on first use: the static __Init (class variables, then nested
// classes) and a static __New run when the script first reads the class's name, or when execution reaches
// the class definition, whichever comes first.
#pragma once
#include "expr/ValueToken.h"

namespace brm {

class Object;
struct Var;

// Records a class defined by the script; holder is the global that names a top-level class (null for a
// nested class, whose getter initialises it).
bool RegisterUninitializedClass(Object* cls, Var* holder);
// Whether var names a class that has not initialised yet.
bool IsPendingClassHolder(const Var* var);
// After loading: the globals naming classes not yet initialised start initialising their class when read.
void ArmClassHolders();
// Runs the class's initialisation if it has not run yet (it is marked as done before it starts, so a class
// that refers to itself while initialising sees itself).
Status EnsureClassInitialized(Object* cls);

}  // namespace brm
