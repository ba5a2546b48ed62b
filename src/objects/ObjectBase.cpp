// ObjectBase: reference counting and the default end of an object's life.
#include "objects/ObjectBase.h"
#include <cstdlib>

namespace brm {

namespace {

// Ending an object releases what it holds, which may end further objects: a long chain (a linked list
// of a million nodes) would nest that many destructions on the machine stack. Beyond a depth, the last
// releases are put aside and ended one after another by the outermost release instead.
constexpr int kMaxNestedEnds = 2000;
int s_endDepth = 0;
struct PendingEnds {
    ObjectBase** items = nullptr;
    size_t count = 0;
    size_t capacity = 0;

    bool Push(ObjectBase* o) {
        if (count == capacity) {
            size_t grown = capacity ? capacity * 2 : 256;
            void* memory = realloc(static_cast<void*>(items), grown * sizeof(ObjectBase*));
            if (!memory) return false;
            items = static_cast<ObjectBase**>(memory);
            capacity = grown;
        }
        items[count++] = o;
        return true;
    }
};
PendingEnds s_pending;

}  // namespace

ULONG STDMETHODCALLTYPE ObjectBase::Release() {
    if (m_refCount > 1)
        return --m_refCount;
    // The pending list holds the last reference until the outermost release ends the object.
    if (s_endDepth >= kMaxNestedEnds && s_pending.Push(this))
        return 0;
    // Keep the count at 1 while Delete runs so that code it calls can take and drop a temporary
    // reference without destroying the object a second time.
    ++s_endDepth;
    const bool gone = Delete();
    if (s_endDepth == 1) {
        while (s_pending.count) {
            ObjectBase* next = s_pending.items[--s_pending.count];
            next->Delete();
        }
    }
    --s_endDepth;
    if (gone)
        return 0;
    return m_refCount;  // revived by __Delete: what its new owners hold
}

const Char* ObjectBase::TypeName() { return L"Object"; }

bool ObjectBase::Delete() {
    delete this;
    return true;
}

}  // namespace brm
