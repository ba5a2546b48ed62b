// The COM face of script objects: QueryInterface, the process-wide dispatch name table and Invoke, which
// turns a COM call into an InvokeMember of the script's own protocol.
#include <oleauto.h>
#include <new>
#include <string>
#include <vector>
#include "exec/ErrorReport.h"
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "objects/Object.h"
#include "objects/ObjectBase.h"
#include "objects/VarRef.h"
#include "runtime/PseudoThread.h"

namespace brm {

// {619F7E25-6D89-4EB4-B2FB-18E7C73C0EA6}: granted only to callers that pass this very constant, so only
// the program itself can recognise one of its objects behind an interface pointer.
const IID IID_IObject = {0x619F7E25, 0x6D89, 0x4EB4, {0xB2, 0xFB, 0x18, 0xE7, 0xC7, 0x3C, 0x0E, 0xA6}};

namespace {

// Names handed out by GetIDsOfNames, compared case-sensitively: identifiers start at 1, in order of first
// request, and never change. `order` keeps indexes into `names` sorted for the binary search.
struct DispatchNames {
    std::vector<std::wstring> names;
    std::vector<int32_t> order;
};
DispatchNames s_names;

// The identifier of name, adding it when new; 0 when out of memory.
DISPID NameToId(const wchar_t* name) {
    size_t lo = 0, hi = s_names.order.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        int c = wcscmp(s_names.names[static_cast<size_t>(s_names.order[mid])].c_str(), name);
        if (c == 0) return s_names.order[mid] + 1;
        if (c < 0) lo = mid + 1;
        else hi = mid;
    }
    try {
        if (s_names.names.capacity() == 0) {
            s_names.names.reserve(16);
            s_names.order.reserve(16);
        }
        s_names.names.emplace_back(name);
        s_names.order.insert(s_names.order.begin() + static_cast<std::ptrdiff_t>(lo),
                             static_cast<int32_t>(s_names.names.size() - 1));
    } catch (const std::bad_alloc&) {
        if (s_names.names.size() > s_names.order.size()) s_names.names.pop_back();
        return 0;
    }
    return static_cast<DISPID>(s_names.names.size());
}

const wchar_t* IdToName(DISPID id) {
    if (id < 1 || static_cast<size_t>(id) > s_names.names.size()) return nullptr;
    return s_names.names[static_cast<size_t>(id) - 1].c_str();
}

// One argument of a COM call as the script sees it. By-reference arguments travel in a VarRef whose final
// value goes back into the client's variable.
struct DispatchArg {
    ValueToken token;
    VarRef* ref = nullptr;  // owned
    VARIANT* byRef = nullptr;
    VARTYPE byRefType = VT_EMPTY;
};

// A VARIANT (not by reference) as a token borrowing its contents; false when the type cannot be passed.
bool VariantToToken(const VARIANT& v, ValueToken& t) {
    switch (V_VT(&v)) {
    case VT_EMPTY: t.SetMissing(); return true;
    case VT_ERROR:
        if (V_ERROR(&v) == DISP_E_PARAMNOTFOUND) {
            t.SetMissing();
            return true;
        }
        t.SetInteger(V_ERROR(&v));
        return true;
    case VT_NULL: t.SetString(L"", 0); return true;
    case VT_BSTR: t.SetString(V_BSTR(&v) ? V_BSTR(&v) : L"", static_cast<int32_t>(SysStringLen(V_BSTR(&v)))); return true;
    case VT_BOOL: t.SetInteger(V_BOOL(&v) ? 1 : 0); return true;
    case VT_I1: t.SetInteger(V_I1(&v)); return true;
    case VT_UI1: t.SetInteger(V_UI1(&v)); return true;
    case VT_I2: t.SetInteger(V_I2(&v)); return true;
    case VT_UI2: t.SetInteger(V_UI2(&v)); return true;
    case VT_I4: case VT_INT: t.SetInteger(V_I4(&v)); return true;
    case VT_UI4: case VT_UINT: t.SetInteger(V_UI4(&v)); return true;
    case VT_I8: t.SetInteger(V_I8(&v)); return true;
    case VT_UI8: t.SetInteger(static_cast<int64_t>(V_UI8(&v))); return true;
    case VT_R4: t.SetFloat(V_R4(&v)); return true;
    case VT_R8: t.SetFloat(V_R8(&v)); return true;
    case VT_DISPATCH:
    case VT_UNKNOWN: {
        IUnknown* unknown = V_VT(&v) == VT_DISPATCH ? V_DISPATCH(&v) : V_UNKNOWN(&v);
        if (!unknown) {
            t.SetString(L"", 0);
            return true;
        }
        IObject* object = nullptr;
        if (FAILED(unknown->QueryInterface(IID_IObject, reinterpret_cast<void**>(&object))) || !object)
            return false;  // a foreign COM object needs the COM wrapper objects
        object->Release();  // the client's VARIANT keeps it alive for the call
        t.SetObject(object);
        return true;
    }
    default: return false;  // dates, currency and arrays need the COM value objects
    }
}

// Fills an empty VARIANT from a script value; false when out of memory.
bool TokenToVariant(const ValueToken& value, VARIANT& out) {
    ValueToken t = value;
    if (t.symbol == SymVariable) t.var->ToToken(t);
    VariantInit(&out);
    switch (t.symbol) {
    case SymInteger:
        if (t.valueInt64 >= INT32_MIN && t.valueInt64 <= INT32_MAX) {
            V_VT(&out) = VT_I4;
            V_I4(&out) = static_cast<LONG>(t.valueInt64);
        } else {
            V_VT(&out) = VT_I8;
            V_I8(&out) = t.valueInt64;
        }
        return true;
    case SymFloat:
        V_VT(&out) = VT_R8;
        V_R8(&out) = t.valueDouble;
        return true;
    case SymObject:
        t.object->AddRef();
        V_VT(&out) = VT_DISPATCH;
        V_DISPATCH(&out) = t.object;
        return true;
    case SymMissing:
        return true;  // VT_EMPTY
    default: {
        Char scratch[kScratchChars];
        int32_t length = 0;
        const Char* text = TokenToString(t, scratch, &length);
        if (length < 0) length = static_cast<int32_t>(wcslen(text));
        BSTR b = SysAllocStringLen(text, static_cast<UINT>(length));
        if (!b) return false;
        V_VT(&out) = VT_BSTR;
        V_BSTR(&out) = b;
        return true;
    }
    }
}

// A property of the thrown object as text for the client's exception record; null when absent.
BSTR ThrownProperty(IObject* error, const Char* name) {
    Char scratch[kScratchChars];
    CallResult result(scratch);
    ValueToken self;
    self.SetObject(error);
    if (error->InvokeMember(result, InvokeGet, name, self, nullptr, 0) != Status::Ok) return nullptr;
    int32_t length = 0;
    const Char* text = TokenToString(result.value, scratch, &length);
    if (length < 0) length = static_cast<int32_t>(wcslen(text));
    return SysAllocStringLen(text, static_cast<UINT>(length));
}

// IEnumVARIANT over a script enumerator (a function that stores the next item in its one by-reference
// parameter and returns false at the end), for clients that ask for DISPID_NEWENUM.
class EnumComCompat final : public IEnumVARIANT {
public:
    explicit EnumComCompat(IObject* enumerator) : m_enum(enumerator) { m_enum->AddRef(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumVARIANT)) {
            *object = static_cast<IEnumVARIANT*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_count; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --m_count;
        if (!left) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* items, ULONG* fetched) override {
        ULONG n = 0;
        for (; n < wanted; ++n) {
            VarRef* ref = VarRef::Create();
            if (!ref) break;
            Char scratch[kScratchChars];
            CallResult result(scratch);
            ValueToken arg;
            arg.SetObject(ref);
            ValueToken* args[1] = {&arg};
            const uint8_t savedMode = g_thread->errorMode;
            g_thread->errorMode |= ErrorModeCaughtHere;
            Status st = CallFunction(m_enum, result, args, 1);
            g_thread->errorMode = savedMode;
            if (st != Status::Ok) ClearThrown(*g_thread);
            bool more = st == Status::Ok && TokenToBool(result.value);
            if (more) {
                ValueToken item;
                ref->Body().ToToken(item);
                more = TokenToVariant(item, items[n]);
            }
            ref->Release();
            if (!more) break;
        }
        if (fetched) *fetched = n;
        return n == wanted ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        VARIANT v;
        for (ULONG i = 0; i < count; ++i) {
            ULONG got = 0;
            if (Next(1, &v, &got) != S_OK) return S_FALSE;
            VariantClear(&v);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
        *out = nullptr;
        return E_NOTIMPL;
    }

private:
    ~EnumComCompat() { m_enum->Release(); }
    IObject* m_enum;
    ULONG m_count = 1;
};

// For a client that allows either a call or a get (as script hosts do for `x = obj.Name`): whether Name is
// a property, so that a get answers rather than a call of the property's value.
bool IsPropertyOf(IObject* target, const Char* name) {
    for (IObject* o = target; o; o = o->GetBase()) {
        auto* object = dynamic_cast<Object*>(o);
        if (!object) return false;
        Property* p = object->FindOwnProp(name);
        if (!p) continue;
        if (!p->IsDynamic()) return p->kind != PropKind::Object;
        if (p->desc->method) return false;
        if (p->desc->getter) return true;
    }
    return false;
}

}  // namespace

HRESULT STDMETHODCALLTYPE ObjectBase::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (&riid == &IID_IObject || IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
        *object = static_cast<IObject*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE ObjectBase::GetTypeInfoCount(UINT* count) {
    if (count) *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ObjectBase::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE ObjectBase::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!count) return S_OK;
    DISPID id = NameToId(names[0]);
    if (!id) return E_OUTOFMEMORY;
    ids[0] = id;
    if (count == 1) return S_OK;
    for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

HRESULT STDMETHODCALLTYPE ObjectBase::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                             VARIANT* result, EXCEPINFO* exception, UINT* argError) {
    int kind = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) ? InvokeSet
               : (flags & DISPATCH_METHOD)                               ? InvokeCall
                                                                         : InvokeGet;
    const Char* name = nullptr;
    int extraFlags = 0;
    if (id == DISPID_NEWENUM) {
        if (kind == InvokeSet) return DISP_E_MEMBERNOTFOUND;
        name = L"__Enum";
        kind = InvokeCall;
        extraFlags = InvokeEnum;
    } else if (id != DISPID_VALUE) {
        name = IdToName(id);
        if (!name) return DISP_E_MEMBERNOTFOUND;
        if (kind == InvokeCall && (flags & DISPATCH_PROPERTYGET) && IsPropertyOf(this, name)) kind = InvokeGet;
    }

