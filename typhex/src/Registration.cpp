// Self-registration: the application id, each class's ProgIDs and class-id
// key, and the type library, written into HKEY_CLASSES_ROOT.
#include "Registration.h"

#include <string>

#include "TypeLibrary.h"
#include "platform/registry.h"

namespace typhex {
namespace {

// The proxy of dual interfaces, as the type library's interface keys name it.
constexpr const char* DispatchProxyStub = "{00020424-0000-0000-C000-000000000046}";
constexpr const char* Version = "1.0";

HRESULT FromWin32(LONG error) {
    return error == ERROR_SUCCESS ? S_OK
                                  : static_cast<HRESULT>((static_cast<std::uint32_t>(error) & 0xFFFFu) | 0x80070000u);
}

// Creates the key (and the keys above it) and sets its default value and
// the named values given.
LONG WriteKey(const std::string& path, const char* defaultValue,
              std::initializer_list<std::pair<const char*, std::string>> values = {}) {
    HKEY key = nullptr;
    LONG error = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                 nullptr, &key, nullptr);
    if (error != ERROR_SUCCESS) return error;
    auto set = [&](const char* name, const std::string& text) {
        if (error != ERROR_SUCCESS) return;
        error = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>(text.size() + 1));
    };
    if (defaultValue) set(nullptr, defaultValue);
    for (const auto& [name, text] : values) set(name, text);
    RegCloseKey(key);
    return error;
}

LONG DeleteTree(const std::string& path) {
    LONG error = RegDeleteTreeA(HKEY_CLASSES_ROOT, path.c_str());
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

std::string ClassDisplayName(const CoClassDescription& coclass) { return std::string(coclass.name) + " Class"; }
std::string ProgId(const CoClassDescription& coclass) { return std::string(LibraryName) + "." + coclass.name; }
std::string AppIdText() { return FormatGuid(APPID_Typhex); }

std::string Folder(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

LONG RegisterAppId() {
    LONG error = WriteKey("AppID\\" + AppIdText(), LibraryName);
    if (error == ERROR_SUCCESS) error = WriteKey("AppID\\Typhex.DLL", nullptr, {{"AppID", AppIdText()}});
    return error;
}

HRESULT RegisterClass(const CoClassDescription& coclass, const std::string& libraryPath) {
    const std::string name = ClassDisplayName(coclass);
    const std::string progId = ProgId(coclass);
    const std::string clsid = FormatGuid(*coclass.clsid);
    LONG error = WriteKey(progId + ".1", name.c_str());
    if (error == ERROR_SUCCESS) error = WriteKey(progId + ".1\\CLSID", clsid.c_str());
    if (error == ERROR_SUCCESS) error = WriteKey(progId, name.c_str());
    if (error == ERROR_SUCCESS) error = WriteKey(progId + "\\CLSID", clsid.c_str());
    if (error == ERROR_SUCCESS) error = WriteKey(progId + "\\CurVer", (progId + ".1").c_str());
    if (error != ERROR_SUCCESS) return FromWin32(error);

    const std::string key = "CLSID\\" + clsid;
    error = DeleteTree(key);
    if (error == ERROR_SUCCESS) error = WriteKey(key, name.c_str(), {{"AppID", AppIdText()}});
    if (error == ERROR_SUCCESS) error = WriteKey(key + "\\ProgID", (progId + ".1").c_str());
    if (error == ERROR_SUCCESS) error = WriteKey(key + "\\VersionIndependentProgID", progId.c_str());
    if (error == ERROR_SUCCESS) error = WriteKey(key + "\\Programmable", nullptr);
    if (error == ERROR_SUCCESS)
        error = WriteKey(key + "\\InprocServer32", libraryPath.c_str(), {{"ThreadingModel", "Both"}});
    if (error == ERROR_SUCCESS) error = WriteKey(key + "\\TypeLib", FormatGuid(LIBID_Typhex).c_str());
    return error == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

std::string TypeLibKey() { return "TypeLib\\" + FormatGuid(LIBID_Typhex); }

LONG RegisterTypeLibrary(const std::string& libraryPath) {
    const std::string key = TypeLibKey() + "\\" + Version;
    LONG error = WriteKey(key, LibraryName);
    if (error == ERROR_SUCCESS) error = WriteKey(key + "\\0\\linux64", libraryPath.c_str());
    if (error == ERROR_SUCCESS) error = WriteKey(key + "\\FLAGS", "0");
    if (error == ERROR_SUCCESS) error = WriteKey(key + "\\HELPDIR", Folder(libraryPath).c_str());
    std::size_t count = 0;
    const CoClassDescription* coclasses = CoClasses(&count);
    for (std::size_t i = 0; i < count && error == ERROR_SUCCESS; ++i) {
        const InterfaceDescription& description = *coclasses[i].defaultInterface;
        const std::string interfaceKey = "Interface\\" + FormatGuid(*description.iid);
        error = WriteKey(interfaceKey, description.name);
        if (error == ERROR_SUCCESS) error = WriteKey(interfaceKey + "\\ProxyStubClsid32", DispatchProxyStub);
        if (error == ERROR_SUCCESS)
            error = WriteKey(interfaceKey + "\\TypeLib", FormatGuid(LIBID_Typhex).c_str(), {{"Version", Version}});
    }
    return error;
}

LONG UnregisterTypeLibrary() {
    LONG error = DeleteTree(TypeLibKey());
    std::size_t count = 0;
    const CoClassDescription* coclasses = CoClasses(&count);
    for (std::size_t i = 0; i < count && error == ERROR_SUCCESS; ++i)
        error = DeleteTree("Interface\\" + FormatGuid(*coclasses[i].defaultInterface->iid));
    return error;
}

} // namespace

HRESULT RegisterLibrary(const std::string& libraryPath) {
    if (libraryPath.empty()) return SELFREG_E_CLASS;
    // One write of the store for all the keys, not one per value.
    platform::RegistryBatch batch;
    LONG error = RegisterAppId();
    if (error != ERROR_SUCCESS) return FromWin32(error);
    std::size_t count = 0;
    const CoClassDescription* coclasses = CoClasses(&count);
    for (std::size_t i = 0; i < count; ++i) {
        HRESULT hr = RegisterClass(coclasses[i], libraryPath);
        if (FAILED(hr)) return hr;
    }
    if (RegisterTypeLibrary(libraryPath) != ERROR_SUCCESS) return SELFREG_E_TYPELIB;
    // The classes are in the store only once the batch is written.
    return batch.Commit() == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

HRESULT UnregisterLibrary() {
    platform::RegistryBatch batch;
    LONG error = DeleteTree("AppID\\" + AppIdText());
    if (error == ERROR_SUCCESS) error = DeleteTree("AppID\\Typhex.DLL");
    if (error != ERROR_SUCCESS) return FromWin32(error);
    std::size_t count = 0;
    const CoClassDescription* coclasses = CoClasses(&count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string progId = ProgId(coclasses[i]);
        error = DeleteTree("CLSID\\" + FormatGuid(*coclasses[i].clsid));
        if (error == ERROR_SUCCESS) error = DeleteTree(progId + ".1");
        if (error == ERROR_SUCCESS) error = DeleteTree(progId);
        if (error != ERROR_SUCCESS) return SELFREG_E_CLASS;
    }
    if (UnregisterTypeLibrary() != ERROR_SUCCESS) return SELFREG_E_TYPELIB;
    return batch.Commit() == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

} // namespace typhex
