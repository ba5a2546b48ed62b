// The Control, Edit and MenuSelect functions: other programs' controls, driven through their messages.
// Every read or change goes through SendMessageTimeoutW, so a hung program never hangs the script.
#include <windows.h>
#include <commctrl.h>
#include <cmath>
#include <cwchar>
#include <string>
#include <type_traits>
#include "base/Messages.h"
#include "base/SortedTable.h"
#include "objects/Array.h"
#include "system/ControlFunctions.h"

namespace brm {

namespace {

constexpr UINT kSendTimeoutMs = 2000;
constexpr UINT kTextTimeoutMs = 5000;  // text and item lists may be long
constexpr int kMaxMenuText = 1023;
constexpr int kMaxEditLine = 32767;
constexpr FResult kFailed{static_cast<int32_t>(0xA0020000u)};  // "Failed"

int64_t HandleValue(HWND hwnd) { return static_cast<int64_t>(reinterpret_cast<uintptr_t>(hwnd)); }

// A send that fails or times out is an OSError with the system's last error.
bool Send(HWND w, UINT msg, WPARAM wp, LPARAM lp, LRESULT& out, UINT timeout = kSendTimeoutMs) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(w, msg, wp, lp, SMTO_ABORTIFHUNG, timeout, &answer))
        return false;
    out = static_cast<LRESULT>(answer);
    return true;
}
FResult SendFailed() { return FrWin32(GetLastError() ? GetLastError() : ERROR_TIMEOUT); }

// A message parameter from an integer or a pointer.
template <class T>
uintptr_t ToParam(T value) {
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<uintptr_t>(value);
    else
        return static_cast<uintptr_t>(value);
}

#define BRM_SEND(w, msg, wp, lp, out)                                                                 \
    if (!Send(w, msg, static_cast<WPARAM>(ToParam(wp)), static_cast<LPARAM>(ToParam(lp)), out)) \
    return SendFailed()

FResult Find(const Opt<ValueToken*>& control, BRM_WIN_PARAMS, HWND& out) {
    return TargetControl(control, winTitle, winText, excludeTitle, excludeText, ControlRequired::Yes, out);
}
#define BRM_FIND(out)                                                                         \
    HWND out;                                                                                 \
    if (FResult fr = Find(control, winTitle, winText, excludeTitle, excludeText, out); fr.code) \
        return fr

// Input attachment to the target's thread, undone when it goes out of scope.
class AttachedInput {
public:
    explicit AttachedInput(HWND w) {
        DWORD target = GetWindowThreadProcessId(w, nullptr);
        m_self = GetCurrentThreadId();
        if (target && target != m_self && !WindowIsHung(w) && AttachThreadInput(m_self, target, TRUE))
            m_target = target;
    }
    ~AttachedInput() {
        if (m_target)
            AttachThreadInput(m_self, m_target, FALSE);
    }
    AttachedInput(const AttachedInput&) = delete;
    AttachedInput& operator=(const AttachedInput&) = delete;

private:
    DWORD m_self = 0, m_target = 0;
};

HWND TopLevelOf(HWND w) {
    while (w && (GetWindowLongW(w, GWL_STYLE) & WS_CHILD))
        w = GetParent(w);
    return w;
}

enum class Family { Combo, List, Tab, None };

Family FamilyOf(HWND w, bool tabs, std::wstring& cls) {
    Char name[257];
    int n = GetClassNameW(w, name, 257);
    cls.assign(name, n > 0 ? static_cast<size_t>(n) : 0);
    std::wstring folded = cls;
    for (Char& c : folded)
        if (c >= L'A' && c <= L'Z') c = static_cast<Char>(c + 32);
    if (folded.find(L"combo") != std::wstring::npos) return Family::Combo;
    if (folded.find(L"list") != std::wstring::npos) return Family::List;
    if (tabs && folded.find(L"tab") != std::wstring::npos) return Family::Tab;
    return Family::None;
}

FResult NotSupported(const std::wstring& cls) {
    (void)RaiseMsg(ErrorClass::Error, Msg::NotSupportedForControl, cls.c_str());
    return FrFail;
}

