// How a built-in class with a native layout joins the class tree: its member table and the routine that
// makes a bare native instance for its `Call`.
#pragma once
#include "objects/Object.h"

namespace brm {

// A new native instance (one reference, base not yet final), or null when out of memory.
using NativeCreate = Object* (*)();

struct NativeClassDef {
    const ObjectMemberDef* members;
    int memberCount;
    NativeCreate create;  // null: the class has no `Call` of its own and inherits Object's
    // Binds members the plain table does not hold (a typed member table); null when there are none.
    Status (*bindMembers)(Object* prototype) = nullptr;
};

// Called before CreateBuiltInClasses (start-up calls the owners' registration functions first): binds the
// member table to the class's prototype and, with `create`, gives the class its own `Call`.
void RegisterNativeClass(ClassId id, const NativeClassDef& def);

// Object.Prototype's members: Clone, DefineProp, DeleteProp, GetOwnPropDesc, HasOwnProp, OwnProps.
extern const ObjectMemberDef kObjectMembers[];
extern const int kObjectMemberCount;

}  // namespace brm
