// The folders and files the deep scan found on the card, rebuilt once its
// pass is over, and the questions the carver asks of them: which entry a
// carved file is (its name, folder, size and date), and which entries' data
// it never met.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "wizard/FolderLayout.h"

namespace wizard {

struct FoundFolder {
    std::int64_t cluster = 0;        // its first cluster
    std::int64_t parentCluster = 0;  // from its ".." entry (0: the root)
    std::string name;                // as the card names it, or "Folder <cluster>" when no entry does
    bool nameFound = false;          // an entry on the card gave the name
    bool deleted = false;
    std::string path;                // made safe, relative: "DCIM/100CANON"
    std::string cardPath;            // as the card names it (not made safe)
};

struct FoundEntry {
    std::string name;                // as the card names it (UTF-8); a deleted short name's first letter restored
    std::string path;                // made safe, relative: "DCIM/100CANON/IMG_0001.JPG"
    std::string cardPath;            // as the card names it (not made safe)
    bool folderNameLost = false;     // a folder on its path is named after its cluster
    std::int64_t folderCluster = 0;  // the first cluster of the folder that holds the entry (0: the root)
    std::int64_t firstCluster = 0;
    std::uint32_t size = 0;
    std::uint16_t writeTime = 0;     // FAT time and date
    std::uint16_t writeDate = 0;
    bool deleted = false;
    std::int64_t byteOffset = 0;     // where the first cluster begins on the drive
};

class FolderTree {
public:
    FolderTree() = default;
    FolderTree(std::optional<ClusterLayout> layout, std::uint32_t bytesPerSector, std::vector<FoundFolder> folders,
               std::vector<FoundEntry> files);

    // Nothing is named without a layout.
    const std::optional<ClusterLayout>& Layout() const { return layout_; }
    const std::vector<FoundFolder>& Folders() const { return folders_; }
    const std::vector<FoundEntry>& Files() const { return files_; }

    // The entry whose first cluster begins at byteOffset of the drive, or
    // null. When several claim that cluster, those with the carved type's
    // extension (case ignored; empty: any) win, then those whose size is
    // the carved size (nullopt: not known) or nearest to it, then the newest.
    const FoundEntry* FileStartingAt(std::int64_t byteOffset, const std::string& extension = {},
                                     std::optional<std::uint64_t> carvedSize = std::nullopt) const;
    // The same, and the entry counts as found by the carver.
    const FoundEntry* Claim(std::int64_t byteOffset, const std::string& extension = {},
                            std::optional<std::uint64_t> carvedSize = std::nullopt);
    // Entries no Claim returned, in the order of Files(); each first cluster
    // once (another entry of a claimed cluster is not listed).
    std::vector<const FoundEntry*> FilesNotClaimed() const;

private:
    std::optional<ClusterLayout> layout_;
    std::uint32_t bytesPerSector_ = 512;
    std::vector<FoundFolder> folders_;
    std::vector<FoundEntry> files_;
    std::unordered_multimap<std::int64_t, std::size_t> byCluster_;
    std::vector<bool> claimed_;
};

} // namespace wizard
