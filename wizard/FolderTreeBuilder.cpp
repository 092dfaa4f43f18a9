#include "wizard/FolderTreeBuilder.h"

#include <algorithm>
#include <set>
#include <unordered_set>

#include "engine/DeletedName.h"
#include "engine/DirEntry.h"
#include "engine/SafeName.h"

namespace wizard {

namespace {

constexpr std::size_t EntryBytes = 32;
// No camera or computer nests folders this deep; a hostile card's chain of
// parents ends here.
constexpr std::size_t MaxFolderDepth = 128;

std::string LostFolderName(std::int64_t cluster) { return "Folder " + std::to_string(cluster); }

} // namespace

FolderTreeBuilder::FolderTreeBuilder(const std::vector<FolderSector>& sectors, const ClusterLayout& layout,
                                     FolderTreeSettings settings)
    : layout_(layout), settings_(std::move(settings)) {
    for (const FolderSector& s : sectors) {
        const std::int64_t cluster = layout_.ClusterHolding(s.sector);
        if (cluster < 2) continue;
        const std::int64_t index = s.sector - layout_.ClusterSector(cluster);
        clusters_[cluster][index] = &s;
        // A folder start whose "." names another cluster was written in
        // another layout (an older format): its clusters cannot be found.
        if (index == 0 && s.test.kind == DirectorySectorKind::FolderStart && s.test.ownCluster == cluster)
            starts_[cluster] = &s;
    }
}

bool FolderTreeBuilder::IsFullCluster(std::int64_t cluster) const {
    const auto it = clusters_.find(cluster);
    if (it == clusters_.end() || static_cast<std::int64_t>(it->second.size()) != layout_.sectorsPerCluster) return false;
    return std::none_of(it->second.begin(), it->second.end(), [](const auto& s) { return s.second->test.endsFolder; });
}

// A cluster that may continue a folder: kept from its first sector on, and
// no folder's start.
bool FolderTreeBuilder::IsContinuation(std::int64_t cluster) const {
    const auto it = clusters_.find(cluster);
    return it != clusters_.end() && it->second.count(0) && !starts_.count(cluster) && !assigned_.count(cluster);
}

// The first cluster and, while each is full, the next one when it
// continues a folder: with the FAT gone, a folder is taken to go on in the
// cluster that follows, as the turbo scan does with a wiped FAT.
std::vector<std::int64_t> FolderTreeBuilder::ClustersFrom(std::int64_t first) {
    std::vector<std::int64_t> chain{first};
    assigned_[first] = true;
    std::int64_t cluster = first;
    while (IsFullCluster(cluster) && IsContinuation(cluster + 1)) {
        ++cluster;
        chain.push_back(cluster);
        assigned_[cluster] = true;
    }
    return chain;
}

void FolderTreeBuilder::ParseUnit(Unit& unit, LongNameParts carried) {
    entriesKept_ -= unit.entries.size();
    unit.entries.clear();
    unit.trailing.Clear();
    unit.lastEntryCluster = 0;
    bool first = true;
    LongNameParts longName = std::move(carried);
    for (const std::int64_t cluster : unit.clusters) {
        const auto& sectors = clusters_.at(cluster);
        for (std::int64_t index = 0; index < layout_.sectorsPerCluster; ++index) {
            const auto it = sectors.find(index);
            // A sector that was not kept holds nothing of the folder; a name
            // cannot run across it.
            if (it == sectors.end()) {
                longName.Clear();
                continue;
            }
            const auto bytes = it->second->bytes;
            for (std::size_t at = 0; at + EntryBytes <= bytes.size(); at += EntryBytes) {
                engine::RawEntry raw{};
                std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), EntryBytes, raw.begin());
                if (first) unit.firstEntry = raw;
                first = false;
                if (raw[0] == 0) return;  // the folder's end: no name stays open
                if (raw[11] == engine::AttrLongName) {
                    longName.Add(engine::ParseLongNameEntry(raw));
                    continue;
                }
                const engine::DirEntry entry = engine::ParseDirEntry(raw);
                const std::string longText = longName.NameFor(entry);
                longName.Clear();
                if (raw[0] == '.' || (entry.Attributes & engine::AttrVolumeLabel)) continue;
                if (entriesKept_ >= settings_.maxEntries) return;
                ParsedEntry parsed;
                parsed.longName = !longText.empty();
                parsed.name = parsed.longName ? longText : engine::BuildShortName(entry);
                parsed.directory = (entry.Attributes & engine::AttrDirectory) != 0;
                parsed.deleted = entry.IsDeleted();
                if (parsed.deleted && !parsed.longName)
                    parsed.name = engine::RepairDeletedName(
                        parsed.name, parsed.directory ? settings_.standardDirNames : settings_.standardFileNames);
                parsed.firstCluster = entry.FirstCluster();
                unit.lastEntryCluster = std::max(unit.lastEntryCluster, parsed.firstCluster);
                parsed.size = entry.FileSize;
                parsed.writeTime = entry.WriteTime;
                parsed.writeDate = entry.WriteDate;
                unit.entries.push_back(std::move(parsed));
                ++entriesKept_;
            }
        }
    }
    unit.trailing = std::move(longName);
}

