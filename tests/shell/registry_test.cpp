#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/FileHelpers.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/ui.h"
#include "shell/DestinationFolder.h"
#include "shell/RegistryStuff.h"
#include "TestFolder.h"

using testing_support::TestFolder;

namespace {

constexpr const char* kTestKey = "HKEY_CURRENT_USER\\Software\\TranquoTests";

// Each test gets a fresh store of its own and scripted message boxes.
class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("TRANQUO_REGISTRY");
        savedStore_ = old ? old : "";
        ::setenv("TRANQUO_REGISTRY", (dir_ / "registry").c_str(), 1);
        platform::ReloadRegistry();
        ui_ = std::make_unique<platform::ScopedUi>(scripted_);
    }
    void TearDown() override {
        ui_.reset();
        if (savedStore_.empty()) ::unsetenv("TRANQUO_REGISTRY");
        else ::setenv("TRANQUO_REGISTRY", savedStore_.c_str(), 1);
        platform::ReloadRegistry();
    }
    static void CreateTestKey() {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\TranquoTests", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    // Writes raw bytes as another program would.
    static void SetRaw(const char* name, DWORD type, const std::string& bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\TranquoTests", 0, KEY_WRITE, &key), ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
        RegCloseKey(key);
    }

    TestFolder dir_;
    platform::ScriptedUi scripted_;
    std::unique_ptr<platform::ScopedUi> ui_;
    std::string savedStore_;
};

} // namespace

TEST_F(Registry, MalformedKeyPathsAreRefusedWithAMessage) {
    std::string path = "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
    HKEY root = HKEY_USERS;
    shell::ParseKeyPath(path, root);
    EXPECT_EQ(root, nullptr);
    ASSERT_EQ(scripted_.boxes.size(), 1u);
    EXPECT_EQ(scripted_.boxes[0].text, "Incorrect Format:\n\nHKEY_LOCAL_MACHINE\\SOFTWARE\\");
    EXPECT_EQ(scripted_.boxes[0].style, platform::vbOKOnly);

    EXPECT_EQ(shell::RegGetString("SOFTWARE\\Quillmarsh", "DestDir"), "Error");
    EXPECT_EQ(scripted_.boxes.size(), 2u);

    // An unknown root is no format error, but nothing can be opened under it.
    EXPECT_EQ(shell::RegGetString("HKEY_NOWHERE\\SOFTWARE", "DestDir"), "Error");
    EXPECT_EQ(scripted_.boxes.size(), 2u);
}

TEST_F(Registry, ParseKeyPathSplitsAtTheFirstBackslash) {
    std::string path = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmarsh\\Calvesse 4.0 - PE";
    HKEY root = nullptr;
    shell::ParseKeyPath(path, root);
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(path, "SOFTWARE\\Quillmarsh\\Calvesse 4.0 - PE");

    path = "HKEY_CURRENT_CONFIG";
    shell::ParseKeyPath(path, root);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(root), 0x80000005u);
    EXPECT_EQ(path, "");
    EXPECT_TRUE(scripted_.boxes.empty());
}

TEST_F(Registry, StoredFolderComesBackWithItsFinalSlash) {
    CreateTestKey();
    EXPECT_EQ(shell::RegSetString(kTestKey, "DestDir", "/home/anna/Documents/"), ERROR_SUCCESS);
    EXPECT_EQ(shell::RegGetString(kTestKey, "DestDir"), "/home/anna/Documents/");

    // Written by others: with the terminating NUL, without it, with blanks.
    SetRaw("WithNul", REG_SZ, std::string("/media/card/\0", 13));
    SetRaw("WithoutNul", REG_SZ, "/media/card/");
    SetRaw("Padded", REG_SZ, std::string("  /media/card/  \0", 17));
    EXPECT_EQ(shell::RegGetString(kTestKey, "WithNul"), "/media/card/");
    EXPECT_EQ(shell::RegGetString(kTestKey, "WithoutNul"), "/media/card/");
    EXPECT_EQ(shell::RegGetString(kTestKey, "Padded"), "/media/card/");
}

