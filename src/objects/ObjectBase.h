// ObjectBase: the common implementation of IObject that every script object derives from.
// Reference counting is intrusive and non-atomic: all script objects live on the one main thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <new>
#include "objects/IObject.h"

namespace brm {

// Small blocks recycled per size (objects/Object.cpp): objects, property tables, names.
void* AllocBlock(size_t size);
void FreeBlockOf(void* block, size_t size);

class ObjectBase : public IObject {
public:
    // Objects come from the recycled blocks: making and dropping them is among the commonest things a
    // script does, and the runtime's heap costs more than the object itself.
    static void* operator new(size_t size, const std::nothrow_t&) noexcept { return AllocBlock(size); }
    static void* operator new(size_t size) {
        if (void* block = AllocBlock(size)) return block;
        throw std::bad_alloc();
    }
    static void* operator new(size_t, void* place) noexcept { return place; }
    static void operator delete(void* block, size_t size) noexcept { FreeBlockOf(block, size); }
    static void operator delete(void*, void*) noexcept {}

    ObjectBase(const ObjectBase&) = delete;
    ObjectBase& operator=(const ObjectBase&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refCount; }
    ULONG STDMETHODCALLTYPE Release() override;
    // The COM face of every script object (objects/Dispatch.cpp).
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argError) override;
    const Char* TypeName() override;  // "Object"; derived classes name themselves

    uint32_t RefCount() const { return m_refCount; }

protected:
    ObjectBase() = default;  // the creator holds the first reference
    virtual ~ObjectBase() = default;

    // Called when the last reference goes. The object core overrides this to run __Delete first,
    // which may take and drop references again; the default destroys the object. False: the object
    // lives on (__Delete stored a new reference, and the count is already the new owners').
    virtual bool Delete();

    uint32_t m_refCount = 1;
};

}  // namespace brm