// A run of folder clusters without a start belongs to the folder that its
// subfolders name as their parent: a folder continued elsewhere on the card,
// or (when they name the root) the old root folder itself.
void FolderTreeBuilder::AssignOrphan(Unit& unit) const {
    std::map<std::int64_t, std::size_t> votes;
    for (const ParsedEntry& e : unit.entries) {
        if (!e.directory) continue;
        const auto start = starts_.find(e.firstCluster);
        if (start == starts_.end()) continue;
        const std::int64_t parent = start->second->test.parentCluster;
        if (IsRoot(parent)) ++votes[0];
        else if (starts_.count(parent) && parent != e.firstCluster) ++votes[parent];
    }
    if (votes.empty()) return;
    unit.owner = std::max_element(votes.begin(), votes.end(), [](const auto& a, const auto& b) {
                     return a.second < b.second;
                 })->first;
}

// Otherwise a run of clusters continues a folder that is full and has not
// found its continuation yet: the one whose last long name runs on into the
// run's first entry, else the only one that filled before the run's first
// cluster was taken (folders grow into clusters allocated after their
// entries' files). A run that fits no folder, or more than one, stays a
// folder of its own: a guess would put files into the wrong folder.
void FolderTreeBuilder::AssignToOpenFolder(Unit& orphan, std::map<std::int64_t, Unit*>& openTails) {
    const std::int64_t first = orphan.clusters.front();
    if (orphan.owner < 0) {
        std::vector<Unit*> named, filledBefore;
        for (const auto& [owner, unit] : openTails) {
            if (unit->clusters.back() >= first) continue;
            if (unit->trailing.ContinuesInto(orphan.firstEntry)) named.push_back(unit);
            if (unit->lastEntryCluster < first) filledBefore.push_back(unit);
        }
        if (named.size() == 1) orphan.owner = named.front()->owner;
        else if (named.empty() && filledBefore.size() == 1) orphan.owner = filledBefore.front()->owner;
    }
    if (orphan.owner <= 0) return;
    const auto before = openTails.find(orphan.owner);
    if (before != openTails.end()) {
        // A long name may run on from the cluster before.
        if (!before->second->trailing.Empty()) ParseUnit(orphan, before->second->trailing);
        openTails.erase(before);
    }
    if (orphan.openTail) openTails[orphan.owner] = &orphan;
}

void FolderTreeBuilder::NameFolders() {
    // The entries that name each folder, the one in its parent first, then
    // live ones, then long names.
    std::map<std::int64_t, std::pair<int, const ParsedEntry*>> best;
    for (const Unit& unit : units_) {
        for (const ParsedEntry& e : unit.entries) {
            if (!e.directory) continue;
            const auto start = starts_.find(e.firstCluster);
            if (start == starts_.end()) continue;
            const std::int64_t parent = start->second->test.parentCluster;
            const bool inParent = unit.owner == parent || (unit.owner == 0 && IsRoot(parent));
            const int score = (inParent ? 4 : 0) + (e.deleted ? 0 : 2) + (e.longName ? 1 : 0);
            auto& slot = best[e.firstCluster];
            if (!slot.second || score > slot.first) slot = {score, &e};
        }
    }
    for (const auto& [cluster, sector] : starts_) {
        FoundFolder folder;
        folder.cluster = cluster;
        folder.parentCluster = sector->test.parentCluster;
        const auto named = best.find(cluster);
        if (named != best.end()) {
            folder.name = named->second.second->name;
            folder.nameFound = true;
            folder.deleted = named->second.second->deleted;
        } else {
            folder.name = LostFolderName(cluster);
        }
        folders_[cluster] = folder;
    }
    SetPaths();
}

// Each folder's path from its parent's, set parents first, so that a chain
// of folders thousands deep costs one step a folder: up through the parents
// to the root, a parent whose folder is gone as "Folder <cluster>", a chain
// that loops cut where it comes round. Below MaxFolderDepth levels a folder
// takes the path of the one above it: no camera or computer nests folders
// that deep, and a hostile card's chain stays bounded.
void FolderTreeBuilder::SetPaths() {
    std::vector<std::int64_t> chain;
    std::unordered_set<std::int64_t> onChain;
    for (const auto& [cluster, unused] : folders_) {
        if (levels_.count(cluster) != 0) continue;
        // Up to the first folder whose parent is set, gone, the root, or
        // already on the way (a loop).
        chain.clear();
        onChain.clear();
        for (std::int64_t current = cluster;;) {
            chain.push_back(current);
            onChain.insert(current);
            const std::int64_t parent = folders_.at(current).parentCluster;
            if (IsRoot(parent) || folders_.count(parent) == 0 || levels_.count(parent) != 0 ||
                onChain.count(parent) != 0)
                break;
            current = parent;
        }
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) SetPath(*it);
    }
}

