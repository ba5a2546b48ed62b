// Where things are on the screen: the mouse and what lies under it, the caret, the monitors and the
// system metrics; BlockInput; the script's tooltips.
#include <windows.h>
#include <commctrl.h>
#include <cmath>
#include <cwchar>
#include "base/SortedTable.h"
#include "runtime/PseudoThread.h"
#include "system/ScreenFunctions.h"

namespace brm {

namespace {

// The origin that positions of a coordinate target are reported from (CoordTarget bit position).
POINT Origin(int shift) {
    POINT origin{0, 0};
    const int mode = (g_thread->settings.coordModes >> shift) & 3;
    if (mode == 2)
        return origin;
    HWND f = GetForegroundWindow();
    if (!f || IsIconic(f))
        return origin;
    if (mode == 1) {
        RECT r;
        if (GetWindowRect(f, &r))
            origin = {r.left, r.top};
    } else {
        ClientToScreen(f, &origin);
    }
    return origin;
}

HWND TopLevelOf(HWND w) {
    while (w && (GetWindowLongW(w, GWL_STYLE) & WS_CHILD))
        w = GetParent(w);
    return w;
}

struct PointSearch {
    POINT screen;
    HWND best = nullptr;
    RECT bestRect{};
};

bool Inside(const RECT& a, const RECT& b) {
    return a.left >= b.left && a.right <= b.right && a.top >= b.top && a.bottom <= b.bottom;
}

// The same choice of overlapping controls as ControlClick's positions: the innermost, else the nearest centre.
BOOL CALLBACK NearestChild(HWND child, LPARAM param) {
    auto& s = *reinterpret_cast<PointSearch*>(param);
    if (!IsWindowVisible(child))
        return TRUE;
    RECT r;
    if (!GetWindowRect(child, &r) || !PtInRect(&r, s.screen))
        return TRUE;
    auto distance = [&](const RECT& q) {
        double dx = (q.left + q.right) / 2.0 - s.screen.x, dy = (q.top + q.bottom) / 2.0 - s.screen.y;
        return std::sqrt(dx * dx + dy * dy);
    };
    if (!s.best || Inside(r, s.bestRect) || (distance(r) < distance(s.bestRect) && !Inside(s.bestRect, r))) {
        s.best = child;
        s.bestRect = r;
    }
    return TRUE;
}

struct MonitorList {
    int wanted;  // 0: the primary
    int count = 0;
    int found = 0;
    int primary = 0;
    MONITORINFOEXW info{};
};

BOOL CALLBACK ListMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM param) {
    auto& list = *reinterpret_cast<MonitorList*>(param);
    MONITORINFOEXW info{};
    info.cbSize = sizeof(info);
    if (!GetMonitorInfoW(monitor, &info))
        return TRUE;
    ++list.count;
    if ((info.dwFlags & MONITORINFOF_PRIMARY) && !list.primary)
        list.primary = list.count;
    if (!list.found && (list.wanted == list.count || (!list.wanted && (info.dwFlags & MONITORINFOF_PRIMARY)))) {
        list.found = list.count;
        list.info = info;
    }
    return TRUE;
}

FResult FindMonitor(const Opt<int32_t>& n, MonitorList& list) {
    list.wanted = n ? *n : 0;
    if (list.wanted < 0)
        return FrParam(0);
    EnumDisplayMonitors(nullptr, nullptr, ListMonitor, reinterpret_cast<LPARAM>(&list));
    if (!list.count)
        return FrWin32(GetLastError() ? GetLastError() : ERROR_NOT_FOUND);
    if (!list.found)
        return FrParam(0);
    return FrOk;
}

FResult MonitorRect(bool work, Opt<int32_t> n, Out<int32_t> left, Out<int32_t> top, Out<int32_t> right,
                    Out<int32_t> bottom, ValueRet ret) {
    MonitorList list;
    if (FResult fr = FindMonitor(n, list); fr.code)
        return fr;
    const RECT& r = work ? list.info.rcWork : list.info.rcMonitor;
    *left.ptr = r.left;
    *top.ptr = r.top;
    *right.ptr = r.right;
    *bottom.ptr = r.bottom;
    ret.result->value.SetInteger(list.found);
    return FrOk;
}

constexpr int kToolTipCount = 20;
constexpr int kCursorOffset = 16;  // an omitted tooltip coordinate: this far right of and below the cursor
HWND s_toolTips[kToolTipCount];

}  // namespace

FResult BifMouseGetPos(Out<ValueRet> x, Out<ValueRet> y, Out<ValueRet> win, Out<ValueRet> control, Opt<int32_t> flag) {
    POINT pt;
    if (!GetCursorPos(&pt))
        return FrWin32(0);
    POINT origin = Origin(CoordMouse);
    x.ptr->result->value.SetInteger(pt.x - origin.x);
    y.ptr->result->value.SetInteger(pt.y - origin.y);
    HWND under = WindowFromPoint(pt);
    if (!under)
        return FrOk;
    HWND top = TopLevelOf(under);
    win.ptr->result->value.SetInteger(static_cast<int64_t>(reinterpret_cast<uintptr_t>(top)));
    const int flags = flag ? *flag : 0;
    HWND child = under;
    if (!(flags & 1)) {
        PointSearch s{pt};
        EnumChildWindows(top, NearestChild, reinterpret_cast<LPARAM>(&s));
        if (s.best)
            child = s.best;
    }
    if (child == top)
        return FrOk;
    if (flags & 2) {
        control.ptr->result->value.SetInteger(static_cast<int64_t>(reinterpret_cast<uintptr_t>(child)));
        return FrOk;
    }
    Char name[300];
    if (ControlClassNN(child, name, 300))
        return StrRet{control.ptr->result}.Set(name, wcslen(name)) ? FrOk : FrOutOfMemory;
    return FrOk;
}

