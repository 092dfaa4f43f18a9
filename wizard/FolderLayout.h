// Where the clusters of a card lie, worked out from the folders the deep
// scan found: each folder's "." entry names its own cluster, and the sector
// it was found at says where that cluster is. After a reformat with another
// FAT type or cluster size the boot sector describes the new layout, not
// the one the old folders were written in.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/BootSector.h"

namespace wizard {

// In the drive's sectors: cluster c begins at
// firstDataSector + (c - 2) x sectorsPerCluster.
struct ClusterLayout {
    std::int64_t sectorsPerCluster = 0;
    std::int64_t firstDataSector = 0;
    bool fromBootSector = false;

    std::int64_t ClusterSector(std::int64_t cluster) const {
        return firstDataSector + (cluster - 2) * sectorsPerCluster;
    }
    // The cluster that begins at sector, or 0 when none does there.
    std::int64_t ClusterStartingAt(std::int64_t sector) const;
    // The cluster that holds sector (0 before the data area).
    std::int64_t ClusterHolding(std::int64_t sector) const;
};

// The layout a boot-sector parse gave, in sectors of the drive's size
// (a volume of 2048-byte sectors on a drive of 512-byte ones counts four
// drive sectors to one of its own); nothing for a layout that was guessed
// or not usable, or whose sector size is not a multiple of the drive's.
std::optional<ClusterLayout> BootSectorClusterLayout(const engine::VolumeLayout& layout,
                                                     std::uint32_t driveBytesPerSector);

// A folder's first sector: the sector and the cluster its "." entry names.
struct DotSighting {
    std::int64_t sector = 0;
    std::int64_t cluster = 0;
};

// The boot sector's layout when at least half of the sightings agree with
// it (or there are none to disagree); otherwise the cluster size most pairs
// of sightings give (a power of two, 1 to 128 sectors) and the first data
// sector most sightings give with it. Nothing when neither can be had.
std::optional<ClusterLayout> WorkOutClusterLayout(std::vector<DotSighting> sightings,
                                                  const std::optional<ClusterLayout>& bootSector);

} // namespace wizard
