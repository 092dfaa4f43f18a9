// Shell services: special folders, "open" through xdg-open.
#pragma once

#include <functional>
#include <string>

#include "platform/com.h"

struct ITEMIDLIST;
using LPITEMIDLIST = ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;

constexpr int CSIDL_PERSONAL = 5; // the documents folder
constexpr int MAX_PATH = 260;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_RESTORE = 9;

// CSIDL_PERSONAL: the XDG documents folder, else $HOME. The list is freed
// with CoTaskMemFree.
HRESULT SHGetSpecialFolderLocation(HWND owner, int folder, LPITEMIDLIST* list);
// Writes the path (at most MAX_PATH bytes with the NUL) into path.
BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, char* path);
// "open" (or "Open", or null) on a file, folder or web address through
// xdg-open. Returns a value above 32 on success, as Windows does.
HINSTANCE ShellExecuteA(HWND owner, const char* verb, const char* file, const char* parameters,
                        const char* directory, int showCommand);

namespace platform {
// Replaces the launcher behind ShellExecuteA (tests); it receives the target
// and answers whether it started. An empty function restores xdg-open.
void SetShellLauncher(std::function<bool(const std::string& target)> launcher);
} // namespace platform
