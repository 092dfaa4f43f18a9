// Saving the files the walk found: each file's clusters from the first FAT
// (consecutive clusters where a deleted file's chain was cleared), read in
// runs of adjacent clusters, with retries and zeros for unreadable runs, and
// written through the shared output file.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <cstring>
#include <filesystem>
#include <thread>

#include "Typhex.h"
#include "engine/ExFatEntrySet.h"
#include "engine/FATEngine.h"
#include "engine/EngineText.h"
#include "engine/FileHelpers.h"
#include "engine/FileTypeTable.h"
#include "engine/NewOutputFile.h"
#include "engine/SafeName.h"
#include "platform/ui.h"
#include "support/RuntimeError.h"

namespace engine {

namespace {

constexpr int MaxReadFailuresBeforeZeros = 3;

} // namespace

// Joins folder parts with exactly one "/" between them.
std::string JoinFolder(const std::string& folder, const std::string& relative) {
    std::string out = folder;
    std::size_t from = 0;
    while (from < relative.size() && relative[from] == '/') ++from;
    if (!out.empty() && out.back() != '/') out.push_back('/');
    out += relative.substr(from);
    if (!out.empty() && out.back() != '/') out.push_back('/');
    return out;
}

// Makes a saved file read-only when its entry was (the other attribute
// bits kept by the program, hidden, system and archive, have no meaning here).
void ApplyReadOnly(const std::string& path, std::uint8_t attributes) {
    if (!(attributes & AttrReadOnly)) return;
    std::error_code ec;
    std::filesystem::permissions(path,
                                 std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove, ec);
}

// Why a saved file is not whole, for its message.
std::string ShortfallText(const ReadShortfall& shortfall) {
    std::string text;
    auto add = [&text](const std::string& part) { text += (text.empty() ? "" : "; ") + part; };
    if (shortfall.pastDriveEnd) add("the drive ends before the rest of its data");
    if (shortfall.clustersRanOut)
        add(shortfall.clustersReason ? shortfall.clustersReason
                                     : "its clusters on the card end before the rest of its data");
    if (shortfall.unreadableBytes > 0)
        add(std::to_string(shortfall.unreadableBytes) + " bytes could not be read and were saved as zeros");
    return text;
}

// The error of a failed write into path with bytesLeft bytes still to go;
// it marks the destination full when there is no room left for them.
support::RuntimeError FATEngine::WriteFailure(const std::string& path, std::int64_t bytesLeft) {
    const double freeBytes = DiskFreeSpace(destFolder_);
    if (freeBytes < static_cast<double>(std::max<std::int64_t>(bytesLeft, 1))) {
        saveSummary_.DestinationFull = true;
        destinationExhausted_ = true;
        return support::RuntimeError(support::ErrDiskFull, "FATEngine",
                                     "Could not write " + path + ": no space left on the destination");
    }
    return support::RuntimeError(support::ErrDeviceIo, "FATEngine", "Could not write " + path);
}

FATEngine::FolderIdentity FATEngine::IdentityOf(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return {};
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino), true};
}

bool FATEngine::DestinationUnchanged() const {
    return !destination_.known || IdentityOf(destFolder_) == destination_;
}

support::RuntimeError FATEngine::DestinationChanged() const {
    return support::RuntimeError(support::ErrPathNotFound, "FATEngine",
                                 "The destination folder " + destFolder_ +
                                     " was removed or replaced during the run: the files saved there are "
                                     "gone, and the rest were not saved");
}

std::string FATEngine::DirectoryPath(std::int32_t index) const {
    // Parents always come before their children in the list, so the chain
    // ends; the bound guards against a damaged list all the same.
    std::string path;
    std::size_t depth = 0;
    while (index >= 0 && static_cast<std::size_t>(index) < directories_.size() && depth++ < directories_.size()) {
        const DirRecord& dir = directories_[static_cast<std::size_t>(index)];
        path = SafeFileName(TrimBlanks(dir.Name)) + "/" + path;
        if (dir.ParentIndex >= index) break;
        index = dir.ParentIndex;
    }
    return path;
}

