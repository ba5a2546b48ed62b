// Name resolution for the load-time passes and for dynamic references.
#include "exec/Scope.h"
#include <cwchar>
#include <new>
#include "base/Messages.h"
#include "base/Pool.h"
#include "exec/GlobalVars.h"
#include "expr/Var.h"
#include "loader/BlockLinker.h"
#include "loader/Directives.h"
#include "loader/LineParser.h"
#include "loader/LoadError.h"
#include "objects/Func.h"
#include "startup/ScriptHost.h"

namespace brm {

namespace {

UserFunc* s_bindScope = nullptr;

inline bool IsFunctionBodyLine(const ScriptLine* p) { return p->action == LineAction::BlockBegin && p->attribute; }

// A variable that holds a nested function of o which is not static: it may hold a new Closure at every
// call of o, so functions nested in o reach it through capture like any local.
bool IsClosureHolder(const UserFunc* o, const Var* v) {
    if (v->m_type != VarTypeConstant) return false;
    for (int32_t i = 0; i < o->nestedCount; ++i)
        if (o->nested[i].holder == v) return !o->nested[i].func->isStatic;
    return false;
}

// The variable `name` of an enclosing function as func sees it: a static, a declared global or a nested
// function directly; a local through capture (func gets a local that stands for it while it runs through its
// closure). Null when no enclosing function has the name, or after reporting a failure (*failed).
Var* FindOuter(UserFunc* func, const Char* name, size_t length, bool* failed) {
    UserFunc* o = func->outer;
    if (!o) return nullptr;
    Var* v = o->vars.Find(name, length);
    if (!v) {
        v = FindOuter(o, name, length, failed);
        if (!v) return nullptr;
    }
    bool plainLocal = (v->m_scope & VarScopeLocal) && !(v->m_scope & VarScopeStatic);
    if (!plainLocal && !IsClosureHolder(o, v)) return v;
    if (func->isStatic || func->defaultScope == 0x41) return nullptr;  // such functions capture nothing
    int32_t index = o->Capture(v);
    Var* local = index < 0 ? nullptr : AddFuncVar(func, name, length, VarScopeLocal);
    if (!local || !func->AddOuterRef(local, index)) {
        if (local || index < 0) (void)ReportLoadErrorMsg(Msg::OutOfMemory);
        *failed = true;
        return nullptr;
    }
    local->m_attrib |= VarAttribAssigned;
    return local;
}

}  // namespace

UserFunc* FuncOfLine(const ScriptLine* line) {
    for (const ScriptLine* p = line->parentLine; p; p = p->parentLine)
        if (IsFunctionBodyLine(p)) return static_cast<UserFunc*>(p->attribute);
    return nullptr;
}

UserFunc* LoadingFunc() {
    for (const ScriptLine* p = OpenBlockLine(); p; p = p->parentLine)
        if (IsFunctionBodyLine(p)) return static_cast<UserFunc*>(p->attribute);
    return nullptr;
}

void SetBindScope(UserFunc* func) { s_bindScope = func; }
UserFunc* BindScope() { return s_bindScope; }

Var* AddFuncVar(UserFunc* func, const Char* name, size_t length, uint8_t scope) {
    if (length > kMaxVarNameLength) {
        (void)ReportNameTooLong(name, length);
        return nullptr;
    }
    int32_t position = 0;
    if (Var* existing = func->vars.Find(name, length, &position)) return existing;
    // A local must be a valid variable name, as a global must: "1abc" read in a function is refused too.
    if (!ValidateName(name, length, g_script.loadFinished ? NameKind::Check : NameKind::Variable)) return nullptr;
    Char* permanent = PoolStrDup(name, length);
    void* memory = PoolAlloc(sizeof(Var));
    if (!permanent || !memory) {
        (void)ReportLoadErrorMsg(Msg::OutOfMemory);
        return nullptr;
    }
    Var* var = new (memory) Var(permanent, scope);
    if (scope & VarScopeParam) var->m_attrib |= VarAttribAssigned;  // every call gives it a value
    if (!func->vars.Insert(var, position) || (!(scope & VarScopeStatic) && !func->AddLocal(var))) {
        (void)ReportLoadErrorMsg(Msg::OutOfMemory);
        return nullptr;
    }
    return var;
}

Var* FindOrAddVar(const Char* name, size_t length, VarUse use) {
    UserFunc* func = s_bindScope;
    if (!func) return FindOrAddGlobal(name, length);
    if (Var* v = func->vars.Find(name, length)) return v;
    bool failed = false;
    if (Var* v = FindOuter(func, name, length, &failed)) return v;
    if (failed) return nullptr;
    if (func->defaultScope == 0x41) return FindOrAddGlobal(name, length);
    Var* global = FindGlobal(name, length, BuiltIns::Materialise);
    if (global && (use == VarUse::Read || global->IsVirtual())) return global;
    uint8_t scope = func->defaultScope == 0x62 ? VarScopeLocal | VarScopeStatic : VarScopeLocal;
    Var* local = AddFuncVar(func, name, length, scope);
    if (local && global && g_directives.warnLocalSameAsGlobal != WarnMode::Off) {
        Char extra[600];
        FormatMessageText(extra, sizeof(extra) / sizeof(extra[0]), MessageText(Msg::InFunction), local->m_name,
                          func->Name());
        EmitWarning(g_directives.warnLocalSameAsGlobal, g_script.loadFileIndex, g_script.loadLineNumber,
                    MessageText(Msg::LocalSameAsGlobal), extra);
    }
    return local;
}

Status DeclareDefaultScope(DeclKind kind, const Char* lineText) {
    UserFunc* func = LoadingFunc();
    // Only the first line of a body (after the lines that compute defaults) may set the default scope.
    const ScriptLine* first = func ? func->bodyBegin : nullptr;
    for (int32_t i = 0; func && i < func->defaultLineCount; ++i) first = first->nextLine;
    if (!func || kind == DeclKind::Local || func->defaultScope || g_script.lastLine != first)
        return ReportLoadErrorMsg(Msg::UnexpectedDeclaration, lineText);
    func->defaultScope = kind == DeclKind::Global ? 0x41 : 0x62;
    return Status::Ok;
}

Status DeclareVar(DeclKind kind, const Char* name, size_t length) {
    UserFunc* func = LoadingFunc();
    const Char* word = kind == DeclKind::Global ? L"global" : kind == DeclKind::Local ? L"local" : L"static";
    if (!func) {
        if (kind != DeclKind::Global) return ReportLoadErrorMsg(Msg::UnexpectedDeclaration, name);
        Var* existing = FindGlobal(name, length, BuiltIns::Materialise);
        if (existing && (existing->IsVirtual() || existing->IsConstant()))
            return ReportLoadErrorF(name, Msg::DeclarationConflict, word, VarKindName(*existing));
        return FindOrAddGlobal(name, length) ? Status::Ok : Status::Fail;
    }
    func->localsAssigned = true;
    if (Var* existing = func->vars.Find(name, length)) {
        uint8_t s = existing->m_scope;
        bool same = kind == DeclKind::Global   ? (s & VarScopeGlobal) != 0
                    : kind == DeclKind::Static ? (s & VarScopeStatic) != 0
                                               : (s & VarScopeLocal) && !(s & (VarScopeStatic | VarScopeParam));
        if (!same || existing->IsConstant())
            return ReportLoadErrorF(name, Msg::DeclarationConflict, word, VarKindName(*existing));
        return Status::Ok;
    }
    if (kind == DeclKind::Global) {
        // The same test as at the top level: a function cannot claim a built-in variable, a function or a
        // class as a global of its own.
        Var* existing = FindGlobal(name, length, BuiltIns::Materialise);
        if (existing && (existing->IsVirtual() || existing->IsConstant()))
            return ReportLoadErrorF(name, Msg::DeclarationConflict, word, VarKindName(*existing));
        Var* global = existing ? existing : FindOrAddGlobal(name, length);
        if (!global) return Status::Fail;
        int32_t position = 0;
        func->vars.Find(name, length, &position);
        if (!func->vars.Insert(global, position)) return ReportLoadErrorMsg(Msg::OutOfMemory);
        return Status::Ok;
    }
    uint8_t scope = kind == DeclKind::Static ? VarScopeLocal | VarScopeStatic : VarScopeLocal;
    return AddFuncVar(func, name, length, scope | VarScopeDeclared) ? Status::Ok : Status::Fail;
}

Var* FindVarRunTime(const Char* name, size_t length, bool write, bool* globalOnly, bool* notInClosure,
                    bool* raised) {
    *globalOnly = false;
    if (notInClosure) *notInClosure = false;
    if (raised) *raised = false;
    // After loading, a failed creation has always raised its error (name too long, not valid, no memory).
    const auto addGlobal = [&]() {
        Var* v = FindOrAddGlobal(name, length);
        if (!v && raised) *raised = true;
        return v;
    };
    UserFunc* func = g_runningFunc;
    if (!func) return write ? addGlobal() : FindGlobal(name, length);
    if (Var* v = func->vars.Find(name, length)) return v;
    bool captures = !func->isStatic && func->defaultScope != 0x41;
    for (UserFunc* o = func->outer; o; o = o->outer) {
        Var* v = o->vars.Find(name, length);
        if (!v) continue;
        if (!(v->m_scope & VarScopeLocal) || (v->m_scope & VarScopeStatic)) return v;
        // An outer local that was not captured at load time has no Var this call can reach.
        if (captures) {
            if (notInClosure) *notInClosure = true;
            return nullptr;
        }
        break;
    }
    if (func->defaultScope == 0x41) return write ? addGlobal() : FindGlobal(name, length);
    Var* global = FindGlobal(name, length);
    if (!write) return global;
    *globalOnly = global != nullptr;
    return nullptr;
}

}  // namespace brm
