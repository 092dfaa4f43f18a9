#include "wizard/CardNameFinder.h"

#include <algorithm>


namespace wizard {

namespace {

constexpr std::int32_t ExFatType = 4;
constexpr std::int32_t Fat32Type = 3;
// No exFAT cluster is larger (2^25 bytes).
constexpr std::int64_t MaxExFatClusterBytes = std::int64_t(1) << 25;

FolderFinderSetup FatSetup(const DeepScanCard& card, std::uint32_t bytesPerSector, std::int64_t driveSectors) {
    FolderFinderSetup setup;
    setup.bytesPerSector = bytesPerSector;
    setup.driveSectors = driveSectors;
    if (card.layout.FATType != ExFatType) setup.bootLayout = BootSectorClusterLayout(card.layout, bytesPerSector);
    if (card.layout.Usable && card.layout.FATType == Fat32Type) setup.rootCluster = card.layout.Boot.RootClusterField;
    setup.standardDirNames = card.standardDirNames;
    setup.standardFileNames = card.standardFileNames;
    return setup;
}

bool IsExFat(const engine::VolumeLayout& layout) {
    return layout.Usable && layout.Source == engine::LayoutSource::BootSector && layout.FATType == ExFatType &&
           layout.Boot.BytesPerSector > 0 && layout.Boot.SectorsPerCluster > 0;
}

} // namespace

CardNameFinder::CardNameFinder(const DeepScanCard& card, std::uint32_t driveBytesPerSector, std::int64_t driveSectors)
    : bytesPerSector_(driveBytesPerSector) {
    const engine::VolumeLayout& layout = card.layout;
    // An exFAT card may hold the folders of the FAT format before it: they
    // are looked for too, their layout worked out from themselves.
    fat_ = std::make_unique<FolderFinder>(FatSetup(card, driveBytesPerSector, driveSectors));
    if (!IsExFat(layout)) return;
    const std::int64_t sectorBytes = layout.Boot.BytesPerSector;
    clusterBytes_ = std::int64_t(layout.Boot.SectorsPerCluster) * sectorBytes;
    heapOffset_ = std::int64_t(layout.FirstDataSector) * sectorBytes;
    if (clusterBytes_ > MaxExFatClusterBytes) return;
    const std::int64_t volumeBytes =
        std::min<std::int64_t>(std::int64_t(layout.TotalSectors) * sectorBytes, driveSectors * driveBytesPerSector);
    const std::int64_t clusters = std::max<std::int64_t>(0, (volumeBytes - heapOffset_) / clusterBytes_);
    exfat_ = std::make_unique<engine::ExFatNameFinder>(heapOffset_, clusterBytes_, clusters,
                                                       layout.Boot.RootClusterField);
}

CardNameFinder::~CardNameFinder() = default;

void CardNameFinder::Feed(std::int64_t firstSector, std::span<const std::uint8_t> bytes) {
    if (bytesPerSector_ == 0) return;
    const std::int64_t sectors = static_cast<std::int64_t>(bytes.size() / bytesPerSector_);
    const std::int64_t end = firstSector + sectors;
    if (end <= fedUpTo_) return;
    // Only what was not fed yet: a sector read again adds nothing.
    if (firstSector < fedUpTo_) {
        bytes = bytes.subspan(static_cast<std::size_t>(fedUpTo_ - firstSector) * bytesPerSector_);
        firstSector = fedUpTo_;
    }
    bytes = bytes.first(static_cast<std::size_t>(end - firstSector) * bytesPerSector_);
    if (fat_) fat_->FeedBlock(firstSector, bytes);
    if (exfat_) FeedExFat(firstSector * bytesPerSector_, bytes);
    fedUpTo_ = end;
}

// Whole clusters go straight to the finder; a cluster that begins or ends
// outside this block is gathered in carry_ first. A gap (sectors skipped as
// unreadable) drops what was gathered.
void CardNameFinder::FeedExFat(std::int64_t offset, std::span<const std::uint8_t> bytes) {
    if (!carry_.empty() && carryStart_ + static_cast<std::int64_t>(carry_.size()) != offset) carry_.clear();
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::int64_t position = offset + static_cast<std::int64_t>(at);
        const std::size_t left = bytes.size() - at;
        if (position < heapOffset_) {
            at += static_cast<std::size_t>(std::min<std::int64_t>(heapOffset_ - position, std::int64_t(left)));
            continue;
        }
        const std::int64_t into = (position - heapOffset_) % clusterBytes_;
        if (carry_.empty() && into != 0) {
            at += static_cast<std::size_t>(std::min<std::int64_t>(clusterBytes_ - into, std::int64_t(left)));
            continue;
        }
        const std::size_t cluster = static_cast<std::size_t>(clusterBytes_);
        if (carry_.empty() && left >= cluster) {
            const std::size_t whole = left / cluster * cluster;
            exfat_->AddBlock(position, bytes.data() + at, whole);
            at += whole;
            continue;
        }
        if (carry_.empty()) carryStart_ = position;
        const std::size_t take = std::min(cluster - carry_.size(), left);
        carry_.insert(carry_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      bytes.begin() + static_cast<std::ptrdiff_t>(at + take));
        at += take;
        if (carry_.size() == cluster) {
            exfat_->AddBlock(carryStart_, carry_.data(), carry_.size());
            carry_.clear();
        }
    }
}

