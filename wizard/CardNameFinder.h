// The card's own names for what the deep scan carves: during the pass it is
// fed every block read, and keeps what the card's folders say (FAT folder
// sectors, or exFAT entry sets); after the pass it says which entry a carved
// file is, by the cluster the file starts at. Works on FAT12/16/32 and
// exFAT cards, also after a quick format or a reformat with another layout.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/ExFatNameFinder.h"
#include "wizard/DeepScanHost.h"
#include "wizard/FolderFinder.h"

namespace wizard {

// A file's entry on the card, as the naming needs it.
struct CardEntry {
    std::string cardPath;        // as the card names it
    std::string safePath;        // each name made safe, relative: "DCIM/100CANON/IMG_0001.JPG"
    std::uint64_t size = 0;
    bool deleted = false;
    bool folderNameLost = false;  // a folder on its path is named after its first cluster
    std::uint16_t writeDate = 0, writeTime = 0;
    std::uint8_t writeTime10ms = 0, writeUtcOffset = 0;
    std::int64_t firstByte = 0;   // where its first cluster begins on the drive
};

class CardNameFinder {
public:
    // driveBytesPerSector and driveSectors: the drive as the scan reads it.
    CardNameFinder(const DeepScanCard& card, std::uint32_t driveBytesPerSector, std::int64_t driveSectors);
    ~CardNameFinder();

    // Whole sectors of the drive from firstSector on, as the pass read them.
    // Sectors fed before (the pass went back) are not looked at again.
    void Feed(std::int64_t firstSector, std::span<const std::uint8_t> bytes);
    // After the pass, once: works out the folders from what was fed.
    void Finish();
    // The entry whose data starts at that byte of the drive (the carved
    // file's type and size decide between two entries of one cluster).
    std::optional<CardEntry> EntryAt(std::int64_t startOffset, const std::string& extension, std::int64_t bytes);
    // The files' entries that no EntryAt returned: data the carver never
    // met (one entry for each first cluster).
    std::vector<CardEntry> EntriesNotClaimed() const;

private:
    void FeedExFat(std::int64_t offset, std::span<const std::uint8_t> bytes);

    std::uint32_t bytesPerSector_;
    std::int64_t fedUpTo_ = 0;  // the first sector not yet fed
    // FAT: the folder sectors, and the tree built from them after the pass
    // (on an exFAT card too: those of a FAT format before).
    std::unique_ptr<FolderFinder> fat_;
    std::unique_ptr<FolderTree> tree_;
    // exFAT: the entry sets, fed whole clusters; a cluster that a block
    // boundary cuts is put together here.
    std::unique_ptr<engine::ExFatNameFinder> exfat_;
    std::int64_t heapOffset_ = 0, clusterBytes_ = 0;
    std::vector<std::uint8_t> carry_;
    std::int64_t carryStart_ = 0;
    std::unordered_set<std::int64_t> exfatClaimed_;  // first bytes EntryAt named
};

} // namespace wizard
