// The global script record and the process-wide values captured before the entry point runs.
#include "startup/ScriptHost.h"
#include "startup/ProcessInfo.h"

namespace brm {

ScriptHost g_script;

namespace {

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);

ProcessInfo CaptureProcessInfo() {
    ProcessInfo info{};
    info.mainThreadId = GetCurrentThreadId();
    if (HDC screen = GetDC(nullptr)) {
        info.screenDpi = GetDeviceCaps(screen, LOGPIXELSX);
        ReleaseDC(nullptr, screen);
    }
    OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof(v);
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    if (!rtlGetVersion || rtlGetVersion(&v) != 0) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        GetVersionExW(&v);
#pragma GCC diagnostic pop
    }
    swprintf(info.osVersion, 32, L"%u.%u.%u", static_cast<unsigned>(v.dwMajorVersion),
             static_cast<unsigned>(v.dwMinorVersion), static_cast<unsigned>(v.dwBuildNumber));
    const DWORD major = v.dwMajorVersion, minor = v.dwMinorVersion;
    info.isWinXP = major == 5 && minor == 1;
    info.isWin2003 = major == 5 && minor == 2;
    info.isWinVista = major == 6 && minor == 0;
    info.isWin7 = major == 6 && minor == 1;
    info.isWin8 = major == 6 && minor == 2;
    info.isWin81 = major == 6 && minor == 3;
    info.isWinVistaOrLater = major >= 6;
    info.isWin7OrLater = major > 6 || (major == 6 && minor >= 1);
    info.startTick = GetTickCount();
    info.ansiCodePage = GetACP();
    return info;
}

}  // namespace

const ProcessInfo g_process = CaptureProcessInfo();

}  // namespace brm
