// DllCall and ComCall. Arguments are converted into 8-byte value slots first, so that every error found
// before the call leaves memory and variables untouched; outputs are written back after it, even when
// the call itself failed.
#include "interop/DllCall.h"
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "interop/Callback.h"
#include "interop/NativeCall.h"
#include "interop/NativeMemory.h"
#include "lib/StringFunctions.h"
#include "objects/BuiltInFunctions.h"
#include "objects/MdFunc.h"
#include "objects/Object.h"
#include "objects/VarRef.h"
#include "runtime/PseudoThread.h"

namespace brm {

namespace {

constexpr bool kIs64 = sizeof(void*) == 8;

enum class NativeType : uint8_t { Invalid, AStr, Int, Short, Char, Int64, Float, Double, Str, Ptr };

struct TypeSpec {
    NativeType type = NativeType::Invalid;
    bool byRef = false;
    bool isUnsigned = false;
};

// Longest type name considered: anything past it cannot be a name of the table.
constexpr int kTypeNameChars = 31;

TypeSpec ParseType(const Char* text) {
    TypeSpec t;
    if (*text == L'U' || *text == L'u') {
        t.isUnsigned = true;
        ++text;
        if (!*text) return TypeSpec{};
    }
    Char name[kTypeNameChars + 1];
    int n = 0;
    for (; n < kTypeNameChars && text[n]; ++n) name[n] = text[n];
    name[n] = 0;
    for (int i = 1; i < n; ++i) {
        if (name[i] != L'*' && name[i] != L'p' && name[i] != L'P') continue;
        int j = i + 1;
        while (j < n && (name[j] == L' ' || name[j] == L'\t')) ++j;
        if (j < n) break;  // something follows the mark: it was part of the name
        t.byRef = true;
        int end = i;
        while (end > 0 && (name[end - 1] == L' ' || name[end - 1] == L'\t')) --end;
        name[end] = 0;
        break;
    }
    struct Row { const Char* name; NativeType type; };
    static const Row kTypes[] = {
        {L"AStr", NativeType::AStr}, {L"Int", NativeType::Int}, {L"Ptr", NativeType::Ptr},
        {L"Short", NativeType::Short}, {L"Char", NativeType::Char}, {L"Int64", NativeType::Int64},
        {L"Float", NativeType::Float}, {L"Double", NativeType::Double}, {L"Str", NativeType::Str},
        {L"WStr", NativeType::Str},
    };
    for (const Row& r : kTypes)
        if (!_wcsicmp(name, r.name)) t.type = r.type;
    if (t.type == NativeType::Str && t.isUnsigned) t.type = NativeType::Invalid;
    return t;
}

// Bytes an argument occupies on the 32-bit stack.
bool TakesEightBytes(const TypeSpec& t) {
    return !t.byRef && (t.type == NativeType::Int64 || t.type == NativeType::Double);
}

bool IsFloatType(NativeType t) { return t == NativeType::Float || t == NativeType::Double; }

// The value slot read as the type says: integers sign- or zero-extended from their width.
void SlotToToken(const TypeSpec& t, const void* slot, ValueToken& out) {
    switch (t.type) {
    case NativeType::Float: { float f; memcpy(&f, slot, 4); out.SetFloat(f); return; }
    case NativeType::Double: { double d; memcpy(&d, slot, 8); out.SetFloat(d); return; }
    case NativeType::Int64: { int64_t v; memcpy(&v, slot, 8); out.SetInteger(v); return; }
    case NativeType::Short: { uint16_t v; memcpy(&v, slot, 2); out.SetInteger(t.isUnsigned ? v : static_cast<int16_t>(v)); return; }
    case NativeType::Char: { uint8_t v; memcpy(&v, slot, 1); out.SetInteger(t.isUnsigned ? v : static_cast<int8_t>(v)); return; }
    case NativeType::Ptr:
        if constexpr (kIs64) {
            int64_t v;
            memcpy(&v, slot, 8);
            out.SetInteger(v);
            return;
        }
        [[fallthrough]];
    default: { uint32_t v; memcpy(&v, slot, 4); out.SetInteger(t.isUnsigned ? static_cast<int64_t>(v) : static_cast<int64_t>(static_cast<int32_t>(v))); return; }
    }
}

struct NativeArg {
    union {
        int64_t i;
        double d;
        float f;
        void* p;
        uintptr_t u;
        uint8_t bytes[8];
    } slot;
    TypeSpec spec;
    Var* outVar;        // a variable written &Var (or given through a VarRef) with a by-reference or Str type
    Var* strVar;        // a variable whose own buffer was passed for a Str argument
    IObject* ptrObject; // an object whose Ptr stood in for the value
    void* owned;        // the temporary ANSI copy of an AStr argument, or a copy of made-up Str text
    uintptr_t passedAddress;  // what the slot held when the call began (AStr copy, a variable's buffer)
};

char* AnsiCopy(const Char* text, int32_t length) {
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    char* copy = static_cast<char*>(malloc(static_cast<size_t>(bytes) + 1));
    if (!copy) return nullptr;
    if (length) WideCharToMultiByte(CP_ACP, 0, text, length, copy, bytes, nullptr, nullptr);
    copy[bytes] = 0;
    return copy;
}

Status AnsiToResult(CallResult& result, const char* text) {
    if (!text || !*text) {
        result.value.SetString(L"", 0);
        return Status::Ok;
    }
    int wide = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    Char* buffer = static_cast<Char*>(malloc(static_cast<size_t>(wide > 0 ? wide : 1) * sizeof(Char)));
    if (!buffer) return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
    if (wide <= 0 || !MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, wide)) wide = 1, buffer[0] = 0;
    Status s = SetResultText(result, buffer, wcslen(buffer));
    free(buffer);
    return s;
}

Status AnsiToVar(Var* var, const char* text) {
    Char scratch[kScratchChars];
    CallResult r(scratch);
    BRM_TRY(AnsiToResult(r, text));
    return var->AssignString(r.value.marker, r.value.markerLength);
}

// The module handles searched for a name given without its DLL, taken once: a module that was not
// loaded then is never searched.
HMODULE s_commonModules[4];
bool s_commonModulesRead = false;

// Longest "[dll\]name" text considered, and the room for the ANSI function name GetProcAddress takes.
constexpr size_t kMaxFunctionText = 518;
constexpr int kAnsiNameBytes = 260;

FARPROC FindExport(HMODULE module, char* name, size_t nameLength) {
    if (!module) return nullptr;
    if (FARPROC f = GetProcAddress(module, name)) return f;
    if (nameLength + 1 >= static_cast<size_t>(kAnsiNameBytes)) return nullptr;
    name[nameLength] = 'W';
    name[nameLength + 1] = 0;
    FARPROC f = GetProcAddress(module, name);
    name[nameLength] = 0;
    return f;
}

}  // namespace

