// Whether writing into a folder could write onto the drive being read: the
// folder's file system may lie on the card itself, on one of its partitions,
// on a device mapped over it, or inside a loop device whose backing file is
// the image being read. Recovered files written there would overwrite the
// deleted files still to be recovered.
#pragma once

#include <string>
#include <sys/types.h>

namespace engine {

// What is being read: a block device (its device number) or an image file
// (the device and inode that hold it).
struct ReadSource {
    bool blockDevice = false;
    dev_t device = 0; // block device: its number; file: the file system's
    ino_t inode = 0;  // file only
};

// The source at path; false when it cannot be looked at.
bool DescribeSource(const std::string& path, ReadSource& source);

// True when a file system whose device number is fileSystem stores its
// bytes on source, as far as sysfs (rooted at sysfs, normally "/sys") shows:
// the same disk (a partition of it, or the disk of a partition), a device
// mapped over it, or a loop device backed by it.
bool StoredOn(dev_t fileSystem, const ReadSource& source, const std::string& sysfs = "/sys");

// The folder (or its nearest existing parent) lies on the drive read from
// sourcePath. False when either cannot be looked at.
bool FolderOnSource(const std::string& folder, const std::string& sourcePath);

} // namespace engine
