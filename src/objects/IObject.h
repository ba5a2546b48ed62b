// The minimal object interface the value model needs: intrusive, non-atomic reference counting.
// Member invocation arrives with the object core.
#pragma once
#include <oaidl.h>
#include <cstdint>
#include "expr/ValueToken.h"

namespace brm {

// Every script object is also a COM IDispatch, so that COM clients can call it (QueryInterface, AddRef,
// Release, GetTypeInfoCount, GetTypeInfo, GetIDsOfNames and Invoke come first in the table).
struct IObject : public IDispatch {
    virtual const Char* TypeName() = 0;

    // The invoke protocol (objects/Object.h lists the flags): get, set or call the member `name` (null: the
    // default member) with `thisToken` as `this`. Returns Ok, Fail, EarlyExit or NotHandled (no such
    // member). The default searches GetBase() on behalf of this object; it is defined in Object.cpp.
    virtual Status InvokeMember(CallResult& result, int flags, const Char* name, ValueToken& thisToken,
                                ValueToken** params, int paramCount);
    // The base object (prototype), or null.
    virtual IObject* GetBase() { return nullptr; }
    // Whether this is an instance derived from `prototype` (a prototype itself never is, except of Object's).
    virtual bool IsOfType(IObject* prototype);

protected:
    ~IObject() = default;  // destroyed only through Release
};

// The interface identifier that only the program itself asks for: QueryInterface with this very constant
// tells whether a COM pointer is one of the program's own objects.
extern const IID IID_IObject;

// Owning pointer: one reference per holder. A raw IObject* is a borrow.
template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* adopted) : m_p(adopted) {}  // takes over a reference the caller holds
    Ref(const Ref& o) : m_p(o.m_p) { if (m_p) m_p->AddRef(); }
    Ref(Ref&& o) noexcept : m_p(o.m_p) { o.m_p = nullptr; }
    ~Ref() { if (m_p) m_p->Release(); }
    Ref& operator=(Ref o) noexcept { T* old = m_p; m_p = o.m_p; o.m_p = old; return *this; }
    static Ref Borrow(T* p) { if (p) p->AddRef(); return Ref(p); }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    T* Detach() { T* p = m_p; m_p = nullptr; return p; }

private:
    T* m_p = nullptr;
};

}  // namespace brm
