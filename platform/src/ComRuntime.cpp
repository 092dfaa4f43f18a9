#include <dlfcn.h>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/registry.h"

// In-process activation: the class id's InprocServer32 entry names a shared
// object; it is loaded once (RTLD_NOW, so a broken library fails here and
// not half-way through a call), kept loaded, and asked for class factories.
namespace {

struct Library {
    void* handle = nullptr;
    bool owned = true; // holds a reference of its own on the handle
    DllGetClassObjectFn getClassObject = nullptr;
    DllCanUnloadNowFn canUnloadNow = nullptr;
};

std::mutex librariesMutex;
std::map<std::string, Library> libraries; // by the path as registered
thread_local int initialiseCount = 0;
// A plain buffer: a thread_local with a destructor would keep a library that
// links this runtime from being unloaded until the thread ends.
thread_local char lastActivationError[512];

// Why the last registration on this thread failed ("" when it did not), so
// that the activation failing after it can say so.
thread_local char lastRegistrationFailure[512];

void NoteFailure(const std::string& text) {
    std::snprintf(lastActivationError, sizeof lastActivationError, "%s", text.c_str());
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// Whether the entry point lies in the module this code was linked into.
bool IsOwnModule(DllGetClassObjectFn entry) {
    Dl_info own{}, found{};
    if (!dladdr(reinterpret_cast<const void*>(&FileExists), &own) || !own.dli_fbase) return false;
    return dladdr(reinterpret_cast<const void*>(entry), &found) && found.dli_fbase == own.dli_fbase;
}

// Loads (or finds loaded) the library at path. Caller holds librariesMutex.
HRESULT LoadLibrary(const std::string& path, Library** out) {
    if (auto it = libraries.find(path); it != libraries.end()) {
        *out = &it->second;
        return S_OK;
    }
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        NoteFailure("cannot load " + path + ": " + (why ? why : "unknown error"));
        return CO_E_DLLNOTFOUND;
    }
    Library library;
    library.handle = handle;
    library.getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
    library.canUnloadNow = reinterpret_cast<DllCanUnloadNowFn>(dlsym(handle, "DllCanUnloadNow"));
    if (!library.getClassObject) {
        NoteFailure(path + " has no DllGetClassObject");
        dlclose(handle);
        return CO_E_ERRORINDLL;
    }
    if (IsOwnModule(library.getClassObject)) {
        // This copy of the runtime lives inside that library (it activates
        // its own classes): a reference held here would keep the library
        // loaded for good. The cache dies with the library, so it needs none.
        library.owned = false;
        dlclose(handle);
    }
    *out = &libraries.emplace(path, library).first->second;
    return S_OK;
}

// The InprocServer32 default value of the class, or empty.
std::string InprocServerPath(REFCLSID clsid) {
    std::string subKey = "CLSID\\" + FormatGuid(clsid) + "\\InprocServer32";
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
    std::string path;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ && size) {
        std::vector<BYTE> buffer(size + 1, 0);
        if (RegQueryValueExA(key, nullptr, nullptr, &type, buffer.data(), &size) == ERROR_SUCCESS)
            path.assign(reinterpret_cast<const char*>(buffer.data()));
    }
    RegCloseKey(key);
    return path;
}

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

// Whether two paths name the same file (by identity when both exist).
bool SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error)) return true;
    return AbsolutePath(a) == AbsolutePath(b);
}

} // namespace

