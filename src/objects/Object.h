// Object: the common script object record (flags, base, sorted own-property table), the invoke protocol
// every script object answers, and how prototypes and class objects are made.
//
// Invariant of the property table: entries [0, count) are sorted by (folded first character, then the
// whole name case-insensitively), so a lookup is a binary search whose first comparison is one character.
#pragma once
#include <cstddef>
#include <cstdint>
#include <new>
#include <typeinfo>
#include "expr/ValueToken.h"
#include "objects/ObjectBase.h"

namespace brm {

// The `flags` word of IObject::InvokeMember. The low two bits are the invoke kind.
enum InvokeFlag : int {
    InvokeGet = 0,
    InvokeSet = 1,
    InvokeCall = 2,
    InvokeKindMask = 3,
    InvokeNoMeta = 0x10,    // never fall back to __Get, __Set or __Call
    InvokeOnBehalf = 0x20,  // the searched object is a prototype acting for `this` (a primitive or VarRef)
    InvokeSuper = 0x40,     // the search starts at a base prototype; `this` is the real object
    InvokeEnum = 0x200,     // a request for an enumerator (__Enum)
};

// IObject::InvokeMember (declared in IObject.h) returns Status::Ok, Fail, EarlyExit or NotHandled.
// Parameters: (result, flags, name or null for the default member, this, arguments, count). For a set the
// last argument is the value being assigned and those before it are the index arguments.

// Entry kinds of the property table (the same numbering as ValueToken symbols where they overlap).
enum class PropKind : uint32_t { String = 0, Integer = 1, Float = 2, Missing = 3, Object = 5, Dynamic = 6 };

// A dynamic property: any of the three functions may be null. The flags cache the accessors' shapes so
// that a read need not ask the getter for its parameter counts on every access.
struct PropDesc {
    IObject* getter;
    IObject* setter;
    IObject* method;
    bool getterNeedsArgs;    // the getter's MinParams >= 2
    bool setterTakesNoArgs;  // the setter takes exactly (this, value)
    bool getterTakesNoArgs;  // the getter takes `this` only; also set for a method without a getter
};

// A property's or element's own copy of its text. A capacity of 0 marks the shared empty block (never freed).
// Blocks come from the small-block pool (AllocBlock): scripts make and drop short texts at a high rate,
// and the system heap costs far more per block. Free them with FreeStringBlock.
struct StringBlock {
    uint32_t capacity;  // characters, terminator included
    uint32_t length;    // characters
    Char text[1];       // terminated

    static size_t BytesFor(size_t capacity) { return sizeof(StringBlock) + (capacity - 1) * sizeof(Char); }
};
StringBlock* AllocStringBlock(const Char* text, size_t length);  // null when out of memory; length > 0
void FreeStringBlock(StringBlock* block);                         // the shared empty block is left alone

struct Property {
    union {
        int64_t valueInt64;
        double valueDouble;
        IObject* object;      // counted
        StringBlock* string;  // owned
        PropDesc* desc;       // owned
    };
    PropKind kind;
    Char key;    // first character of the name, A-Z folded to a-z
    Char* name;  // a counted shared copy (see AddOwnProp), spelled as first defined

    bool IsDynamic() const { return kind == PropKind::Dynamic; }
    // The value as a borrowed token (String points into the block); a descriptor or Missing gives Missing.
    void ToToken(ValueToken& token) const;
};

struct PropTable {
    uint32_t capacity;
    uint32_t count;
    // Bit (key & 31) is set for every entry's key (and may stay set after a deletion): most failed
    // lookups along a base chain end here, without a search.
    uint32_t keyMask;
    Property* Items() { return reinterpret_cast<Property*>(this + 1); }
};

class Object : public ObjectBase {
public:
    enum FlagBits : uint32_t {
        FlagPrototype = 0x01,   // owns __Class
        FlagNativeType = 0x02,  // the prototype of a built-in class with native members and layout
        // Some object has (or had) this one as its base: changes to it may change what its heirs inherit.
        // (Derived classes number their own flags upwards from 0x04.)
        FlagIsBase = 0x80000000,
    };

    // The members that construction, destruction and the meta-function fallbacks look for.
    enum class Special : int { Init, New, Delete, Get, Set, Call, Count };

