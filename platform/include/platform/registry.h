// The registry calls the program and the library use, over one file-backed
// store per user ($XDG_CONFIG_HOME/tranquo/registry; see RegistryStorePath).
// Every change is written at once, atomically (temporary file, then rename).
#pragma once

#include <string>

#include "platform/wintypes.h"

struct HKEY__;
using HKEY = HKEY__*;
using REGSAM = DWORD;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000003u)))

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_DWORD = 4;

constexpr DWORD ERROR_KEY_DELETED = 1018; // the opened key was deleted since

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// All return ERROR_SUCCESS or a Win32 error code (ERROR_FILE_NOT_FOUND for a
// missing key or value, ERROR_MORE_DATA when the buffer is too small,
// ERROR_INVALID_HANDLE for a closed or unknown key, ERROR_ACCESS_DENIED for a
// write through a key opened without KEY_SET_VALUE, or a read without
// KEY_QUERY_VALUE). Key and value names are case-insensitive; a key path
// separates its names with "". Handles from RegOpenKeyExA/RegCreateKeyExA
// are freed by RegCloseKey; the predefined roots need no closing.
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM desired, HKEY* result);
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* className, DWORD options,
                     REGSAM desired, void* securityAttributes, HKEY* result, DWORD* disposition);
// A null or empty name is the key's default value. A null data pointer
// gives the size only; a short buffer gives ERROR_MORE_DATA and the size.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);
// REG_SZ data includes its terminating NUL in size. The bytes are stored as
// given: RegQueryValueExA reports the same count (adding a NUL in the buffer,
// not in the count, when there is room and it was stored without one).
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegDeleteValueA(HKEY key, const char* valueName);
// Deletes a key that has no subkeys.
LONG RegDeleteKeyA(HKEY key, const char* subKey);
// Deletes a key with everything below it (subKey null: the key's contents).
LONG RegDeleteTreeA(HKEY key, const char* subKey);
LONG RegCloseKey(HKEY key);

namespace platform {

// The store's file: TRANQUO_REGISTRY; else a file named "registry" beside
// the running executable, when there is one (a build tree's program folder);
// else $XDG_CONFIG_HOME/tranquo/registry, else ~/.config/tranquo/registry.
std::string RegistryStorePath();
// Whether the store's file could be written, judged without writing: false
// with *why ("the settings store /x/registry cannot be written: /x is not a
// folder") when its folder cannot be made or the file or folder is not
// writable. For messages after a failed write.
bool RegistryStoreWritable(std::string* why);
// Drops the in-memory copy so that the next call reads the store afresh
// (tests that change TRANQUO_REGISTRY).
void ReloadRegistry();

// Gathers the changes made while it lives (a registration's hundred values)
// into one write of the store, under one lock held from construction: each
// change is otherwise written, and flushed to disk, on its own. Commit
// writes and returns ERROR_SUCCESS or the write's error; the destructor
// commits when Commit was not called. Batches nest.
class RegistryBatch {
public:
    RegistryBatch();
    ~RegistryBatch();
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;
    LONG Commit();

private:
    bool open_ = true;
};

} // namespace platform
