// Values captured once before the entry point runs; read everywhere, never changed.
#pragma once
#include <cstdint>

namespace brm {

struct ProcessInfo {
    uint32_t mainThreadId;
    int screenDpi;  // LOGPIXELSX of the screen: the scale for pixel sizes
    wchar_t osVersion[32];  // A_OSVersion, "%u.%u.%u"
    bool isWinXP, isWin2003, isWinVista, isWin7, isWin8, isWin81;
    bool isWinVistaOrLater, isWin7OrLater;
    uint32_t startTick;
    uint32_t ansiCodePage;  // stands in wherever code page 0 is given
};

extern const ProcessInfo g_process;

}  // namespace brm
