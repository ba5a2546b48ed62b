// The Win functions: finding, waiting for, activating, showing, closing, moving and reading other windows.
#include <windows.h>
#include <cwchar>
#include <string>
#include "loader/Directives.h"
#include "objects/Array.h"
#include "runtime/LineHistory.h"
#include "runtime/MessageLoop.h"
#include "startup/ScriptHost.h"
#include "system/WinFunctions.h"
#include "system/WindowSearch.h"

namespace brm {

namespace {

const HWND kBroadcast = reinterpret_cast<HWND>(0xFFFF);  // HWND_BROADCAST
constexpr DWORD kHungTimeoutMs = 5000;
constexpr UINT kKillAskMs = 500;           // how long WinKill lets a window answer WM_CLOSE before ending it
constexpr int32_t kDefaultCloseWaitMs = 20;
constexpr int32_t kMaxRegionPoints = 2000;
constexpr int kMaxControlClasses = 500;
constexpr int kMaxPerClass = 99999;

int64_t HandleValue(HWND hwnd) { return static_cast<int64_t>(reinterpret_cast<uintptr_t>(hwnd)); }

FResult Done(bool ok) { return ok ? FrOk : FrWin32(0); }

// The handle form of the query functions: any existing window, whatever its visibility; never the broadcast.
HWND ExistingHandle(const WinTitleArg& t) { return t.hwnd == kBroadcast ? nullptr : t.hwnd; }

FResult ReturnText(StrRet ret, const std::wstring& s) { return ret.Set(s.c_str(), s.size()) ? FrOk : FrOutOfMemory; }

std::wstring TitleOf(HWND hwnd) {
    int n = GetWindowTextLengthW(hwnd);
    std::wstring s(static_cast<size_t>(n > 0 ? n : 0) + 1, L'\0');
    n = GetWindowTextW(hwnd, s.data(), static_cast<int>(s.size()));
    s.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return s;
}

// --- Show, hide, minimize, maximize, restore, close, kill ---

enum class ShowAction { Show, Hide, Minimize, Maximize, Restore, Close, Kill };

void ApplyShowAction(HWND w, ShowAction action) {
    switch (action) {
    case ShowAction::Show: ShowWindow(w, SW_SHOW); break;
    case ShowAction::Hide: ShowWindow(w, SW_HIDE); break;
    case ShowAction::Minimize: ShowWindow(w, WindowIsHung(w) ? SW_FORCEMINIMIZE : SW_MINIMIZE); break;
    case ShowAction::Maximize:
        if (!WindowIsHung(w)) ShowWindow(w, SW_MAXIMIZE);
        break;
    case ShowAction::Restore:
        if (!WindowIsHung(w)) ShowWindow(w, SW_RESTORE);
        break;
    case ShowAction::Close: PostMessageW(w, WM_CLOSE, 0, 0); break;
    case ShowAction::Kill: {
        DWORD_PTR answer;
        if (!SendMessageTimeoutW(w, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, kKillAskMs, &answer)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            // Never the script's own process: that is ExitApp's business.
            if (pid && pid != GetCurrentProcessId())
                if (HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid)) {
                    TerminateProcess(process, 0);
                    CloseHandle(process);
                }
        }
        break;
    }
    }
}

FResult ShowFamily(ShowAction action, const Opt<ValueToken*>& winTitle, const Opt<const Char*>& winText,
                   const Opt<double>& seconds, const Opt<const Char*>& excludeTitle,
                   const Opt<const Char*>& excludeText) {
    WinTitleArg title;
    if (LoadWinTitle(winTitle, title) != Status::Ok)
        return FrFail;
    Criteria c = MakeCriteria(title, winText, excludeTitle, excludeText);
    const bool closing = action == ShowAction::Close || action == ShowAction::Kill;
    if (!title.isHandle && !*c.text && !*c.excludeTitle && !*c.excludeText) {
        std::vector<HWND> windows;
        if (GroupFormWindows(c.title, action == ShowAction::Show || g_thread->settings.detectHiddenWindows, windows)) {
            for (HWND w : windows)
                ApplyShowAction(w, action);
            int32_t waitMs = seconds ? static_cast<int32_t>(*seconds * 1000) : 0;
            DWORD start = GetTickCount();
            if (closing && waitMs > 0)
                for (HWND w : windows)
                    while (IsWindow(w) && static_cast<int32_t>(GetTickCount() - start) < waitMs - 5)
                        PumpMessages(kPumpUnspecified, PumpMode::Timed);
            if (!windows.empty())
                WindowDelay();
            return FrOk;
        }
    }
    HWND w = nullptr;
    if (title.isHandle) {
        w = ExistingHandle(title);
    } else if (closing) {
        w = c.AllEmpty() || (!c.title[1] && (c.title[0] == L'A' || c.title[0] == L'a') && !*c.text &&
                             !*c.excludeTitle && !*c.excludeText)
                ? SearchWindow(c, FindLast::No, Remember::No)
                : SearchActiveWindow(c, Remember::No);
        if (!w)
            w = SearchWindow(c, FindLast::No, Remember::No);
    } else if (action == ShowAction::Show) {
        bool& detect = g_thread->settings.detectHiddenWindows;
        bool was = detect;
        detect = true;
        w = SearchWindow(c, FindLast::No, Remember::No);
        detect = was;
    } else {
        w = SearchWindow(c, FindLast::No, Remember::No);
    }
    if (!w)
        return RaiseWindowNotFound(title.text);
    ApplyShowAction(w, action);
    if (closing) {
        int32_t waitMs = seconds ? static_cast<int32_t>(*seconds * 1000) : kDefaultCloseWaitMs;
        DWORD start = GetTickCount();
        if (waitMs > 0)
            do
                PumpMessages(kPumpUnspecified, PumpMode::Timed);
            while (IsWindow(w) && static_cast<int32_t>(GetTickCount() - start) < waitMs - 5);
    }
    WindowDelay();
    return FrOk;
}

// --- Waiting ---

enum class WaitKind { Exist, Active, Close, NotActive };

FResult Wait(WaitKind kind, const Opt<ValueToken*>& winTitle, const Opt<const Char*>& winText,
             const Opt<double>& seconds, const Opt<const Char*>& excludeTitle, const Opt<const Char*>& excludeText,
             ValueRet ret) {
    if (seconds && *seconds < 0)
        return FrParam(2);
    const bool timed = seconds.has;
    const int64_t timeoutMs = timed ? static_cast<int64_t>(*seconds * 1000) : 0;
    WinTitleArg title;
    if (LoadWinTitle(winTitle, title) != Status::Ok)
        return FrFail;
    const bool negated = kind == WaitKind::Close || kind == WaitKind::NotActive;
    const bool active = kind == WaitKind::Active || kind == WaitKind::NotActive;
    CallResult& r = *ret.result;
    HWND handle = ExistingHandle(title);
    if (title.isHandle && !handle) {
        if (negated)
            WindowDelay();
        r.value.SetInteger(negated ? 1 : 0);
        return FrOk;
    }
    Criteria c = MakeCriteria(title, winText, excludeTitle, excludeText);
    const DWORD start = GetTickCount();
    // The waiting line, as the lines view shows it again after the threads that ran meanwhile.
    const ScriptLine* waitingLine = g_script.currentLine;
    const LineHistoryEntry& began = g_lineHistory[(g_lineHistoryCount - 1) & (kLineHistorySlots - 1)];
    const uint32_t lineTick = began.line == waitingLine ? began.tick : start;
    for (;;) {
        HWND found;
        if (title.isHandle) {
            if (!IsWindow(handle)) {
                // A window that is gone satisfies the closing pair and fails the others.
                if (negated)
                    WindowDelay();
                r.value.SetInteger(negated ? 1 : 0);
                return FrOk;
            }
            found = active ? (GetForegroundWindow() == handle ? handle : nullptr)
                           : (WindowIsDetectable(handle) ? handle : nullptr);
            if (found)
                SetLastFoundWindow(found);
        } else {
            found = active ? SearchActiveWindow(c, Remember::Yes) : SearchWindow(c, FindLast::No, Remember::Yes);
        }
        if (negated ? !found : found != nullptr) {
            WindowDelay();
            if (negated)
                r.value.SetInteger(1);
            else
                r.value.SetInteger(HandleValue(found));
            return FrOk;
        }
        if (timed && timeoutMs - static_cast<int64_t>(GetTickCount() - start) <= 5) {
            r.value.SetInteger(0);
            return FrOk;
        }
        if (PumpMessages(kPumpUnspecified, PumpMode::Timed) && g_thread->settings.listLines && waitingLine) {
            const LineHistoryEntry& newest = g_lineHistory[(g_lineHistoryCount - 1) & (kLineHistorySlots - 1)];
            if (newest.line != waitingLine || newest.tick != lineTick)
                RecordLine(waitingLine, lineTick);
        }
    }
}

// --- Styles, transparency ---

FResult SetStyleBits(int index, ValueToken& value, const Opt<ValueToken*>& winTitle, const Opt<const Char*>& winText,
                     const Opt<const Char*>& excludeTitle, const Opt<const Char*>& excludeText) {
    Char buffer[kScratchChars];
    const Char* text = TokenToString(value, buffer);
    if (!*text)
        return FrParam(0);
    Char op = 0;
    if (*text == L'+' || *text == L'-' || *text == L'^')
        op = *text++;
    ValueToken t, n;
    t.SetString(text, static_cast<int32_t>(wcslen(text)));
    if (!*text || !TokenToNumber(t, n) || n.symbol != SymInteger)
        return FrParam(0);
    const DWORD bits = static_cast<DWORD>(n.valueInt64);
    HWND w;
    if (FResult fr = TargetWindow(winTitle, winText, excludeTitle, excludeText, FindLast::No, w); fr.code)
        return fr;
    const DWORD old = static_cast<DWORD>(GetWindowLongW(w, index));
    DWORD wanted = op == L'+' ? old | bits : op == L'-' ? old & ~bits : op == L'^' ? old ^ bits : bits;
    if (wanted == old)
        return FrOk;
    SetLastError(0);
    SetWindowLongW(w, index, static_cast<LONG>(wanted));
    if (static_cast<DWORD>(GetWindowLongW(w, index)) != wanted)
        return FrWin32(GetLastError() ? GetLastError() : ERROR_INVALID_PARAMETER);
    SetWindowPos(w, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    InvalidateRect(w, nullptr, TRUE);
    return FrOk;
}

bool ParseColor(const Char* text, COLORREF& out) {
    static constexpr struct {
        const Char* name;
        uint32_t rgb;
    } kColors[] = {
        {L"Black", 0x000000}, {L"Silver", 0xC0C0C0}, {L"Gray", 0x808080},   {L"White", 0xFFFFFF},
        {L"Maroon", 0x800000}, {L"Red", 0xFF0000},   {L"Purple", 0x800080}, {L"Fuchsia", 0xFF00FF},
        {L"Green", 0x008000}, {L"Lime", 0x00FF00},   {L"Olive", 0x808000},  {L"Yellow", 0xFFFF00},
        {L"Navy", 0x000080},  {L"Blue", 0x0000FF},   {L"Teal", 0x008080},   {L"Aqua", 0x00FFFF},
    };
    uint32_t rgb = 0;
    bool named = false;
    for (const auto& c : kColors)
        if (lstrcmpiW(c.name, text) == 0) {
            rgb = c.rgb;
            named = true;
        }
    if (!named) {
        const Char* p = text;
        if (p[0] == L'0' && (p[1] == L'x' || p[1] == L'X'))
            p += 2;
        if (!*p || wcslen(p) > 6)
            return false;
        for (; *p; ++p) {
            int d = (*p >= L'0' && *p <= L'9') ? *p - L'0' : (*p >= L'a' && *p <= L'f') ? *p - L'a' + 10
                    : (*p >= L'A' && *p <= L'F') ? *p - L'A' + 10 : -1;
            if (d < 0)
                return false;
            rgb = rgb * 16 + static_cast<uint32_t>(d);
        }
    }
    out = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
    return true;
}

FResult RemoveLayered(HWND w) {
    LONG ex = GetWindowLongW(w, GWL_EXSTYLE);
    if (ex & WS_EX_LAYERED)
        SetWindowLongW(w, GWL_EXSTYLE, ex & ~WS_EX_LAYERED);
    return FrOk;
}

bool SetLayered(HWND w, COLORREF key, BYTE alpha, DWORD flags) {
    LONG ex = GetWindowLongW(w, GWL_EXSTYLE);
    if (!(ex & WS_EX_LAYERED))
        SetWindowLongW(w, GWL_EXSTYLE, ex | WS_EX_LAYERED);
    return SetLayeredWindowAttributes(w, key, alpha, flags) != FALSE;
}

// --- Controls of a window ---

struct ControlList {
    bool handles;
    Array* array;
    std::vector<std::pair<std::wstring, int>> classes = {};
    bool ok = true;
};

BOOL CALLBACK AddControl(HWND child, LPARAM param) {
    auto& list = *reinterpret_cast<ControlList*>(param);
    ValueToken v;
    if (list.handles) {
        v.SetInteger(HandleValue(child));
        ValueToken* values[] = {&v};
        list.ok = list.array->Append(values, 1) == Status::Ok;
        return list.ok;
    }
    Char cls[257];
    int n = GetClassNameW(child, cls, 257);
    if (n <= 0)
        return TRUE;
    int* count = nullptr;
    for (auto& entry : list.classes)
        if (lstrcmpiW(entry.first.c_str(), cls) == 0)
            count = &entry.second;
    if (!count) {
        if (list.classes.size() >= static_cast<size_t>(kMaxControlClasses))
            return TRUE;
        list.classes.push_back({cls, 0});
        count = &list.classes.back().second;
    }
    if (*count >= kMaxPerClass)
        return TRUE;
    Char name[300];
    size_t length = FormatMessageText(name, 300, L"%s%d", cls, ++*count);
    list.ok = list.array->AppendText(name, static_cast<int32_t>(length)) == Status::Ok;
    return list.ok;
}

FResult GetControls(bool handles, const Opt<ValueToken*>& winTitle, const Opt<const Char*>& winText,
                    const Opt<const Char*>& excludeTitle, const Opt<const Char*>& excludeText, ValueRet ret) {
    HWND w;
    if (FResult fr = TargetWindow(winTitle, winText, excludeTitle, excludeText, FindLast::No, w); fr.code)
        return fr;
    Array* array = Array::Create();
    if (!array)
        return FrOutOfMemory;
    ControlList list{handles, array};
    EnumChildWindows(w, AddControl, reinterpret_cast<LPARAM>(&list));
    ret.result->value.SetObject(array);
    return list.ok ? FrOk : FrFail;
}

// --- Text of a window's children ---

struct TextCollect {
    std::wstring text;
    bool hidden;
};

BOOL CALLBACK CollectText(HWND child, LPARAM param) {
    auto& c = *reinterpret_cast<TextCollect*>(param);
    if (!c.hidden && !IsWindowVisible(child))
        return TRUE;
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(child, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kHungTimeoutMs, &length) || !length)
        return TRUE;
    std::wstring s(length + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(child, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(s.data()), SMTO_ABORTIFHUNG,
                             kHungTimeoutMs, &got) || !got)
        return TRUE;
    s.resize(got < length ? got : length);
    c.text += s;
    c.text += L"\r\n";
    return TRUE;
}

// --- Regions ---

bool ParseRegion(const Char* options, HRGN& out) {
    std::vector<POINT> points;
    bool ellipse = false, rounded = false, winding = false, haveW = false, haveH = false;
    int width = 0, height = 0, roundW = 30, roundH = 30;
    const Char* p = options;
    auto number = [](const Char*& q, int& value) {
        Char* end;
        long v = wcstol(q, &end, 10);
        if (end == q)
            return false;
        value = static_cast<int>(v);
        q = end;
        return true;
    };
    while (*p) {
        while (*p == L' ' || *p == L'\t')
            ++p;
        if (!*p)
            break;
        Char c = static_cast<Char>(*p | 0x20);
        if (c == L'w' && _wcsnicmp(p, L"wind", 4) == 0 && (!p[4] || p[4] == L' ' || p[4] == L'\t')) {
            winding = true;
            p += 4;
        } else if (c == L'e') {
            ellipse = true;
            ++p;
        } else if (c == L'w' || c == L'h') {
            ++p;
            if (!number(p, c == L'w' ? width : height))
                return false;
            (c == L'w' ? haveW : haveH) = true;
        } else if (c == L'r') {
            rounded = true;
            ++p;
            if (*p && *p != L' ' && *p != L'\t') {
                if (!number(p, roundW) || *p++ != L'-' || !number(p, roundH))
                    return false;
            }
        } else {
            POINT pt;
            int x, y;
            if (!number(p, x) || *p++ != L'-' || !number(p, y))
                return false;
            pt.x = x;
            pt.y = y;
            if (points.size() >= static_cast<size_t>(kMaxRegionPoints))
                return false;
            points.push_back(pt);
        }
        if (*p && *p != L' ' && *p != L'\t')
            return false;
    }
    if (haveW || haveH) {
        if (!haveW || !haveH || points.empty())
            return false;
        const POINT& o = points[0];
        out = ellipse ? CreateEllipticRgn(o.x, o.y, o.x + width, o.y + height)
              : rounded ? CreateRoundRectRgn(o.x, o.y, o.x + width, o.y + height, roundW, roundH)
                        : CreateRectRgn(o.x, o.y, o.x + width, o.y + height);
    } else {
        if (points.size() < 3)
            return false;
        out = CreatePolygonRgn(points.data(), static_cast<int>(points.size()), winding ? WINDING : ALTERNATE);
    }
    return out != nullptr;
}

}  // namespace

