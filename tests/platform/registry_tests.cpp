#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/registry.h"

namespace fs = std::filesystem;

namespace {

// Each test gets a store of its own in a fresh folder.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tranquo-registry-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        store_ = folder_ + "/nested/registry";
        setenv("TRANQUO_REGISTRY", store_.c_str(), 1);
        platform::ReloadRegistry();
    }
    void TearDown() override {
        unsetenv("TRANQUO_REGISTRY");
        platform::ReloadRegistry();
        fs::remove_all(folder_);
    }
    std::string StoreText() const {
        std::ifstream in(store_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    HKEY Create(const char* path) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    void SetText(HKEY key, const char* name, const std::string& text) {
        EXPECT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
    }
    std::string folder_, store_;
};

} // namespace

TEST_F(RegistryTest, MissingKeyFailsToOpenAndValuesReadBack) {
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nobody", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(fs::exists(store_)); // reading writes nothing

    HKEY created = Create("Software\\Tranquo\\Settings");
    SetText(created, "DestDir", "/home/user/Recovered/");
    ASSERT_EQ(RegCloseKey(created), ERROR_SUCCESS);

    // Names are case-insensitive, as on Windows.
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\tranquo\\SETTINGS", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "destdir", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 22u); // with its NUL

    char small[8];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "DestDir", nullptr, &type, reinterpret_cast<BYTE*>(small), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 22u);

    char buffer[64];
    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(key, "DestDir", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "/home/user/Recovered/");
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_FILE_NOT_FOUND);
    // A key opened for reading cannot write.
    EXPECT_EQ(RegSetValueExA(key, "X", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, DwordDefaultAndUnterminatedTextsKeepTheirBytes) {
    HKEY key = Create("Software\\Values");
    DWORD number = 0xDEADBEEF;
    ASSERT_EQ(RegSetValueExA(key, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), ERROR_SUCCESS);
    SetText(key, nullptr, "Default text");
    // Stored without a NUL: the count read back is what was stored.
    ASSERT_EQ(RegSetValueExA(key, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3), ERROR_SUCCESS);
    SetText(key, "Odd = name\\[x]", "line one\nline two \\ end");
    RegCloseKey(key);

    platform::ReloadRegistry(); // everything below comes from the file
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Values", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0, read = 0, size = sizeof read;
    ASSERT_EQ(RegQueryValueExA(key, "Count", nullptr, &type, reinterpret_cast<BYTE*>(&read), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(read, 0xDEADBEEF);

    char buffer[64];
    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "Default text");

    std::memset(buffer, 'x', sizeof buffer);
    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(key, "Bare", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_STREQ(buffer, "abc"); // terminated in the buffer all the same

    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(key, "odd = NAME\\[x]", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "line one\nline two \\ end");
    RegCloseKey(key);

    const std::string text = StoreText();
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Values]"), std::string::npos) << text;
    EXPECT_NE(text.find("Count=dword:DEADBEEF"), std::string::npos) << text;
    EXPECT_NE(text.find("@=sz:Default text"), std::string::npos) << text;
}

TEST_F(RegistryTest, DeleteKeyRefusesSubkeysAndDeleteTreeTakesAll) {
    RegCloseKey(Create("Software\\Classes\\CLSID\\{X}\\InprocServer32"));
    HKEY programmable = Create("Software\\Classes\\CLSID\\{X}\\Programmable"); // an empty key survives a reload
    RegCloseKey(programmable);
    platform::ReloadRegistry();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{X}\\Programmable", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);

    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{X}"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{X}\\Programmable"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{X}\\Programmable"), ERROR_FILE_NOT_FOUND);

    HKEY held = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{X}\\InprocServer32", 0, KEY_ALL_ACCESS, &held),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{x}"), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{X}", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    // A handle to a deleted key reports it.
    EXPECT_EQ(RegSetValueExA(held, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2), ERROR_KEY_DELETED);
    RegCloseKey(held);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{X}"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes\\CLSID", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, WritesAreWholeFilesReplacedByRename) {
    HKEY key = Create("Software\\Atomic");
    for (int i = 0; i < 20; ++i) SetText(key, ("Value" + std::to_string(i)).c_str(), std::string(100, 'a' + i % 26));
    RegCloseKey(key);
    // Only the store itself is left in its folder: no temporary files.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(store_).parent_path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"registry"});

    // Another process's change is seen, and not overwritten by ours.
    pid_t child = fork();
    if (child == 0) {
        HKEY k = nullptr;
        int rc = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\FromChild", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                                 nullptr);
        _exit(rc == ERROR_SUCCESS ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    key = Create("Software\\FromParent");
    RegCloseKey(key);
    platform::ReloadRegistry();
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\FromChild", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, UnreadableLinesAreKeptInACopyNotLost) {
    fs::create_directories(fs::path(store_).parent_path());
    {
        std::ofstream out(store_);
        out << "[HKEY_CURRENT_USER\\Software\\Kept]\nName=sz:value\nthis line is not a value\n"
               "[HKEY_NOWHERE\\x]\nA=sz:b\nBroken=dword:12\n";
    }
    platform::ReloadRegistry();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kept", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    char buffer[16];
    DWORD size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "value");
    SetText(key, "New", "x");
    RegCloseKey(key);
    EXPECT_TRUE(fs::exists(store_ + ".bad"));
    EXPECT_EQ(StoreText().find("not a value"), std::string::npos);
}

TEST_F(RegistryTest, StorePathFollowsTheEnvironment) {
    EXPECT_EQ(platform::RegistryStorePath(), store_);
    unsetenv("TRANQUO_REGISTRY");
    setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    EXPECT_EQ(platform::RegistryStorePath(), "/somewhere/config/tranquo/registry");
    unsetenv("XDG_CONFIG_HOME");
    setenv("TRANQUO_REGISTRY", store_.c_str(), 1);

    // Switching the variable switches stores without an explicit reload.
    RegCloseKey(Create("Software\\First"));
    std::string second = folder_ + "/second";
    setenv("TRANQUO_REGISTRY", second.c_str(), 1);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\First", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    setenv("TRANQUO_REGISTRY", store_.c_str(), 1);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\First", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, ABatchWritesItsChangesOnceAtItsEnd) {
    HKEY key = Create("Software\\Before");
    RegCloseKey(key);
    const std::string before = StoreText();
    {
        platform::RegistryBatch batch;
        key = Create("Software\\Batched");
        SetText(key, "One", "1");
        SetText(key, "Two", "2");
        RegCloseKey(key);
        // Seen by this process at once, on disk only when the batch ends.
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Batched", 0, KEY_READ, &key), ERROR_SUCCESS);
        RegCloseKey(key);
        EXPECT_EQ(StoreText(), before);
        {
            platform::RegistryBatch inner;
            key = Create("Software\\Inner");
            RegCloseKey(key);
        }
        EXPECT_EQ(StoreText(), before);
        EXPECT_EQ(batch.Commit(), ERROR_SUCCESS);
    }
    platform::ReloadRegistry();
    char text[8] = {};
    DWORD size = sizeof text;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Batched", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "Two", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "2");
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Inner", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}
