#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "FakeComServer.h"
#include "platform/registry.h"

namespace fs = std::filesystem;

namespace {

class ActivationTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tranquo-activation-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        setenv("TRANQUO_REGISTRY", (folder_ + "/registry").c_str(), 1);
        platform::ReloadRegistry();
    }
    void TearDown() override {
        CoFreeUnusedLibraries();
        unsetenv("TRANQUO_REGISTRY");
        platform::ReloadRegistry();
        fs::remove_all(folder_);
    }
    static void RegisterPath(REFCLSID clsid, const std::string& path) {
        std::string subKey = "CLSID\\" + FormatGuid(clsid) + "\\InprocServer32";
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>(path.size() + 1));
        RegCloseKey(key);
    }
    static bool FakeServerLoaded() {
        void* handle = dlopen(TRANQUO_FAKE_COM_SERVER, RTLD_NOW | RTLD_NOLOAD);
        if (handle) dlclose(handle);
        return handle != nullptr;
    }
    std::string folder_;
};

} // namespace

TEST_F(ActivationTest, UnregisteredClassIsReported) {
    platform::ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(CLSID_FakeAnswer, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.PutVoid()),
              REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(object);
    EXPECT_EQ(CoCreateInstance(CLSID_FakeAnswer, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ActivationTest, RegisteredLibraryServesObjectsAndUnloadsWhenIdle) {
    ASSERT_EQ(platform::RegisterServer(TRANQUO_FAKE_COM_SERVER), S_OK) << platform::LastActivationError();
    {
        platform::ComPtr<IFakeAnswer> answer;
        ASSERT_EQ(CoCreateInstance(CLSID_FakeAnswer, nullptr, CLSCTX_ALL, IID_IFakeAnswer, answer.PutVoid()), S_OK)
            << platform::LastActivationError();
        LONG value = 0;
        EXPECT_EQ(answer->Answer(&value), S_OK);
        EXPECT_EQ(value, 42);

        platform::ComPtr<IUnknown> unknown;
        EXPECT_EQ(answer.As(IID_IUnknown, &unknown), S_OK);
        platform::ComPtr<IUnknown> wrong;
        EXPECT_EQ(CoCreateInstance(CLSID_FakeAnswer, nullptr, CLSCTX_ALL, IID_IDispatch, wrong.PutVoid()),
                  E_NOINTERFACE);
        EXPECT_FALSE(wrong);

        // The library activates its own class through its own copy of the
        // runtime; that must not pin it in memory.
        platform::ComPtr<IFakeAnswer> sibling;
        ASSERT_EQ(answer->MakeSibling(sibling.Put()), S_OK);
        EXPECT_EQ(sibling->Answer(&value), S_OK);

        // Objects alive: the library stays.
        CoFreeUnusedLibraries();
        EXPECT_TRUE(FakeServerLoaded());
        EXPECT_EQ(answer->Answer(&value), S_OK);
    }
    CoFreeUnusedLibraries();
    EXPECT_FALSE(FakeServerLoaded());

    // And it comes back on the next activation.
    platform::ComPtr<IFakeAnswer> again;
    EXPECT_EQ(CoCreateInstance(CLSID_FakeAnswer, nullptr, CLSCTX_ALL, IID_IFakeAnswer, again.PutVoid()), S_OK);

    // Unregistration removes what registration wrote.
    again = nullptr;
    ASSERT_EQ(platform::RegisterServer(TRANQUO_FAKE_COM_SERVER, true), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_FakeAnswer, nullptr, CLSCTX_ALL, IID_IFakeAnswer, again.PutVoid()),
              REGDB_E_CLASSNOTREG);
}

TEST_F(ActivationTest, BrokenRegistrationsFailWithTheirOwnCodes) {
    RegisterPath(CLSID_FakeAnswer, folder_ + "/gone/libMissing.so");
    platform::ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(CLSID_FakeAnswer, nullptr, CLSCTX_ALL, IID_IUnknown, object.PutVoid()), CO_E_DLLNOTFOUND);
    EXPECT_NE(platform::LastActivationError().find("libMissing.so"), std::string::npos);

    // A file that is not a library.
    std::string notALibrary = folder_ + "/libText.so";
    std::ofstream(notALibrary) << "not an ELF file";
    RegisterPath(CLSID_FakeAnswer, notALibrary);
    EXPECT_EQ(CoCreateInstance(CLSID_FakeAnswer, nullptr, CLSCTX_ALL, IID_IUnknown, object.PutVoid()), CO_E_DLLNOTFOUND);

    // A real library that is no COM server.
    RegisterPath(CLSID_FakeAnswer, "libm.so.6");
    EXPECT_EQ(CoCreateInstance(CLSID_FakeAnswer, nullptr, CLSCTX_ALL, IID_IUnknown, object.PutVoid()), CO_E_ERRORINDLL);

    EXPECT_EQ(platform::RegisterServer(folder_ + "/nothing.so"), CO_E_DLLNOTFOUND);
}

