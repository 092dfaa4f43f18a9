// CreateFileA, OpenFile and the calls on their handles.
#include "platform/fileapi.h"

#include <cstring>
#include <limits>

#include "platform/src/DriveNamespace.h"
#include "platform/src/FileHandle.h"
#include "platform/src/HandleTable.h"
#include "platform/src/VolumeHandle.h"

using platform::detail::KernelObject;

namespace {

std::shared_ptr<KernelObject> OpenObject(const char* fileName, DWORD access, DWORD shareMode, DWORD disposition) {
    if (!fileName || !*fileName) {
        SetLastError(!fileName ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    char letter = 0;
    if (platform::detail::ParseVolumePath(fileName, &letter)) {
        if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        return platform::detail::OpenVolumeObject(letter, access, shareMode);
    }
    if (platform::detail::IsDeviceNamespacePath(fileName)) {
        // "\\.\PhysicalDrive0" and the like: no such device here, and never
        // a file of that odd name in the current folder.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return platform::detail::OpenFileObject(fileName, access, shareMode, disposition);
}

std::shared_ptr<KernelObject> ObjectOf(HANDLE handle) {
    auto object = platform::detail::LookupObject(handle);
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

void FillOfstruct(OFSTRUCT* ofs, const char* fileName, DWORD error) {
    if (!ofs) return;
    std::memset(ofs, 0, sizeof *ofs);
    ofs->cBytes = static_cast<BYTE>(sizeof *ofs);
    ofs->nErrCode = static_cast<WORD>(error);
    char letter = 0;
    ofs->fFixedDisk = 1;
    if (platform::detail::ParseVolumePath(fileName, &letter)) {
        platform::DriveInfo info;
        ofs->fFixedDisk = platform::FindDrive(letter, &info) && info.kind == platform::DriveKind::Fixed ? 1 : 0;
    }
    if (fileName) {
        std::strncpy(ofs->szPathName, fileName, OFS_MAXPATHNAME - 1);
        ofs->szPathName[OFS_MAXPATHNAME - 1] = '\0';
    }
}

} // namespace

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void*, DWORD creationDisposition,
                   DWORD, HANDLE) {
    auto object = OpenObject(fileName, desiredAccess, shareMode, creationDisposition);
    if (!object) return INVALID_HANDLE_VALUE;
    DWORD error = GetLastError(); // ERROR_ALREADY_EXISTS survives registration
    HANDLE handle = platform::detail::RegisterObject(std::move(object));
    if (handle != INVALID_HANDLE_VALUE) SetLastError(error);
    return handle;
}

HFILE OpenFile(const char* fileName, OFSTRUCT* ofs, UINT style) {
    DWORD access = 0;
    switch (style & 0x3) {
    case OF_WRITE: access = GENERIC_WRITE; break;
    case OF_READWRITE: access = GENERIC_READ | GENERIC_WRITE; break;
    default: access = GENERIC_READ; break;
    }
    // The old compatibility mode shares everything; OF_SHARE_EXCLUSIVE shares nothing.
    DWORD share = (style & 0x70) == OF_SHARE_EXCLUSIVE ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
    auto object = OpenObject(fileName, access, share, OPEN_EXISTING);
    if (!object) {
        FillOfstruct(ofs, fileName, GetLastError());
        return HFILE_ERROR;
    }
    FillOfstruct(ofs, fileName, ERROR_SUCCESS);
    if (style & OF_EXIST) {
        object.reset();
        SetLastError(ERROR_SUCCESS);
        return 1; // the file is there; nothing stays open
    }
    HANDLE handle = platform::detail::RegisterObject(std::move(object));
    if (handle == INVALID_HANDLE_VALUE) {
        FillOfstruct(ofs, fileName, GetLastError());
        return HFILE_ERROR;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<HFILE>(reinterpret_cast<std::intptr_t>(handle));
}

DWORD SetFilePointer(HANDLE file, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod) {
    auto object = ObjectOf(file);
    if (!object) return INVALID_SET_FILE_POINTER;
    LONGLONG distance = distanceHigh
                            ? static_cast<LONGLONG>((static_cast<ULONGLONG>(static_cast<DWORD>(*distanceHigh)) << 32) |
                                                    static_cast<DWORD>(distanceLow))
                            : static_cast<LONGLONG>(distanceLow);
    LONGLONG origin = 0;
    switch (moveMethod) {
    case FILE_BEGIN: origin = 0; break;
    case FILE_CURRENT: origin = static_cast<LONGLONG>(object->position); break;
    case FILE_END: {
        std::uint64_t size = 0;
        DWORD error = 0;
        if (!object->Size(&size, &error)) {
            SetLastError(error);
            return INVALID_SET_FILE_POINTER;
        }
        origin = static_cast<LONGLONG>(size);
        break;
    }
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if ((distance > 0 && origin > std::numeric_limits<LONGLONG>::max() - distance) || origin + distance < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    LONGLONG target = origin + distance;
    if (!distanceHigh && target > 0xFFFFFFFFLL) {
        // Without the high half the caller cannot be told the position.
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    object->position = static_cast<std::uint64_t>(target);
    if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<ULONGLONG>(target) >> 32);
    SetLastError(ERROR_SUCCESS); // tells a real low half of 0xFFFFFFFF from a failure
    return static_cast<DWORD>(static_cast<ULONGLONG>(target) & 0xFFFFFFFFu);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void*) {
    if (bytesRead) *bytesRead = 0;
    auto object = ObjectOf(file);
    if (!object) return FALSE;
    if (!buffer && bytesToRead) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD done = 0;
    if (!object->Read(buffer, bytesToRead, &done)) return FALSE;
    if (bytesRead) *bytesRead = done;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, void*) {
    if (bytesWritten) *bytesWritten = 0;
    auto object = ObjectOf(file);
    if (!object) return FALSE;
    if (!buffer && bytesToWrite) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD done = 0;
    if (!object->Write(buffer, bytesToWrite, &done)) return FALSE;
    if (bytesWritten) *bytesWritten = done;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    if (!platform::detail::UnregisterObject(object)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, void* inBuffer, DWORD inSize, void* outBuffer, DWORD outSize,
                     DWORD* bytesReturned, void*) {
    if (bytesReturned) *bytesReturned = 0;
    auto object = ObjectOf(device);
    if (!object) return FALSE;
    return object->Control(ioControlCode, inBuffer, inSize, outBuffer, outSize, bytesReturned);
}