void CardNameFinder::Finish() {
    if (fat_) tree_ = std::make_unique<FolderTree>(fat_->Finish());
    fat_.reset();
    carry_.clear();
    carry_.shrink_to_fit();
}

namespace {

CardEntry FatEntry(const FoundEntry& found) {
    CardEntry entry;
    entry.cardPath = found.cardPath;
    entry.safePath = found.path;
    entry.size = found.size;
    entry.deleted = found.deleted;
    entry.folderNameLost = found.folderNameLost;
    entry.writeDate = found.writeDate;
    entry.writeTime = found.writeTime;
    entry.firstByte = found.byteOffset;
    return entry;
}

CardEntry ExFatEntry(const engine::ExFatNameFinder::NamedFile& found, std::int64_t firstByte) {
    CardEntry entry;
    entry.cardPath = found.Path;
    entry.safePath = found.SafePath;
    entry.size = found.Set.ValidDataLength;
    entry.deleted = found.Set.Deleted;
    entry.folderNameLost = found.FolderNameLost;
    entry.writeDate = static_cast<std::uint16_t>(found.Set.ModifiedTimestamp >> 16);
    entry.writeTime = static_cast<std::uint16_t>(found.Set.ModifiedTimestamp & 0xFFFF);
    entry.writeTime10ms = found.Set.Modified10ms;
    entry.writeUtcOffset = found.Set.ModifiedUtcOffset;
    entry.firstByte = firstByte;
    return entry;
}

} // namespace

std::vector<CardEntry> CardNameFinder::EntriesNotClaimed() const {
    std::vector<CardEntry> entries;
    if (exfat_) {
        for (const std::int64_t cluster : exfat_->FileClusters()) {
            const std::int64_t firstByte = heapOffset_ + (cluster - 2) * clusterBytes_;
            if (exfatClaimed_.count(firstByte)) continue;
            const engine::ExFatNameFinder::NamedFile* found = exfat_->FileAt(firstByte);
            if (found && !found->Set.IsDirectory()) entries.push_back(ExFatEntry(*found, firstByte));
        }
    }
    if (tree_)
        for (const FoundEntry* found : tree_->FilesNotClaimed()) entries.push_back(FatEntry(*found));
    return entries;
}

std::optional<CardEntry> CardNameFinder::EntryAt(std::int64_t startOffset, const std::string& extension,
                                                 std::int64_t bytes) {
    const auto size = static_cast<std::uint64_t>(std::max<std::int64_t>(bytes, 0));
    if (exfat_) {
        const engine::ExFatNameFinder::NamedFile* found = exfat_->FileAt(startOffset, extension, size);
        if (found && !found->Set.IsDirectory()) {
            exfatClaimed_.insert(startOffset);
            return ExFatEntry(*found, startOffset);
        }
    }
    if (tree_)
        if (const FoundEntry* found = tree_->Claim(startOffset, extension, size)) return FatEntry(*found);
    return std::nullopt;
}

} // namespace wizard