// The criteria parameters of most functions: WinTitle, WinText, ExcludeTitle, ExcludeText.
#define BRM_CRITERIA_ARGS winTitle, winText, excludeTitle, excludeText

HWND ActivateWindow(HWND h, KeepMinimized keep) {
    if (!h)
        return nullptr;
    if (GetWindowThreadProcessId(h, nullptr) != GetCurrentThreadId() && WindowIsHung(h))
        return nullptr;
    HWND f = GetForegroundWindow();
    if (IsIconic(h) && keep == KeepMinimized::No)
        ShowWindow(h, SW_RESTORE);
    if (h == f)
        return h;
    if (g_directives.winActivateForce)
        return nullptr;
    SetForegroundWindow(h);
    {
        // The activation settles while messages are pumped; nothing may interrupt the thread meanwhile.
        bool was = g_allowInterruption;
        g_allowInterruption = false;
        PumpMessages(10, PumpMode::Timed);
        g_allowInterruption = was;
    }
    HWND g = GetForegroundWindow();
    if (g == h)
        return h;
    if (!g || g == f || GetWindow(g, GW_OWNER) != h)
        return nullptr;
    return g;
}

FResult BifWinExist(BRM_WIN_PARAMS, ValueRet ret) {
    WinTitleArg title;
    if (LoadWinTitle(winTitle, title) != Status::Ok)
        return FrFail;
    HWND found;
    if (title.isHandle) {
        found = ExistingHandle(title);
        if (found)
            SetLastFoundWindow(found);
    } else {
        found = SearchWindow(MakeCriteria(title, winText, excludeTitle, excludeText), FindLast::No, Remember::Yes);
    }
    ret.result->value.SetInteger(HandleValue(found));
    return FrOk;
}

