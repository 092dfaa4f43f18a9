// A second way to the removable devices, beside the kernel's device list and
// the device nodes: a system service that lists the removable drives and
// opens them on behalf of a user who may not open the nodes himself (udisks2
// on a Linux desktop, after the desktop's password prompt). The drive
// namespace lists through the broker when one is set and reachable, and
// opens through it when the direct open of a node is not allowed; otherwise
// it keeps to its own scan and the direct open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/drives.h"
#include "platform/wintypes.h"

namespace platform {

struct BrokeredDevice {
    std::string id;          // the broker's name for the device
    std::string devicePath;  // "/dev/sdb1"
    DriveKind kind = DriveKind::Removable;
    int partition = 0;       // partition number, 0 for a whole device
    std::uint64_t size = 0;  // 0 when there is no media
};

enum class BrokerAccess { Read, ReadWrite };

class DeviceBroker {
public:
    virtual ~DeviceBroker() = default;
    // The removable drives (never a system device), as the kernel-name-ordered
    // list of volumes: one per partition, or the whole device when it has
    // none. False when the broker cannot be reached.
    virtual bool ListDevices(std::vector<BrokeredDevice>* devices) = 0;
    // An open descriptor of the device (ReadWrite opens it exclusively), which
    // the caller owns; or -1 with *error: ERROR_ACCESS_DENIED when the user's
    // access was refused, ERROR_SHARING_VIOLATION when a file system on it is
    // mounted, ERROR_WRITE_PROTECT when it is read-only, ERROR_FILE_NOT_FOUND
    // when it has gone. A refusal is remembered until the next ListDevices,
    // so that a run's many opens ask the user once.
    virtual int OpenDevice(const std::string& id, BrokerAccess access, DWORD* error) = 0;
};

// Sets the broker the drive namespace uses (null: none, the default).
void SetDeviceBroker(std::shared_ptr<DeviceBroker> broker);
std::shared_ptr<DeviceBroker> CurrentDeviceBroker();

} // namespace platform
