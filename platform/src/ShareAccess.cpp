#include "platform/src/ShareAccess.h"

#include <map>
#include <mutex>

#include "platform/fileapi.h"

namespace platform::detail {

namespace {

struct Usage {
    int readers = 0;       // handles with read access
    int writers = 0;       // handles with write access
    int denyRead = 0;      // handles that do not share reading
    int denyWrite = 0;     // handles that do not share writing
};

// Both live until the process ends, never destroyed: handles still open at
// exit (a drive's cached handle) give up their claims from the handle
// table's own static destructor, which may run after ours would have.
std::mutex& TheMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::map<std::string, Usage>& TheUsages() {
    static auto* usages = new std::map<std::string, Usage>;
    return *usages;
}

bool Conflicts(const Usage& usage, bool read, bool write, DWORD shareMode) {
    if (read && usage.denyRead > 0) return true;
    if (write && usage.denyWrite > 0) return true;
    if (usage.readers > 0 && !(shareMode & FILE_SHARE_READ)) return true;
    if (usage.writers > 0 && !(shareMode & FILE_SHARE_WRITE)) return true;
    return false;
}

} // namespace

ShareClaim::ShareClaim(std::string key, bool read, bool write, DWORD shareMode)
    : key_(std::move(key)), read_(read), write_(write), shareMode_(shareMode) {}

ShareClaim::~ShareClaim() {
    std::lock_guard lock(TheMutex());
    auto& usages = TheUsages();
    auto found = usages.find(key_);
    if (found == usages.end()) return;
    Usage& usage = found->second;
    usage.readers -= read_ ? 1 : 0;
    usage.writers -= write_ ? 1 : 0;
    usage.denyRead -= (shareMode_ & FILE_SHARE_READ) ? 0 : 1;
    usage.denyWrite -= (shareMode_ & FILE_SHARE_WRITE) ? 0 : 1;
    if (usage.readers == 0 && usage.writers == 0 && usage.denyRead == 0 && usage.denyWrite == 0) usages.erase(found);
}

bool ClaimShareAccess(const std::string& key, bool read, bool write, DWORD shareMode,
                      std::unique_ptr<ShareClaim>* claim) {
    claim->reset();
    if (!read && !write) return true;
    std::lock_guard lock(TheMutex());
    auto& usages = TheUsages();
    auto found = usages.find(key);
    if (found != usages.end() && Conflicts(found->second, read, write, shareMode)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    }
    Usage& usage = usages[key];
    usage.readers += read ? 1 : 0;
    usage.writers += write ? 1 : 0;
    usage.denyRead += (shareMode & FILE_SHARE_READ) ? 0 : 1;
    usage.denyWrite += (shareMode & FILE_SHARE_WRITE) ? 0 : 1;
    *claim = std::make_unique<ShareClaim>(key, read, write, shareMode);
    return true;
}

} // namespace platform::detail
