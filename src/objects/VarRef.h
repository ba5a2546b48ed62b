// VarRef: the script object behind `&var`, a free-standing Var that outlives the variable's scope.
// The variable it was made from, and every by-reference parameter bound to it, become aliases of the
// body; each alias holds one reference.
#pragma once
#include "expr/Var.h"
#include "objects/ObjectBase.h"

namespace brm {

class VarRef final : public ObjectBase {
public:
    // Refcount 1, the body empty and unset. Null when out of memory.
    static VarRef* Create();

    const Char* TypeName() override;
    // VarRef.Prototype: members of a reference are searched there on its behalf.
    IObject* GetBase() override;
    Var& Body() { return m_var; }

private:
    VarRef();
    ~VarRef() override;

    Var m_var;
};

}  // namespace brm