FResult BifWinActive(BRM_WIN_PARAMS, ValueRet ret) {
    WinTitleArg title;
    if (LoadWinTitle(winTitle, title) != Status::Ok)
        return FrFail;
    HWND found;
    if (title.isHandle) {
        found = ExistingHandle(title);
        if (found != GetForegroundWindow())
            found = nullptr;
        if (found)
            SetLastFoundWindow(found);
    } else {
        found = SearchActiveWindow(MakeCriteria(title, winText, excludeTitle, excludeText), Remember::Yes);
    }
    ret.result->value.SetInteger(HandleValue(found));
    return FrOk;
}

static FResult Activate(FindLast last, BRM_WIN_PARAMS) {
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, last, w); fr.code)
        return fr;
    ActivateWindow(w, KeepMinimized::No);
    WindowDelay();
    return FrOk;
}
FResult BifWinActivate(BRM_WIN_PARAMS) { return Activate(FindLast::No, BRM_CRITERIA_ARGS); }
FResult BifWinActivateBottom(BRM_WIN_PARAMS) { return Activate(FindLast::Yes, BRM_CRITERIA_ARGS); }

FResult BifWinShow(BRM_WIN_PARAMS) { return ShowFamily(ShowAction::Show, winTitle, winText, {}, excludeTitle, excludeText); }
FResult BifWinHide(BRM_WIN_PARAMS) { return ShowFamily(ShowAction::Hide, winTitle, winText, {}, excludeTitle, excludeText); }
FResult BifWinMinimize(BRM_WIN_PARAMS) {
    return ShowFamily(ShowAction::Minimize, winTitle, winText, {}, excludeTitle, excludeText);
}
FResult BifWinMaximize(BRM_WIN_PARAMS) {
    return ShowFamily(ShowAction::Maximize, winTitle, winText, {}, excludeTitle, excludeText);
}
FResult BifWinRestore(BRM_WIN_PARAMS) {
    return ShowFamily(ShowAction::Restore, winTitle, winText, {}, excludeTitle, excludeText);
}
FResult BifWinClose(BRM_WAIT_PARAMS) {
    return ShowFamily(ShowAction::Close, winTitle, winText, seconds, excludeTitle, excludeText);
}
FResult BifWinKill(BRM_WAIT_PARAMS) {
    return ShowFamily(ShowAction::Kill, winTitle, winText, seconds, excludeTitle, excludeText);
}

