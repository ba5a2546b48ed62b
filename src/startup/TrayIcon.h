// The notification-area icon: its state icons, the script's custom icon, its tip and balloons, and the
// tray menu (A_TrayMenu) whose items the icon's clicks run.
#pragma once
#include <windows.h>
#include <cstdint>
#include "expr/ValueToken.h"

namespace brm {

class UserMenu;

// Id and callback message of the icon's notification data.
constexpr UINT kTrayIconId = 1028;
constexpr UINT kTrayIconMessage = WM_USER + 4;

// Group icon resources: the main icon and the icons that show the paused and suspended states.
constexpr WORD kIconNormal = 159;
constexpr WORD kIconSuspended = 206;
constexpr WORD kIconPaused = 207;
constexpr WORD kIconPausedSuspended = 208;

// Creates the tray menu with the standard items (step 3 of creating the main window); an embedded
// script's menu leaves out the items that need a script file.
void CreateTrayMenu();
UserMenu* TrayMenu();  // A_TrayMenu; null before the main window exists

// Adds the icon unless #NoTrayIcon (the last step of creating the main window).
void CreateTrayIcon();
// Removes the icon and releases the custom icons and the tray menu (termination).
void DestroyTrayIcon();
// Shows the icon for the current paused and suspended states; unless forced, nothing happens while the
// icon is frozen or when neither state changed since the last update.
void UpdateTrayIcon(bool forced);
// The icon's callback message (lParam the mouse message).
void HandleTrayMessage(LPARAM mouseMessage);
// The taskbar was re-created: the icon is added again unless hidden.
void HandleTaskbarCreated();
// A_AllowMainWindow changed: the tray menu gains or loses "&Open", the menu bar's views follow.
void AllowMainWindowChanged();

// The state icon at the tray's size (shared: never destroyed), and the icon the shell was last given;
// null when the shell has not shown one.
HICON TrayStateIcon(bool paused, bool suspended);
HICON ShownTrayIcon();

// A_IconHidden, A_IconTip, A_IconFile, A_IconNumber, A_TrayMenu.
Status GetIconHidden(CallResult& result, const Char* name);
Status SetIconHidden(const ValueToken& value, const Char* name);
Status GetIconTip(CallResult& result, const Char* name);
Status SetIconTip(const ValueToken& value, const Char* name);
Status GetIconFile(CallResult& result, const Char* name);
Status GetIconNumber(CallResult& result, const Char* name);
Status GetTrayMenu(CallResult& result, const Char* name);

}  // namespace brm
