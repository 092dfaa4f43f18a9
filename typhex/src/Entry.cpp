// The library's exported entry points and its class factories.
#include "Classes.h"
#include "Module.h"
#include "Registration.h"

namespace typhex {
namespace {

using Constructor = HRESULT (*)(REFIID, void**);

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(Constructor construct) : construct_(construct) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // A held factory keeps the library loaded.
    ULONG STDMETHODCALLTYPE AddRef() override {
        LockModule();
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        UnlockModule();
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return construct_(riid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) LockModule();
        else UnlockModule();
        return S_OK;
    }

private:
    Constructor construct_;
};

struct FactoryEntry {
    const GUID* clsid;
    ClassFactory factory;
};

FactoryEntry factories[] = {
    {&CLSID_ByteValue, ClassFactory(CreateByteValue)},
    {&CLSID_FileContent, ClassFactory(CreateFileContent)},
    {&CLSID_FileSignature, ClassFactory(CreateFileSignature)},
    {&CLSID_SupportedFileType, ClassFactory(CreateSupportedFileType)},
    {&CLSID_SupportedFileTypes, ClassFactory(CreateSupportedFileTypes)},
    {&CLSID_ExtraLong, ClassFactory(CreateExtraLong)},
    {&CLSID_LargeFile, ClassFactory(CreateLargeFile)},
};

} // namespace
} // namespace typhex

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    for (auto& entry : typhex::factories) {
        if (*entry.clsid == clsid) return entry.factory.QueryInterface(riid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return typhex::ModuleLockCount() > 0 ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() {
    return typhex::RegisterLibrary(platform::ModuleFileName(reinterpret_cast<const void*>(&DllRegisterServer)));
}

STDAPI DllUnregisterServer() { return typhex::UnregisterLibrary(); }