FResult BifWinWait(BRM_WAIT_PARAMS, ValueRet ret) {
    return Wait(WaitKind::Exist, winTitle, winText, seconds, excludeTitle, excludeText, ret);
}
FResult BifWinWaitActive(BRM_WAIT_PARAMS, ValueRet ret) {
    return Wait(WaitKind::Active, winTitle, winText, seconds, excludeTitle, excludeText, ret);
}
FResult BifWinWaitClose(BRM_WAIT_PARAMS, ValueRet ret) {
    return Wait(WaitKind::Close, winTitle, winText, seconds, excludeTitle, excludeText, ret);
}
FResult BifWinWaitNotActive(BRM_WAIT_PARAMS, ValueRet ret) {
    return Wait(WaitKind::NotActive, winTitle, winText, seconds, excludeTitle, excludeText, ret);
}

FResult BifWinMove(Opt<int32_t> x, Opt<int32_t> y, Opt<int32_t> width, Opt<int32_t> height, BRM_WIN_PARAMS) {
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    RECT r;
    if (!GetWindowRect(w, &r))
        return FrWin32(0);
    int nx = x ? *x : r.left, ny = y ? *y : r.top;
    int nw = width ? *width : r.right - r.left, nh = height ? *height : r.bottom - r.top;
    if (!MoveWindow(w, nx, ny, nw, nh, TRUE))
        return FrWin32(0);
    WindowDelay();
    return FrOk;
}