TEST_F(ActivationTest, EnsureClassRegisteredRegistersTheShippedLibraryOnce) {
    EXPECT_EQ(platform::EnsureClassRegistered(CLSID_FakeAnswer, TRANQUO_FAKE_COM_SERVER), S_OK)
        << platform::LastActivationError();
    EXPECT_EQ(platform::EnsureClassRegistered(CLSID_FakeAnswer, TRANQUO_FAKE_COM_SERVER), S_FALSE);
    platform::ComPtr<IFakeAnswer> answer;
    EXPECT_EQ(CoCreateInstance(CLSID_FakeAnswer, nullptr, CLSCTX_ALL, IID_IFakeAnswer, answer.PutVoid()), S_OK);
    answer = nullptr;

    // A registration naming a library that has gone away is replaced.
    RegisterPath(CLSID_FakeAnswer, folder_ + "/moved/libTyphex.so");
    EXPECT_EQ(platform::EnsureClassRegistered(CLSID_FakeAnswer, TRANQUO_FAKE_COM_SERVER), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_FakeAnswer, nullptr, CLSCTX_ALL, IID_IFakeAnswer, answer.PutVoid()), S_OK);

    // Another copy's library (an older installation, another build) is
    // replaced by the one given, with a note, and never loaded.
    const std::string otherCopy = folder_ + "/libOther.so";
    fs::copy_file(TRANQUO_FAKE_COM_SERVER, otherCopy);
    RegisterPath(CLSID_FakeAnswer, otherCopy);
    testing::internal::CaptureStderr();
    EXPECT_EQ(platform::EnsureClassRegistered(CLSID_FakeAnswer, TRANQUO_FAKE_COM_SERVER), S_OK);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(otherCopy), std::string::npos);
    EXPECT_EQ(CoCreateInstance(CLSID_FakeAnswer, nullptr, CLSCTX_ALL, IID_IFakeAnswer, answer.PutVoid()), S_OK);
    answer = nullptr;
    void* otherLoaded = dlopen(otherCopy.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(otherLoaded, nullptr);
    if (otherLoaded) dlclose(otherLoaded);

    // A program without a library beside it keeps what is registered.
    EXPECT_EQ(platform::EnsureClassRegistered(CLSID_FakeAnswer, folder_ + "/none/libTyphex.so"), S_FALSE);
    EXPECT_EQ(CoCreateInstance(CLSID_FakeAnswer, nullptr, CLSCTX_ALL, IID_IFakeAnswer, answer.PutVoid()), S_OK);
    answer = nullptr;

    // A library that does not register the class asked for.
    const CLSID other = MakeGuid("5E1F3A20-7C44-4B9B-9D1E-2A6B8F0C1DFF");
    EXPECT_EQ(platform::EnsureClassRegistered(other, TRANQUO_FAKE_COM_SERVER), REGDB_E_CLASSNOTREG);
}

TEST_F(ActivationTest, RegistrationToolWritesTheStoreItNames) {
    std::string command = std::string(TRANQUO_REGSVR) + " -s " + TRANQUO_FAKE_COM_SERVER;
    ASSERT_EQ(std::system(command.c_str()), 0);
    platform::ComPtr<IFakeAnswer> answer;
    EXPECT_EQ(CoCreateInstance(CLSID_FakeAnswer, nullptr, CLSCTX_ALL, IID_IFakeAnswer, answer.PutVoid()), S_OK);
    answer = nullptr;
    command = std::string(TRANQUO_REGSVR) + " -s " + folder_ + "/none.so 2>/dev/null";
    EXPECT_NE(std::system(command.c_str()), 0);
}