HRESULT CoInitialize(void*) { return initialiseCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
    if (initialiseCount > 0) --initialiseCount;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsContext, void*, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    // Only in-process servers exist here.
    if (!(clsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    std::string path = InprocServerPath(clsid);
    if (path.empty()) {
        std::string registering = lastRegistrationFailure;
        NoteFailure("class " + FormatGuid(clsid) + " is not registered" + (registering.empty() ? "" : "; " + registering));
        return REGDB_E_CLASSNOTREG;
    }
    DllGetClassObjectFn getClassObject = nullptr;
    {
        std::lock_guard lock(librariesMutex);
        Library* library = nullptr;
        HRESULT hr = LoadLibrary(path, &library);
        if (FAILED(hr)) return hr;
        getClassObject = library->getClassObject;
    }
    return getClassObject(clsid, riid, object);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, clsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    if (!factory) return E_UNEXPECTED;
    hr = factory->CreateInstance(outer, riid, object);
    factory->Release();
    if (FAILED(hr)) *object = nullptr;
    return hr;
}

void CoFreeUnusedLibraries() {
    std::lock_guard lock(librariesMutex);
    for (auto it = libraries.begin(); it != libraries.end();) {
        Library& library = it->second;
        // A library that cannot say whether it is in use stays loaded.
        if (library.canUnloadNow && library.canUnloadNow() == S_OK) {
            if (library.owned) dlclose(library.handle);
            it = libraries.erase(it);
        } else {
            ++it;
        }
    }
}

namespace platform {

std::string LastActivationError() { return lastActivationError; }

std::string ModuleFileName(const void* addressInModule) {
    Dl_info info{};
    if (!addressInModule || !dladdr(addressInModule, &info) || !info.dli_fname) return {};
    return AbsolutePath(info.dli_fname);
}

HRESULT RegisterServer(const std::string& libraryPath, bool unregister) {
    // Loaded by its absolute path, so that the library can register where it lies.
    std::string path = AbsolutePath(libraryPath);
    if (!FileExists(path)) {
        NoteFailure("no library at " + path);
        return CO_E_DLLNOTFOUND;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    DllRegisterServerFn function = nullptr;
    {
        std::lock_guard lock(librariesMutex);
        Library* library = nullptr;
        // A library without DllGetClassObject cannot serve classes; refuse it too.
        HRESULT hr = LoadLibrary(path, &library);
        if (FAILED(hr)) return hr;
        function = reinterpret_cast<DllRegisterServerFn>(dlsym(library->handle, entry));
    }
    if (!function) {
        NoteFailure(path + " has no " + entry);
        return CO_E_ERRORINDLL;
    }
    HRESULT hr = function();
    if (FAILED(hr)) NoteFailure(std::string(entry) + " in " + path + " failed");
    return hr;
}

HRESULT EnsureClassRegistered(REFCLSID clsid, const std::string& libraryPath) {
    std::string registered = InprocServerPath(clsid);
    std::string shipped = AbsolutePath(libraryPath);
    if (!registered.empty()) {
        if (SameFile(registered, shipped)) return S_FALSE;
        // Without a library of its own the program uses what is registered.
        if (!FileExists(shipped)) return S_FALSE;
        // The store is shared by every copy of the program (an older
        // installation, a build made with other options): the program uses
        // the library it was shipped with, never loading the other one, which
        // might not even load into this process.
        std::fprintf(stderr, "%s: note: class %s was registered to %s (%s); registering %s, the library beside the program\n",
                     program_invocation_short_name, FormatGuid(clsid).c_str(), registered.c_str(),
                     FileExists(registered) ? "another library" : "missing", shipped.c_str());
    }
    lastRegistrationFailure[0] = '\0';
    HRESULT hr = RegisterServer(shipped);
    if (SUCCEEDED(hr) && !SameFile(InprocServerPath(clsid), shipped)) {
        NoteFailure(libraryPath + " does not register class " + FormatGuid(clsid));
        hr = REGDB_E_CLASSNOTREG;
    }
    if (FAILED(hr)) {
        // The usual cause: the settings store that holds registrations
        // cannot be written. Name it rather than the class.
        std::string why;
        if (!RegistryStoreWritable(&why)) NoteFailure(why);
        std::snprintf(lastRegistrationFailure, sizeof lastRegistrationFailure, "%s", lastActivationError);
    }
    return hr;
}

} // namespace platform
