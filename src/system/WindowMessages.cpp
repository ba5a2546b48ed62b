// SendMessage and PostMessage: the target is a control or window found by the window search.
#include <windows.h>
#include "base/Messages.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "interop/NativeMemory.h"
#include "objects/MdFunc.h"
#include "system/WindowSearch.h"

namespace brm {

namespace {

constexpr int64_t kDefaultSendTimeoutMs = 5000;

// A message parameter: an integer, numeric text, or the address of a Buffer or of any object with a Ptr
// property (so a script can pass a structure for the receiver to fill).
FResult MessageParam(const Opt<ValueToken*>& value, int index, uintptr_t& out) {
    out = 0;
    if (!value) return FrOk;
    ValueToken v = **value;
    if (v.symbol == SymVariable) v.var->ToToken(v);
    if (v.symbol == SymObject) return GetBufferPtr(v.object, out) == Status::Ok ? FrOk : FrFail;
    ValueToken number;
    if (TokenIsNumeric(v) == NumericKind::None || !TokenToNumber(v, number) || number.symbol != SymInteger)
        return FrParam(index);
    out = static_cast<uintptr_t>(number.valueInt64);
    return FrOk;
}

bool IsBroadcast(const Opt<ValueToken*>& value) {
    return value && TokenKind(**value) == SymInteger && TokenToInt64(**value) == 0xFFFF;
}

// The control or window the message goes to. The broadcast handle stays a broadcast here, where it is what
// the message functions ask for; window functions never take it as a target.
FResult FindTarget(const Opt<ValueToken*>& control, const Opt<ValueToken*>& winTitle, const Opt<const Char*>& winText,
                   const Opt<const Char*>& excludeTitle, const Opt<const Char*>& excludeText, HWND& out) {
    if (IsBroadcast(control) || (!control && IsBroadcast(winTitle))) {
        out = HWND_BROADCAST;
        return FrOk;
    }
    return TargetControl(control, winTitle, winText, excludeTitle, excludeText, ControlRequired::Yes, out);
}

}  // namespace

// SendMessage Msg [, wParam, lParam, Control, WinTitle, WinText, ExcludeTitle, ExcludeText, Timeout]
FResult BifSendMessage(uint32_t message, Opt<ValueToken*> wParam, Opt<ValueToken*> lParam, Opt<ValueToken*> control,
                       Opt<ValueToken*> winTitle, Opt<const Char*> winText, Opt<const Char*> excludeTitle,
                       Opt<const Char*> excludeText, Opt<int64_t> timeout, ValueRet ret) {
    uintptr_t w, l;
    if (FResult fr = MessageParam(wParam, 1, w); fr.code) return fr;
    if (FResult fr = MessageParam(lParam, 2, l); fr.code) return fr;
    HWND target;
    if (FResult fr = FindTarget(control, winTitle, winText, excludeTitle, excludeText, target); fr.code) return fr;
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
                       Opt<ValueToken*> winTitle, Opt<const Char*> winText, Opt<const Char*> excludeTitle,
                       Opt<const Char*> excludeText) {
    uintptr_t w, l;
    if (FResult fr = MessageParam(wParam, 1, w); fr.code) return fr;
    if (FResult fr = MessageParam(lParam, 2, l); fr.code) return fr;
    HWND target;
    if (FResult fr = FindTarget(control, winTitle, winText, excludeTitle, excludeText, target); fr.code) return fr;
    if (!PostMessageW(target, message, w, static_cast<LPARAM>(l))) return FrWin32(0);
    return FrOk;
}

}  // namespace brm
