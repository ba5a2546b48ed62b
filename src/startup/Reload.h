// The restart command line, launched by the built-in Reload and by the standard Reload command.
#pragma once
#include <windows.h>

namespace brm {

// Starts the interpreter again on this script with /restart; the new instance closes this one once it
// has loaded. A script read from standard input cannot be read again: nothing starts, and that counts
// as success. On failure returns false with the launch's system error code in `error`.
bool LaunchRestart(DWORD& error);

}  // namespace brm
