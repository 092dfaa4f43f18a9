#include "engine/ExFatNameFinder.h"

#include <algorithm>

#include "engine/SafeName.h"

namespace engine {

namespace {

// A chain of folders is followed no further than the turbo scan reads them.
constexpr int MaxFolderDepth = 128;
// Entry sets kept at most (a card made to hold millions costs no more).
constexpr std::size_t MaxSets = 1000000;
// Folders looked at for the one whose clusters hold a cluster: those that
// start nearest below it.
constexpr int MaxOwnerCandidates = 64;

} // namespace

ExFatNameFinder::ExFatNameFinder(std::int64_t heapOffsetBytes, std::int64_t clusterBytes, std::int64_t clusterCount,
                                 std::int64_t rootCluster)
    : heapOffset_(heapOffsetBytes), clusterBytes_(clusterBytes), clusterCount_(clusterCount), rootCluster_(rootCluster) {}

std::int64_t ExFatNameFinder::ClusterOf(std::int64_t volumeOffset) const {
    if (clusterBytes_ <= 0 || volumeOffset < heapOffset_) return -1;
    const std::int64_t cluster = (volumeOffset - heapOffset_) / clusterBytes_ + 2;
    return cluster <= clusterCount_ + 1 ? cluster : -1;
}

void ExFatNameFinder::AddBlock(std::int64_t volumeOffset, const std::uint8_t* bytes, std::size_t size) {
    if (!bytes || clusterBytes_ <= 0) return;
    // Cluster by cluster: a directory's sets never straddle into another
    // folder's cluster in a way that matters here, and each set is placed
    // in the cluster that holds it.
    for (std::size_t at = 0; at < size; at += static_cast<std::size_t>(clusterBytes_)) {
        const std::int64_t cluster = ClusterOf(volumeOffset + static_cast<std::int64_t>(at));
        if (cluster < 2) continue;
        const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(clusterBytes_), size - at);
        const ExFatDirectoryContents contents = ParseExFatDirectory(platform::ByteView(bytes + at, length));
        for (const ExFatEntrySet& set : contents.Sets) {
            if (set.FirstCluster < 2 || set.FirstCluster > clusterCount_ + 1) continue;
            if (folders_.size() + files_.size() >= MaxSets) break;
            FoundSet found{set, cluster};
            if (set.IsDirectory()) {
                foldersByFirst_.emplace(set.FirstCluster, folders_.size());
                folders_.push_back(std::move(found));
                continue;
            }
            filesByFirst_.emplace(set.FirstCluster, files_.size());
            files_.push_back(std::move(found));
        }
    }
    named_.clear();
}

std::string ExFatNameFinder::FolderPath(std::int64_t cluster, bool safe, bool* lost) const {
    const auto part = [safe](const std::string& name) { return safe ? SafeFileName(name) : name; };
    std::string path;
    for (int depth = 0; depth < MaxFolderDepth; ++depth) {
        if (cluster == rootCluster_) return path;
        const FoundSet* owner = OwnerOf(cluster);
        if (!owner) {
            if (lost) *lost = true;
            return part("Folder " + std::to_string(cluster)) + "/" + path;
        }
        path = part(owner->Set.Name) + "/" + path;
        cluster = owner->Cluster;
    }
    return path;
}

// The folder whose clusters hold cluster: a live one before a deleted one.
const ExFatNameFinder::FoundSet* ExFatNameFinder::OwnerOf(std::int64_t cluster) const {
    const FoundSet* owner = nullptr;
    auto it = foldersByFirst_.upper_bound(cluster);
    for (int looked = 0; it != foldersByFirst_.begin() && looked < MaxOwnerCandidates; ++looked) {
        const FoundSet& folder = folders_[(--it)->second];
        const std::int64_t clusters =
            std::max<std::int64_t>(1, static_cast<std::int64_t>((folder.Set.DataLength + clusterBytes_ - 1) /
                                                                static_cast<std::uint64_t>(clusterBytes_)));
        if (cluster >= it->first + clusters) continue;
        if (!folder.Set.Deleted) return &folder;
        if (!owner) owner = &folder;
    }
    return owner;
}

std::vector<std::int64_t> ExFatNameFinder::FileClusters() const {
    std::vector<std::int64_t> clusters;
    for (auto it = filesByFirst_.begin(); it != filesByFirst_.end(); it = filesByFirst_.upper_bound(it->first))
        clusters.push_back(it->first);
    return clusters;
}

namespace {

std::string UpperExtension(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    while (!ext.empty() && ext.back() == ' ') ext.pop_back();
    for (char& c : ext)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return ext;
}

std::uint64_t Distance(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : b - a; }

} // namespace

const ExFatNameFinder::NamedFile* ExFatNameFinder::FileAt(std::int64_t volumeOffset, const std::string& extension,
                                                          std::optional<std::uint64_t> size) const {
    const std::int64_t cluster = ClusterOf(volumeOffset);
    if (cluster < 2 || heapOffset_ + (cluster - 2) * clusterBytes_ != volumeOffset) return nullptr;
    const auto [first, last] = filesByFirst_.equal_range(cluster);
    if (first == last) return nullptr;
    const std::string wanted = UpperExtension("." + extension);
    const auto typed = [&](std::size_t i) { return !wanted.empty() && UpperExtension(files_[i].Set.Name) == wanted; };
    // Whether set a is to be taken before set b.
    const auto better = [&](std::size_t a, std::size_t b) {
        const ExFatEntrySet& x = files_[a].Set;
        const ExFatEntrySet& y = files_[b].Set;
        if (typed(a) != typed(b)) return typed(a);
        if (size && Distance(x.ValidDataLength, *size) != Distance(y.ValidDataLength, *size))
            return Distance(x.ValidDataLength, *size) < Distance(y.ValidDataLength, *size);
        if (x.Deleted != y.Deleted) return !x.Deleted;
        if (x.ModifiedTimestamp != y.ModifiedTimestamp) return x.ModifiedTimestamp > y.ModifiedTimestamp;
        return a > b;
    };
    std::size_t best = first->second;
    for (auto it = std::next(first); it != last; ++it)
        if (better(it->second, best)) best = it->second;
    if (const auto named = named_.find(best); named != named_.end()) return &named->second;
    const FoundSet& set = files_[best];
    NamedFile file{FolderPath(set.Cluster, false) + set.Set.Name, {}, false, set.Set};
    file.SafePath = FolderPath(set.Cluster, true, &file.FolderNameLost) + SafeFileName(set.Set.Name);
    return &named_.emplace(best, std::move(file)).first->second;
}

} // namespace engine
