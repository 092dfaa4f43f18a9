#include "wizard/FolderTree.h"

#include <algorithm>
#include <unordered_set>

#include "engine/EngineText.h"

namespace wizard {

namespace {

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::uint64_t SizeDistance(std::uint32_t size, std::uint64_t carved) {
    return size > carved ? size - carved : carved - size;
}

std::uint32_t Stamp(const FoundEntry& e) { return (std::uint32_t(e.writeDate) << 16) | e.writeTime; }

} // namespace

FolderTree::FolderTree(std::optional<ClusterLayout> layout, std::uint32_t bytesPerSector,
                       std::vector<FoundFolder> folders, std::vector<FoundEntry> files)
    : layout_(layout), bytesPerSector_(bytesPerSector ? bytesPerSector : 512), folders_(std::move(folders)),
      files_(std::move(files)), claimed_(files_.size(), false) {
    for (std::size_t i = 0; i < files_.size(); ++i) byCluster_.emplace(files_[i].firstCluster, i);
}

const FoundEntry* FolderTree::FileStartingAt(std::int64_t byteOffset, const std::string& extension,
                                             std::optional<std::uint64_t> carvedSize) const {
    if (!layout_ || byteOffset < 0 || byteOffset % bytesPerSector_ != 0) return nullptr;
    const std::int64_t cluster = layout_->ClusterStartingAt(byteOffset / bytesPerSector_);
    if (cluster == 0) return nullptr;
    const auto [first, last] = byCluster_.equal_range(cluster);
    std::vector<const FoundEntry*> candidates;
    for (auto it = first; it != last; ++it) candidates.push_back(&files_[it->second]);
    if (candidates.empty()) return nullptr;
    if (!extension.empty()) {
        const std::string wanted = Upper(engine::TrimBlanks(extension));
        std::vector<const FoundEntry*> typed;
        for (const FoundEntry* e : candidates)
            if (Upper(engine::GetExtension(e->name)) == wanted) typed.push_back(e);
        if (!typed.empty()) candidates.swap(typed);
    }
    // The nearest size first, then the newest, then the first on the card.
    const auto better = [&](const FoundEntry* a, const FoundEntry* b) {
        if (carvedSize) {
            const std::uint64_t da = SizeDistance(a->size, *carvedSize), db = SizeDistance(b->size, *carvedSize);
            if (da != db) return da < db;
        }
        if (Stamp(*a) != Stamp(*b)) return Stamp(*a) > Stamp(*b);
        return a < b;
    };
    return *std::min_element(candidates.begin(), candidates.end(), better);
}

const FoundEntry* FolderTree::Claim(std::int64_t byteOffset, const std::string& extension,
                                    std::optional<std::uint64_t> carvedSize) {
    const FoundEntry* entry = FileStartingAt(byteOffset, extension, carvedSize);
    if (entry) claimed_[static_cast<std::size_t>(entry - files_.data())] = true;
    return entry;
}

std::vector<const FoundEntry*> FolderTree::FilesNotClaimed() const {
    std::unordered_set<std::int64_t> clustersTaken;
    for (std::size_t i = 0; i < files_.size(); ++i)
        if (claimed_[i]) clustersTaken.insert(files_[i].firstCluster);
    // Of several entries of one cluster, the one a carved file would get.
    std::vector<const FoundEntry*> left;
    for (const FoundEntry& e : files_)
        if (clustersTaken.insert(e.firstCluster).second)
            if (const FoundEntry* best = FileStartingAt(e.byteOffset)) left.push_back(best);
    return left;
}

} // namespace wizard
