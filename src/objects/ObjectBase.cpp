// ObjectBase: reference counting and the default end of an object's life.
#include "objects/ObjectBase.h"

namespace brm {

ULONG STDMETHODCALLTYPE ObjectBase::Release() {
    if (m_refCount > 1)
        return --m_refCount;
    // Keep the count at 1 while Delete runs so that code it calls can take and drop a temporary
    // reference without destroying the object a second time.
    if (Delete())
        return 0;
    return m_refCount;  // revived by __Delete: what its new owners hold
}

const Char* ObjectBase::TypeName() { return L"Object"; }

bool ObjectBase::Delete() {
    delete this;
    return true;
}

}  // namespace brm
