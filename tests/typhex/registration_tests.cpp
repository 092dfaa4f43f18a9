// Registration entries, class factories, and the library's lock count.
#include <dlfcn.h>

#include "TyphexTestSupport.h"

namespace typhextest {
namespace {

class RegistrationTest : public LibraryTest {};

std::string Value(const std::string& key, const char* name = nullptr) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return "<no key>";
    char buffer[1024] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    LONG error = RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(handle);
    return error == ERROR_SUCCESS ? std::string(buffer) : "<no value>";
}

bool KeyExists(const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

TEST_F(RegistrationTest, EveryClassIsRegisteredWithItsProgIds) {
    const std::string library = std::filesystem::canonical(TYPHEX_LIBRARY_FILE).string();
    struct Class {
        const char* name;
        const GUID& clsid;
    } classes[] = {{"ByteValue", CLSID_ByteValue},         {"FileContent", CLSID_FileContent},
                   {"FileSignature", CLSID_FileSignature}, {"SupportedFileType", CLSID_SupportedFileType},
                   {"SupportedFileTypes", CLSID_SupportedFileTypes}, {"ExtraLong", CLSID_ExtraLong},
                   {"LargeFile", CLSID_LargeFile}};
    for (const Class& c : classes) {
        const std::string name = c.name, progId = "Typhex." + name, clsid = FormatGuid(c.clsid);
        const std::string key = "CLSID\\" + clsid;
        EXPECT_EQ(Value(progId + ".1"), name + " Class");
        EXPECT_EQ(Value(progId + ".1\\CLSID"), clsid);
        EXPECT_EQ(Value(progId), name + " Class");
        EXPECT_EQ(Value(progId + "\\CLSID"), clsid);
        EXPECT_EQ(Value(progId + "\\CurVer"), progId + ".1");
        EXPECT_EQ(Value(key), name + " Class");
        EXPECT_EQ(Value(key + "\\ProgID"), progId + ".1");
        EXPECT_EQ(Value(key + "\\VersionIndependentProgID"), progId);
        EXPECT_TRUE(KeyExists(key + "\\Programmable"));
        EXPECT_EQ(std::filesystem::canonical(Value(key + "\\InprocServer32")).string(), library);
        EXPECT_EQ(Value(key + "\\InprocServer32", "ThreadingModel"), "Both");
        EXPECT_EQ(Value(key, "AppID"), "{B1075EEA-CBF4-47E7-AC43-8893E03057C5}");
        EXPECT_EQ(Value(key + "\\TypeLib"), "{965BF1EF-6430-4C4A-A411-5BC99146519D}");
    }
    EXPECT_EQ(Value("AppID\\{B1075EEA-CBF4-47E7-AC43-8893E03057C5}"), "Typhex");
    EXPECT_EQ(Value("AppID\\Typhex.DLL", "AppID"), "{B1075EEA-CBF4-47E7-AC43-8893E03057C5}");
    EXPECT_EQ(Value("TypeLib\\{965BF1EF-6430-4C4A-A411-5BC99146519D}\\1.0"), "Typhex");
    EXPECT_EQ(Value("Interface\\{60879F21-D2A9-43A8-81DC-441B42ED4F5C}"), "ISupportedFileTypes");
}

TEST_F(RegistrationTest, UnregisterRemovesTheEntriesAndRegisterRestoresThem) {
    ASSERT_EQ(platform::RegisterServer(TYPHEX_LIBRARY_FILE, true), S_OK);
    EXPECT_FALSE(KeyExists("CLSID\\" + FormatGuid(CLSID_LargeFile)));
    EXPECT_FALSE(KeyExists("Typhex.LargeFile"));
    EXPECT_FALSE(KeyExists("Typhex.LargeFile.1"));
    EXPECT_FALSE(KeyExists("AppID\\Typhex.DLL"));
    EXPECT_FALSE(KeyExists("TypeLib\\{965BF1EF-6430-4C4A-A411-5BC99146519D}"));
    ComPtr<ILargeFile> none;
    EXPECT_NE(CoCreateInstance(CLSID_LargeFile, nullptr, CLSCTX_INPROC_SERVER, IID_ILargeFile, none.PutVoid()),
              S_OK);
    ASSERT_EQ(platform::RegisterServer(TYPHEX_LIBRARY_FILE), S_OK);
    EXPECT_TRUE(KeyExists("CLSID\\" + FormatGuid(CLSID_LargeFile) + "\\InprocServer32"));
}

TEST_F(RegistrationTest, ReadingNeedsActivationOfTheInnerClasses) {
    // Serialised data creates its inner objects by class id: without the
    // registration of FileSignature, reading a type fails with E_FAIL.
    auto type = TypeWith("JPG", {"FFD8FF"});
    Var bytes;
    type->Serialise(&bytes);
    const std::string key = "CLSID\\" + FormatGuid(CLSID_FileSignature) + "\\InprocServer32";
    const std::string saved = Value(key);
    ASSERT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str()), ERROR_SUCCESS);
    auto copy = NewType();
    LONG start = 0;
    VARIANT_BOOL ok = 1;
    EXPECT_EQ(copy->Deserialise(bytes.value(), &start, &ok), E_FAIL);
    EXPECT_EQ(ok, 0);
    ASSERT_EQ(platform::RegisterServer(TYPHEX_LIBRARY_FILE), S_OK);
    EXPECT_EQ(copy->Deserialise(bytes.value(), &start, &ok), S_OK);
    EXPECT_EQ(ok, 1);
}

TEST_F(RegistrationTest, FactoriesAndTheLockCount) {
    void* library = dlopen(TYPHEX_LIBRARY_FILE, RTLD_NOW | RTLD_NOLOAD);
    if (!library) library = dlopen(TYPHEX_LIBRARY_FILE, RTLD_NOW);
    ASSERT_NE(library, nullptr);
    auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(library, "DllGetClassObject"));
    auto canUnload = reinterpret_cast<DllCanUnloadNowFn>(dlsym(library, "DllCanUnloadNow"));
    ASSERT_TRUE(getClassObject && canUnload);
    EXPECT_EQ(dlsym(library, "_ZN6typhex10LockModuleEv"), nullptr); // only the entry points are exported

    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(CLSID_ExtraLong, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    void* object = nullptr;
    IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
    EXPECT_EQ(factory->CreateInstance(outer, IID_IExtraLong, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IExtraLong, nullptr), E_POINTER);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ILargeFile, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);

    IExtraLong* math = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IExtraLong, reinterpret_cast<void**>(&math)), S_OK);
    factory->Release();
    EXPECT_EQ(math->QueryInterface(IID_ILargeFile, &object), E_NOINTERFACE);
    IDispatch* dispatch = nullptr;
    EXPECT_EQ(math->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    dispatch->Release();
    EXPECT_EQ(canUnload(), S_FALSE);
    math->Release();
    EXPECT_EQ(canUnload(), S_OK); // no object of this test is left

    void* unknownFactory = nullptr;
    EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, &unknownFactory), CLASS_E_CLASSNOTAVAILABLE);
    dlclose(library);
}

} // namespace
} // namespace typhextest
