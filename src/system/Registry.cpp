// The registry functions over the system's registry calls: key names, the conversion of registry data to
// script values and back (binary data as hexadecimal text, multi-strings as lines), and the defaults a
// function takes from the registry loop it runs in.
#include "system/Registry.h"
#include <cstdlib>
#include <cwchar>
#include <vector>
#include "base/SortedTable.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "objects/BuiltInFunctions.h"
#include "objects/IObject.h"
#include "runtime/PseudoThread.h"

namespace brm {

namespace {

// The backslash that ends "\\computer" must stand within the first 128 characters.
constexpr size_t kMaxRemotePart = 128;
// The longest root name, "HKEY_CURRENT_CONFIG".
constexpr size_t kMaxRootName = 19;
// A key name is at most 255 characters, and the subtree deletion reads names into a buffer of that size.
constexpr DWORD kMaxKeyNameChars = 256;

struct RootKey {
    const Char* shortName;
    const Char* longName;
    HKEY key;
};

const RootKey kRoots[] = {
    {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKCC", L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}, {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKU", L"HKEY_USERS", HKEY_USERS},
};

bool SameFold(const Char* a, size_t aLength, const Char* b) { return CompareFoldAZ(a, aLength, b, wcslen(b)) == 0; }

// An open key; predefined keys are never opened here, so every handle it holds is its own.
class OpenKey {
public:
    OpenKey() = default;
    ~OpenKey() { if (m_key) RegCloseKey(m_key); }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    HKEY* Out() { return &m_key; }
    HKEY Get() const { return m_key; }
    void Close() {
        if (m_key) RegCloseKey(m_key);
        m_key = nullptr;
    }

private:
    HKEY m_key = nullptr;
};

enum RegOp : int { OpRead = 0, OpWrite = 1, OpCreateKey = 2, OpDelete = 3, OpDeleteKey = 4 };

int Identity(const CallResult& result) { return static_cast<const BuiltInFunc*>(result.func)->def->identity; }

bool Given(ValueToken** params, int count, int i) {
    if (i >= count) return false;
    const ValueToken& t = *params[i];
    return t.symbol != SymMissing && !(t.symbol == SymVariable && t.var->IsUnset());
}

Status SetText(CallResult& result, const Char* text, size_t length) {
    Char* target = result.buffer;
    if (length >= static_cast<size_t>(kScratchChars)) {
        target = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
        if (!target) return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        result.memToFree = target;
    }
    wmemcpy(target, text, length);
    target[length] = 0;
    result.value.SetString(target, static_cast<int32_t>(length));
    return Status::Ok;
}

// The call's result becomes the argument as it was given: text is copied, an object gains a reference.
Status ReturnArgument(CallResult& result, const ValueToken& arg) {
    ValueToken v = arg;
    if (v.symbol == SymVariable) {
        if (v.var->IsObject()) {
            v.SetObject(v.var->Object());
        } else if (!v.var->IsPureNumber()) {
            int32_t length = 0;
            const Char* text = TokenToString(arg, result.buffer, &length);
            if (length < 0) length = static_cast<int32_t>(wcslen(text));
            return SetText(result, text, static_cast<size_t>(length));
        } else {
            arg.var->ToToken(v);
        }
    }
    switch (v.symbol) {
    case SymObject:
        v.object->AddRef();
        result.value.SetObject(v.object);
        return Status::Ok;
    case SymInteger:
    case SymFloat:
        result.value = v;
        return Status::Ok;
    default: {
        int32_t length = 0;
        const Char* text = TokenToString(v, result.buffer, &length);
        if (length < 0) length = static_cast<int32_t>(wcslen(text));
        return SetText(result, text, static_cast<size_t>(length));
    }
    }
}

const struct {
    const Char* name;
    DWORD type;
} kWritableTypes[] = {{L"REG_SZ", REG_SZ}, {L"REG_EXPAND_SZ", REG_EXPAND_SZ}, {L"REG_MULTI_SZ", REG_MULTI_SZ},
                      {L"REG_DWORD", REG_DWORD}, {L"REG_BINARY", REG_BINARY}};

const Char* TypeName(int32_t type) {
    static const Char* const kNames[] = {
        L"", L"REG_SZ", L"REG_EXPAND_SZ", L"REG_BINARY", L"REG_DWORD", L"REG_DWORD_BIG_ENDIAN", L"REG_LINK",
        L"REG_MULTI_SZ", L"REG_RESOURCE_LIST", L"REG_FULL_RESOURCE_DESCRIPTOR", L"REG_RESOURCE_REQUIREMENTS_LIST",
        L"REG_QWORD"};
    if (type == kRegTypeKey) return L"KEY";
    return type > 0 && type < static_cast<int32_t>(sizeof(kNames) / sizeof(kNames[0])) ? kNames[type] : L"";
}

int HexDigit(Char c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Reads a value's data whatever its size; the size may change between the calls, so it is asked again
// until the data fits.
LSTATUS QueryData(HKEY key, const Char* valueName, DWORD& type, std::vector<BYTE>& data) {
    DWORD size = 0;
    LSTATUS rc = RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size);
    for (int attempt = 0; rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA; ++attempt) {
        // Room for a terminator the data may lack.
        data.resize(size + 2 * sizeof(Char));
        DWORD got = size;
        rc = RegQueryValueExW(key, valueName, nullptr, &type, data.data(), &got);
        if (rc == ERROR_SUCCESS) {
            data.resize(got);
            return rc;
        }
        if (rc != ERROR_MORE_DATA || attempt > 8) break;
        size = got > size ? got : size * 2 + 64;
    }
    return rc;
}

Status ReadTextValue(CallResult& result, DWORD type, const std::vector<BYTE>& data) {
    size_t length = data.size() / sizeof(Char);
    if (!length) return SetText(result, L"", 0);
    std::vector<Char> text(length + 2);
    memcpy(text.data(), data.data(), length * sizeof(Char));
    if (!text[length - 1]) --length;  // the data's own terminator
    if (type == REG_MULTI_SZ) {
        if (!length || text[length - 1]) text[length++] = 0;
        for (size_t i = 0; i < length; ++i)
            if (!text[i]) text[i] = L'\n';
    }
    text[length] = 0;
    return SetText(result, text.data(), wcslen(text.data()));
}

Status ReadValue(CallResult& result, HKEY root, const Char* path, const Char* valueName, LSTATUS& rc) {
    OpenKey key;
    rc = RegOpenKeyExW(root, path, 0, RegistryView() | KEY_READ, key.Out());
    if (rc != ERROR_SUCCESS) return Status::Ok;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    rc = QueryData(key.Get(), valueName, type, data);
    if (rc != ERROR_SUCCESS) return Status::Ok;
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ:
        return ReadTextValue(result, type, data);
    case REG_BINARY: {
        static const Char kDigits[] = L"0123456789ABCDEF";
        std::vector<Char> text(data.size() * 2 + 1);
        for (size_t i = 0; i < data.size(); ++i) {
            text[2 * i] = kDigits[data[i] >> 4];
            text[2 * i + 1] = kDigits[data[i] & 15];
        }
        return SetText(result, text.data(), data.size() * 2);
    }
    case REG_DWORD: {
        DWORD value = 0;
        memcpy(&value, data.data(), data.size() < sizeof(value) ? data.size() : sizeof(value));
        result.value.SetInteger(static_cast<int64_t>(value));
        return Status::Ok;
    }
    default:
        rc = ERROR_UNSUPPORTED_TYPE;
        return Status::Ok;
    }
}

// The bytes RegWrite stores, worked out before anything is created so that bad data leaves the registry
// as it was. Ok with rc set when the data is not valid for its type.
Status PrepareData(const ValueToken& value, DWORD type, std::vector<BYTE>& data, LSTATUS& rc) {
    rc = ERROR_SUCCESS;
    if (type == REG_DWORD) {
        ValueToken n;
        if (!TokenToNumber(value, n)) return RaiseParamTypeError(0, L"Number", value);
        int64_t i = n.symbol == SymInteger ? n.valueInt64 : FloatToInt64(n.valueDouble);
        DWORD low = static_cast<DWORD>(static_cast<uint64_t>(i));
        data.resize(sizeof(low));
        memcpy(data.data(), &low, sizeof(low));
        return Status::Ok;
    }
    if (TokenKind(value) == SymObject) return RaiseParamTypeError(0, L"String", value);
    Char scratch[kScratchChars];
    int32_t length32 = 0;
    const Char* text = TokenToString(value, scratch, &length32);
    size_t length = length32 < 0 ? wcslen(text) : static_cast<size_t>(length32);
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        data.resize((length + 1) * sizeof(Char));
        memcpy(data.data(), text, length * sizeof(Char));
        data[length * sizeof(Char)] = data[length * sizeof(Char) + 1] = 0;
        return Status::Ok;
    case REG_MULTI_SZ: {
        if (length && text[length - 1] == L'\n') --length;
        if (!length) return Status::Ok;  // no strings: empty data
        std::vector<Char> list(text, text + length);
        for (Char& c : list)
            if (c == L'\n') c = 0;
        list.push_back(0);
        list.push_back(0);
        data.resize(list.size() * sizeof(Char));
        memcpy(data.data(), list.data(), data.size());
        return Status::Ok;
    }
    case REG_BINARY:
        if (length % 2) {
            rc = ERROR_INVALID_PARAMETER;
            return Status::Ok;
        }
        data.resize(length / 2);
        for (size_t i = 0; i < length; i += 2) {
            int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
            if (high < 0 || low < 0) {
                rc = ERROR_INVALID_PARAMETER;
                return Status::Ok;
            }
            data[i / 2] = static_cast<BYTE>(high << 4 | low);
        }
        return Status::Ok;
    default:
        // A type taken from a loop item that is not written (REG_QWORD and the like).
        rc = ERROR_INVALID_PARAMETER;
        return Status::Ok;
    }
}

