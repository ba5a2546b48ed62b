// The global variable list: sorted by name with the A-to-Z fold, so lookups are binary searches and
// built-ins materialise in place the first time a name refers to them.
#include "exec/GlobalVars.h"
#include <new>
#include <string>
#include <vector>
#include "base/Pool.h"
#include "exec/Raise.h"
#include "expr/Var.h"
#include "loader/LineParser.h"
#include "loader/LoadError.h"
#include "objects/BuiltInFunctions.h"
#include "objects/BuiltInVars.h"
#include "objects/MdFunc.h"
#include "startup/ScriptHost.h"

namespace brm {

namespace {

constexpr size_t kInitialGlobals = 32;
constexpr uint8_t kScopeDeclaredGlobal = VarScopeGlobal | VarScopeDeclared;  // created for a built-in

std::vector<Var*>& Globals() {
    static std::vector<Var*> s_globals = [] {
        std::vector<Var*> v;
        v.reserve(kInitialGlobals);
        return v;
    }();
    return s_globals;
}

// Index of the name, or of where it would be inserted (found tells which).
size_t Search(const Char* name, size_t length, bool& found) {
    std::vector<Var*>& g = Globals();
    size_t lo = 0, hi = g.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        const Char* n = g[mid]->m_name;
        int c = CompareFoldAZ(name, length, n, wcslen(n));
        if (c == 0) {
            found = true;
            return mid;
        }
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    found = false;
    return lo;
}

Var* NewVar(const Char* name, size_t length, size_t at, uint8_t scope, uint8_t type) {
    Char* copy = PoolStrDup(name, length);
    void* memory = PoolAlloc(sizeof(Var));
    if (!copy || !memory)
        return nullptr;
    Var* v = new (memory) Var(copy, scope, type);
    try {
        Globals().insert(Globals().begin() + static_cast<std::ptrdiff_t>(at), v);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return v;
}

Status ReportNow(Msg id) {
    if (g_script.loadFinished)
        return RaiseMsg(id == Msg::OutOfMemory ? ErrorClass::MemoryError : ErrorClass::Error, id);
    return ReportLoadErrorMsg(id);
}

}  // namespace

Var* FindGlobal(const Char* name, size_t length, BuiltIns builtIns) {
    if (length > kMaxVarNameLength)
        return nullptr;
    bool found;
    size_t at = Search(name, length, found);
    if (found)
        return Globals()[at];
    if (builtIns == BuiltIns::Skip)
        return nullptr;
    if (const BuiltInFuncDef* def = FindBuiltInFunc(name, length)) {
        Var* v = NewVar(def->name, wcslen(def->name), at, kScopeDeclaredGlobal, VarTypeConstant);
        if (!v)
            return nullptr;
        v->m_object = GetBuiltInFunc(def);
        v->m_attrib = VarAttribObject | VarAttribNotNumeric;
        return v;
    }
    if (const MdFuncDef* def = FindTypedFunc(name, length)) {
        Var* v = NewVar(def->name, wcslen(def->name), at, kScopeDeclaredGlobal, VarTypeConstant);
        if (!v)
            return nullptr;
        v->m_object = GetTypedFunc(def);
        v->m_attrib = VarAttribObject | VarAttribNotNumeric;
        return v;
    }
    if (length > 2 && (name[0] == L'A' || name[0] == L'a') && name[1] == L'_') {
        if (const BuiltInVarDef* def = FindBuiltInVar(name + 2, length - 2)) {
            Var* v = NewVar(name, length, at, kScopeDeclaredGlobal, VarTypeVirtual);
            if (!v)
                return nullptr;
            *v = Var::MakeVirtual(v->m_name, &def->desc);
            v->m_scope = kScopeDeclaredGlobal;
            return v;
        }
    }
    return nullptr;
}

Var* FindOrAddGlobal(const Char* name, size_t length) {
    if (Var* v = FindGlobal(name, length))
        return v;
    // After loading only a dynamic assignment gets here: a name the loader would refuse is refused with
    // the same message, raised.
    if (length > kMaxVarNameLength) {
        (void)ReportNameTooLong(name, length);
        return nullptr;
    }
    if (!ValidateName(name, length, NameKind::Variable))
        return nullptr;
    bool found;
    size_t at = Search(name, length, found);
    Var* v = NewVar(name, length, at, VarScopeGlobal, VarTypeNormal);
    if (!v)
        (void)ReportNow(Msg::OutOfMemory);
    return v;
}

Status ReportNameTooLong(const Char* name, size_t length) {
    std::wstring text(name, length);
    if (g_script.loadFinished)
        return RaiseMsg(ErrorClass::Error, Msg::VarNameTooLong, text.c_str());
    return ReportLoadErrorMsg(Msg::VarNameTooLong, text.c_str());
}

size_t GlobalVarCount() { return Globals().size(); }

Var* GlobalVarAt(size_t index) { return index < Globals().size() ? Globals()[index] : nullptr; }

void FreeGlobals() {
    for (Var* v : Globals())
        if (v->m_type == VarTypeNormal || v->m_type == VarTypeAlias)
            v->Free(VarFreeMemory | VarFreeDropAlias);
}

}  // namespace brm