bool IsMultiSelect(HWND w) { return (GetWindowLongW(w, GWL_STYLE) & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0; }

FResult NotifyParent(HWND w, Family family) {
    SetLastError(0);
    int id = GetDlgCtrlID(w);
    if (!id && GetLastError())
        return FrWin32(0);
    HWND parent = GetParent(w);
    LRESULT r;
    WPARAM select = MAKEWPARAM(id, 1);  // CBN_SELCHANGE and LBN_SELCHANGE
    WPARAM second = MAKEWPARAM(id, family == Family::Combo ? 9 /* CBN_SELENDOK */ : 2 /* LBN_DBLCLK */);
    BRM_SEND(parent, WM_COMMAND, select, w, r);
    BRM_SEND(parent, WM_COMMAND, second, w, r);
    ControlDelay();
    return FrOk;
}

FResult GetLong(int index, const Opt<ValueToken*>& control, BRM_WIN_PARAMS, ValueRet ret) {
    BRM_FIND(w);
    ret.result->value.SetInteger(static_cast<int64_t>(static_cast<DWORD>(GetWindowLongW(w, index))));
    return FrOk;
}

FResult SetLong(int index, ValueToken& value, const Opt<ValueToken*>& control, BRM_WIN_PARAMS) {
    Char buffer[kScratchChars];
    const Char* text = TokenToString(value, buffer);
    Char op = 0;
    if (*text == L'+' || *text == L'-' || *text == L'^')
        op = *text++;
    ValueToken t, n;
    t.SetString(text, static_cast<int32_t>(wcslen(text)));
    if (!*text || !TokenToNumber(t, n) || n.symbol != SymInteger)
        return FrParam(0);
    BRM_FIND(w);
    const DWORD bits = static_cast<DWORD>(n.valueInt64), old = static_cast<DWORD>(GetWindowLongW(w, index));
    DWORD wanted = op == L'+' ? old | bits : op == L'-' ? old & ~bits : op == L'^' ? old ^ bits : bits;
    if (wanted == old)
        return FrOk;
    SetLastError(0);
    SetWindowLongW(w, index, static_cast<LONG>(wanted));
    if (static_cast<DWORD>(GetWindowLongW(w, index)) != wanted)
        return FrWin32(GetLastError() ? GetLastError() : ERROR_INVALID_PARAMETER);
    SetWindowPos(w, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    InvalidateRect(w, nullptr, TRUE);
    ControlDelay();
    return FrOk;
}

std::wstring ReadText(HWND w, bool& ok) {
    LRESULT length = 0;
    ok = Send(w, WM_GETTEXTLENGTH, 0, 0, length, kTextTimeoutMs);
    if (!ok || length <= 0)
        return std::wstring();
    std::wstring s(static_cast<size_t>(length) + 1, L'\0');
    LRESULT got = 0;
    ok = Send(w, WM_GETTEXT, static_cast<WPARAM>(length + 1), reinterpret_cast<LPARAM>(s.data()), got, kTextTimeoutMs);
    if (!ok)
        return std::wstring();
    s.resize(wcsnlen(s.c_str(), static_cast<size_t>(length)));
    return s;
}

// "X<n> Y<n>": a position in client coordinates.
bool ParsePosition(const Char* text, POINT& pt) {
    const Char* p = text;
    while (*p == L' ' || *p == L'\t') ++p;
    if ((*p | 0x20) != L'x') return false;
    Char* end;
    pt.x = wcstol(++p, &end, 10);
    if (end == p) return false;
    p = end;
    while (*p == L' ' || *p == L'\t') ++p;
    if ((*p | 0x20) != L'y') return false;
    pt.y = wcstol(++p, &end, 10);
    if (end == p) return false;
    for (p = end; *p == L' ' || *p == L'\t'; ++p) {}
    return !*p;
}

struct PointSearch {
    POINT screen;
    HWND best = nullptr;
    RECT bestRect{};
};

bool Inside(const RECT& a, const RECT& b) {  // a lies entirely inside b
    return a.left >= b.left && a.right <= b.right && a.top >= b.top && a.bottom <= b.bottom;
}

BOOL CALLBACK NearestChild(HWND child, LPARAM param) {
    auto& s = *reinterpret_cast<PointSearch*>(param);
    if (!IsWindowVisible(child) || !IsWindowEnabled(child))
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

}  // namespace

// --- ControlClick ---

FResult BifControlClick(Opt<ValueToken*> control, Opt<ValueToken*> winTitle, Opt<const Char*> winText,
                        Opt<const Char*> whichButton, Opt<int32_t> clickCount, Opt<const Char*> options,
                        Opt<const Char*> excludeTitle, Opt<const Char*> excludeText) {
    static constexpr struct {
        const Char* name;
        const Char* shortName;
        UINT down, up;
        WPARAM downWp, upWp;
    } kButtons[] = {
        {L"Left", L"L", WM_LBUTTONDOWN, WM_LBUTTONUP, MK_LBUTTON, 0},
        {L"Right", L"R", WM_RBUTTONDOWN, WM_RBUTTONUP, MK_RBUTTON, 0},
        {L"Middle", L"M", WM_MBUTTONDOWN, WM_MBUTTONUP, MK_MBUTTON, 0},
        {L"X1", L"X1", WM_XBUTTONDOWN, WM_XBUTTONUP, 0x10020, 0x10000},
        {L"X2", L"X2", WM_XBUTTONDOWN, WM_XBUTTONUP, 0x20040, 0x20000},
        {L"WheelUp", L"WU", WM_MOUSEWHEEL, 0, 1, 0},
        {L"WheelDown", L"WD", WM_MOUSEWHEEL, 0, static_cast<WPARAM>(-1), 0},
        {L"WheelLeft", L"WL", WM_MOUSEHWHEEL, 0, static_cast<WPARAM>(-1), 0},
        {L"WheelRight", L"WR", WM_MOUSEHWHEEL, 0, 1, 0},
    };
    int button = 0;
    if (whichButton && **whichButton) {
        button = -1;
        for (int i = 0; i < static_cast<int>(sizeof(kButtons) / sizeof(kButtons[0])); ++i)
            if (CompareFoldAZ(*whichButton, kButtons[i].name) == 0 || CompareFoldAZ(*whichButton, kButtons[i].shortName) == 0)
                button = i;
        if (button < 0)
            return FrParam(3);
    }
    const int count = clickCount ? *clickCount : 1;
    if (count < 0)
        return FrParam(4);
    bool downOnly = false, upOnly = false, noActivate = false, byPos = false, haveX = false, haveY = false;
    POINT at{};
    for (const Char* p = options ? *options : L""; *p; ++p) {
        Char c = static_cast<Char>(*p | 0x20);
        if (c == L'd') downOnly = true;
        else if (c == L'u') upOnly = true;
        else if (c == L'n' && (p[1] | 0x20) == L'a') { noActivate = true; ++p; }
        else if (c == L'p' && (p[1] | 0x20) == L'o' && (p[2] | 0x20) == L's') { byPos = true; p += 2; }
        else if (c == L'x' || c == L'y') {
            Char* end;
            long v = wcstol(p + 1, &end, 10);
            (c == L'x' ? at.x : at.y) = v;
            (c == L'x' ? haveX : haveY) = true;
            p = end - 1;
        }
    }
    if (!count)
        return FrOk;
    Char buffer[kScratchChars];
    const Char* controlText = control && TokenKind(**control) == SymString ? TokenToString(**control, buffer) : L"";
    HWND target = nullptr;
    bool positioned = false;
    if (!byPos) {
        if (FResult fr = TargetControl(control, winTitle, winText, excludeTitle, excludeText, ControlRequired::No, target);
            fr.code)
            return fr;
        byPos = !target;
    }
    if (byPos) {
        HWND window;
        if (FResult fr = TargetWindow(winTitle, winText, excludeTitle, excludeText, FindLast::No, window); fr.code)
            return fr;
        POINT pt;
        if (!ParsePosition(controlText, pt)) {
            (void)RaiseMsg(ErrorClass::TargetError, Msg::TargetControlNotFound, controlText);
            return FrFail;
        }
        ClientToScreen(window, &pt);
        PointSearch s{pt};
        EnumChildWindows(window, NearestChild, reinterpret_cast<LPARAM>(&s));
        target = s.best ? s.best : window;
        ScreenToClient(target, &pt);
        at = pt;
        positioned = true;
    }
    if (!positioned) {
        RECT r;
        GetWindowRect(target, &r);
        if (!haveX) at.x = (r.right - r.left) / 2;
        if (!haveY) at.y = (r.bottom - r.top) / 2;
    }
    const auto& b = kButtons[button];
    AttachedInput* attached = noActivate ? nullptr : new AttachedInput(target);
    if (!noActivate)
        SetActiveWindow(TopLevelOf(target));
    FResult result = FrOk;
    const LPARAM lp = MAKELPARAM(at.x, at.y);
    if (b.down == WM_MOUSEWHEEL || b.down == WM_MOUSEHWHEEL) {
        POINT pt = at;
        if (b.down == WM_MOUSEWHEEL)
            ClientToScreen(target, &pt);
        int delta = count * 120 * static_cast<int>(static_cast<intptr_t>(b.downWp));
        if (!PostMessageW(target, b.down, MAKEWPARAM(0, delta), MAKELPARAM(pt.x, pt.y)))
            result = FrWin32(0);
        ControlDelay();
    } else {
        for (int i = 0; i < count && !result.code; ++i) {
            if (!upOnly) {
                if (!PostMessageW(target, b.down, b.downWp, lp)) result = FrWin32(0);
                ControlDelay();
            }
            if (!downOnly && !result.code) {
                if (!PostMessageW(target, b.up, b.upWp, lp)) result = FrWin32(0);
                ControlDelay();
            }
        }
    }
    delete attached;
    return result;
}

// --- Focus, text, visibility, enabling, checking, position ---

FResult BifControlFocus(BRM_CONTROL_PARAMS) {
    BRM_FIND(w);
    {
        AttachedInput attached(w);
        SetFocus(w);
        ControlDelay();
    }
    return FrOk;
}

FResult BifControlSetText(const Char* text, BRM_CONTROL_PARAMS) {
    BRM_FIND(w);
    LRESULT r;
    // The answer to WM_SETTEXT is not checked: controls differ in what they return.
    (void)Send(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), r, kTextTimeoutMs);
    ControlDelay();
    return FrOk;
}

FResult BifControlGetText(BRM_CONTROL_PARAMS, StrRet ret) {
    BRM_FIND(w);
    bool ok;
    std::wstring s = ReadText(w, ok);
    return ret.Set(s.c_str(), s.size()) ? FrOk : FrOutOfMemory;
}

FResult BifControlShow(BRM_CONTROL_PARAMS) {
    BRM_FIND(w);
    ShowWindow(w, SW_SHOWNOACTIVATE);
    ControlDelay();
    return FrOk;
}

FResult BifControlHide(BRM_CONTROL_PARAMS) {
    BRM_FIND(w);
    ShowWindow(w, SW_HIDE);
    ControlDelay();
    return FrOk;
}

FResult BifControlGetVisible(BRM_CONTROL_PARAMS, ValueRet ret) {
    BRM_FIND(w);
    ret.result->value.SetInteger(IsWindowVisible(w) ? 1 : 0);
    return FrOk;
}

FResult BifControlSetEnabled(int32_t value, BRM_CONTROL_PARAMS) {
    if (value < -1 || value > 1)
        return FrParam(0);
    BRM_FIND(w);
    bool enable = value == -1 ? !IsWindowEnabled(w) : value == 1;
    EnableWindow(w, enable);
    ControlDelay();
    return (IsWindowEnabled(w) != FALSE) == enable ? FrOk : kFailed;
}

FResult BifControlGetEnabled(BRM_CONTROL_PARAMS, ValueRet ret) {
    BRM_FIND(w);
    ret.result->value.SetInteger(IsWindowEnabled(w) ? 1 : 0);
    return FrOk;
}

FResult BifControlSetChecked(int32_t value, BRM_CONTROL_PARAMS) {
    if (value < -1 || value > 1)
        return FrParam(0);
    BRM_FIND(w);
    LRESULT state;
    if (value != -1) {
        BRM_SEND(w, BM_GETCHECK, 0, 0, state);
        if ((state == BST_CHECKED) == (value == 1))
            return FrOk;
    }
    RECT r;
    GetClientRect(w, &r);
    LPARAM centre = MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2);
    {
        AttachedInput attached(w);
        SetActiveWindow(TopLevelOf(w));
        if (!PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, centre) || !PostMessageW(w, WM_LBUTTONUP, 0, centre))
            return FrWin32(0);
    }
    ControlDelay();
    return FrOk;
}