// Empties a key: its subkeys go one by one, depth first, always the first remaining one; the first
// failure ends the deletion.
LSTATUS DeleteSubtree(HKEY key) {
    for (;;) {
        Char name[kMaxKeyNameChars];
        DWORD length = kMaxKeyNameChars;
        LSTATUS rc = RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (rc != ERROR_SUCCESS) return rc;
        {
            OpenKey child;
            rc = RegOpenKeyExW(key, name, 0, RegistryView() | KEY_READ, child.Out());
            if (rc != ERROR_SUCCESS) return rc;
            rc = DeleteSubtree(child.Get());
            if (rc != ERROR_SUCCESS) return rc;
        }
        rc = RegDeleteKeyW(key, name);
        if (rc != ERROR_SUCCESS) return rc;
    }
}

// The key a registry function works on, from its KeyName argument or the loop it runs in.
struct Target {
    RegKeyName parsed;
    HKEY key = nullptr;
    std::wstring path;
    std::wstring valueName;
    bool hasValueName = false;
};

Status RaiseKeyNameError(ValueToken** params, int count, int index) {
    if (index < count && params[index]->symbol != SymMissing) return RaiseParamError(index, *params[index]);
    return RaiseFormatted(ErrorClass::ValueError, nullptr, Msg::ParamInvalid, index + 1);
}

}  // namespace