std::string FATEngine::CardPath(const FileRecord& file) const {
    std::string path = TrimBlanks(file.Name);
    std::int32_t index = file.ParentIndex;
    std::size_t depth = 0;
    while (index >= 0 && static_cast<std::size_t>(index) < directories_.size() && depth++ < directories_.size()) {
        const DirRecord& dir = directories_[static_cast<std::size_t>(index)];
        path = TrimBlanks(dir.Name) + "/" + path;
        if (dir.ParentIndex >= index) break;
        index = dir.ParentIndex;
    }
    return path;
}

void FATEngine::RaiseSaved(const FileRecord& file, const WrittenFile& written, const std::string& folder,
                           const std::vector<std::int64_t>& clusters, std::uint64_t sizeOnCard,
                           const ReadShortfall& shortfall) {
    if (!Events.OnSavedFATFile) return;
    SavedFATFile saved;
    saved.Folder = folder;
    saved.SavedName = written.name;
    saved.CardPath = CardPath(file);
    saved.Deleted = (file.Flags & 1) != 0;
    saved.Complete = !shortfall.Any();
    saved.UnreadableBytes = shortfall.unreadableBytes;
    saved.SizeOnCard = sizeOnCard;
    saved.SizeSaved = file.Size;
    saved.Attributes = file.Attributes;
    saved.CreateDate = file.CreateDate;
    saved.CreateTime = file.CreateTime;
    saved.CreateTimeTenths = file.CreateTimeTenths;
    saved.WriteTime10ms = file.WriteTime10ms;
    saved.WriteUtcOffset = file.WriteUtcOffset;
    saved.CreateUtcOffset = file.CreateUtcOffset;
    saved.AccessDate = file.AccessDate;
    saved.WriteDate = file.WriteDate;
    saved.WriteTime = file.WriteTime;
    saved.FirstCluster = file.FirstCluster;
    // Adjacent clusters make one run; the runs end where the saved bytes do.
    const std::int64_t clusterBytes = std::int64_t(layout_.Boot.SectorsPerCluster) * layout_.Boot.BytesPerSector;
    std::int64_t left = file.Size;
    for (std::size_t i = 0; i < clusters.size() && left > 0 && clusterBytes > 0; ++i) {
        const std::int64_t offset = ClusterToSector(clusters[i]) * layout_.Boot.BytesPerSector;
        const std::int64_t length = std::min(left, clusterBytes);
        if (!saved.Runs.empty() && saved.Runs.back().Offset + saved.Runs.back().Length == offset)
            saved.Runs.back().Length += length;
        else
            saved.Runs.push_back({offset, length});
        left -= length;
    }
    // Held, and the events after it, until the hash behind the scan has
    // all of the file's bytes.
    heldEvents_.push_back([this, hashing = hashing_, digest = written.digest, saved = std::move(saved)]() mutable {
        saved.Sha256 = hashing->Digest(digest);
        if (Events.OnSavedFATFile) Events.OnSavedFATFile(saved);
    });
}

support::Truth FATEngine::SaveWithHashing(const std::function<support::Truth()>& save) {
    HashBehind hashing;
    hashing_ = &hashing;
    // Declared after the hash, so it runs before the hash thread ends: no
    // held event outlives the hashes it waits for.
    struct Unhook {
        FATEngine& engine;
        ~Unhook() {
            engine.heldEvents_.clear();
            engine.hashing_ = nullptr;
            engine.destination_ = {};
        }
    } unhook{*this};
    support::Truth result = support::False;
    try {
        result = save();
    } catch (...) {
        // What was saved before the failure is reported all the same.
        RaiseHeldEvents();
        throw;
    }
    RaiseHeldEvents();
    return result;
}