static FResult GetPos(bool client, Out<int32_t> x, Out<int32_t> y, Out<int32_t> width, Out<int32_t> height,
                      BRM_WIN_PARAMS) {
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    RECT r;
    if (client) {
        if (!GetClientRect(w, &r))
            return FrWin32(0);
        MapWindowPoints(w, nullptr, reinterpret_cast<POINT*>(&r), 2);
    } else if (!GetWindowRect(w, &r)) {
        return FrWin32(0);
    }
    *x.ptr = r.left;
    *y.ptr = r.top;
    *width.ptr = r.right - r.left;
    *height.ptr = r.bottom - r.top;
    return FrOk;
}
FResult BifWinGetPos(Out<int32_t> x, Out<int32_t> y, Out<int32_t> width, Out<int32_t> height, BRM_WIN_PARAMS) {
    return GetPos(false, x, y, width, height, BRM_CRITERIA_ARGS);
}
FResult BifWinGetClientPos(Out<int32_t> x, Out<int32_t> y, Out<int32_t> width, Out<int32_t> height, BRM_WIN_PARAMS) {
    return GetPos(true, x, y, width, height, BRM_CRITERIA_ARGS);
}

FResult BifWinGetTitle(BRM_WIN_PARAMS, StrRet ret) {
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    return ReturnText(ret, TitleOf(w));
}

