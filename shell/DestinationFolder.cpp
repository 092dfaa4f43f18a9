#include "shell/DestinationFolder.h"

#include <filesystem>
#include <system_error>

#include "engine/FileHelpers.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "shell/RegistryStuff.h"

namespace shell {

namespace {

constexpr const char* kProgramSubKey = "SOFTWARE\\Quillmarsh\\Calvesse 4.0 - PE";

std::string WithTrailingSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

} // namespace

std::string FolderUnderRoot(const std::string& root, const std::string& relative) {
    std::size_t skip = 0;
    while (skip < relative.size() && relative[skip] == '/') ++skip;
    // No root is no folder: never "/" and the relative path under it.
    if (root.empty()) return relative.substr(skip);
    return WithTrailingSlash(root) + relative.substr(skip);
}

bool EnsureProgramKey() {
    HKEY key = nullptr;
    DWORD disposition = 0;
    const LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProgramSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        KEY_WRITE, nullptr, &key, &disposition);
    if (status != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::string DefaultDestination() {
    std::string documents = engine::GetSpecialFolderPath(CSIDL_PERSONAL);
    if (documents.empty()) {
        std::error_code ec;
        documents = std::filesystem::current_path(ec).string();
    }
    return WithTrailingSlash(documents);
}

std::string ReadDestinationRoot() {
    EnsureProgramKey();
    std::string root = RegGetString(ProgramKeyPath, DestDirValueName);
    // An empty value names no folder: it would put the results in whatever
    // the current folder happens to be.
    if (root == RegistryError || root.empty()) {
        root = DefaultDestination();
        RegSetString(ProgramKeyPath, DestDirValueName, root);
    }
    return root;
}

std::string CurrentDestinationRoot() {
    std::string root = RegGetString(ProgramKeyPath, DestDirValueName);
    if (root == RegistryError || root.empty()) root = DefaultDestination();
    return root;
}

bool StoreDestinationRoot(const std::string& root) {
    EnsureProgramKey();
    return RegSetString(ProgramKeyPath, DestDirValueName, root) == ERROR_SUCCESS;
}

} // namespace shell
