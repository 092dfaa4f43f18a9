#include "engine/ExFatBootRegion.h"

#include <cstring>

namespace engine {

namespace {

using platform::ByteView;

// Where the boot sector's fields lie.
enum ExFatBootOffset : std::size_t {
    FileSystemName = 3,
    MustBeZero = 11,
    MustBeZeroEnd = 64,
    PartitionOffsetField = 64,
    VolumeLengthField = 72,
    FatOffsetField = 80,
    FatLengthField = 84,
    ClusterHeapOffsetField = 88,
    ClusterCountField = 92,
    RootDirectoryField = 96,
    VolumeSerialField = 100,
    RevisionField = 104,
    VolumeFlagsField = 106,
    BytesPerSectorShiftField = 108,
    SectorsPerClusterShiftField = 109,
    NumberOfFatsField = 110,
    PercentInUseField = 112,
    BootSignatureField = 510,
};

constexpr std::uint32_t MaxClusterCount = 0xFFFFFFF5;  // the highest count the cluster numbers allow

} // namespace

bool HasExFatName(ByteView sector) {
    static constexpr char Name[] = "EXFAT   ";
    if (sector.size() < FileSystemName + 8) return false;
    return std::memcmp(sector.data() + FileSystemName, Name, 8) == 0;
}

ExFatBootSector ParseExFatBootSector(ByteView in) {
    using namespace platform;
    ExFatBootSector b;
    b.PartitionOffset = ReadLe64(in, PartitionOffsetField);
    b.VolumeLength = ReadLe64(in, VolumeLengthField);
    b.FatOffset = ReadLe32(in, FatOffsetField);
    b.FatLength = ReadLe32(in, FatLengthField);
    b.ClusterHeapOffset = ReadLe32(in, ClusterHeapOffsetField);
    b.ClusterCount = ReadLe32(in, ClusterCountField);
    b.FirstClusterOfRootDirectory = ReadLe32(in, RootDirectoryField);
    b.VolumeSerialNumber = ReadLe32(in, VolumeSerialField);
    b.FileSystemRevision = ReadLe16(in, RevisionField);
    b.VolumeFlags = ReadLe16(in, VolumeFlagsField);
    b.BytesPerSectorShift = ReadU8(in, BytesPerSectorShiftField);
    b.SectorsPerClusterShift = ReadU8(in, SectorsPerClusterShiftField);
    b.NumberOfFats = ReadU8(in, NumberOfFatsField);
    b.BootSignature = ReadLe16(in, BootSignatureField);
    return b;
}

std::string ExFatBootSectorFault(ByteView sector, const ExFatBootSector& b) {
    if (!HasExFatName(sector)) return "no exFAT name";
    for (std::size_t i = MustBeZero; i < MustBeZeroEnd; ++i)
        if (platform::ReadU8(sector, i) != 0) return "legacy fields not zero";
    if (b.BootSignature != 0xAA55) return "no boot signature";
    if (b.BytesPerSectorShift < 9 || b.BytesPerSectorShift > 12) return "bytes-per-sector shift out of range";
    if (b.SectorsPerClusterShift > 25 - b.BytesPerSectorShift) return "sectors-per-cluster shift out of range";
    if (b.NumberOfFats != 1 && b.NumberOfFats != 2) return "number of FATs not 1 or 2";
    const std::uint64_t bytesPerSector = b.BytesPerSector();
    // The smallest exFAT volume is 1 MiB.
    if (b.VolumeLength < (std::uint64_t(1) << 20) / bytesPerSector) return "volume too small";
    if (b.FatOffset < 24) return "FAT inside the boot regions";
    // Each FAT holds an entry for every cluster and the two reserved ones.
    const std::uint64_t fatBytesNeeded = (std::uint64_t(b.ClusterCount) + 2) * 4;
    if (b.FatLength == 0 || std::uint64_t(b.FatLength) * bytesPerSector < fatBytesNeeded) return "FAT too short";
    const std::uint64_t fatsEnd = std::uint64_t(b.FatOffset) + std::uint64_t(b.FatLength) * b.NumberOfFats;
    if (b.ClusterHeapOffset < fatsEnd) return "cluster heap overlaps the FAT";
    if (b.ClusterHeapOffset >= b.VolumeLength) return "cluster heap beyond the volume";
    if (b.ClusterCount == 0 || b.ClusterCount > MaxClusterCount) return "cluster count out of range";
    if (((b.VolumeLength - b.ClusterHeapOffset) >> b.SectorsPerClusterShift) < b.ClusterCount)
        return "clusters beyond the volume";
    if (b.FirstClusterOfRootDirectory < 2 || std::uint64_t(b.FirstClusterOfRootDirectory) > std::uint64_t(b.ClusterCount) + 1)
        return "root directory cluster out of range";
    return "";
}

std::uint32_t ExFatBootChecksum(ByteView region, std::uint32_t bytesPerSector) {
    std::uint32_t sum = 0;
    const std::size_t length = std::size_t(bytesPerSector) * 11;
    for (std::size_t i = 0; i < length; ++i) {
        if (i == VolumeFlagsField || i == VolumeFlagsField + 1 || i == PercentInUseField) continue;
        sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + platform::ReadU8(region, i);
    }
    return sum;
}

bool ExFatBootChecksumMatches(ByteView region, std::uint32_t bytesPerSector) {
    if (bytesPerSector < 512 || region.size() < std::size_t(bytesPerSector) * ExFatRegionSectors) return false;
    const std::uint32_t sum = ExFatBootChecksum(region, bytesPerSector);
    const std::size_t checksumSector = std::size_t(bytesPerSector) * 11;
    for (std::size_t at = checksumSector; at < checksumSector + bytesPerSector; at += 4)
        if (platform::ReadLe32(region, at) != sum) return false;
    return true;
}

} // namespace engine