support::Truth FATEngine::SaveAllFiles() {
    if (!hashing_) return SaveWithHashing([this] { return SaveAllFiles(); });
    if (Events.OnFATFilesFound) Events.OnFATFilesFound(static_cast<std::int32_t>(files_.size()));
    std::string prefix;
    std::vector<std::string> paths;
    if (keepFolderStructure_) {
        paths.reserve(directories_.size());
        for (std::size_t i = 0; i < directories_.size(); ++i) {
            paths.push_back(DirectoryPath(static_cast<std::int32_t>(i)));
            if (!paths.back().empty()) ForceDirectories(JoinFolder(destFolder_, paths.back()));
        }
    } else {
        prefix = "/";
    }
    saveSummary_ = SaveSummary{};
    destinationExhausted_ = false;
    // Folders are made as needed, so a destination removed mid-run would
    // come back empty and the run would end as if all were saved there.
    destination_ = IdentityOf(destFolder_);
    for (std::size_t i = 0; i < files_.size(); ++i) {
        if (stopRequested_) return support::False;
        if (!DestinationUnchanged()) throw DestinationChanged();
        FileRecord& file = files_[i];
        if (IsSearchableExtension(GetExtension(file.Name))) {
            // A file that is not saved is said and counted, never passed over
            // in silence. Once the destination is full, the rest are not tried:
            // each would only fail again (and a damaged card may ask for
            // gigabytes). They are counted; the full destination is said once,
            // by whoever runs the scan, not once for each of them.
            if (destinationExhausted_) {
                ++saveSummary_.NotWritten;
            } else if (file.Size != 0 && !HasFreeSpace(static_cast<double>(file.Size))) {
                // Cheap to ask, so a smaller file after this one is still tried.
                saveSummary_.DestinationFull = true;
                NotWritten(file, "no space left on the destination for its" + MessageNumber(file.Size) + " bytes");
            } else {
                std::string relative;
                if (keepFolderStructure_ && file.ParentIndex >= 0 &&
                    static_cast<std::size_t>(file.ParentIndex) < paths.size())
                    relative = paths[static_cast<std::size_t>(file.ParentIndex)];
                SaveFATFileEXT(file, prefix + relative);
                switch (lastSaveOutcome_) {
                case SaveOutcome::Saved: ++saveSummary_.Saved; break;
                case SaveOutcome::Incomplete: ++saveSummary_.Incomplete; break;
                case SaveOutcome::NotWritten: ++saveSummary_.NotWritten; break;
                case SaveOutcome::NotStarted:
                    // The events of the file before stopped the scan or
                    // took the destination away.
                    if (stopRequested_) return support::False;
                    throw DestinationChanged();
                }
            }
        }
        platform::DoEvents();
        RaiseOrHold([this, done = static_cast<std::int32_t>(i + 1)] {
            if (Events.OnProgress) Events.OnProgress(done);
        });
    }
    return support::True;
}

void FATEngine::NotWritten(const FileRecord& file, const std::string& reason) {
    ++saveSummary_.NotWritten;
    RaiseError("Not saved: " + PrintableName(TrimBlanks(file.Name)) + ": " + reason);
}

std::uint32_t FATEngine::Fat1Value(std::int64_t cluster) const {
    return cluster >= 0 && cluster < static_cast<std::int64_t>(fat1Values_.size())
               ? fat1Values_[static_cast<std::size_t>(cluster)]
               : 0;
}

std::int64_t FATEngine::Fat1Bound() const {
    return std::min<std::int64_t>(static_cast<std::int64_t>(fat1Values_.size()) - 1,
                                  std::int64_t(countOfClusters_) + 1);
}

void FATEngine::RealignToChainStart(FileRecord& file) const {
    // A realigned entry may point into the middle of its chain: step back
    // while the cluster before leads here. Strictly decreasing, so bounded.
    const std::int64_t fatBound = Fat1Bound();
    std::int64_t c = file.FirstCluster;
    while (c - 1 >= 2) {
        const std::int64_t p = Fat1Value(c - 1);
        if (!((p == c - 1 || p == c) && p != 0 && p <= fatBound)) break;
        c = p - 1;
    }
    file.FirstCluster = static_cast<std::int32_t>(c);
}

