// The hidden main window: how other instances find this one, and the target of its private messages.
#pragma once
#include <windows.h>

namespace brm {

constexpr const wchar_t* kMainWindowClass = L"Brindlemar";
constexpr WPARAM kReloadRequest = 1030;   // WM_COMMNOTIFY from a newer instance started with /restart
constexpr WPARAM kReplaceRequest = 1031;  // WM_COMMNOTIFY from a newer instance under #SingleInstance

extern HWND g_mainWindow;

// Registers the class and creates the hidden window titled with the main window title. Shows the
// failing step ("RegClass" or "CreateWindow") in a message box and returns false on failure.
bool CreateMainWindow();
void DestroyMainWindow();

}  // namespace brm