FResult BifControlGetChecked(BRM_CONTROL_PARAMS, ValueRet ret) {
    BRM_FIND(w);
    LRESULT state;
    BRM_SEND(w, BM_GETCHECK, 0, 0, state);
    ret.result->value.SetInteger(state == BST_CHECKED ? 1 : 0);
    return FrOk;
}

FResult BifControlMove(Opt<int32_t> x, Opt<int32_t> y, Opt<int32_t> width, Opt<int32_t> height, BRM_CONTROL_PARAMS) {
    BRM_FIND(w);
    HWND top = TopLevelOf(w);
    RECT r;
    GetWindowRect(w, &r);
    POINT origin{r.left, r.top};
    ScreenToClient(top, &origin);
    POINT pt{x ? *x : origin.x, y ? *y : origin.y};
    int nw = width ? *width : r.right - r.left, nh = height ? *height : r.bottom - r.top;
    HWND parent = GetParent(w);
    if (parent && parent != top && (GetWindowLongW(w, GWL_STYLE) & WS_CHILD))
        MapWindowPoints(top, parent, &pt, 1);
    if (!MoveWindow(w, pt.x, pt.y, nw, nh, TRUE))
        return FrWin32(0);
    ControlDelay();
    return FrOk;
}

FResult BifControlGetPos(Out<int32_t> x, Out<int32_t> y, Out<int32_t> width, Out<int32_t> height, BRM_CONTROL_PARAMS) {
    BRM_FIND(w);
    HWND top = TopLevelOf(w);
    RECT r;
    if (!GetWindowRect(w, &r))
        return FrWin32(0);
    POINT origin{r.left, r.top};
    ScreenToClient(top, &origin);
    *x.ptr = origin.x;
    *y.ptr = origin.y;
    *width.ptr = r.right - r.left;
    *height.ptr = r.bottom - r.top;
    return FrOk;
}