std::vector<std::int64_t> FATEngine::FileClusters(const FileRecord& file, bool& pastDriveEnd, std::int64_t& current) {
    std::vector<std::int64_t> clusters{file.FirstCluster};
    pastDriveEnd = false;
    const std::int64_t spc = layout_.Boot.SectorsPerCluster;
    const std::int64_t bps = layout_.Boot.BytesPerSector;
    if (file.Size == 0 || spc <= 0 || bps <= 0) return clusters;
    // Its chain is gone with it: taking the next clusters whatever they
    // hold would run into the files that stayed.
    if (file.Status == 1) return FreeClustersFrom(file, pastDriveEnd, current);
    const std::int64_t lastCluster = std::int64_t(countOfClusters_) + 1;
    const std::int64_t fatBound = Fat1Bound();
    // A cluster that the volume has but the drive does not (a card image cut
    // short) ends the chain: the file is incomplete.
    auto beyondDrive = [&](std::int64_t cluster) { return cluster > lastCluster && cluster <= volumeClusters_ + 1; };
    std::int64_t sectors = spc;
    current = file.FirstCluster;
    // Each pass adds a cluster until the size is covered, so the list never
    // outgrows the file.
    while (bps * sectors < std::int64_t(file.Size)) {
        const std::int64_t next = Fat1Value(current);
        if (ClassifyFATValue(fatType_, static_cast<std::uint32_t>(next)) == FatEndOfChain) break;
        if (next > fatBound) {
            pastDriveEnd = beyondDrive(next);
            break;
        }
        std::int64_t added = next;
        if (next == 0) {
            added = current + 1; // a cleared entry: assume the next cluster
            if (added > lastCluster) {
                pastDriveEnd = beyondDrive(added);
                break;
            }
        }
        clusters.push_back(added);
        sectors += spc;
        current = added;
    }
    return clusters;
}

FATEngine::ClusterRun FATEngine::NextClusterRun(const std::vector<std::int64_t>& clusters, std::size_t first,
                                                std::int64_t runLimit) const {
    // Adjacent clusters of at most SectorsAtOnce sectors (rounded up to whole
    // clusters), from clusters[first].
    const std::int64_t spc = layout_.Boot.SectorsPerCluster;
    const std::size_t final = clusters.size() - 1;
    ClusterRun run{0, first, ClusterRun::End::Limit};
    while (run.sectors < runLimit) {
        run.sectors += spc;
        if (run.last == final) {
            run.end = ClusterRun::End::Final;
            break;
        }
        if (clusters[run.last + 1] != clusters[run.last] + 1) {
            run.end = ClusterRun::End::Break;
            break;
        }
        ++run.last;
    }
    return run;
}

void FATEngine::WaitWhilePaused() {
    // The host is not left without the last file's report while it waits.
    if (paused_) RaiseHeldEvents();
    while (paused_ && !stopRequested_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        platform::DoEvents();
    }
}

std::int64_t FATEngine::ReadRunOrZeros(std::int64_t start, std::int64_t count, support::AlignedBytes& buffer,
                                       std::size_t bytes, std::int64_t wanted, int& failures) {
    if (buffer.size() < bytes) buffer.resize(bytes);
    // Retries are counted for the whole file: the first run that fails is
    // tried again (a card may fail once and then read), later ones are not.
    while (!ReadVolumeSectors(start, count, buffer.data(), bytes)) {
        // A failing card may take long over the retries: the last file's
        // report is not kept waiting for them.
        RaiseHeldEvents();
        if (++failures > MaxReadFailuresBeforeZeros) return ReadSectorBySector(start, count, buffer, bytes, wanted);
    }
    return 0;
}

