// What the file API needs from the drive namespace: the volume behind a
// letter and the parsing of "\\.\X:" and "X:\" names.
#pragma once

#include <memory>
#include <string>

#include "platform/drives.h"

namespace platform::detail {

struct Volume {
    DriveInfo info;
    // Null when the drive has no raw device here (the root file system of a
    // container): such a volume cannot be opened.
    std::shared_ptr<VolumeBackend> backend;
    // A whole device or caller-made volume: its length is the backend's
    // live size (media can change); an image partition has a fixed window.
    bool followsBackendSize = false;
    std::string key; // identity for letter keeping and share modes
};

// The volume behind a letter, with its length brought up to date.
bool FindVolume(char letter, Volume* volume);

// Where the removable-device scan looks (tests give a made-up sysfs tree);
// empty strings restore /sys/block and /dev.
void SetDeviceScanFolders(const std::string& sysBlock, const std::string& devFolder);

// "\\.\X:" (either slash, either case) → 'X'.
bool ParseVolumePath(const char* path, char* letter);
// Any "\\.\..." device name (valid volume or not).
bool IsDeviceNamespacePath(const char* path);
// "X:", "X:\" or "X:/" → 'X'.
bool ParseDriveRoot(const char* path, char* letter);

} // namespace platform::detail
