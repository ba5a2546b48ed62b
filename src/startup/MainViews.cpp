// The main window's text pane and its views.
#include "startup/MainViews.h"

namespace brm {

namespace {
HWND s_pane = nullptr;
}

bool CreateMainPane(HWND) { return true; }
HWND MainPane() { return s_pane; }
void ShowView(MainView, bool) {}
void RefreshView() {}

}  // namespace brm
