#include "platform/src/VolumeHandle.h"

#include <algorithm>
#include <cstring>

#include "platform/fileapi.h"
#include "platform/src/ShareAccess.h"
#include "platform/src/VolumeGeometry.h"

namespace platform::detail {

namespace {

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

class VolumeObject : public KernelObject {
public:
    VolumeObject(Volume volume, bool read, bool write) : volume_(std::move(volume)), read_(read), write_(write) {}

    ~VolumeObject() override {
        if (readStarted_) volume_.backend->EndRead();
        if (writeStarted_) volume_.backend->EndWrite();
    }

    bool Start(DWORD shareMode) {
        if (!ClaimShareAccess("volume:" + volume_.key, read_, write_, shareMode, &claim_)) return false;
        DWORD error = ERROR_SUCCESS;
        if (read_) {
            if (!volume_.backend->BeginRead(&error)) return StartFailed(error);
            readStarted_ = true;
        }
        if (write_) {
            if (!volume_.backend->BeginWrite(&error)) return StartFailed(error);
            writeStarted_ = true;
        }
        // A device opened just now reports its real size.
        if (volume_.followsBackendSize) volume_.info.length = volume_.backend->Size();
        return true;
    }

    BOOL Read(void* buffer, DWORD count, DWORD* done) override {
        if (!read_) return Fail(ERROR_ACCESS_DENIED);
        DWORD length = 0;
        if (!Window(count, &length)) return FALSE;
        DWORD error = ERROR_READ_FAULT;
        std::int64_t n = length ? volume_.backend->Read(volume_.info.offset + position, buffer, length, &error) : 0;
        if (n < 0) return Fail(error);
        position += static_cast<std::uint64_t>(n);
        *done = static_cast<DWORD>(n);
        return TRUE;
    }

    BOOL Write(const void* buffer, DWORD count, DWORD* done) override {
        if (!write_) return Fail(ERROR_ACCESS_DENIED);
        DWORD length = 0;
        if (!Window(count, &length)) return FALSE;
        DWORD error = ERROR_WRITE_FAULT;
        std::int64_t n = length ? volume_.backend->Write(volume_.info.offset + position, buffer, length, &error) : 0;
        if (n < 0) return Fail(error);
        position += static_cast<std::uint64_t>(n);
        *done = static_cast<DWORD>(n);
        return TRUE;
    }

    bool Size(std::uint64_t* size, DWORD*) override {
        *size = volume_.info.length;
        return true;
    }

    BOOL Control(DWORD code, void*, DWORD, void* outBuffer, DWORD outSize, DWORD* bytesReturned) override {
        if (code != IOCTL_DISK_GET_DRIVE_GEOMETRY) return Fail(ERROR_INVALID_FUNCTION);
        if (!outBuffer || outSize < sizeof(DISK_GEOMETRY)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        std::uint64_t length = volume_.followsBackendSize ? volume_.backend->Size() : volume_.info.length;
        if (length == 0) return Fail(ERROR_NOT_READY); // no media in the drive
        bool removable = volume_.info.kind != DriveKind::Fixed;
        DISK_GEOMETRY geometry = GeometryForVolume(length, volume_.backend->BytesPerSector(), removable);
        std::memcpy(outBuffer, &geometry, sizeof geometry);
        if (bytesReturned) *bytesReturned = sizeof geometry;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }

private:
    bool StartFailed(DWORD error) {
        SetLastError(error == ERROR_SUCCESS ? ERROR_ACCESS_DENIED : error);
        return false;
    }

    // How much of count fits between the position and the volume's end.
    bool Window(DWORD count, DWORD* length) {
        if (count == 0) {
            *length = 0;
            return true;
        }
        if (position >= volume_.info.length) {
            SetLastError(ERROR_SECTOR_NOT_FOUND);
            return false;
        }
        *length = static_cast<DWORD>(std::min<std::uint64_t>(count, volume_.info.length - position));
        return true;
    }

    Volume volume_;
    bool read_;
    bool write_;
    bool readStarted_ = false;
    bool writeStarted_ = false;
    std::unique_ptr<ShareClaim> claim_;
};

} // namespace

std::shared_ptr<KernelObject> OpenVolumeObject(char letter, DWORD access, DWORD shareMode) {
    Volume volume;
    if (!FindVolume(letter, &volume)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    bool read = (access & GENERIC_READ) != 0;
    bool write = (access & GENERIC_WRITE) != 0;
    if (write && volume.info.kind == DriveKind::Fixed) {
        SetLastError(ERROR_ACCESS_DENIED); // never the system disk or a fixed disk
        return nullptr;
    }
    if (write && volume.info.kind == DriveKind::CdRom) {
        SetLastError(ERROR_WRITE_PROTECT);
        return nullptr;
    }
    if (!volume.backend) {
        SetLastError(ERROR_NOT_SUPPORTED); // no raw device behind this drive here
        return nullptr;
    }
    auto object = std::make_shared<VolumeObject>(std::move(volume), read, write);
    if (!object->Start(shareMode)) return nullptr;
    SetLastError(ERROR_SUCCESS);
    return object;
}

} // namespace platform::detail