FResult BifWinGetClass(BRM_WIN_PARAMS, StrRet ret) {
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    Char cls[257];
    int n = GetClassNameW(w, cls, 257);
    if (n <= 0)
        return FrWin32(0);
    return ret.Set(cls, static_cast<size_t>(n)) ? FrOk : FrOutOfMemory;
}

FResult BifWinGetText(BRM_WIN_PARAMS, StrRet ret) {
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    TextCollect c{std::wstring(), g_thread->settings.detectHiddenText};
    EnumChildWindows(w, CollectText, reinterpret_cast<LPARAM>(&c));
    return ReturnText(ret, c.text);
}

static FResult GetIdOf(FindLast last, BRM_WIN_PARAMS, ValueRet ret) {
    WinTitleArg title;
    if (LoadWinTitle(winTitle, title) != Status::Ok)
        return FrFail;
    HWND found = nullptr;
    if (title.isHandle)
        found = ExistingHandle(title);
    else
        found = SearchWindow(MakeCriteria(title, winText, excludeTitle, excludeText), last, Remember::No);
    if (!found)
        return RaiseWindowNotFound(title.text);
    ret.result->value.SetInteger(HandleValue(found));
    return FrOk;
}
FResult BifWinGetID(BRM_WIN_PARAMS, ValueRet ret) { return GetIdOf(FindLast::No, BRM_CRITERIA_ARGS, ret); }
FResult BifWinGetIDLast(BRM_WIN_PARAMS, ValueRet ret) { return GetIdOf(FindLast::Yes, BRM_CRITERIA_ARGS, ret); }

static FResult CountOrList(Array* array, BRM_WIN_PARAMS, int32_t& count) {
    WinTitleArg title;
    if (LoadWinTitle(winTitle, title) != Status::Ok)
        return FrFail;
    count = 0;
    if (title.isHandle) {
        if (HWND h = ExistingHandle(title)) {
            count = 1;
            if (array) {
                ValueToken v;
                v.SetInteger(HandleValue(h));
                ValueToken* values[] = {&v};
                if (array->Append(values, 1) != Status::Ok)
                    return FrFail;
            }
        }
        return FrOk;
    }
    Criteria c = MakeCriteria(title, winText, excludeTitle, excludeText);
    count = CountWindows(c, array, nullptr);
    return FrOk;
}

