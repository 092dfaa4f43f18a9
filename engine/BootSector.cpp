#include "engine/BootSector.h"

#include <algorithm>

namespace engine {

namespace {

class LittleEndianReader {
public:
    LittleEndianReader(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
    std::uint8_t U8(std::size_t at) const { return at < size_ ? bytes_[at] : 0; }
    std::uint16_t U16(std::size_t at) const { return static_cast<std::uint16_t>(U8(at) | (U8(at + 1) << 8)); }
    std::uint32_t U32(std::size_t at) const { return U16(at) | (static_cast<std::uint32_t>(U16(at + 2)) << 16); }
    template <std::size_t N>
    void Copy(std::size_t at, std::array<std::uint8_t, N>& out) const {
        for (std::size_t i = 0; i < N; ++i) out[i] = U8(at + i);
    }

private:
    const std::uint8_t* bytes_;
    std::size_t size_;
};

} // namespace

void ParseBootSector(const std::uint8_t* buffer, std::size_t size, BootSectorRecord& r) {
    const LittleEndianReader in(buffer, size);
    in.Copy(0, r.JumpCode);
    in.Copy(3, r.OEMName);
    r.BytesPerSector = in.U16(11);
    r.SectorsPerCluster = in.U8(13);
    r.ReservedSectors = in.U16(14);
    r.NumberFATs = in.U8(16);
    r.RootEntries = in.U16(17);
    r.TotalSectors16 = in.U16(19);
    r.MediaDescriptor = in.U8(21);
    r.SectorsPerFAT16 = in.U16(22);
    r.SectorsPerTrack = in.U16(24);
    r.Heads = in.U16(26);
    r.HiddenSectors = in.U32(28);
    r.TotalSectors32 = in.U32(32);
    r.SectorsPerFAT32 = in.U32(36);
    r.ExtFlags = in.U16(40);
    r.FSVersion = in.U16(42);
    r.RootClusterField = in.U32(44);
    r.FSInfoSector = in.U16(48);
    r.BackupBootSector = in.U16(50);
    in.Copy(52, r.Reserved12);
    r.BiosDriveNumber = in.U8(64);
    r.Reserved1 = in.U8(65);
    r.BootSignature = in.U8(66);
    in.Copy(67, r.VolumeID);
    in.Copy(71, r.VolumeLabel);
    in.Copy(82, r.FSTypeText);
}

void ApplyFallbackLayoutA(BootSectorRecord& r) {
    r.BytesPerSector = 512;
    r.SectorsPerCluster = 4;
    r.ReservedSectors = 1;
    r.NumberFATs = 2;
    r.RootEntries = 512;
    r.TotalSectors16 = 0;
    r.SectorsPerFAT16 = 247;
    r.TotalSectors32 = 0x40000;
    r.SectorsPerFAT32 = 0;
    r.RootClusterField = 0;
    r.BackupBootSector = 0;
}

void ApplyFallbackLayoutB(BootSectorRecord& r) {
    r.BytesPerSector = 512;
    r.SectorsPerCluster = 4;
    r.ReservedSectors = 32;
    r.NumberFATs = 2;
    r.RootEntries = 0;
    r.TotalSectors16 = 0;
    r.SectorsPerFAT16 = 0;
    r.TotalSectors32 = 0x100000;
    r.SectorsPerFAT32 = 962;
    r.RootClusterField = 2;
    r.BackupBootSector = 6;
}

bool HasValidSectorSize(const BootSectorRecord& r) { return r.BytesPerSector == 512 || r.BytesPerSector == 2048; }

bool DataAreaFitsDrive(std::int64_t firstDataSector, std::int64_t totalSectors, std::int64_t driveSectors) {
    // An eighth leaves ample room for the smallest real volumes (a floppy's
    // data starts at 1 %, a 2 MB FAT16 card's at 2 %); a tiny volume may
    // spend a few dozen sectors more. The volume's own size is the measure,
    // so that an image cut short still counts as the card it was.
    constexpr std::int64_t Fraction = 8;
    constexpr std::int64_t SmallestAllowance = 64;
    const std::int64_t size = totalSectors > 0 ? totalSectors : driveSectors;
    if (firstDataSector < 1 || size <= 0) return false;
    if (driveSectors > 0 && firstDataSector >= driveSectors) return false;
    return firstDataSector <= std::max(size / Fraction, SmallestAllowance) && firstDataSector < size;
}

} // namespace engine