FResult BifCaretGetPos(Out<ValueRet> x, Out<ValueRet> y, ValueRet ret) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    HWND f = GetForegroundWindow();
    ret.result->value.SetInteger(0);
    if (!f || !GetGUIThreadInfo(GetWindowThreadProcessId(f, nullptr), &info) || !info.hwndCaret)
        return FrOk;
    POINT pt{info.rcCaret.left, info.rcCaret.top};
    ClientToScreen(info.hwndCaret, &pt);
    POINT origin = Origin(CoordCaret);
    x.ptr->result->value.SetInteger(pt.x - origin.x);
    y.ptr->result->value.SetInteger(pt.y - origin.y);
    ret.result->value.SetInteger(1);
    return FrOk;
}

FResult BifMonitorGetCount(ValueRet ret) {
    MonitorList list;
    list.wanted = -1;
    EnumDisplayMonitors(nullptr, nullptr, ListMonitor, reinterpret_cast<LPARAM>(&list));
    ret.result->value.SetInteger(list.count);
    return FrOk;
}

FResult BifMonitorGetPrimary(ValueRet ret) {
    MonitorList list;
    list.wanted = -1;
    EnumDisplayMonitors(nullptr, nullptr, ListMonitor, reinterpret_cast<LPARAM>(&list));
    if (!list.count)
        return FrWin32(ERROR_NOT_FOUND);
    ret.result->value.SetInteger(list.primary ? list.primary : 1);
    return FrOk;
}

FResult BifMonitorGet(Opt<int32_t> n, Out<int32_t> left, Out<int32_t> top, Out<int32_t> right, Out<int32_t> bottom,
                      ValueRet ret) {
    return MonitorRect(false, n, left, top, right, bottom, ret);
}

FResult BifMonitorGetWorkArea(Opt<int32_t> n, Out<int32_t> left, Out<int32_t> top, Out<int32_t> right,
                              Out<int32_t> bottom, ValueRet ret) {
    return MonitorRect(true, n, left, top, right, bottom, ret);
}

FResult BifMonitorGetName(Opt<int32_t> n, StrRet ret) {
    MonitorList list;
    if (FResult fr = FindMonitor(n, list); fr.code)
        return fr;
    return ret.Set(list.info.szDevice, wcslen(list.info.szDevice)) ? FrOk : FrOutOfMemory;
}

int32_t BifSysGet(int32_t index) { return GetSystemMetrics(index); }

FResult BifBlockInput(const Char* mode) {
    auto is = [&](const Char* word) { return CompareFoldAZ(mode, word) == 0; };
    if (is(L"On") || is(L"1"))
        return BlockInput(TRUE) ? FrOk : FrWin32(0);
    if (is(L"Off") || is(L"0"))
    {
        // Unblocking input that was never blocked is refused by the system, and is no failure here.
        BlockInput(FALSE);
        return FrOk;
    }
    // The modes that work through keystroke sending or hooks, both absent from this build.
    if (is(L"Send") || is(L"Mouse") || is(L"SendAndMouse") || is(L"Default") || is(L"MouseMoveOff"))
        return FrOk;
    return FrParam(0);
}

FResult BifToolTip(Opt<const Char*> text, Opt<int32_t> x, Opt<int32_t> y, Opt<int32_t> number, ValueRet ret) {
    const int n = number ? *number : 1;
    if (n < 1 || n > kToolTipCount)
        return FrParam(3);
    HWND& tip = s_toolTips[n - 1];
    if (tip && !IsWindow(tip))
        tip = nullptr;
    if (!text || !**text) {
        if (tip)
            DestroyWindow(tip);
        tip = nullptr;
        return FrOk;
    }
    POINT cursor{0, 0};
    GetCursorPos(&cursor);
    POINT origin = Origin(CoordToolTip);
    POINT at{x ? *x + origin.x : cursor.x + kCursorOffset, y ? *y + origin.y : cursor.y + kCursorOffset};
    TTTOOLINFOW info{};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.uFlags = TTF_TRACK | TTF_ABSOLUTE;
    info.lpszText = const_cast<Char*>(*text);
    const bool created = !tip;
    if (created) {
        tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
        if (!tip)
            return FrWin32(0);
        SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    } else {
        SendMessageW(tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
    }
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(MonitorFromPoint(at, MONITOR_DEFAULTTONEAREST), &monitor))
        work = monitor.rcWork;
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen)
        ReleaseDC(nullptr, screen);
    SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, MulDiv(work.right - work.left, 96, dpi > 0 ? dpi : 96));
    SendMessageW(tip, TTM_TRACKPOSITION, 0, MAKELPARAM(at.x, at.y));
    SendMessageW(tip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&info));
    // Kept inside the work area; one placed by the mouse never covers the cursor.
    RECT r;
    if (GetWindowRect(tip, &r)) {
        const int w = r.right - r.left, h = r.bottom - r.top;
        POINT fit = at;
        if (fit.x + w > work.right) fit.x = work.right - w;
        if (fit.y + h > work.bottom) fit.y = work.bottom - h;
        if (!x && !y && fit.x <= cursor.x && cursor.x < fit.x + w && fit.y <= cursor.y && cursor.y < fit.y + h) {
            fit.x = cursor.x - w - 3;
            fit.y = cursor.y - h - 3;
        }
        if (fit.x != at.x || fit.y != at.y)
            SendMessageW(tip, TTM_TRACKPOSITION, 0, MAKELPARAM(fit.x, fit.y));
    }
    ret.result->value.SetInteger(static_cast<int64_t>(reinterpret_cast<uintptr_t>(tip)));
    return FrOk;
}

}  // namespace brm
