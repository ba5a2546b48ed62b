// Raw memory for scripts: reading and writing numbers and text at addresses or inside Buffer-like objects.
// Every address a script gives is checked against the first 64 KB, and against the object's bounds when
// the memory came as an object.
#include "interop/NativeMemory.h"
#include <windows.h>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "lib/StringFunctions.h"
#include "objects/BuiltInFunctions.h"
#include "objects/MdFunc.h"
#include "objects/Object.h"
#include "system/Encoding.h"

namespace brm {

IObject* TokenAsObject(const ValueToken& t) {
    if (t.symbol == SymObject) return t.object;
    if (t.symbol == SymVariable && t.var->IsObject()) return t.var->Object();
    return nullptr;
}

namespace {

Status ReadIntProperty(IObject* object, const Char* name, int64_t& out) {
    Char scratch[kScratchChars];
    CallResult r(scratch);
    ValueToken self;
    self.SetObject(object);
    BRM_TRY(InvokeValueOrFail(r, InvokeGet, name, self, nullptr, 0));
    out = TokenToInt64(r.value);
    return Status::Ok;
}

Status InvalidParams() { return RaiseMsg(ErrorClass::ValueError, Msg::InvalidParams); }

int Identity(const CallResult& result) { return static_cast<const BuiltInFunc*>(result.func)->def->identity; }

// A memory type of NumGet and NumPut.
struct MemType {
    int size = 0;  // 0: invalid
    bool isFloat = false;
    bool isUnsigned = false;
};

MemType ParseMemType(const ValueToken& token) {
    MemType t;
    if (TokenKind(token) != SymString) return t;  // a number is no type name
    Char buffer[kScratchChars];
    const Char* text = TokenToString(token, buffer);
    if (*text == L'U' || *text == L'u') {
        t.isUnsigned = true;
        ++text;
    }
    switch (*text | 0x20) {
    case L'c': t.size = 1; break;
    case L's': t.size = 2; break;
    case L'i': t.size = wcschr(text + 1, L'6') ? 8 : 4; break;
    case L'p': t.size = sizeof(void*); break;
    case L'f': t.size = 4; t.isFloat = true; break;
    case L'd': t.size = 8; t.isFloat = true; break;
    default: break;
    }
    return t;
}

// The memory a Source or Target gives: an address, with bounds when it came as an object.
struct Span {
    uintptr_t address = 0;
    uintptr_t low = 0;
    uintptr_t high = UINTPTR_MAX;  // one past the end
    bool bounded = false;
};

Status ReadSpan(const ValueToken& token, Span& span) {
    if (IObject* o = TokenAsObject(token)) {
        size_t size;
        BRM_TRY(GetBufferPtrSize(o, span.address, size));
        span.low = span.address;
        span.high = span.address + size;
        span.bounded = true;
        return Status::Ok;
    }
    span.address = static_cast<uintptr_t>(TokenToInt64(token));
    return Status::Ok;
}

// Whether size bytes at address lie in the span and above the first 64 KB. A negative offset that leads
// before an object's memory is refused like one past its end.
bool Fits(const Span& span, uintptr_t address, int size) {
    if (address < kLowestValidAddress) return false;
    uintptr_t end = address + static_cast<uintptr_t>(size);
    if (end < address) return false;
    return !span.bounded || (address >= span.low && end <= span.high);
}

}  // namespace

Status GetBufferPtr(IObject* object, uintptr_t& ptr) {
    int64_t p;
    BRM_TRY(ReadIntProperty(object, L"Ptr", p));
    ptr = static_cast<uintptr_t>(p);
    return Status::Ok;
}

Status GetBufferPtrSize(IObject* object, uintptr_t& ptr, size_t& size) {
    int64_t p, s;
    BRM_TRY(ReadIntProperty(object, L"Ptr", p));
    BRM_TRY(ReadIntProperty(object, L"Size", s));
    ptr = static_cast<uintptr_t>(p);
    // A negative size would make every address fit: such an object describes no memory at all.
    size = s < 0 ? 0 : static_cast<size_t>(s);
    return Status::Ok;
}

// NumGet Source [, Offset], Type
Status BifNumGet(CallResult& result, ValueToken** params, int count) {
    Span span;
    BRM_TRY(ReadSpan(*params[0], span));
    uintptr_t address = span.address;
    if (count >= 3 && params[1]->symbol != SymMissing) address += static_cast<uintptr_t>(TokenToInt64(*params[1]));
    MemType t = ParseMemType(*params[count - 1]);
    if (!t.size || !Fits(span, address, t.size)) return InvalidParams();
    const void* p = reinterpret_cast<const void*>(address);
    if (t.isFloat) {
        if (t.size == 4) {
            float f;
            memcpy(&f, p, 4);
            result.value.SetFloat(f);
        } else {
            double d;
            memcpy(&d, p, 8);
            result.value.SetFloat(d);
        }
        return Status::Ok;
    }
    int64_t v = 0;
    switch (t.size) {
    case 1: { uint8_t x; memcpy(&x, p, 1); v = t.isUnsigned ? x : static_cast<int8_t>(x); break; }
    case 2: { uint16_t x; memcpy(&x, p, 2); v = t.isUnsigned ? x : static_cast<int16_t>(x); break; }
    case 4: { uint32_t x; memcpy(&x, p, 4); v = t.isUnsigned ? static_cast<int64_t>(x) : static_cast<int64_t>(static_cast<int32_t>(x)); break; }
    default: memcpy(&v, p, 8); break;
    }
    result.value.SetInteger(v);
    return Status::Ok;
}

// NumPut Type1, Number1, [Type2, Number2, ...] Target [, Offset]
Status BifNumPut(CallResult& result, ValueToken** params, int count) {
    int targetIndex = (count & 1) ? count - 1 : count - 2;
    Span span;
    BRM_TRY(ReadSpan(*params[targetIndex], span));
    uintptr_t address = span.address;
    if (!(count & 1) && params[count - 1]->symbol != SymMissing)
        address += static_cast<uintptr_t>(TokenToInt64(*params[count - 1]));
    for (int i = 0; i + 1 < targetIndex; i += 2) {
        MemType t = ParseMemType(*params[i]);
        const ValueToken& number = *params[i + 1];
        if (!t.size || TokenIsNumeric(number) == NumericKind::None || !Fits(span, address, t.size))
            return InvalidParams();
        void* p = reinterpret_cast<void*>(address);
        if (t.isFloat && t.size == 4) {
            float f = static_cast<float>(TokenToDouble(number));
            memcpy(p, &f, 4);
        } else if (t.isFloat) {
            double d = TokenToDouble(number);
            memcpy(p, &d, 8);
        } else {
            int64_t v = TokenToInt64(number);
            memcpy(p, &v, static_cast<size_t>(t.size));  // the low bytes: the targets are little-endian
        }
        address += static_cast<uintptr_t>(t.size);
    }
    result.value.SetInteger(static_cast<int64_t>(address));
    return Status::Ok;
}

namespace {

Status RaiseInvalidLength() { return RaiseMsg(ErrorClass::ValueError, Msg::InvalidLength); }

Status ReadEncoding(const ValueToken& token, uint32_t& codePage) {
    uint32_t value = 0;
    bool ok;
    if (TokenIsPureNumeric(token) == NumericKind::Integer) {
        int64_t n = TokenToInt64(token);
        ok = n >= 0 && n <= 0xFFFFFFFFll && ValidEncodingValue(static_cast<uint32_t>(n));
        value = static_cast<uint32_t>(n);
    } else {
        Char buffer[kScratchChars];
        ok = TokenKind(token) == SymString && ParseEncodingName(TokenToString(token, buffer), value);
    }
    if (!ok) return RaiseMsg(ErrorClass::ValueError, Msg::InvalidEncoding);
    codePage = EncodingCodePage(value);
    return Status::Ok;
}

bool IsNumber(const ValueToken& t) { return TokenIsNumeric(t) != NumericKind::None; }

Status StrPutConvert(uint32_t codePage, const Char* text, int length, char* target, int limit, int& written) {
    DWORD flags = codePage == kCodePageUtf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    written = WideCharToMultiByte(codePage, flags, text, length, target, limit, nullptr, nullptr);
    if (!written && GetLastError() == ERROR_INVALID_FLAGS)
        written = WideCharToMultiByte(codePage, 0, text, length, target, limit, nullptr, nullptr);
    if (!written && length) return RaiseOSErrorCode(GetLastError());
    return Status::Ok;
}

}  // namespace

// StrGet Source [, Length] [, Encoding] and StrPut String [, Target] [, Length] [, Encoding]
Status BifStrGetPut(CallResult& result, ValueToken** params, int count) {
    const bool put = Identity(result) == 1;
    const Char* text = nullptr;
    int32_t textLength = 0;
    if (put) {
        if (TokenAsObject(*params[0])) return RaiseParamTypeError(0, L"String", *params[0]);
        text = TokenToString(*params[0], result.buffer, &textLength);
        if (textLength < 0) textLength = static_cast<int32_t>(wcslen(text));
    }
    const int memIndex = put ? 1 : 0;
    Span span;
    bool haveTarget = false, measure = false;
    if (memIndex < count && params[memIndex]->symbol != SymMissing) {
        const ValueToken& m = *params[memIndex];
        if (TokenAsObject(m)) {
            BRM_TRY(ReadSpan(m, span));
            haveTarget = true;
        } else if (IsNumber(m)) {
            span.address = static_cast<uintptr_t>(TokenToInt64(m));
            haveTarget = true;
        }
    }
    int next = memIndex + 1;
    if (!haveTarget) {
        if (!put) return RaiseMsg(ErrorClass::ValueError, Msg::Param1Invalid);
        if (count > 2) return InvalidParams();
        measure = true;
        next = 1;  // the second parameter, if any, is the Encoding
    }
    bool haveLength = false;
    int64_t length = 0;
    uint32_t codePage = kCodePageUtf16;
    if (!measure && next < count) {
        if (params[next]->symbol == SymMissing) {
            ++next;
        } else if (IsNumber(*params[next])) {
            haveLength = true;
            length = TokenToInt64(*params[next]);
            ++next;
        }
    }
    if (next < count && params[next]->symbol != SymMissing) BRM_TRY(ReadEncoding(*params[next], codePage));
    const bool utf16 = codePage == kCodePageUtf16;

    if (measure) {
        if (utf16) {
            result.value.SetInteger((static_cast<int64_t>(textLength) + 1) * 2);
            return Status::Ok;
        }
        int bytes = 0;
        BRM_TRY(StrPutConvert(codePage, text, textLength, nullptr, 0, bytes));
        result.value.SetInteger(static_cast<int64_t>(bytes) + 1);
        return Status::Ok;
    }

    bool exact = false;  // StrGet: a negative Length counts units exactly, zeros included
    if (haveLength) {
        if (put) {
            if (length <= 0) return RaiseInvalidLength();
        } else if (length == 0) {
            result.value.SetString(L"", 0);
            return Status::Ok;
        } else if (length < 0) {
            exact = true;
            length = -length;
        }
    }
    const size_t objectSize = span.high - span.low;
    if (span.address < kLowestValidAddress && !(span.bounded && objectSize == 0))
        return RaiseParamError(memIndex, *params[memIndex]);
    if (put) {
        const uintptr_t a = span.address;
        const uintptr_t own = reinterpret_cast<uintptr_t>(text);
        if ((a >= own && a <= own + static_cast<uintptr_t>(textLength) * sizeof(Char)) ||
            (textLength && a == reinterpret_cast<uintptr_t>(VarEmptyString())))
            return RaiseParamError(1, *params[1]);
    }
    if (span.bounded) {
        int64_t units = static_cast<int64_t>(utf16 ? objectSize / 2 : objectSize);
        if (put && units < textLength) return RaiseParamError(1, *params[1]);
        if (!haveLength) {
            haveLength = true;
            length = units;
        } else if (length > units) {
            return RaiseInvalidLength();
        }
    }

    if (!put) {
        if (!utf16) {
            const char* bytes = reinterpret_cast<const char*>(span.address);
            size_t n = !haveLength ? strlen(bytes) : exact ? static_cast<size_t>(length)
                                                           : strnlen(bytes, static_cast<size_t>(length));
            if (!n) {
                result.value.SetString(L"", 0);
                return Status::Ok;
            }
            if (n > 0x7FFFFFFF) return RaiseInvalidLength();
            int wide = MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(n), nullptr, 0);
            if (!wide) return RaiseOSErrorCode(GetLastError());
            Char* target = result.buffer;
            if (wide >= kScratchChars) {
                target = static_cast<Char*>(malloc((static_cast<size_t>(wide) + 1) * sizeof(Char)));
                if (!target) return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
                result.memToFree = target;
            }
            if (!MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(n), target, wide))
                return RaiseOSErrorCode(GetLastError());
            target[wide] = L'\0';
            result.value.SetString(target, wide);
            return Status::Ok;
        }
        const Char* chars = reinterpret_cast<const Char*>(span.address);
        size_t n = !haveLength ? wcslen(chars) : exact ? static_cast<size_t>(length)
                                                       : wcsnlen(chars, static_cast<size_t>(length));
        return SetResultText(result, chars, n);
    }

    // StrPut write mode.
    const size_t unit = utf16 ? 2 : 1;
    if (!textLength) {
        // Even the terminator needs room: a Buffer of size 0 has none.
        if (span.bounded && objectSize < unit) return RaiseParamError(1, *params[1]);
        memset(reinterpret_cast<void*>(span.address), 0, unit);
        result.value.SetInteger(static_cast<int64_t>(unit));
        return Status::Ok;
    }
    if (utf16) {
        if (haveLength && length < textLength) return RaiseInvalidLength();
        Char* target = reinterpret_cast<Char*>(span.address);
        wmemcpy(target, text, static_cast<size_t>(textLength));
        if (!haveLength || length != textLength) target[textLength] = L'\0';
        result.value.SetInteger(static_cast<int64_t>(textLength) * 2);
        return Status::Ok;
    }
    int limit;
    if (haveLength) {
        limit = length >= 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(length);
    } else {
        int needed = 0;
        BRM_TRY(StrPutConvert(codePage, text, textLength, nullptr, 0, needed));
        limit = needed + 1;
    }
    int written = 0;
    char* target = reinterpret_cast<char*>(span.address);
    BRM_TRY(StrPutConvert(codePage, text, textLength, target, limit, written));
    if (written < limit) target[written++] = 0;
    result.value.SetInteger(written);
    return Status::Ok;
}

// VarSetStrCapacity &TargetVar [, RequestedCapacity]
Status BifVarSetStrCapacity(CallResult& result, ValueToken** params, int count) {
    Var* var = md::OutputVar(*params[0]);
    if (!var) return RaiseParamTypeError(0, L"VarRef", *params[0]);
    int64_t usable = 0;
    if (count < 2 || params[1]->symbol == SymMissing) {
        result.value.SetInteger(var->CapacityChars());
        return Status::Ok;
    }
    if (!IsNumber(*params[1])) return RaiseParamTypeError(1, L"Number", *params[1]);
    int64_t chars = TokenToInt64(*params[1]);
    if (chars > kVarMaxChars) return RaiseParamError(1, *params[1]);
    BRM_TRY(var->SetCapacity(chars < 0 ? -1 : chars, usable));
    result.value.SetInteger(usable);
    return Status::Ok;
}

}  // namespace brm
