// Script function calls: argument binding, the local-variable frame and its survival across recursion.
#include "objects/Func.h"
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include "base/Messages.h"
#include "base/SortedTable.h"
#include "exec/Executor.h"
#include "exec/Raise.h"
#include "exec/StackGuard.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "loader/ScriptLine.h"
#include "objects/Array.h"
#include "objects/BuiltInFunctions.h"
#include "objects/NativeClass.h"
#include "objects/Object.h"
#include "objects/VarRef.h"
#include "startup/ScriptHost.h"

namespace brm {

UserFunc* g_runningFunc = nullptr;

namespace {

// Case-insensitive comparison of a listed name with a name of known length.
int CompareName(const Char* listed, const Char* name, size_t length) {
    int c = CompareFoldAZ(listed, name, length);
    if (c) return c;
    return listed[length] ? 1 : 0;
}

// The saved locals of the calls that recursion interrupted. Records are copied in and out by value, so the
// arena may move when it grows; after the deepest recursion it is simply reused.
struct SavedLocals {
    Var* items = nullptr;
    size_t used = 0;
    size_t capacity = 0;

    bool Reserve(size_t more) {
        if (used + more <= capacity) return true;
        size_t wanted = capacity ? capacity * 2 : 1024;
        while (wanted < used + more) wanted *= 2;
        void* grown = realloc(static_cast<void*>(items), wanted * sizeof(Var));
        if (!grown) return false;
        items = static_cast<Var*>(grown);
        capacity = wanted;
        return true;
    }
};
SavedLocals s_saved;

// Arguments of a recursive call that read one of the locals about to be reset are first taken by value;
// the text they point at moves with the saved record and stays valid for the call. Kept off the machine
// stack, which deep recursion needs.
struct ArgCopies {
    ValueToken* values = nullptr;
    ValueToken** pointers = nullptr;
    int capacity = 0;

