// Loading a script: the main file, the embedded prelude, the /include file, #Include and library includes.
#pragma once
#include "expr/ValueToken.h"

namespace brm {

enum class LoadResult : uint8_t { Failed, Loaded, ValidatedOnly };

// Runs every loading phase for the script named by g_script (start-up names it first).
LoadResult LoadScript();

// #Include and #IncludeAgain (again = duplicates allowed). argument is the directive's raw argument.
Status IncludeDirective(const Char* argument, bool again);

}  // namespace brm