FARPROC ResolveDllFunction(const Char* text, HMODULE* loaded) {
    if (!s_commonModulesRead) {
        const Char* names[] = {L"user32", L"kernel32", L"comctl32", L"gdi32"};
        for (int i = 0; i < 4; ++i) s_commonModules[i] = GetModuleHandleW(names[i]);
        s_commonModulesRead = true;
    }
    Char copy[kMaxFunctionText + 1];
    size_t n = wcsnlen(text, kMaxFunctionText);
    wmemcpy(copy, text, n);
    copy[n] = 0;
    Char* slash = wcsrchr(copy, L'\\');
    const Char* function = slash ? slash + 1 : copy;
    char name[kAnsiNameBytes + 1];
    int bytes = WideCharToMultiByte(CP_ACP, 0, function, -1, name, kAnsiNameBytes, nullptr, nullptr);
    if (bytes <= 0) name[0] = 0;
    name[kAnsiNameBytes] = 0;
    size_t nameLength = strlen(name);
    FARPROC found = nullptr;
    if (slash) {
        *slash = 0;
        HMODULE module = GetModuleHandleW(copy);
        if (!module) {
            if (!loaded) return nullptr;
            module = LoadLibraryW(copy);
            if (!module) {
                (void)RaiseMsg(ErrorClass::Error, Msg::DllLoadFailed, copy);
                return nullptr;
            }
            *loaded = module;
        }
        found = FindExport(module, name, nameLength);
    } else {
        for (int pass = 0; pass < 2 && !found; ++pass)
            for (HMODULE m : s_commonModules) {
                if (!m) continue;
                // The plain name in every module first, then the W form in every module.
                if (pass == 0) found = GetProcAddress(m, name);
                else if (nameLength + 1 < static_cast<size_t>(kAnsiNameBytes)) {
                    name[nameLength] = 'W';
                    name[nameLength + 1] = 0;
                    found = GetProcAddress(m, name);
                    name[nameLength] = 0;
                }
                if (found) break;
            }
    }
    if (!found && loaded) {
        if (*loaded) {
            FreeLibrary(*loaded);
            *loaded = nullptr;
        }
        (void)RaiseMsg(ErrorClass::Error, Msg::NonexistentFunction, slash ? function : nullptr);
    }
    return found;
}