bool RegKeyName::Parse(const Char* text, RemoteKey mode) {
    Close();
    const Char* p = text;
    const Char* computerEnd = nullptr;
    if (p[0] == L'\\' && p[1] == L'\\') {
        computerEnd = wcschr(p + 2, L'\\');
        if (!computerEnd || static_cast<size_t>(computerEnd - text) >= kMaxRemotePart) return false;
        p = computerEnd + 1;
    }
    size_t rootLength = 0;
    while (p[rootLength] && p[rootLength] != L'\\')
        if (++rootLength > kMaxRootName) return false;
    const RootKey* found = nullptr;
    for (const RootKey& r : kRoots)
        if (SameFold(p, rootLength, r.shortName) || SameFold(p, rootLength, r.longName)) {
            found = &r;
            break;
        }
    if (!found) return false;
    const Char* path = p[rootLength] ? p + rootLength + 1 : p + rootLength;
    // A path with an empty part ("a\\b", a leading or a trailing backslash) names no key for certain:
    // the system may read it as another key (the parent, or the root itself), and a deletion must never
    // reach further than the key named.
    size_t pathLength = wcslen(path);
    if (pathLength && (path[0] == L'\\' || path[pathLength - 1] == L'\\' || wcsstr(path, L"\\\\"))) return false;
    root = found->key;
    key = root;
    subkey.assign(path, pathLength);
    if (computerEnd && mode == RemoteKey::Connect) {
        std::wstring computer(text, static_cast<size_t>(computerEnd - text));
        HKEY connected = nullptr;
        if (RegConnectRegistryW(computer.c_str(), root, &connected) != ERROR_SUCCESS) return false;
        key = connected;
        remote = true;
    }
    return true;
}