FResult BifControlGetFocus(BRM_WIN_PARAMS, ValueRet ret) {
    HWND window;
    if (FResult fr = TargetWindow(winTitle, winText, excludeTitle, excludeText, FindLast::No, window); fr.code)
        return fr;
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    HWND focus = nullptr;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus &&
        IsChild(window, info.hwndFocus))
        focus = info.hwndFocus;
    ret.result->value.SetInteger(HandleValue(focus));
    return FrOk;
}

FResult BifControlGetHwnd(BRM_CONTROL_PARAMS, ValueRet ret) {
    BRM_FIND(w);
    ret.result->value.SetInteger(HandleValue(w));
    return FrOk;
}

FResult BifControlGetClassNN(BRM_CONTROL_PARAMS, StrRet ret) {
    BRM_FIND(w);
    Char name[300];
    if (!ControlClassNN(w, name, 300))
        return kFailed;
    return ret.Set(name, wcslen(name)) ? FrOk : FrOutOfMemory;
}

FResult BifControlGetStyle(BRM_CONTROL_PARAMS, ValueRet ret) {
    return GetLong(GWL_STYLE, control, winTitle, winText, excludeTitle, excludeText, ret);
}
FResult BifControlGetExStyle(BRM_CONTROL_PARAMS, ValueRet ret) {
    return GetLong(GWL_EXSTYLE, control, winTitle, winText, excludeTitle, excludeText, ret);
}
FResult BifControlSetStyle(ValueToken& value, BRM_CONTROL_PARAMS) {
    return SetLong(GWL_STYLE, value, control, winTitle, winText, excludeTitle, excludeText);
}
FResult BifControlSetExStyle(ValueToken& value, BRM_CONTROL_PARAMS) {
    return SetLong(GWL_EXSTYLE, value, control, winTitle, winText, excludeTitle, excludeText);
}

