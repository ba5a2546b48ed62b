// The main window's class, creation, the messages that end the script, and the standard commands.
#include "startup/MainWindow.h"
#include <shellapi.h>
#include "exec/GlobalVars.h"
#include "objects/MdFunc.h"
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
bool g_suspended = false;

namespace {

bool s_destroying = false;
bool s_startedAsToolWindow = false;  // cleared from the extended style the first time the window shows
HACCEL s_accelerators = nullptr;     // resource 212: the menu bar's keys (owned by the module)
UINT s_taskbarCreated = 0;  // the registered message the shell broadcasts when the taskbar is re-created

constexpr const wchar_t* kHelpFile = L"Brindlemar.chm";
constexpr const wchar_t* kFramePeekFile = L"Framepeek.brm";
constexpr const wchar_t* kWebSite = L"https://brindlemar.org/";
constexpr WORD kMainIconId = 159;
constexpr WORD kMenuBarId = 211;
constexpr WORD kAcceleratorsId = 212;
constexpr UINT kWindowTitleRequest = 1048;  // copy the title of window lParam into the buffer wParam
constexpr int kTitleRequestChars = 100;
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
void RunCompanion(const wchar_t* fileName, bool throughInterpreter) {
    std::wstring path = g_script.brmDir + L"\\" + fileName;
    if (!FileExists(path)) {
        std::wstring dir = InstallDir();
        if (dir.empty()) return;
        if (dir.back() != L'\\') dir += L'\\';
        path = dir + fileName;
        if (!FileExists(path)) return;
    }
    bool launched;
    if (throughInterpreter) {
        std::wstring params = L"/script \"" + path + L"\"";
        launched = Launch(nullptr, g_script.brmPath.c_str(), params.c_str(), g_script.brmDir.c_str());
    } else {
        launched = Launch(nullptr, path.c_str(), nullptr, g_script.brmDir.c_str());
    }
    if (launched) return;
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

void OpenWebSite() {
    if (Launch(L"open", kWebSite, nullptr, nullptr)) return;
    wchar_t text[kMaxMessageChars];
    FormatMessageText(text, kMaxMessageChars, MessageText(Msg::WebSiteFailed), kWebSite);
    MessageBoxW(nullptr, text, g_script.scriptName.c_str(), MB_OK);
}

// Pause Script from a menu pauses or resumes the thread that was running when the command arrived; the
// idle state paused keeps timers from running.
void TogglePause() {
    PseudoThread& t = *g_thread;
    t.paused = !t.paused;
    g_pausedThreads += t.paused ? 1 : -1;
    UpdateTrayIcon(false);
}

void ToggleSuspend() {
    g_suspended = !g_suspended;
    if (HMENU bar = g_mainWindow ? GetMenu(g_mainWindow) : nullptr)
        CheckMenuItem(bar, kMenuSuspend, MF_BYCOMMAND | (g_suspended ? MF_CHECKED : MF_UNCHECKED));
    UpdateTrayIcon(false);
}

// Hiding the main window of a script that has nothing else to wait for ends it.
void MainWindowHidden() {
    if (g_script.running && !g_threadCount && !g_script.exitInProgress && !IsPersistent())
        ExitWithReason(ExitReason::Close, g_script.exitCode);
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
            if (hwnd == g_mainWindow)
                if (HMENU bar = GetMenu(hwnd))
                    CheckMenuItem(bar, kMenuPause, MF_BYCOMMAND | (g_thread->paused ? MF_CHECKED : MF_UNCHECKED));
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
        case WM_SIZE:
            if (hwnd != g_mainWindow) break;
            if (wParam == SIZE_MINIMIZED) ShowWindow(hwnd, SW_HIDE);
            else if (HWND pane = MainPane()) MoveWindow(pane, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            return 0;
        case WM_SETFOCUS:
            if (hwnd == g_mainWindow && MainPane()) {
                SetFocus(MainPane());
                return 0;
            }
            break;
        case WM_SHOWWINDOW:
            // A window made while nothing had the foreground stays out of the taskbar until first shown.
            if (hwnd == g_mainWindow && wParam && s_startedAsToolWindow) {
                s_startedAsToolWindow = false;
                SetWindowLongPtrW(hwnd, GWL_EXSTYLE, GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & ~WS_EX_TOOLWINDOW);
            }
            break;
        case WM_WINDOWPOSCHANGED:
            if (hwnd == g_mainWindow && (reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_HIDEWINDOW))
                MainWindowHidden();
            break;
        case WM_SYSCOMMAND:
            if (hwnd == g_mainWindow && ((wParam & 0xFFF0) == SC_MINIMIZE || (wParam & 0xFFF0) == SC_CLOSE)) {
                ShowWindow(hwnd, SW_HIDE);
                return 0;
            }
            break;
        case kWindowTitleRequest:
            if (wParam) {
                auto* buffer = reinterpret_cast<wchar_t*>(wParam);
                if (!GetWindowTextW(reinterpret_cast<HWND>(lParam), buffer, kTitleRequestChars)) *buffer = 0;
            }
            return 0;
        case WM_ENDSESSION:
            if (wParam)
                ExitWithReason((lParam & ENDSESSION_LOGOFF) ? ExitReason::Logoff : ExitReason::Shutdown,
                               g_script.exitCode);
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

FResult BifEdit() {
    if (g_script.sourceKind == SourceKind::File) EditSourceFile(g_script.scriptFullPath);
    return FrOk;
}

bool RunMenuCommand(WORD id) {
    switch (id) {
        case kTrayHelp:
        case kMenuUserManual: RunCompanion(kHelpFile, false); return true;
        case kTrayFramePeek:
        case kMenuFramePeek: RunCompanion(kFramePeekFile, true); return true;
        case kTraySuspend:
        case kMenuSuspend: ToggleSuspend(); return true;
        case kTrayPause:
        case kMenuPause: TogglePause(); return true;
        case kMenuWebSite: OpenWebSite(); return true;
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
    wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kMainIconId), IMAGE_ICON, 0, 0, LR_SHARED));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kMainIconId), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszMenuName = MAKEINTRESOURCEW(kMenuBarId);
    wc.lpszClassName = kMainWindowClass;
    if (!RegisterClassExW(&wc)) {
        MessageBoxW(nullptr, L"RegClass", g_script.scriptName.c_str(), MB_ICONERROR);
        return false;
    }
    RECT work{0, 0, 800, 600};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    int workWidth = work.right - work.left, workHeight = work.bottom - work.top;
    int width = workHeight < workWidth * 3 / 4 ? workHeight : workWidth * 3 / 4;
    // With nothing in the foreground (or only the taskbar) the window would be activated when it is made.
    HWND foreground = GetForegroundWindow();
    wchar_t foregroundClass[32] = L"";
    if (foreground) GetClassNameW(foreground, foregroundClass, 32);
    s_startedAsToolWindow = !foreground || wcscmp(foregroundClass, L"Shell_TrayWnd") == 0;
    g_mainWindow = CreateWindowExW(s_startedAsToolWindow ? WS_EX_TOOLWINDOW : 0, kMainWindowClass,
                                   g_script.mainWindowTitle.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                   width, workHeight * 3 / 4, nullptr, nullptr, instance, nullptr);
    if (!g_mainWindow) {
        MessageBoxW(nullptr, L"CreateWindow", g_script.scriptName.c_str(), MB_ICONERROR);
        return false;
    }
    s_taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    CreateTrayMenu();
    if (g_script.sourceKind == SourceKind::Resource)
        if (HMENU bar = GetMenu(g_mainWindow)) {
            EnableMenuItem(bar, kMenuEditScript, MF_BYCOMMAND | MF_GRAYED);
            if (!g_script.allowMainWindow)
                for (UINT id = kMenuViewLines; id <= kMenuViewKeyHistory; ++id)
                    EnableMenuItem(bar, id, MF_BYCOMMAND | MF_GRAYED);
        }
    CreateMainPane(g_mainWindow);
    ShowWindow(g_mainWindow, SW_HIDE);
    s_accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(kAcceleratorsId));
    CreateTrayIcon();
    return true;
}

bool TranslateMainWindowKeys(MSG& msg) {
    if (!s_accelerators || !g_mainWindow || (msg.hwnd != g_mainWindow && GetParent(msg.hwnd) != g_mainWindow))
        return false;
    return TranslateAcceleratorW(g_mainWindow, s_accelerators, &msg) != 0;
}

void DestroyMainWindow() {
    if (!g_mainWindow) return;
    s_destroying = true;
    // The window goes first: a newer instance replacing this one waits for it to vanish, and removing the
    // icon can take the shell a while. The icon is still named by the window's handle and its id.
    DestroyWindow(g_mainWindow);
    DestroyTrayIcon();
    g_mainWindow = nullptr;
}

}  // namespace brm