    bool Reserve(int count) {
        if (count <= capacity) return true;
        int wanted = capacity ? capacity * 2 : 16;
        while (wanted < count) wanted *= 2;
        void* v = realloc(static_cast<void*>(values), sizeof(ValueToken) * static_cast<size_t>(wanted));
        if (!v) return false;
        values = static_cast<ValueToken*>(v);
        void* p = realloc(static_cast<void*>(pointers), sizeof(ValueToken*) * static_cast<size_t>(wanted));
        if (!p) return false;
        pointers = static_cast<ValueToken**>(p);
        capacity = wanted;
        return true;
    }
};
ArgCopies s_argCopies;

inline bool IsMissingArg(const ValueToken* t) { return t->symbol == SymMissing; }

// outlives: the parameter may outlive the call (a closure captured it), so it must hold a VarRef rather
// than point straight at the caller's variable.
Status BindByRef(Var* param, ValueToken* arg, int shownIndex, bool outlives = false) {
    IObject* object = nullptr;
    if (arg->symbol == SymObject) object = arg->object;
    else if (arg->symbol == SymVariable && arg->var->IsObject()) object = arg->var->Object();
    if (arg->symbol == SymVariable && arg->varUsage >= 3 && !object) {
        Var* target = arg->var->Target();
        if (target->m_type != VarTypeNormal) return target->RaiseReadOnly(VarAction::TakeReference);
        if (!outlives) {
            param->SetAlias(target, nullptr);
            return Status::Ok;
        }
        VarRef* ref = arg->var->MakeRef();
        if (!ref) return Status::Fail;
        param->SetAlias(&ref->Body(), ref);  // takes the new reference
        return Status::Ok;
    }
    auto* ref = dynamic_cast<VarRef*>(object);
    if (!ref) return RaiseParamTypeError(shownIndex, L"variable reference", *arg);
    ref->AddRef();
    param->SetAlias(&ref->Body(), ref);
    return Status::Ok;
}

}  // namespace

Var* VarList::Find(const Char* name, size_t length, int32_t* position) const {
    int32_t lo = 0, hi = count - 1;
    while (lo <= hi) {
        int32_t mid = (lo + hi) / 2;
        int c = CompareName(items[mid]->m_name, name, length);
        if (c == 0) return items[mid];
        if (c < 0) lo = mid + 1;
        else hi = mid - 1;
    }
    if (position) *position = lo;
    return nullptr;
}

bool VarList::Insert(Var* var, int32_t position) {
    if (count == capacity) {
        int32_t grown = capacity ? capacity * 2 : 32;
        void* memory = realloc(static_cast<void*>(items), sizeof(Var*) * static_cast<size_t>(grown));
        if (!memory) return false;
        items = static_cast<Var**>(memory);
        capacity = grown;
    }
    memmove(items + position + 1, items + position, sizeof(Var*) * static_cast<size_t>(count - position));
    items[position] = var;
    ++count;
    return true;
}

namespace {

template <class T>
bool Append(T*& items, int32_t& count, const T& item) {
    // Load-time lists: grown one step at a time, they stay short.
    void* memory = realloc(static_cast<void*>(items), sizeof(T) * static_cast<size_t>(count + 1));
    if (!memory) return false;
    items = static_cast<T*>(memory);
    items[count++] = item;
    return true;
}

}  // namespace

int32_t UserFunc::Capture(Var* local) {
    for (int32_t i = 0; i < capturedCount; ++i)
        if (captured[i] == local) return i;
    if (!Append(captured, capturedCount, local)) return -1;
    local->m_scope |= kVarScopeCaptured;
    return capturedCount - 1;
}

bool UserFunc::AddOuterRef(Var* local, int32_t outerIndex) {
    return Append(outerRefs, outerRefCount, OuterRef{local, outerIndex, -1});
}

bool UserFunc::AddNested(Var* holder, UserFunc* func) { return Append(nested, nestedCount, NestedFunc{holder, func}); }

void UserFunc::Finish() {
    finished = true;
    ScriptLine* line = bodyBegin->nextLine;
    for (int32_t i = 0; i < defaultLineCount; ++i) line = line->nextLine;
    firstLine = line;
    for (int32_t i = 0; i < outerRefCount; ++i)
        for (int32_t k = 0; k < capturedCount; ++k)
            if (captured[k] == outerRefs[i].local) outerRefs[i].ownIndex = k;
    // A nested function that uses none of this function's variables is one function for every call; the
    // others get a Closure per call, kept in a local.
    for (int32_t i = 0; i < nestedCount; ++i) {
        NestedFunc& n = nested[i];
        if (n.func->NeedsClosure() || (n.holder->m_scope & kVarScopeCaptured)) {
            // Filled at every call: with a new Closure, or with the function itself when other nested
            // functions reach it through the shared record.
            n.holder->m_scope &= static_cast<uint8_t>(~VarScopeStatic);
            AddLocal(n.holder);
        } else {
            n.func->AddRef();
            n.holder->m_object = n.func;
            n.holder->m_attrib = VarAttribObject | VarAttribAssigned | VarAttribNotNumeric;
        }
    }
}

bool UserFunc::AddLocal(Var* var) {
    if (localCount == localCapacity) {
        int32_t grown = localCapacity ? localCapacity * 2 : 8;
        void* memory = realloc(static_cast<void*>(locals), sizeof(Var*) * static_cast<size_t>(grown));
        if (!memory) return false;
        locals = static_cast<Var**>(memory);
        localCapacity = grown;
    }
    locals[localCount++] = var;
    return true;
}

Status UserFunc::CallWith(CallResult& result, ValueToken** params, int count, CapturedVars* closureVars) {
    while (count > m_maxParams && !m_isVariadic && count > 0 && IsMissingArg(params[count - 1]))
        --count;  // trailing omitted arguments are simply not passed
    if (count > m_maxParams && !m_isVariadic) return RaiseMsg(ErrorClass::Error, Msg::TooManyParams, m_name);
    if (!finished) Finish();
    if (outerRefCount && !closureVars) return RaiseMsg(ErrorClass::Error, Msg::FuncOutOfScope, m_name);

    // Recursion: the running calls' locals wait in the arena while this one runs.
    const size_t savedBase = s_saved.used;
    ValueToken** args = params;
    if (depth > 0) {
        // The copies are needed only until the parameters are bound, before any further call can start.
        if (!s_argCopies.Reserve(count)) return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        ValueToken* values = s_argCopies.values;
        args = s_argCopies.pointers;
        for (int i = 0; i < count; ++i) {
            ValueToken* a = params[i];
            if (a->symbol == SymVariable && a->varUsage < 3) {
                a->var->ToToken(values[i]);
                args[i] = &values[i];
            } else {
                args[i] = a;
            }
        }
        if (!s_saved.Reserve(static_cast<size_t>(localCount))) return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        Var* save = s_saved.items + s_saved.used;
        Char* const empty = VarEmptyString();
        for (int32_t i = 0; i < localCount; ++i) {
            Var* v = locals[i];
            memcpy(static_cast<void*>(&save[i]), static_cast<const void*>(v), sizeof(Var));
            // A fresh unset variable with the same name and scope (a closure's holder stays a constant).
            v->m_valueInt64 = 0;
            v->m_contents = empty;
            v->m_byteLength = 0;
            v->m_capacity = 0;
            v->m_attrib = VarAttribUnset | (v->m_attrib & VarAttribAssigned);
            v->m_type = v->m_type == VarTypeConstant ? VarTypeConstant : VarTypeNormal;
            // Buffers of the inner calls come from the heap, so that they can be given back on return.
            v->m_allocKind = VarAllocHeap;
        }
        s_saved.used += static_cast<size_t>(localCount);
    }
    ++depth;
    UserFunc* const previousFunc = g_runningFunc;
    ScriptLine* const callerLine = g_script.currentLine;

    Status st = Status::Ok;
    // The variables this call shares with the closures it makes.
    CapturedVars* callVars = nullptr;
    if (capturedCount) {
        callVars = CapturedVars::Create(capturedCount, closureVars);
        if (!callVars) st = RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        for (int32_t i = 0; i < capturedCount && callVars; ++i) captured[i]->SetAlias(&callVars->vars[i], nullptr);
    }
    for (int32_t i = 0; i < outerRefCount && st == Status::Ok; ++i) {
        OuterRef& r = outerRefs[i];
        Var* shared = &closureVars->vars[r.outerIndex];
        if (r.ownIndex >= 0) callVars->vars[r.ownIndex].SetAlias(shared, nullptr);
        else r.local->SetAlias(shared, nullptr);
    }
    for (int32_t i = 0; i < nestedCount && st == Status::Ok; ++i) {
        NestedFunc& n = nested[i];
        if (!n.func->NeedsClosure()) {
            if (!(n.holder->m_scope & kVarScopeCaptured)) continue;
            Var* store = n.holder->Target();
            n.func->AddRef();
            store->m_object = n.func;
            store->m_attrib = (store->m_attrib & VarAttribAssigned) | VarAttribObject | VarAttribNotNumeric;
            continue;
        }
        // A closure that nested functions refer to by name (itself included) lives in the shared record.
        const bool shared = (n.holder->m_scope & kVarScopeCaptured) && n.holder->m_type == VarTypeAlias;
        Closure* c = Closure::Create(n.func, callVars, shared);
        if (!c) {
            st = RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
            break;
        }
        Var* store = shared ? n.holder->Target() : n.holder;
        store->m_object = c;  // the variable takes the new reference; the clean-up below releases it
        store->m_attrib = (store->m_attrib & VarAttribAssigned) | VarAttribObject | VarAttribNotNumeric;
    }
    bool pendingDefaults = false;
    const int shownBase = hasHiddenThis ? 1 : 0;
    for (int i = 0; i < m_maxParams && st == Status::Ok; ++i) {
        ParamRecord& p = paramList[i];
        Var* v = p.var;
        if (i >= count || IsMissingArg(args[i])) {
            switch (p.defaultKind) {
            case ParamDefault::None:
                st = RaiseMsg(ErrorClass::Error, Msg::MissingRequiredParam, v->m_name);
                break;
            case ParamDefault::String: st = v->AssignString(p.value.text); break;
            case ParamDefault::Integer: st = v->AssignInteger(p.value.integer); break;
            case ParamDefault::Float: st = v->AssignFloat(p.value.number); break;
            case ParamDefault::Unset: break;
            case ParamDefault::Expression: pendingDefaults = true; break;
            }
            continue;
        }
        const ValueToken* arg = args[i];
        if (!p.byRef && v->m_type == VarTypeNormal && (arg->symbol == SymInteger || arg->symbol == SymFloat)) {
            // The common case: a number into a plain parameter.
            st = v->AssignNumber(arg->valueInt64, arg->symbol == SymInteger ? VarAttribInteger : VarAttribFloat);
            continue;
        }
        if (p.byRef && v->m_type == VarTypeAlias && (v->m_scope & kVarScopeCaptured))
            st = BindByRef(v->m_aliasFor, args[i], i - shownBase, true);  // closures share the reference
        else if (p.byRef) st = BindByRef(v, args[i], i - shownBase);
        else st = v->Assign(*args[i]);
    }
    if (st == Status::Ok && m_isVariadic && paramList[m_maxParams].var) {
        // The surplus arguments, as an Array (empty when there are none).
        Array* rest = Array::Create();
        if (!rest) st = RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        for (int i = m_maxParams; i < count && st == Status::Ok; ++i) {
            ValueToken value;
            if (args[i]->symbol == SymVariable) args[i]->var->ToToken(value);
            else value = *args[i];
            ValueToken* one = &value;
            st = rest->Append(&one, 1);
        }
        if (rest) {
            if (st == Status::Ok) st = paramList[m_maxParams].var->AssignObject(rest);  // takes the reference
            else rest->Release();
        }
    }
    g_runningFunc = this;
    if (st == Status::Ok && pendingDefaults) {
        // A default may call this function again before any line of its body runs.
        if (StackNearlyExhausted()) RecursionLimitExceeded();
        for (int i = 0; i < m_maxParams && st == Status::Ok; ++i) {
            ParamRecord& p = paramList[i];
            if (p.defaultKind != ParamDefault::Expression || (i < count && !IsMissingArg(params[i]))) continue;
            ScriptLine* line = p.value.line;
            g_script.currentLine = line;
            st = EvaluateForEffect(*line, line->args[0]);
        }
    }
    if (st == Status::Ok) {
        ScriptLine* jump = nullptr;
        st = ExecUntil(firstLine, ExecMode::FunctionBody, &result, &jump);
        if (st == Status::Return || st == Status::Break || st == Status::Continue) st = Status::Ok;
    }
    result.result = st;

    // Every local is emptied; the interrupted call's locals come back.
    for (int32_t i = 0; i < localCount; ++i) {
        Var* v = locals[i];
        if (v->m_type == VarTypeNormal && !(v->m_attrib & VarAttribObject) && v->m_capacity == 0) {
            // Nothing held: a number or the shared empty string.
            v->m_byteLength = 0;
            v->m_attrib = (v->m_attrib & VarAttribAssigned) | VarAttribUnset;
            continue;
        }
        v->Free(VarFreeMemory | VarFreeDropAlias | VarFreeMarkUnset);
    }
    if (s_saved.used != savedBase) {
        const Var* save = s_saved.items + savedBase;
        for (int32_t i = 0; i < localCount; ++i)
            memcpy(static_cast<void*>(locals[i]), static_cast<const void*>(&save[i]), sizeof(Var));
        s_saved.used = savedBase;
    }
    if (callVars) callVars->Release();
    --depth;
    g_runningFunc = previousFunc;
    g_script.currentLine = callerLine;
    return st == Status::Fail || st == Status::EarlyExit ? st : Status::Ok;
}

Status CallbackCheck(IObject* func, int paramCount, bool raiseErrors, bool& valid, int* minParams) {
    valid = true;
    ValueToken self;
    self.SetObject(func);
    // A function without own properties answers from its record; anything else through the invoke
    // protocol, so that any object with the shape properties or a Call method will do.
    auto* known = dynamic_cast<Func*>(func);
    if (known && known->OwnPropCount()) known = nullptr;
    // One shape property (for a known function, the value its record gives); found stays false when the
    // object has none.
    const auto read = [&self, known](const Char* name, int64_t knownValue, int64_t& out, bool& found) -> Status {
        if (known) {
            found = true;
            out = knownValue;
            return Status::Ok;
        }
        Char scratch[kScratchChars];
        CallResult r(scratch);
        Status st = InvokeValue(r, InvokeGet, name, self, nullptr, 0);
        found = st == Status::Ok;
        if (st == Status::NotHandled) return Status::Ok;
        BRM_TRY(st);
        out = TokenToInt64(r.value);
        return Status::Ok;
    };
    const auto invalid = [&valid, raiseErrors]() -> Status {
        valid = false;
        return raiseErrors ? RaiseMsg(ErrorClass::ValueError, Msg::InvalidCallback) : Status::Ok;
    };
    int64_t minimum = 0, maximum = 0, variadic = 0;
    bool hasMin = false, hasMax = false, hasVariadic = false;
    if (paramCount != -1 || minParams) {
        BRM_TRY(read(L"MinParams", known ? known->MinParams() : 0, minimum, hasMin));
        if (minParams) {
            if (!hasMin) return RaiseNoMember(self, InvokeGet, L"MinParams");
            *minParams = static_cast<int>(minimum);
        }
        if (hasMin && paramCount != -1 && paramCount < minimum) return invalid();
    }
    if (paramCount > 0 && (!hasMin || minimum != paramCount)) {
        BRM_TRY(read(L"MaxParams", known ? known->MaxParams() : 0, maximum, hasMax));
        if (hasMax && maximum < paramCount) {
            BRM_TRY(read(L"IsVariadic", known && known->IsVariadic(), variadic, hasVariadic));
            if (!hasVariadic || !variadic) return invalid();
        }
    }
    if (hasMin || hasMax || known) return Status::Ok;
    // Nothing tells the shape: the object must at least be callable. Other objects (COM) are let through.
    auto* object = dynamic_cast<Object*>(func);
    if (!object) return Status::Ok;
    bool accessorOnly = false;
    for (Object* o = object; o; o = static_cast<Object*>(o->GetBase())) {
        Property* p = o->FindOwnProp(L"Call");
        if (!p) continue;
        if (p->IsDynamic()) {
            if (p->desc->method) return Status::Ok;
            accessorOnly = accessorOnly || p->desc->getter;
            continue;
        }
        if (p->kind == PropKind::Object && !accessorOnly) return Status::Ok;
        break;
    }
    valid = false;
    return raiseErrors ? RaiseNoMember(self, InvokeCall, L"Call") : Status::Ok;
}

ScriptLine* LineAfterFunctionBody(ScriptLine* begin) {
    if (begin->relatedLine) return begin->relatedLine;
    auto* func = static_cast<UserFunc*>(begin->attribute);
    return func->bodyEnd ? func->bodyEnd->nextLine : nullptr;
}

}  // namespace brm

