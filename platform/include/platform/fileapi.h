// The Win32 file and volume calls that the program uses, over Linux files,
// block devices and attached image files. A path of the form "\\.\X:" opens
// the volume behind drive letter X (see drives.h); any other path is a file.
#pragma once

#include "platform/wintypes.h"

// CreateFileA access, share and disposition values.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 1;
constexpr DWORD FILE_SHARE_WRITE = 2;
constexpr DWORD FILE_SHARE_DELETE = 4;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 4;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

// SetFilePointer origins.
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;

// OpenFile styles.
constexpr UINT OF_READ = 0;
constexpr UINT OF_WRITE = 1;
constexpr UINT OF_READWRITE = 2;
constexpr UINT OF_SHARE_EXCLUSIVE = 0x10;
constexpr UINT OF_EXIST = 0x4000;

constexpr int OFS_MAXPATHNAME = 128;
struct OFSTRUCT {
    BYTE cBytes;
    BYTE fFixedDisk;
    WORD nErrCode;
    WORD Reserved1;
    WORD Reserved2;
    char szPathName[OFS_MAXPATHNAME];
};

// Drive types (GetDriveTypeA).
constexpr UINT DRIVE_UNKNOWN = 0;
constexpr UINT DRIVE_NO_ROOT_DIR = 1;
constexpr UINT DRIVE_REMOVABLE = 2;
constexpr UINT DRIVE_FIXED = 3;
constexpr UINT DRIVE_REMOTE = 4;
constexpr UINT DRIVE_CDROM = 5;
constexpr UINT DRIVE_RAMDISK = 6;

// DeviceIoControl.
constexpr DWORD IOCTL_DISK_GET_DRIVE_GEOMETRY = 0x70000;

enum MEDIA_TYPE : DWORD {
    Unknown = 0,
    F5_1Pt2_512 = 1,
    F3_1Pt44_512 = 2,
    RemovableMedia = 11,
    FixedMedia = 12,
};

struct DISK_GEOMETRY {
    LARGE_INTEGER Cylinders;
    MEDIA_TYPE MediaType;
    DWORD TracksPerCylinder;
    DWORD SectorsPerTrack;
    DWORD BytesPerSector;
};
static_assert(sizeof(DISK_GEOMETRY) == 24, "DISK_GEOMETRY is 24 bytes, as on Windows");

// Opens a file or a volume. Volumes: for reading shared; with GENERIC_WRITE
// exclusive, refused (ERROR_ACCESS_DENIED) for C: and fixed disks and
// (ERROR_SHARING_VIOLATION) for a mounted block device. Files: the usual
// dispositions. INVALID_HANDLE_VALUE on failure, with GetLastError set.
HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);

// The 16-bit era call: OF_READ opens for reading. HFILE_ERROR on failure, with
// the error number in ofs->nErrCode. A successful result converts to a HANDLE
// with HandleFromHfile.
HFILE OpenFile(const char* fileName, OFSTRUCT* ofs, UINT style);
inline HANDLE HandleFromHfile(HFILE f) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(f)); }

// Moves the position; distanceHigh may be null (then the distance is the
// signed 32-bit low half). Returns the new low half, or 0xFFFFFFFF on failure
// (GetLastError tells failure from a position whose low half is 0xFFFFFFFF).
DWORD SetFilePointer(HANDLE file, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod);
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, void* overlapped);
BOOL CloseHandle(HANDLE object);
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, void* inBuffer, DWORD inSize, void* outBuffer,
                     DWORD outSize, DWORD* bytesReturned, void* overlapped);

DWORD GetLastError();
void SetLastError(DWORD error);

// "X:\" roots.
UINT GetDriveTypeA(const char* rootPathName);
// Fills buffer with "C:\", NUL, "D:\", NUL, ..., NUL; returns the length
// without the final NUL, or the size needed when the buffer is too small.
DWORD GetLogicalDriveStringsA(DWORD bufferLength, char* buffer);
// For a drive root "X:\": the volume's size (all free as far as we know).
// For a folder: its file system's free and total space.
BOOL GetDiskFreeSpaceExA(const char* directoryName, ULARGE_INTEGER* freeBytesAvailableToCaller,
                         ULARGE_INTEGER* totalNumberOfBytes, ULARGE_INTEGER* totalNumberOfFreeBytes);
