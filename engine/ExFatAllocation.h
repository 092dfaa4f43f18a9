// Where an exFAT file's bytes lie: the allocation bitmap (which clusters
// are in use) and the clusters of one file, from the FAT chain, from one
// contiguous run (NoFatChain), or, for a deleted file whose chain is gone,
// over the free clusters that follow its first one.
#pragma once

#include <cstdint>
#include <vector>

namespace engine {

// Bit n of the bitmap stands for cluster n + 2. An empty bitmap (one that
// could not be read) knows nothing and calls every cluster free.
class ExFatBitmap {
public:
    ExFatBitmap() = default;
    ExFatBitmap(std::vector<std::uint8_t> bits, std::int64_t clusterCount);

    bool Known() const { return !bits_.empty(); }
    bool InUse(std::int64_t cluster) const;

private:
    std::vector<std::uint8_t> bits_;
    std::int64_t clusterCount_ = 0;
};

// What a file's data is and where the card ends.
struct ExFatExtent {
    std::int64_t FirstCluster = 0;
    std::uint64_t Bytes = 0;       // to read
    bool Contiguous = false;       // NoFatChain
    bool Deleted = false;
};

struct ExFatVolumeBounds {
    std::int64_t LastCluster = 0;        // the last cluster the drive holds
    std::int64_t VolumeLastCluster = 0;  // the last one the volume has (a cut image holds fewer)
    std::int64_t ClusterBytes = 0;
};

enum class ExFatChainEnd {
    Whole,           // every cluster the bytes need
    BeyondDrive,     // the data goes on past the end of the drive (an image cut short)
    ChainBroken,     // the chain ends, loops or leaves the volume before the data does
    ClustersReused,  // a deleted file's clusters are (in part) another file's now
};

struct ExFatChain {
    std::vector<std::int64_t> Clusters;  // in file order, at most as many as the bytes need
    ExFatChainEnd End = ExFatChainEnd::Whole;
};

// The clusters of a file. fat holds the active FAT by cluster number
// (missing entries read as free). A deleted file's clusters must be free:
// it follows its FAT chain while that chain is still there, else its run
// (NoFatChain), else the free clusters after its first one, skipping those
// in use by live files.
ExFatChain ExFatFileClusters(const ExFatExtent& file, const std::vector<std::uint32_t>& fat,
                             const ExFatBitmap& bitmap, const ExFatVolumeBounds& bounds);

// The clusters of a directory whose length is not recorded (the root):
// its FAT chain up to its end, at most maxClusters.
ExFatChain ExFatChainClusters(std::int64_t firstCluster, std::int64_t maxClusters,
                              const std::vector<std::uint32_t>& fat, const ExFatVolumeBounds& bounds);

} // namespace engine
