// The typed function table, the argument conversions the generic caller uses, and FResult decoding.
#include "objects/MdFunc.h"
#include <windows.h>
#include <cstdlib>
#include <new>
#include "base/Pool.h"
#include "base/SortedTable.h"
#include "interop/Callback.h"
#include "lib/StringFunctions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "lib/DateFunctions.h"
#include "loader/BlockLinker.h"
#include "objects/BuiltInFunctions.h"
#include "objects/BuiltInVars.h"
#include "objects/Object.h"
#include "objects/VarRef.h"
#include "runtime/PseudoThread.h"
#include "startup/Exit.h"
#include "startup/ScriptHost.h"
#include "system/Encoding.h"
#include "system/FileFunctions.h"
#include "system/IniFile.h"
#include "system/Launch.h"
#include "system/ControlFunctions.h"
#include "system/ScreenFunctions.h"
#include "system/WinFunctions.h"

namespace brm {

// --- FResult ---

namespace {

// Raises the failure a negative FResult describes (facility 0: the routine raised it already).
Status RaiseFResult(uint32_t code, ValueToken** params, int count) {
    if (!(code & 0x20000000u))
        return RaiseOSErrorCode(code);
    if ((code & 0xE0000000u) == 0xE0000000u) {
        Char digits[16];
        FormatMessageText(digits, 16, L"%u", code & 0x0FFFFFFFu);
        return RaiseMsg(ErrorClass::Error, Msg::Failed, digits);
    }
    const uint32_t facility = (code >> 16) & 0x1FFF, low = code & 0xFFFF;
    switch (facility) {
    case 0: return Status::Fail;
    case 7: return RaiseOSErrorCode(low ? low : GetLastError());
    case 10:
        if (low == 0xFFFF)
            return RaiseMsg(ErrorClass::ValueError, Msg::InvalidParams);
        // The argument is quoted when there was one (an object by its type name).
        if (static_cast<int>(low) < count && params[low]->symbol != SymMissing)
            return RaiseParamError(static_cast<int>(low), *params[low]);
        return RaiseFormatted(ErrorClass::ValueError, nullptr, Msg::ParamInvalid, static_cast<int>(low) + 1);
    default:
        return low == 1 ? RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory)
                        : RaiseMsg(ErrorClass::Error, Msg::Failed);
    }
}

}  // namespace

Status DecodeFResult(FResult fr, CallResult& result, ValueToken** params, int count) {
    if (fr.code >= 0 && fr.code != FrContinued.code)
        return Status::Ok;
    // An error the user continued keeps the call going, but like a failure leaves no value behind.
    Status s = fr.code >= 0 ? Status::Ok : RaiseFResult(static_cast<uint32_t>(fr.code), params, count);
    if (result.value.symbol == SymObject)
        result.value.object->Release();
    if (result.memToFree) {
        free(result.memToFree);
        result.memToFree = nullptr;
    }
    result.value.SetString(L"", 0);
    return s;
}

bool StrRet::Set(const Char* text, size_t length) {
    Char* target = result->buffer;
    if (length >= static_cast<size_t>(kScratchChars)) {
        target = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
        if (!target)
            return false;
        if (result->memToFree)
            free(result->memToFree);
        result->memToFree = target;
    }
    wmemmove(target, text, length);
    target[length] = L'\0';
    result->value.SetString(target, static_cast<int32_t>(length));
    return true;
}

// --- Signature reading ---

namespace {

// The modifiers of the entry for script parameter `index`; false when there is no such parameter.
bool FindScriptEntry(const uint8_t* signature, int index, bool& optional, bool& output) {
    for (const uint8_t* p = signature; *p;) {
        bool isOptional = false, isOutput = false, isRetVal = false;
        for (; *p >= MdOptional; ++p) {
            isOptional |= *p == MdOptional;
            isOutput |= *p == MdOutput;
            isRetVal |= *p == MdRetVal;
        }
        const uint8_t type = *p++;
        if (isRetVal || type == MdRest)
            continue;
        if (index-- == 0) {
            optional = isOptional;
            output = isOutput;
            return true;
        }
    }
    return false;
}

}  // namespace

