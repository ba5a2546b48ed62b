// The hidden main window: how other instances find this one, the target of its private messages, and
// the standard menu commands that the tray menu, the menu bar and the error dialog share.
#pragma once
#include <windows.h>
#include <string>

namespace brm {

constexpr const wchar_t* kMainWindowClass = L"Brindlemar";
constexpr WPARAM kReloadRequest = 1030;   // WM_COMMNOTIFY from a newer instance started with /restart
constexpr WPARAM kReplaceRequest = 1031;  // WM_COMMNOTIFY from a newer instance under #SingleInstance

// Standard command ids: the tray menu's items and their menu-bar twins run the same command.
enum MenuCommandId : WORD {
    kTrayOpen = 65300,
    kTrayHelp = 65301,
    kTrayFramePeek = 65302,
    kTrayReload = 65303,
    kTrayEditScript = 65304,
    kTraySuspend = 65305,
    kTrayPause = 65306,
    kTrayExit = 65307,
    kMenuReload = 65400,
    kMenuEditScript = 65401,
    kMenuFramePeek = 65402,
    kMenuPause = 65403,
    kMenuSuspend = 65404,
    kMenuExit = 65405,
    kMenuViewLines = 65406,
    kMenuViewVariables = 65407,
    kMenuViewHotkeys = 65408,
    kMenuViewKeyHistory = 65409,
    kMenuRefresh = 65410,
    kMenuUserManual = 65411,
    kMenuWebSite = 65412,
};

extern HWND g_mainWindow;
// Suspend Hotkeys: shown by the tray icon and the menus' check marks.
extern bool g_suspended;

// Registers the class and creates the hidden window titled with the main window title. Shows the
// failing step ("RegClass" or "CreateWindow") in a message box and returns false on failure.
bool CreateMainWindow();
void DestroyMainWindow();

// The menu bar's keys (Ctrl+R, F5 ...) for a message addressed to the main window or its pane; true when
// the message became a command.
bool TranslateMainWindowKeys(MSG& msg);

// Runs a standard command as WM_COMMAND on the main window would; callable before the window exists
// (the error dialog of a load error). Returns false for an id that is not handled here.
bool RunMenuCommand(WORD id);

// Edit Script for one source file: activates an editor window already showing it, else opens it with
// the "edit" verb or Notepad. Names of embedded or standard-input sources (starting "*") do nothing.
void EditSourceFile(const std::wstring& fullPath);

}  // namespace brm
