// The Win functions of the typed table, and the parameter lists they share.
#pragma once
#include "system/WindowSearch.h"

// The criteria parameters: WinTitle, WinText, ExcludeTitle, ExcludeText.
#define BRM_WIN_PARAMS                                                                                    \
    Opt<ValueToken*> winTitle, Opt<const Char*> winText, Opt<const Char*> excludeTitle,                  \
        Opt<const Char*> excludeText
// The waits and the closing functions take seconds between WinText and ExcludeTitle.
#define BRM_WAIT_PARAMS                                                                                   \
    Opt<ValueToken*> winTitle, Opt<const Char*> winText, Opt<double> seconds, Opt<const Char*> excludeTitle, \
        Opt<const Char*> excludeText

namespace brm {

FResult BifWinExist(BRM_WIN_PARAMS, ValueRet ret);
FResult BifWinActive(BRM_WIN_PARAMS, ValueRet ret);
FResult BifWinActivate(BRM_WIN_PARAMS);
FResult BifWinActivateBottom(BRM_WIN_PARAMS);
FResult BifWinShow(BRM_WIN_PARAMS);
FResult BifWinHide(BRM_WIN_PARAMS);
FResult BifWinMinimize(BRM_WIN_PARAMS);
FResult BifWinMaximize(BRM_WIN_PARAMS);
FResult BifWinRestore(BRM_WIN_PARAMS);
FResult BifWinClose(BRM_WAIT_PARAMS);
FResult BifWinKill(BRM_WAIT_PARAMS);
FResult BifWinWait(BRM_WAIT_PARAMS, ValueRet ret);
FResult BifWinWaitActive(BRM_WAIT_PARAMS, ValueRet ret);
FResult BifWinWaitClose(BRM_WAIT_PARAMS, ValueRet ret);
FResult BifWinWaitNotActive(BRM_WAIT_PARAMS, ValueRet ret);
FResult BifWinMove(Opt<int32_t> x, Opt<int32_t> y, Opt<int32_t> width, Opt<int32_t> height, BRM_WIN_PARAMS);
FResult BifWinGetPos(Out<int32_t> x, Out<int32_t> y, Out<int32_t> width, Out<int32_t> height, BRM_WIN_PARAMS);
FResult BifWinGetClientPos(Out<int32_t> x, Out<int32_t> y, Out<int32_t> width, Out<int32_t> height, BRM_WIN_PARAMS);
FResult BifWinGetTitle(BRM_WIN_PARAMS, StrRet ret);
FResult BifWinGetClass(BRM_WIN_PARAMS, StrRet ret);
FResult BifWinGetText(BRM_WIN_PARAMS, StrRet ret);
FResult BifWinGetID(BRM_WIN_PARAMS, ValueRet ret);
FResult BifWinGetIDLast(BRM_WIN_PARAMS, ValueRet ret);
FResult BifWinGetCount(BRM_WIN_PARAMS, ValueRet ret);
FResult BifWinGetList(BRM_WIN_PARAMS, ValueRet ret);
FResult BifWinGetPID(BRM_WIN_PARAMS, ValueRet ret);
FResult BifWinGetProcessName(BRM_WIN_PARAMS, StrRet ret);
FResult BifWinGetProcessPath(BRM_WIN_PARAMS, StrRet ret);
FResult BifWinGetMinMax(BRM_WIN_PARAMS, ValueRet ret);
FResult BifWinGetStyle(BRM_WIN_PARAMS, ValueRet ret);
FResult BifWinGetExStyle(BRM_WIN_PARAMS, ValueRet ret);
FResult BifWinSetStyle(ValueToken& value, BRM_WIN_PARAMS);
FResult BifWinSetExStyle(ValueToken& value, BRM_WIN_PARAMS);
FResult BifWinGetTransparent(BRM_WIN_PARAMS, ValueRet ret);
FResult BifWinSetTransparent(ValueToken& value, BRM_WIN_PARAMS);
FResult BifWinGetTransColor(BRM_WIN_PARAMS, StrRet ret);
FResult BifWinSetTransColor(ValueToken& value, BRM_WIN_PARAMS);
FResult BifWinSetAlwaysOnTop(Opt<int32_t> value, BRM_WIN_PARAMS);
FResult BifWinMoveTop(BRM_WIN_PARAMS);
FResult BifWinMoveBottom(BRM_WIN_PARAMS);
FResult BifWinRedraw(BRM_WIN_PARAMS);
FResult BifWinSetTitle(const Char* newTitle, BRM_WIN_PARAMS);
FResult BifWinSetEnabled(int32_t value, BRM_WIN_PARAMS);
FResult BifWinSetRegion(Opt<const Char*> options, BRM_WIN_PARAMS);
FResult BifWinGetControls(BRM_WIN_PARAMS, ValueRet ret);
FResult BifWinGetControlsHwnd(BRM_WIN_PARAMS, ValueRet ret);
FResult BifWinMinimizeAll();
FResult BifWinMinimizeAllUndo();

}  // namespace brm
