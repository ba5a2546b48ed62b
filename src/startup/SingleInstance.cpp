// Instances find each other by the main window's class and title (which carries the script's full path).
#include "startup/SingleInstance.h"
#include "base/Messages.h"
#include "startup/MainWindow.h"
#include "startup/ScriptHost.h"

namespace brm {

namespace {

constexpr DWORD kPollMs = 20;
constexpr int kPollsBeforeAsking = 100;  // about two seconds
constexpr DWORD kSettleMs = 100;          // let the old instance finish its exit

InstanceDecision AskToClose(HWND other, WPARAM request) {
    PostMessageW(other, WM_COMMNOTIFY, request, 0);
    for (int polls = 0; IsWindow(other);) {
        Sleep(kPollMs);
        if (++polls >= kPollsBeforeAsking && IsWindow(other)) {
            if (MessageBoxW(nullptr, MessageText(Msg::KeepWaiting), g_script.scriptName.c_str(),
                            MB_YESNO | MB_ICONQUESTION) == IDNO)
                return InstanceDecision::QuitFailed;
            polls = 0;
        }
    }
    Sleep(kSettleMs);
    return InstanceDecision::Proceed;
}

}  // namespace

InstanceDecision EnforceSingleInstance() {
    if (g_script.restart) {
        HWND other = FindWindowW(kMainWindowClass, g_script.mainWindowTitle.c_str());
        return other ? AskToClose(other, kReloadRequest) : InstanceDecision::Proceed;
    }
    if (g_script.singleInstance == SingleInstanceMode::Off || g_script.force) return InstanceDecision::Proceed;
    HWND other = FindWindowW(kMainWindowClass, g_script.mainWindowTitle.c_str());
    if (!other) return InstanceDecision::Proceed;
    switch (g_script.singleInstance) {
        case SingleInstanceMode::Ignore: return InstanceDecision::QuitQuietly;
        case SingleInstanceMode::Force: return AskToClose(other, kReplaceRequest);
        default:
            if (MessageBoxW(nullptr, MessageText(Msg::ReplacePrompt), g_script.scriptName.c_str(),
                            MB_YESNO | MB_ICONQUESTION) == IDNO)
                return InstanceDecision::QuitQuietly;
            return AskToClose(other, kReplaceRequest);
    }
}

}  // namespace brm
