#include <cstring>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "RegistryStore.h"
#include "platform/registry.h"

using platform::registry::Fold;
using platform::registry::Key;
using platform::registry::Outcome;
using platform::registry::Store;
using platform::registry::Tree;
using platform::registry::Value;

// An open key: which root, the names below it, and the access asked for.
struct HKEY__ {
    int root;
    std::vector<std::string> path;
    REGSAM access;
};

namespace {

std::mutex handlesMutex;
std::unordered_set<HKEY> liveHandles;

struct Location {
    int root = -1;
    std::vector<std::string> path;
    REGSAM access = KEY_ALL_ACCESS;
    bool isHandle = false; // an opened key (which may since have been deleted)
};

bool Resolve(HKEY key, Location* where) {
    auto value = reinterpret_cast<std::uintptr_t>(key);
    if (value >= 0x80000000u && value < 0x80000000u + platform::registry::kRootCount) {
        where->root = static_cast<int>(value - 0x80000000u);
        return true;
    }
    std::lock_guard lock(handlesMutex);
    if (!liveHandles.count(key)) return false;
    where->root = key->root;
    where->path = key->path;
    where->access = key->access;
    where->isHandle = true;
    return true;
}

// "a\b\c" as names; empty names (doubled or outer backslashes) are ignored.
std::vector<std::string> SplitPath(const char* subKey) {
    std::vector<std::string> names;
    if (!subKey) return names;
    std::string current;
    for (const char* p = subKey; *p; ++p) {
        if (*p == '\\') {
            if (!current.empty()) names.push_back(std::move(current));
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty()) names.push_back(std::move(current));
    return names;
}

Key* Find(Tree& tree, int root, const std::vector<std::string>& path) {
    Key* key = &tree.roots[root];
    for (const std::string& name : path) {
        auto it = key->subkeys.find(Fold(name));
        if (it == key->subkeys.end()) return nullptr;
        key = it->second.get();
    }
    return key;
}

// ERROR_KEY_DELETED for an opened key that no longer exists.
LONG MissingBase(const Location& where) { return where.isHandle ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND; }

HKEY NewHandle(int root, std::vector<std::string> path, REGSAM access) {
    HKEY handle = new HKEY__{root, std::move(path), access};
    std::lock_guard lock(handlesMutex);
    liveHandles.insert(handle);
    return handle;
}

std::string NameOf(const char* valueName) { return valueName ? valueName : ""; }

} // namespace

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM desired, HKEY* result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Location where;
    if (!Resolve(key, &where)) return ERROR_INVALID_HANDLE;
    std::vector<std::string> names = SplitPath(subKey);
    where.path.insert(where.path.end(), names.begin(), names.end());
    std::vector<std::string> canonical;
    LONG status = Store::Instance().Read([&](Tree& tree) -> LONG {
        Key* k = &tree.roots[where.root];
        std::size_t baseDepth = where.path.size() - names.size();
        for (std::size_t i = 0; i < where.path.size(); ++i) {
            auto it = k->subkeys.find(Fold(where.path[i]));
            if (it == k->subkeys.end()) return i < baseDepth ? MissingBase(where) : ERROR_FILE_NOT_FOUND;
            k = it->second.get();
            canonical.push_back(k->name);
        }
        return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) return status;
    *result = NewHandle(where.root, std::move(canonical), desired);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, char*, DWORD, REGSAM desired, void*, HKEY* result,
                     DWORD* disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Location where;
    if (!Resolve(key, &where)) return ERROR_INVALID_HANDLE;
    std::vector<std::string> names = SplitPath(subKey);
    std::vector<std::string> canonical;
    bool created = false;
    LONG status = Store::Instance().Modify([&](Tree& tree, Outcome& outcome) -> LONG {
        Key* k = Find(tree, where.root, where.path);
        if (!k) return MissingBase(where);
        for (const auto& name : where.path) canonical.push_back(name);
        for (const std::string& name : names) {
            auto& slot = k->subkeys[Fold(name)];
            if (!slot) {
                slot = std::make_unique<Key>();
                slot->name = name;
                created = true;
                outcome = Outcome::Changed;
            }
            k = slot.get();
            canonical.push_back(k->name);
        }
        return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) return status;
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(where.root, std::move(canonical), desired);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize) {
    if (reserved || (data && !dataSize)) return ERROR_INVALID_PARAMETER;
    Location where;
    if (!Resolve(key, &where)) return ERROR_INVALID_HANDLE;
    if (!(where.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    return Store::Instance().Read([&](Tree& tree) -> LONG {
        Key* k = Find(tree, where.root, where.path);
        if (!k) return MissingBase(where);
        auto it = k->values.find(Fold(NameOf(valueName)));
        if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
        const Value& value = it->second;
        auto size = static_cast<DWORD>(value.data.size());
        if (type) *type = value.type;
        if (!data) {
            if (dataSize) *dataSize = size;
            return ERROR_SUCCESS;
        }
        if (*dataSize < size) {
            *dataSize = size;
            return ERROR_MORE_DATA;
        }
        if (size) std::memcpy(data, value.data.data(), size);
        // A text stored without its NUL is still handed out terminated when
        // there is room; the count stays what was stored.
        if (value.type == REG_SZ && (size == 0 || value.data.back() != 0) && *dataSize > size) data[size] = 0;
        *dataSize = size;
        return ERROR_SUCCESS;
    });
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
    if (!data && dataSize) return ERROR_INVALID_PARAMETER;
    Location where;
    if (!Resolve(key, &where)) return ERROR_INVALID_HANDLE;
    if (!(where.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    std::string name = NameOf(valueName);
    return Store::Instance().Modify([&](Tree& tree, Outcome& outcome) -> LONG {
        Key* k = Find(tree, where.root, where.path);
        if (!k) return MissingBase(where);
        Value value;
        value.name = name;
        value.type = type;
        if (dataSize) value.data.assign(data, data + dataSize);
        std::string folded = Fold(name);
        auto existing = k->values.find(folded);
        if (existing != k->values.end() && existing->second.type == value.type &&
            existing->second.data == value.data && existing->second.name == value.name)
            return ERROR_SUCCESS; // the same value again: nothing to write
        k->values[folded] = std::move(value);
        outcome = Outcome::Changed;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueA(HKEY key, const char* valueName) {
    Location where;
    if (!Resolve(key, &where)) return ERROR_INVALID_HANDLE;
    if (!(where.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return Store::Instance().Modify([&](Tree& tree, Outcome& outcome) -> LONG {
        Key* k = Find(tree, where.root, where.path);
        if (!k) return MissingBase(where);
        if (!k->values.erase(Fold(NameOf(valueName)))) return ERROR_FILE_NOT_FOUND;
        outcome = Outcome::Changed;
        return ERROR_SUCCESS;
    });
}

namespace {

// Removes the key at where.path + names; withSubkeys allows a whole tree.
LONG DeleteKey(HKEY key, const char* subKey, bool withSubkeys) {
    Location where;
    if (!Resolve(key, &where)) return ERROR_INVALID_HANDLE;
    std::vector<std::string> names = SplitPath(subKey);
    where.path.insert(where.path.end(), names.begin(), names.end());
    if (where.path.empty()) return ERROR_ACCESS_DENIED; // a root stays
    return Store::Instance().Modify([&](Tree& tree, Outcome& outcome) -> LONG {
        std::vector<std::string> parentPath(where.path.begin(), where.path.end() - 1);
        Key* parent = Find(tree, where.root, parentPath);
        if (!parent) return ERROR_FILE_NOT_FOUND;
        auto it = parent->subkeys.find(Fold(where.path.back()));
        if (it == parent->subkeys.end()) return ERROR_FILE_NOT_FOUND;
        if (!withSubkeys && !it->second->subkeys.empty()) return ERROR_ACCESS_DENIED;
        parent->subkeys.erase(it);
        outcome = Outcome::Changed;
        return ERROR_SUCCESS;
    });
}

} // namespace

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
    if (!subKey) return ERROR_INVALID_PARAMETER;
    return DeleteKey(key, subKey, false);
}

LONG RegDeleteTreeA(HKEY key, const char* subKey) {
    if (subKey && *subKey) return DeleteKey(key, subKey, true);
    // No subkey: empty the key itself, which stays.
    Location where;
    if (!Resolve(key, &where)) return ERROR_INVALID_HANDLE;
    return Store::Instance().Modify([&](Tree& tree, Outcome& outcome) -> LONG {
        Key* k = Find(tree, where.root, where.path);
        if (!k) return MissingBase(where);
        if (!k->values.empty() || !k->subkeys.empty()) outcome = Outcome::Changed;
        k->values.clear();
        k->subkeys.clear();
        return ERROR_SUCCESS;
    });
}

LONG RegCloseKey(HKEY key) {
    auto value = reinterpret_cast<std::uintptr_t>(key);
    if (value >= 0x80000000u && value < 0x80000000u + platform::registry::kRootCount) return ERROR_SUCCESS;
    {
        std::lock_guard lock(handlesMutex);
        if (!liveHandles.erase(key)) return ERROR_INVALID_HANDLE;
    }
    delete key;
    return ERROR_SUCCESS;
}
