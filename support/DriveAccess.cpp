#include "support/DriveAccess.h"

#include "platform/drives.h"
#include "platform/fileapi.h"

#include <vector>

namespace support {

std::string DriveOpenProblem(char letter, DWORD error) {
    const std::string name = std::string(1, letter) + ":";
    platform::DriveInfo info;
    const bool known = platform::FindDrive(letter, &info);
    switch (error) {
    case ERROR_ACCESS_DENIED:
        if (!known) break;
        if (info.kind == platform::DriveKind::Fixed) return name + " is a fixed drive and is never written to";
        if (info.throughBroker || info.attachedImage) return "access to " + info.source + " was refused";
        return "access to " + info.source + " was refused: only root and the group disk may open it here, and no "
               "udisks2 service answered that could ask for your password";
    case ERROR_SHARING_VIOLATION:
        if (known && info.attachedImage) {
            std::vector<std::string> loops = platform::LoopDevicesUsing(info.source);
            if (!loops.empty())
                return name + " is in use: its image " + info.source + " backs " + loops.front() +
                       "; unmount that and detach it first (losetup -d " + loops.front() + ")";
        }
        return name + " is in use (its file system is mounted); unmount it first";
    case ERROR_WRITE_PROTECT: return name + " is write-protected";
    case ERROR_NOT_READY: return name + " has no media";
    case ERROR_FILE_NOT_FOUND:
        if (known) return info.source + " is not there any more";
        break;
    default: break;
    }
    if (!known) return "there is no drive " + name;
    return name + " cannot be opened (error " + std::to_string(error) + ")";
}

std::string DriveAccessProblem(char letter, bool forWrite) {
    const std::string path = std::string("\\\\.\\") + letter + ":";
    // The tools' own opens: shared reading, or exclusive writing.
    HANDLE probe = forWrite ? CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM,
                                          nullptr)
                            : CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return DriveOpenProblem(letter, GetLastError());
    CloseHandle(probe);
    return {};
}

} // namespace support