bool SignatureArgIsOutput(const uint8_t* signature, int index) {
    bool optional, output;
    return FindScriptEntry(signature, index, optional, output) && output;
}

bool SignatureArgIsOptional(const uint8_t* signature, int index) {
    bool optional, output;
    return FindScriptEntry(signature, index, optional, output) && optional;
}

// --- Argument conversions ---

namespace md {

Status RaiseOmitted(int index) { return RaiseFormatted(ErrorClass::ValueError, nullptr, Msg::ParamNotOmitted, index + 1); }

Status RaiseOutputNeedsVar(int index, const ValueToken& arg) { return RaiseParamTypeError(index, L"VarRef", arg); }

Var* OutputVar(ValueToken& arg) {
    if (arg.symbol == SymVariable && arg.varUsage != VarUsageRead && arg.varUsage != VarUsageMaybeUnset)
        return arg.var->Target();
    IObject* o = arg.symbol == SymObject ? arg.object
                 : (arg.symbol == SymVariable && arg.var->IsObject()) ? arg.var->Object() : nullptr;
    if (auto* ref = dynamic_cast<VarRef*>(o))
        return ref->Body().Target();
    return nullptr;
}

Status LoadString(ValueToken& arg, int index, Char* buffer, const Char*& text) {
    if (TokenKind(arg) == SymObject)
        return RaiseParamTypeError(index, L"String", arg);
    text = TokenToString(arg, buffer);
    return Status::Ok;
}

Status LoadObject(ValueToken& arg, int index, IObject*& object) {
    object = arg.symbol == SymObject ? arg.object
             : (arg.symbol == SymVariable && arg.var->IsObject()) ? arg.var->Object() : nullptr;
    if (!object)
        return RaiseParamTypeError(index, L"Object", arg);
    return Status::Ok;
}

Status LoadNumber(ValueToken& arg, int index, bool wantFloat, int64_t& i, double& d) {
    ValueToken n;
    if (!TokenToNumber(arg, n))
        return RaiseParamTypeError(index, L"Number", arg);
    if (n.symbol == SymInteger) {
        i = n.valueInt64;
        d = static_cast<double>(n.valueInt64);
    } else {
        d = n.valueDouble;
        i = wantFloat ? 0 : FloatToInt64(n.valueDouble);
    }
    return Status::Ok;
}

void StoreInteger(Var* var, int64_t value) { (void)var->AssignInteger(value); }
void StoreFloat(Var* var, double value) { (void)var->AssignFloat(value); }
void StoreValue(Var* var, const ValueToken& value) { (void)var->Assign(value); }
void MarkUnset(Var* var) { var->Free(VarFreeMemory | VarFreeMarkUnset); }

}  // namespace md

// --- Routines of the typed table ---

