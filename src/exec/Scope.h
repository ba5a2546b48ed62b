// Variable scopes: which Var a name stands for inside a function or at the top level. Names are resolved
// while the script loads; only dynamic references (%expr%) look names up while it runs.
#pragma once
#include <cstddef>
#include <cstdint>
#include "expr/ValueToken.h"
#include "loader/ScriptLine.h"

namespace brm {

class UserFunc;
struct Var;

// The function whose body encloses line (null at the top level). A function's own "{" belongs to the
// scope around it.
UserFunc* FuncOfLine(const ScriptLine* line);
// The function whose body is open at the load position, or null.
UserFunc* LoadingFunc();

// The scope in which the load-time passes resolve names; set per line before its arguments are compiled.
void SetBindScope(UserFunc* func);
UserFunc* BindScope();

enum class VarUse : int { Read, Write };
// The variable a name written in the bind scope stands for, created when there is none (a local inside a
// function, a global at the top level). Null after reporting the load error.
Var* FindOrAddVar(const Char* name, size_t length, VarUse use);

// Creates a variable in func's scope (a parameter, local or static by the scope bits) and lists it.
// Null after reporting "Out of memory." or "Variable name too long.".
Var* AddFuncVar(UserFunc* func, const Char* name, size_t length, uint8_t scope);

enum class DeclKind : uint8_t { Global, Local, Static };
// `global`, `local` or `static` alone: the default scope of the function being loaded.
Status DeclareDefaultScope(DeclKind kind, const Char* lineText);
// One name of a declaration, in the function being loaded (or at the top level for `global`).
Status DeclareVar(DeclKind kind, const Char* name, size_t length);

// Run time: the variable a dynamic reference names in the running function's scope. For a read, null when
// there is none; for a write, the local is created unless only a global exists (*globalOnly set). Null
// with *notInClosure set when the name is a local of an enclosing function that this one did not capture
// when it was loaded: a closure keeps only the variables it named.
// raised: creating the variable failed with its own error (a name too long or not valid), already raised.
Var* FindVarRunTime(const Char* name, size_t length, bool write, bool* globalOnly, bool* notInClosure = nullptr,
                    bool* raised = nullptr);

}  // namespace brm
