// The FAT: single entries through a one-sector cache, the whole first copy
// into FAT1Values, and the probe for a wiped table.
#include <algorithm>
#include <cstring>

#include "engine/FATEngine.h"
#include "platform/littleendian.h"
#include "platform/ui.h"

namespace engine {

std::uint8_t ClassifyFATValue(std::int32_t fatType, std::uint32_t value) {
    std::uint8_t kind = value != 0 ? FatInUse : FatFree;
    // Only the low 12, 16 or 28 bits take part, as the fixed-width hex
    // comparison of the reference behaviour does.
    std::uint32_t v = 0, bad = 0, end = 0;
    switch (fatType) {
    case FatTypeFAT12: v = value & 0xFFF; bad = 0xFF1; end = 0xFF8; break;
    case FatTypeFAT16: v = value & 0xFFFF; bad = 0xFFF1; end = 0xFFF8; break;
    case FatTypeFAT32: v = value & 0x0FFFFFFF; bad = 0x0FFFFFF1; end = 0x0FFFFFF8; break;
    default: return kind;
    }
    if (v >= end) return FatEndOfChain;
    if (v >= bad) return FatBad;
    return kind;
}

bool FATEngine::IsEndOfChain(std::uint32_t value) const { return ClassifyFATValue(fatType_, value) == FatEndOfChain; }

std::uint32_t FATEngine::ReadFATEntry(std::int64_t cluster, std::int32_t copy) {
    if (cluster > std::int64_t(countOfClusters_) + 1 || cluster < 2) return 0;
    const BootSectorRecord& boot = layout_.Boot;
    const std::int64_t bps = boot.BytesPerSector;
    if (bps <= 0) return 0;
    std::int64_t offset = 0;
    switch (fatType_) {
    case FatTypeFAT12: offset = cluster + cluster / 2; break;
    case FatTypeFAT16: offset = cluster * 2; break;
    default: offset = cluster * 4; break;
    }
    const std::int64_t sector = std::int64_t(fatSize_) * copy + boot.ReservedSectors + offset / bps;
    const std::size_t deviceSector = static_cast<std::size_t>(std::clamp<std::int64_t>(SectorBytes(), 0, 2048));
    if (sector != cachedFATSector_) {
        if (!ReadVolumeSectors(sector, 1, bootSectorBuffer_.data(), bootSectorBuffer_.size()))
            std::fill(bootSectorBuffer_.begin(), bootSectorBuffer_.begin() + 2048, 0);
        std::memcpy(fatSectorBuffer_.data(), bootSectorBuffer_.data(), deviceSector);
        cachedFATSector_ = sector;
    }
    const std::size_t p = static_cast<std::size_t>(offset % bps);
    if (fatType_ == FatTypeFAT12 && p == static_cast<std::size_t>(bps) - 1) {
        if (ReadVolumeSectors(sector + 1, 1, bootSectorBuffer_.data(), bootSectorBuffer_.size()))
            std::memcpy(fatSectorBuffer_.data() + bps, bootSectorBuffer_.data(), deviceSector);
    }
    const platform::ByteView fat(fatSectorBuffer_.data(), fatSectorBuffer_.size());
    switch (fatType_) {
    case FatTypeFAT16: return platform::ReadLe16(fat, p);
    case FatTypeFAT12: {
        const std::uint32_t w = platform::ReadLe16(fat, p);
        return (cluster % 2 == 0) ? (w & 0xFFF) : (w >> 4);
    }
    default: return platform::ReadLe32(fat, p) & 0x0FFFFFFF;
    }
}

support::Truth FATEngine::ReadClusterChains() {
    if (fatType_ == FatTypeExFAT) return ReadExFatTables();
    std::int64_t cluster = 0;
    try {
        cachedFATSector_ = -1;
        nextFreeCluster_.clear();
        platform::DoEvents();
        // Indexes 0 to the last cluster number (CountOfClusters + 1), so that
        // a file may end in the volume's last cluster.
        const std::size_t entries = static_cast<std::size_t>(std::max(countOfClusters_, 0)) + 2;
        fat1Values_.resize(entries, 0);
        for (cluster = 2; cluster <= std::int64_t(countOfClusters_) + 1; ++cluster) {
            fat1Values_[static_cast<std::size_t>(cluster)] = lastError_ == 0 ? ReadFATEntry(cluster, 0) : 0;
            if (cluster % 100000 == 0) platform::DoEvents();
        }
        return support::True;
    } catch (const std::exception& error) {
        RaiseError(std::string("Exception in ReadClusterChains : ") + error.what());
        return support::False;
    }
}

support::Truth FATEngine::ProbeFATEmpty() {
    for (std::int64_t cluster = 2; cluster <= 16; ++cluster) {
        const std::uint32_t value = ReadFATEntry(cluster, 0);
        if (value == static_cast<std::uint32_t>(rootCluster_)) continue;
        if (ClassifyFATValue(fatType_, value) == FatInUse) return support::False;
    }
    return support::True;
}

} // namespace engine