namespace {

// What a call owns until it ends: the ANSI copies and a DLL loaded for it.
struct CallResources {
    NativeArg* args = nullptr;
    int count = 0;
    HMODULE loaded = nullptr;
    ~CallResources() {
        for (int i = count - 1; i >= 0; --i) free(args[i].owned);
        if (loaded) FreeLibrary(loaded);
    }
};

Status RaiseArgNotString(const ValueToken& v) { return RaiseTypeError(L"String", v); }
Status RaiseArgNotNumber(const ValueToken& v) { return RaiseTypeError(L"Number", v); }

// One (type, value) pair into its NativeArg.
Status ConvertArg(const ValueToken& typeToken, ValueToken* value, NativeArg& a) {
    Char typeBuffer[kScratchChars], valueBuffer[kScratchChars];
    const Char* typeText = TokenKind(typeToken) == SymString ? TokenToString(typeToken, typeBuffer) : L"";
    a.spec = ParseType(typeText);
    if (a.spec.type == NativeType::Invalid) return RaiseMsg(ErrorClass::ValueError, Msg::InvalidArgType);
    const NativeType type = a.spec.type;
    if (!value || value->symbol == SymMissing) return RaiseMsg(ErrorClass::Error, Msg::MissingRequiredParam);
    ValueToken v = *value;
    if (IObject* o = TokenAsObject(v)) {
        auto* ref = dynamic_cast<VarRef*>(o);
        if (ref && (a.spec.byRef || type == NativeType::Str)) {
            a.outVar = ref->Body().Target();
            v.SetVar(a.outVar);
        } else if (*typeText == L'P' || *typeText == L'p') {
            uintptr_t ptr;
            BRM_TRY(GetBufferPtr(o, ptr));
            a.ptrObject = o;
            a.slot.u = ptr;
            return Status::Ok;
        }
    }
    if (a.outVar && a.outVar->IsUnset()) {
        // An output variable need not hold anything yet: what the function writes is the point.
        if (type == NativeType::Str || type == NativeType::AStr) v.SetString(L"", 0);
        else v.SetInteger(0);
    } else if (v.symbol == SymVariable && v.var->IsUnset()) {
        return RaiseMsg(ErrorClass::Error, Msg::MissingRequiredParam);
    }
    switch (type) {
    case NativeType::AStr: {
        if (TokenKind(v) != SymString) return RaiseArgNotString(v);
        int32_t length = 0;
        const Char* text = TokenToString(v, valueBuffer, &length);
        if (length < 0) length = static_cast<int32_t>(wcslen(text));
        char* copy = AnsiCopy(text, length);
        if (!copy) return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        a.owned = copy;
        a.slot.p = copy;
        break;
    }
    case NativeType::Str: {
        if (TokenKind(v) != SymString) return RaiseArgNotString(v);
        if (v.symbol == SymVariable) {
            // The variable's own buffer, so that the function can write into it.
            Var* var = v.var->Target();
            if (var->m_type == VarTypeNormal) {
                a.strVar = var;
                a.slot.p = var->m_contents;
                break;
            }
        }
        int32_t length = 0;
        const Char* text = TokenToString(v, valueBuffer, &length);
        if (text == valueBuffer) {
            // Text made on the spot (a built-in variable's): it must outlive this routine.
            if (length < 0) length = static_cast<int32_t>(wcslen(text));
            auto* copy = static_cast<Char*>(malloc((static_cast<size_t>(length) + 1) * sizeof(Char)));
            if (!copy) return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
            wmemcpy(copy, text, static_cast<size_t>(length) + 1);
            a.owned = copy;
            text = copy;
        }
        a.slot.p = const_cast<Char*>(text);
        break;
    }
    case NativeType::Float:
    case NativeType::Double: {
        if (TokenIsNumeric(v) == NumericKind::None) return RaiseArgNotNumber(v);
        double d = TokenToDouble(v);
        a.slot.i = 0;
        if (type == NativeType::Float) a.slot.f = static_cast<float>(d);
        else a.slot.d = d;
        break;
    }
    default:
        if (TokenIsNumeric(v) == NumericKind::None) return RaiseArgNotNumber(v);
        a.slot.i = TokenToInt64(v);
        break;
    }
    a.passedAddress = a.slot.u;
    return Status::Ok;
}

// Step by step after the call: each output goes back to where it came from.
Status WriteBack(NativeArg& a) {
    if (a.ptrObject && a.spec.byRef) {
        ValueToken self, value;
        self.SetObject(a.ptrObject);
        value.SetInteger(kIs64 ? a.slot.i : static_cast<int64_t>(static_cast<uint32_t>(a.slot.u)));
        ValueToken* params[] = {&value};
        Char scratch[kScratchChars];
        CallResult r(scratch);
        Status s = InvokeValue(r, InvokeSet, L"Ptr", self, params, 1);
        if (s == Status::NotHandled) return RaiseNoMember(self, InvokeSet, L"Ptr");
        return s;
    }
    if (a.outVar && a.spec.byRef) {
        switch (a.spec.type) {
        case NativeType::AStr:
            if (a.slot.u != a.passedAddress) return AnsiToVar(a.outVar, static_cast<const char*>(a.slot.p));
            return Status::Ok;
        case NativeType::Str:
            if (a.slot.u != a.passedAddress) {
                const Char* text = static_cast<const Char*>(a.slot.p);
                return a.outVar->AssignString(text ? text : L"");
            }
            break;  // the function kept the buffer: its text may have changed
        default: {
            ValueToken v;
            SlotToToken(a.spec, a.slot.bytes, v);
            return v.symbol == SymFloat ? a.outVar->AssignFloat(v.valueDouble) : a.outVar->AssignInteger(v.valueInt64);
        }
        }
    }
    if (a.spec.type == NativeType::Str) {
        Var* var = a.strVar ? a.strVar : a.outVar;
        if (var && var->m_type == VarTypeNormal && var->m_contents == reinterpret_cast<Char*>(a.passedAddress))
            return var->UpdateLength();
    }
    return Status::Ok;
}

}  // namespace

