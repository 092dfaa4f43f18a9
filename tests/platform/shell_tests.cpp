// Special folders and ShellExecuteA.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <unistd.h>

#include "platform/shell.h"
#include "tests/platform/drives_test_support.h"

namespace {

// Sets an environment variable for the scope of a test.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string DocumentsFolder() {
    LPITEMIDLIST list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL, &list))) return "<failed>";
    char path[MAX_PATH] = {};
    BOOL ok = SHGetPathFromIDListA(list, path);
    CoTaskMemFree(list);
    return ok ? path : "<failed>";
}

TEST(Shell, DocumentsFolderFollowsXdgElseHome) {
    drivetest::TempFolder temp;
    std::filesystem::create_directories(temp.Path() / "home" / "Dokumente");
    std::filesystem::create_directories(temp.Path() / "home" / ".config");
    std::filesystem::create_directories(temp.Path() / "elsewhere");
    ScopedEnv home("HOME", (temp.Path() / "home").string());
    ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnv documents("XDG_DOCUMENTS_DIR", std::nullopt);

    EXPECT_EQ(DocumentsFolder(), (temp.Path() / "home").string());

    std::ofstream(temp.Path() / "home" / ".config" / "user-dirs.dirs")
        << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
    EXPECT_EQ(DocumentsFolder(), (temp.Path() / "home" / "Dokumente").string());

    ScopedEnv direct("XDG_DOCUMENTS_DIR", (temp.Path() / "elsewhere").string() + "/");
    EXPECT_EQ(DocumentsFolder(), (temp.Path() / "elsewhere").string());

    // A documents folder that does not exist is not offered.
    ScopedEnv missing("XDG_DOCUMENTS_DIR", (temp.Path() / "gone").string());
    EXPECT_EQ(DocumentsFolder(), (temp.Path() / "home" / "Dokumente").string());

    LPITEMIDLIST list = nullptr;
    EXPECT_EQ(SHGetSpecialFolderLocation(nullptr, 12345, &list), E_INVALIDARG);
    EXPECT_EQ(list, nullptr);
    char path[MAX_PATH];
    EXPECT_FALSE(SHGetPathFromIDListA(nullptr, path));
}

std::intptr_t Code(HINSTANCE result) { return reinterpret_cast<std::intptr_t>(result); }

TEST(Shell, OpenGoesToTheLauncher) {
    drivetest::TempFolder temp;
    std::string photo = temp.File("00001.jpg");
    std::ofstream(photo) << "x";
    std::vector<std::string> launched;
    bool launcherWorks = true;
    platform::SetShellLauncher([&](const std::string& target) {
        launched.push_back(target);
        return launcherWorks;
    });

    EXPECT_GT(Code(ShellExecuteA(nullptr, "Open", photo.c_str(), nullptr, nullptr, SW_RESTORE)), 32);
    EXPECT_GT(Code(ShellExecuteA(nullptr, "open", temp.Path().c_str(), nullptr, nullptr, SW_SHOWNORMAL)), 32);
    EXPECT_GT(Code(ShellExecuteA(nullptr, nullptr, "https://example.org/download", nullptr, nullptr, 1)), 32);
    EXPECT_EQ(launched, (std::vector<std::string>{photo, temp.Path().string(), "https://example.org/download"}));

    // A missing file is not handed on; an unknown verb has no association.
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", temp.File("missing.jpg").c_str(), nullptr, nullptr, 1)), 2);
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "print", photo.c_str(), nullptr, nullptr, 1)), 31);
    EXPECT_LE(Code(ShellExecuteA(nullptr, "open", nullptr, nullptr, nullptr, 1)), 32);
    EXPECT_EQ(launched.size(), 3u);

    launcherWorks = false;
    EXPECT_LE(Code(ShellExecuteA(nullptr, "open", photo.c_str(), nullptr, nullptr, 1)), 32);
    platform::SetShellLauncher(nullptr);
}

TEST(Shell, TheDefaultLauncherStartsXdgOpenDetached) {
    drivetest::TempFolder temp;
    std::string photo = temp.File("00002.jpg");
    std::ofstream(photo) << "x";
    std::string marker = temp.File("opened.txt");
    std::string fake = temp.File("xdg-open");
    // Written aside and renamed, so that the marker never exists half-written.
    std::ofstream(fake) << "#!/bin/sh\necho \"$1\" > '" << marker << ".part' && mv '" << marker << ".part' '"
                        << marker << "'\n";
    std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
    platform::SetShellLauncher(nullptr);
    {
        ScopedEnv path("PATH", temp.Path().string() + ":/usr/bin:/bin");
        EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", photo.c_str(), nullptr, nullptr, 1)), 42);
    }
    for (int i = 0; i < 500 && !std::filesystem::exists(marker); ++i) ::usleep(10000);
    std::ifstream opened(marker);
    std::string line;
    std::getline(opened, line);
    EXPECT_EQ(line, photo);

    ScopedEnv nowhere("PATH", (temp.Path() / "empty").string());
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", photo.c_str(), nullptr, nullptr, 1)), 31);
}

} // namespace
