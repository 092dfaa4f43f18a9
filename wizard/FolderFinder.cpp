#include "wizard/FolderFinder.h"

#include <algorithm>

#include "wizard/FolderTreeBuilder.h"

namespace wizard {

FolderFinder::FolderFinder(FolderFinderSetup setup) : setup_(std::move(setup)) {
    const std::int64_t sectors = std::max<std::int64_t>(setup_.driveSectors, 0);
    // Clusters of one sector at the least: no cluster number beyond this.
    bounds_.maxCluster = sectors + 1;
    bounds_.maxFileSize = static_cast<std::uint64_t>(sectors) * setup_.bytesPerSector;
    const std::size_t entriesPerSector = std::max<std::size_t>(setup_.bytesPerSector / 32, 1);
    maxSectors_ = setup_.maxEntries / entriesPerSector;
}

void FolderFinder::FeedSector(std::int64_t sector, std::span<const std::uint8_t> bytes) {
    if (bytes.size() != setup_.bytesPerSector || sector < 0) return;
    const DirectorySectorTest test = TestDirectorySector(bytes, bounds_);
    if (test.kind == DirectorySectorKind::NotDirectory) return;
    if (kept_.size() >= maxSectors_) {
        full_ = true;
        return;
    }
    kept_.push_back({sector, test, bytes_.size()});
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

void FolderFinder::FeedBlock(std::int64_t firstSector, std::span<const std::uint8_t> bytes) {
    const std::size_t size = setup_.bytesPerSector;
    if (size == 0) return;
    for (std::size_t at = 0; at + size <= bytes.size(); at += size)
        FeedSector(firstSector + static_cast<std::int64_t>(at / size), bytes.subspan(at, size));
}

FolderTree FolderFinder::Finish() const {
    std::vector<FolderSector> sectors;
    sectors.reserve(kept_.size());
    for (const KeptSector& k : kept_)
        sectors.push_back({k.sector, k.test, std::span<const std::uint8_t>(bytes_).subspan(k.at, setup_.bytesPerSector)});
    std::sort(sectors.begin(), sectors.end(), [](const auto& a, const auto& b) { return a.sector < b.sector; });
    sectors.erase(std::unique(sectors.begin(), sectors.end(),
                              [](const auto& a, const auto& b) { return a.sector == b.sector; }),
                  sectors.end());
    std::vector<DotSighting> sightings;
    for (const FolderSector& s : sectors)
        if (s.test.kind == DirectorySectorKind::FolderStart) sightings.push_back({s.sector, s.test.ownCluster});
    const std::optional<ClusterLayout> layout = WorkOutClusterLayout(sightings, setup_.bootLayout);
    if (!layout) return FolderTree();
    FolderTreeSettings settings;
    settings.bytesPerSector = setup_.bytesPerSector;
    settings.rootCluster = setup_.rootCluster;
    settings.standardDirNames = setup_.standardDirNames;
    settings.standardFileNames = setup_.standardFileNames;
    settings.maxEntries = setup_.maxEntries;
    return FolderTreeBuilder(sectors, *layout, std::move(settings)).Build();
}

} // namespace wizard
