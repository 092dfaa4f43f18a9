// Special folders and ShellExecuteA over the XDG conventions.
#include "platform/shell.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

struct ITEMIDLIST {
    char path[MAX_PATH];
};

namespace {

constexpr std::intptr_t SE_ERR_FNF = 2;
constexpr std::intptr_t SE_ERR_NOASSOC = 31;
constexpr std::intptr_t ShellSuccess = 42;

std::mutex launcherMutex;
std::function<bool(const std::string&)> launcher;

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The value of XDG_DOCUMENTS_DIR in user-dirs.dirs: a quoted path that may
// begin with $HOME.
std::string DocumentsFromUserDirs() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string file = (config && *config ? std::string(config) : HomeFolder() + "/.config") + "/user-dirs.dirs";
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DOCUMENTS_DIR=";
        std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
        std::string value = line.substr(start + key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) value = HomeFolder() + value.substr(5);
        return value;
    }
    return "";
}

std::string DocumentsFolder() {
    if (const char* documents = std::getenv("XDG_DOCUMENTS_DIR"); documents && IsFolder(documents))
        return WithoutTrailingSlash(documents);
    std::string fromFile = DocumentsFromUserDirs();
    if (IsFolder(fromFile)) return WithoutTrailingSlash(fromFile);
    return WithoutTrailingSlash(HomeFolder());
}

bool IsWebAddress(const std::string& target) {
    return target.find("://") != std::string::npos || target.rfind("mailto:", 0) == 0 ||
           target.rfind("www.", 0) == 0;
}

// Starts xdg-open detached (its own session, no wait for the viewer). True
// when the program could be started.
bool LaunchWithXdgOpen(const std::string& target) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return false;
    pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
        int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        const char* arguments[] = {"xdg-open", target.c_str(), nullptr};
        ::execvp("xdg-open", const_cast<char* const*>(arguments));
        int error = errno;
        ssize_t ignored = ::write(report[1], &error, sizeof error);
        (void)ignored;
        ::_exit(127);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n;
    while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    bool forked = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return forked && n == 0; // the pipe closed on a successful exec
}

HINSTANCE Result(std::intptr_t value) { return reinterpret_cast<HINSTANCE>(value); }

} // namespace

HRESULT SHGetSpecialFolderLocation(HWND, int folder, LPITEMIDLIST* list) {
    if (!list) return E_POINTER;
    *list = nullptr;
    if (folder != CSIDL_PERSONAL) return E_INVALIDARG;
    std::string path = DocumentsFolder();
    if (path.size() >= MAX_PATH) return E_FAIL;
    auto* item = static_cast<ITEMIDLIST*>(CoTaskMemAlloc(sizeof(ITEMIDLIST)));
    if (!item) return E_OUTOFMEMORY;
    std::memset(item, 0, sizeof *item);
    path.copy(item->path, path.size());
    *list = item;
    return S_OK;
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, char* path) {
    if (!list || !path) return FALSE;
    std::size_t length = strnlen(list->path, MAX_PATH - 1);
    std::memcpy(path, list->path, length);
    path[length] = '\0';
    return TRUE;
}

HINSTANCE ShellExecuteA(HWND, const char* verb, const char* file, const char*, const char*, int) {
    std::string action = verb ? verb : "open";
    for (char& c : action) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!action.empty() && action != "open" && action != "explore") return Result(SE_ERR_NOASSOC);
    if (!file || !*file) return Result(SE_ERR_FNF);
    std::string target = file;
    struct stat info {};
    if (!IsWebAddress(target) && ::stat(target.c_str(), &info) != 0) return Result(SE_ERR_FNF);
    std::function<bool(const std::string&)> launch;
    {
        std::lock_guard lock(launcherMutex);
        launch = launcher;
    }
    bool started = launch ? launch(target) : LaunchWithXdgOpen(target);
    return Result(started ? ShellSuccess : SE_ERR_NOASSOC);
}

namespace platform {

void SetShellLauncher(std::function<bool(const std::string& target)> replacement) {
    std::lock_guard lock(launcherMutex);
    launcher = std::move(replacement);
}

} // namespace platform
