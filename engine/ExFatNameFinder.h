// Names for carved files on an exFAT card: the entry sets that folders left
// in the cluster heap (live or deleted, also after a quick format, which
// rewrites only the bitmap, the FAT and the root), gathered from the blocks
// of the deep scan's one pass, and the file each names by the cluster its
// data starts at. A folder's path comes from the folders whose clusters
// hold its set; a folder whose own set is gone (a top-level folder after a
// format) is named after its first cluster ("Folder 1234"), never invented.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/ExFatEntrySet.h"

namespace engine {

class ExFatNameFinder {
public:
    // The cluster heap's first byte and the cluster size, from the layout;
    // rootCluster: the live root, whose folders are at the top (0: none).
    ExFatNameFinder(std::int64_t heapOffsetBytes, std::int64_t clusterBytes, std::int64_t clusterCount,
                    std::int64_t rootCluster);

    // A block of the card at a cluster boundary, as the pass reads it.
    // Blocks of whole clusters keep an entry set that spans two sectors.
    void AddBlock(std::int64_t volumeOffset, const std::uint8_t* bytes, std::size_t size);

    struct NamedFile {
        std::string Path;      // "DCIM/100CANON/IMG_0001.JPG", as the card has it (not made safe)
        std::string SafePath;  // the same, each name made safe (SafeFileName)
        bool FolderNameLost = false;  // a folder on its path is named after its cluster
        ExFatEntrySet Set;     // sizes, times, deleted or not
    };
    // The file whose data starts at that byte of the volume, or nullptr.
    // Of several sets naming one cluster (folders left from older formats):
    // those with the extension (case ignored; empty: any), then the one
    // whose size is nearest to size (when given), then the live one, then
    // the newest, then the later found.
    const NamedFile* FileAt(std::int64_t volumeOffset, const std::string& extension = {},
                            std::optional<std::uint64_t> size = std::nullopt) const;
    // The first clusters of every file found, in order.
    std::vector<std::int64_t> FileClusters() const;

private:
    struct FoundSet {
        ExFatEntrySet Set;
        std::int64_t Cluster = 0;  // where the set lies
    };
    std::int64_t ClusterOf(std::int64_t volumeOffset) const;
    const FoundSet* OwnerOf(std::int64_t cluster) const;
    // safe: each name made safe; lost: set when a folder on the way has no name.
    std::string FolderPath(std::int64_t cluster, bool safe, bool* lost = nullptr) const;

    std::int64_t heapOffset_, clusterBytes_, clusterCount_, rootCluster_;
    std::vector<FoundSet> folders_;
    std::multimap<std::int64_t, std::size_t> foldersByFirst_;  // folders_ by first cluster
    std::vector<FoundSet> files_;
    std::multimap<std::int64_t, std::size_t> filesByFirst_;  // files_ by first cluster
    mutable std::map<std::size_t, NamedFile> named_;         // by index in files_
};

} // namespace engine
