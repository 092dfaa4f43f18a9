// Small exFAT cards with an exact layout, for the engine's tests: the boot
// region and its backup with their checksums, one FAT, the allocation
// bitmap, an up-case table, the root directory, folders and files (in one
// run of clusters without a FAT chain, or chained and in pieces), and
// deleted entry sets as a driver leaves them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/SparseImage.h"

namespace testcommon {

struct ExFatImageOptions {
    std::uint64_t totalSectors = 32768;  // 16 MiB with 512-byte sectors
    std::uint8_t bytesPerSectorShift = 9;
    std::uint8_t sectorsPerClusterShift = 3;  // 4 KiB clusters
    std::uint32_t fatOffset = 128;
};

struct ExFatFileOptions {
    bool contiguous = true;          // NoFatChain; false: a FAT chain
    std::uint32_t fragmentEvery = 0; // chained files: after so many clusters, skip gapClusters
    std::uint32_t gapClusters = 1;
    bool gapsInUse = true;           // the skipped clusters hold another (live) file's bytes
    std::int64_t validLength = -1;   // -1: the whole data length
    std::uint16_t attributes = 0x20;
};

struct ExFatEntryRef {
    std::size_t folder = 0;
    std::size_t set = 0;
};

class ExFatImageBuilder {
public:
    explicit ExFatImageBuilder(ExFatImageOptions options = {});

    std::size_t Root() const { return 0; }
    std::size_t AddFolder(std::size_t parent, const std::string& name, std::uint32_t clusters = 1,
                          bool contiguous = true);
    ExFatEntryRef AddFile(std::size_t folder, const std::string& name, const std::vector<std::uint8_t>& bytes,
                          const ExFatFileOptions& options = {});
    // As a driver deletes: the in-use bits of the set cleared, its clusters
    // free in the bitmap, and (clearChain) its FAT chain zeroed.
    void Delete(ExFatEntryRef entry, bool clearChain = true);
    // Marks a cluster in use by a file without an entry (and fills it).
    void Occupy(std::int64_t cluster, std::uint8_t fill);

    std::int64_t ClusterBytes() const { return clusterBytes_; }
    std::int64_t NextFreeCluster() const { return next_; }
    std::int64_t ClusterOffset(std::int64_t cluster) const;
    std::int64_t FirstCluster(ExFatEntryRef entry) const;
    // Where the entry set lies in the image (after Build).
    std::uint64_t EntryOffset(ExFatEntryRef entry) const;
    std::uint32_t BytesPerSector() const { return 1u << options_.bytesPerSectorShift; }

    // Writes everything into the image; later changes need another Build.
    std::shared_ptr<SparseImage> Build();
    std::shared_ptr<SparseVolume> Volume();

private:
    struct Set {
        std::vector<std::uint8_t> bytes;
        std::vector<std::int64_t> clusters;
        bool chained = false;
    };
    struct Folder {
        std::vector<std::int64_t> clusters;
        bool contiguous = true;
        std::vector<Set> sets;
    };
    std::int64_t Allocate();
    void Chain(const std::vector<std::int64_t>& clusters);
    void WriteClusters(const std::vector<std::int64_t>& clusters, const std::vector<std::uint8_t>& bytes);
    void WriteBootRegion(std::uint64_t sector);

    ExFatImageOptions options_;
    std::shared_ptr<SparseImage> image_;
    std::int64_t bytesPerSector_, clusterBytes_, fatLength_, heapOffset_, clusterCount_;
    std::int64_t next_ = 2;
    std::vector<std::uint32_t> fat_;
    std::vector<bool> used_;
    std::vector<std::int64_t> bitmapClusters_, upcaseClusters_;
    std::vector<Folder> folders_;
    std::vector<std::vector<std::uint64_t>> setOffsets_;
};

// The checksum of an entry set, as a driver writes it.
std::uint16_t ExFatSetChecksum(const std::vector<std::uint8_t>& set);

} // namespace testcommon
