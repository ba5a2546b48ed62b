// The Control, Edit and MenuSelect functions of the typed table.
#pragma once
#include "system/WinFunctions.h"

// The control parameter and the four criteria that follow it.
#define BRM_CONTROL_PARAMS Opt<ValueToken*> control, BRM_WIN_PARAMS

namespace brm {

FResult BifControlClick(Opt<ValueToken*> control, Opt<ValueToken*> winTitle, Opt<const Char*> winText, Opt<const Char*> whichButton, Opt<int32_t> clickCount, Opt<const Char*> options, Opt<const Char*> excludeTitle, Opt<const Char*> excludeText);
FResult BifControlFocus(BRM_CONTROL_PARAMS);
FResult BifControlSetText(const Char* text, BRM_CONTROL_PARAMS);
FResult BifControlGetText(BRM_CONTROL_PARAMS, StrRet ret);
FResult BifControlShow(BRM_CONTROL_PARAMS);
FResult BifControlHide(BRM_CONTROL_PARAMS);
FResult BifControlGetVisible(BRM_CONTROL_PARAMS, ValueRet ret);
FResult BifControlSetEnabled(int32_t value, BRM_CONTROL_PARAMS);
FResult BifControlGetEnabled(BRM_CONTROL_PARAMS, ValueRet ret);
FResult BifControlSetChecked(int32_t value, BRM_CONTROL_PARAMS);
FResult BifControlGetChecked(BRM_CONTROL_PARAMS, ValueRet ret);
FResult BifControlMove(Opt<int32_t> x, Opt<int32_t> y, Opt<int32_t> width, Opt<int32_t> height, BRM_CONTROL_PARAMS);
FResult BifControlGetPos(Out<int32_t> x, Out<int32_t> y, Out<int32_t> width, Out<int32_t> height, BRM_CONTROL_PARAMS);
FResult BifControlGetFocus(BRM_WIN_PARAMS, ValueRet ret);
FResult BifControlGetHwnd(BRM_CONTROL_PARAMS, ValueRet ret);
FResult BifControlGetClassNN(BRM_CONTROL_PARAMS, StrRet ret);
FResult BifControlGetStyle(BRM_CONTROL_PARAMS, ValueRet ret);
FResult BifControlGetExStyle(BRM_CONTROL_PARAMS, ValueRet ret);
FResult BifControlSetStyle(ValueToken& value, BRM_CONTROL_PARAMS);
FResult BifControlSetExStyle(ValueToken& value, BRM_CONTROL_PARAMS);
FResult BifControlShowDropDown(BRM_CONTROL_PARAMS);
FResult BifControlHideDropDown(BRM_CONTROL_PARAMS);
FResult BifControlAddItem(const Char* item, BRM_CONTROL_PARAMS, ValueRet ret);
FResult BifControlDeleteItem(int32_t n, BRM_CONTROL_PARAMS);
FResult BifControlChooseIndex(int32_t n, BRM_CONTROL_PARAMS);
FResult BifControlChooseString(const Char* item, BRM_CONTROL_PARAMS, ValueRet ret);
FResult BifControlFindItem(const Char* item, BRM_CONTROL_PARAMS, ValueRet ret);
FResult BifControlGetIndex(BRM_CONTROL_PARAMS, ValueRet ret);
FResult BifControlGetChoice(BRM_CONTROL_PARAMS, StrRet ret);
FResult BifControlGetItems(BRM_CONTROL_PARAMS, ValueRet ret);
FResult BifEditPaste(const Char* text, BRM_CONTROL_PARAMS);
FResult BifEditGetLineCount(BRM_CONTROL_PARAMS, ValueRet ret);
FResult BifEditGetCurrentLine(BRM_CONTROL_PARAMS, ValueRet ret);
FResult BifEditGetCurrentCol(BRM_CONTROL_PARAMS, ValueRet ret);
FResult BifEditGetLine(int32_t n, BRM_CONTROL_PARAMS, StrRet ret);
FResult BifEditGetSelectedText(BRM_CONTROL_PARAMS, StrRet ret);
FResult BifMenuSelect(Opt<ValueToken*> winTitle, Opt<const Char*> winText, const Char* menu, Opt<const Char*> sub1, Opt<const Char*> sub2, Opt<const Char*> sub3, Opt<const Char*> sub4, Opt<const Char*> sub5, Opt<const Char*> sub6, Opt<const Char*> excludeTitle, Opt<const Char*> excludeText);

}  // namespace brm