    // Script objects come from a recycling allocator (see Object.cpp); placement construction (pool
    // objects that are never freed) stays available.
    static void* operator new(size_t size);
    static void* operator new(size_t size, const std::nothrow_t&) noexcept;
    static void* operator new(size_t, void* where) noexcept { return where; }
    static void operator delete(void* block, size_t size) noexcept;
    static void operator delete(void*, void*) noexcept {}

    // A plain Object whose base is Object.Prototype (or the given base; a reference is added). The creator
    // holds the one reference. Null when out of memory (nothing raised: the caller raises MemoryError).
    static Object* Create();
    static Object* Create(IObject* base);

    Status InvokeMember(CallResult& result, int flags, const Char* name, ValueToken& thisToken, ValueToken** params,
                        int paramCount) override;
    const Char* TypeName() override;
    IObject* GetBase() override { return m_base; }
    bool IsOfType(IObject* prototype) override;

    uint32_t Flags() const { return m_flags; }
    void AddFlags(uint32_t bits) { m_flags |= bits; }
    void RemoveFlags(uint32_t bits) { m_flags &= ~bits; }
    bool IsPrototype() const { return m_flags & FlagPrototype; }

    // The base change with the native-type check; raises "Invalid base." (ValueError) when rejected.
    Status SetBase(IObject* newBase);
    bool CanSetBase(IObject* newBase);
    // No checks: for building the class tree and fresh instances. Adds a reference to newBase.
    void SetBaseUnchecked(IObject* newBase);
    // The first prototype from the base up (not this object) with FlagNativeType, or null.
    Object* NativePrototype();

    // --- Own properties ---
    // Binary search. Not found: null, and *insertAt (if given) receives the sorted insertion position.
    Property* FindOwnProp(const Char* name, int* insertAt = nullptr);
    // A new Missing entry at position `at` (from FindOwnProp). Null when out of memory (nothing raised).
    Property* AddOwnProp(const Char* name, int at);
    // The descriptor of the own dynamic property `name`, creating or converting the entry (the value it replaces
    // is released first, and the entry looked up again). Null: out of memory.
    PropDesc* GetOrCreateDynamicProp(const Char* name);
    bool DeleteOwnProp(const Char* name);
    int OwnPropCount() const { return static_cast<int>(m_props->count); }
    int OwnPropCapacity() const { return static_cast<int>(m_props->capacity); }
    Property& OwnPropAt(int i) { return m_props->Items()[i]; }
    // Capacity becomes max(n, count); 0 returns to the shared empty table. False: out of memory.
    bool SetOwnPropCapacity(int n);

    // A new own entry at position `at` (from a failed FindOwnProp, the table unchanged since) holding value.
    // Raises "Out of memory." on failure.
    Status AddOwnPropValue(const Char* name, int at, const ValueToken& value);
    // Convenience for natives (Error objects, class building). Each raises "Out of memory." on failure.
    Status SetOwnProp(const Char* name, const ValueToken& value);
    Status SetOwnPropString(const Char* name, const Char* text, int32_t length = -1);
    Status SetOwnPropInteger(const Char* name, int64_t value);
    Status SetOwnPropObject(const Char* name, IObject* object);  // adds its own reference
    // Own value properties only; a borrowed token. False when absent or dynamic.
    bool GetOwnProp(const Char* name, ValueToken& value);
    // Define or replace one part of an own dynamic property; each function gets its own reference.
    Status DefineMethod(const Char* name, IObject* func);
    Status DefineGetter(const Char* name, IObject* func);
    Status DefineSetter(const Char* name, IObject* func);

    // Copies an entry's value into a result (Missing gives ""; objects gain a reference; text longer than the
    // scratch buffer goes to memToFree). False: out of memory (nothing raised).
    static bool CopyToResult(const Property& prop, CallResult& result);
    // Assigns a token to an entry (a Variable is read first; a string is copied). False: out of memory.
    static bool AssignProp(Property& prop, const ValueToken& value);

    // Runs __Init (with `this` alone) then __New (with `this` and the arguments) on this fresh instance.
    Status Construct(ValueToken** params, int paramCount);
    // The same with argsWithThis[0] already this object's token (count includes it).
    Status ConstructWithThis(ValueToken** argsWithThis, int count);