namespace {

FResult EnvGet(const Char* name, StrRet ret) {
    Char buffer[kScratchChars];
    DWORD n = GetEnvironmentVariableW(name, buffer, kScratchChars);
    if (n < static_cast<DWORD>(kScratchChars))
        return ret.Set(buffer, n) ? FrOk : FrOutOfMemory;
    auto* big = static_cast<Char*>(malloc(n * sizeof(Char)));
    if (!big)
        return FrOutOfMemory;
    DWORD m = GetEnvironmentVariableW(name, big, n);
    bool ok = ret.Set(big, m < n ? m : 0);
    free(big);
    return ok ? FrOk : FrOutOfMemory;
}

// Removing a variable that is not there is no failure.
FResult EnvSet(const Char* name, Opt<const Char*> value) {
    if (SetEnvironmentVariableW(name, value ? *value : nullptr))
        return FrOk;
    DWORD code = GetLastError();
    if (!value && code == ERROR_ENVVAR_NOT_FOUND)
        return FrOk;
    return FrWin32(code ? code : ERROR_INVALID_PARAMETER);
}

// Without parameters, the script's own process.
uint32_t ProcessExist() { return GetCurrentProcessId(); }

// Whether a Goto could reach a label of that name.
bool IsLabel(const Char* name) {
    // The scope is that of the line calling IsLabel.
    const ScriptLine* caller = g_script.currentLine;
    const Label* label = FindLabel(name, wcslen(name), caller ? LabelScopeOf(caller) : nullptr);
    return label && label->line;
}

// Exit and ExitApp return the status that ends the thread; a code that is not a number is refused before.
Status Exit(Opt<int32_t> code) {
    // With one thread running, the code is kept for the exit that follows when the script is not resident.
    if (code)
        g_script.exitCode = *code;
    return Status::EarlyExit;
}

Status ExitAppRoutine(Opt<int32_t> code) {
    ExitApp(code ? *code : 0);
    // An OnExit callback cancelled the exit: the calling thread ends as by Exit.
    return Status::EarlyExit;
}

// --- Functions that change the running thread's settings and hand back the previous one ---

bool EqualsFold(const Char* a, const Char* b) { return CompareFoldAZ(a, wcslen(a), b, wcslen(b)) == 0; }

FResult CoordMode(const Char* target, Opt<const Char*> mode, StrRet ret) {
    static constexpr struct {
        const Char* name;
        int shift;
    } kTargets[] = {{L"Caret", CoordCaret}, {L"Menu", CoordMenu}, {L"Mouse", CoordMouse}, {L"Pixel", CoordPixel},
                    {L"ToolTip", CoordToolTip}};
    int shift = -1;
    for (const auto& t : kTargets)
        if (EqualsFold(target, t.name))
            shift = t.shift;
    if (shift < 0)
        return FrParam(0);
    int newMode = 2;  // "Screen" when omitted
    if (mode && !ParseCoordMode(*mode, newMode))
        return FrParam(1);
    const Char* previous = CoordModeName((g_thread->settings.coordModes >> shift) & 3);
    SetCoordModeBits(shift, newMode);
    return ret.Set(previous, wcslen(previous)) ? FrOk : FrOutOfMemory;
}

FResult DetectHidden(bool& setting, bool mode, ValueRet ret) {
    ret.result->value.SetInteger(setting ? 1 : 0);
    setting = mode;
    return FrOk;
}
FResult DetectHiddenText(bool mode, ValueRet ret) { return DetectHidden(g_thread->settings.detectHiddenText, mode, ret); }
FResult DetectHiddenWindows(bool mode, ValueRet ret) {
    return DetectHidden(g_thread->settings.detectHiddenWindows, mode, ret);
}

FResult FileEncoding(const Char* name, StrRet ret) {
    uint32_t encoding;
    if (!ParseEncodingName(name, encoding))
        return FrParam(0);
    Char previous[32];
    int length = FormatEncodingName(g_thread->settings.fileEncoding, previous);
    g_thread->settings.fileEncoding = encoding;
    return ret.Set(previous, static_cast<size_t>(length)) ? FrOk : FrOutOfMemory;
}

FResult SetDelay(int32_t& setting, int32_t delay, ValueRet ret) {
    if (delay < -1)
        return FrParam(0);
    ret.result->value.SetInteger(setting);
    setting = delay;
    return FrOk;
}
FResult SetControlDelay(int32_t delay, ValueRet ret) { return SetDelay(g_thread->settings.controlDelay, delay, ret); }
FResult SetWinDelay(int32_t delay, ValueRet ret) { return SetDelay(g_thread->settings.winDelay, delay, ret); }

FResult SetRegView(const Char* view, StrRet ret) {
    int32_t value;
    if (!ParseRegView(view, value))
        return FrParam(0);
    const Char* previous = RegViewName(g_thread->settings.regView);
    StoreRegView(value);
    return ret.Set(previous, wcslen(previous)) ? FrOk : FrOutOfMemory;
}

// A mode word gives back the previous mode (an Integer, or "RegEx"); a speed word the previous speed.
FResult SetTitleMatchMode(const Char* mode, ValueRet ret) {
    const ThreadSettings before = g_thread->settings;
    if (!ApplyTitleMatchWord(mode))
        return FrParam(0);
    CallResult& r = *ret.result;
    if (EqualsFold(mode, L"Fast") || EqualsFold(mode, L"Slow"))
        r.value.SetString(before.titleMatchFast ? L"Fast" : L"Slow", 4);
    else if (before.titleMatchMode == 4)
        r.value.SetString(L"RegEx", 5);
    else
        r.value.SetInteger(before.titleMatchMode);
    return FrOk;
}

// Sorted by name (A-to-Z fold); the static_assert below keeps it so.
constexpr MdFuncDef kTypedFunctions[] = {
    BRM_MD_ROW(L"BlockInput", BifBlockInput),
    BRM_MD_ROW(L"CallbackCreate", BifCallbackCreate),
    BRM_MD_ROW(L"CallbackFree", BifCallbackFree),
    BRM_MD_ROW(L"CaretGetPos", BifCaretGetPos),
    BRM_MD_ROW(L"ControlAddItem", BifControlAddItem),
    BRM_MD_ROW(L"ControlChooseIndex", BifControlChooseIndex),
    BRM_MD_ROW(L"ControlChooseString", BifControlChooseString),
    BRM_MD_ROW(L"ControlClick", BifControlClick),
    BRM_MD_ROW(L"ControlDeleteItem", BifControlDeleteItem),
    BRM_MD_ROW(L"ControlFindItem", BifControlFindItem),
    BRM_MD_ROW(L"ControlFocus", BifControlFocus),
    BRM_MD_ROW(L"ControlGetChecked", BifControlGetChecked),
    BRM_MD_ROW(L"ControlGetChoice", BifControlGetChoice),
    BRM_MD_ROW(L"ControlGetClassNN", BifControlGetClassNN),
    BRM_MD_ROW(L"ControlGetEnabled", BifControlGetEnabled),
    BRM_MD_ROW(L"ControlGetExStyle", BifControlGetExStyle),
    BRM_MD_ROW(L"ControlGetFocus", BifControlGetFocus),
    BRM_MD_ROW(L"ControlGetHwnd", BifControlGetHwnd),
    BRM_MD_ROW(L"ControlGetIndex", BifControlGetIndex),
    BRM_MD_ROW(L"ControlGetItems", BifControlGetItems),
    BRM_MD_ROW(L"ControlGetPos", BifControlGetPos),
    BRM_MD_ROW(L"ControlGetStyle", BifControlGetStyle),
    BRM_MD_ROW(L"ControlGetText", BifControlGetText),
    BRM_MD_ROW(L"ControlGetVisible", BifControlGetVisible),
    BRM_MD_ROW(L"ControlHide", BifControlHide),
    BRM_MD_ROW(L"ControlHideDropDown", BifControlHideDropDown),
    BRM_MD_ROW(L"ControlMove", BifControlMove),
    BRM_MD_ROW(L"ControlSetChecked", BifControlSetChecked),
    BRM_MD_ROW(L"ControlSetEnabled", BifControlSetEnabled),
    BRM_MD_ROW(L"ControlSetExStyle", BifControlSetExStyle),
    BRM_MD_ROW(L"ControlSetStyle", BifControlSetStyle),
    BRM_MD_ROW(L"ControlSetText", BifControlSetText),
    BRM_MD_ROW(L"ControlShow", BifControlShow),
    BRM_MD_ROW(L"ControlShowDropDown", BifControlShowDropDown),
    BRM_MD_ROW(L"CoordMode", CoordMode),
    BRM_MD_ROW(L"Critical", BifCritical),
    BRM_MD_ROW(L"DateAdd", BifDateAdd),
    BRM_MD_ROW(L"DateDiff", BifDateDiff),
    BRM_MD_ROW(L"DetectHiddenText", DetectHiddenText),
    BRM_MD_ROW(L"DetectHiddenWindows", DetectHiddenWindows),
    BRM_MD_ROW(L"DirCopy", BifDirCopy),
    BRM_MD_ROW(L"DirCreate", BifDirCreate),
    BRM_MD_ROW(L"DirDelete", BifDirDelete),
    BRM_MD_ROW(L"DirExist", BifDirExist),
    BRM_MD_ROW(L"DirMove", BifDirMove),
    BRM_MD_ROW(L"Edit", BifEdit),
    BRM_MD_ROW(L"EditGetCurrentCol", BifEditGetCurrentCol),
    BRM_MD_ROW(L"EditGetCurrentLine", BifEditGetCurrentLine),
    BRM_MD_ROW(L"EditGetLine", BifEditGetLine),
    BRM_MD_ROW(L"EditGetLineCount", BifEditGetLineCount),
    BRM_MD_ROW(L"EditGetSelectedText", BifEditGetSelectedText),
    BRM_MD_ROW(L"EditPaste", BifEditPaste),
    BRM_MD_ROW(L"EnvGet", EnvGet),
    BRM_MD_ROW(L"EnvSet", EnvSet),
    BRM_MD_ROW(L"Exit", Exit),
    BRM_MD_ROW(L"ExitApp", ExitAppRoutine),
    BRM_MD_ROW(L"FileAppend", BifFileAppend),
    BRM_MD_ROW(L"FileCopy", BifFileCopy),
    BRM_MD_ROW(L"FileCreateShortcut", BifFileCreateShortcut),
    BRM_MD_ROW(L"FileDelete", BifFileDelete),
    BRM_MD_ROW(L"FileEncoding", FileEncoding),
    BRM_MD_ROW(L"FileExist", BifFileExist),
    BRM_MD_ROW(L"FileGetAttrib", BifFileGetAttrib),
    BRM_MD_ROW(L"FileGetShortcut", BifFileGetShortcut),
    BRM_MD_ROW(L"FileGetSize", BifFileGetSize),
    BRM_MD_ROW(L"FileGetTime", BifFileGetTime),
    BRM_MD_ROW(L"FileGetVersion", BifFileGetVersion),
    BRM_MD_ROW(L"FileInstall", BifFileInstall),
    BRM_MD_ROW(L"FileMove", BifFileMove),
    BRM_MD_ROW(L"FileOpen", BifFileOpen),
    BRM_MD_ROW(L"FileRead", BifFileRead),
    BRM_MD_ROW(L"FileRecycle", BifFileRecycle),
    BRM_MD_ROW(L"FileRecycleEmpty", BifFileRecycleEmpty),
    BRM_MD_ROW(L"FileSetAttrib", BifFileSetAttrib),
    BRM_MD_ROW(L"FileSetTime", BifFileSetTime),
    BRM_MD_ROW(L"GroupActivate", BifGroupActivate),
    BRM_MD_ROW(L"GroupAdd", BifGroupAdd),
    BRM_MD_ROW(L"GroupClose", BifGroupClose),
    BRM_MD_ROW(L"GroupDeactivate", BifGroupDeactivate),
    BRM_MD_ROW(L"IniDelete", BifIniDelete),
    BRM_MD_ROW(L"IniRead", BifIniRead),
    BRM_MD_ROW(L"IniWrite", BifIniWrite),
    BRM_MD_ROW(L"IsLabel", IsLabel),
    BRM_MD_ROW(L"KeyHistory", BifKeyHistory),
    BRM_MD_ROW(L"ListHotkeys", BifListHotkeys),
    BRM_MD_ROW(L"ListLines", BifListLines),
    BRM_MD_ROW(L"ListVars", BifListVars),
    BRM_MD_ROW(L"MenuFromHandle", BifMenuFromHandle),
    BRM_MD_ROW(L"MenuSelect", BifMenuSelect),
    BRM_MD_ROW(L"MonitorGet", BifMonitorGet),
    BRM_MD_ROW(L"MonitorGetCount", BifMonitorGetCount),
    BRM_MD_ROW(L"MonitorGetName", BifMonitorGetName),
    BRM_MD_ROW(L"MonitorGetPrimary", BifMonitorGetPrimary),
    BRM_MD_ROW(L"MonitorGetWorkArea", BifMonitorGetWorkArea),
    BRM_MD_ROW(L"MouseGetPos", BifMouseGetPos),
    BRM_MD_ROW(L"OnError", BifOnError),
    BRM_MD_ROW(L"OnExit", BifOnExit),
    BRM_MD_ROW(L"OnMessage", BifOnMessage),
    BRM_MD_ROW(L"Pause", BifPause),
    BRM_MD_ROW(L"Persistent", BifPersistent),
    BRM_MD_ROW(L"PostMessage", BifPostMessage),
    BRM_MD_ROW(L"ProcessExist", ProcessExist),
    BRM_MD_ROW(L"Reload", BifReload),
    BRM_MD_ROW(L"Run", BifRun),
    BRM_MD_ROW(L"RunAs", BifRunAs),
    BRM_MD_ROW(L"SendMessage", BifSendMessage),
    BRM_MD_ROW(L"SetControlDelay", SetControlDelay),
    BRM_MD_ROW(L"SetRegView", SetRegView),
    BRM_MD_ROW(L"SetTimer", BifSetTimer),
    BRM_MD_ROW(L"SetTitleMatchMode", SetTitleMatchMode),
    BRM_MD_ROW(L"SetWinDelay", SetWinDelay),
    BRM_MD_ROW(L"Sleep", BifSleep),
    BRM_MD_ROW(L"StrSplit", BifStrSplit),
    BRM_MD_ROW(L"SysGet", BifSysGet),
    BRM_MD_ROW(L"Thread", BifThread),
    BRM_MD_ROW(L"ToolTip", BifToolTip),
    BRM_MD_ROW(L"TraySetIcon", BifTraySetIcon),
    BRM_MD_ROW(L"TrayTip", BifTrayTip),
    BRM_MD_ROW(L"WinActivate", BifWinActivate),
    BRM_MD_ROW(L"WinActivateBottom", BifWinActivateBottom),
    BRM_MD_ROW(L"WinActive", BifWinActive),
    BRM_MD_ROW(L"WinClose", BifWinClose),
    BRM_MD_ROW(L"WinExist", BifWinExist),
    BRM_MD_ROW(L"WinGetClass", BifWinGetClass),
    BRM_MD_ROW(L"WinGetClientPos", BifWinGetClientPos),
    BRM_MD_ROW(L"WinGetControls", BifWinGetControls),
    BRM_MD_ROW(L"WinGetControlsHwnd", BifWinGetControlsHwnd),
    BRM_MD_ROW(L"WinGetCount", BifWinGetCount),
    BRM_MD_ROW(L"WinGetExStyle", BifWinGetExStyle),
    BRM_MD_ROW(L"WinGetID", BifWinGetID),
    BRM_MD_ROW(L"WinGetIDLast", BifWinGetIDLast),
    BRM_MD_ROW(L"WinGetList", BifWinGetList),
    BRM_MD_ROW(L"WinGetMinMax", BifWinGetMinMax),
    BRM_MD_ROW(L"WinGetPID", BifWinGetPID),
    BRM_MD_ROW(L"WinGetPos", BifWinGetPos),
    BRM_MD_ROW(L"WinGetProcessName", BifWinGetProcessName),
    BRM_MD_ROW(L"WinGetProcessPath", BifWinGetProcessPath),
    BRM_MD_ROW(L"WinGetStyle", BifWinGetStyle),
    BRM_MD_ROW(L"WinGetText", BifWinGetText),
    BRM_MD_ROW(L"WinGetTitle", BifWinGetTitle),
    BRM_MD_ROW(L"WinGetTransColor", BifWinGetTransColor),
    BRM_MD_ROW(L"WinGetTransparent", BifWinGetTransparent),
    BRM_MD_ROW(L"WinHide", BifWinHide),
    BRM_MD_ROW(L"WinKill", BifWinKill),
    BRM_MD_ROW(L"WinMaximize", BifWinMaximize),
    BRM_MD_ROW(L"WinMinimize", BifWinMinimize),
    BRM_MD_ROW(L"WinMinimizeAll", BifWinMinimizeAll),
    BRM_MD_ROW(L"WinMinimizeAllUndo", BifWinMinimizeAllUndo),
    BRM_MD_ROW(L"WinMove", BifWinMove),
    BRM_MD_ROW(L"WinMoveBottom", BifWinMoveBottom),
    BRM_MD_ROW(L"WinMoveTop", BifWinMoveTop),
    BRM_MD_ROW(L"WinRedraw", BifWinRedraw),
    BRM_MD_ROW(L"WinRestore", BifWinRestore),
    BRM_MD_ROW(L"WinSetAlwaysOnTop", BifWinSetAlwaysOnTop),
    BRM_MD_ROW(L"WinSetEnabled", BifWinSetEnabled),
    BRM_MD_ROW(L"WinSetExStyle", BifWinSetExStyle),
    BRM_MD_ROW(L"WinSetRegion", BifWinSetRegion),
    BRM_MD_ROW(L"WinSetStyle", BifWinSetStyle),
    BRM_MD_ROW(L"WinSetTitle", BifWinSetTitle),
    BRM_MD_ROW(L"WinSetTransColor", BifWinSetTransColor),
    BRM_MD_ROW(L"WinSetTransparent", BifWinSetTransparent),
    BRM_MD_ROW(L"WinShow", BifWinShow),
    BRM_MD_ROW(L"WinWait", BifWinWait),
    BRM_MD_ROW(L"WinWaitActive", BifWinWaitActive),
    BRM_MD_ROW(L"WinWaitClose", BifWinWaitClose),
    BRM_MD_ROW(L"WinWaitNotActive", BifWinWaitNotActive),
};
constexpr size_t kTypedCount = sizeof(kTypedFunctions) / sizeof(kTypedFunctions[0]);

constexpr bool TypedSorted() { return IsSortedByName(kTypedFunctions); }
static_assert(TypedSorted(), "typed functions must be sorted in A-to-Z-folded order for binary search");

MdFunc* s_typedObjects[kTypedCount];

}  // namespace

