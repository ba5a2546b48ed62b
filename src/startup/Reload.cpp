// Reload: start the interpreter again on the same script with /restart, so the new instance closes
// this one once it has loaded successfully (a failed load leaves this instance running).
#include "startup/Reload.h"
#include <string>
#include "loader/SourceFiles.h"
#include "objects/MdFunc.h"
#include "startup/ScriptHost.h"
#include "system/Launch.h"

namespace brm {

namespace {

Status Restart(uint8_t flags, DWORD* error) {
    if (g_script.sourceKind == SourceKind::StdIn) return Status::Ok;  // nothing to read the script from again
    std::wstring params;
    if (g_script.hasExtraInclude) params = L"/include \"" + g_script.extraInclude + L"\" ";
    params += L"/restart /script \"" + std::wstring(SourceFileName(0)) + L"\"";
    LaunchRequest request{g_script.brmPath.c_str()};
    request.params = params.c_str();
    request.workingDir = g_script.initialWorkingDir.c_str();
    request.flags = flags;
    return LaunchProgram(request, nullptr, error);
}

}  // namespace

bool LaunchRestart(DWORD& error) { return Restart(0, &error) == Status::Ok; }

// Called by the script, a failed launch is raised as the launch operation reports it.
FResult BifReload() { return Restart(LaunchShowErrors, nullptr) == Status::Ok ? FrOk : FrFail; }

}  // namespace brm