void RegKeyName::Close() {
    if (remote && key) RegCloseKey(key);
    remote = false;
    key = nullptr;
}

const Char* RootKeyLongName(HKEY root) {
    for (const RootKey& r : kRoots)
        if (r.key == root) return r.longName;
    return L"";
}

REGSAM RegistryView() { return static_cast<REGSAM>(g_thread->settings.regView); }

Status BifRegistry(CallResult& result, ValueToken** params, int count) {
    const int op = Identity(result);
    const int keyIndex = op == OpWrite ? 2 : 0;
    const int nameIndex = keyIndex + 1;
    result.value.SetString(L"", 0);

    DWORD type = 0;
    if (op == OpWrite && Given(params, count, 1)) {
        const ValueToken& t = *params[1];
        bool known = false;
        if (TokenKind(t) == SymString) {
            Char scratch[kScratchChars];
            const Char* text = TokenToString(t, scratch);
            for (const auto& w : kWritableTypes)
                if (SameFold(text, wcslen(text), w.name)) {
                    type = w.type;
                    known = true;
                }
        }
        if (!known) return RaiseParamError(1, t);
    }

    Target target;
    const LoopRegItem* item = g_thread->loop.reg;
    if (!Given(params, count, keyIndex) && item) {
        target.key = item->key;
        if (item->type != kRegTypeKey) {
            target.path = item->subkey;
            if (op != OpDeleteKey) {
                target.valueName = item->name;
                target.hasValueName = true;
            }
            if (op == OpWrite && !type) type = static_cast<DWORD>(item->type);
        } else {
            target.path = item->subkey[0] ? std::wstring(item->subkey) + L"\\" + item->name : std::wstring(item->name);
            target.hasValueName = op != OpDeleteKey;
        }
    } else {
        Char scratch[kScratchChars];
        const Char* text = L"";
        if (Given(params, count, keyIndex)) {
            if (TokenKind(*params[keyIndex]) == SymObject) return RaiseKeyNameError(params, count, keyIndex);
            text = TokenToString(*params[keyIndex], scratch);
        }
        if (!target.parsed.Parse(text, RemoteKey::Connect)) return RaiseKeyNameError(params, count, keyIndex);
        target.key = target.parsed.key;
        target.path = target.parsed.subkey;
        target.hasValueName = op != OpDeleteKey;
    }
    if (op != OpCreateKey && op != OpDeleteKey && Given(params, count, nameIndex)) {
        const ValueToken& t = *params[nameIndex];
        if (TokenKind(t) == SymObject) return RaiseParamTypeError(nameIndex, L"String", t);
        Char scratch[kScratchChars];
        target.valueName = TokenToString(t, scratch);
        target.hasValueName = true;
    }

    LSTATUS rc = ERROR_SUCCESS;
    switch (op) {
    case OpRead:
        BRM_TRY(ReadValue(result, target.key, target.path.c_str(), target.valueName.c_str(), rc));
        g_thread->lastError = static_cast<uint32_t>(rc);
        if (rc == ERROR_FILE_NOT_FOUND && Given(params, count, 2)) return ReturnArgument(result, *params[2]);
        break;
    case OpWrite:
    case OpCreateKey: {
        std::vector<BYTE> data;
        if (op == OpWrite) {
            if (!type) return RaiseFormatted(ErrorClass::ValueError, nullptr, Msg::ParamInvalid, 2);
            BRM_TRY(PrepareData(*params[0], type, data, rc));
        }
        if (rc == ERROR_SUCCESS) {
            OpenKey key;
            rc = RegCreateKeyExW(target.key, target.path.c_str(), 0, const_cast<Char*>(L""), REG_OPTION_NON_VOLATILE,
                                 RegistryView() | KEY_WRITE, nullptr, key.Out(), nullptr);
            if (rc == ERROR_SUCCESS && op == OpWrite)
                rc = RegSetValueExW(key.Get(), target.valueName.c_str(), 0, type, data.empty() ? nullptr : data.data(),
                                    static_cast<DWORD>(data.size()));
        }
        break;
    }
    case OpDelete:
    case OpDeleteKey: {
        if (target.path.empty() && !target.hasValueName) return RaiseMsg(ErrorClass::Error, Msg::CannotDeleteRootKey);
        OpenKey key;
        // Read, set value, create subkey, enumerate subkeys, notify.
        constexpr REGSAM kDeleteAccess = 0x2001F;
        rc = RegOpenKeyExW(target.key, target.path.c_str(), 0, RegistryView() | kDeleteAccess, key.Out());
        if (rc != ERROR_SUCCESS) break;
        if (op == OpDelete) {
            rc = RegDeleteValueW(key.Get(), target.valueName.c_str());
            break;
        }
        rc = DeleteSubtree(key.Get());
        key.Close();
        if (rc == ERROR_SUCCESS)
            rc = RegistryView() ? RegDeleteKeyExW(target.key, target.path.c_str(), RegistryView(), 0)
                                : RegDeleteKeyW(target.key, target.path.c_str());
        break;
    }
    }
    g_thread->lastError = static_cast<uint32_t>(rc);
    if (rc != ERROR_SUCCESS) {
        result.value.SetString(L"", 0);
        return RaiseOSErrorCode(static_cast<uint32_t>(rc));
    }
    return Status::Ok;
}

