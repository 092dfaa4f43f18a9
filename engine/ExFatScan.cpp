// The turbo scan of an exFAT card, in the steps of the FAT scan: the boot
// region (the main one, or its backup at sector 12 when the main one is
// damaged), the active FAT and allocation bitmap, the directory tree with
// its live and deleted entry sets, and each file's data. The records it
// makes are the FAT scan's, so the saving loop, the names, the folders, the
// events and the report are shared.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sys/stat.h>
#include <fcntl.h>

#include "engine/EngineText.h"
#include "engine/ExFatEntrySet.h"
#include "engine/FATEngine.h"
#include "engine/FileTypeTable.h"
#include "engine/SafeName.h"
#include "platform/ui.h"
#include "support/RuntimeError.h"

namespace engine {

namespace {

using platform::ByteView;

// exFAT's own limit on a directory; a longer one is damage.
constexpr std::uint64_t MaxDirectoryBytes = 256ull << 20;
// Both boot regions with the largest sector size.
constexpr std::size_t DriveStartBytes = 2 * ExFatRegionSectors * 4096;
// One read of the drive: at most this many drive sectors.
constexpr std::int64_t ReadChunkSectors = 2048;
// Bytes that stand in for an unreadable directory part: an entry type that
// is passed over, so the folder's later entries are still read.
constexpr std::uint8_t UnreadableDirectoryFill = 0xFF;

ByteView Part(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t length) {
    if (at >= bytes.size()) return {};
    return ByteView(bytes.data() + at, std::min(length, bytes.size() - at));
}

// The boot region at sector (0 or 12) in sectors of 2^shift bytes.
struct BootRegion {
    ExFatBootSector Boot;
    bool FieldsValid = false;
    bool ChecksumValid = false;
};

BootRegion ReadRegion(const std::vector<std::uint8_t>& start, std::size_t at) {
    BootRegion region;
    const ByteView sector = Part(start, at, 512);
    region.Boot = ParseExFatBootSector(sector);
    region.FieldsValid = ExFatBootSectorFault(sector, region.Boot).empty();
    if (region.FieldsValid) {
        const std::uint32_t bps = region.Boot.BytesPerSector();
        region.ChecksumValid = ExFatBootChecksumMatches(Part(start, at, bps * ExFatRegionSectors), bps);
    }
    return region;
}

// The backup region: at sector 12 in the main boot sector's sector size,
// or, when the main one is unusable, in whichever size names itself there.
BootRegion ReadBackupRegion(const std::vector<std::uint8_t>& start, const BootRegion& main) {
    if (main.FieldsValid)
        return ReadRegion(start, std::size_t(main.Boot.BytesPerSector()) * ExFatBackupRegionSector);
    for (std::uint8_t shift = 9; shift <= 12; ++shift) {
        BootRegion backup = ReadRegion(start, (std::size_t(1) << shift) * ExFatBackupRegionSector);
        if (backup.FieldsValid && backup.Boot.BytesPerSectorShift == shift) return backup;
    }
    return {};
}

const char* IncompleteReason(ExFatChainEnd end) {
    switch (end) {
    case ExFatChainEnd::BeyondDrive: return "the drive ends before the rest of its data";
    case ExFatChainEnd::ClustersReused: return "part of its clusters now hold other files";
    default: return "its cluster chain ends before its data does";
    }
}

} // namespace

std::vector<std::uint8_t> FATEngine::ReadDriveStart() {
    const std::int64_t driveSector = geometry_.BytesPerSector > 0 ? geometry_.BytesPerSector : 512;
    std::vector<std::uint8_t> start(DriveStartBytes, 0);
    const auto sectors = static_cast<std::int64_t>(DriveStartBytes) / driveSector;
    if (sectors > 0 && ReadSectors(driveNumber_, 0, static_cast<std::int16_t>(sectors), start.data(), start.size()))
        return start;
    // A small drive: its first sector is enough to tell it is no exFAT card.
    start.assign(static_cast<std::size_t>(std::max<std::int64_t>(driveSector, 512)), 0);
    if (!ReadSectors(driveNumber_, 0, 1, start.data(), start.size())) start.clear();
    return start;
}

bool FATEngine::LooksLikeExFat() {
    const std::vector<std::uint8_t> start = ReadDriveStart();
    const ByteView sector0 = Part(start, 0, 512);
    if (HasExFatName(sector0)) return true;
    // A sector 0 that gives a FAT sector size is a FAT card, whatever an
    // earlier format left at sector 12.
    const std::uint16_t fatSectorSize = platform::ReadLe16(sector0, 11);
    if (fatSectorSize == 512 || fatSectorSize == 1024 || fatSectorSize == 2048 || fatSectorSize == 4096) return false;
    for (std::uint8_t shift = 9; shift <= 12; ++shift) {
        const ByteView backup = Part(start, (std::size_t(1) << shift) * ExFatBackupRegionSector, 512);
        if (HasExFatName(backup) && platform::ReadU8(backup, 108) == shift) return true;
    }
    return false;
}

support::Truth FATEngine::ReadExFatBootRegion() {
    const std::vector<std::uint8_t> start = ReadDriveStart();
    const BootRegion main = ReadRegion(start, 0);
    const BootRegion backup = ReadBackupRegion(start, main);
    const BootRegion* chosen = nullptr;
    if (main.FieldsValid && main.ChecksumValid) chosen = &main;
    else if (backup.FieldsValid && backup.ChecksumValid) chosen = &backup;
    else if (main.FieldsValid) chosen = &main;
    else if (backup.FieldsValid) chosen = &backup;
    if (chosen != &main) TraceMessage("INVALID PRIMARY BOOT SECTOR");
    if (!chosen) {
        TraceMessage("INVALID BACKUP BOOT SECTOR");
        lastError_ = 10;
        return support::False;
    }
    if (!chosen->ChecksumValid) TraceMessage("EXFAT BOOT CHECKSUM MISMATCH");
    const ExFatBootSector& b = chosen->Boot;
    exfatBoot_ = b;

    const std::int64_t bps = b.BytesPerSector();
    const std::int64_t spc = b.SectorsPerCluster();
    sectorRatio_ = 1;
    if (geometry_.BytesPerSector > 0 && bps > geometry_.BytesPerSector && bps % geometry_.BytesPerSector == 0)
        sectorRatio_ = static_cast<std::int32_t>(bps / geometry_.BytesPerSector);
    // A cluster is read in one call of at most 32767 drive sectors.
    constexpr std::int64_t MaxClusterDriveSectors = 16384;
    if (spc * sectorRatio_ > MaxClusterDriveSectors) {
        const std::int64_t limit = MaxClusterDriveSectors * (bps / sectorRatio_);
        RaiseError("BytesPerCluster > " + std::to_string(limit));
        lastError_ = 12;
        return support::False;
    }
    constexpr std::int64_t Int32Max = std::numeric_limits<std::int32_t>::max();
    if (b.ClusterHeapOffset > Int32Max || b.FatOffset > Int32Max || b.FatLength > Int32Max) {
        lastError_ = 14;
        return support::False;
    }

    BootSectorRecord& r = layout_.Boot;
    platform::ReadBytes(Part(start, 0, 512), 0, r.JumpCode);
    platform::ReadBytes(Part(start, 0, 512), 3, r.OEMName);
    r.BytesPerSector = static_cast<std::uint16_t>(bps);
    r.SectorsPerCluster = static_cast<std::uint32_t>(spc);
    // What precedes the first FAT: the boot regions and the alignment.
    r.ReservedSectors = static_cast<std::uint16_t>(std::min<std::uint32_t>(b.FatOffset, 0xFFFF));
    r.NumberFATs = b.NumberOfFats;
    r.TotalSectors32 = static_cast<std::uint32_t>(std::min<std::uint64_t>(b.VolumeLength, 0xFFFFFFFF));
    r.SectorsPerFAT32 = b.FatLength;
    r.RootClusterField = b.FirstClusterOfRootDirectory;
    r.BackupBootSector = static_cast<std::uint16_t>(ExFatBackupRegionSector);
    for (std::size_t i = 0; i < 4; ++i) r.VolumeID[i] = static_cast<std::uint8_t>(b.VolumeSerialNumber >> (8 * i));

    fatType_ = FatTypeExFAT;
    layout_.FATType = FatTypeExFAT;
    layout_.FirstDataSector = static_cast<std::int32_t>(b.ClusterHeapOffset);
    totalSectors_ = static_cast<std::int32_t>(std::min<std::uint64_t>(b.VolumeLength, Int32Max));
    layout_.TotalSectors = totalSectors_;
    fatSize_ = static_cast<std::int32_t>(b.FatLength);
    bytesPerCluster_ = static_cast<std::int32_t>(bps * spc);
    // Sector numbers are 32-bit: clusters beyond them are beyond reach too.
    const std::int64_t addressable = (Int32Max / sectorRatio_ - b.ClusterHeapOffset) / spc;
    volumeClusters_ = std::min<std::int64_t>(b.ClusterCount, Int32Max - 2);
    dataSectors_ = static_cast<std::int32_t>(std::min<std::int64_t>(volumeClusters_ * spc, Int32Max));
    std::int64_t clusters = std::min<std::int64_t>(volumeClusters_, std::max<std::int64_t>(addressable, 0));
    readableSectors_ = totalSectors_;
    if (const std::int64_t driveSectors = DriveSectorsInVolumeUnits(); driveSectors > 0) {
        readableSectors_ = std::min<std::int64_t>(readableSectors_, driveSectors);
        clusters = std::clamp<std::int64_t>((driveSectors - b.ClusterHeapOffset) / spc, 0, clusters);
    }
    countOfClusters_ = static_cast<std::int32_t>(clusters);
    rootCluster_ = static_cast<std::int32_t>(b.FirstClusterOfRootDirectory);
    rootDirSector_ = static_cast<std::int32_t>(std::min<std::int64_t>(ClusterToSector(rootCluster_), Int32Max));
    fatCopyForChains_ = static_cast<std::uint8_t>(1 + b.ActiveFat());
    layout_.Source = LayoutSource::BootSector;
    layout_.Usable = true;
    return support::True;
}

ExFatVolumeBounds FATEngine::ExFatBounds() const {
    return {std::int64_t(countOfClusters_) + 1, volumeClusters_ + 1, bytesPerCluster_};
}

bool FATEngine::ReadClusterBytes(const std::vector<std::int64_t>& clusters, std::uint64_t bytes, std::uint8_t fill,
                                 std::vector<std::uint8_t>& out) {
    const std::int64_t spc = layout_.Boot.SectorsPerCluster;
    const std::int64_t clusterBytes = bytesPerCluster_;
    const std::int64_t deviceSector = std::max<std::int64_t>(SectorBytes(), 1);
    const std::int64_t chunkClusters = std::max<std::int64_t>(1, ReadChunkSectors / std::max<std::int64_t>(spc * sectorRatio_, 1));
    out.assign(static_cast<std::size_t>(std::min<std::uint64_t>(bytes, clusters.size() * std::uint64_t(clusterBytes))), fill);
    bool whole = true;
    // Adjacent clusters are read together, a few at a time.
    for (std::size_t i = 0; i < clusters.size();) {
        std::size_t n = 1;
        while (i + n < clusters.size() && std::int64_t(n) < chunkClusters && clusters[i + n] == clusters[i] + std::int64_t(n)) ++n;
        const std::size_t at = i * static_cast<std::size_t>(clusterBytes);
        if (at >= out.size()) break;
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::int64_t(n) * spc * deviceSector * sectorRatio_));
        if (ReadVolumeSectors(ClusterToSector(clusters[i]), std::int64_t(n) * spc, buffer.data(), buffer.size()))
            std::memcpy(out.data() + at, buffer.data(), std::min(buffer.size(), out.size() - at));
        else
            whole = false;
        i += n;
    }
    return whole;
}

