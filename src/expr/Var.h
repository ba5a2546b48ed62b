// Var: a script variable, holding text, a cached Integer or Float, or an object, plus the alias and
// built-in (virtual) forms. Every operation first follows the alias chain to the Var that holds the value.
//
// Which representation is authoritative: when VarAttribInteger, VarAttribFloat or VarAttribObject is set,
// the value slot is the value and the text buffer is only a cache (stale while VarAttribStale is set);
// otherwise the text is the value. Numbers are therefore never turned into text until someone reads them
// as text. An object is never read as text through the buffer: its text comes from its ToString method.
//
// A Var is a plain record with no destructor, so tables of Vars may live in pool memory. Whoever ends a
// Var's life calls Free(VarFreeMemory | VarFreeDropAlias) first to release its buffer and object.
#pragma once
#include <cstdint>
#include "expr/Conversions.h"
#include "expr/ValueToken.h"

namespace brm {

class VarRef;

// Attribute bits (Var::m_attrib).
enum VarAttribBits : uint8_t {
    VarAttribStale = 0x01,    // the cached number is newer than the text
    VarAttribWarned = 0x01,   // on an unset variable: the never-assigned warning was given
    VarAttribUnset = 0x02,
    VarAttribAssigned = 0x04,      // target of an assignment somewhere in the script (set by the loader)
    VarAttribNotNumeric = 0x08,    // the text was found not to be a number
    VarAttribInteger = 0x10,
    VarAttribFloat = 0x20,
    VarAttribObject = 0x40,
    VarAttribGetterText = 0x80,    // virtual variables: the text is what the getter last produced
    VarAttribTypeMask = VarAttribInteger | VarAttribFloat | VarAttribObject,
    VarAttribNumberMask = VarAttribInteger | VarAttribFloat,
    VarAttribKeptByAssign = VarAttribAssigned | VarAttribGetterText,
};

// Scope bits (Var::m_scope).
enum VarScopeBits : uint8_t {
    VarScopeGlobal = 0x01,
    VarScopeLocal = 0x02,
    VarScopeInVarRef = 0x04,
    VarScopeParam = 0x10,   // with VarScopeLocal
    VarScopeStatic = 0x20,  // with VarScopeLocal
    VarScopeDeclared = 0x40,  // named in a declaration, or made for a built-in
};

// Var::m_type.
enum VarType : uint8_t {
    VarTypeAlias = 0,
    VarTypeNormal = 1,
    VarTypeConstant = 2,  // holds a function or class defined in the script; never replaced
    VarTypeVirtual = 3,   // a built-in variable: m_virtual points at its descriptor
};

// Var::m_allocKind.
enum VarAlloc : uint8_t {
    VarAllocNone = 0,  // m_contents is the shared empty string
    VarAllocPool = 1,  // from the small-block pool: reused, never freed
    VarAllocHeap = 2,  // malloc'd: freed when released or replaced by a larger one
};

// Option bits of Var::Free.
enum VarFreeOptions : int {
    VarFreeMemory = 1,
    VarFreeIfLarge = 2,     // free only a buffer above kVarLargeBufferBytes
    VarFreeDropAlias = 4,   // an alias becomes a normal empty Var instead of acting on its target
    VarFreeMarkUnset = 8,
};

// A buffer above this is given back when the variable is emptied; smaller ones are kept for reuse.
constexpr uint32_t kVarLargeBufferBytes = 4096;
// Longest text a variable can hold: keeps the byte size, terminator included, within 31 bits.
constexpr int64_t kVarMaxChars = 0x3FFFFFFF;

// A built-in variable. The getter writes the value into a CallResult initialised by the caller (String ""
// in the scratch buffer, status Ok) and returns the status; it must set the result's kind itself and may
// hand over heap text through memToFree. The setter receives the assigned value (never Missing); a null
// setter makes the variable read-only. Both receive the name as written in the script.
struct BuiltInVarDesc {
    Status (*getter)(CallResult& result, const Char* name);
    Status (*setter)(const ValueToken& value, const Char* name);
};

// Flags passed by value are word-sized: this compiler reads a byte argument as a whole word, and the
// caller's byte store cannot be forwarded to that load, which stalls every call.
enum class ExactSize : int { No, Yes };   // Yes: the caller knows the final size; no room for growth
enum class Refresh : int { No, Yes };     // Yes: bring stale text up to date (or call the getter) first

// What a read-only variable was asked to do, for "This %s cannot %s.".
enum class VarAction { Assign, TakeReference, Output };

struct Var {
    union {
        int64_t m_valueInt64;
        double m_valueDouble;
        IObject* m_object;                 // VarAttribObject: one counted reference; alias: its VarRef, if any
        const BuiltInVarDesc* m_virtual;   // VarTypeVirtual
    };
    Char* m_contents;  // never null; the shared empty string when there is no buffer
    union {
        uint32_t m_byteLength;  // text length in bytes, terminator excluded
        Var* m_aliasFor;        // VarTypeAlias
    };
    uint32_t m_capacity;  // bytes; 0 for the shared empty string
    uint8_t m_allocKind;
    uint8_t m_attrib;
    uint8_t m_scope;
    uint8_t m_type;
    const Char* m_name;

    // Unset, empty, with no buffer.
    Var() : Var(L"", 0, VarTypeNormal) {}
    Var(const Char* name, uint8_t scope, uint8_t type = VarTypeNormal);
    // A built-in variable computed by desc.
    static Var MakeVirtual(const Char* name, const BuiltInVarDesc* desc);

