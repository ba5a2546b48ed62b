// ObjectBase: reference counting and the default end of an object's life.
#include "objects/ObjectBase.h"

namespace brm {

ULONG STDMETHODCALLTYPE ObjectBase::Release() {
    if (m_refCount > 1)
        return --m_refCount;
    // Keep the count at 1 while Delete runs so that code it calls can take and drop a temporary
    // reference without destroying the object a second time.
    Delete();
    return 0;
}

const Char* ObjectBase::TypeName() { return L"Object"; }

void ObjectBase::Delete() { delete this; }

}  // namespace brm