MdFunc* MdFunc::Create(const MdFuncDef* def) {
    void* memory = PoolAlloc(sizeof(MdFunc));
    return memory ? new (memory) MdFunc(def->name, def, nullptr) : nullptr;
}

MdFunc* MdFunc::CreateMethod(const Char* name, const MdFuncDef* def, Object* owner) {
    void* memory = PoolAlloc(sizeof(MdFunc));
    return memory ? new (memory) MdFunc(name, def, owner) : nullptr;
}

Status MdFunc::Call(CallResult& result, ValueToken** params, int count) {
    // An omitted required argument is reported by its number when the arguments are converted.
    BRM_TRY(CheckArgCount(params, count, Omitted::LeftToCaller));
    result.func = this;
    if (!m_owner)
        return m_def->call(result, params, count, nullptr);
    // The routine gets the object first; parameter numbers in its messages do not count `this`.
    IObject* self;
    Status s = CheckThis(m_owner, *params[0], result, self);
    if (!self)
        return s;
    return m_def->call(result, params + 1, count - 1, self);
}

Status AddTypedMembers(Object* prototype, const Char* className, const MdMemberDef* rows, int count) {
    prototype->AddFlags(Object::FlagNativeType);
    for (int i = 0; i < count; ++i) {
        const MdMemberDef& row = rows[i];
        static const Char* const kSuffix[] = {L".Get", L".Set", L""};
        const Char* suffix = kSuffix[static_cast<int>(row.kind)];
        size_t lc = wcslen(className), ln = wcslen(row.name), ls = wcslen(suffix);
        Char name[512];
        if (lc + ln + ls + 12 >= 512)
            return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        wmemcpy(name, className, lc);
        wmemcpy(name + lc, L".Prototype.", 11);
        wmemcpy(name + lc + 11, row.name, ln);
        wmemcpy(name + lc + 11 + ln, suffix, ls);
        const Char* pooled = PoolStrDup(name, lc + 11 + ln + ls);
        MdFunc* f = pooled ? MdFunc::CreateMethod(pooled, &row.def, prototype) : nullptr;
        if (!f)
            return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        switch (row.kind) {
        case MdMemberKind::Getter: BRM_TRY(prototype->DefineGetter(row.name, f)); break;
        case MdMemberKind::Setter: BRM_TRY(prototype->DefineSetter(row.name, f)); break;
        case MdMemberKind::Method: BRM_TRY(prototype->DefineMethod(row.name, f)); break;
        }
    }
    return Status::Ok;
}

const MdFuncDef* FindTypedFunc(const Char* name, size_t length) {
    return FindByName(kTypedFunctions, name, length);
}

MdFunc* GetTypedFunc(const MdFuncDef* def) {
    size_t index = static_cast<size_t>(def - kTypedFunctions);
    if (index >= kTypedCount)
        return nullptr;
    if (!s_typedObjects[index])
        s_typedObjects[index] = MdFunc::Create(def);
    return s_typedObjects[index];
}

}  // namespace brm