    // The Var that holds the value: the end of the alias chain.
    Var* Target() {
        Var* v = this;
        while (v->m_type == VarTypeAlias)
            v = v->m_aliasFor;
        return v;
    }
    const Var* Target() const { return const_cast<Var*>(this)->Target(); }

    // --- Assignment: all return Ok, or Fail with the error raised ---
    Status Assign(const ValueToken& value);
    // text may be null: reserves room for length characters and leaves the variable empty (set).
    // length -1 measures the text.
    Status AssignString(const Char* text, int32_t length = -1, ExactSize exact = ExactSize::No);
    Status AssignInteger(int64_t value);
    Status AssignFloat(double value);
    // Takes over one reference the caller already added, even when the assignment fails.
    Status AssignObject(IObject* object);
    // Takes ownership of a malloc'd terminated block; length -1 measures it.
    void AdoptString(Char* heapText, int32_t length = -1);
    // Appends in place if the buffer has room; false means the caller must assign the whole new text.
    bool Append(const Char* text, int32_t count);
    // Appends to a heap buffer that has no room, growing it; false when the caller must assign instead.
    bool AppendGrowing(const Char* text, int32_t count);
    void Free(int options = VarFreeMemory);
    // Makes this variable an alias of target, holding (and taking over) ref's reference if ref is given.
    void SetAlias(Var* target, VarRef* ref);

    // --- Reading ---
    // The text. With Refresh::Yes stale number text is regenerated and a built-in variable's getter runs;
    // if that fails the error is raised and the (empty) old buffer is returned: use RefreshText() to see it.
    const Char* Text(Refresh refresh = Refresh::Yes);
    Status RefreshText();
    int32_t Length();  // characters, refreshed first
    double ToDouble();  // hex text ("0x10") is read as an integer
    int64_t ToInt64();
    bool Truth();
    // IsNumeric of the text (negatives and floats allowed, empty not), remembering a negative answer in
    // VarAttribNotNumeric. Built-in variables are never marked: their text changes without assignment.
    NumericKind TextNumeric();
    // Reads the value into token without converting: Integer, Float, Object (borrowed), Missing when unset,
    // else String pointing at the buffer. A built-in variable is read through Text.
    void ToToken(ValueToken& token);

    // The reference object for `&var`; the caller receives one reference. Null on failure (error raised).
    VarRef* MakeRef();
    // Recomputes the length after the script wrote into the buffer directly. The text must be terminated
    // within the capacity, else the critical error "String not null-terminated." is raised.
    Status UpdateLength();
    // The core of VarSetStrCapacity: -1 recomputes the length, 0 frees the buffer, n (at most kVarMaxChars,
    // which the caller checks) reserves exactly n characters and empties the variable. usableChars receives
    // the capacity in characters less the terminator.
    Status SetCapacity(int64_t chars, int64_t& usableChars);

    // Raises "This %s cannot %s." for this variable and action.
    Status RaiseReadOnly(VarAction action) const;

    // --- Inline accessors (on the alias target) ---
    bool IsUnset() const { return Target()->m_attrib & VarAttribUnset; }
    bool IsObject() const { return Target()->m_attrib & VarAttribObject; }
    bool IsInteger() const { return Target()->m_attrib & VarAttribInteger; }
    bool IsFloat() const { return Target()->m_attrib & VarAttribFloat; }
    bool IsPureNumber() const { return Target()->m_attrib & VarAttribNumberMask; }
    bool IsAlias() const { return m_type == VarTypeAlias; }
    bool IsVirtual() const { return Target()->m_type == VarTypeVirtual; }
    bool IsConstant() const { return Target()->m_type == VarTypeConstant; }
    // Assignments to constants and to built-in variables without setter fail.
    bool IsReadOnly() const {
        const Var* t = Target();
        return t->m_type == VarTypeConstant || (t->m_type == VarTypeVirtual && !t->m_virtual->setter);
    }
    IObject* Object() const { return Target()->m_object; }  // valid only when IsObject()
    int64_t Int64Value() const { return Target()->m_valueInt64; }
    double DoubleValue() const { return Target()->m_valueDouble; }
    // The buffer as it stands (no refresh) and its length in characters.
    Char* Contents() const { return Target()->m_contents; }
    int32_t RawLength() const { return static_cast<int32_t>(Target()->m_byteLength / sizeof(Char)); }
    // Characters the buffer holds, terminator excluded (0 for the shared empty string).
    int32_t CapacityChars() const {
        uint32_t cap = Target()->m_capacity;
        return cap ? static_cast<int32_t>(cap / sizeof(Char) - 1) : 0;
    }

    // A number (kind VarAttribInteger or VarAttribFloat, bits the value's 64 bits) into this normal
    // variable itself, not through an alias; the text is regenerated when read. Inline: calls bind their
    // numeric arguments with it.
    Status AssignNumber(int64_t bits, uint8_t kind) {
        IObject* old = (m_attrib & VarAttribObject) ? m_object : nullptr;
        m_valueInt64 = bits;
        m_attrib = (m_attrib & VarAttribKeptByAssign) | kind | VarAttribStale;
        if (old)
            ReleaseObject(old);
        return Status::Ok;
    }

private:
    static void ReleaseObject(IObject* object);
    Status AssignSpecial(const ValueToken& value);  // constant or virtual target
    Status AssignFromVar(Var& source);
    Status CallGetter(CallResult& result);
    Status StoreString(const Char* text, int32_t length, ExactSize exact);  // normal or virtual target
};

// The shared read-only empty string that every Var without a buffer points at.
Char* VarEmptyString();

// How messages name a variable: "static variable", "parameter", "local variable", "global variable",
// "variable", "built-in variable", or a constant's object type name.
const Char* VarKindName(const Var& var);

}  // namespace brm
