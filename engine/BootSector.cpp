#include "engine/BootSector.h"

#include <algorithm>

#include "platform/littleendian.h"

namespace engine {

namespace {

// Where the boot sector's fields lie (the BPB, then the FAT32 extension and
// the extended boot record that follows it).
enum BootSectorOffset : std::size_t {
    BS_JmpBoot = 0,
    BS_OEMName = 3,
    BPB_BytsPerSec = 11,
    BPB_SecPerClus = 13,
    BPB_RsvdSecCnt = 14,
    BPB_NumFATs = 16,
    BPB_RootEntCnt = 17,
    BPB_TotSec16 = 19,
    BPB_Media = 21,
    BPB_FATSz16 = 22,
    BPB_SecPerTrk = 24,
    BPB_NumHeads = 26,
    BPB_HiddSec = 28,
    BPB_TotSec32 = 32,
    BPB_FATSz32 = 36,
    BPB_ExtFlags = 40,
    BPB_FSVer = 42,
    BPB_RootClus = 44,
    BPB_FSInfo = 48,
    BPB_BkBootSec = 50,
    BPB_Reserved = 52,
    BS_DrvNum = 64,
    BS_Reserved1 = 65,
    BS_BootSig = 66,
    BS_VolID = 67,
    BS_VolLab = 71,
    BS_FilSysType = 82,
};

} // namespace

void ParseBootSector(const std::uint8_t* buffer, std::size_t size, BootSectorRecord& r) {
    using namespace platform;
    const ByteView in(buffer, buffer ? size : 0);
    ReadBytes(in, BS_JmpBoot, r.JumpCode);
    ReadBytes(in, BS_OEMName, r.OEMName);
    r.BytesPerSector = ReadLe16(in, BPB_BytsPerSec);
    r.SectorsPerCluster = ReadU8(in, BPB_SecPerClus);
    r.ReservedSectors = ReadLe16(in, BPB_RsvdSecCnt);
    r.NumberFATs = ReadU8(in, BPB_NumFATs);
    r.RootEntries = ReadLe16(in, BPB_RootEntCnt);
    r.TotalSectors16 = ReadLe16(in, BPB_TotSec16);
    r.MediaDescriptor = ReadU8(in, BPB_Media);
    r.SectorsPerFAT16 = ReadLe16(in, BPB_FATSz16);
    r.SectorsPerTrack = ReadLe16(in, BPB_SecPerTrk);
    r.Heads = ReadLe16(in, BPB_NumHeads);
    r.HiddenSectors = ReadLe32(in, BPB_HiddSec);
    r.TotalSectors32 = ReadLe32(in, BPB_TotSec32);
    r.SectorsPerFAT32 = ReadLe32(in, BPB_FATSz32);
    r.ExtFlags = ReadLe16(in, BPB_ExtFlags);
    r.FSVersion = ReadLe16(in, BPB_FSVer);
    r.RootClusterField = ReadLe32(in, BPB_RootClus);
    r.FSInfoSector = ReadLe16(in, BPB_FSInfo);
    r.BackupBootSector = ReadLe16(in, BPB_BkBootSec);
    ReadBytes(in, BPB_Reserved, r.Reserved12);
    r.BiosDriveNumber = ReadU8(in, BS_DrvNum);
    r.Reserved1 = ReadU8(in, BS_Reserved1);
    r.BootSignature = ReadU8(in, BS_BootSig);
    ReadBytes(in, BS_VolID, r.VolumeID);
    ReadBytes(in, BS_VolLab, r.VolumeLabel);
    ReadBytes(in, BS_FilSysType, r.FSTypeText);
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