// --- Lists, combo boxes and tabs ---

#define BRM_FAMILY(w, tabs, family)            \
    std::wstring cls;                           \
    Family family = FamilyOf(w, tabs, cls);     \
    if (family == Family::None) return NotSupported(cls)

FResult BifControlShowDropDown(BRM_CONTROL_PARAMS) {
    BRM_FIND(w);
    LRESULT r;
    BRM_SEND(w, CB_SHOWDROPDOWN, TRUE, 0, r);
    ControlDelay();
    return FrOk;
}

FResult BifControlHideDropDown(BRM_CONTROL_PARAMS) {
    BRM_FIND(w);
    LRESULT r;
    BRM_SEND(w, CB_SHOWDROPDOWN, FALSE, 0, r);
    ControlDelay();
    return FrOk;
}

FResult BifControlAddItem(const Char* item, BRM_CONTROL_PARAMS, ValueRet ret) {
    BRM_FIND(w);
    BRM_FAMILY(w, false, family);
    LRESULT index;
    BRM_SEND(w, family == Family::Combo ? CB_ADDSTRING : LB_ADDSTRING, 0, item, index);
    if (index < 0)
        return kFailed;
    ControlDelay();
    ret.result->value.SetInteger(index + 1);
    return FrOk;
}

FResult BifControlDeleteItem(int32_t n, BRM_CONTROL_PARAMS) {
    if (n < 1)
        return FrParam(0);
    BRM_FIND(w);
    BRM_FAMILY(w, false, family);
    LRESULT r;
    BRM_SEND(w, family == Family::Combo ? CB_DELETESTRING : LB_DELETESTRING, n - 1, 0, r);
    if (r == -1)
        return kFailed;
    ControlDelay();
    return FrOk;
}