    // COM passes the arguments last first; at most 254 reach the script.
    UINT count = params ? params->cArgs : 0;
    if (count > 254) count = 254;
    std::vector<DispatchArg> args;
    std::vector<ValueToken*> list;
    try {
        args.resize(count);
        list.resize(count);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count && SUCCEEDED(hr); ++i) {
        VARIANT& v = params->rgvarg[params->cArgs - 1 - i];
        DispatchArg& a = args[i];
        list[i] = &a.token;
        if (V_VT(&v) & VT_BYREF) {
            VARIANT* target = (V_VT(&v) == (VT_VARIANT | VT_BYREF)) ? V_VARIANTREF(&v) : nullptr;
            VARIANT copy;
            VariantInit(&copy);
            if (!target) {
                // A typed reference: read it through a by-value copy of the same type.
                if (FAILED(VariantCopyInd(&copy, &v))) hr = DISP_E_TYPEMISMATCH;
                target = &copy;
            }
            a.ref = VarRef::Create();
            ValueToken initial;
            if (!a.ref) hr = E_OUTOFMEMORY;
            else if (SUCCEEDED(hr) && VariantToToken(*target, initial) && initial.symbol != SymMissing)
                (void)a.ref->Body().Assign(initial);
            VariantClear(&copy);
            a.byRef = &v;
            a.byRefType = V_VT(&v) & ~VT_BYREF;
            if (a.ref) a.token.SetObject(a.ref);
        } else if (!VariantToToken(v, a.token)) {
            hr = DISP_E_TYPEMISMATCH;
        }
        if (FAILED(hr) && argError) *argError = params->cArgs - 1 - i;
    }

