// Func: the base of every callable object (script functions, closures, bound functions and the native
// function kinds), and the script function records the loader fills.
#pragma once
#include <cstdint>
#include "expr/ValueToken.h"
#include "objects/Object.h"

namespace brm {

// The common part of every function object: an Object (scripts may give it own properties) whose base is
// Func.Prototype or the prototype of its subclass.
class Func : public Object {
public:
    const Char* TypeName() override { return L"Func"; }

    // The name; the empty string for anonymous and bound functions.
    const Char* Name() const { return m_name; }
    // Declared parameters (`this` included for methods), and how many must be supplied.
    int MaxParams() const { return m_maxParams; }
    int MinParams() const { return m_minParams; }
    bool IsVariadic() const { return m_isVariadic; }

    virtual bool IsBuiltIn() const = 0;
    // Whether parameter index (0-based) is by reference (an output variable for built-ins).
    virtual bool ArgIsByRef(int index) const { (void)index; return false; }
    // Whether parameter index (0-based) may be omitted.
    virtual bool ArgIsOptional(int index) const { return index >= m_minParams; }
    // A call with no member name runs Call directly; everything else is looked up through the base.
    Status InvokeMember(CallResult& result, int flags, const Char* name, ValueToken& thisToken, ValueToken** params,
                        int paramCount) override;

    // Calls the function. The result is initialised by the caller (see CallResult); params may hold
    // Variable tokens and Missing tokens for omitted arguments. Returns Ok unless the call failed or
    // exited the thread (Fail, EarlyExit); the callee's own status is also left in result.result.
    virtual Status Call(CallResult& result, ValueToken** params, int count) = 0;

protected:
    // The base is Func.Prototype (none before the class tree exists); subclasses may set another.
    Func(const Char* name, int minParams, int maxParams, bool isVariadic)
        : Object(BuiltInPrototype(ClassId::Func)), m_name(name ? name : L""), m_maxParams(maxParams),
          m_minParams(minParams), m_isVariadic(isVariadic) {}

    const Char* m_name;
    int32_t m_maxParams;
    int32_t m_minParams;
    bool m_isVariadic;
};

struct ScriptLine;
struct Var;

// How an omitted argument is supplied.
enum class ParamDefault : uint16_t { None = 0, String = 1, Integer = 2, Float = 3, Unset = 4, Expression = 5 };

struct ParamRecord {
    Var* var;          // the parameter's local; null for an unnamed variadic `*`
    uint16_t byRef;    // nonzero for `&name`
    ParamDefault defaultKind;
    union {
        const Char* text;    // String (permanent)
        int64_t integer;
        double number;
        ScriptLine* line;    // Expression: an Expression line "name := default" at the start of the body
    } value;
};

// A list of Var pointers sorted by name (case-insensitive), searched by binary search.
struct VarList {
    Var** items = nullptr;
    int32_t count = 0;
    int32_t capacity = 0;

    // The Var of that name, or null with *position set to where it would be inserted.
    Var* Find(const Char* name, size_t length, int32_t* position = nullptr) const;
    bool Insert(Var* var, int32_t position);  // false when out of memory
};

// Scope bit of a local that a nested function captures (Var::m_scope).
constexpr uint8_t kVarScopeCaptured = 0x08;

// The variables of one call that its closures share: one Var per captured local of the function. Counted:
// the running call holds one reference and every Closure made during the call holds one.
struct CapturedVars {
    int32_t refCount;
    int32_t count;
    CapturedVars* outer;  // the record of the closure the call ran through (counted), or null
    Var* vars;            // count Vars, following this header

    static CapturedVars* Create(int32_t count, CapturedVars* outer);  // null when out of memory
    void AddRef() { ++refCount; }
    void Release();
    // Destroys the record when nothing holds it any more: no running call, no closure holding a counted
    // reference, and no closure kept in one of its own variables referenced from elsewhere.
    void DestroyIfUnreferenced();
};

// A local of a nested function that stands for a captured local of the enclosing function.
struct OuterRef {
    Var* local;
    int32_t outerIndex;  // in the enclosing function's captured locals
    int32_t ownIndex;    // in this function's captured locals when a further nested function captures it too; -1
};

// A nested function and the variable of the enclosing function that holds it.
struct NestedFunc {
    Var* holder;
    class UserFunc* func;
};

// A function defined in the script. Created by the loader; lives for the whole run.
class UserFunc final : public Func {
public:
    explicit UserFunc(const Char* name) : Func(name, 0, 0, false) {}

    bool IsBuiltIn() const override { return false; }
    bool ArgIsByRef(int index) const override {
        return index >= 0 && index < m_maxParams && paramList[index].byRef;
    }
    Status Call(CallResult& result, ValueToken** params, int count) override { return CallWith(result, params, count, nullptr); }