// DllCall Function, [Type1, Arg1, ...] [, ReturnType] and ComCall Index, ComObj, [Type1, Arg1, ...] [, ReturnType]
Status BifDllCall(CallResult& result, ValueToken** params, int count) {
    const bool com = static_cast<const BuiltInFunc*>(result.func)->def->identity == 1;
    // The native argument list: for ComCall the index's place is taken by a "Ptr", so that the interface
    // pointer becomes the first argument.
    ValueToken ptrType;
    ptrType.SetString(L"Ptr", 3);
    ValueToken** list = params + 1;
    int n = count - 1;
    int64_t comIndex = 0;
    if (com) {
        if (TokenIsNumeric(*params[0]) == NumericKind::None) return RaiseParamTypeError(0, L"Integer", *params[0]);
        comIndex = TokenToInt64(*params[0]);
        if (comIndex < 0) return RaiseParamError(0, *params[0]);
        list = static_cast<ValueToken**>(__builtin_alloca(sizeof(ValueToken*) * static_cast<size_t>(count)));
        list[0] = &ptrType;
        for (int i = 1; i < count; ++i) list[i] = params[i];
        n = count;
    }

    // The function: an address, an object's Ptr, or a name resolved once the arguments are converted.
    void* function = nullptr;
    bool byName = false;
    if (!com) {
        const ValueToken& f = *params[0];
        if (IObject* o = TokenAsObject(f)) {
            uintptr_t ptr;
            BRM_TRY(GetBufferPtr(o, ptr));
            function = reinterpret_cast<void*>(ptr);
        } else if (TokenIsPureNumeric(f) == NumericKind::Float) {
            return RaiseMsg(ErrorClass::TypeError, Msg::Param1Invalid);
        } else if (TokenIsPureNumeric(f) == NumericKind::Integer && TokenToInt64(f) != 0) {
            function = reinterpret_cast<void*>(static_cast<uintptr_t>(TokenToInt64(f)));
        } else {
            byName = true;
        }
        if (!byName && reinterpret_cast<uintptr_t>(function) < kLowestValidAddress)
            return RaiseParamError(0, f);
    }

    // The return type.
    TypeSpec ret;
    ret.type = NativeType::Int;
    bool isCdecl = false, hresult = com;
    if (n & 1) {
        const ValueToken& rt = *list[n - 1];
        Char buffer[kScratchChars];
        const Char* text = TokenKind(rt) == SymString ? TokenToString(rt, buffer) : L"";
        hresult = false;
        if (!_wcsnicmp(text, L"CDecl", 5)) {
            isCdecl = true;
            text += 5;
            while (*text == L' ' || *text == L'\t') ++text;
            if (!*text) text = L"Int";
        }
        if (!_wcsicmp(text, L"HRESULT")) {
            hresult = true;
        } else {
            ret = ParseType(text);
            if (ret.type == NativeType::Invalid) return RaiseMsg(ErrorClass::ValueError, Msg::InvalidReturnType);
        }
        --n;
    }

    const int argCount = n / 2;
    CallResources owned;
    owned.args = static_cast<NativeArg*>(__builtin_alloca(sizeof(NativeArg) * static_cast<size_t>(argCount + 1)));
    memset(static_cast<void*>(owned.args), 0, sizeof(NativeArg) * static_cast<size_t>(argCount + 1));
    NativeArg* args = owned.args;
    for (int i = 0; i < argCount; ++i) {
        owned.count = i + 1;
        BRM_TRY(ConvertArg(*list[2 * i], list[2 * i + 1], args[i]));
    }

    if (com) {
        if (args[0].slot.u < kLowestValidAddress) return RaiseParamError(1, *params[1]);
        void** table = *reinterpret_cast<void***>(args[0].slot.u);
        function = table[comIndex];
    } else if (byName) {
        Char buffer[kScratchChars];
        const Char* name = TokenToString(*params[0], buffer);
        function = reinterpret_cast<void*>(ResolveDllFunction(name, &owned.loaded));
        if (!function) return Status::Fail;
    }

    // The stack image, first argument at the lowest address.
    size_t words = 0;
    for (int i = 0; i < argCount; ++i) words += !kIs64 && TakesEightBytes(args[i].spec) ? 2 : 1;
    const size_t imageWords = kIs64 && words < 4 ? 4 : words;  // x64: the callee's shadow space at least
    auto* image = static_cast<uintptr_t*>(__builtin_alloca(sizeof(uintptr_t) * (imageWords + 1)));
    memset(image, 0, sizeof(uintptr_t) * (imageWords + 1));
    size_t at = 0;
    for (int i = 0; i < argCount; ++i) {
        NativeArg& a = args[i];
        if (a.spec.byRef) {
            image[at++] = reinterpret_cast<uintptr_t>(a.slot.bytes);
        } else if (!kIs64 && TakesEightBytes(a.spec)) {
            memcpy(&image[at], a.slot.bytes, 8);
            at += 2;
        } else {
            memcpy(&image[at++], a.slot.bytes, sizeof(uintptr_t));
        }
    }

    NativeCallFrame frame;
    frame.function = function;
    frame.stack = image;
    frame.stackWords = imageWords;
    frame.floatReturn = IsFloatType(ret.type) && !ret.byRef ? 1 : 0;
    const ThrownValue* thrownBefore = g_thread->thrown;
    PseudoThread* caller = g_thread;
    SetLastError(caller->lastError);
    CallNativeFrame(frame);
    caller->lastError = GetLastError();
    const bool earlyExit = TakeCallbackEarlyExit();

    enum class Failure { None, Exception, TooLarge, TooSmall, Callback, HResult } failure = Failure::None;
    intptr_t difference = 0;
    if (frame.faulted) {
        failure = Failure::Exception;
    } else {
        if (!kIs64 && !isCdecl) {
            difference = static_cast<intptr_t>(frame.spBefore - frame.spAfter);
            if (difference > 0) failure = Failure::TooLarge;
            else if (difference < 0) failure = Failure::TooSmall;
        }
        Char* empty = VarEmptyString();
        if (*empty) {
            *empty = 0;
            return CriticalError(Msg::InvalidEmptyWrite);
        }
        if (failure == Failure::None && g_thread->thrown && g_thread->thrown != thrownBefore)
            failure = Failure::Callback;
        if (failure == Failure::None && hresult && static_cast<int32_t>(frame.resultLow) < 0)
            failure = Failure::HResult;
    }

    // The return value.
    Status status = Status::Ok;
    if (failure == Failure::None) {
        uint64_t raw = static_cast<uint64_t>(frame.resultLow);
        if constexpr (!kIs64) raw |= static_cast<uint64_t>(frame.resultHigh) << 32;
        if (ret.byRef) {
            const void* address = reinterpret_cast<const void*>(frame.resultLow);
            raw = 0;
            if (reinterpret_cast<uintptr_t>(address) >= kLowestValidAddress)
                memcpy(&raw, address, TakesEightBytes(TypeSpec{ret.type, false, false}) || (kIs64 && ret.type == NativeType::Ptr) ? 8 : 4);
            if (ret.type == NativeType::AStr || ret.type == NativeType::Str) raw = reinterpret_cast<uintptr_t>(address);
        }
        switch (ret.type) {
        case NativeType::AStr:
            status = AnsiToResult(result, reinterpret_cast<const char*>(static_cast<uintptr_t>(raw)));
            break;
        case NativeType::Str: {
            const Char* text = reinterpret_cast<const Char*>(static_cast<uintptr_t>(raw));
            status = text ? SetResultText(result, text, wcslen(text)) : SetResultText(result, L"", 0);
            break;
        }
        case NativeType::Float:
        case NativeType::Double:
            if (!ret.byRef) {
                if (kIs64 && ret.type == NativeType::Float) {
                    float f;
                    memcpy(&f, &frame.resultFloat, 4);
                    result.value.SetFloat(f);
                } else {
                    double d;
                    memcpy(&d, &frame.resultFloat, 8);
                    result.value.SetFloat(d);
                }
                break;
            }
            [[fallthrough]];
        default:
            SlotToToken(ret, &raw, result.value);
            break;
        }
    }

    // Outputs are written back even when the call failed: the function ran and may have written them.
    for (int i = 0; i < argCount && status == Status::Ok; ++i) status = WriteBack(args[i]);

    switch (failure) {
    case Failure::None: return status == Status::Ok && earlyExit ? Status::EarlyExit : status;
    case Failure::Exception: {
        Char extra[24];
        FormatMessageText(extra, 24, L"0x%x", static_cast<unsigned>(frame.exceptionCode));
        return RaiseMsg(ErrorClass::Error, Msg::ExceptionThrown, extra);
    }
    case Failure::TooLarge:
    case Failure::TooSmall: {
        Char extra[24];
        FormatMessageText(extra, 24, L"%d", static_cast<int>(difference));
        return RaiseMsg(ErrorClass::Error, failure == Failure::TooLarge ? Msg::ParamListTooLarge : Msg::ParamListTooSmall,
                        extra);
    }
    case Failure::Callback: return Status::Fail;
    case Failure::HResult: return RaiseOSErrorCode(static_cast<uint32_t>(frame.resultLow));
    }
    return status;
}

}  // namespace brm
