// The typed function table, the argument conversions the generic caller uses, and FResult decoding.
#include "objects/MdFunc.h"
#include <windows.h>
#include <cstdlib>
#include <new>
#include "base/Pool.h"
#include "base/SortedTable.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "loader/BlockLinker.h"
#include "objects/BuiltInFunctions.h"
#include "objects/BuiltInVars.h"
#include "objects/VarRef.h"
#include "runtime/PseudoThread.h"
#include "startup/Exit.h"
#include "startup/ScriptHost.h"
#include "system/Encoding.h"

namespace brm {

// --- FResult ---

Status DecodeFResult(FResult fr, CallResult& result, ValueToken** params, int count) {
    const uint32_t code = static_cast<uint32_t>(fr.code);
    if (fr.code >= 0) {
        if (fr.code == FrContinued.code)
            result.value.SetString(L"", 0);
        return Status::Ok;
    }
    Status s;
    if (!(code & 0x20000000u)) {
        s = RaiseOSErrorCode(code);
    } else if ((code & 0xE0000000u) == 0xE0000000u) {
        Char digits[16];
        FormatMessageText(digits, 16, L"%u", code & 0x0FFFFFFFu);
        s = RaiseMsg(ErrorClass::Error, Msg::Failed, digits);
    } else {
        uint32_t facility = (code >> 16) & 0x1FFF, low = code & 0xFFFF;
        switch (facility) {
        case 0: s = Status::Fail; break;
        case 7: s = RaiseOSErrorCode(low ? low : GetLastError()); break;
        case 10:
            if (low == 0xFFFF) {
                s = RaiseMsg(ErrorClass::ValueError, Msg::InvalidParams);
            } else {
                Char buffer[kScratchChars];
                const Char* quoted = nullptr;
                if (static_cast<int>(low) < count && params[low]->symbol != SymMissing &&
                    TokenKind(*params[low]) != SymObject)
                    quoted = TokenToString(*params[low], buffer);
                s = RaiseFormatted(ErrorClass::ValueError, quoted, Msg::ParamInvalid, static_cast<int>(low) + 1);
            }
            break;
        default: s = low == 1 ? RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory) : RaiseMsg(ErrorClass::Error, Msg::Failed);
        }
    }
    // A failure, or an error the user continued, leaves no value behind.
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

FResult EnvSet(const Char* name, Opt<const Char*> value) {
    if (!SetEnvironmentVariableW(name, value ? *value : nullptr) && value)
        return FrWin32(0);
    return FrOk;
}

// Without parameters, the script's own process.
uint32_t ProcessExist() { return GetCurrentProcessId(); }

// Whether a Goto could reach a label of that name.
bool IsLabel(const Char* name) {
    const Label* label = FindLabel(name, wcslen(name));
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
    BRM_MD_ROW(L"CoordMode", CoordMode),
    BRM_MD_ROW(L"DetectHiddenText", DetectHiddenText),
    BRM_MD_ROW(L"DetectHiddenWindows", DetectHiddenWindows),
    BRM_MD_ROW(L"EnvGet", EnvGet),
    BRM_MD_ROW(L"EnvSet", EnvSet),
    BRM_MD_ROW(L"Exit", Exit),
    BRM_MD_ROW(L"ExitApp", ExitAppRoutine),
    BRM_MD_ROW(L"FileEncoding", FileEncoding),
    BRM_MD_ROW(L"IsLabel", IsLabel),
    BRM_MD_ROW(L"ProcessExist", ProcessExist),
    BRM_MD_ROW(L"SetControlDelay", SetControlDelay),
    BRM_MD_ROW(L"SetRegView", SetRegView),
    BRM_MD_ROW(L"SetTitleMatchMode", SetTitleMatchMode),
    BRM_MD_ROW(L"SetWinDelay", SetWinDelay),
};
constexpr size_t kTypedCount = sizeof(kTypedFunctions) / sizeof(kTypedFunctions[0]);

constexpr bool TypedSorted() { return IsSortedByName(kTypedFunctions); }
static_assert(TypedSorted(), "typed functions must be sorted in A-to-Z-folded order for binary search");

MdFunc* s_typedObjects[kTypedCount];

}  // namespace

MdFunc* MdFunc::Create(const MdFuncDef* def) {
    void* memory = PoolAlloc(sizeof(MdFunc));
    return memory ? new (memory) MdFunc(def) : nullptr;
}

Status MdFunc::Call(CallResult& result, ValueToken** params, int count) {
    BRM_TRY(CheckArgCount(params, count));
    result.func = this;
    return m_def->call(result, params, count);
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
