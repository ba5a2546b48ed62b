// Error objects: construction through __New (Message, What, Extra, File, Line, Stack; OSError's Number and
// system text), and the objects the raising routines throw.
#include "objects/ErrorObjects.h"
#include "base/Messages.h"
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "loader/ScriptLine.h"
#include "loader/SourceFiles.h"
#include "objects/Func.h"
#include "objects/NativeClass.h"
#include "startup/ScriptHost.h"

namespace brm {

namespace {

// "(code) " and the system's text together fit in this many characters.
constexpr int kMaxOSErrorChars = 256;

enum ErrorMember : uint8_t { kErrorNew, kOSErrorNew };

Status ErrorNew(IObject* self, CallResult& result, int identity, int invokeKind, ValueToken** params, int count);

const ObjectMemberDef kErrorMembers[] = {
    {L"__New", ErrorNew, kErrorNew, MemberKind::Method, 0, 3},
};
const ObjectMemberDef kOSErrorMembers[] = {
    {L"__New", ErrorNew, kOSErrorNew, MemberKind::Method, 0, 3},
};

bool Given(ValueToken** params, int count, int i) {
    if (i >= count || !params[i]) return false;
    const ValueToken& t = *params[i];
    return !(t.symbol == SymMissing || (t.symbol == SymVariable && t.var->IsUnset()));
}

Status SetText(Object* self, const Char* name, ValueToken** params, int count, int i, const Char* fallback) {
    if (!Given(params, count, i)) return self->SetOwnPropString(name, fallback);
    Char scratch[kScratchChars];
    int32_t length = 0;
    ValueToken v = *params[i];
    if (v.symbol == SymVariable) params[i]->var->ToToken(v);
    const Char* text = v.symbol == SymObject ? TokenTypeName(v) : TokenToString(v, scratch, &length);
    return self->SetOwnPropString(name, text, v.symbol == SymObject ? -1 : length);
}

Status SetOSMessage(Object* self, int64_t code) {
    Char text[kMaxOSErrorChars];
    size_t n = FormatMessageText(text, kMaxOSErrorChars, MessageText(code < 0 ? Msg::OSErrorHexCode : Msg::OSErrorCode),
                                 static_cast<int>(code));
    if (code) {
        DWORD got = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(code), 0, text + n, static_cast<DWORD>(kMaxOSErrorChars - n), nullptr);
        n += got;
        text[n] = 0;
        if (n && text[n - 1] == L'\n') text[--n] = 0;
        if (n && text[n - 1] == L'\r') text[--n] = 0;
    }
    BRM_TRY(self->SetOwnPropInteger(L"Number", code));
    return self->SetOwnPropString(L"Message", text, static_cast<int32_t>(n));
}

Status ErrorNew(IObject* selfObject, CallResult& result, int identity, int, ValueToken** params, int count) {
    auto* self = dynamic_cast<Object*>(selfObject);
    if (!self) return Status::NotHandled;
    const Char* what = g_runningFunc ? g_runningFunc->Name() : L"";
    BRM_TRY(SetText(self, L"What", params, count, 1, what));
    bool osError = false;
    if (identity == kOSErrorNew) {
        if (!Given(params, count, 0)) {
            BRM_TRY(SetOSMessage(self, static_cast<int64_t>(GetLastError())));
            osError = true;
        } else if (TokenIsNumeric(*params[0]) != NumericKind::None) {
            BRM_TRY(SetOSMessage(self, TokenToInt64(*params[0])));
            osError = true;
        }
    }
    if (!osError) BRM_TRY(SetText(self, L"Message", params, count, 0, self->TypeName()));
    BRM_TRY(self->SetOwnPropString(L"Stack", L"", 0));
    const ScriptLine* line = g_script.currentLine;
    BRM_TRY(self->SetOwnPropString(L"File", line ? SourceFileName(line->fileIndex) : g_script.scriptFullPath.c_str()));
    BRM_TRY(self->SetOwnPropInteger(L"Line", line ? line->lineNumber : 0));
    BRM_TRY(SetText(self, L"Extra", params, count, 2, L""));
    result.value.SetString(L"", 0);
    return Status::Ok;
}

}  // namespace

ClassId ClassIdOf(ErrorClass cls) {
    switch (cls) {
    case ErrorClass::Error: return ClassId::Error;
    case ErrorClass::MemoryError: return ClassId::MemoryError;
    case ErrorClass::OSError: return ClassId::OSError;
    case ErrorClass::TargetError: return ClassId::TargetError;
    case ErrorClass::TimeoutError: return ClassId::TimeoutError;
    case ErrorClass::TypeError: return ClassId::TypeError;
    case ErrorClass::UnsetError: return ClassId::UnsetError;
    case ErrorClass::MemberError: return ClassId::MemberError;
    case ErrorClass::PropertyError: return ClassId::PropertyError;
    case ErrorClass::MethodError: return ClassId::MethodError;
    case ErrorClass::UnsetItemError: return ClassId::UnsetItemError;
    case ErrorClass::ValueError: return ClassId::ValueError;
    case ErrorClass::IndexError: return ClassId::IndexError;
    case ErrorClass::ZeroDivisionError: return ClassId::ZeroDivisionError;
    }
    return ClassId::Error;
}

void RegisterErrorClasses() {
    RegisterNativeClass(ClassId::Error, {kErrorMembers, 1, nullptr});
    RegisterNativeClass(ClassId::OSError, {kOSErrorMembers, 1, nullptr});
}

Object* NewErrorObject(ErrorClass cls, const Char* message, const Char* extra, Status& st) {
    st = Status::Fail;
    Object* proto = BuiltInPrototype(ClassIdOf(cls));
    if (!proto) return nullptr;
    Object* error = Object::Create(proto);
    if (!error) return nullptr;
    ValueToken m, w, x;
    m.SetString(message ? message : L"");
    w.SetString(L"", 0);
    x.SetString(extra ? extra : L"");
    ValueToken* params[3] = {&m, &w, &x};
    st = error->Construct(params, extra && *extra ? 3 : 2);
    if (st != Status::Ok) {
        error->Release();
        return nullptr;
    }
    return error;
}

bool ReadErrorFields(IObject* errorObject, ErrorFields& f) {
    auto* error = dynamic_cast<Object*>(errorObject);
    if (!error) return false;
    const Char* names[3] = {L"Message", L"Extra", L"File"};
    const Char** targets[3] = {&f.message, &f.extra, &f.file};
    for (int i = 0; i < 3; ++i) {
        ValueToken v;
        if (!error->GetOwnProp(names[i], v) || v.symbol == SymObject) continue;
        *targets[i] = TokenToString(v, f.buffers[i]);
    }
    ValueToken line;
    if (error->GetOwnProp(L"Line", line) && line.symbol != SymObject) f.line = static_cast<int32_t>(TokenToInt64(line));
    return true;
}

}  // namespace brm