    // A method-like member searched from this object up (borrowed; null when there is none): an own
    // descriptor's method, or an own value that is an object, ends the search; a non-object value first, or
    // an object value after a descriptor that had only accessors, means none. What the bases give is
    // remembered until any base changes, since every instance of a class asks the same question.
    IObject* FindSpecial(Special which);
    // Called on any change to this object's table or base that an heir could see: it forgets what was
    // remembered about inherited members. Changes to an entry's value are announced before the old value is
    // released (which may run code).
    void Touch() {
        if (m_flags & FlagIsBase)
            InvalidateInherited();
    }
    static void InvalidateInherited();
    // Moves whenever a base changes in a way an heir could see (see Touch); never 0.
    static uint32_t LayoutEpoch();
    // The shared, permanent copy of a member name that property tables also use; null when out of memory.
    static const Char* SharedName(const Char* name);
    // Marks an object that becomes a base (bases are always Objects).
    static void MarkBase(IObject* base) {
        if (base)
            static_cast<Object*>(base)->m_flags |= FlagIsBase;
    }

protected:
    Object();                        // no base: the root prototype, or a base set right after
    explicit Object(IObject* base);  // adds a reference to base
    ~Object() override;
    // Runs __Delete for an instance; the object survives (false) when __Delete stored a new reference.
    bool Delete() override;

