// Sector access to whole drives: one process-wide table of geometries and
// cached handles over the volume calls of the platform layer.
#include "engine/RawDevice.h"

#include <array>
#include <cstdio>
#include <limits>

#include "Typhex.h"
#include "engine/ErrorCodeText.h"
#include "platform/drives.h"
#include "platform/com.h"
#include "platform/fileapi.h"
#include "platform/ui.h"
#include "shell/frmPasser.h"
#include "support/ProgramFolder.h"
#include "support/RuntimeError.h"

namespace engine {

namespace {

constexpr const char* kSource = "RawDevice";

std::array<DriveEntry, 256>& DriveTable() {
    static std::array<DriveEntry, 256> table{};
    return table;
}

std::string& LastOpenErrorText() {
    static std::string text;
    return text;
}

// The media types of the geometry query, as the data model names them.
void FillGeometry(const DISK_GEOMETRY& g, DriveGeometry& geometry) {
    switch (g.MediaType) {
    case Unknown:
        geometry.MediaKind = 0;
        geometry.Removable = 0;
        break;
    case RemovableMedia:
        geometry.MediaKind = 2;
        geometry.Removable = 1;
        break;
    case FixedMedia:
        geometry.MediaKind = 3;
        geometry.Removable = 0;
        break;
    default:
        geometry.MediaKind = 1;
        geometry.Removable = 1;
        break;
    }
    geometry.Cylinders = static_cast<std::int32_t>(g.Cylinders.u.LowPart);
    geometry.TracksPerCylinder = static_cast<std::int32_t>(g.TracksPerCylinder);
    geometry.SectorsPerTrack = static_cast<std::int32_t>(g.SectorsPerTrack);
    geometry.BytesPerSector = static_cast<std::int32_t>(g.BytesPerSector);
    geometry.Reserved = 0;
}

// Signed 32-bit product, or an overflow run-time error.
std::int32_t CheckedProduct(std::int32_t a, std::int32_t b) {
    std::int32_t result = 0;
    if (__builtin_mul_overflow(a, b, &result)) throw support::RuntimeError(support::ErrOverflow, kSource, "Overflow");
    return result;
}

std::int16_t CheckedInt16(std::int32_t value) {
    if (value < std::numeric_limits<std::int16_t>::min() || value > std::numeric_limits<std::int16_t>::max())
        throw support::RuntimeError(support::ErrOverflow, kSource, "Overflow");
    return static_cast<std::int16_t>(value);
}

// An error number as the program formats it for display: a leading blank
// for non-negative values, then what it means.
std::string WithSignBlank(long value) {
    return value >= 0 ? " " + ErrorCodeText(static_cast<std::uint32_t>(value)) : std::to_string(value);
}

// Which device a message is about: "drive E:, /dev/sdb1".
std::string DeviceDescription(DriveNumber drive) {
    const char letter = static_cast<char>('A' + drive - 1);
    std::string text = std::string("drive ") + letter + ":";
    platform::DriveInfo info;
    if (platform::FindDrive(letter, &info) && !info.source.empty()) text += ", " + info.source;
    return text;
}

// Opens the device for reading or writing; on failure LastOpenError says
// why and 0 is returned, without any message.
void* OpenDriveQuietly(DriveNumber drive, support::Truth forWrite) {
    std::string path = DevicePath(drive);
    std::string& lastError = LastOpenErrorText();
    lastError.clear();
    HANDLE handle = nullptr;
    if (forWrite) {
        handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            lastError = shell::frmPasser().LANG[383] + " " + ErrorCodeText(GetLastError());
            handle = nullptr;
        }
    } else {
        OFSTRUCT ofs{};
        HFILE file = OpenFile(path.c_str(), &ofs, OF_READ);
        // A drive that cannot be read is named, so that the one message
        // about it says which card it was.
        if (file == HFILE_ERROR)
            lastError = shell::frmPasser().LANG[384] + " " + WithSignBlank(ofs.nErrCode) + " (" +
                        DeviceDescription(drive) + ")";
        else
            handle = HandleFromHfile(file);
    }
    return handle;
}

support::Truth ReadSectorsChecked(DriveNumber drive, std::int32_t firstSector, std::int16_t count,
                                  std::uint8_t* buffer, std::size_t bufferSize) {
    DriveEntry& entry = DriveTable()[drive];
    if (entry.GeometryKnown == 0) GetDriveGeometry(drive, entry.Geometry);
    if (entry.Handle == nullptr) {
        entry.Handle = OpenDrive(drive, support::False);
        if (entry.Handle == nullptr) return support::False;
    }

    std::int16_t bytesPerSector = CheckedInt16(entry.Geometry.BytesPerSector);
    LONG offsetLow = 0, offsetHigh = 0;
    HRESULT hr = SharedExtraLong().LongXInt(firstSector, bytesPerSector, &offsetLow, &offsetHigh);
    if (FAILED(hr)) throw support::RuntimeError(support::ErrObjectRequired, kSource, "Method 'LongXInt' failed");

    if (SetFilePointer(entry.Handle, offsetLow, &offsetHigh, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return support::False;

    std::int32_t byteCount = CheckedProduct(count, entry.Geometry.BytesPerSector);
    if (byteCount < 0) throw support::RuntimeError(support::ErrSubscriptOutOfRange, kSource, "Subscript out of range");
    if (buffer == nullptr && byteCount > 0)
        throw support::RuntimeError(support::ErrObjectRequired, kSource, "Object required");
    // The buffer is the caller's; never read past its end.
    if (static_cast<std::size_t>(byteCount) > bufferSize)
        throw support::RuntimeError(support::ErrSubscriptOutOfRange, kSource, "Subscript out of range");

    DWORD bytesRead = 0;
    BOOL ok = ReadFile(entry.Handle, buffer, static_cast<DWORD>(byteCount), &bytesRead, nullptr);
    return support::ToTruth(ok && bytesRead == static_cast<DWORD>(byteCount));
}

} // namespace

DriveNumber DriveNumberFromLetter(char letter) {
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    return static_cast<DriveNumber>(letter - 'A' + 1);
}

std::string DevicePath(DriveNumber drive) {
    return std::string("\\\\.\\") + static_cast<char>('A' + drive - 1) + ":";
}

IExtraLong& SharedExtraLong() {
    static platform::ComPtr<IExtraLong> object;
    static bool registrationTried = false;
    if (!object) {
        if (!registrationTried) {
            registrationTried = true;
            platform::EnsureClassRegistered(CLSID_ExtraLong, support::ProgramFolder() + "/libTyphex.so");
        }
        HRESULT hr = CoCreateInstance(CLSID_ExtraLong, nullptr, CLSCTX_INPROC_SERVER, IID_IExtraLong,
                                      object.PutVoid());
        if (FAILED(hr) || !object) {
            object.Reset();
            throw support::RuntimeError(429, kSource, "ActiveX component can't create object");
        }
    }
    return *object.Get();
}

support::Truth GetDriveGeometry(DriveNumber drive, DriveGeometry& geometry) {
    std::string path = DevicePath(drive);
    HANDLE device = CreateFileA(path.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return support::False;

    DISK_GEOMETRY raw{};
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(device, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &raw, sizeof raw, &returned,
                              nullptr);
    support::Truth result = support::False;
    if (ok) {
        DriveGeometry filled = geometry;
        FillGeometry(raw, filled);
        try {
            filled.TotalSectors =
                CheckedProduct(CheckedProduct(filled.Cylinders, filled.TracksPerCylinder), filled.SectorsPerTrack);
        } catch (...) {
            CloseHandle(device);
            throw;
        }
        geometry = filled;
        result = support::True;
    }
    CloseHandle(device);

    DriveEntry& entry = DriveTable()[drive];
    entry.GeometryKnown = -1;
    entry.Geometry = geometry;
    return result;
}

void* OpenDrive(DriveNumber drive, support::Truth forWrite) {
    void* handle = OpenDriveQuietly(drive, forWrite);
    const std::string& lastError = LastOpenErrorText();
    if (!lastError.empty()) {
        platform::MsgBox(lastError, platform::vbExclamation, shell::frmPasser().LANG[379]);
        return nullptr;
    }
    return handle;
}

support::Truth OpenDriveForReading(DriveNumber drive, std::string& errorText) {
    DriveEntry& entry = DriveTable()[drive];
    if (entry.GeometryKnown == 0) {
        try {
            GetDriveGeometry(drive, entry.Geometry);
        } catch (const support::RuntimeError&) {
            // A geometry too large for the table: the reads report it.
        }
    }
    if (entry.Handle != nullptr) return support::True;
    entry.Handle = OpenDriveQuietly(drive, support::False);
    if (entry.Handle != nullptr) return support::True;
    errorText = LastOpenErrorText();
    return support::False;
}

support::Truth ReadSectors(DriveNumber drive, std::int32_t firstSector, std::int16_t count,
                           std::vector<std::uint8_t>& buffer) {
    return ReadSectors(drive, firstSector, count, buffer.data(), buffer.size());
}

support::Truth ReadSectors(DriveNumber drive, std::int32_t firstSector, std::int16_t count, std::uint8_t* buffer,
                           std::size_t bufferSize) {
    try {
        return ReadSectorsChecked(drive, firstSector, count, buffer, bufferSize);
    } catch (const support::RuntimeError& error) {
        platform::MsgBox(error.Description() + " - dwStartSector=" + std::to_string(firstSector) +
                             "; BytesPerSector=" + std::to_string(DriveTable()[drive].Geometry.BytesPerSector),
                         platform::vbExclamation);
        return support::False;
    }
}

support::Truth PrepareDriveForWrite(DriveNumber drive, std::string& errorText) {
    DriveEntry& entry = DriveTable()[drive];
    if (entry.GeometryKnown == 0) GetDriveGeometry(drive, entry.Geometry);
    if (entry.Handle != nullptr) return support::True;
    entry.Handle = OpenDrive(drive, support::True);
    if (entry.Handle != nullptr) return support::True;
    errorText = LastOpenErrorText();
    return support::False;
}

support::Truth WriteAtOffset(DriveNumber drive, std::uint32_t offsetLow, std::uint32_t offsetHigh,
                             const std::uint8_t* buffer, std::uint32_t byteCount, std::string& errorText) {
    DriveEntry& entry = DriveTable()[drive];
    LONG high = static_cast<LONG>(offsetHigh);
    if (SetFilePointer(entry.Handle, static_cast<LONG>(offsetLow), &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        errorText = "SetFilePointer call failed. Error code=" + ErrorCodeText(GetLastError());
        return support::False;
    }
    DWORD written = 0;
    if (!WriteFile(entry.Handle, buffer, byteCount, &written, nullptr)) {
        errorText = "WriteFile call failed. Error code=" + ErrorCodeText(GetLastError());
        return support::False;
    }
    if (written != byteCount) {
        errorText = "Tried to write " + std::to_string(byteCount) + " bytes, but only managed to write " +
                    std::to_string(written);
        return support::False;
    }
    return support::True;
}

void CloseDrive(DriveNumber drive) {
    DriveEntry& entry = DriveTable()[drive];
    if (entry.Handle != nullptr) {
        CloseHandle(entry.Handle);
        entry.Handle = nullptr;
    }
}

support::Truth ReleaseAllDrives(DriveNumber drive) {
    DriveEntry& entry = DriveTable()[drive];
    if (entry.GeometryKnown == 0 && !GetDriveGeometry(drive, entry.Geometry)) return support::False;
    for (int d = 0; d <= 255; ++d) CloseDrive(static_cast<DriveNumber>(d));
    std::string path = DevicePath(drive);
    HANDLE device = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
    return support::False;
}

DriveEntry& DriveTableEntry(DriveNumber drive) { return DriveTable()[drive]; }

const std::string& LastOpenError() { return LastOpenErrorText(); }

void ResetDriveTable() {
    for (int d = 0; d <= 255; ++d) CloseDrive(static_cast<DriveNumber>(d));
    DriveTable().fill(DriveEntry{});
    LastOpenErrorText().clear();
}

} // namespace engine
