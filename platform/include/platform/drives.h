// The drive-letter namespace behind "\\.\X:". C: is the root file system;
// removable block devices and attached image files get letters from D: on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/wintypes.h"

namespace platform {

// Where a volume's bytes live. Attached images and block devices have their
// own backends; tests can supply one (for example one whose reads fail at a
// chosen sector) through AttachVolume.
class VolumeBackend {
public:
    virtual ~VolumeBackend() = default;
    virtual std::uint64_t Size() const = 0;
    virtual std::uint32_t BytesPerSector() const = 0;
    // Reads up to count bytes at offset; returns the bytes read, or -1 with
    // errno-style failure mapped to a Win32 error in *error.
    virtual std::int64_t Read(std::uint64_t offset, void* buffer, std::uint32_t count, DWORD* error) = 0;
    virtual std::int64_t Write(std::uint64_t offset, const void* buffer, std::uint32_t count, DWORD* error) = 0;
    // Opens the backend for writing exclusively; false with *error when the
    // volume is in use (mounted) or read-only.
    virtual bool BeginWrite(DWORD* error) = 0;
    virtual void EndWrite() = 0;
    // Called when a handle that reads opens and when it closes, so that a
    // device can be opened only while someone uses it (a card may be swapped
    // between scans). Calls nest; the default needs nothing.
    virtual bool BeginRead(DWORD* error) {
        (void)error;
        return true;
    }
    virtual void EndRead() {}
};

enum class DriveKind { Fixed, Removable, CdRom };

struct DriveInfo {
    char letter = 0;             // 'C', 'D', ...
    DriveKind kind = DriveKind::Fixed;
    std::string source;          // the device or image file behind it
    std::uint64_t offset = 0;    // start of the volume within the source
    std::uint64_t length = 0;    // the volume's size in bytes
    bool attachedImage = false;
    bool hasMedia = true;
    int partition = 0;           // MBR partition number (1-4) in the source, 0 for the whole source
    bool throughBroker = false;  // listed by the device broker, which opens it when the user may not
};

// Attaches an image file: one drive per MBR partition, or one drive for a
// bare volume. Returns the letters given, or an empty list with *error set.
std::vector<char> AttachImage(const std::string& path, std::string* error);
// Takes every "--attach PATH" and "--attach=PATH" out of args (up to a "--")
// and attaches the images in order; false with *error at the first that
// cannot be attached or lacks its path. For the front ends' command lines.
bool AttachFromArguments(std::vector<std::string>& args, std::string* error);
// Attaches every path of TRANQUO_ATTACH (separated by ':'), once per process.
void AttachFromEnvironment();
// Attaches a caller-made volume as a removable drive; returns its letter.
char AttachVolume(std::shared_ptr<VolumeBackend> backend, const std::string& description);
// Forgets attached images and volumes and rescans devices (tests). The next
// use of the namespace reads TRANQUO_ATTACH again.
void ResetDrives();

// The loop devices ("/dev/loop3") backed by the file at path, compared by
// device and inode; writing to such an image is refused as for a mounted
// card.
std::vector<std::string> LoopDevicesUsing(const std::string& path);

// Every drive in letter order; rescans the removable devices first, so that
// a card inserted since the last call appears. Drives keep their letters
// while they are present.
std::vector<DriveInfo> ListDrives();
// The drive behind a letter (either case), without a rescan.
bool FindDrive(char letter, DriveInfo* info);

} // namespace platform