// The folder's path below its parent's, which is set (or the parent is the
// root, gone, or the folder heads a loop).
void FolderTreeBuilder::SetPath(std::int64_t cluster) {
    FoundFolder& folder = folders_.at(cluster);
    const std::int64_t parentCluster = folder.parentCluster;
    std::string above, aboveOnCard;
    std::size_t levels = 0;
    bool nameLost = !folder.nameFound;
    if (!IsRoot(parentCluster)) {
        const auto parent = folders_.find(parentCluster);
        if (parent == folders_.end()) {
            aboveOnCard = LostFolderName(parentCluster);
            above = engine::SafeFileName(aboveOnCard);
            levels = 1;
            nameLost = true;
        } else if (const auto set = levels_.find(parentCluster); set != levels_.end()) {
            above = parent->second.path;
            aboveOnCard = parent->second.cardPath;
            levels = set->second;
            nameLost = nameLost || nameLost_.count(parentCluster) != 0;
        }
    }
    if (levels >= MaxFolderDepth) {
        folder.path = above;
        folder.cardPath = aboveOnCard;
    } else {
        const std::string own = engine::SafeFileName(folder.name);
        folder.path = above.empty() ? own : above + "/" + own;
        folder.cardPath = aboveOnCard.empty() ? folder.name : aboveOnCard + "/" + folder.name;
        ++levels;
    }
    levels_[cluster] = levels;
    if (nameLost) nameLost_.insert(cluster);
}

FolderTree FolderTreeBuilder::Build() {
    for (const auto& [cluster, sector] : starts_) {
        Unit unit;
        unit.clusters = ClustersFrom(cluster);
        unit.owner = cluster;
        units_.push_back(std::move(unit));
    }
    std::vector<Unit> orphans;
    for (const auto& [cluster, sectors] : clusters_) {
        if (!IsContinuation(cluster)) continue;
        Unit unit;
        unit.clusters = ClustersFrom(cluster);
        orphans.push_back(std::move(unit));
    }
    std::map<std::int64_t, Unit*> openTails;  // by owner
    for (Unit& unit : units_) {
        ParseUnit(unit);
        unit.openTail = IsFullCluster(unit.clusters.back());
        if (unit.openTail) openTails[unit.owner] = &unit;
    }
    for (Unit& unit : orphans) {
        ParseUnit(unit);
        unit.openTail = IsFullCluster(unit.clusters.back());
        AssignOrphan(unit);
        AssignToOpenFolder(unit, openTails);
    }
    units_.insert(units_.end(), std::make_move_iterator(orphans.begin()), std::make_move_iterator(orphans.end()));
    NameFolders();

    std::vector<FoundEntry> files = FoundFiles();
    std::vector<FoundFolder> folders;
    for (auto& [cluster, folder] : folders_) folders.push_back(std::move(folder));
    return FolderTree(layout_, settings_.bytesPerSector, std::move(folders), std::move(files));
}

// The files of every folder's entries, with their paths (made safe) and
// their paths as the card has them.
std::vector<FoundEntry> FolderTreeBuilder::FoundFiles() const {
    std::vector<FoundEntry> files;
    for (const Unit& unit : units_) {
        std::string folderPath, cardFolder;
        if (unit.owner > 0) {
            folderPath = folders_.at(unit.owner).path;
            cardFolder = folders_.at(unit.owner).cardPath;
        } else if (unit.owner < 0) {
            cardFolder = LostFolderName(unit.clusters.front());
            folderPath = engine::SafeFileName(cardFolder);
        }
        const bool nameLost = unit.owner < 0 || (unit.owner > 0 && nameLost_.count(unit.owner) != 0);
        for (const ParsedEntry& e : unit.entries) {
            if (e.directory || e.size == 0 || e.firstCluster < 2) continue;
            FoundEntry found;
            found.name = e.name;
            const std::string fileName = engine::SafeFileName(e.name);
            found.path = folderPath.empty() ? fileName : folderPath + "/" + fileName;
            found.cardPath = cardFolder.empty() ? e.name : cardFolder + "/" + e.name;
            found.folderNameLost = nameLost;
            found.folderCluster = unit.owner > 0 ? unit.owner : 0;
            found.firstCluster = e.firstCluster;
            found.size = e.size;
            found.writeTime = e.writeTime;
            found.writeDate = e.writeDate;
            found.deleted = e.deleted;
            found.byteOffset = layout_.ClusterSector(e.firstCluster) * std::int64_t(settings_.bytesPerSector);
            files.push_back(std::move(found));
        }
    }
    return files;
}

} // namespace wizard
