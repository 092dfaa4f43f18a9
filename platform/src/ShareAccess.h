// Windows share modes within this process: an open that asks for reading or
// writing must be allowed by the share modes of the handles already open on
// the same file or volume, and must itself share what they use. Opens
// without data access (the geometry query) take part in no check.
#pragma once

#include <memory>
#include <string>

#include "platform/wintypes.h"

namespace platform::detail {

class ShareClaim {
public:
    ShareClaim(std::string key, bool read, bool write, DWORD shareMode);
    ~ShareClaim();
    ShareClaim(const ShareClaim&) = delete;
    ShareClaim& operator=(const ShareClaim&) = delete;

private:
    std::string key_;
    bool read_;
    bool write_;
    DWORD shareMode_;
};

// Claims access to the object named by key: false with
// ERROR_SHARING_VIOLATION when an open handle conflicts. *claim stays null for
// an open without data access; the claim ends when *claim is destroyed.
bool ClaimShareAccess(const std::string& key, bool read, bool write, DWORD shareMode,
                      std::unique_ptr<ShareClaim>* claim);

} // namespace platform::detail
