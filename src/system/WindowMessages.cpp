// SendMessage and PostMessage. The target is a window or control handle; window criteria arrive with
// the window search.
#include <windows.h>
#include "base/Messages.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "objects/MdFunc.h"

namespace brm {

namespace {

constexpr int64_t kDefaultSendTimeoutMs = 5000;

// A message parameter: an integer or numeric text.
bool MessageParam(const Opt<ValueToken*>& value, uintptr_t& out) {
    out = 0;
    if (!value) return true;
    ValueToken number;
    if (TokenIsNumeric(**value) == NumericKind::None || !TokenToNumber(**value, number) || number.symbol != SymInteger)
        return false;
    out = static_cast<uintptr_t>(number.valueInt64);
    return true;
}

// The Control value when it is a handle, else the WinTitle value as a handle.
FResult FindTarget(const Opt<ValueToken*>& control, const Opt<ValueToken*>& winTitle, HWND& out) {
    const Opt<ValueToken*>& given = control ? control : winTitle;
    out = nullptr;
    if (given && TokenIsPureNumeric(**given) == NumericKind::Integer)
        out = reinterpret_cast<HWND>(static_cast<uintptr_t>(TokenToInt64(**given)));
    if (!out || (!IsWindow(out) && out != reinterpret_cast<HWND>(0xFFFF))) {
        (void)RaiseMsg(ErrorClass::TargetError, Msg::TargetWindowNotFound);
        return FrFail;
    }
    return FrOk;
}

}  // namespace

// SendMessage Msg [, wParam, lParam, Control, WinTitle, WinText, ExcludeTitle, ExcludeText, Timeout]
FResult BifSendMessage(uint32_t message, Opt<ValueToken*> wParam, Opt<ValueToken*> lParam, Opt<ValueToken*> control,
                       Opt<ValueToken*> winTitle, Opt<const Char*>, Opt<const Char*>, Opt<const Char*>,
                       Opt<int64_t> timeout, ValueRet ret) {
    uintptr_t w, l;
    if (!MessageParam(wParam, w)) return FrParam(1);
    if (!MessageParam(lParam, l)) return FrParam(2);
    HWND target;
    if (FResult fr = FindTarget(control, winTitle, target); fr.code) return fr;
    DWORD_PTR answer = 0;
    UINT ms = static_cast<UINT>(timeout ? *timeout : kDefaultSendTimeoutMs);
    if (!SendMessageTimeoutW(target, message, w, static_cast<LPARAM>(l), SMTO_ABORTIFHUNG, ms, &answer)) {
        (void)RaiseMsg(ErrorClass::TargetError, Msg::SendTimeout);
        return FrFail;
    }
    ret.result->value.SetInteger(static_cast<int64_t>(static_cast<intptr_t>(answer)));
    return FrOk;
}

// PostMessage Msg [, wParam, lParam, Control, WinTitle, WinText, ExcludeTitle, ExcludeText]
FResult BifPostMessage(uint32_t message, Opt<ValueToken*> wParam, Opt<ValueToken*> lParam, Opt<ValueToken*> control,
                       Opt<ValueToken*> winTitle, Opt<const Char*>, Opt<const Char*>, Opt<const Char*>) {
    uintptr_t w, l;
    if (!MessageParam(wParam, w)) return FrParam(1);
    if (!MessageParam(lParam, l)) return FrParam(2);
    HWND target;
    if (FResult fr = FindTarget(control, winTitle, target); fr.code) return fr;
    if (!PostMessageW(target, message, w, static_cast<LPARAM>(l))) return FrWin32(0);
    return FrOk;
}

}  // namespace brm