    if (SUCCEEDED(hr)) {
        // Errors come back here as thrown values instead of a dialog.
        PseudoThread& thread = *g_thread;
        const uint8_t savedMode = thread.errorMode;
        thread.errorMode |= ErrorModeCaughtHere;
        Char scratch[kScratchChars];
        CallResult call(scratch);
        ValueToken self;
        self.SetObject(this);
        AddRef();  // the call may drop the client's last other reference
        Status st = InvokeMember(call, kind | extraFlags | (name ? 0 : InvokeNoMeta), name, self, list.data(),
                                 static_cast<int>(count));
        if (st == Status::NotHandled && kind == InvokeCall && (flags & DISPATCH_PROPERTYGET))
            st = InvokeMember(call, InvokeGet | (name ? 0 : InvokeNoMeta), name, self, list.data(), static_cast<int>(count));
        thread.errorMode = savedMode;
        if (st == Status::Ok) {
            if (result) {
                if (id == DISPID_NEWENUM && call.value.symbol == SymObject) {
                    auto* adapter = new (std::nothrow) EnumComCompat(call.value.object);
                    VariantInit(result);
                    if (!adapter) hr = E_OUTOFMEMORY;
                    else {
                        V_VT(result) = VT_UNKNOWN;
                        V_UNKNOWN(result) = adapter;
                    }
                } else if (!TokenToVariant(call.value, *result)) {
                    hr = E_OUTOFMEMORY;
                }
            }
        } else if (st == Status::NotHandled) {
            hr = DISP_E_MEMBERNOTFOUND;
        } else {
            ThrownValue* thrown = thread.thrown;
            thread.thrown = nullptr;
            if (thrown && exception && thrown->value.symbol == SymObject) {
                memset(exception, 0, sizeof(*exception));
                exception->scode = DISP_E_EXCEPTION;
                exception->bstrDescription = ThrownProperty(thrown->value.object, L"Message");
                exception->bstrSource = ThrownProperty(thrown->value.object, L"What");
                exception->bstrHelpFile = ThrownProperty(thrown->value.object, L"File");
                Char scratchLine[kScratchChars];
                CallResult line(scratchLine);
                if (thrown->value.object->InvokeMember(line, InvokeGet, L"Line", thrown->value, nullptr, 0) == Status::Ok &&
                    line.value.symbol == SymInteger)
                    exception->dwHelpContext = static_cast<DWORD>(line.value.valueInt64);
                hr = DISP_E_EXCEPTION;
            } else {
                if (thrown) {
                    thread.thrown = thrown;
                    (void)ReportUnhandled(thrown);
                    thrown = thread.thrown;
                    thread.thrown = nullptr;
                }
                hr = E_FAIL;
            }
            if (thrown) FreeThrownValue(thrown);
        }
        Release();
    }

