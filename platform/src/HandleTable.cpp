#include "platform/src/HandleTable.h"

#include <climits>
#include <mutex>
#include <unordered_map>

#include "platform/fileapi.h"

namespace platform::detail {

namespace {

struct Table {
    std::mutex mutex;
    std::unordered_map<std::intptr_t, std::shared_ptr<KernelObject>> objects;
    // Values step by 4 as on Windows and are not reused soon after a close,
    // so that a stale handle is far more likely to fail than to hit another
    // object. HFILE is an int, so values stay below INT_MAX.
    std::intptr_t next = 4;
};

Table& TheTable() {
    static Table table;
    return table;
}

} // namespace

BOOL KernelObject::Control(DWORD, void*, DWORD, void*, DWORD, DWORD*) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

HANDLE RegisterObject(std::shared_ptr<KernelObject> object) {
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    constexpr std::intptr_t limit = (INT_MAX / 4) * 4;
    for (std::intptr_t tries = 0; tries < limit / 4; ++tries) {
        std::intptr_t value = table.next;
        table.next = value + 4 >= limit ? 4 : value + 4;
        if (table.objects.find(value) == table.objects.end()) {
            table.objects.emplace(value, std::move(object));
            return reinterpret_cast<HANDLE>(value);
        }
    }
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
}

std::shared_ptr<KernelObject> LookupObject(HANDLE handle) {
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    auto found = table.objects.find(reinterpret_cast<std::intptr_t>(handle));
    return found == table.objects.end() ? nullptr : found->second;
}

bool UnregisterObject(HANDLE handle) {
    std::shared_ptr<KernelObject> closing;
    Table& table = TheTable();
    {
        std::lock_guard lock(table.mutex);
        auto found = table.objects.find(reinterpret_cast<std::intptr_t>(handle));
        if (found == table.objects.end()) return false;
        closing = std::move(found->second);
        table.objects.erase(found);
    }
    // The object is destroyed here, outside the lock, unless a call on
    // another thread still holds it.
    return true;
}

std::size_t OpenHandleCount() {
    Table& table = TheTable();
    std::lock_guard lock(table.mutex);
    return table.objects.size();
}

} // namespace platform::detail
