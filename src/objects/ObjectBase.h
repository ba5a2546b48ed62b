// ObjectBase: the common implementation of IObject that every script object derives from.
// Reference counting is intrusive and non-atomic: all script objects live on the one main thread.
#pragma once
#include <cstdint>
#include "objects/IObject.h"

namespace brm {

class ObjectBase : public IObject {
public:
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