FResult BifControlChooseIndex(int32_t n, BRM_CONTROL_PARAMS) {
    if (n < 0)
        return FrParam(0);
    BRM_FIND(w);
    BRM_FAMILY(w, true, family);
    LRESULT r;
    if (family == Family::Tab) {
        if (n < 1)
            return FrParam(0);
        BRM_SEND(w, TCM_SETCURFOCUS, n - 1, 0, r);
        if (GetWindowLongW(w, GWL_STYLE) & TCS_BUTTONS) {
            PostMessageW(w, WM_KEYDOWN, VK_SPACE, 1);
            PostMessageW(w, WM_KEYUP, VK_SPACE, static_cast<LPARAM>(0xC0000001u));
        }
        return FrOk;
    }
    if (family == Family::Combo) {
        BRM_SEND(w, CB_SETCURSEL, n - 1, 0, r);
    } else if (IsMultiSelect(w)) {
        BRM_SEND(w, LB_SETSEL, n != 0, n - 1, r);
    } else {
        BRM_SEND(w, LB_SETCURSEL, n - 1, 0, r);
    }
    if (r == -1 && n != 0)
        return kFailed;
    return NotifyParent(w, family);
}

FResult BifControlChooseString(const Char* item, BRM_CONTROL_PARAMS, ValueRet ret) {
    BRM_FIND(w);
    BRM_FAMILY(w, false, family);
    LRESULT index;
    if (family == Family::Combo) {
        BRM_SEND(w, CB_SELECTSTRING, -1, item, index);
    } else if (IsMultiSelect(w)) {
        BRM_SEND(w, LB_FINDSTRING, -1, item, index);
        if (index < 0)
            return kFailed;
        LRESULT r;
        BRM_SEND(w, LB_SETSEL, TRUE, index, r);
        if (r < 0)
            return kFailed;
    } else {
        BRM_SEND(w, LB_SELECTSTRING, -1, item, index);
    }
    if (index < 0)
        return kFailed;
    ret.result->value.SetInteger(index + 1);
    return NotifyParent(w, family);
}

FResult BifControlFindItem(const Char* item, BRM_CONTROL_PARAMS, ValueRet ret) {
    BRM_FIND(w);
    BRM_FAMILY(w, false, family);
    LRESULT index;
    BRM_SEND(w, family == Family::Combo ? CB_FINDSTRINGEXACT : LB_FINDSTRINGEXACT, -1, item, index);
    if (index < 0)
        return kFailed;
    ret.result->value.SetInteger(index + 1);
    return FrOk;
}

FResult BifControlGetIndex(BRM_CONTROL_PARAMS, ValueRet ret) {
    BRM_FIND(w);
    BRM_FAMILY(w, true, family);
    LRESULT index;
    BRM_SEND(w, family == Family::Combo ? CB_GETCURSEL : family == Family::List ? LB_GETCURSEL : TCM_GETCURSEL, 0, 0,
             index);
    ret.result->value.SetInteger(index < 0 ? 0 : index + 1);
    return FrOk;
}

