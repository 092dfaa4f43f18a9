// The library's exported entry points.
#include "Typhex.h"

#define TYPHEX_EXPORT extern "C" __attribute__((visibility("default")))

TYPHEX_EXPORT HRESULT DllGetClassObject(REFCLSID, REFIID, void** object) {
    if (object) *object = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}
TYPHEX_EXPORT HRESULT DllCanUnloadNow() { return S_OK; }
TYPHEX_EXPORT HRESULT DllRegisterServer() { return SELFREG_E_CLASS; }
TYPHEX_EXPORT HRESULT DllUnregisterServer() { return S_OK; }
