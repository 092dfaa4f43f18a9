// GetDriveTypeA, GetLogicalDriveStringsA and GetDiskFreeSpaceExA over the
// drive namespace.
#include <cerrno>
#include <filesystem>
#include <string>
#include <sys/statvfs.h>

#include "platform/fileapi.h"
#include "platform/src/DriveNamespace.h"
#include "platform/src/Win32Error.h"

namespace {

UINT DriveTypeOf(platform::DriveKind kind) {
    switch (kind) {
    case platform::DriveKind::Fixed: return DRIVE_FIXED;
    case platform::DriveKind::Removable: return DRIVE_REMOVABLE;
    case platform::DriveKind::CdRom: return DRIVE_CDROM;
    }
    return DRIVE_UNKNOWN;
}

void Store(ULARGE_INTEGER* target, ULONGLONG value) {
    if (target) target->QuadPart = value;
}

// A folder that does not exist yet (a destination about to be made) is
// measured on the nearest folder above it that does.
bool StatFolder(const std::string& path, struct statvfs* info) {
    std::filesystem::path current = path;
    for (int depth = 0; depth < 256 && !current.empty(); ++depth) {
        if (::statvfs(current.c_str(), info) == 0) return true;
        if (errno != ENOENT && errno != ENOTDIR) return false;
        std::filesystem::path parent = current.parent_path();
        if (parent == current) break;
        current = parent;
    }
    errno = ENOENT;
    return false;
}

} // namespace

UINT GetDriveTypeA(const char* rootPathName) {
    if (!rootPathName) return DRIVE_FIXED; // the current folder's drive: the root file system
    char letter = 0;
    if (!platform::detail::ParseDriveRoot(rootPathName, &letter)) {
        return rootPathName[0] == '/' ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
    }
    platform::DriveInfo info;
    if (!platform::FindDrive(letter, &info)) return DRIVE_NO_ROOT_DIR;
    return DriveTypeOf(info.kind);
}

DWORD GetLogicalDriveStringsA(DWORD bufferLength, char* buffer) {
    std::string list;
    for (const auto& drive : platform::ListDrives()) {
        list += drive.letter;
        list += ":\\";
        list += '\0';
    }
    DWORD length = static_cast<DWORD>(list.size()); // without the final NUL
    if (!buffer || bufferLength < length + 1) return length + 1;
    list.copy(buffer, list.size());
    buffer[length] = '\0';
    return length;
}

BOOL GetDiskFreeSpaceExA(const char* directoryName, ULARGE_INTEGER* freeBytesAvailableToCaller,
                         ULARGE_INTEGER* totalNumberOfBytes, ULARGE_INTEGER* totalNumberOfFreeBytes) {
    std::string folder = directoryName ? directoryName : ".";
    char letter = 0;
    if (platform::detail::ParseDriveRoot(folder.c_str(), &letter)) {
        platform::detail::Volume volume;
        if (!platform::detail::FindVolume(letter, &volume)) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return FALSE;
        }
        if (volume.key != "root") {
            // A card's file system is not mounted for us: all of it counts as
            // its size, and nothing more is known about what is free.
            ULONGLONG size = volume.info.hasMedia ? volume.info.length : 0;
            Store(freeBytesAvailableToCaller, size);
            Store(totalNumberOfBytes, size);
            Store(totalNumberOfFreeBytes, size);
            SetLastError(ERROR_SUCCESS);
            return TRUE;
        }
        folder.assign(1, '/'); // the root file system
    }
    struct statvfs info {};
    if (!StatFolder(folder, &info)) {
        SetLastError(platform::detail::Win32ErrorFromErrno(errno));
        return FALSE;
    }
    ULONGLONG unit = info.f_frsize ? info.f_frsize : info.f_bsize;
    Store(freeBytesAvailableToCaller, static_cast<ULONGLONG>(info.f_bavail) * unit);
    Store(totalNumberOfBytes, static_cast<ULONGLONG>(info.f_blocks) * unit);
    Store(totalNumberOfFreeBytes, static_cast<ULONGLONG>(info.f_bfree) * unit);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
