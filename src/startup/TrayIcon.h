// The notification-area icon: its state icons, the script's custom icon, its tip and balloons, and the
// tray menu (A_TrayMenu) whose items the icon's clicks run.
#pragma once
#include <windows.h>

namespace brm {

class UserMenu;

// Id and callback message of the icon's notification data.
constexpr UINT kTrayIconId = 1028;
constexpr UINT kTrayIconMessage = WM_USER + 4;

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

}  // namespace brm
