// Sector access to whole drives through "\\.\X:". One process-wide table
// caches each drive's geometry and its open handle, so that the many small
// reads of a scan reuse one handle. Truth values are -1 and 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/Truth.h"

struct IExtraLong;

namespace engine {

using DriveNumber = std::uint8_t; // 1 = A, 2 = B, 3 = C, ...

struct DriveGeometry {
    std::int16_t MediaKind = 0;      // 0 unknown, 1 floppy kinds, 2 removable, 3 fixed
    std::int16_t Removable = 0;      // 1 removable and floppy, else 0
    std::int32_t Cylinders = 0;
    std::int32_t TracksPerCylinder = 0;
    std::int32_t SectorsPerTrack = 0;
    std::int32_t BytesPerSector = 0;
    std::int32_t TotalSectors = 0;   // Cylinders x TracksPerCylinder x SectorsPerTrack
    std::int32_t Reserved = 0;
};

struct DriveEntry {
    std::int16_t GeometryKnown = 0;
    DriveGeometry Geometry;
    void* Handle = nullptr;
};

DriveNumber DriveNumberFromLetter(char letter);
std::string DevicePath(DriveNumber drive); // "\\.\G:" for 7

// Raises a RuntimeError (overflow) when the sector product does not fit.
support::Truth GetDriveGeometry(DriveNumber drive, DriveGeometry& geometry);
void* OpenDrive(DriveNumber drive, support::Truth forWrite);
// Reads count sectors from firstSector into buffer (which must hold
// count x BytesPerSector bytes).
support::Truth ReadSectors(DriveNumber drive, std::int32_t firstSector, std::int16_t count,
                           std::vector<std::uint8_t>& buffer);
// The same into raw memory of at least count x BytesPerSector bytes.
support::Truth ReadSectors(DriveNumber drive, std::int32_t firstSector, std::int16_t count, std::uint8_t* buffer,
                           std::size_t bufferSize);
support::Truth PrepareDriveForWrite(DriveNumber drive, std::string& errorText);
// Opens and caches the drive's handle for reading, as the first read would,
// but without a message: false with errorText naming the drive and the
// reason ("... 5: access denied (drive E:, /dev/sdb1)") when it cannot be
// opened, so that a scan says so once instead of at every read.
support::Truth OpenDriveForReading(DriveNumber drive, std::string& errorText);
support::Truth WriteAtOffset(DriveNumber drive, std::uint32_t offsetLow, std::uint32_t offsetHigh,
                             const std::uint8_t* buffer, std::uint32_t byteCount, std::string& errorText);
void CloseDrive(DriveNumber drive);
support::Truth ReleaseAllDrives(DriveNumber drive);

// The table entry (tests, and callers that need the cached geometry).
DriveEntry& DriveTableEntry(DriveNumber drive);
const std::string& LastOpenError();
// Closes every handle and zeroes the table, as at program start (tests).
void ResetDriveTable();

// The process's one ExtraLong object for 64-bit offsets, created by class id
// on first use (registering the library beside the program if need be) and
// kept for the life of the process. Raises a RuntimeError (429) when the
// library cannot be activated.
IExtraLong& SharedExtraLong();

} // namespace engine
