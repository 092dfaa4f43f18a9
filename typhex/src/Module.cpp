#include "Module.h"

#include <atomic>

namespace typhex {
namespace {

std::atomic<long> lockCount{0};
// No synchronisation beyond the plain value: one thread uses the library.
LONG sectorSize = 0;
std::uint64_t editGeneration = 1;
const char moduleToken = 0;

} // namespace

void LockModule() { ++lockCount; }
void UnlockModule() { --lockCount; }
long ModuleLockCount() { return lockCount.load(); }

LONG LibrarySectorSize() { return sectorSize; }
void SetLibrarySectorSize(LONG size) { sectorSize = size; }

std::uint64_t EditGeneration() { return editGeneration; }
void NoteEdit() { ++editGeneration; }

const void* ModuleToken() { return &moduleToken; }

HRESULT CreateLibraryObject(REFCLSID clsid, REFIID iid, void** object) {
    *object = nullptr;
    IUnknown* unknown = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(&unknown));
    if (FAILED(hr) || !unknown) return E_FAIL;
    hr = unknown->QueryInterface(iid, object);
    unknown->Release();
    if (FAILED(hr) || !*object) {
        *object = nullptr;
        return E_FAIL;
    }
    return S_OK;
}

} // namespace typhex
