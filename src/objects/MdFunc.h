// Typed built-in functions: a routine is an ordinary C++ function taking native values; its parameter
// list is turned into a signature at compile time, and one generic caller converts the script's arguments,
// calls the routine and turns its FResult, return value and output parameters back into script values.
#pragma once
#include <cstdint>
#include <array>
#include <cwchar>
#include <tuple>
#include <type_traits>
#include <utility>
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "objects/NativeFunc.h"

namespace brm {

// --- FResult: the status word of a typed routine ---
struct [[nodiscard]] FResult {
    int32_t code;
};
constexpr FResult FrOk{0};
constexpr FResult FrContinued{0x20000000};  // an error was reported and the user chose to continue
constexpr FResult FrFail{static_cast<int32_t>(0xA0000000u)};  // the routine raised the error already
constexpr FResult FrOutOfMemory{static_cast<int32_t>(0xA0010001u)};
constexpr FResult FrInvalidParams{static_cast<int32_t>(0xA00AFFFFu)};
constexpr FResult FrWin32(uint32_t error) { return {static_cast<int32_t>(0xA0070000u | (error & 0xFFFF))}; }  // 0: GetLastError
constexpr FResult FrParam(int zeroBasedIndex) { return {static_cast<int32_t>(0xA00A0000u | (zeroBasedIndex & 0xFFFF))}; }
constexpr FResult FrFailedWith(uint32_t value) { return {static_cast<int32_t>(0xE0000000u | (value & 0x0FFFFFFF))}; }

// Turns an FResult into the call's status, raising what it describes. args are the script arguments (for
// quoting a bad parameter).
Status DecodeFResult(FResult fr, CallResult& result, ValueToken** params, int count);

// --- Signature codes ---
enum MdCode : uint8_t {
    MdEnd = 0x00, MdInt8 = 0x01, MdUInt8 = 0x02, MdInt16 = 0x03, MdUInt16 = 0x04, MdInt32 = 0x05, MdUInt32 = 0x06,
    MdInt64 = 0x07, MdInt64b = 0x08, MdDouble = 0x09, MdFloat = 0x0A, MdString = 0x0B, MdObject = 0x0C,
    MdValue = 0x0D, MdBool = 0x0E, MdStatus = 0x0F, MdFResult = 0x10, MdRest = 0x11,
    MdOptional = 0x80, MdRetVal = 0x81, MdOutput = 0x82,
};

// Parameter wrappers a routine declares.
template <class T>
struct Opt {  // optional: `has` is false when the argument was omitted
    bool has = false;
    T value{};
    explicit operator bool() const { return has; }
    const T& operator*() const { return value; }
};
template <class T>
struct Out {  // output: the routine writes *ptr; the value goes to the caller's variable if one was supplied
    T* ptr;
};
struct StrRet {  // the String return value: Set copies (into the scratch buffer, or the heap when long)
    CallResult* result;
    bool Set(const Char* text, size_t length);
};
struct ValueRet {  // the Value return value: the call's own result
    CallResult* result;
};
struct Rest {  // the remaining arguments
    ValueToken** params;
    int count;
};
struct Self {  // a method's object (`this`), already checked against the owner prototype; no script parameter
    IObject* object;
};

namespace md {

struct Ctx {
    ValueToken** params;  // the script arguments, without a method's `this`
    int count;
    int next = 0;   // the next script argument
    CallResult* result;
    IObject* self = nullptr;
};

Status RaiseOmitted(int zeroBasedIndex);
Status RaiseOutputNeedsVar(int zeroBasedIndex, const ValueToken& arg);
Var* OutputVar(ValueToken& arg);  // the variable a VarRef or variable reference names; null otherwise
Status LoadString(ValueToken& arg, int index, Char* buffer, const Char*& text);
Status LoadObject(ValueToken& arg, int index, IObject*& object);
Status LoadNumber(ValueToken& arg, int index, bool wantFloat, int64_t& i, double& d);
void StoreInteger(Var* var, int64_t value);
void StoreFloat(Var* var, double value);
void StoreValue(Var* var, const ValueToken& value);
void MarkUnset(Var* var);

// One argument slot per routine parameter type.
template <class T, class = void>
struct Arg;

template <class T>
struct Arg<T, std::enable_if_t<std::is_arithmetic_v<T> && !std::is_same_v<T, bool>>> {
    static constexpr uint32_t kCode = std::is_same_v<T, int8_t> ? MdInt8 : std::is_same_v<T, uint8_t> ? MdUInt8
        : std::is_same_v<T, int16_t> ? MdInt16 : std::is_same_v<T, uint16_t> ? MdUInt16
        : std::is_same_v<T, int32_t> ? MdInt32 : std::is_same_v<T, uint32_t> ? MdUInt32
        : std::is_same_v<T, double> ? MdDouble : std::is_same_v<T, float> ? MdFloat : MdInt64;
    static constexpr bool kScript = true, kOptional = false;
    static constexpr int kSlots = (sizeof(T) == 8) ? 2 : 1;
    T v{};
    Status Load(Ctx& c) {
        int index = c.next++;
        if (index >= c.count || c.params[index]->symbol == SymMissing)
            return RaiseOmitted(index);
        int64_t i = 0;
        double d = 0;
        BRM_TRY(LoadNumber(*c.params[index], index, std::is_floating_point_v<T>, i, d));
        v = std::is_floating_point_v<T> ? static_cast<T>(d) : static_cast<T>(i);
        return Status::Ok;
    }
    T Get() { return v; }
    void Finish(bool) {}
};

template <>
struct Arg<bool> {
    static constexpr uint32_t kCode = MdBool;
    static constexpr bool kScript = true, kOptional = false;
    static constexpr int kSlots = 1;
    bool v = false;
    Status Load(Ctx& c) {
        int index = c.next++;
        if (index >= c.count || c.params[index]->symbol == SymMissing)
            return RaiseOmitted(index);
        v = TokenToBool(*c.params[index]);
        return Status::Ok;
    }
    bool Get() { return v; }
    void Finish(bool) {}
};

template <>
struct Arg<const Char*> {
    static constexpr uint32_t kCode = MdString;
    static constexpr bool kScript = true, kOptional = false;
    static constexpr int kSlots = 1;
    Char buffer[kScratchChars];
    const Char* v = L"";
    Status Load(Ctx& c) {
        int index = c.next++;
        if (index >= c.count || c.params[index]->symbol == SymMissing)
            return RaiseOmitted(index);
        return LoadString(*c.params[index], index, buffer, v);
    }
    const Char* Get() { return v; }
    void Finish(bool) {}
};

template <>
struct Arg<IObject*> {
    static constexpr uint32_t kCode = MdObject;
    static constexpr bool kScript = true, kOptional = false;
    static constexpr int kSlots = 1;
    IObject* v = nullptr;
    Status Load(Ctx& c) {
        int index = c.next++;
        if (index >= c.count || c.params[index]->symbol == SymMissing)
            return RaiseOmitted(index);
        return LoadObject(*c.params[index], index, v);
    }
    IObject* Get() { return v; }
    void Finish(bool) {}
};

template <>
struct Arg<ValueToken&> {
    static constexpr uint32_t kCode = MdValue;
    static constexpr bool kScript = true, kOptional = false;
    static constexpr int kSlots = 1;
    ValueToken* v = nullptr;
    Status Load(Ctx& c) {
        int index = c.next++;
        if (index >= c.count || c.params[index]->symbol == SymMissing)
            return RaiseOmitted(index);
        v = c.params[index];
        return Status::Ok;
    }
    ValueToken& Get() { return *v; }
    void Finish(bool) {}
};

// An optional Value: the argument token, or null when omitted.
template <>
struct Arg<ValueToken*> {
    static constexpr uint32_t kCode = (MdOptional << 8) | MdValue;
    static constexpr bool kScript = true, kOptional = true;
    static constexpr int kSlots = 1;
    ValueToken* v = nullptr;
    Status Load(Ctx& c) {
        int index = c.next++;
        if (index < c.count && c.params[index]->symbol != SymMissing)
            v = c.params[index];
        return Status::Ok;
    }
    ValueToken* Get() { return v; }
    void Finish(bool) {}
};

template <class T>
struct Arg<Opt<T>> {
    static constexpr uint32_t kCode = (MdOptional << 8) | Arg<T>::kCode;
    static constexpr bool kScript = true, kOptional = true;
    static constexpr int kSlots = 1;  // a pointer to the value, null when omitted
    Arg<T> inner;
    Opt<T> v;
    Status Load(Ctx& c) {
        if (c.next >= c.count || c.params[c.next]->symbol == SymMissing) {
            ++c.next;
            return Status::Ok;
        }
        BRM_TRY(inner.Load(c));
        v.has = true;
        v.value = inner.Get();
        return Status::Ok;
    }
    Opt<T> Get() { return v; }
    void Finish(bool) {}
};

// The variable an output parameter writes to; none when the argument is omitted.
inline Status LoadOutputVar(Ctx& c, Var*& var) {
    int index = c.next++;
    if (index >= c.count || c.params[index]->symbol == SymMissing)
        return Status::Ok;
    var = OutputVar(*c.params[index]);
    if (!var)
        return RaiseOutputNeedsVar(index, *c.params[index]);
    return Status::Ok;
}

// Output parameters are optional: an omitted one is written to a local nobody reads.
template <class T>
struct Arg<Out<T>, std::enable_if_t<std::is_arithmetic_v<T>>> {
    static constexpr uint32_t kCode = (MdOptional << 16) | (MdOutput << 8) | Arg<T>::kCode;
    static constexpr bool kScript = true, kOptional = true;
    static constexpr int kSlots = 1;
    T local{};
    Var* var = nullptr;
    Status Load(Ctx& c) { return LoadOutputVar(c, var); }
    Out<T> Get() { return Out<T>{&local}; }
    void Finish(bool ok) {
        if (!var)
            return;
        if (!ok)
            MarkUnset(var);
        else if constexpr (std::is_floating_point_v<T>)
            StoreFloat(var, static_cast<double>(local));
        else
            StoreInteger(var, static_cast<int64_t>(local));
    }
};

// String and Value outputs: the routine writes into a result slot of the call's own (a 256-character
// buffer for text, or an allocated string it hands over); the slot is released when the call is done.
template <class R>
struct Arg<Out<R>, std::enable_if_t<std::is_same_v<R, StrRet> || std::is_same_v<R, ValueRet>>> {
    static constexpr uint32_t kCode =
        (MdOptional << 16) | (MdOutput << 8) | (std::is_same_v<R, StrRet> ? MdString : MdValue);
    static constexpr bool kScript = true, kOptional = true;
    static constexpr int kSlots = 1;
    Char buffer[kScratchChars];
    CallResult slot{buffer};
    R local{&slot};
    Var* var = nullptr;
    Status Load(Ctx& c) { return LoadOutputVar(c, var); }
    Out<R> Get() { return Out<R>{&local}; }
    void Finish(bool ok) {
        if (!var)
            return;
        if (ok)
            StoreValue(var, slot.value);
        else
            MarkUnset(var);
    }
};

template <>
struct Arg<StrRet> {
    static constexpr uint32_t kCode = (MdRetVal << 16) | (MdOutput << 8) | MdString;
    static constexpr bool kScript = false, kOptional = false;
    static constexpr int kSlots = 1;
    StrRet v{};
    Status Load(Ctx& c) {
        v.result = c.result;
        return Status::Ok;
    }
    StrRet& Get() { return v; }
    void Finish(bool) {}
};

template <>
struct Arg<ValueRet> {
    static constexpr uint32_t kCode = (MdRetVal << 16) | (MdOutput << 8) | MdValue;
    static constexpr bool kScript = false, kOptional = false;
    static constexpr int kSlots = 1;
    ValueRet v{};
    Status Load(Ctx& c) {
        v.result = c.result;
        return Status::Ok;
    }
    ValueRet Get() { return v; }
    void Finish(bool) {}
};

template <>
struct Arg<Rest> {
    static constexpr uint32_t kCode = MdRest;
    static constexpr bool kScript = false, kOptional = true;
    static constexpr int kSlots = 1;
    Rest v{nullptr, 0};
    Status Load(Ctx& c) {
        if (c.next < c.count) {
            v.params = c.params + c.next;
            v.count = c.count - c.next;
            c.next = c.count;
        }
        return Status::Ok;
    }
    Rest Get() { return v; }
    void Finish(bool) {}
};

// The bytes of one signature entry: its modifiers (packed above the type byte, outermost highest) and
// then the type.
constexpr int EntryBytes(uint32_t code) { return code > 0xFFFF ? 3 : code > 0xFF ? 2 : 1; }

template <class R>
constexpr uint8_t ReturnCode() {
    if constexpr (std::is_same_v<R, void>) return MdEnd;
    else if constexpr (std::is_same_v<R, FResult>) return MdFResult;
    else if constexpr (std::is_same_v<R, Status>) return MdStatus;
    else if constexpr (std::is_same_v<R, bool>) return MdBool;
    else return Arg<R>::kCode;
}

// The signature text of a parameter list, 0-terminated.
template <class... A>
struct Signature {
    static constexpr size_t kLength =
        (size_t{1} + ... + static_cast<size_t>(Arg<A>::kCode ? EntryBytes(Arg<A>::kCode) : 0));
    static constexpr std::array<uint8_t, kLength> Make() {
        std::array<uint8_t, kLength> bytes{};
        constexpr uint32_t codes[] = {Arg<A>::kCode..., 0};
        size_t at = 0;
        for (size_t i = 0; i + 1 < sizeof(codes) / sizeof(codes[0]); ++i)
            for (int shift = codes[i] ? (EntryBytes(codes[i]) - 1) * 8 : -1; shift >= 0; shift -= 8)
                bytes[at++] = static_cast<uint8_t>(codes[i] >> shift);
        return bytes;
    }
    static constexpr std::array<uint8_t, kLength> kBytes = Make();
};

template <>
struct Arg<Self> {
    static constexpr uint32_t kCode = MdEnd;  // the object comes first and has no signature entry
    static constexpr bool kScript = false, kOptional = false;
    static constexpr int kSlots = 1;
    Self v{nullptr};
    Status Load(Ctx& c) {
        v.object = c.self;
        return Status::Ok;
    }
    Self Get() { return v; }
    void Finish(bool) {}
};

template <class F>
struct Traits;
template <class R, class... A>
struct Traits<R (*)(A...)> {
    using Return = R;
    static constexpr uint8_t kReturn = ReturnCode<R>();
    static constexpr const uint8_t* kSignature = Signature<A...>::kBytes.data();
    static constexpr int kSlots = (0 + ... + Arg<A>::kSlots);
    // Output Values other than the return value: the slots the caller prepares for them.
    static constexpr int kOutputValues = (0 + ... +
        ((Arg<A>::kCode & 0xFFFF) == ((MdOutput << 8) | MdValue) && (Arg<A>::kCode >> 16) != MdRetVal ? 1 : 0));
    static constexpr int kMax = (0 + ... + (Arg<A>::kScript ? 1 : 0));
    static constexpr bool kVariadic = (false || ... || std::is_same_v<A, Rest>);
    // Leading script parameters before the first optional one.
    static constexpr int MinParams() {
        constexpr bool script[] = {Arg<A>::kScript..., false};
        constexpr bool optional[] = {Arg<A>::kOptional..., false};
        int n = 0;
        for (size_t i = 0; i < sizeof...(A); ++i) {
            if (!script[i])
                continue;
            if (optional[i])
                break;
            ++n;
        }
        return n;
    }
    template <R (*Fn)(A...)>
    static Status Call(CallResult& result, ValueToken** params, int count, IObject* self = nullptr) {
        Ctx c{params, count, 0, &result, self};
        std::tuple<Arg<A>...> args;
        Status s = Status::Ok;
        std::apply([&](auto&... a) { ((s == Status::Ok ? (s = a.Load(c), 0) : 0), ...); }, args);
        if (s != Status::Ok)
            return s;
        result.value.SetString(L"", 0);
        if constexpr (std::is_same_v<R, void>) {
            std::apply([](auto&... a) { Fn(a.Get()...); }, args);
        } else {
            R r = std::apply([](auto&... a) { return Fn(a.Get()...); }, args);
            if constexpr (std::is_same_v<R, FResult>) {
                s = DecodeFResult(r, result, params, count);
                // Outputs keep their values only on success; a continued error unsets them too.
                bool ok = r.code >= 0 && r.code != FrContinued.code;
                std::apply([ok](auto&... a) { (a.Finish(ok), ...); }, args);
                return s;
            } else if constexpr (std::is_same_v<R, Status>) {
                s = r;
            } else if constexpr (std::is_same_v<R, bool>) {
                result.value.SetInteger(r ? 1 : 0);
            } else if constexpr (std::is_floating_point_v<R>) {
                result.value.SetFloat(static_cast<double>(r));
            } else {
                result.value.SetInteger(static_cast<int64_t>(r));
            }
        }
        bool ok = s == Status::Ok;
        std::apply([ok](auto&... a) { (a.Finish(ok), ...); }, args);
        return s;
    }
};

}  // namespace md

// params exclude a method's `this`, which comes as self.
using MdRoutine = Status (*)(CallResult& result, ValueToken** params, int count, IObject* self);

// A row of the typed function table: the routine's marshalling entry point and its parameter counts, all
// derived from the routine's C++ type by BRM_MD_ROW.
struct MdFuncDef {
    const Char* name;
    MdRoutine call;
    const uint8_t* signature;  // entries of modifier bytes and a type byte, 0-terminated
    uint8_t returnType;
    uint8_t minParams;
    uint8_t maxParams;
    bool variadic;
    uint8_t outputValues;  // output Value parameters that are not the return value
    uint8_t slots;         // 32-bit argument slots of the native call
};

#define BRM_MD_ROW(name, fn)                                                                              \
    MdFuncDef {                                                                                           \
        name, &::brm::md::Traits<decltype(&fn)>::template Call<&fn>,                                      \
            ::brm::md::Traits<decltype(&fn)>::kSignature, ::brm::md::Traits<decltype(&fn)>::kReturn,      \
            static_cast<uint8_t>(::brm::md::Traits<decltype(&fn)>::MinParams()),                          \
            static_cast<uint8_t>(::brm::md::Traits<decltype(&fn)>::kMax),                                 \
            ::brm::md::Traits<decltype(&fn)>::kVariadic,                                                  \
            static_cast<uint8_t>(::brm::md::Traits<decltype(&fn)>::kOutputValues),                        \
            static_cast<uint8_t>(::brm::md::Traits<decltype(&fn)>::kSlots)                                \
    }

// What the signature says of script parameter `index` (0-based; return values and the remaining-arguments
// entry are not script parameters). Past the last declared parameter both are false.
bool SignatureArgIsOutput(const uint8_t* signature, int index);
bool SignatureArgIsOptional(const uint8_t* signature, int index);

// The function object of a typed row; made once per row from the pool.
class MdFunc final : public NativeFunc {
public:
    static MdFunc* Create(const MdFuncDef* def);
    // A typed member of a class: name is the full "<Class>.Prototype.<Name>[.Get|.Set]" from the pool, and
    // `this` (counted in the parameter counts) must be an instance of owner.
    static MdFunc* CreateMethod(const Char* name, const MdFuncDef* def, Object* owner);
    Status Call(CallResult& result, ValueToken** params, int count) override;
    bool ArgIsByRef(int index) const override {
        return SignatureArgIsOutput(m_def->signature, index - (m_owner ? 1 : 0));
    }
    bool ArgIsOptional(int index) const override {
        return index >= m_maxParams || SignatureArgIsOptional(m_def->signature, index - (m_owner ? 1 : 0));
    }
    const MdFuncDef* Def() const { return m_def; }

private:
    MdFunc(const Char* name, const MdFuncDef* def, Object* owner)
        : NativeFunc(name, def->minParams + (owner ? 1 : 0), def->maxParams + (owner ? 1 : 0), def->variadic),
          m_def(def), m_owner(owner) {}
    const MdFuncDef* m_def;
    Object* m_owner;  // null for a function
};

// Typed routines that live with other subsystems but are bound through the typed table.
FResult BifFileAppend(ValueToken& data, Opt<const Char*> file, Opt<const Char*> options);  // lib/FileAppend.cpp
bool BifPersistent(Opt<bool> persist);                     // runtime/MessageLoop.cpp
FResult BifReload();                                       // startup/Reload.cpp
FResult BifEdit();                                         // startup/MainWindow.cpp
bool BifListLines(Opt<bool> mode);                         // startup/MainViews.cpp
void BifListVars();                                        // startup/MainViews.cpp
void BifListHotkeys();                                     // startup/MainViews.cpp
FResult BifKeyHistory(Opt<int64_t> maxEvents);             // startup/MainViews.cpp
FResult BifMenuFromHandle(int64_t handle, ValueRet ret);    // startup/UserMenu.cpp
FResult BifTraySetIcon(Opt<const Char*> fileName, Opt<int32_t> iconNumber, Opt<bool> freeze);  // startup/TrayIcon.cpp
FResult BifTrayTip(Opt<const Char*> text, Opt<const Char*> title, Opt<const Char*> options);    // startup/TrayIcon.cpp
FResult BifOnExit(IObject* callback, Opt<int32_t> mode);   // runtime/CallbackList.cpp
FResult BifOnError(IObject* callback, Opt<int32_t> mode);  // runtime/CallbackList.cpp
FResult BifPause(Opt<int64_t> state);                                          // runtime/MessageLoop.cpp
void BifSleep(int32_t delay);                                                  // runtime/MessageLoop.cpp
int64_t BifCritical(Opt<const Char*> setting);                                 // runtime/MessageLoop.cpp
FResult BifThread(const Char* command, Opt<int64_t> value1, Opt<int64_t> value2);  // runtime/MessageLoop.cpp
FResult BifSetTimer(Opt<IObject*> function, Opt<int64_t> period, Opt<int32_t> priority);  // runtime/ScriptTimer.cpp
FResult BifOnMessage(uint32_t message, IObject* callback, Opt<int64_t> maxThreads);  // runtime/MessageMonitor.cpp
FResult BifSendMessage(uint32_t message, Opt<ValueToken*> wParam, Opt<ValueToken*> lParam, Opt<ValueToken*> control,
                       Opt<ValueToken*> winTitle, Opt<const Char*> winText, Opt<const Char*> excludeTitle,
                       Opt<const Char*> excludeText, Opt<int64_t> timeout, ValueRet ret);  // system/WindowMessages.cpp
FResult BifPostMessage(uint32_t message, Opt<ValueToken*> wParam, Opt<ValueToken*> lParam, Opt<ValueToken*> control,
                       Opt<ValueToken*> winTitle, Opt<const Char*> winText, Opt<const Char*> excludeTitle,
                       Opt<const Char*> excludeText);  // system/WindowMessages.cpp

// Binary search (A-to-Z fold) of the typed table; null when absent.
const MdFuncDef* FindTypedFunc(const Char* name, size_t length);
// The function object of a row, created on first use.
MdFunc* GetTypedFunc(const MdFuncDef* def);

}  // namespace brm
