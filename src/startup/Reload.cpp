// Reload: start the interpreter again on the same script with /restart, so the new instance closes
// this one once it has loaded successfully (a failed load leaves this instance running).
#include "startup/Reload.h"
#include <shellapi.h>
#include <string>
#include "exec/Raise.h"
#include "loader/SourceFiles.h"
#include "objects/MdFunc.h"
#include "startup/ScriptHost.h"

namespace brm {

bool LaunchRestart(DWORD& error) {
    error = 0;
    if (g_script.sourceKind == SourceKind::StdIn) return true;  // nothing to read the script from again
    std::wstring params;
    if (g_script.hasExtraInclude) params = L"/include \"" + g_script.extraInclude + L"\" ";
    params += L"/restart /script \"" + std::wstring(SourceFileName(0)) + L"\"";
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpFile = g_script.brmPath.c_str();
    info.lpParameters = params.c_str();
    info.lpDirectory = g_script.initialWorkingDir.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info)) return true;
    error = GetLastError();
    return false;
}

FResult BifReload() {
    DWORD error;
    if (LaunchRestart(error)) return FrOk;
    // A code the Win32 facility cannot hold goes as it is (it has the form of an HRESULT).
    return error > 0xFFFF ? FResult{static_cast<int32_t>(error)} : FrWin32(error ? error : ERROR_GEN_FAILURE);
}

}  // namespace brm
