// Linux block devices as volumes: the scan of /sys/block for removable
// devices (one volume per partition, or the whole device when it has none)
// and the backend that reads and writes a device node.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/drives.h"

namespace platform::detail {

struct DeviceVolume {
    std::string name;          // the kernel's name, "sdb1", "mmcblk0p1", "sr0"
    std::string devicePath;    // "/dev/sdb1"
    std::string sysfsPath;     // its folder below /sys/block
    DriveKind kind = DriveKind::Removable;
    int partition = 0;         // partition number, 0 for a whole device
    // Set when a device broker listed the device: its name for it, and the
    // size it gave (used when sysfs does not know the device).
    std::string brokerId;
    std::uint64_t listedSize = 0;
};

// The removable devices (the sysfs removable flag, a USB or MMC transport,
// or an optical drive), in the sorted order of their kernel names, each
// device's partitions in partition-number order. Loop, RAM and
// device-mapper devices are never removable drives.
std::vector<DeviceVolume> ScanRemovableDevices(const std::string& sysBlock = "/sys/block",
                                               const std::string& devFolder = "/dev");

// The block device that holds the root file system, if there is one (none
// in a container, whose root is an overlay).
std::optional<DeviceVolume> RootFileSystemDevice(const std::string& sysFolder = "/sys",
                                                 const std::string& devFolder = "/dev");

// The loop devices ("/dev/loop3") whose backing file is the file with this
// device and inode number: while one exists, the file is a disk in use.
std::vector<std::string> LoopDevicesBacking(std::uint64_t device, std::uint64_t inode,
                                            const std::string& sysBlock = "/sys/block",
                                            const std::string& devFolder = "/dev");

// The removable devices as the device broker lists them, in its order; false
// when there is no broker or it cannot be reached.
bool ScanBrokeredDevices(std::vector<DeviceVolume>* volumes);

// A device's size and logical sector size as sysfs tells them (no open).
std::uint64_t SysfsDeviceSize(const std::string& sysfsPath);
std::uint32_t SysfsSectorSize(const std::string& sysfsPath);

// Reads open the node read-only while a handle reads; writes open it
// O_EXCL, which the kernel refuses (EBUSY) while it is mounted. A device the
// broker listed is opened through the broker when the user may not open its
// node (or the node is not there): "r" for reading, "rw" exclusively for
// writing.
class BlockDevice : public VolumeBackend {
public:
    explicit BlockDevice(DeviceVolume volume);
    ~BlockDevice() override;

    std::uint64_t Size() const override;
    std::uint32_t BytesPerSector() const override;
    std::int64_t Read(std::uint64_t offset, void* buffer, std::uint32_t count, DWORD* error) override;
    std::int64_t Write(std::uint64_t offset, const void* buffer, std::uint32_t count, DWORD* error) override;
    bool BeginWrite(DWORD* error) override;
    void EndWrite() override;
    bool BeginRead(DWORD* error) override;
    void EndRead() override;

    const DeviceVolume& Volume() const { return volume_; }
    // A later listing's size for a brokered device.
    void SetListedSize(std::uint64_t size);

private:
    int OpenNode(int flags, DWORD* error);

    DeviceVolume volume_;
    mutable std::mutex mutex_;
    int readFd_ = -1;
    int readers_ = 0;
    int writeFd_ = -1;
    int writers_ = 0;
};

} // namespace platform::detail
