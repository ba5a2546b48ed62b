// The main window's text pane and its four views: the lines most recently executed, the variables, the
// hotkeys, and the key history with the script's state.
#pragma once
#include <windows.h>

namespace brm {

struct Line;

enum class MainView : int { Last = 0, Lines = 1, Variables = 2, Hotkeys = 3, KeyHistory = 4 };

// The read-only edit control that fills the main window's client area (created with the window).
bool CreateMainPane(HWND mainWindow);
HWND MainPane();

// Shows a view in the pane and brings the main window to the front. From a menu nothing happens while
// A_AllowMainWindow is false (except refreshing a view already shown).
void ShowView(MainView view, bool fromMenu);
// Rebuilds the view shown last (F5).
void RefreshView();

}  // namespace brm