Status GetLoopRegVar(CallResult& result, const Char* name) {
    const LoopRegItem* item = g_thread->loop.reg;
    if (!item) return SetText(result, L"", 0);
    size_t n = wcslen(name);
    auto endsWith = [&](const Char* suffix) {
        size_t m = wcslen(suffix);
        return n >= m && CompareFoldAZ(name + n - m, m, suffix, m) == 0;
    };
    if (endsWith(L"Name")) return SetText(result, item->name, wcslen(item->name));
    if (endsWith(L"Type")) {
        const Char* typeName = TypeName(item->type);
        return SetText(result, typeName, wcslen(typeName));
    }
    if (endsWith(L"Key")) {
        std::wstring key = RootKeyLongName(item->root);
        if (item->subkey[0]) key += L'\\';
        key += item->subkey;
        return SetText(result, key.data(), key.size());
    }
    // TimeModified: a subkey's last write in local time.
    FILETIME local;
    SYSTEMTIME st;
    if (item->type != kRegTypeKey || !FileTimeToLocalFileTime(&item->modified, &local) ||
        !FileTimeToSystemTime(&local, &st))
        return SetText(result, L"", 0);
    Char text[16], *end = PutPaddedDecimal(text, st.wYear, 4);
    for (unsigned part : {st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond}) end = PutPaddedDecimal(end, part, 2);
    return SetText(result, text, static_cast<size_t>(end - text));
}

}  // namespace brm
