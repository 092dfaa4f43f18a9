#include "wizard/FolderLayout.h"

#include <algorithm>
#include <map>

namespace wizard {

namespace {

constexpr std::int64_t MaxSectorsPerCluster = 128;
// Each sighting is paired with this many that follow it on the drive: the
// vote stays linear in the number of folders.
constexpr std::size_t NeighboursPerVote = 8;

bool IsPowerOfTwo(std::int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

std::size_t Agreeing(const std::vector<DotSighting>& sightings, const ClusterLayout& layout) {
    return static_cast<std::size_t>(std::count_if(sightings.begin(), sightings.end(), [&](const DotSighting& s) {
        return s.cluster >= 2 && layout.ClusterSector(s.cluster) == s.sector;
    }));
}

template <typename Key>
Key MostVoted(const std::map<Key, std::size_t>& votes) {
    // Ties go to the smaller key: the map's order.
    return std::max_element(votes.begin(), votes.end(), [](const auto& a, const auto& b) {
               return a.second < b.second;
           })->first;
}

std::optional<std::int64_t> VoteClusterSize(const std::vector<DotSighting>& sorted) {
    std::map<std::int64_t, std::size_t> votes;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        for (std::size_t j = i + 1; j < sorted.size() && j <= i + NeighboursPerVote; ++j) {
            const std::int64_t clusters = sorted[j].cluster - sorted[i].cluster;
            const std::int64_t sectors = sorted[j].sector - sorted[i].sector;
            if (clusters <= 0 || sectors <= 0 || sectors % clusters != 0) continue;
            const std::int64_t size = sectors / clusters;
            if (IsPowerOfTwo(size) && size <= MaxSectorsPerCluster) ++votes[size];
        }
    }
    if (votes.empty()) return std::nullopt;
    return MostVoted(votes);
}

std::optional<std::int64_t> VoteFirstDataSector(const std::vector<DotSighting>& sightings, std::int64_t clusterSize) {
    std::map<std::int64_t, std::size_t> votes;
    for (const DotSighting& s : sightings) {
        const std::int64_t first = s.sector - (s.cluster - 2) * clusterSize;
        if (first >= 0) ++votes[first];
    }
    if (votes.empty()) return std::nullopt;
    return MostVoted(votes);
}

} // namespace

std::int64_t ClusterLayout::ClusterStartingAt(std::int64_t sector) const {
    if (sectorsPerCluster <= 0 || sector < firstDataSector) return 0;
    const std::int64_t into = sector - firstDataSector;
    return into % sectorsPerCluster == 0 ? into / sectorsPerCluster + 2 : 0;
}

std::int64_t ClusterLayout::ClusterHolding(std::int64_t sector) const {
    if (sectorsPerCluster <= 0 || sector < firstDataSector) return 0;
    return (sector - firstDataSector) / sectorsPerCluster + 2;
}

std::optional<ClusterLayout> BootSectorClusterLayout(const engine::VolumeLayout& layout,
                                                     std::uint32_t driveBytesPerSector) {
    const std::uint32_t volumeBytesPerSector = layout.Boot.BytesPerSector;
    if (!layout.Usable || layout.Source != engine::LayoutSource::BootSector || driveBytesPerSector == 0 ||
        volumeBytesPerSector == 0 || volumeBytesPerSector % driveBytesPerSector != 0 ||
        layout.Boot.SectorsPerCluster == 0 || layout.FirstDataSector < 0)
        return std::nullopt;
    const std::int64_t ratio = volumeBytesPerSector / driveBytesPerSector;
    return ClusterLayout{layout.Boot.SectorsPerCluster * ratio, layout.FirstDataSector * ratio, true};
}

std::optional<ClusterLayout> WorkOutClusterLayout(std::vector<DotSighting> sightings,
                                                  const std::optional<ClusterLayout>& bootSector) {
    std::erase_if(sightings, [](const DotSighting& s) { return s.cluster < 2 || s.sector < 0; });
    const bool bootUsable = bootSector && bootSector->sectorsPerCluster > 0 && bootSector->firstDataSector >= 0;
    if (bootUsable && 2 * Agreeing(sightings, *bootSector) >= sightings.size()) {
        ClusterLayout layout = *bootSector;
        layout.fromBootSector = true;
        return layout;
    }
    std::sort(sightings.begin(), sightings.end(),
              [](const DotSighting& a, const DotSighting& b) { return a.sector < b.sector; });
    std::optional<std::int64_t> clusterSize = VoteClusterSize(sightings);
    // One folder alone gives no cluster size; the boot sector's may still fit.
    if (!clusterSize && bootUsable) clusterSize = bootSector->sectorsPerCluster;
    if (!clusterSize) return std::nullopt;
    const std::optional<std::int64_t> firstDataSector = VoteFirstDataSector(sightings, *clusterSize);
    if (!firstDataSector) return std::nullopt;
    return ClusterLayout{*clusterSize, *firstDataSector, false};
}

} // namespace wizard
