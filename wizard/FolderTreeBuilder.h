// Rebuilds the folder tree from the folder sectors the deep scan kept, once
// the cluster layout is known: which clusters make up each folder (its
// first cluster and the ones that continue it), the entries they hold with
// their long names, each folder's name from the entry that points at it,
// and each path from ".." up to the root.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "wizard/DirectorySector.h"
#include "wizard/FolderLayout.h"
#include "wizard/FolderTree.h"
#include "wizard/LongNameParts.h"

namespace wizard {

// A sector the whole-sector test took for a folder's.
struct FolderSector {
    std::int64_t sector = 0;
    DirectorySectorTest test;
    std::span<const std::uint8_t> bytes;
};

struct FolderTreeSettings {
    std::uint32_t bytesPerSector = 512;
    // The FAT32 root's first cluster as the boot sector gives it (0: none);
    // a ".." naming it means the root, as 0 does.
    std::int64_t rootCluster = 0;
    std::vector<std::string> standardDirNames;
    std::vector<std::string> standardFileNames;
    std::size_t maxEntries = 1000000;
};

class FolderTreeBuilder {
public:
    // sectors sorted by sector number, each once.
    FolderTreeBuilder(const std::vector<FolderSector>& sectors, const ClusterLayout& layout,
                      FolderTreeSettings settings);
    FolderTree Build();

private:
    // One short entry with the name it ends up with.
    struct ParsedEntry {
        std::string name;
        bool longName = false;
        bool directory = false;
        bool deleted = false;
        std::int64_t firstCluster = 0;
        std::uint32_t size = 0;
        std::uint16_t writeTime = 0;
        std::uint16_t writeDate = 0;
    };
    // Clusters read as one folder: a folder's own (from its "." cluster on)
    // or a run found without a folder start.
    struct Unit {
        std::vector<std::int64_t> clusters;
        std::vector<ParsedEntry> entries;
        std::int64_t owner = -1;  // the folder's first cluster; 0 the root; -1 not known
        bool openTail = false;    // its last cluster is full: the folder goes on somewhere
        LongNameParts trailing;   // a long name that its last cluster leaves open
        engine::RawEntry firstEntry{};
        std::int64_t lastEntryCluster = 0;  // the highest first cluster its entries name
    };

    bool IsFullCluster(std::int64_t cluster) const;
    bool IsContinuation(std::int64_t cluster) const;
    std::vector<std::int64_t> ClustersFrom(std::int64_t first);
    // carried: a long name begun in the folder's cluster before the unit.
    void ParseUnit(Unit& unit, LongNameParts carried = {});
    void AssignOrphan(Unit& unit) const;
    void AssignToOpenFolder(Unit& orphan, std::map<std::int64_t, Unit*>& openTails);
    void NameFolders();
    std::vector<FoundEntry> FoundFiles() const;
    void SetPaths();
    void SetPath(std::int64_t cluster);
    // 0, or the FAT32 root cluster when no folder of the card starts there.
    bool IsRoot(std::int64_t cluster) const {
        return cluster == 0 || (cluster == settings_.rootCluster && !starts_.count(cluster));
    }

    const ClusterLayout layout_;
    FolderTreeSettings settings_;
    // Kept sectors by cluster, by index within the cluster.
    std::map<std::int64_t, std::map<std::int64_t, const FolderSector*>> clusters_;
    std::map<std::int64_t, const FolderSector*> starts_;  // by the folder's first cluster
    std::map<std::int64_t, bool> assigned_;
    std::vector<Unit> units_;
    std::map<std::int64_t, FoundFolder> folders_;
    std::unordered_map<std::int64_t, std::size_t> levels_; // of each folder's path, once set
    std::unordered_set<std::int64_t> nameLost_;            // folders with a folder on their path named after its cluster
    std::size_t entriesKept_ = 0;
};

} // namespace wizard
