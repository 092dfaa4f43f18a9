// The FAT boot sector: the first 90 bytes of sector 0 in the FAT32 layout
// (also for FAT12 and FAT16, whose own fields are then read where the rules
// say), the two fixed layouts used when nothing can be read, and the layout
// of one drive's volume as one parse gave it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace engine {

struct BootSectorRecord {
    std::array<std::uint8_t, 3> JumpCode{};
    std::array<std::uint8_t, 8> OEMName{};
    std::uint16_t BytesPerSector = 0;
    std::uint32_t SectorsPerCluster = 0;  // a byte on FAT; up to 2^25 on exFAT
    std::uint16_t ReservedSectors = 0;
    std::uint8_t NumberFATs = 0;
    std::uint16_t RootEntries = 0;
    std::int32_t TotalSectors16 = 0;
    std::uint8_t MediaDescriptor = 0;
    std::uint16_t SectorsPerFAT16 = 0;
    std::uint16_t SectorsPerTrack = 0;
    std::uint16_t Heads = 0;
    std::uint32_t HiddenSectors = 0;
    std::uint32_t TotalSectors32 = 0;
    std::uint32_t SectorsPerFAT32 = 0;
    std::uint16_t ExtFlags = 0;
    std::uint16_t FSVersion = 0;
    std::uint32_t RootClusterField = 0;
    std::uint16_t FSInfoSector = 0;
    std::uint16_t BackupBootSector = 0;
    std::array<std::uint8_t, 12> Reserved12{};
    std::uint8_t BiosDriveNumber = 0;
    std::uint8_t Reserved1 = 0;
    std::uint8_t BootSignature = 0;
    std::array<std::uint8_t, 4> VolumeID{};
    std::array<std::uint8_t, 11> VolumeLabel{};
    std::array<std::uint8_t, 8> FSTypeText{};
};

// Copies the fields from the first 90 bytes of buffer (little-endian);
// bytes beyond size read as 0.
void ParseBootSector(const std::uint8_t* buffer, std::size_t size, BootSectorRecord& record);

// Sector 0 unreadable: a 128 MiB FAT16 card with 2 KiB clusters.
void ApplyFallbackLayoutA(BootSectorRecord& record);
// Backup boot sector unreadable: a 512 MiB FAT32 card with 2 KiB clusters.
void ApplyFallbackLayoutB(BootSectorRecord& record);

// Only 512 and 2048-byte sectors count as a valid boot sector.
bool HasValidSectorSize(const BootSectorRecord& record);

// How a layout came about.
enum class LayoutSource {
    None,       // not parsed, or the parse failed before a record was made
    BootSector, // the card's own boot sector (primary or backup)
    Guessed,    // a fixed fallback layout: nothing usable could be read
};

// The volume layout of one drive as one boot-sector parse gave it. It
// belongs to that drive and that parse: the engine that read it hands it to
// its caller, who passes it on (to the deep scan, to the device tools);
// nothing of it is kept for the process.
struct VolumeLayout {
    BootSectorRecord Boot;
    LayoutSource Source = LayoutSource::None;
    // The parse gave a layout the turbo scan can use.
    bool Usable = false;
    // Sector 0 could not be read: the layout, if any, is the fallback guess.
    bool FirstSectorUnreadable = false;
    std::int32_t FirstDataSector = 0;  // first sector of cluster 2
    std::int32_t FATType = 0;          // 1 FAT12, 2 FAT16, 3 FAT32, 4 exFAT, 0 unknown
    std::int32_t TotalSectors = 0;

    // The first sector the deep scan reads: the data area of a usable layout
    // read from the card; the drive's first sector for anything else (no
    // parse, a failed one, a guessed layout), so that nothing before a
    // misplaced data area is skipped.
    std::int32_t DeepScanStart() const {
        return Usable && Source == LayoutSource::BootSector ? FirstDataSector : 0;
    }
};

// Whether a layout fits: its data area must begin within a small fraction
// of the volume (real FAT volumes keep their reserved sectors, FATs and
// root directory to a few percent of it) and on the drive. driveSectors
// counts the drive in the layout's own sector size; 0 when unknown.
bool DataAreaFitsDrive(std::int64_t firstDataSector, std::int64_t totalSectors, std::int64_t driveSectors);

} // namespace engine
