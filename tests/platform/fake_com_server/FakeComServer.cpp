// A minimal in-process COM server for the activation tests: one class with
// one interface, the four entry points, and a live-object count.
#include <atomic>
#include <string>

#include "FakeComServer.h"
#include "platform/registry.h"

namespace {

std::atomic<long> locks{0};

class FakeObject final : public IFakeAnswer {
public:
    FakeObject() { ++locks; }
    ~FakeObject() { --locks; }
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IFakeAnswer) {
            *object = static_cast<IFakeAnswer*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (!left) delete this;
        return left;
    }
    HRESULT Answer(LONG* value) override {
        if (!value) return E_POINTER;
        *value = 42;
        return S_OK;
    }
    HRESULT MakeSibling(IFakeAnswer** sibling) override {
        return CoCreateInstance(CLSID_FakeAnswer, nullptr, CLSCTX_INPROC_SERVER, IID_IFakeAnswer,
                                reinterpret_cast<void**>(sibling));
    }

private:
    std::atomic<ULONG> refs_{0};
};

class Factory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* created = new FakeObject;
        created->AddRef();
        HRESULT hr = created->QueryInterface(riid, object);
        created->Release();
        return hr;
    }
    HRESULT LockServer(BOOL lock) override {
        locks += lock ? 1 : -1;
        return S_OK;
    }
};

Factory factory;

std::string ClassKey() { return "CLSID\\" + FormatGuid(CLSID_FakeAnswer); }

} // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_FakeAnswer) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() { return locks.load() == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    std::string path = platform::ModuleFileName(reinterpret_cast<const void*>(&DllRegisterServer));
    std::string subKey = ClassKey() + "\\InprocServer32";
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    LONG status = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                                 static_cast<DWORD>(path.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
    LONG status = RegDeleteTreeA(HKEY_CLASSES_ROOT, ClassKey().c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}
