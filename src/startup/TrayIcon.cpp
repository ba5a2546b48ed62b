// The notification-area icon and the tray menu.
#include "startup/TrayIcon.h"
#include "startup/UserMenu.h"

namespace brm {

void CreateTrayMenu() {}
UserMenu* TrayMenu() { return nullptr; }
void CreateTrayIcon() {}
void DestroyTrayIcon() {}
void UpdateTrayIcon(bool) {}
void HandleTrayMessage(LPARAM) {}
void HandleTaskbarCreated() {}

}  // namespace brm