    // The final value of each by-reference argument goes back, as the type the client's variable had.
    for (UINT i = 0; i < count; ++i) {
        DispatchArg& a = args[i];
        if (!a.ref) continue;
        if (SUCCEEDED(hr) && a.byRef) {
            ValueToken final;
            a.ref->Body().ToToken(final);
            VARIANT value;
            if (!a.ref->Body().IsUnset() && TokenToVariant(final, value)) {
                if (V_VT(a.byRef) == (VT_VARIANT | VT_BYREF)) {
                    VariantClear(V_VARIANTREF(a.byRef));
                    *V_VARIANTREF(a.byRef) = value;
                } else {
                    VARIANT typed;
                    VariantInit(&typed);
                    if (SUCCEEDED(VariantChangeType(&typed, &value, 0, a.byRefType))) {
                        // Write through the typed pointer: the client's variable keeps its type.
                        switch (a.byRefType) {
                        case VT_I4: *V_I4REF(a.byRef) = V_I4(&typed); break;
                        case VT_I2: *V_I2REF(a.byRef) = V_I2(&typed); break;
                        case VT_R8: *V_R8REF(a.byRef) = V_R8(&typed); break;
                        case VT_BOOL: *V_BOOLREF(a.byRef) = V_BOOL(&typed); break;
                        case VT_BSTR:
                            SysFreeString(*V_BSTRREF(a.byRef));
                            *V_BSTRREF(a.byRef) = V_BSTR(&typed);
                            V_VT(&typed) = VT_EMPTY;  // the client owns the string now
                            break;
                        default: break;
                        }
                        VariantClear(&typed);
                    }
                    VariantClear(&value);
                }
            }
        }
        a.ref->Release();
    }
    return hr;
}

}  // namespace brm
