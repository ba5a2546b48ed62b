#include "objects/ClassInit.h"
#include <cwchar>
#include <new>
#include <vector>
#include "exec/GlobalVars.h"
#include "expr/Var.h"
#include "objects/Object.h"

namespace brm {

namespace {

struct PendingClass {
    Object* cls;
    Var* holder;  // null for a nested class
};
// Few entries and shrinking as classes initialise: a linear search costs nothing once it is empty.
std::vector<PendingClass> s_pending;

Status ReadClassHolder(CallResult& result, const Char* name);
const BuiltInVarDesc kClassHolderDesc = {ReadClassHolder, nullptr};

// Gives the global back its class and its constant kind.
void RestoreHolder(Var* holder, Object* cls) {
    holder->m_type = VarTypeConstant;
    holder->m_object = cls;  // the reference the loader gave the variable was kept aside meanwhile
    holder->m_attrib = VarAttribObject | VarAttribAssigned | VarAttribNotNumeric;
}

// The first read of an armed class name: the variable becomes the plain constant again, then the class
// initialises.
Status ReadClassHolder(CallResult& result, const Char* name) {
    Var* holder = FindGlobal(name, wcslen(name), BuiltIns::Skip);
    Object* cls = nullptr;
    for (const PendingClass& p : s_pending)
        if (p.holder == holder) cls = p.cls;
    if (!cls) return Status::Fail;
    BRM_TRY(EnsureClassInitialized(cls));
    cls->AddRef();
    result.value.SetObject(cls);
    return Status::Ok;
}

}  // namespace

bool RegisterUninitializedClass(Object* cls, Var* holder) {
    try {
        s_pending.push_back({cls, holder});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool IsPendingClassHolder(const Var* var) {
    for (const PendingClass& p : s_pending)
        if (p.holder == var) return true;
    return false;
}

void ArmClassHolders() {
    for (const PendingClass& p : s_pending)
        if (p.holder && p.holder->m_type == VarTypeConstant) {
            p.holder->m_type = VarTypeVirtual;
            p.holder->m_virtual = &kClassHolderDesc;
            p.holder->m_attrib = VarAttribAssigned;
        }
}

Status EnsureClassInitialized(Object* cls) {
    for (size_t k = 0; k < s_pending.size(); ++k) {
        if (s_pending[k].cls != cls) continue;
        Var* holder = s_pending[k].holder;
        s_pending.erase(s_pending.begin() + static_cast<std::ptrdiff_t>(k));
        if (holder && holder->m_type == VarTypeVirtual) RestoreHolder(holder, cls);
        return cls->Construct(nullptr, 0);
    }
    return Status::Ok;
}

}  // namespace brm