support::Truth FATEngine::ReadExFatTables() {
    cachedFATSector_ = -1;
    platform::DoEvents();
    const std::int64_t bps = layout_.Boot.BytesPerSector;
    const std::size_t entries = static_cast<std::size_t>(std::max(countOfClusters_, 0)) + 2;
    fat1Values_.assign(entries, 0);
    // The active FAT, a chunk at a time; an unreadable chunk reads as free.
    const std::int64_t fatStart = std::int64_t(exfatBoot_.FatOffset) + std::int64_t(exfatBoot_.ActiveFat()) * fatSize_;
    const std::int64_t fatSectors = (std::int64_t(entries) * 4 + bps - 1) / bps;
    const std::int64_t chunk = std::max<std::int64_t>(1, ReadChunkSectors / sectorRatio_);
    std::vector<std::uint8_t> buffer;
    for (std::int64_t done = 0; done < fatSectors && !stopRequested_; done += chunk) {
        const std::int64_t n = std::min(chunk, fatSectors - done);
        buffer.assign(static_cast<std::size_t>(n * SectorBytes()), 0);
        if (!ReadVolumeSectors(fatStart + done, n, buffer.data(), buffer.size())) continue;
        const ByteView view(buffer);
        const std::size_t first = static_cast<std::size_t>(done * bps / 4);
        for (std::size_t k = 0; k < buffer.size() / 4 && first + k < entries; ++k)
            fat1Values_[first + k] = platform::ReadLe32(view, k * 4);
        platform::DoEvents();
    }
    fat1Values_[0] = fat1Values_[1] = 0;

    // The allocation bitmap of the active FAT, named in the root directory.
    const ExFatVolumeBounds bounds = ExFatBounds();
    const ExFatChain root =
        ExFatChainClusters(rootCluster_, std::int64_t(MaxDirectoryBytes / std::uint64_t(bytesPerCluster_)), fat1Values_, bounds);
    std::vector<std::uint8_t> rootBytes;
    ReadClusterBytes(root.Clusters, MaxDirectoryBytes, UnreadableDirectoryFill, rootBytes);
    const ExFatDirectoryContents contents = ParseExFatDirectory(rootBytes);
    const ExFatBitmapEntry* entry = nullptr;
    for (const ExFatBitmapEntry& bitmap : contents.Bitmaps)
        if (!entry || bitmap.FatIndex == exfatBoot_.ActiveFat()) entry = &bitmap;
    exfatBitmap_ = ExFatBitmap{};
    if (!entry) {
        TraceMessage("NO ALLOCATION BITMAP");
        return support::True;
    }
    // The bitmap is no longer than one bit per cluster of the volume.
    const std::uint64_t length = std::min<std::uint64_t>(entry->DataLength, (std::uint64_t(volumeClusters_) + 7) / 8);
    ExFatExtent extent{entry->FirstCluster, length, false, false};
    ExFatChain chain = ExFatFileClusters(extent, fat1Values_, ExFatBitmap{}, bounds);
    if (chain.End != ExFatChainEnd::Whole) {
        extent.Contiguous = true;
        chain = ExFatFileClusters(extent, fat1Values_, ExFatBitmap{}, bounds);
    }
    std::vector<std::uint8_t> bits;
    if (!ReadClusterBytes(chain.Clusters, length, 0, bits) || chain.End != ExFatChainEnd::Whole)
        TraceMessage("ALLOCATION BITMAP NOT READ WHOLE");
    exfatBitmap_ = ExFatBitmap(std::move(bits), volumeClusters_);
    return support::True;
}