    uint32_t m_flags = 0;
    IObject* m_base = nullptr;
    PropTable* m_props;
};

// The object as an Object, or null: dynamic_cast, answered at once for a plain Object (every class and
// prototype), which is what the construction and base checks meet. (The type records are compared by
// address: equal addresses are certainly the same type; anything else takes the full cast.)
inline Object* AsObject(IObject* o) {
    if (o && &typeid(*o) == &typeid(Object))
        return static_cast<Object*>(o);
    return dynamic_cast<Object*>(o);
}

// --- Invoking members on any value ---

// Invokes a member of any value: an object directly, a primitive through its type's prototype with
// InvokeOnBehalf and the value as `this`. May return NotHandled.
Status InvokeValue(CallResult& result, int flags, const Char* name, ValueToken& target, ValueToken** params,
                   int paramCount);
// As InvokeValue, but NotHandled raises the no-member error ("method" for a call, else "property";
// Call or __Item for a null name).
Status InvokeValueOrFail(CallResult& result, int flags, const Char* name, ValueToken& target, ValueToken** params,
                         int paramCount);
// "This value of type \"%s\" has no %s named \"%s\"." for target, by the invoke kind in flags.
Status RaiseNoMember(const ValueToken& target, int flags, const Char* name);
// Calls a function object (its default member, kind call, no name); NotHandled raises the no-member error
// for "Call". A Variable or primitive callee is searched through its prototype.
Status CallFunction(IObject* func, CallResult& result, ValueToken** params, int paramCount);
Status CallValue(ValueToken& callee, CallResult& result, ValueToken** params, int paramCount);

// `value is cls`: cls must be a class (an Object owning an object `Prototype`), else the type error
// expecting "Class"; true when that prototype is on value's chain from its base (a primitive's prototype).
Status ValueIs(const ValueToken& value, const ValueToken& cls, bool& isInstance);
// `{k1: v1, ...}`: params are key, value pairs; pairs with a Missing key or value are skipped.
Status CreateObjectLiteral(CallResult& result, ValueToken** params, int paramCount);

// Makes the Array of arguments a meta-function (__Get, __Set, __Call) receives: a new reference, or null
// when out of memory. The Array class installs it; until then meta-functions are not tried.
using ArgsArrayFactory = Object* (*)(ValueToken** items, int count);
extern ArgsArrayFactory g_newArgsArray;
// Any.Prototype's own __Init, which does nothing: construction does not call it. Set with the class tree.
extern IObject* g_trivialInit;

// --- The built-in class tree ---

// id, class name, parent id. Depth-first order: a parent always precedes its subclasses.
#define BRM_BUILTIN_CLASSES(X)                     \
    X(Any, L"Any", Any)                            \
    X(Object, L"Object", Any)                      \
    X(Array, L"Array", Object)                     \
    X(Buffer, L"Buffer", Object)                   \
    X(Class, L"Class", Object)                     \
    X(Error, L"Error", Object)                     \
    X(MemoryError, L"MemoryError", Error)          \
    X(OSError, L"OSError", Error)                  \
    X(TargetError, L"TargetError", Error)          \
    X(TimeoutError, L"TimeoutError", Error)        \
    X(TypeError, L"TypeError", Error)              \
    X(UnsetError, L"UnsetError", Error)            \
    X(MemberError, L"MemberError", UnsetError)     \
    X(PropertyError, L"PropertyError", MemberError) \
    X(MethodError, L"MethodError", MemberError)    \
    X(UnsetItemError, L"UnsetItemError", UnsetError) \
    X(ValueError, L"ValueError", Error)            \
    X(IndexError, L"IndexError", ValueError)       \
    X(ZeroDivisionError, L"ZeroDivisionError", Error) \
    X(Func, L"Func", Object)                       \
    X(BoundFunc, L"BoundFunc", Func)               \
    X(Closure, L"Closure", Func)                   \
    X(Enumerator, L"Enumerator", Func)             \
    X(Gui, L"Gui", Object)                         \
    X(Map, L"Map", Object)                         \
    X(Menu, L"Menu", Object)                       \
    X(MenuBar, L"MenuBar", Menu)                   \
    X(RegExMatchInfo, L"RegExMatchInfo", Object)   \
    X(File, L"File", Object)                       \
    X(ComValue, L"ComValue", Any)                  \
    X(ComObjArray, L"ComObjArray", ComValue)       \
    X(ComObject, L"ComObject", ComValue)           \
    X(ComValueRef, L"ComValueRef", ComValue)       \
    X(Primitive, L"Primitive", Any)                \
    X(Number, L"Number", Primitive)                \
    X(Float, L"Float", Number)                     \
    X(Integer, L"Integer", Number)                 \
    X(String, L"String", Primitive)                \
    X(VarRef, L"VarRef", Any)

enum class ClassId : int {
#define BRM_CLASS_ENUM(id, name, parent) id,
    BRM_BUILTIN_CLASSES(BRM_CLASS_ENUM)
#undef BRM_CLASS_ENUM
    Count
};

// Creates every built-in prototype and class object and defines the class names as global constants.
// Start-up calls it once, before the script loads. Fail (error raised) only when out of memory.
Status CreateBuiltInClasses();
// Null before CreateBuiltInClasses.
Object* BuiltInPrototype(ClassId id);
Object* BuiltInClass(ClassId id);
// The prototype searched for a primitive value (String, Integer or Float; a Variable is read first).
Object* PrimitivePrototype(const ValueToken& value);

// A prototype: FlagPrototype, an own String `__Class`, the given base. A class object: base = the parent
// class (or Class.Prototype), an own `Prototype` property. Both return a new reference, null when out of
// memory (nothing raised).
Object* CreatePrototype(const Char* className, IObject* base);
Object* CreateClassObject(Object* prototype, IObject* baseClass);

// --- Plain member tables of built-in classes ---

// ItemProperty: read-write, and its setter takes an unset value (an element that then has no value).
enum class MemberKind : uint8_t { ReadOnlyProperty = 0, ReadWriteProperty = 1, Method = 2, ItemProperty = 3 };

// A native member routine. self has passed the IsOfType check against the owning prototype, so it may be
// cast to the class's native type. invokeKind is InvokeGet, InvokeSet or InvokeCall; for a set, params[0]
// is the assigned value and index arguments follow. params excludes `this`.
using MemberRoutine = Status (*)(IObject* self, CallResult& result, int identity, int invokeKind, ValueToken** params,
                                 int paramCount);

struct ObjectMemberDef {
    const Char* name;
    MemberRoutine routine;
    uint8_t identity;
    MemberKind kind;
    uint8_t minParams;  // not counting `this`
    uint8_t maxParams;  // not counting `this`; 255 = variadic
};

// Turns `Status T::Method(CallResult&, int identity, int invokeKind, ValueToken**, int)` into a MemberRoutine,
// so member tables name class methods directly.
template <class T, Status (T::*Method)(CallResult&, int, int, ValueToken**, int)>
Status MemberThunk(IObject* self, CallResult& result, int identity, int invokeKind, ValueToken** params,
                   int paramCount) {
    return (static_cast<T*>(self)->*Method)(result, identity, invokeKind, params, paramCount);
}

// Binds a member table to a prototype: a BuiltInMethod per method row and a getter (and setter for a
// read-write property) per property row, named "<Class>.Prototype.<Name>" (".Get"/".Set" for accessors).
// Also sets FlagNativeType. Fail (raised) when out of memory.
Status AddNativeMembers(Object* prototype, const Char* className, const ObjectMemberDef* rows, int count);

}  // namespace brm
