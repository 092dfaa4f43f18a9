// Reading an MBR partition table from the first sector of an image. A FAT
// volume boot record ends with the same 55 AA signature, so a sector counts
// as a partition table only when it does not carry a valid BIOS parameter
// block and its entries are well formed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/drives.h"

namespace platform::detail {

struct MbrPartition {
    int number = 0;                 // 1 to 4, the entry's place in the table
    std::uint8_t type = 0;
    std::uint64_t firstSector = 0;  // in 512-byte sectors
    std::uint64_t sectorCount = 0;  // cut to what the image holds
};

// True when the sector starts like a FAT (or NTFS) volume: a jump
// instruction and a bytes-per-sector value of 512 to 4096, a power of two;
// or like an exFAT volume: a jump and its name.
bool LooksLikeVolumeBootRecord(const std::uint8_t* sector, std::size_t size);

// The usable partitions of a primary partition table (FAT, NTFS/exFAT and
// Linux types; extended partitions are not followed), or an empty list when
// the sector is no partition table. Partitions that start beyond the image
// are dropped; one that runs past its end is cut to the image.
std::vector<MbrPartition> ReadMbrPartitions(const std::uint8_t* sector, std::size_t size,
                                            std::uint64_t imageSectors);

// The partitions of an image of size bytes, from its first sector. An image
// whose first sector cannot be read (a failing card) has none that can be
// known: it is taken whole, so that what can be read of it is not lost.
std::vector<MbrPartition> ImagePartitions(VolumeBackend& image, std::uint64_t size);

} // namespace platform::detail