support::Truth FATEngine::WalkExFatDirectories() {
    return WalkFolderList([this](std::int32_t index, std::unordered_set<std::int64_t>& walkedClusters) {
        if (index < 0) {
            ReadExFatDirectory(-1, ExFatExtent{rootCluster_, 0, false, false}, walkedClusters);
            return;
        }
        // A copy: the read adds to the list.
        const DirRecord record = directories_[static_cast<std::size_t>(index)];
        const ExFatExtent extent{record.FirstCluster, std::min(record.Length, MaxDirectoryBytes), record.Contiguous,
                                 (record.Flags & 1) != 0};
        ReadExFatDirectory(index, extent, walkedClusters);
    });
}

void FATEngine::ReadExFatDirectory(std::int32_t parent, const ExFatExtent& extent,
                                   std::unordered_set<std::int64_t>& walkedClusters) {
    platform::DoEvents();
    if (stopRequested_) return;
    const ExFatVolumeBounds bounds = ExFatBounds();
    // The root has no recorded length: its chain says where it ends.
    ExFatChain chain = parent < 0 ? ExFatChainClusters(extent.FirstCluster,
                                                       std::int64_t(MaxDirectoryBytes / std::uint64_t(bytesPerCluster_)),
                                                       fat1Values_, bounds)
                                  : ExFatFileClusters(extent, fat1Values_, exfatBitmap_, bounds);
    // A cluster belongs to one folder: a folder stops where it runs into
    // clusters another folder has read (aliases and loops of a damaged card).
    std::vector<std::int64_t>& clusters = chain.Clusters;
    const auto taken = std::find_if(clusters.begin(), clusters.end(),
                                    [&](std::int64_t c) { return walkedClusters.count(c) != 0; });
    clusters.erase(taken, clusters.end());
    walkedClusters.insert(clusters.begin(), clusters.end());
    if (clusters.empty()) return;

    std::vector<std::uint8_t> bytes;
    const std::uint64_t length = parent < 0 ? MaxDirectoryBytes : extent.Bytes;
    if (!ReadClusterBytes(clusters, length, UnreadableDirectoryFill, bytes))
        RaiseError("Folder /" + (parent < 0 ? std::string() : DirectoryPath(parent)) +
                   ": part of it could not be read; the entries it holds were skipped");
    const ExFatDirectoryContents contents = ParseExFatDirectory(bytes);
    for (const ExFatEntrySet& set : contents.Sets) {
        platform::DoEvents();
        if (stopRequested_) return;
        AddExFatEntrySet(parent, set);
    }
}