FResult BifWinGetCount(BRM_WIN_PARAMS, ValueRet ret) {
    int32_t count;
    if (FResult fr = CountOrList(nullptr, BRM_CRITERIA_ARGS, count); fr.code)
        return fr;
    ret.result->value.SetInteger(count);
    return FrOk;
}

FResult BifWinGetList(BRM_WIN_PARAMS, ValueRet ret) {
    Array* array = Array::Create();
    if (!array)
        return FrOutOfMemory;
    ret.result->value.SetObject(array);
    int32_t count;
    return CountOrList(array, BRM_CRITERIA_ARGS, count);
}

FResult BifWinGetPID(BRM_WIN_PARAMS, ValueRet ret) {
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    ret.result->value.SetInteger(pid);
    return FrOk;
}

static FResult ProcessOf(bool full, BRM_WIN_PARAMS, StrRet ret) {
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    Char path[MAX_PATH * 4];
    if (!WindowProcessPath(w, path, MAX_PATH * 4))
        return FrWin32(0);
    const Char* name = full ? path : wcsrchr(path, L'\\');
    name = full ? path : name ? name + 1 : path;
    return ret.Set(name, wcslen(name)) ? FrOk : FrOutOfMemory;
}
FResult BifWinGetProcessName(BRM_WIN_PARAMS, StrRet ret) { return ProcessOf(false, BRM_CRITERIA_ARGS, ret); }
FResult BifWinGetProcessPath(BRM_WIN_PARAMS, StrRet ret) { return ProcessOf(true, BRM_CRITERIA_ARGS, ret); }

FResult BifWinGetMinMax(BRM_WIN_PARAMS, ValueRet ret) {
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    ret.result->value.SetInteger(IsZoomed(w) ? 1 : IsIconic(w) ? -1 : 0);
    return FrOk;
}

static FResult GetLong(int index, BRM_WIN_PARAMS, ValueRet ret) {
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    ret.result->value.SetInteger(static_cast<int64_t>(static_cast<DWORD>(GetWindowLongW(w, index))));
    return FrOk;
}
FResult BifWinGetStyle(BRM_WIN_PARAMS, ValueRet ret) { return GetLong(GWL_STYLE, BRM_CRITERIA_ARGS, ret); }
FResult BifWinGetExStyle(BRM_WIN_PARAMS, ValueRet ret) { return GetLong(GWL_EXSTYLE, BRM_CRITERIA_ARGS, ret); }
FResult BifWinSetStyle(ValueToken& value, BRM_WIN_PARAMS) {
    return SetStyleBits(GWL_STYLE, value, BRM_CRITERIA_ARGS);
}
FResult BifWinSetExStyle(ValueToken& value, BRM_WIN_PARAMS) {
    return SetStyleBits(GWL_EXSTYLE, value, BRM_CRITERIA_ARGS);
}

FResult BifWinGetTransparent(BRM_WIN_PARAMS, ValueRet ret) {
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    COLORREF key;
    BYTE alpha;
    DWORD flags = 0;
    if (GetLayeredWindowAttributes(w, &key, &alpha, &flags) && (flags & LWA_ALPHA))
        ret.result->value.SetInteger(alpha);
    return FrOk;
}

FResult BifWinSetTransparent(ValueToken& value, BRM_WIN_PARAMS) {
    Char buffer[kScratchChars];
    const Char* text = TokenToString(value, buffer);
    bool off = lstrcmpiW(text, L"Off") == 0;
    int64_t alpha = 0;
    if (!off) {
        ValueToken n;
        if (!TokenToNumber(value, n) || n.symbol != SymInteger || n.valueInt64 < 0 || n.valueInt64 > 255)
            return FrParam(0);
        alpha = n.valueInt64;
    }
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    if (off)
        return RemoveLayered(w);
    return Done(SetLayered(w, 0, static_cast<BYTE>(alpha), LWA_ALPHA));
}

FResult BifWinGetTransColor(BRM_WIN_PARAMS, StrRet ret) {
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    COLORREF key;
    BYTE alpha;
    DWORD flags = 0;
    if (GetLayeredWindowAttributes(w, &key, &alpha, &flags) && (flags & LWA_COLORKEY)) {
        uint32_t rgb = (GetRValue(key) << 16) | (GetGValue(key) << 8) | GetBValue(key);
        Char text[9] = L"0x";
        for (int i = 0; i < 6; ++i)
            text[2 + i] = L"0123456789ABCDEF"[(rgb >> (20 - 4 * i)) & 0xF];
        return ret.Set(text, 8) ? FrOk : FrOutOfMemory;
    }
    return FrOk;
}

