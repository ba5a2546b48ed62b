// The program's entry point: start-up in order, then the auto-execute section, then resident or exit.
#include <windows.h>
#include "startup/Startup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return brm::RunProgram(__argc, __wargv); }