void FATEngine::AddExFatEntrySet(std::int32_t parent, const ExFatEntrySet& set) {
    const std::int64_t first = set.FirstCluster;
    const bool firstInVolume = first >= 2 && first <= volumeClusters_ + 1;
    if (set.IsDirectory()) {
        // A deleted folder is read only while its first cluster is free;
        // once reused, it holds another file's bytes.
        if (set.Deleted && (!firstInVolume || exfatBitmap_.InUse(first))) return;
        DirRecord record;
        record.Name = set.Name;
        record.FirstCluster = firstInVolume ? static_cast<std::int32_t>(first) : 0;
        record.ParentIndex = parent;
        record.Contiguous = set.NoFatChain;
        record.Length = set.DataLength;
        if (set.Deleted) {
            record.Flags = 1;
            record.Status = 1;
        }
        AddDirectory(std::move(record));
        return;
    }
    // Only bytes within the valid data length were ever written.
    const std::uint64_t size = std::min(set.ValidDataLength, set.DataLength);
    if (size != 0 && !firstInVolume) return;
    // No file is larger than the cluster heap: such a length is damage.
    if (size > static_cast<std::uint64_t>(volumeClusters_) * static_cast<std::uint64_t>(bytesPerCluster_)) return;
    FileRecord record;
    record.Attributes = static_cast<std::uint8_t>(set.Attributes & 0x37);
    record.FirstCluster = firstInVolume ? static_cast<std::int32_t>(first) : 0;
    record.WriteDate = static_cast<std::uint16_t>(set.ModifiedTimestamp >> 16);
    record.WriteTime = static_cast<std::uint16_t>(set.ModifiedTimestamp & 0xFFFF);
    record.WriteTime10ms = set.Modified10ms;
    record.WriteUtcOffset = set.ModifiedUtcOffset;
    record.CreateDate = static_cast<std::uint16_t>(set.CreateTimestamp >> 16);
    record.CreateTime = static_cast<std::uint16_t>(set.CreateTimestamp & 0xFFFF);
    record.CreateTimeTenths = set.Create10ms;
    record.CreateUtcOffset = set.CreateUtcOffset;
    record.AccessDate = static_cast<std::uint16_t>(set.AccessedTimestamp >> 16);
    record.Name = set.Name;
    record.Size = size;
    record.ParentIndex = parent;
    record.Contiguous = set.NoFatChain;
    if (set.Deleted) {
        record.Flags = 1;
        record.Status = (size == 0 || !exfatBitmap_.InUse(first)) ? 1 : 2;
    }
    AddFile(std::move(record));
}