// --- Func as an object ---

namespace brm {

namespace {
Status FuncMemberRoutine(IObject* self, CallResult& result, int identity, int invokeKind, ValueToken** params,
                         int paramCount);
}  // namespace

Status Func::InvokeMember(CallResult& result, int flags, const Char* name, ValueToken& thisToken, ValueToken** params,
                          int paramCount) {
    const int kind = flags & InvokeKindMask;
    // A function given an own Call is invoked through it, like any object.
    if (!name && kind == InvokeCall && !OwnPropCount()) return Call(result, params, paramCount);
    return Object::InvokeMember(result, flags, name, thisToken, params, paramCount);
}

// --- Closures ---

CapturedVars* CapturedVars::Create(int32_t count, CapturedVars* outer) {
    auto* r = static_cast<CapturedVars*>(malloc(sizeof(CapturedVars) + sizeof(Var) * static_cast<size_t>(count)));
    if (!r) return nullptr;
    r->refCount = 1;
    r->count = count;
    r->outer = outer;
    if (outer) outer->AddRef();
    r->vars = reinterpret_cast<Var*>(r + 1);
    for (int32_t i = 0; i < count; ++i) {
        new (&r->vars[i]) Var(L"", VarScopeLocal);
        r->vars[i].m_allocKind = VarAllocHeap;  // given back with the record, never pool memory
    }
    return r;
}

void CapturedVars::Release() {
    if (--refCount > 0) return;
    DestroyIfUnreferenced();
}

void CapturedVars::DestroyIfUnreferenced() {
    if (refCount != 0) return;
    // A closure kept in one of these variables counts its variable as one reference; any more come from
    // elsewhere and keep the record alive.
    for (int32_t i = 0; i < count; ++i) {
        const Var& v = vars[i];
        if (!(v.m_attrib & VarAttribObject) || v.m_type == VarTypeAlias) continue;
        auto* c = dynamic_cast<Closure*>(v.m_object);
        if (c && c->IsStoredIn(this) && c->RefCount() > 1) return;
    }
    refCount = -1;  // releasing the values may run code that reaches this record again
    for (int32_t i = 0; i < count; ++i) vars[i].Free(VarFreeMemory | VarFreeDropAlias);
    if (outer) outer->Release();
    free(this);
}

Closure* Closure::Create(UserFunc* func, CapturedVars* vars, bool selfStored) {
    Closure* c = new (std::nothrow) Closure(func, vars, selfStored);
    if (c && BuiltInPrototype(ClassId::Closure)) c->SetBaseUnchecked(BuiltInPrototype(ClassId::Closure));
    return c;
}

Closure::Closure(UserFunc* func, CapturedVars* vars, bool selfStored)
    : Func(func->Name(), func->MinParams(), func->MaxParams(), func->IsVariadic()),
      m_func(func),
      m_vars(vars),
      m_selfStored(selfStored) {
    if (m_vars && !m_selfStored) m_vars->AddRef();
}

Closure::~Closure() {
    if (m_vars && !m_selfStored) m_vars->Release();
}

ULONG STDMETHODCALLTYPE Closure::Release() {
    if (!m_selfStored || m_refCount != 2) return Func::Release();
    // Only the variable of the record keeps this closure now: the record may be garbage.
    --m_refCount;
    CapturedVars* vars = m_vars;
    if (vars->refCount == 0) vars->DestroyIfUnreferenced();  // may destroy this closure
    return 1;
}


Status Closure::Call(CallResult& result, ValueToken** params, int count) {
    AddRef();  // the call may drop the last outside reference
    Status st = m_func->CallWith(result, params, count, m_vars);
    Release();
    return st;
}

// --- BoundFunc ---

BoundFunc* BoundFunc::Create(IObject* target, const Char* memberName, ValueToken** args, int count) {
    auto* f = new (std::nothrow) BoundFunc();
    if (!f) {
        (void)RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        return nullptr;
    }
    if (BuiltInPrototype(ClassId::BoundFunc)) f->SetBaseUnchecked(BuiltInPrototype(ClassId::BoundFunc));
    if (memberName) {
        size_t length = wcslen(memberName);
        f->m_member = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
        if (!f->m_member) {
            f->Release();
            (void)RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
            return nullptr;
        }
        wmemcpy(f->m_member, memberName, length + 1);
    }
    if (count) {
        f->m_args = static_cast<Var*>(malloc(sizeof(Var) * static_cast<size_t>(count)));
        if (!f->m_args) {
            f->Release();
            (void)RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
            return nullptr;
        }
        for (int i = 0; i < count; ++i) {
            new (&f->m_args[i]) Var();
            f->m_args[i].m_allocKind = VarAllocHeap;  // freed with the BoundFunc, never pool memory
            ++f->m_argCount;
            if (args[i]->symbol != SymMissing && f->m_args[i].Assign(*args[i]) != Status::Ok) {
                f->Release();
                return nullptr;
            }
        }
    }
    target->AddRef();
    f->m_target = target;
    return f;
}

BoundFunc::~BoundFunc() {
    for (int i = 0; i < m_argCount; ++i) m_args[i].Free(VarFreeMemory | VarFreeDropAlias);
    free(m_args);
    free(m_member);
    if (m_target) m_target->Release();
}


Status BoundFunc::Call(CallResult& result, ValueToken** params, int count) {
    int total = m_argCount + count;
    constexpr int kInline = 16;
    ValueToken inlineTokens[kInline];
    ValueToken* inlineList[kInline];
    ValueToken* tokens = inlineTokens;
    ValueToken** list = inlineList;
    if (total > kInline) {
        tokens = static_cast<ValueToken*>(malloc(sizeof(ValueToken) * static_cast<size_t>(total)));
        list = static_cast<ValueToken**>(malloc(sizeof(ValueToken*) * static_cast<size_t>(total)));
        if (!tokens || !list) {
            free(tokens);
            free(list);
            return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        }
    }
    int next = 0, n = 0;
    for (int i = 0; i < m_argCount; ++i) {
        if (m_args[i].IsUnset() && next < count) {
            list[n++] = params[next++];
            continue;
        }
        if (m_args[i].IsUnset()) tokens[i].SetMissing();
        else m_args[i].ToToken(tokens[i]);
        list[n++] = &tokens[i];
    }
    while (next < count) list[n++] = params[next++];
    // Placeholders left unfilled are passed as Missing: the target decides what an omitted argument means.
    // The target and the bound values stay alive even if the call releases this object.
    AddRef();
    Status st;
    if (m_member) {
        ValueToken target;
        target.SetObject(m_target);
        st = InvokeValueOrFail(result, InvokeCall, m_member, target, list, n);
    } else {
        st = CallFunction(m_target, result, list, n);
    }
    if (total > kInline) {
        free(tokens);
        free(list);
    }
    Release();
    return st == Status::Fail || st == Status::EarlyExit ? st : Status::Ok;
}

// --- Func.Prototype ---

namespace {

enum FuncMember : uint8_t { MemberCall, MemberBind, MemberIsOptional, MemberIsByRef, MemberName, MemberMinParams,
                            MemberMaxParams, MemberIsBuiltIn, MemberIsVariadic };

Status FuncMemberRoutine(IObject* self, CallResult& result, int identity, int invokeKind, ValueToken** params,
                         int paramCount) {
    (void)invokeKind;
    auto* f = dynamic_cast<Func*>(self);
    if (!f) return RaiseMsg(ErrorClass::TypeError, Msg::InvalidUsage);
    switch (identity) {
    case MemberCall:
        return f->Call(result, params, paramCount);
    case MemberBind: {
        BoundFunc* b = BoundFunc::Create(f, nullptr, params, paramCount);
        if (!b) return Status::Fail;
        result.value.SetObject(b);  // the result takes over the new reference
        return Status::Ok;
    }
    case MemberIsOptional:
    case MemberIsByRef: {
        bool optional = identity == MemberIsOptional;
        if (!paramCount || params[0]->symbol == SymMissing) {
            bool any = false;
            if (optional) {
                any = f->MinParams() != f->MaxParams() || f->IsVariadic();
            } else {
                for (int i = 0; i < f->MaxParams() && !any; ++i) any = f->ArgIsByRef(i);
            }
            result.value.SetInteger(any);
            return Status::Ok;
        }
        ValueToken number;
        ValueToken value;
        if (params[0]->symbol == SymVariable) params[0]->var->ToToken(value);
        else value = *params[0];
        if (!TokenToNumber(value, number) || number.symbol != SymInteger)
            return RaiseParamTypeError(0, L"Integer", value);
        int64_t n = number.valueInt64;
        if (n < 1 || (n > f->MaxParams() && !f->IsVariadic()))
            return RaiseParamError(0, value);
        int index = static_cast<int>(n > 100000 ? 100000 : n) - 1;
        result.value.SetInteger(optional ? f->ArgIsOptional(index) : f->ArgIsByRef(index));
        return Status::Ok;
    }
    case MemberName:
        result.value.SetString(f->Name());
        return Status::Ok;
    case MemberMinParams: result.value.SetInteger(f->MinParams()); return Status::Ok;
    case MemberMaxParams: result.value.SetInteger(f->MaxParams()); return Status::Ok;
    case MemberIsBuiltIn: result.value.SetInteger(f->IsBuiltIn()); return Status::Ok;
    case MemberIsVariadic: result.value.SetInteger(f->IsVariadic()); return Status::Ok;
    }
    return Status::Ok;
}

constexpr uint8_t kAny = 255;
const ObjectMemberDef kFuncMembers[] = {
    {L"Bind", FuncMemberRoutine, MemberBind, MemberKind::Method, 0, kAny},
    {L"Call", FuncMemberRoutine, MemberCall, MemberKind::Method, 0, kAny},
    {L"IsBuiltIn", FuncMemberRoutine, MemberIsBuiltIn, MemberKind::ReadOnlyProperty, 0, 0},
    {L"IsByRef", FuncMemberRoutine, MemberIsByRef, MemberKind::Method, 0, kAny},
    {L"IsOptional", FuncMemberRoutine, MemberIsOptional, MemberKind::Method, 0, kAny},
    {L"IsVariadic", FuncMemberRoutine, MemberIsVariadic, MemberKind::ReadOnlyProperty, 0, 0},
    {L"MaxParams", FuncMemberRoutine, MemberMaxParams, MemberKind::ReadOnlyProperty, 0, 0},
    {L"MinParams", FuncMemberRoutine, MemberMinParams, MemberKind::ReadOnlyProperty, 0, 0},
    {L"Name", FuncMemberRoutine, MemberName, MemberKind::ReadOnlyProperty, 0, 0},
};


}  // namespace

void RegisterFuncClass() {
    constexpr int count = static_cast<int>(sizeof(kFuncMembers) / sizeof(kFuncMembers[0]));
    RegisterNativeClass(ClassId::Func, {kFuncMembers, count, nullptr});
}

Status BifObjBindMethod(CallResult& result, ValueToken** params, int paramCount) {
    ValueToken obj;
    if (params[0]->symbol == SymVariable) params[0]->var->ToToken(obj);
    else obj = *params[0];
    if (obj.symbol != SymObject) return RaiseParamError(0, obj);
    const Char* member = nullptr;
    Char buffer[kScratchChars];
    std::wstring name;
    if (paramCount > 1 && params[1]->symbol != SymMissing) {
        ValueToken m;
        if (params[1]->symbol == SymVariable) params[1]->var->ToToken(m);
        else m = *params[1];
        if (m.symbol == SymObject) return RaiseParamTypeError(1, L"String", m);
        if (m.symbol != SymMissing) {
            int32_t length = 0;
            const Char* text = TokenToString(m, buffer, &length);
            name.assign(text, length < 0 ? wcslen(text) : static_cast<size_t>(length));
            member = name.c_str();
        }
    }
    int rest = paramCount > 2 ? paramCount - 2 : 0;
    BoundFunc* b = BoundFunc::Create(obj.object, member, params + 2, rest);
    if (!b) return Status::Fail;
    result.value.SetObject(b);
    return Status::Ok;
}

}  // namespace brm
