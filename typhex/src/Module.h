// Library-wide state: the lock count that DllCanUnloadNow reads, the sector
// size shared by every signature, the edit counter that tells cached search
// indexes to rebuild, and creation of the library's own objects by class id.
#pragma once

#include <cstdint>
#include <new>

#include "Typhex.h"

namespace typhex {

void LockModule();
void UnlockModule();
long ModuleLockCount();

// The sector size every FileSignature's MatchesEnd uses: 0 when the library
// is loaded, 512 again whenever a signature is constructed.
LONG LibrarySectorSize();
void SetLibrarySectorSize(LONG size);

// Bumped by every change to a start pattern or to a type's signature list,
// so a set's first-byte index knows when to rebuild.
std::uint64_t EditGeneration();
void NoteEdit();

// Creates an object of one of the library's classes through activation
// (asking for IUnknown, then for the class's interface), as a client would.
// E_FAIL when that fails.
HRESULT CreateLibraryObject(REFCLSID clsid, REFIID iid, void** object);

template <class I>
HRESULT CreateLibraryObject(REFCLSID clsid, REFIID iid, platform::ComPtr<I>* out) {
    return CreateLibraryObject(clsid, iid, out->PutVoid());
}

// Identifies objects built by this very copy of the library, so that the
// fast paths may read their fields directly; objects of other makers (or of
// another copy of the library) are used through their interfaces.
const void* ModuleToken();

// Asks an interface for the object of this library that implements it, or null.
// The IID is private to the library and answered only by its own classes.
inline constexpr GUID IID_TyphexImplementation = {0x3E0C1C52, 0x7A0B, 0x4D57, {0x9D, 0x61, 0x2B, 0x4F, 0x17, 0xC3, 0x88, 0x10}};

// Runs body, turning an allocation failure into E_OUTOFMEMORY.
template <class F>
HRESULT Guarded(F&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

} // namespace typhex
