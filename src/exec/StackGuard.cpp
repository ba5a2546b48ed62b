// The stack floor and the recursion-limit critical error.
#include "exec/StackGuard.h"
#include <windows.h>
#include "exec/ErrorReport.h"
#include "exec/Raise.h"
#include "loader/ScriptLine.h"
#include "startup/ScriptHost.h"

namespace brm {

uintptr_t g_stackFloor = 0;

namespace {
// Kept free below the floor: the error dialog (a rich edit control and its window procedures) and the
// exit sequence run on what is left.
constexpr uintptr_t kStackReserveBytes = 256 * 1024;
}  // namespace

void InitStackGuard() {
    MEMORY_BASIC_INFORMATION info{};
    if (!VirtualQuery(&info, &info, sizeof(info))) return;
    g_stackFloor = reinterpret_cast<uintptr_t>(info.AllocationBase) + kStackReserveBytes;
}

void RecursionLimitExceeded() {
    g_stackFloor = 0;  // the report itself must not trip the guard again
    (void)CriticalError(Msg::RecursionLimit);
    ExitProcess(2);  // not reached: a critical error ends the program
}

}  // namespace brm
