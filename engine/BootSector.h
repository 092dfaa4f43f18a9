// The FAT boot sector: the first 90 bytes of sector 0 in the FAT32 layout
// (also for FAT12 and FAT16, whose own fields are then read where the rules
// say), the two fixed layouts used when nothing can be read, and the
// process-wide record of the last boot sector read with the first data
// sector of its volume.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace engine {

struct BootSectorRecord {
    std::array<std::uint8_t, 3> JumpCode{};
    std::array<std::uint8_t, 8> OEMName{};
    std::uint16_t BytesPerSector = 0;
    std::uint8_t SectorsPerCluster = 0;
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

// The record of the last boot sector read by any engine, and the first
// sector of cluster 2 of that volume (the deep scan and the device tools
// read them after ReadDeviceBootSector).
BootSectorRecord& LastBootSector();
std::int32_t& FirstDataSector();

} // namespace engine
