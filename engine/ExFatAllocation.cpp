#include "engine/ExFatAllocation.h"

#include <algorithm>
#include <unordered_set>

#include "engine/ExFatBootRegion.h"

namespace engine {

ExFatBitmap::ExFatBitmap(std::vector<std::uint8_t> bits, std::int64_t clusterCount)
    : bits_(std::move(bits)), clusterCount_(clusterCount) {}

bool ExFatBitmap::InUse(std::int64_t cluster) const {
    const std::int64_t bit = cluster - 2;
    if (bit < 0 || bit >= clusterCount_) return false;
    const auto byte = static_cast<std::size_t>(bit / 8);
    return byte < bits_.size() && (bits_[byte] >> (bit % 8)) & 1;
}

namespace {

std::uint32_t FatValue(const std::vector<std::uint32_t>& fat, std::int64_t cluster) {
    return cluster >= 0 && cluster < static_cast<std::int64_t>(fat.size()) ? fat[static_cast<std::size_t>(cluster)] : 0;
}

// Why a cluster that should hold data cannot be read: past the drive but
// within the volume, or not a cluster of the volume at all.
ExFatChainEnd OutOfRange(std::int64_t cluster, const ExFatVolumeBounds& bounds) {
    return cluster > bounds.LastCluster && cluster <= bounds.VolumeLastCluster ? ExFatChainEnd::BeyondDrive
                                                                               : ExFatChainEnd::ChainBroken;
}

bool InVolume(std::int64_t cluster, const ExFatVolumeBounds& bounds) {
    return cluster >= 2 && cluster <= bounds.LastCluster;
}

// Follows the FAT from first for at most needed clusters. A deleted file
// stops at a cluster in use (another file's now).
ExFatChain FollowChain(std::int64_t first, std::int64_t needed, bool deleted, const std::vector<std::uint32_t>& fat,
                       const ExFatBitmap& bitmap, const ExFatVolumeBounds& bounds, bool endIsWhole) {
    ExFatChain chain;
    std::unordered_set<std::int64_t> seen;
    std::int64_t cluster = first;
    // Each pass adds a cluster not seen before, so the loop ends.
    while (static_cast<std::int64_t>(chain.Clusters.size()) < needed) {
        if (!InVolume(cluster, bounds)) {
            chain.End = OutOfRange(cluster, bounds);
            break;
        }
        if (!seen.insert(cluster).second) {
            chain.End = ExFatChainEnd::ChainBroken;
            break;
        }
        if (deleted && bitmap.InUse(cluster)) {
            chain.End = ExFatChainEnd::ClustersReused;
            break;
        }
        chain.Clusters.push_back(cluster);
        const std::uint32_t next = FatValue(fat, cluster);
        if (next == ExFatEndOfChain) {
            if (!endIsWhole && static_cast<std::int64_t>(chain.Clusters.size()) < needed)
                chain.End = ExFatChainEnd::ChainBroken;
            break;
        }
        cluster = next;
    }
    return chain;
}

// Clusters first, first + 1, ... as many as needed; a deleted file's stop
// at the first one in use.
ExFatChain FollowRun(std::int64_t first, std::int64_t needed, bool deleted, const ExFatBitmap& bitmap,
                     const ExFatVolumeBounds& bounds) {
    ExFatChain chain;
    for (std::int64_t cluster = first; static_cast<std::int64_t>(chain.Clusters.size()) < needed; ++cluster) {
        if (!InVolume(cluster, bounds)) {
            chain.End = OutOfRange(cluster, bounds);
            break;
        }
        if (deleted && bitmap.InUse(cluster)) {
            chain.End = ExFatChainEnd::ClustersReused;
            break;
        }
        chain.Clusters.push_back(cluster);
    }
    return chain;
}

// A deleted file whose chain is gone: its first cluster and the free
// clusters after it, passing over those that live files use (a card fills
// free clusters in order, so the pieces of a file lie around them).
ExFatChain FollowFreeClusters(std::int64_t first, std::int64_t needed, const ExFatBitmap& bitmap,
                              const ExFatVolumeBounds& bounds) {
    ExFatChain chain;
    for (std::int64_t cluster = first; static_cast<std::int64_t>(chain.Clusters.size()) < needed; ++cluster) {
        if (!InVolume(cluster, bounds)) {
            chain.End = OutOfRange(cluster, bounds);
            break;
        }
        if (!bitmap.InUse(cluster)) chain.Clusters.push_back(cluster);
    }
    return chain;
}

// Whether a deleted file's FAT chain is still there: its first cluster
// leads to a cluster of the volume or ends the chain.
bool ChainStillThere(std::int64_t first, const std::vector<std::uint32_t>& fat, const ExFatVolumeBounds& bounds) {
    const std::uint32_t next = FatValue(fat, first);
    return next == ExFatEndOfChain || (next >= 2 && next <= bounds.VolumeLastCluster);
}

} // namespace

ExFatChain ExFatFileClusters(const ExFatExtent& file, const std::vector<std::uint32_t>& fat,
                             const ExFatBitmap& bitmap, const ExFatVolumeBounds& bounds) {
    if (file.Bytes == 0 || bounds.ClusterBytes <= 0) return {};
    const std::uint64_t clusterBytes = static_cast<std::uint64_t>(bounds.ClusterBytes);
    // More clusters than the volume has cannot be read anyway; the bound
    // keeps a hostile length from asking for billions.
    const std::uint64_t wanted = (file.Bytes + clusterBytes - 1) / clusterBytes;
    const std::int64_t volumeClusters = std::max<std::int64_t>(bounds.VolumeLastCluster - 1, 0);
    const std::int64_t needed = static_cast<std::int64_t>(std::min<std::uint64_t>(wanted, std::uint64_t(volumeClusters) + 1));
    ExFatChain chain;
    if (file.Contiguous)
        chain = FollowRun(file.FirstCluster, needed, file.Deleted, bitmap, bounds);
    else if (!file.Deleted || ChainStillThere(file.FirstCluster, fat, bounds))
        chain = FollowChain(file.FirstCluster, needed, file.Deleted, fat, bitmap, bounds, false);
    else
        chain = FollowFreeClusters(file.FirstCluster, needed, bitmap, bounds);
    if (chain.End == ExFatChainEnd::Whole && static_cast<std::uint64_t>(chain.Clusters.size()) < wanted)
        chain.End = ExFatChainEnd::ChainBroken;
    return chain;
}

ExFatChain ExFatChainClusters(std::int64_t firstCluster, std::int64_t maxClusters,
                              const std::vector<std::uint32_t>& fat, const ExFatVolumeBounds& bounds) {
    static const ExFatBitmap none;
    return FollowChain(firstCluster, maxClusters, false, fat, none, bounds, true);
}

} // namespace engine