std::int64_t FATEngine::CopyClusters(const std::vector<std::int64_t>& clusters, std::int64_t size,
                                     const std::string& path, std::int64_t& current, NewOutputFile& output,
                                     const std::function<bool()>& startOutput) {
    const std::int64_t spc = layout_.Boot.SectorsPerCluster;
    const std::int64_t bps = layout_.Boot.BytesPerSector;
    const std::int64_t allocated = static_cast<std::int64_t>(clusters.size()) * spc * bps;
    const std::int64_t deviceSector = std::max<std::int64_t>(SectorBytes(), 1);
    // One read call holds at most 32767 drive sectors.
    const std::int64_t runLimit =
        std::max<std::int64_t>(1, std::min<std::int64_t>(sectorsAtOnce_, 32767 / sectorRatio_ - spc));
    const std::size_t final = clusters.size() - 1;
    std::int64_t remaining = size;
    std::size_t r = 0;
    int failures = 0;
    std::int64_t unreadable = 0;
    platform::DoEvents();
    while (remaining >= 1) {
        WaitWhilePaused();
        const ClusterRun run = NextClusterRun(clusters, r, runLimit);
        std::int64_t n = run.sectors;
        if (deviceSector * n > allocated) n = allocated / deviceSector + 1;
        if (run.last == final && n == 0) break;
        current = clusters[r];
        std::int64_t start = ClusterToSector(clusters[r]);
        if (remaining == bps * spc && n == 0) {
            n = spc;
            start = ClusterToSector(clusters[run.last] + 1);
        }
        const std::size_t bytes = static_cast<std::size_t>(deviceSector * n);
        const auto count =
            static_cast<std::int32_t>(std::min<std::int64_t>(static_cast<std::int64_t>(bytes), remaining));
        // The buffers are kept from file to file: a new one would be zeroed,
        // and its pages faulted in, for every file.
        support::AlignedBytes& buffer = hashing_->NextBuffer();
        unreadable += ReadRunOrZeros(start, n, buffer, bytes, count, failures);
        // Hashed on the other core while it is written and the next run read.
        hashing_->HashBuffer(static_cast<std::size_t>(count));
        if (!output.IsOpen() && !startOutput()) return unreadable;
        if (!output.Write(buffer.data(), buffer.size(), 0, count)) throw WriteFailure(path, remaining);
        remaining -= count;
        switch (run.end) {
        case ClusterRun::End::Limit: r = run.last; break;
        case ClusterRun::End::Break: r = run.last + 1; break;
        case ClusterRun::End::Final: r = final; break;
        }
        platform::DoEvents();
    }
    return unreadable;
}

support::Truth FATEngine::ReportSavedFile(const FileRecord& file, const std::string& folder, const WrittenFile& written,
                                          const std::vector<std::int64_t>& clusters, const ReadShortfall& shortfall,
                                          std::uint64_t sizeOnCard) {
    if (written.name.empty()) {
        lastSaveOutcome_ = SaveOutcome::NotStarted;
        return support::False;
    }
    const std::string path = folder + written.name;
    ApplyWriteTime(path, file.WriteDate, file.WriteTime, file.WriteTime10ms, file.WriteUtcOffset);
    ApplyReadOnly(path, file.Attributes);
    RaiseSaved(file, written, folder, clusters, sizeOnCard, shortfall);
    if (shortfall.Any()) {
        // What the card gave is kept, but the file is not whole.
        lastSaveOutcome_ = SaveOutcome::Incomplete;
        RaiseError("Incomplete: " + PrintableName(TrimBlanks(file.Name)) + ": " + ShortfallText(shortfall) + " (" +
                   std::to_string(file.Size) + " of " + std::to_string(sizeOnCard) + " bytes saved in " + path + ")");
        return support::False;
    }
    lastSaveOutcome_ = SaveOutcome::Saved;
    RaiseOrHold([this, folder, name = written.name] {
        if (Events.OnFoundFATFile) Events.OnFoundFATFile(folder, name);
    });
    return support::True;
}

