// The launch operation, through which the program starts other programs and opens documents, and the
// functions built on it: Run, RunWait and RunAs.
#pragma once
#include <windows.h>

#include <cstdint>
#include "expr/ValueToken.h"
#include "objects/MdFunc.h"

namespace brm {

enum LaunchFlags : uint8_t {
    LaunchShowErrors = 1,    // failures are raised as continuable errors; otherwise they only fail
    LaunchSetLastError = 2,  // A_LastError becomes 0 or the system's code
    LaunchAllowRunAs = 4,    // the credentials RunAs stored apply
};

struct LaunchRequest {
    const Char* target;            // program, document or command line; "" launches nothing
    const Char* params = nullptr;  // given apart from the target (internal callers); null for Run and RunWait
    const Char* workingDir = nullptr;
    const Char* options = nullptr;  // "Max", "Min" or "Hide"
    uint8_t flags = 0;
};

// Ok when the program was launched (or nothing was to be launched, or the user chose to continue after a
// shown error); Fail otherwise. With `process`, the new process's handle (null when the shell opened the
// item without starting a process) goes to the caller, who closes it. `error` receives the system's code
// of a failed launch, also when the user continued from it (it is 0 only when nothing failed).
Status LaunchProgram(const LaunchRequest& request, HANDLE* process = nullptr, DWORD* error = nullptr);

FResult BifRun(const Char* target, Opt<const Char*> workingDir, Opt<const Char*> options, Out<ValueRet> pid);
void BifRunAs(Opt<const Char*> user, Opt<const Char*> password, Opt<const Char*> domain);
// RunWait is a classic built-in: Target, [WorkingDir, Options, &OutputVarPID].
Status BifRunWait(CallResult& result, ValueToken** params, int count);

}  // namespace brm