TEST_F(Registry, LongValuesAreCutAt255Characters) {
    CreateTestKey();
    const std::string longText(300, 'x');
    shell::RegSetString(kTestKey, "Long", longText);
    EXPECT_EQ(shell::RegGetString(kTestKey, "Long"), std::string(255, 'x'));
}

TEST_F(Registry, MissingKeysAndValuesAreErrorsAndKeysAreNeverCreated) {
    EXPECT_EQ(shell::RegGetString(kTestKey, "DestDir"), "Error");
    EXPECT_NE(shell::RegSetString(kTestKey, "DestDir", "/tmp/"), ERROR_SUCCESS);
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\TranquoTests", 0, KEY_READ, &key), ERROR_SUCCESS);
    CreateTestKey();
    EXPECT_EQ(shell::RegGetString(kTestKey, "NoSuchValue"), "Error");
}

TEST_F(Registry, NumbersAndOtherTypes) {
    CreateTestKey();
    SetRaw("Count", REG_DWORD, std::string("\x2A\x01\x00\x00", 4));
    SetRaw("Blob", 3 /* REG_BINARY */, "\x01\x02");
    shell::RegSetString(kTestKey, "Text", "abc");
    EXPECT_EQ(shell::RegGetDword(kTestKey, "Count"), 298u);
    EXPECT_FALSE(shell::RegGetDword(kTestKey, "Text"));
    EXPECT_EQ(shell::RegGetString(kTestKey, "Count"), "Error");

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\TranquoTests", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(shell::RegQueryValue(key, "Blob").status, -1);
    const auto number = shell::RegQueryValue(key, "Count");
    EXPECT_EQ(number.status, ERROR_SUCCESS);
    EXPECT_EQ(number.number, 298u);
    RegCloseKey(key);
}

TEST_F(Registry, DestinationRootDefaultsToDocumentsAndIsStored) {
    const std::string documents = engine::GetSpecialFolderPath(CSIDL_PERSONAL);
    ASSERT_FALSE(documents.empty());
    const std::string expected = documents.back() == '/' ? documents : documents + "/";
    EXPECT_EQ(shell::DefaultDestination(), expected);

    // First start: no key, no value.
    EXPECT_EQ(shell::CurrentDestinationRoot(), expected);
    EXPECT_EQ(shell::RegGetString(shell::ProgramKeyPath, "DestDir"), "Error"); // not stored by the chooser
    EXPECT_EQ(shell::ReadDestinationRoot(), expected);
    EXPECT_EQ(shell::RegGetString(shell::ProgramKeyPath, "DestDir"), expected);

    // The store survives a reload.
    platform::ReloadRegistry();
    EXPECT_EQ(shell::ReadDestinationRoot(), expected);
}

TEST_F(Registry, ChosenDestinationIsUsedAsStored) {
    ASSERT_TRUE(shell::StoreDestinationRoot("/media/backup"));
    EXPECT_EQ(shell::ReadDestinationRoot(), "/media/backup"); // stored as it is ...
    // ... and joined with its folders as the folder it names, by every reader.
    EXPECT_EQ(shell::FolderUnderRoot(shell::ReadDestinationRoot(), shell::TurboScanSubfolder),
              "/media/backup/My Recovered Mobile Device/Turbo Scan/");
    EXPECT_EQ(shell::FolderUnderRoot("/media/backup/", shell::RecoveredSubfolder), "/media/backup/My Recovered Mobile Device/");
    EXPECT_EQ(shell::FolderUnderRoot("", shell::RecoveredSubfolder), "My Recovered Mobile Device/"); // never "/My ..."
    ASSERT_TRUE(shell::StoreDestinationRoot("/media/backup/"));
    EXPECT_EQ(shell::CurrentDestinationRoot(), "/media/backup/");

    // An empty value names no folder.
    ASSERT_TRUE(shell::StoreDestinationRoot(""));
    EXPECT_EQ(shell::ReadDestinationRoot(), shell::DefaultDestination());
    EXPECT_TRUE(scripted_.boxes.empty());
}
