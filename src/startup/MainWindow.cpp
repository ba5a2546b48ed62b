// The main window's class, creation and the messages that end the script.
#include "startup/MainWindow.h"
#include "startup/Exit.h"
#include "startup/ScriptHost.h"

namespace brm {

HWND g_mainWindow = nullptr;

namespace {

bool s_destroying = false;

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_COMMNOTIFY:
            if (wParam == kReloadRequest) {
                ExitWithReason(ExitReason::Reload, g_script.exitCode);
                return 0;
            }
            if (wParam == kReplaceRequest) {
                ExitWithReason(ExitReason::Single, g_script.exitCode);
                return 0;
            }
            break;
        case WM_CLOSE:
            if (hwnd == g_mainWindow) {
                ExitWithReason(ExitReason::Close, g_script.exitCode);
                return 0;
            }
            break;
        case WM_ENDSESSION:
            if (wParam) ExitWithReason(lParam < 0 ? ExitReason::Logoff : ExitReason::Shutdown, g_script.exitCode);
            return 0;
        case WM_DESTROY:
            if (hwnd == g_mainWindow && !s_destroying) {
                g_mainWindow = nullptr;
                ExitWithReason(ExitReason::Destroy, g_script.exitCode);
            }
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

bool CreateMainWindow() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kMainWindowClass;
    if (!RegisterClassExW(&wc)) {
        MessageBoxW(nullptr, L"RegClass", g_script.scriptName.c_str(), MB_ICONERROR);
        return false;
    }
    g_mainWindow = CreateWindowExW(0, kMainWindowClass, g_script.mainWindowTitle.c_str(), WS_OVERLAPPEDWINDOW,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                   instance, nullptr);
    if (!g_mainWindow) {
        MessageBoxW(nullptr, L"CreateWindow", g_script.scriptName.c_str(), MB_ICONERROR);
        return false;
    }
    return true;
}

void DestroyMainWindow() {
    if (!g_mainWindow) return;
    s_destroying = true;
    DestroyWindow(g_mainWindow);
    g_mainWindow = nullptr;
}

}  // namespace brm