FATEngine::WrittenFile FATEngine::WriteSavedFile(const FileRecord& file, const std::string& folder,
                                                 const std::vector<std::int64_t>& clusters, std::int64_t& current,
                                                 ReadShortfall& shortfall) {
    // The flat folder gathers files of many folders: a later file of the
    // same name gets its own name instead of replacing the earlier one.
    const std::string safeName = SafeFileName(TrimBlanks(file.Name));
    const std::string name = takenNames_.Take(folder, safeName);
    const std::string path = folder + name;
    // Written under a temporary name and named when whole: a file that
    // fails midway leaves nothing under a name (its bytes are still on
    // the card), and a name another run took meanwhile is never replaced.
    NewOutputFile output(nullptr, NewOutputFile::CallerHashes{});
    std::string why;
    // The file before is reported before this one writes anything (its
    // first run is read and hashing meanwhile): a host that stops on that
    // report, or removes the destination, gets no further file.
    const auto startOutput = [&] {
        RaiseHeldEvents();
        if (stopRequested_ || !DestinationUnchanged()) return false;
        if (!output.Open(folder, &why))
            throw support::RuntimeError(support::ErrPathNotFound, "FATEngine", "Cannot create " + path + ": " + why);
        return true;
    };
    hashing_->StartFile();
    const auto size = static_cast<std::int64_t>(file.Size);
    if (size > 0) shortfall.unreadableBytes += CopyClusters(clusters, size, path, current, output, startOutput);
    if (!output.IsOpen() && !startOutput()) return {};
    if (!output.Close()) throw WriteFailure(path, size);
    const std::string saved = output.Commit(name, [&] { return takenNames_.Take(folder, safeName); }, &why);
    if (saved.empty()) throw support::RuntimeError(support::ErrPathNotFound, "FATEngine", why);
    return {saved, hashing_->FileDigest()};
}

support::Truth FATEngine::SaveFATFileEXT(FileRecord& file, const std::string& relativeFolder) {
    if (!hashing_) return SaveWithHashing([&] { return SaveFATFileEXT(file, relativeFolder); });
    if (fatType_ == FatTypeExFAT) return SaveExFatFile(file, relativeFolder);
    lastSaveOutcome_ = SaveOutcome::NotWritten;
    std::int64_t current = file.FirstCluster;
    try {
        if (file.Realigned) RealignToChainStart(file);
        ReadShortfall shortfall;
        const std::uint64_t sizeOnCard = file.Size;
        const std::vector<std::int64_t> clusters = FileClusters(file, shortfall.pastDriveEnd, current);

        const std::int64_t allocated =
            static_cast<std::int64_t>(clusters.size()) * layout_.Boot.SectorsPerCluster * layout_.Boot.BytesPerSector;
        // Bytes past the clusters found are not the file's, whether they are
        // left out or (up to 512) read again from its last cluster.
        shortfall.clustersRanOut = !shortfall.pastDriveEnd && std::int64_t(file.Size) > allocated;
        if (std::int64_t(file.Size) > allocated + 512) file.Size = static_cast<std::uint64_t>(allocated);
        // Past the drive's end there are no bytes to read again or to invent.
        if (shortfall.pastDriveEnd && std::int64_t(file.Size) > allocated)
            file.Size = static_cast<std::uint64_t>(allocated);

        const std::string folder = JoinFolder(destFolder_, relativeFolder);
        ForceDirectories(folder);
        const WrittenFile written = WriteSavedFile(file, folder, clusters, current, shortfall);
        return ReportSavedFile(file, folder, written, clusters, shortfall, sizeOnCard);
    } catch (const std::exception& error) {
        RaiseError("Exc in SaveFATFileEXT : " + PrintableName(file.Name) + "  err: " + error.what() + "; lngLastCluster=" +
                   MessageNumber(current));
        return support::False;
    }
}

} // namespace engine