support::Truth FATEngine::SaveExFatFile(FileRecord& file, const std::string& relativeFolder) {
    lastSaveOutcome_ = SaveOutcome::NotWritten;
    std::int64_t current = file.FirstCluster;
    try {
        const ExFatExtent extent{file.FirstCluster, file.Size, file.Contiguous, (file.Flags & 1) != 0};
        const ExFatChain chain = ExFatFileClusters(extent, fat1Values_, exfatBitmap_, ExFatBounds());
        const std::uint64_t sizeOnCard = file.Size;
        const std::uint64_t readable = chain.Clusters.size() * std::uint64_t(bytesPerCluster_);
        // What the card no longer holds is neither read again nor made up.
        if (file.Size > readable) file.Size = readable;

        const std::string folder = JoinFolder(destFolder_, relativeFolder);
        ForceDirectories(folder);
        ReadShortfall shortfall;
        if (chain.End != ExFatChainEnd::Whole) {
            shortfall.clustersRanOut = true;
            shortfall.clustersReason = IncompleteReason(chain.End);
        }
        const WrittenFile written = WriteSavedFile(file, folder, chain.Clusters, current, shortfall);
        return ReportSavedFile(file, folder, written, chain.Clusters, shortfall, sizeOnCard);
    } catch (const std::exception& error) {
        RaiseError("Exc in SaveFATFileEXT : " + PrintableName(file.Name) + "  err: " + error.what() + "; lngLastCluster=" +
                   MessageNumber(current));
        return support::False;
    }
}

} // namespace engine
