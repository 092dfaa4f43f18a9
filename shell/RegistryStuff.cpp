#include "shell/RegistryStuff.h"

#include <cstdint>
#include <vector>

#include "platform/littleendian.h"
#include "platform/ui.h"

namespace shell {

namespace {

constexpr DWORD kStringBufferBytes = 255;
constexpr DWORD kDwordBytes = 4;
constexpr DWORD kRegExpandSz = 2;

HKEY g_lastKey = nullptr;
LONG g_lastStatus = ERROR_SUCCESS;

HKEY PredefinedKey(std::uint32_t value) {
    return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(value));
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

// Opens keyPath with the given access; null when the path is malformed or
// the key cannot be opened. g_lastStatus says why.
HKEY OpenKeyPath(const std::string& keyPath, REGSAM access) {
    std::string subKey = keyPath;
    HKEY root = nullptr;
    ParseKeyPath(subKey, root);
    if (!root) {
        g_lastStatus = ERROR_BADKEY;
        return nullptr;
    }
    HKEY key = nullptr;
    g_lastStatus = RegOpenKeyExA(root, subKey.c_str(), 0, access, &key);
    if (g_lastStatus != ERROR_SUCCESS) return nullptr;
    g_lastKey = key;
    return key;
}

void CloseKey(HKEY key) {
    const LONG status = RegCloseKey(key);
    if (g_lastStatus == ERROR_SUCCESS) g_lastStatus = status;
}

} // namespace

HKEY RootKeyFromName(const std::string& rootName) {
    if (rootName == "HKEY_CLASSES_ROOT") return PredefinedKey(0x80000000u);
    if (rootName == "HKEY_CURRENT_USER") return PredefinedKey(0x80000001u);
    if (rootName == "HKEY_LOCAL_MACHINE") return PredefinedKey(0x80000002u);
    if (rootName == "HKEY_USERS") return PredefinedKey(0x80000003u);
    if (rootName == "HKEY_PERFORMANCE_DATA") return PredefinedKey(0x80000004u);
    if (rootName == "HKEY_CURRENT_CONFIG") return PredefinedKey(0x80000005u);
    if (rootName == "HKEY_DYN_DATA") return PredefinedKey(0x80000006u);
    return nullptr;
}

void ParseKeyPath(std::string& keyPath, HKEY& rootKey) {
    rootKey = nullptr;
    if (keyPath.compare(0, 5, "HKEY_") != 0 || keyPath.back() == '\\') {
        platform::MsgBox("Incorrect Format:\n\n" + keyPath, platform::vbOKOnly);
        return;
    }
    const auto separator = keyPath.find('\\');
    if (separator == std::string::npos) {
        rootKey = RootKeyFromName(keyPath);
        keyPath.clear();
        return;
    }
    rootKey = RootKeyFromName(keyPath.substr(0, separator));
    keyPath = keyPath.substr(separator + 1);
}

RegValue RegQueryValue(HKEY key, const std::string& valueName, DWORD maxBytes) {
    RegValue value;
    std::vector<BYTE> buffer(maxBytes > 0 ? maxBytes : 1);
    DWORD size = maxBytes;
    DWORD type = REG_NONE;
    value.status = RegQueryValueExA(key, valueName.c_str(), nullptr, &type, buffer.data(), &size);
    if (value.status == ERROR_MORE_DATA && type != REG_DWORD) {
        // Longer than the buffer: read it whole, then keep the first maxBytes.
        buffer.resize(size);
        value.status = RegQueryValueExA(key, valueName.c_str(), nullptr, &type, buffer.data(), &size);
        if (size > maxBytes) size = maxBytes;
    }
    g_lastStatus = value.status;
    if (value.status != ERROR_SUCCESS) return value;
    value.type = type;
    if (type == REG_SZ || type == kRegExpandSz) {
        value.text.assign(reinterpret_cast<const char*>(buffer.data()), size);
    } else if (type == REG_DWORD && size == kDwordBytes) {
        value.number = platform::ReadLe32(buffer, 0);
    } else {
        value.status = -1;
    }
    return value;
}

std::string RegGetString(const std::string& keyPath, const std::string& valueName) {
    HKEY key = OpenKeyPath(keyPath, KEY_READ);
    if (!key) return RegistryError;
    RegValue value = RegQueryValue(key, valueName, kStringBufferBytes);
    CloseKey(key);
    if (value.status != ERROR_SUCCESS || value.type == REG_DWORD) return RegistryError;
    // Values written with their terminating NUL end there; values written
    // without one keep every character.
    const auto nul = value.text.find('\0');
    if (nul != std::string::npos) value.text.resize(nul);
    return Trim(value.text);
}

std::optional<DWORD> RegGetDword(const std::string& keyPath, const std::string& valueName) {
    HKEY key = OpenKeyPath(keyPath, KEY_READ);
    if (!key) return std::nullopt;
    RegValue value = RegQueryValue(key, valueName, kDwordBytes);
    CloseKey(key);
    if (value.status != ERROR_SUCCESS || value.type != REG_DWORD) return std::nullopt;
    return value.number;
}

LONG RegSetString(const std::string& keyPath, const std::string& valueName, const std::string& data) {
    HKEY key = OpenKeyPath(keyPath, KEY_WRITE);
    if (!key) return g_lastStatus;
    g_lastStatus = RegSetValueExA(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                  static_cast<DWORD>(data.size() + 1));
    CloseKey(key);
    return g_lastStatus;
}

LONG LastRegistryStatus() { return g_lastStatus; }
HKEY LastOpenedKey() { return g_lastKey; }

} // namespace shell
