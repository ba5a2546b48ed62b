// The screen, mouse, caret and monitor functions of the typed table.
#pragma once
#include "system/WindowSearch.h"

namespace brm {

FResult BifMouseGetPos(Out<ValueRet> x, Out<ValueRet> y, Out<ValueRet> win, Out<ValueRet> control, Opt<int32_t> flag);
FResult BifCaretGetPos(Out<ValueRet> x, Out<ValueRet> y, ValueRet ret);
FResult BifMonitorGetCount(ValueRet ret);
FResult BifMonitorGetPrimary(ValueRet ret);
FResult BifMonitorGet(Opt<int32_t> n, Out<int32_t> left, Out<int32_t> top, Out<int32_t> right, Out<int32_t> bottom, ValueRet ret);
FResult BifMonitorGetWorkArea(Opt<int32_t> n, Out<int32_t> left, Out<int32_t> top, Out<int32_t> right, Out<int32_t> bottom, ValueRet ret);
FResult BifMonitorGetName(Opt<int32_t> n, StrRet ret);
int32_t BifSysGet(int32_t index);
FResult BifBlockInput(const Char* mode);
FResult BifToolTip(Opt<const Char*> text, Opt<int32_t> x, Opt<int32_t> y, Opt<int32_t> number, ValueRet ret);

}  // namespace brm
