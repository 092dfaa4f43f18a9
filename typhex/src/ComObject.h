// The COM frame every class of the library shares: reference counting,
// QueryInterface for IUnknown, IDispatch and the class's own interface, a
// lock on the library for the object's lifetime, and IDispatch answered
// from the compiled-in type library.
#pragma once

#include "Module.h"
#include "TypeLibrary.h"

namespace typhex {

// Base of the classes whose fields the library's fast paths read directly.
struct Implementation {
    const void* token = ModuleToken();

protected:
    ~Implementation() = default;
};

// The library's own object behind an interface pointer, or null when the
// object was made elsewhere. Borrowed: valid while the caller's reference is.
template <class T, class I>
T* ImplementationOf(I* object) {
    if (!object) return nullptr;
    void* found = nullptr;
    if (FAILED(object->QueryInterface(IID_TyphexImplementation, &found)) || !found) return nullptr;
    auto* implementation = static_cast<Implementation*>(found);
    if (implementation->token != ModuleToken()) return nullptr;
    return static_cast<T*>(implementation);
}

template <class Interface, const IID& InterfaceId>
class DispatchObject : public Interface {
public:
    DispatchObject() { LockModule(); }
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;
    virtual ~DispatchObject() { UnlockModule(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == InterfaceId) {
            *object = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        if (riid == IID_TyphexImplementation) {
            *object = ImplementationPointer();
            return *object ? S_OK : E_NOINTERFACE;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        ITypeInfo* found = InterfaceTypeInfo(InterfaceId);
        if (!found) return TYPE_E_ELEMENTNOTFOUND;
        found->AddRef();
        *info = found;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = InterfaceTypeInfo(InterfaceId);
        return info ? info->GetIDsOfNames(names, count, ids) : E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = InterfaceTypeInfo(InterfaceId);
        if (!info) return E_UNEXPECTED;
        return info->Invoke(static_cast<Interface*>(this), id, flags, params, result, excepInfo, argErr);
    }

protected:
    // Classes whose fields the library reads directly return themselves.
    virtual void* ImplementationPointer() { return nullptr; }

private:
    ULONG references_ = 0;
};

// What a class factory does for class T: build, lock, query, or destroy.
template <class T>
HRESULT CreateObject(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    T* created = new (std::nothrow) T();
    if (!created) return E_OUTOFMEMORY;
    created->AddRef();
    HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
}

} // namespace typhex
