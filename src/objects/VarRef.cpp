// VarRef: creation and the release of its Var's contents when the last reference goes.
#include "objects/VarRef.h"
#include <new>
#include "objects/Object.h"

namespace brm {

VarRef::VarRef() : m_var(L"", VarScopeInVarRef, VarTypeNormal) {
    // Heap, never pool: the body dies with this object, and pool memory could not be returned.
    m_var.m_allocKind = VarAllocHeap;
}

VarRef::~VarRef() { m_var.Free(VarFreeMemory | VarFreeDropAlias | VarFreeMarkUnset); }

VarRef* VarRef::Create() { return new (std::nothrow) VarRef(); }

const Char* VarRef::TypeName() { return L"VarRef"; }

IObject* VarRef::GetBase() { return BuiltInPrototype(ClassId::VarRef); }

}  // namespace brm
