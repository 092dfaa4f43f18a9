// The exFAT boot region: the main boot sector's fields, their checks, and
// the region's checksum. The region is 12 sectors (boot sector, 8 extended
// boot sectors, OEM parameters, a reserved sector, the checksum sector);
// a copy of it, the backup region, follows at sector 12.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/littleendian.h"

namespace engine {

constexpr std::int64_t ExFatRegionSectors = 12;
constexpr std::int64_t ExFatBackupRegionSector = 12;
// The end-of-chain and bad-cluster marks of an exFAT FAT entry.
constexpr std::uint32_t ExFatEndOfChain = 0xFFFFFFFF;
constexpr std::uint32_t ExFatBadCluster = 0xFFFFFFF7;

struct ExFatBootSector {
    std::uint64_t PartitionOffset = 0;
    std::uint64_t VolumeLength = 0;       // sectors
    std::uint32_t FatOffset = 0;          // sectors from the volume's start
    std::uint32_t FatLength = 0;          // sectors per FAT
    std::uint32_t ClusterHeapOffset = 0;  // sector of cluster 2
    std::uint32_t ClusterCount = 0;
    std::uint32_t FirstClusterOfRootDirectory = 0;
    std::uint32_t VolumeSerialNumber = 0;
    std::uint16_t FileSystemRevision = 0;
    std::uint16_t VolumeFlags = 0;        // bit 0: the second FAT and bitmap are the active ones
    std::uint8_t BytesPerSectorShift = 0;
    std::uint8_t SectorsPerClusterShift = 0;
    std::uint8_t NumberOfFats = 0;
    std::uint16_t BootSignature = 0;

    std::uint32_t BytesPerSector() const { return BytesPerSectorShift <= 12 ? 1u << BytesPerSectorShift : 0; }
    std::uint32_t SectorsPerCluster() const { return SectorsPerClusterShift <= 25 ? 1u << SectorsPerClusterShift : 0; }
    // The FAT and bitmap in use (0 or 1).
    int ActiveFat() const { return NumberOfFats == 2 && (VolumeFlags & 1) ? 1 : 0; }
};

// "EXFAT   " at offset 3: the sector names itself an exFAT boot sector.
bool HasExFatName(platform::ByteView sector);

ExFatBootSector ParseExFatBootSector(platform::ByteView sector);

// Why the boot sector cannot describe an exFAT volume ("" when it can):
// the zeroed legacy fields, the shifts, the FAT, the cluster heap and the
// root directory all within the volume, and the 55 AA signature.
std::string ExFatBootSectorFault(platform::ByteView sector, const ExFatBootSector& boot);

// The checksum of a boot region's first 11 sectors (the volume flags and
// the percentage in use left out, as they change while mounted).
std::uint32_t ExFatBootChecksum(platform::ByteView region, std::uint32_t bytesPerSector);

// Whether the region (12 sectors) carries its own checksum throughout its
// last sector.
bool ExFatBootChecksumMatches(platform::ByteView region, std::uint32_t bytesPerSector);

} // namespace engine
