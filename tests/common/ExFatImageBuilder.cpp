#include "tests/common/ExFatImageBuilder.h"
#include "tests/common/FatImageBuilder.h"

#include <algorithm>
#include <stdexcept>

#include "platform/littleendian.h"

namespace testcommon {

namespace {

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}
void Put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
    Put32(b, at, static_cast<std::uint32_t>(v));
    Put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

// 2024-05-01 12:30:02, as a FAT date (high half) and time.
constexpr std::uint32_t Timestamp = (std::uint32_t((2024 - 1980) << 9 | 5 << 5 | 1) << 16) | (12 << 11 | 30 << 5 | 1);

std::vector<std::uint8_t> MakeSet(const std::u16string& name, std::uint16_t attributes, std::uint32_t firstCluster,
                                  std::uint64_t validLength, std::uint64_t dataLength, bool noFatChain) {
    const std::size_t nameEntries = (name.size() + 14) / 15;
    std::vector<std::uint8_t> set((2 + nameEntries) * 32, 0);
    set[0] = 0x85;
    set[1] = static_cast<std::uint8_t>(1 + nameEntries);
    Put16(set, 4, attributes);
    Put32(set, 8, Timestamp);
    Put32(set, 12, Timestamp);
    Put32(set, 16, Timestamp);
    set[20] = 55;           // create: 0.55 s later
    set[21] = 155;          // modified: 1.55 s later
    set[22] = set[23] = set[24] = 0x80 | 8;  // UTC+2
    set[32] = 0xC0;
    set[33] = static_cast<std::uint8_t>(0x01 | (noFatChain ? 0x02 : 0));
    set[35] = static_cast<std::uint8_t>(name.size());
    Put64(set, 40, validLength);
    Put32(set, 52, firstCluster);
    Put64(set, 56, dataLength);
    for (std::size_t k = 0; k < name.size(); ++k) {
        const std::size_t entry = 64 + (k / 15) * 32;
        set[entry] = 0xC1;
        Put16(set, entry + 2 + 2 * (k % 15), name[k]);
    }
    for (std::size_t e = 0; e < nameEntries; ++e) set[64 + e * 32] = 0xC1;
    Put16(set, 2, ExFatSetChecksum(set));
    return set;
}


} // namespace

std::uint16_t ExFatSetChecksum(const std::vector<std::uint8_t>& set) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < set.size(); ++i) {
        if (i == 2 || i == 3) continue;
        sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + set[i]);
    }
    return sum;
}

ExFatImageBuilder::ExFatImageBuilder(ExFatImageOptions options) : options_(options) {
    bytesPerSector_ = std::int64_t(1) << options_.bytesPerSectorShift;
    const std::int64_t spc = std::int64_t(1) << options_.sectorsPerClusterShift;
    clusterBytes_ = bytesPerSector_ * spc;
    const auto total = static_cast<std::int64_t>(options_.totalSectors);
    fatLength_ = ((total / spc + 2) * 4 + bytesPerSector_ - 1) / bytesPerSector_;
    heapOffset_ = (options_.fatOffset + fatLength_ + spc - 1) / spc * spc;
    clusterCount_ = (total - heapOffset_) / spc;
    image_ = std::make_shared<SparseImage>(options_.totalSectors * std::uint64_t(bytesPerSector_));
    fat_.assign(static_cast<std::size_t>(clusterCount_ + 2), 0);
    fat_[0] = 0xFFFFFFF8;
    fat_[1] = 0xFFFFFFFF;
    used_.assign(static_cast<std::size_t>(clusterCount_ + 2), false);
    const std::int64_t bitmapBytes = (clusterCount_ + 7) / 8;
    for (std::int64_t i = 0; i < (bitmapBytes + clusterBytes_ - 1) / clusterBytes_; ++i) bitmapClusters_.push_back(Allocate());
    Chain(bitmapClusters_);
    upcaseClusters_.push_back(Allocate());
    Chain(upcaseClusters_);
    Folder root;
    root.clusters = {Allocate(), Allocate()};
    root.contiguous = false;
    Chain(root.clusters);
    folders_.push_back(root);
}

std::int64_t ExFatImageBuilder::Allocate() {
    while (next_ < clusterCount_ + 2 && used_[static_cast<std::size_t>(next_)]) ++next_;
    if (next_ >= clusterCount_ + 2) throw std::runtime_error("exFAT test card full");
    used_[static_cast<std::size_t>(next_)] = true;
    return next_++;
}

