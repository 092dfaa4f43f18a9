#include "platform/src/Mbr.h"

#include "platform/littleendian.h"

#include <cstring>

namespace platform::detail {

namespace {

constexpr std::size_t SectorSize = 512;
constexpr std::size_t TableOffset = 446;
constexpr std::size_t EntrySize = 16;

// Where a partition entry's fields lie.
constexpr std::size_t EntryType = 4;
constexpr std::size_t EntryFirstSector = 8;
constexpr std::size_t EntrySectorCount = 12;
constexpr std::size_t BytesPerSectorField = 11; // the boot sector's BPB_BytsPerSec

bool IsUsableType(std::uint8_t type) {
    switch (type) {
    case 0x01: case 0x04: case 0x06: case 0x0B: case 0x0C: case 0x0E: // FAT12/16/32
    case 0x11: case 0x14: case 0x16: case 0x1B: case 0x1C: case 0x1E: // the same, hidden
    case 0x07:                                                        // NTFS / exFAT
    case 0x83:                                                        // Linux
        return true;
    default:
        return false;
    }
}

bool HasSignature(const std::uint8_t* sector) { return sector[510] == 0x55 && sector[511] == 0xAA; }

} // namespace

bool LooksLikeVolumeBootRecord(const std::uint8_t* sector, std::size_t size) {
    if (size < SectorSize) return false;
    // exFAT keeps its sector size elsewhere and zeros the old field.
    if (sector[0] == 0xEB && std::memcmp(sector + 3, "EXFAT   ", 8) == 0) return true;
    bool jump = sector[0] == 0xEB || sector[0] == 0xE9;
    std::uint16_t bytesPerSector = ReadLe16(ByteView(sector, size), BytesPerSectorField);
    bool powerOfTwo = bytesPerSector >= 512 && bytesPerSector <= 4096 && (bytesPerSector & (bytesPerSector - 1)) == 0;
    return jump && powerOfTwo;
}

std::vector<MbrPartition> ReadMbrPartitions(const std::uint8_t* sector, std::size_t size,
                                            std::uint64_t imageSectors) {
    std::vector<MbrPartition> partitions;
    if (size < SectorSize || !HasSignature(sector) || LooksLikeVolumeBootRecord(sector, size)) return partitions;
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t* entry = sector + TableOffset + EntrySize * static_cast<std::size_t>(i);
        if (entry[0] != 0x00 && entry[0] != 0x80) return {}; // boot code, not a table
    }
    for (int i = 0; i < 4; ++i) {
        const ByteView entry =
            ByteView(sector, size).subspan(TableOffset + EntrySize * static_cast<std::size_t>(i), EntrySize);
        MbrPartition partition;
        partition.number = i + 1;
        partition.type = ReadU8(entry, EntryType);
        partition.firstSector = ReadLe32(entry, EntryFirstSector);
        partition.sectorCount = ReadLe32(entry, EntrySectorCount);
        if (!IsUsableType(partition.type) || partition.firstSector == 0 || partition.sectorCount == 0) continue;
        if (partition.firstSector >= imageSectors) continue;
        if (partition.sectorCount > imageSectors - partition.firstSector)
            partition.sectorCount = imageSectors - partition.firstSector;
        partitions.push_back(partition);
    }
    return partitions;
}

std::vector<MbrPartition> ImagePartitions(VolumeBackend& image, std::uint64_t size) {
    std::uint8_t sector[SectorSize];
    DWORD readError = 0;
    if (image.Read(0, sector, sizeof sector, &readError) != static_cast<std::int64_t>(sizeof sector)) return {};
    return ReadMbrPartitions(sector, sizeof sector, size / SectorSize);
}

} // namespace platform::detail
