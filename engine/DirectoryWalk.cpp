// The directory walk: breadth first from the root, 32 bytes at a time, with
// deleted entries, long names, realigned entries and the repair of deleted
// short names. Everything read here comes from the card and is bounded by
// the volume.
#include <algorithm>
#include <cstring>

#include "engine/FATEngine.h"
#include "engine/DeletedName.h"
#include "engine/EngineText.h"
#include "engine/FileTypeTable.h"
#include "engine/TextEncoding.h"
#include "platform/ui.h"

namespace engine {

namespace {

std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Folders nested deeper than this are not read. No camera or computer makes
// such a tree (a path of 128 one-letter folders is at the limit of what
// Windows takes); a damaged card can chain thousands of folders, each
// cluster naming the next, and every level would cost the walk, the paths
// and the saved tree time in proportion to the depth.
constexpr std::size_t MaxFolderDepth = 128;

// Levels from the root to the folder (the root's folders are at level 1),
// counted up to one past the limit.
std::size_t FolderDepth(const std::vector<DirRecord>& directories, std::size_t index) {
    std::size_t depth = 1;
    std::int32_t parent = directories[index].ParentIndex;
    while (parent >= 0 && static_cast<std::size_t>(parent) < directories.size() && depth <= MaxFolderDepth) {
        ++depth;
        parent = directories[static_cast<std::size_t>(parent)].ParentIndex;
    }
    return depth;
}

} // namespace

support::Truth FATEngine::WalkDirectories() {
    if (fatType_ == FatTypeExFAT) return WalkExFatDirectories();
    return WalkFolderList([this](std::int32_t index, std::unordered_set<std::int64_t>& walkedClusters) {
        if (index < 0) {
            ReadDirectory(-1, rootCluster_, rootDirSector_, walkedClusters);
            return;
        }
        // A copy: the read adds to the list.
        const DirRecord record = directories_[static_cast<std::size_t>(index)];
        ReadDirectory(index, record.FirstCluster, record.FirstSector, walkedClusters);
    });
}

support::Truth FATEngine::WalkFolderList(const FolderReader& readFolder) {
    // Each directory start is read once: entries of other names that point
    // at a folder already read (a damaged card's aliases and loops) add no
    // work beyond their own record.
    std::unordered_set<std::int64_t> readStarts{rootCluster_};
    // Bounds the whole walk by the volume: each cluster is read into at
    // most one folder beyond its own first one (a wiped FAT's guessed
    // chains, or chains that merge, would otherwise read the same clusters
    // for every folder that starts before them).
    std::unordered_set<std::int64_t> walkedClusters;
    readFolder(-1, walkedClusters);
    if (stopRequested_) return support::False;
    bool tooDeepReported = false;
    // The list grows while it is walked: breadth first. 32-bit index, so
    // that cards with more than 32,767 folders are walked to the end.
    for (std::size_t i = 0; i < directories_.size(); ++i) {
        if (directories_[i].Visited) continue;
        if (FolderDepth(directories_, i) > MaxFolderDepth) {
            if (!tooDeepReported)
                RaiseError("Folders nested more than" + MessageNumber(static_cast<std::int64_t>(MaxFolderDepth)) +
                           " levels deep were not read; the deep scan still finds their photos");
            tooDeepReported = true;
            directories_[i].Visited = support::True;
            continue;
        }
        if (readStarts.insert(directories_[i].FirstCluster).second)
            readFolder(static_cast<std::int32_t>(i), walkedClusters);
        if (stopRequested_) return support::False;
        directories_[i].Visited = support::True;
    }
    return support::True;
}

bool FATEngine::ReadDirectory(std::int32_t parent, std::int64_t cluster, std::int64_t sector,
                              std::unordered_set<std::int64_t>& walkedClusters) {
    // A directory other than the fixed root starts at a cluster of the volume.
    if (cluster != 0 && (cluster < 2 || cluster > std::int64_t(countOfClusters_) + 1)) return true;
    if (cluster == 0 && parent != -1) return true;
    DirectoryCursor cursor;
    cursor.cluster = cluster;
    cursor.sector = sector;
    cursor.index = 0;
    cursor.folder = parent < 0 ? "/" : "/" + DirectoryPath(parent);
    cursor.walkedClusters = &walkedClusters;
    if (cluster != 0) {
        walkedClusters.insert(cluster);
        cursor.clustersRead = 1;
    }
    for (;;) {
        platform::DoEvents();
        if (stopRequested_) return false;
        NextEntry next;
        if (!GetNextDirEntry(cursor, next)) return true;
        const DirEntry& entry = next.entry;
        const std::int64_t firstCluster = entry.FirstCluster();

        if (entry.Attributes & AttrDirectory) {
            if (next.name == "." || next.name == "..") continue;
            if (entry.IsDeleted() && !IsLiveDeletedDirectory(firstCluster)) continue;
            DirRecord record;
            record.Name = next.name;
            record.FirstCluster = static_cast<std::int32_t>(firstCluster);
            record.FirstSector = 0;
            record.ParentIndex = parent;
            if (entry.IsDeleted()) {
                record.Flags = 1;
                record.Status = FileDataIsRecoverable(entry, firstCluster) ? 1 : 2;
                if (!next.longName) record.Name = RepairDeletedName(record.Name, standardDirNames_);
            }
            AddDirectory(std::move(record));
        } else if (!(entry.Attributes & AttrVolumeLabel)) {
            if (!IsValidEntry(entry)) continue;
            FileRecord record;
            record.Attributes = entry.Attributes;
            record.FirstCluster = static_cast<std::int32_t>(firstCluster);
            record.WriteTime = entry.WriteTime;
            record.WriteDate = entry.WriteDate;
            record.CreateTimeTenths = entry.CreateTimeTenths;
            record.CreateTime = entry.CreateTime;
            record.CreateDate = entry.CreateDate;
            record.AccessDate = entry.LastAccessDate;
            record.Name = next.name;
            record.Size = entry.FileSize;
            record.Realigned = support::ToTruth(next.realigned);
            record.ParentIndex = parent;
            if (entry.IsDeleted()) {
                record.Flags = 1;
                record.Status = (FileDataIsRecoverable(entry, firstCluster) || entry.FileSize == 0) ? 1 : 2;
                if (!next.longName) record.Name = RepairDeletedName(record.Name, standardFileNames_);
            }
            AddFile(std::move(record));
        }
        // Volume labels and long-name entries without a name are ignored.
    }
}

// A deleted entry's data may still be there when the FAT entry of its first
// cluster is free.
bool FATEngine::FileDataIsRecoverable(const DirEntry&, std::int64_t firstCluster) {
    return firstCluster >= 2 && ClassifyFATValue(fatType_, ReadFATEntry(firstCluster, 0)) == FatFree;
}

bool FATEngine::GetNextDirEntry(DirectoryCursor& cursor, NextEntry& next) {
    RawEntry raw{};
    if (!GetNextFATRecord(cursor, raw)) return false;
    next.entry = ParseDirEntry(raw);
    if (next.entry.NameBytes[0] == 0) return false;
    next.longName = false;
    next.realigned = false;
    if (next.entry.Attributes == AttrLongName) {
        std::string longName;
        if (AssembleLongName(cursor, raw, next.entry, longName)) {
            next.name = longName;
            next.longName = true;
        }
    } else {
        next.name = BuildShortName(next.entry);
    }
    if (next.entry.NameBytes[0] != 0 && !IsValidEntry(next.entry) && next.name != "." && next.name != "..") {
        if (RealignEntry(cursor, next.entry)) {
            next.name = BuildShortName(next.entry);
            next.longName = false;
            next.realigned = true;
        }
    }
    return true;
}

std::int64_t FATEngine::CursorSector(DirectoryCursor& cursor) {
    const std::int64_t bps = layout_.Boot.BytesPerSector;
    const std::int64_t entriesPerSector = bps / 32;
    if (cursor.cluster == 0) {
        if (cursor.index >= entriesPerSector) {
            cursor.index = 0;
            cursor.sector += 1;
        }
        const std::int64_t sector = cursor.sector + (cursor.index * 32) / bps;
        // The fixed root has no end but a zero name byte; the volume's end
        // (or the drive's, when the boot sector claims more) is the last
        // place to look for one.
        return sector < readableSectors_ ? sector : -1;
    }
    if (cursor.index >= bytesPerCluster_ / 32) {
        if (!StepToNextCluster(cursor)) return -1;
    }
    return ClusterToSector(cursor.cluster) + (cursor.index * 32) / bps;
}

bool FATEngine::StepToNextCluster(DirectoryCursor& cursor) {
    const std::int64_t lastCluster = std::int64_t(countOfClusters_) + 1;
    const std::int64_t nextCluster =
        fatCopyForChains_ == 0 ? cursor.cluster + 1 : ReadFATEntry(cursor.cluster, fatCopyForChains_ - 1);
    if (IsEndOfChain(static_cast<std::uint32_t>(nextCluster))) return false;
    // A free or reserved value leads nowhere, a cluster beyond the volume
    // ends the directory, and a cluster read before means the chain loops.
    if (nextCluster < 2 || nextCluster > lastCluster) return false;
    std::unordered_set<std::int64_t>& read = cursor.walkedClusters ? *cursor.walkedClusters : cursor.seenClusters;
    if (!read.insert(nextCluster).second) return false;
    if (++cursor.clustersRead > std::int64_t(countOfClusters_)) return false;
    cursor.cluster = nextCluster;
    cursor.index = 0;
    return true;
}

bool FATEngine::SkipUnreadableSector(DirectoryCursor& cursor, std::int64_t sector) {
    // An unreadable sector has no entries to give: the bytes of another
    // sector must never stand in for them. A probe just fails; a walk says
    // so once per folder and goes on with the folder's next sector.
    if (cursor.folder.empty()) return false;
    if (!cursor.readErrorReported) {
        cursor.readErrorReported = true;
        RaiseError("Folder " + cursor.folder + ": sector" + MessageNumber(sector) +
                   " could not be read; the entries it holds were skipped");
    }
    const std::int64_t entriesPerSector = layout_.Boot.BytesPerSector / 32;
    cursor.index = (cursor.index / entriesPerSector + 1) * entriesPerSector;
    return true;
}

bool FATEngine::GetNextFATRecord(DirectoryCursor& cursor, RawEntry& out) {
    if (cursor.cluster > std::int64_t(countOfClusters_) + 1) return false; // "invalid Cluster parameter"
    if (layout_.Boot.BytesPerSector < 32 || bytesPerCluster_ < 32) return false;
    // Each pass either serves an entry or moves past an unreadable sector,
    // so the walk ends with the directory (its clusters are bounded).
    for (;;) {
        const std::int64_t sector = CursorSector(cursor);
        if (sector < 0) return false;
        if (sector == cachedDirSector_ || ReadDirectorySector(sector)) break;
        if (!SkipUnreadableSector(cursor, sector)) return false;
    }
    const std::int64_t entriesPerSector = layout_.Boot.BytesPerSector / 32;
    const std::size_t at = static_cast<std::size_t>((cursor.index % entriesPerSector) * 32);
    if (at + out.size() > directorySectorBuffer_.size()) return false;
    std::memcpy(out.data(), directorySectorBuffer_.data() + at, out.size());
    cursor.index += 1;
    return true;
}

// Reads a directory sector (and the one after it, when there is one) into
// the directory buffer; false, with the buffer's sector forgotten, when it
// cannot be read.
bool FATEngine::ReadDirectorySector(std::int64_t sector) {
    const std::size_t deviceSector = static_cast<std::size_t>(std::clamp<std::int64_t>(SectorBytes(), 0, 2048));
    bool read = ReadVolumeSectors(sector, 2, bootSectorBuffer_.data(), bootSectorBuffer_.size()) != support::False;
    std::size_t got = 2 * deviceSector;
    if (!read) {
        // The volume's last sector has no second one behind it.
        read = ReadVolumeSectors(sector, 1, bootSectorBuffer_.data(), bootSectorBuffer_.size()) != support::False;
        got = deviceSector;
    }
    if (!read) {
        cachedDirSector_ = -1;
        return false;
    }
    std::memcpy(directorySectorBuffer_.data(), bootSectorBuffer_.data(), got);
    if (got < directorySectorBuffer_.size())
        std::fill(directorySectorBuffer_.begin() + static_cast<std::ptrdiff_t>(got), directorySectorBuffer_.end(), 0);
    cachedDirSector_ = sector;
    return true;
}

bool FATEngine::AssembleLongName(DirectoryCursor& cursor, const RawEntry& firstRaw, DirEntry& entry,
                                 std::string& name) {
    LongNameEntry current = ParseLongNameEntry(firstRaw);
    if (!(current.Sequence & 0x40) || current.Attributes != AttrLongName) return false;
    std::array<char16_t, 256> units{};
    std::size_t position = 234;
    std::size_t gathered = 0;
    int entriesLeft = 18;
    const std::uint8_t checksum = current.Checksum;
    while (current.Attributes == AttrLongName && entriesLeft != 0 && current.Checksum == checksum) {
        if (position >= 13) position -= 13;
        gathered += 13;
        std::copy(current.Units.begin(), current.Units.end(), units.begin() + static_cast<std::ptrdiff_t>(position));
        --entriesLeft;
        if (entriesLeft != 0) {
            RawEntry raw{};
            if (!GetNextFATRecord(cursor, raw)) break;
            current = ParseLongNameEntry(raw);
            if (current.Attributes != AttrLongName) entry = ParseDirEntry(raw);
        }
    }
    std::size_t end = position;
    while (end < units.size() && end - position < gathered && units[end] != 0) ++end;
    name = Utf8FromUtf16Units(units.data() + position, end - position);
    return true;
}

bool FATEngine::IsValidEntry(const DirEntry& entry) const {
    if (!HasValidNameBytes(entry)) return false;
    const BootSectorRecord& boot = layout_.Boot;
    if (boot.BytesPerSector == 0) return false;
    if (entry.FileSize / boot.BytesPerSector > static_cast<std::uint32_t>(std::max(dataSectors_, 0))) return false;
    const std::int64_t firstCluster = entry.FirstCluster();
    if (entry.Attributes & AttrVolumeLabel) return firstCluster == 0;
    if (entry.FileSize != 0) return firstCluster >= 2 && firstCluster <= std::int64_t(countOfClusters_) + 1;
    if (entry.Attributes & AttrDirectory) return true;
    return firstCluster == 0;
}

bool FATEngine::RealignEntry(const DirectoryCursor& cursor, DirEntry& entry) {
    const BootSectorRecord& boot = layout_.Boot;
    const std::int64_t entriesPerSector = boot.BytesPerSector / 32;
    if (entriesPerSector <= 0) return false;
    // The slot of the entry just read (the cursor has moved past it).
    const std::int64_t slot = (cursor.index - 1) % entriesPerSector;
    const std::size_t base = static_cast<std::size_t>(std::max<std::int64_t>(slot, 0) * 32);
    for (std::size_t k = 0; k < 32; ++k) {
        if (base + k + 32 > directorySectorBuffer_.size()) return false;
        RawEntry raw{};
        std::memcpy(raw.data(), directorySectorBuffer_.data() + base + k, 32);
        if (raw[12] != 0) continue;
        if (k == 0) return false;
        entry = ParseDirEntry(raw);
        return true;
    }
    return false;
}

bool FATEngine::IsLiveDeletedDirectory(std::int64_t cluster) {
    if (cluster < 2 || cluster > std::int64_t(countOfClusters_) + 1) return false;
    DirectoryCursor cursor;
    cursor.cluster = cluster;
    cursor.seenClusters.insert(cluster);
    cursor.clustersRead = 1;
    RawEntry first{}, second{};
    if (!GetNextFATRecord(cursor, first) || !GetNextFATRecord(cursor, second)) return false;
    const DirEntry dot = ParseDirEntry(first);
    const DirEntry dotdot = ParseDirEntry(second);
    return BuildShortName(dot) == "." && (dot.Attributes & AttrDirectory) && BuildShortName(dotdot) == ".." &&
           (dotdot.Attributes & AttrDirectory);
}

std::string FATEngine::RepairDeletedName(const std::string& name, const std::vector<std::string>& list) const {
    return engine::RepairDeletedName(name, list);
}

void FATEngine::AddDirectory(DirRecord record) {
    const std::string key = record.Name + '\x01' + std::to_string(record.FirstCluster) + '\x01' +
                            std::to_string(record.FirstSector);
    if (!directoryKeys_.insert(key).second) return;
    // An exFAT card's folders are not a FAT's: the line says which it is.
    const char* kind = fatType_ == FatTypeExFAT ? "exFAT Directory : " : "FAT Directory : ";
    RaiseInfo(kind + PrintableName(TrimBlanks(record.Name)) + " @ " + MessageNumber(record.FirstCluster) + " Cluster (Sector " +
              MessageNumber(ClusterToSector(record.FirstCluster)) + ")");
    directories_.push_back(std::move(record));
}

void FATEngine::AddFile(FileRecord record) {
    if (record.Status == 2) return;
    if (record.FirstCluster == 0 && record.Size != 0) return;
    const std::string key =
        record.Name + '\x01' + std::to_string(record.Size) + '\x01' + std::to_string(record.FirstCluster);
    if (fileKeys_.count(key)) return;
    const std::string extension = GetExtension(record.Name);
    if (!IsSearchableExtension(extension)) {
        if (!(UpperAscii(extension) == "THM" && IsSearchableExtension("JPG"))) return;
    }
    fileKeys_.insert(key);
    RaiseInfo("FAT File : " + PrintableName(TrimBlanks(record.Name)) + " @ " + MessageNumber(record.FirstCluster) + " Cluster (Sector " +
              MessageNumber(ClusterToSector(record.FirstCluster)) + ") (Size " + MessageNumber(record.Size) + ")");
    files_.push_back(std::move(record));
}

} // namespace engine
