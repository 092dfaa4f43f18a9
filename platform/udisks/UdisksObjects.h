// What udisks2 tells about its objects (the answer of the object manager's
// GetManagedObjects), read into plain records: its block devices with their
// drives, and from those the list of removable volumes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <QDBusMessage>

#include "platform/device_broker.h"

namespace platform::udisks {

struct BlockObject {
    std::string path;           // the object path, ".../block_devices/sdb1"
    std::string device;         // "/dev/sdb1"
    std::uint64_t size = 0;
    std::string drive;          // the drive's object path, "/" for none
    bool system = false;        // HintSystem
    bool readOnly = false;
    bool encryptedBacking = false; // an unlocked encrypted volume, not a card
    bool isPartition = false;
    int number = 0;             // partition number
    std::string table;          // a partition's whole device
    bool mounted = false;       // a file system of this block is mounted
};

struct DriveObject {
    bool removable = false;     // Removable or MediaRemovable
    bool optical = false;
};

struct Objects {
    std::map<std::string, BlockObject> blocks; // by object path
    std::map<std::string, DriveObject> drives;
};

// Reads a GetManagedObjects reply; false when it is not one.
bool ReadManagedObjects(const QDBusMessage& reply, Objects* objects);

// The removable volumes in kernel-name order: one per partition, or the
// whole device when it has none. System devices, devices without a drive
// (loop devices) and unlocked encrypted volumes are left out; optical
// drives are CD-ROM drives.
std::vector<BrokeredDevice> RemovableVolumes(const Objects& objects);

// Whether a block or, for a whole device, any of its partitions is mounted.
bool InUse(const Objects& objects, const std::string& blockPath);

} // namespace platform::udisks