FResult BifControlGetChoice(BRM_CONTROL_PARAMS, StrRet ret) {
    BRM_FIND(w);
    BRM_FAMILY(w, false, family);
    const bool combo = family == Family::Combo;
    LRESULT index, length, got;
    BRM_SEND(w, combo ? CB_GETCURSEL : LB_GETCURSEL, 0, 0, index);
    if (index < 0)
        return kFailed;
    BRM_SEND(w, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, index, 0, length);
    if (length < 0)
        return kFailed;
    std::wstring s(static_cast<size_t>(length) + 1, L'\0');
    BRM_SEND(w, combo ? CB_GETLBTEXT : LB_GETTEXT, index, s.data(), got);
    if (got < 0 || got > length)
        return kFailed;
    return ret.Set(s.c_str(), static_cast<size_t>(got)) ? FrOk : FrOutOfMemory;
}

FResult BifControlGetItems(BRM_CONTROL_PARAMS, ValueRet ret) {
    BRM_FIND(w);
    BRM_FAMILY(w, false, family);
    const bool combo = family == Family::Combo;
    LRESULT count, longest = 0;
    if (!Send(w, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0, count, kTextTimeoutMs))
        return SendFailed();
    if (count < 0)
        return kFailed;
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length;
        if (!Send(w, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, static_cast<WPARAM>(i), 0, length, kTextTimeoutMs))
            return SendFailed();
        if (length < 0)
            return kFailed;
        if (length > longest)
            longest = length;
    }
    Array* array = Array::Create();
    if (!array)
        return FrOutOfMemory;
    std::wstring s(static_cast<size_t>(longest) + 1, L'\0');
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT got;
        if (!Send(w, combo ? CB_GETLBTEXT : LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(s.data()), got,
                  kTextTimeoutMs) || got < 0 || got > longest || array->AppendText(s.c_str(), static_cast<int32_t>(got)) != Status::Ok) {
            array->Release();
            return kFailed;
        }
    }
    ret.result->value.SetObject(array);
    return FrOk;
}

// --- Edit controls ---

FResult BifEditPaste(const Char* text, BRM_CONTROL_PARAMS) {
    BRM_FIND(w);
    LRESULT r;
    BRM_SEND(w, EM_REPLACESEL, TRUE, text, r);
    ControlDelay();
    return FrOk;
}

FResult BifEditGetLineCount(BRM_CONTROL_PARAMS, ValueRet ret) {
    BRM_FIND(w);
    LRESULT n;
    BRM_SEND(w, EM_GETLINECOUNT, 0, 0, n);
    ret.result->value.SetInteger(n);
    return FrOk;
}

FResult BifEditGetCurrentLine(BRM_CONTROL_PARAMS, ValueRet ret) {
    BRM_FIND(w);
    LRESULT n;
    BRM_SEND(w, EM_LINEFROMCHAR, -1, 0, n);
    ret.result->value.SetInteger(n + 1);
    return FrOk;
}

FResult BifEditGetCurrentCol(BRM_CONTROL_PARAMS, ValueRet ret) {
    BRM_FIND(w);
    DWORD start = 0, end = 0;
    LRESULT r, line, lineStart;
    BRM_SEND(w, EM_GETSEL, &start, &end, r);
    BRM_SEND(w, EM_LINEFROMCHAR, start, 0, line);
    if (line == 0) {
        ret.result->value.SetInteger(static_cast<int64_t>(start) + 1);
        return FrOk;
    }
    BRM_SEND(w, EM_LINEINDEX, line, 0, lineStart);
    ret.result->value.SetInteger(static_cast<int64_t>(start) - lineStart + 1);
    return FrOk;
}

FResult BifEditGetLine(int32_t n, BRM_CONTROL_PARAMS, StrRet ret) {
    if (n < 1)
        return FrParam(0);
    BRM_FIND(w);
    std::wstring s(kMaxEditLine + 1, L'\0');
    s[0] = static_cast<Char>(kMaxEditLine);  // EM_GETLINE reads the buffer size from its first character
    LRESULT got;
    BRM_SEND(w, EM_GETLINE, n - 1, s.data(), got);
    if (got <= 0) {
        LRESULT lines;
        BRM_SEND(w, EM_GETLINECOUNT, 0, 0, lines);
        if (n > lines)
            return FrParam(0);
        got = 0;
    }
    return ret.Set(s.c_str(), static_cast<size_t>(got)) ? FrOk : FrOutOfMemory;
}