FResult BifWinSetTransColor(ValueToken& value, BRM_WIN_PARAMS) {
    Char buffer[kScratchChars];
    const Char* text = TokenToString(value, buffer);
    bool off = lstrcmpiW(text, L"Off") == 0;
    COLORREF key = 0;
    int64_t alpha = -1;
    if (!off) {
        if (TokenKind(value) == SymInteger) {
            uint32_t rgb = static_cast<uint32_t>(TokenToInt64(value));
            key = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
        } else {
            std::wstring s = text;
            size_t blank = s.find_first_of(L" \t");
            std::wstring color = s.substr(0, blank);
            if (!ParseColor(color.c_str(), key))
                return FrParam(0);
            if (blank != std::wstring::npos) {
                std::wstring rest = s.substr(s.find_first_not_of(L" \t", blank) == std::wstring::npos
                                                 ? s.size() : s.find_first_not_of(L" \t", blank));
                ValueToken t, n;
                t.SetString(rest.c_str(), static_cast<int32_t>(rest.size()));
                if (rest.empty() || !TokenToNumber(t, n) || n.symbol != SymInteger || n.valueInt64 < 0 ||
                    n.valueInt64 > 255)
                    return FrParam(0);
                alpha = n.valueInt64;
            }
        }
    }
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    if (off)
        return RemoveLayered(w);
    DWORD flags = LWA_COLORKEY | (alpha >= 0 ? LWA_ALPHA : 0);
    return Done(SetLayered(w, key, static_cast<BYTE>(alpha >= 0 ? alpha : 255), flags));
}

FResult BifWinSetAlwaysOnTop(Opt<int32_t> value, BRM_WIN_PARAMS) {
    int32_t v = value ? *value : 1;
    if (v < -1 || v > 1)
        return FrParam(0);
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    if (v == -1)
        v = (GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 0 : 1;
    return Done(SetWindowPos(w, v ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE));
}

static FResult MoveZ(HWND after, BRM_WIN_PARAMS) {
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    return Done(SetWindowPos(w, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE));
}
FResult BifWinMoveTop(BRM_WIN_PARAMS) { return MoveZ(HWND_TOP, BRM_CRITERIA_ARGS); }
FResult BifWinMoveBottom(BRM_WIN_PARAMS) { return MoveZ(HWND_BOTTOM, BRM_CRITERIA_ARGS); }

FResult BifWinRedraw(BRM_WIN_PARAMS) {
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    InvalidateRect(w, nullptr, TRUE);
    return FrOk;
}

FResult BifWinSetTitle(const Char* newTitle, BRM_WIN_PARAMS) {
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    return Done(SetWindowTextW(w, newTitle));
}

FResult BifWinSetEnabled(int32_t value, BRM_WIN_PARAMS) {
    if (value < -1 || value > 1)
        return FrParam(0);
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code)
        return fr;
    bool enable = value == -1 ? !IsWindowEnabled(w) : value == 1;
    EnableWindow(w, enable);
    if ((IsWindowEnabled(w) != FALSE) != enable)
        return FrWin32(ERROR_ACCESS_DENIED);
    return FrOk;
}

FResult BifWinSetRegion(Opt<const Char*> options, BRM_WIN_PARAMS) {
    HRGN region = nullptr;
    if (options && **options && !ParseRegion(*options, region))
        return FrParam(0);
    HWND w;
    if (FResult fr = TargetWindow(BRM_CRITERIA_ARGS, FindLast::No, w); fr.code) {
        if (region)
            DeleteObject(region);
        return fr;
    }
    // On success the window owns the region.
    if (!SetWindowRgn(w, region, TRUE)) {
        if (region)
            DeleteObject(region);
        return FrWin32(0);
    }
    return FrOk;
}

FResult BifWinGetControls(BRM_WIN_PARAMS, ValueRet ret) { return GetControls(false, BRM_CRITERIA_ARGS, ret); }
FResult BifWinGetControlsHwnd(BRM_WIN_PARAMS, ValueRet ret) { return GetControls(true, BRM_CRITERIA_ARGS, ret); }

static FResult TrayCommand(WPARAM command) {
    HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (tray)
        PostMessageW(tray, WM_COMMAND, command, 0);
    WindowDelay();
    return FrOk;
}
FResult BifWinMinimizeAll() { return TrayCommand(419); }
FResult BifWinMinimizeAllUndo() { return TrayCommand(416); }

}  // namespace brm