void ExFatImageBuilder::Occupy(std::int64_t cluster, std::uint8_t fill) {
    used_.at(static_cast<std::size_t>(cluster)) = true;
    fat_.at(static_cast<std::size_t>(cluster)) = 0xFFFFFFFF;
    image_->Fill(static_cast<std::uint64_t>(ClusterOffset(cluster)), fill, static_cast<std::uint64_t>(clusterBytes_));
}

void ExFatImageBuilder::Chain(const std::vector<std::int64_t>& clusters) {
    for (std::size_t i = 0; i < clusters.size(); ++i)
        fat_[static_cast<std::size_t>(clusters[i])] =
            i + 1 < clusters.size() ? static_cast<std::uint32_t>(clusters[i + 1]) : 0xFFFFFFFF;
}

std::int64_t ExFatImageBuilder::ClusterOffset(std::int64_t cluster) const {
    return heapOffset_ * bytesPerSector_ + (cluster - 2) * clusterBytes_;
}

void ExFatImageBuilder::WriteClusters(const std::vector<std::int64_t>& clusters, const std::vector<std::uint8_t>& bytes) {
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        const std::size_t at = i * static_cast<std::size_t>(clusterBytes_);
        if (at >= bytes.size()) break;
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(clusterBytes_), bytes.size() - at);
        image_->Write(static_cast<std::uint64_t>(ClusterOffset(clusters[i])), bytes.data() + at, n);
    }
}

std::size_t ExFatImageBuilder::AddFolder(std::size_t parent, const std::string& name, std::uint32_t clusters,
                                         bool contiguous) {
    Folder folder;
    folder.contiguous = contiguous;
    for (std::uint32_t i = 0; i < clusters; ++i) folder.clusters.push_back(Allocate());
    if (!contiguous) Chain(folder.clusters);
    const std::uint64_t length = std::uint64_t(clusters) * std::uint64_t(clusterBytes_);
    Set set;
    set.bytes = MakeSet(Utf16FromUtf8Text(name), 0x10, static_cast<std::uint32_t>(folder.clusters.front()), length,
                        length, contiguous);
    set.clusters = folder.clusters;
    set.chained = !contiguous;
    folders_.at(parent).sets.push_back(set);
    folders_.push_back(folder);
    return folders_.size() - 1;
}

ExFatEntryRef ExFatImageBuilder::AddFile(std::size_t folder, const std::string& name,
                                         const std::vector<std::uint8_t>& bytes, const ExFatFileOptions& options) {
    const std::uint64_t valid = options.validLength < 0 ? bytes.size() : static_cast<std::uint64_t>(options.validLength);
    const std::int64_t count = (static_cast<std::int64_t>(bytes.size()) + clusterBytes_ - 1) / clusterBytes_;
    Set set;
    set.chained = !options.contiguous;
    for (std::int64_t i = 0; i < count; ++i) {
        if (!options.contiguous && options.fragmentEvery && i > 0 && i % options.fragmentEvery == 0) {
            for (std::uint32_t g = 0; g < options.gapClusters; ++g) {
                const std::int64_t gap = Allocate();
                if (options.gapsInUse) Occupy(gap, 0xEE);
                else used_[static_cast<std::size_t>(gap)] = false;
            }
        }
        set.clusters.push_back(Allocate());
    }
    if (set.chained) Chain(set.clusters);
    WriteClusters(set.clusters, bytes);
    set.bytes = MakeSet(Utf16FromUtf8Text(name), options.attributes,
                        set.clusters.empty() ? 0 : static_cast<std::uint32_t>(set.clusters.front()),
                        valid, bytes.size(), options.contiguous);
    folders_.at(folder).sets.push_back(set);
    return {folder, folders_[folder].sets.size() - 1};
}

void ExFatImageBuilder::Delete(ExFatEntryRef entry, bool clearChain) {
    Set& set = folders_.at(entry.folder).sets.at(entry.set);
    for (std::size_t i = 0; i < set.bytes.size(); i += 32) set.bytes[i] &= 0x7F;
    for (std::int64_t c : set.clusters) {
        used_[static_cast<std::size_t>(c)] = false;
        if (clearChain) fat_[static_cast<std::size_t>(c)] = 0;
    }
    // The builder hands out clusters in order: freed ones stay free unless a
    // test occupies them.
}

std::int64_t ExFatImageBuilder::FirstCluster(ExFatEntryRef entry) const {
    return folders_.at(entry.folder).sets.at(entry.set).clusters.front();
}

std::uint64_t ExFatImageBuilder::EntryOffset(ExFatEntryRef entry) const {
    return setOffsets_.at(entry.folder).at(entry.set);
}

