// The main window's class, creation, the messages that end the script, and the standard commands.
#include "startup/MainWindow.h"
#include <shellapi.h>
#include "base/Messages.h"
#include "runtime/MessageLoop.h"
#include "runtime/MessageMonitor.h"
#include "runtime/PseudoThread.h"
#include "startup/Exit.h"
#include "startup/MainViews.h"
#include "startup/Reload.h"
#include "startup/ScriptHost.h"
#include "startup/TrayIcon.h"
#include "startup/UserMenu.h"

namespace brm {

HWND g_mainWindow = nullptr;

namespace {

bool s_destroying = false;
UINT s_taskbarCreated = 0;  // the registered message the shell broadcasts when the taskbar is re-created

constexpr const wchar_t* kHelpFile = L"Brindlemar.chm";
constexpr const wchar_t* kInstallKey = L"SOFTWARE\\Brindlemar";
constexpr DWORD kMaxInstallDirBytes = MAX_PATH * sizeof(wchar_t) * 4;
constexpr size_t kMaxTitleChars = 1024;  // longer titles are compared by their first part only
constexpr size_t kMaxMessageChars = 600;

class RegistryKey {
public:
    RegistryKey(HKEY root, const wchar_t* path, REGSAM access) {
        if (RegOpenKeyExW(root, path, 0, access, &m_key) != ERROR_SUCCESS) m_key = nullptr;
    }
    ~RegistryKey() {
        if (m_key) RegCloseKey(m_key);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The installation folder recorded by the installer: per user first, then per machine; a 32-bit
// program reads the 32-bit view unless asked for the 64-bit one, so both views are tried.
std::wstring InstallDir() {
    const HKEY roots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
    const REGSAM views[] = {0, KEY_WOW64_64KEY};
    for (HKEY root : roots) {
        for (REGSAM view : views) {
            RegistryKey key(root, kInstallKey, KEY_QUERY_VALUE | view);
            if (!key.Get()) continue;
            std::wstring dir(kMaxInstallDirBytes / sizeof(wchar_t), L'\0');
            DWORD bytes = kMaxInstallDirBytes - sizeof(wchar_t), type = 0;
            if (RegQueryValueExW(key.Get(), L"InstallDir", nullptr, &type, reinterpret_cast<BYTE*>(dir.data()),
                                 &bytes) != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
                continue;
            dir.resize(wcsnlen(dir.c_str(), bytes / sizeof(wchar_t)));
            if (!dir.empty()) return dir;
        }
    }
    return {};
}

bool Launch(const wchar_t* verb, const wchar_t* file, const wchar_t* params, const wchar_t* dir) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = verb;
    info.lpFile = file;
    info.lpParameters = params;
    info.lpDirectory = dir && *dir ? dir : nullptr;
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info);
}

// A companion file lives beside the interpreter or in the installation folder; when it is in neither,
// the command does nothing visible, as on an installation without it.
void RunCompanion(const wchar_t* fileName) {
    std::wstring path = g_script.brmDir + L"\\" + fileName;
    if (!FileExists(path)) {
        std::wstring dir = InstallDir();
        if (dir.empty()) return;
        if (dir.back() != L'\\') dir += L'\\';
        path = dir + fileName;
        if (!FileExists(path)) return;
    }
    if (Launch(nullptr, path.c_str(), nullptr, g_script.brmDir.c_str())) return;
    wchar_t text[kMaxMessageChars];
    FormatMessageText(text, kMaxMessageChars, MessageText(Msg::CompanionLaunchFailed), fileName);
    MessageBoxW(nullptr, text, g_script.scriptName.c_str(), MB_ICONERROR);
}

struct EditorSearch {
    const wchar_t* needle;
    HWND found;
};

// Neither a dialog (the error dialog's title is the script's name) nor one of this interpreter's own
// main windows (whose titles carry the script's path) is an editor.
BOOL CALLBACK FindEditor(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<EditorSearch*>(param);
    if (!IsWindowVisible(hwnd)) return TRUE;
    wchar_t title[kMaxTitleChars];
    if (!GetWindowTextW(hwnd, title, kMaxTitleChars) || !wcsstr(title, search->needle)) return TRUE;
    wchar_t cls[64];
    if (!GetClassNameW(hwnd, cls, 64)) return TRUE;
    if (wcscmp(cls, L"#32770") == 0 || wcsncmp(cls, kMainWindowClass, wcslen(kMainWindowClass)) == 0) return TRUE;
    search->found = hwnd;
    return FALSE;
}

HWND FindEditorWindow(const wchar_t* needle) {
    EditorSearch search{needle, nullptr};
    if (*needle) EnumWindows(FindEditor, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void ReloadScript() {
    DWORD error;
    if (!LaunchRestart(error))
        MessageBoxW(nullptr, MessageText(Msg::ReloadFailed), g_script.scriptName.c_str(), MB_OK);
}

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (HaveMessageMonitors()) {
        // A message PumpMessages is dispatching was offered to the monitors already.
        if (g_thread->dispatching && g_thread->dispatchedMessage == msg) {
            g_thread->dispatching = false;
        } else {
            LRESULT answer = 0;
            if (OfferToMonitors(hwnd, msg, wParam, lParam, nullptr, &answer)) return answer;
        }
    }
    if (msg == s_taskbarCreated && msg) {
        HandleTaskbarCreated();
        return 0;
    }
    switch (msg) {
        case kTrayIconMessage:
            if (hwnd == g_mainWindow) HandleTrayMessage(lParam);
            return 0;
        case WM_COMMAND:
            if (hwnd == g_mainWindow && (RunMenuCommand(LOWORD(wParam)) || PostMenuItemCommand(LOWORD(wParam))))
                return 0;
            break;
        case kMenuItemMessage:
            // Retrieved by another message loop (a message box, a window being moved): run it now if the
            // running thread may be interrupted, else it is dropped, as a click on a busy script is.
            if (hwnd == g_mainWindow) {
                if (g_allowInterruption && !g_menuVisible && (!g_threadCount || IsInterruptible())) {
                    PostMessageW(hwnd, msg, wParam, lParam);
                    PumpMessages(-1, PumpMode::Nested);
                }
                return 0;
            }
            break;
        case WM_ENTERMENULOOP:
            if (!g_menuVisible) g_menuVisible = 2;
            break;
        case WM_EXITMENULOOP:
            g_menuVisible = 0;
            break;
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

void EditSourceFile(const std::wstring& fullPath) {
    if (fullPath.empty() || fullPath[0] == L'*') return;
    size_t slash = fullPath.find_last_of(L'\\');
    std::wstring dir = slash == std::wstring::npos ? std::wstring() : fullPath.substr(0, slash);
    const wchar_t* name = fullPath.c_str() + (slash == std::wstring::npos ? 0 : slash + 1);
    HWND editor = FindEditorWindow(fullPath.c_str());
    if (!editor) editor = FindEditorWindow(name);
    if (editor) {
        if (IsIconic(editor)) ShowWindow(editor, SW_RESTORE);
        SetForegroundWindow(editor);
        return;
    }
    std::wstring quoted = L"\"" + fullPath + L"\"";
    if (Launch(L"edit", fullPath.c_str(), nullptr, dir.c_str())) return;
    if (Launch(nullptr, L"notepad.exe", quoted.c_str(), dir.c_str())) return;
    MessageBoxW(nullptr, MessageText(Msg::EditScriptFailed), g_script.scriptName.c_str(), MB_OK);
}

bool RunMenuCommand(WORD id) {
    switch (id) {
        case kTrayHelp:
        case kMenuUserManual: RunCompanion(kHelpFile); return true;
        case kTrayReload:
        case kMenuReload: ReloadScript(); return true;
        case kTrayEditScript:
        case kMenuEditScript:
            if (g_script.sourceKind == SourceKind::File) EditSourceFile(g_script.scriptFullPath);
            return true;
        case kTrayExit:
        case kMenuExit: ExitWithReason(ExitReason::Menu, g_script.exitCode); return true;
        case kTrayOpen: ShowView(MainView::Last, true); return true;
        case kMenuViewLines:
        case kMenuViewVariables:
        case kMenuViewHotkeys:
        case kMenuViewKeyHistory: ShowView(static_cast<MainView>(id - kMenuViewLines + 1), true); return true;
        case kMenuRefresh: RefreshView(); return true;
    }
    return false;
}

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
    s_taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    CreateTrayMenu();
    CreateMainPane(g_mainWindow);
    CreateTrayIcon();
    return true;
}

void DestroyMainWindow() {
    if (!g_mainWindow) return;
    s_destroying = true;
    DestroyTrayIcon();
    DestroyWindow(g_mainWindow);
    g_mainWindow = nullptr;
}

}  // namespace brm
