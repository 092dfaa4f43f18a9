// The reading side of saving a file that needs more than its chain: the
// free clusters that hold a deleted file whose chain was cleared, and the
// sectors of a run that cannot be read as a whole.
#include <algorithm>
#include <cstring>

#include "engine/FATEngine.h"
#include "platform/ui.h"

namespace engine {

std::int64_t FATEngine::NextFreeCluster(std::int64_t from) {
    const std::int64_t lastCluster = std::int64_t(countOfClusters_) + 1;
    const auto tableSize = static_cast<std::size_t>(lastCluster + 2);
    // One pass over the FAT, backwards, so that stepping over a long stretch
    // of clusters in use costs one look for every deleted file after it.
    if (nextFreeCluster_.size() != tableSize) {
        nextFreeCluster_.assign(tableSize, static_cast<std::uint32_t>(lastCluster + 1));
        for (std::int64_t c = lastCluster; c >= 2; --c) {
            const auto at = static_cast<std::size_t>(c);
            nextFreeCluster_[at] = Fat1Value(c) == 0 ? static_cast<std::uint32_t>(c) : nextFreeCluster_[at + 1];
        }
    }
    if (from > lastCluster) return lastCluster + 1;
    return nextFreeCluster_[static_cast<std::size_t>(std::max<std::int64_t>(from, 2))];
}

std::vector<std::int64_t> FATEngine::FreeClustersFrom(const FileRecord& file, bool& pastDriveEnd,
                                                      std::int64_t& current) {
    // A card fills its free clusters in order, so a file written into the
    // gaps between others goes on in the next free cluster (what a camera
    // or a computer writes there), and at the volume's end goes on from its
    // start, as the allocator does. Each pass takes a cluster until the size
    // is covered, so the list never outgrows the file, and no cluster is
    // taken twice.
    const std::int64_t clusterBytes = std::int64_t(layout_.Boot.SectorsPerCluster) * layout_.Boot.BytesPerSector;
    const std::int64_t lastCluster = std::int64_t(countOfClusters_) + 1;
    std::vector<std::int64_t> clusters{file.FirstCluster};
    current = file.FirstCluster;
    bool wrapped = false;
    for (std::int64_t covered = clusterBytes; covered < std::int64_t(file.Size); covered += clusterBytes) {
        std::int64_t next = NextFreeCluster(current + 1);
        if (next > lastCluster && !wrapped) {
            // The volume may go on where the drive (a card image cut short)
            // ends: its rest is there, not at the start.
            pastDriveEnd = volumeClusters_ + 1 > lastCluster;
            if (pastDriveEnd) break;
            wrapped = true;
            next = NextFreeCluster(2);
        }
        if (next > lastCluster || (wrapped && next >= file.FirstCluster)) break;
        clusters.push_back(next);
        current = next;
    }
    return clusters;
}

std::int64_t FATEngine::ReadSectorBySector(std::int64_t start, std::int64_t count, support::AlignedBytes& buffer,
                                           std::size_t bytes, std::int64_t wanted) {
    const std::size_t sector = count > 0 ? bytes / static_cast<std::size_t>(count) : 0;
    std::int64_t unreadable = 0;
    for (std::int64_t i = 0; i < count && sector > 0; ++i) {
        std::uint8_t* at = buffer.data() + static_cast<std::size_t>(i) * sector;
        if (ReadVolumeSectors(start + i, 1, at, sector)) continue;
        std::memset(at, 0, sector);
        const std::int64_t from = i * std::int64_t(sector);
        if (from < wanted) unreadable += std::min<std::int64_t>(std::int64_t(sector), wanted - from);
        platform::DoEvents();
    }
    return unreadable;
}

} // namespace engine
