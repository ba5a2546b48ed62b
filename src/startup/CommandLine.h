// The command line: switches, the script's name and its arguments.
#pragma once
#include <string>
#include <vector>
#include "expr/ValueToken.h"

namespace brm {

// The script's arguments as given (A_Args is built from them).
extern std::vector<std::wstring> g_scriptArgs;

// Fills the command-line fields of g_script and names the script. Fails silently (the caller exits with 2).
Status ParseCommandLine(int argc, wchar_t** argv);

// Computes the interpreter path, source kind, script names and main window title. Null means the default.
Status NameScript(const wchar_t* scriptName);

}  // namespace brm