FResult BifEditGetSelectedText(BRM_CONTROL_PARAMS, StrRet ret) {
    BRM_FIND(w);
    DWORD start = 0, end = 0;
    LRESULT r;
    BRM_SEND(w, EM_GETSEL, &start, &end, r);
    if (end < start)
        return kFailed;
    if (end == start)
        return FrOk;
    bool ok;
    std::wstring text = ReadText(w, ok);
    if (!ok || text.size() < end)
        return kFailed;
    return ret.Set(text.c_str() + start, end - start) ? FrOk : FrOutOfMemory;
}

// --- MenuSelect ---

namespace {

bool ItemMatches(const Char* element, size_t length, const std::wstring& text) {
    auto same = [&](const std::wstring& t) {
        return t.size() >= length &&
               CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, t.c_str(), static_cast<int>(length), element,
                              static_cast<int>(length)) == CSTR_EQUAL;
    };
    if (same(text))
        return true;
    std::wstring plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&') {
            if (i + 1 < text.size() && text[i + 1] == L'&')
                plain += text[++i];
            continue;
        }
        plain += text[i];
    }
    return same(plain);
}

}  // namespace

FResult BifMenuSelect(Opt<ValueToken*> winTitle, Opt<const Char*> winText, const Char* menu, Opt<const Char*> sub1,
                      Opt<const Char*> sub2, Opt<const Char*> sub3, Opt<const Char*> sub4, Opt<const Char*> sub5,
                      Opt<const Char*> sub6, Opt<const Char*> excludeTitle, Opt<const Char*> excludeText) {
    HWND window;
    if (FResult fr = TargetWindow(winTitle, winText, excludeTitle, excludeText, FindLast::No, window); fr.code)
        return fr;
    const Char* path[7] = {menu, sub1 ? *sub1 : nullptr, sub2 ? *sub2 : nullptr, sub3 ? *sub3 : nullptr,
                           sub4 ? *sub4 : nullptr, sub5 ? *sub5 : nullptr, sub6 ? *sub6 : nullptr};
    int last = 0;
    for (int i = 0; i < 7; ++i)
        if (path[i] && *path[i])
            last = i;
    const bool system = CompareFoldAZ(menu, L"0&") == 0;
    HMENU current = system ? GetSystemMenu(window, FALSE) : GetMenu(window);
    if (!current || !IsMenu(current)) {
        (void)RaiseMsg(ErrorClass::Error, Msg::NonexistentMenu);
        return FrFail;
    }
    int first = system ? 1 : 0;
    UINT id = 0;
    for (int i = first; i <= last; ++i) {
        // The parameter numbers of the path: Menu is the third, SubMenu1 to SubMenu6 follow.
        const int param = 2 + i;
        const Char* element = path[i] ? path[i] : L"";
        size_t length = wcslen(element);
        int count = GetMenuItemCount(current), found = -1;
        if (length && element[length - 1] == L'&') {
            int position = _wtoi(element) - 1;
            if (position >= 0 && position < count)
                found = position;
        } else {
            for (int k = 0; k < count && found < 0; ++k) {
                Char text[kMaxMenuText + 1];
                int n = GetMenuStringW(current, static_cast<UINT>(k), text, kMaxMenuText + 1, MF_BYPOSITION);
                if (n > 0 && ItemMatches(element, length, std::wstring(text, static_cast<size_t>(n))))
                    found = k;
            }
        }
        if (found < 0)
            return FrParam(param);
        if (HMENU sub = GetSubMenu(current, found)) {
            current = sub;
            if (i == last)
                return FrParam(param);
            continue;
        }
        id = GetMenuItemID(current, found);
        if (i != last)
            return FrParam(2 + last);
        break;
    }
    if (!id)
        return FrParam(2 + last);
    if (!PostMessageW(window, system ? WM_SYSCOMMAND : WM_COMMAND, id, 0))
        return FrWin32(0);
    return FrOk;
}

}  // namespace brm
