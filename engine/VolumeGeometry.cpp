// The boot-sector read of the engine: sector 0 (and the FAT32 backup), the
// fallback layouts, and the geometry derived from the record.
#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/FATEngine.h"
#include "support/RuntimeError.h"

namespace engine {

namespace {

constexpr int ReadAttempts = 3;

bool FitsInt32(std::int64_t v) {
    return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
}

} // namespace

bool FATEngine::ReadBootSectorInto(std::int32_t sector) {
    for (int attempt = 0; attempt < ReadAttempts; ++attempt)
        if (ReadVolumeSectors(sector, 1, bootSectorBuffer_.data(), bootSectorBuffer_.size())) return true;
    return false;
}

void FATEngine::ReadBootSectorRecord() {
    BootSectorRecord& boot = layout_.Boot;
    // A drive whose sector is larger than the buffer cannot be read into it.
    if (geometry_.BytesPerSector > 2048)
        throw support::RuntimeError(support::ErrSubscriptOutOfRange, "FATEngine", "Sector larger than 2048 bytes");
    ParseBootSector(bootSectorBuffer_.data(), 2048, boot);
    layout_.Source = LayoutSource::BootSector;
    if (ReadBootSectorInto(0)) {
        ParseBootSector(bootSectorBuffer_.data(), 2048, boot);
    } else {
        ApplyFallbackLayoutA(boot);
        layout_.Source = LayoutSource::Guessed;
        layout_.FirstSectorUnreadable = true;
    }
    if (HasValidSectorSize(boot)) return;
    if (boot.SectorsPerFAT16 != 0) {
        TraceMessage("INVALID PRIMARY BOOT SECTOR");
        return;
    }
    const std::int32_t backup = boot.BackupBootSector;
    if (ReadBootSectorInto(backup)) {
        ParseBootSector(bootSectorBuffer_.data(), 2048, boot);
    } else {
        ApplyFallbackLayoutB(boot);
        layout_.Source = LayoutSource::Guessed;
    }
    if (!HasValidSectorSize(boot)) TraceMessage("INVALID BACKUP BOOT SECTOR");
}

std::int32_t FATEngine::LayoutFault() {
    const BootSectorRecord& boot = layout_.Boot;
    if (bytesPerCluster_ > 32768) {
        RaiseError("BytesPerCluster > 32768");
        return 12;
    }
    // Reserved sectors, FAT count or FAT size that put the data area far
    // into the drive (65,535 reserved sectors, 255 FATs) describe a damaged
    // boot sector, not a card: reading its "FAT" and "root" would walk photo
    // data and find nothing.
    if (!DataAreaFitsDrive(layout_.FirstDataSector, totalSectors_, DriveSectorsInVolumeUnits())) return 14;
    if (fatType_ == FatTypeFAT32 &&
        (boot.RootClusterField > static_cast<std::uint32_t>(countOfClusters_) || boot.RootClusterField < 2))
        return 13;
    return 0;
}

support::Truth FATEngine::ReadBootSector() {
    // Nothing of an earlier parse (of this drive or another) survives: a
    // failed parse leaves an empty, unusable layout.
    layout_ = VolumeLayout{};
    const BootSectorRecord& boot = layout_.Boot;
    std::fill(bootSectorBuffer_.begin(), bootSectorBuffer_.end(), 0);
    sectorRatio_ = 1;
    cachedFATSector_ = -1;
    cachedDirSector_ = -1;
    if (LooksLikeExFat()) return ReadExFatBootRegion();
    try {
        ReadBootSectorRecord();
        if (!DeriveGeometry()) {
            lastError_ = 10;
            return support::False;
        }
        if (HasValidSectorSize(boot) && geometry_.BytesPerSector > 0 && boot.BytesPerSector > geometry_.BytesPerSector &&
            boot.BytesPerSector % geometry_.BytesPerSector == 0)
            sectorRatio_ = boot.BytesPerSector / geometry_.BytesPerSector;
    } catch (const std::exception&) {
        lastError_ = 10;
        return support::False;
    }
    if (const std::int32_t fault = LayoutFault()) {
        lastError_ = fault;
        return support::False;
    }
    if (fatType_ == FatTypeFAT32) {
        rootDirSector_ = static_cast<std::int32_t>(ClusterToSector(boot.RootClusterField));
        rootCluster_ = static_cast<std::int32_t>(boot.RootClusterField);
    } else {
        rootDirSector_ = boot.NumberFATs * fatSize_ + boot.ReservedSectors;
        rootCluster_ = 0;
    }
    fatCopyForChains_ = 1;
    if (ProbeFATEmpty()) fatCopyForChains_ = 0;
    layout_.Usable = true;
    return support::True;
}

std::int64_t FATEngine::DriveSectorsInVolumeUnits() const {
    const BootSectorRecord& boot = layout_.Boot;
    if (geometry_.TotalSectors <= 0 || geometry_.BytesPerSector <= 0 || boot.BytesPerSector == 0) return 0;
    return std::int64_t(geometry_.TotalSectors) * geometry_.BytesPerSector / boot.BytesPerSector;
}

support::Truth FATEngine::ReadVolumeSectors(std::int64_t sector, std::int64_t count, std::uint8_t* buffer,
                                           std::size_t size) {
    const std::int64_t first = sector * sectorRatio_;
    const std::int64_t sectors = count * sectorRatio_;
    if (sector < 0 || first > std::numeric_limits<std::int32_t>::max() || sectors > 32767) return support::False;
    return ReadSectors(driveNumber_, static_cast<std::int32_t>(first), static_cast<std::int16_t>(sectors), buffer, size);
}

// Derives the volume geometry from the record; false where the program's
// 32-bit arithmetic would fail (a zero divisor, an overflow) or the layout
// leaves no data area.
bool FATEngine::DeriveGeometry() {
    const BootSectorRecord& boot = layout_.Boot;
    if (boot.BytesPerSector == 0 || boot.SectorsPerCluster == 0) return false;
    const std::int64_t rootDirSectors =
        (std::int64_t(boot.RootEntries) * 32 + boot.BytesPerSector - 1) / boot.BytesPerSector;
    const std::int64_t fatSize = boot.SectorsPerFAT16 != 0 ? boot.SectorsPerFAT16 : boot.SectorsPerFAT32;
    const std::int64_t firstData = boot.ReservedSectors + std::int64_t(boot.NumberFATs) * fatSize + rootDirSectors;
    const std::int64_t total = boot.TotalSectors16 != 0 ? boot.TotalSectors16 : boot.TotalSectors32;
    const std::int64_t data = total - firstData;
    const std::int64_t bytesPerCluster = std::int64_t(boot.SectorsPerCluster) * boot.BytesPerSector;
    if (!FitsInt32(fatSize) || !FitsInt32(firstData) || !FitsInt32(total) || !FitsInt32(data)) return false;
    if (data <= 0) return false;
    std::int64_t clusters = data / boot.SectorsPerCluster;

    fatSize_ = static_cast<std::int32_t>(fatSize);
    layout_.FirstDataSector = static_cast<std::int32_t>(firstData);
    totalSectors_ = static_cast<std::int32_t>(total);
    layout_.TotalSectors = totalSectors_;
    dataSectors_ = static_cast<std::int32_t>(data);
    fatType_ = clusters < 4085 ? FatTypeFAT12 : clusters >= 65525 ? FatTypeFAT32 : FatTypeFAT16;
    layout_.FATType = fatType_;
    volumeClusters_ = clusters;
    bytesPerCluster_ = static_cast<std::int32_t>(bytesPerCluster);

    // A boot sector may claim more clusters than the drive holds; only those
    // the drive can hold are tracked, so that a damaged record cannot make
    // the FAT read or the walk run through billions of clusters.
    readableSectors_ = total;
    if (geometry_.TotalSectors > 0 && geometry_.BytesPerSector > 0) {
        const std::int64_t deviceBytes = std::int64_t(geometry_.TotalSectors) * geometry_.BytesPerSector;
        readableSectors_ = std::min<std::int64_t>(total, deviceBytes / boot.BytesPerSector);
        const std::int64_t deviceClusters = (deviceBytes / boot.BytesPerSector - firstData) / boot.SectorsPerCluster;
        clusters = std::clamp<std::int64_t>(deviceClusters, 0, clusters);
    }
    countOfClusters_ = static_cast<std::int32_t>(clusters);
    return true;
}

} // namespace engine
