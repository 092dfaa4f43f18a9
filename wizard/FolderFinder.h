// Finds the card's folders during the deep scan's one pass, so that carved
// files can get back their names, folders and dates after a format. The
// scan feeds it every sector it reads; it keeps only the sectors that are
// plainly a folder's (bounded), and once the pass is over works out where
// the clusters lie and rebuilds the tree.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "wizard/DirectorySector.h"
#include "wizard/FolderLayout.h"
#include "wizard/FolderTree.h"

namespace wizard {

struct FolderFinderSetup {
    std::uint32_t bytesPerSector = 512;
    std::int64_t driveSectors = 0;  // the drive's size in sectors
    // The boot sector's layout in the drive's sectors, when one was read:
    // trusted as long as the folders found agree with it.
    std::optional<ClusterLayout> bootLayout;
    std::int64_t rootCluster = 0;  // the boot sector's FAT32 root cluster (0: none)
    // The standard-name lists that give deleted short names their first letter.
    std::vector<std::string> standardDirNames;
    std::vector<std::string> standardFileNames;
    // At most this many entries are kept (32 bytes each, as sectors).
    std::size_t maxEntries = 1000000;
};

class FolderFinder {
public:
    explicit FolderFinder(FolderFinderSetup setup);

    // One sector of the drive (bytesPerSector bytes; another size is
    // ignored). Cheap for a sector that is not a folder's; sectors may come
    // in any order, and a sector fed again replaces nothing.
    void FeedSector(std::int64_t sector, std::span<const std::uint8_t> bytes);
    // Whole sectors from firstSector on (a trailing part sector is ignored).
    void FeedBlock(std::int64_t firstSector, std::span<const std::uint8_t> bytes);

    std::size_t SectorsKept() const { return kept_.size(); }
    // The cap was reached: later folder sectors were not kept.
    bool Full() const { return full_; }

    // The layout and the tree, from what was fed.
    FolderTree Finish() const;

private:
    struct KeptSector {
        std::int64_t sector;
        DirectorySectorTest test;
        std::size_t at;  // in bytes_
    };

    FolderFinderSetup setup_;
    DirectorySectorBounds bounds_;
    std::size_t maxSectors_ = 0;
    std::vector<KeptSector> kept_;
    std::vector<std::uint8_t> bytes_;
    bool full_ = false;
};

} // namespace wizard