void ExFatImageBuilder::WriteBootRegion(std::uint64_t sector) {
    const auto bps = static_cast<std::size_t>(bytesPerSector_);
    std::vector<std::uint8_t> region(bps * 12, 0);
    region[0] = 0xEB, region[1] = 0x76, region[2] = 0x90;
    std::copy_n("EXFAT   ", 8, region.begin() + 3);
    Put64(region, 72, options_.totalSectors);
    Put32(region, 80, options_.fatOffset);
    Put32(region, 84, static_cast<std::uint32_t>(fatLength_));
    Put32(region, 88, static_cast<std::uint32_t>(heapOffset_));
    Put32(region, 92, static_cast<std::uint32_t>(clusterCount_));
    Put32(region, 96, static_cast<std::uint32_t>(folders_[0].clusters.front()));
    Put32(region, 100, 0x1234ABCD);
    Put16(region, 104, 0x0100);
    region[108] = options_.bytesPerSectorShift;
    region[109] = options_.sectorsPerClusterShift;
    region[110] = 1;
    region[111] = 0x80;
    Put16(region, 510, 0xAA55);
    for (std::size_t s = 1; s <= 8; ++s) Put16(region, s * bps + bps - 2, 0xAA55);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < bps * 11; ++i) {
        if (i == 106 || i == 107 || i == 112) continue;
        sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + region[i];
    }
    for (std::size_t at = bps * 11; at < bps * 12; at += 4) Put32(region, at, sum);
    image_->Write(sector * bps, region.data(), region.size());
}

std::shared_ptr<SparseImage> ExFatImageBuilder::Build() {
    WriteBootRegion(0);
    WriteBootRegion(12);
    std::vector<std::uint8_t> fat(fat_.size() * 4);
    for (std::size_t i = 0; i < fat_.size(); ++i) Put32(fat, i * 4, fat_[i]);
    image_->Write(std::uint64_t(options_.fatOffset) * std::uint64_t(bytesPerSector_), fat.data(), fat.size());
    std::vector<std::uint8_t> bitmap(static_cast<std::size_t>((clusterCount_ + 7) / 8), 0);
    for (std::int64_t c = 2; c < clusterCount_ + 2; ++c)
        if (used_[static_cast<std::size_t>(c)]) bitmap[static_cast<std::size_t>((c - 2) / 8)] |= std::uint8_t(1u << ((c - 2) % 8));
    WriteClusters(bitmapClusters_, bitmap);
    WriteClusters(upcaseClusters_, std::vector<std::uint8_t>(static_cast<std::size_t>(clusterBytes_), 0x41));
    setOffsets_.assign(folders_.size(), {});
    for (std::size_t f = 0; f < folders_.size(); ++f) {
        std::vector<std::uint8_t> bytes;
        if (f == 0) {
            std::vector<std::uint8_t> label(32, 0), bitmapEntry(32, 0), upcase(32, 0);
            label[0] = 0x83;
            bitmapEntry[0] = 0x81;
            Put32(bitmapEntry, 20, static_cast<std::uint32_t>(bitmapClusters_.front()));
            Put64(bitmapEntry, 24, bitmap.size());
            upcase[0] = 0x82;
            Put32(upcase, 20, static_cast<std::uint32_t>(upcaseClusters_.front()));
            Put64(upcase, 24, static_cast<std::uint64_t>(clusterBytes_));
            for (const auto* e : {&label, &bitmapEntry, &upcase}) bytes.insert(bytes.end(), e->begin(), e->end());
        }
        for (const Set& set : folders_[f].sets) {
            const std::size_t at = bytes.size();
            const std::size_t cluster = at / static_cast<std::size_t>(clusterBytes_);
            if (cluster >= folders_[f].clusters.size()) throw std::runtime_error("exFAT test folder full");
            setOffsets_[f].push_back(static_cast<std::uint64_t>(ClusterOffset(folders_[f].clusters[cluster])) +
                                     at % static_cast<std::size_t>(clusterBytes_));
            bytes.insert(bytes.end(), set.bytes.begin(), set.bytes.end());
        }
        if (bytes.size() > folders_[f].clusters.size() * static_cast<std::size_t>(clusterBytes_))
            throw std::runtime_error("exFAT test folder full");
        bytes.resize(folders_[f].clusters.size() * static_cast<std::size_t>(clusterBytes_), 0);
        WriteClusters(folders_[f].clusters, bytes);
    }
    return image_;
}

std::shared_ptr<SparseVolume> ExFatImageBuilder::Volume() {
    return std::make_shared<SparseVolume>(Build(), 512);
}

} // namespace testcommon
