// The exit sequence: exit reasons, the exit code, and the final clean-up.
#pragma once
#include <cstdint>

namespace brm {

enum class ExitReason : int {
    Critical = -2, Destroy = -1, None = 0, Error = 1, Logoff = 2, Shutdown = 3, Close = 4, Menu = 5,
    Exit = 6, Reload = 7, Single = 8,
};

const wchar_t* ExitReasonText(ExitReason reason);

// Runs the exit sequence; returns only when an OnExit callback cancelled the exit.
void ExitWithReason(ExitReason reason, int32_t exitCode);

// ExitApp: the code is stored, then the exit sequence runs with reason "Exit".
void ExitApp(int32_t exitCode);

// Ends the process after clean-up, without running script code.
[[noreturn]] void Terminate(ExitReason reason, int32_t exitCode);

}  // namespace brm