    // --- Filled by the loader ---
    void SetParamCounts(int minParams, int maxParams, bool isVariadic) {
        m_minParams = minParams;
        m_maxParams = maxParams;
        m_isVariadic = isVariadic;
    }
    ParamRecord* paramList = nullptr; // MaxParams entries, plus one for the variadic parameter
    ScriptLine* bodyBegin = nullptr; // the body's "{"
    ScriptLine* bodyEnd = nullptr;   // the body's "}" when the loader added it (one-line bodies)
    ScriptLine* firstLine = nullptr; // where a call starts: after the lines that compute defaults
    int32_t defaultLineCount = 0;    // Expression lines at the start of the body that compute defaults
    UserFunc* outer = nullptr;       // the function whose body encloses this one
    Object* owner = nullptr;         // a method's class or prototype: where `super` starts looking
    VarList vars;                    // every name of this scope: locals, statics, declared globals
    Var** locals = nullptr;          // the locals (parameters included): reset at the end of every call
    int32_t localCount = 0;
    int32_t localCapacity = 0;
    uint8_t defaultScope = 0;        // 0 assume-local, 0x41 assume-global, 0x62 assume-static
    bool isStatic = false;           // declared "static": captures nothing
    bool hasHiddenThis = false;      // a method: parameter numbers in messages skip `this`
    bool localsAssigned = false;     // a declaration other than the default-scope one was seen

    int32_t depth = 0;               // calls of this function now running

    // Closures. Filled while names are bound; settled by Finish at the first call.
    Var** captured = nullptr;        // locals that nested functions capture; index = record slot
    int32_t capturedCount = 0;
    OuterRef* outerRefs = nullptr;   // locals standing for the enclosing function's captured locals
    int32_t outerRefCount = 0;
    NestedFunc* nested = nullptr;    // functions defined directly in this one's body
    int32_t nestedCount = 0;
    bool finished = false;

    bool AddLocal(Var* var);         // false when out of memory
    int32_t Capture(Var* local);     // the record slot of a local of this function; -1 when out of memory
    bool AddOuterRef(Var* local, int32_t outerIndex);
    bool AddNested(Var* holder, UserFunc* func);
    bool NeedsClosure() const { return outerRefCount != 0; }
    // Calls with the record of the closure the call runs through (null for a direct call).
    Status CallWith(CallResult& result, ValueToken** params, int count, CapturedVars* closureVars);

private:
    void Finish();

protected:
    ~UserFunc() override = default;
    bool Delete() override { return true; }  // pool memory: a script function lives for the whole run
};

// A nested function bound to the variables of one call of its enclosing function.
class Closure final : public Func {
public:
    // A new reference, or null when out of memory (nothing raised). selfStored: the closure is kept in one of
    // the variables of vars itself; it then holds no counted reference to the record, which breaks the
    // cycle record -> variable -> closure -> record.
    static Closure* Create(UserFunc* func, CapturedVars* vars, bool selfStored = false);
    ULONG STDMETHODCALLTYPE Release() override;
    bool IsStoredIn(const CapturedVars* vars) const { return m_selfStored && m_vars == vars; }

    const Char* TypeName() override { return L"Closure"; }
    bool IsBuiltIn() const override { return false; }
    bool ArgIsByRef(int index) const override { return m_func->ArgIsByRef(index); }
    Status Call(CallResult& result, ValueToken** params, int count) override;

private:
    Closure(UserFunc* func, CapturedVars* vars, bool selfStored);
    ~Closure() override;

    UserFunc* m_func;
    CapturedVars* m_vars;  // counted unless m_selfStored
    bool m_selfStored;
};

// A function with some arguments fixed in advance (Bind, ObjBindMethod). Omitted bound arguments are
// placeholders that the call's arguments fill in order; the rest of the call's arguments follow.
class BoundFunc final : public Func {
public:
    // A new reference, or null after raising "Out of memory.". memberName null calls the target itself.
    static BoundFunc* Create(IObject* target, const Char* memberName, ValueToken** args, int count);

    const Char* TypeName() override { return L"BoundFunc"; }
    bool IsBuiltIn() const override { return false; }
    Status Call(CallResult& result, ValueToken** params, int count) override;

private:
    BoundFunc() : Func(L"", 0, 0, true) {}
    ~BoundFunc() override;

    IObject* m_target = nullptr;   // counted
    Char* m_member = nullptr;      // owned copy, or null
    Var* m_args = nullptr;         // m_argCount Vars; an unset one is a placeholder
    int m_argCount = 0;
};

// Binds Func.Prototype's members (Call, Bind, IsOptional, IsByRef, Name, MinParams, MaxParams, IsBuiltIn,
// IsVariadic) to the class tree; start-up calls it before the built-in classes are created.
void RegisterFuncClass();

// The classic routine of ObjBindMethod(Obj, Method?, Args*).
Status BifObjBindMethod(CallResult& result, ValueToken** params, int paramCount);

// Where execution continues after a function body met in the line flow (begin is the body's "{").
ScriptLine* LineAfterFunctionBody(ScriptLine* begin);

// The function whose body is running (null in the auto-execute section), for dynamic references.
extern UserFunc* g_runningFunc;

// Checks a callback before it is stored: paramCount is the number of arguments the caller will pass (-1 for
// any). On failure with raiseErrors the error is raised and Fail returned; without, valid is set to false
// and Ok returned. When minParams is not null it receives the function's MinParams (if it could be read).
Status CallbackCheck(IObject* func, int paramCount, bool raiseErrors, bool& valid, int* minParams = nullptr);

}  // namespace brm
