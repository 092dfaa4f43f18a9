#include "wizard/CarvedFileNaming.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/ExFatEntrySet.h"
#include "engine/NewOutputFile.h"
#include "engine/Sha256.h"
#include "platform/ui.h"

namespace wizard {

namespace {

// A file of many thousand copies of one name still ends.
constexpr int MaxRenameTries = 1000;
constexpr std::size_t EventInterval = 64;

// Where the carved file's own format decides its end, the entry's size
// does not overrule it (a different size means the entry may be an older
// file's); where nothing decided it but the next start or the drive's end,
// the entry's size is the file's.
bool FormatDecidedEnd(const CarvedFile& file) {
    switch (file.rule) {
    case CarvedEndRule::Structure:
    case CarvedEndRule::EndPattern:
    case CarvedEndRule::FixedSize:
        return true;
    default:
        return false;
    }
}

void ApplyWriteTime(const std::string& path, const CardEntry& entry) {
    engine::ApplyWriteTime(path, entry.writeDate, entry.writeTime, entry.writeTime10ms, entry.writeUtcOffset);
}

CarvedFileNamed NamedRecord(const CarvedFile& file, const std::string& oldPath, const CardEntry& entry) {
    CarvedFileNamed named;
    named.oldPath = oldPath;
    named.newPath = file.path;
    named.cardPath = entry.cardPath;
    named.deleted = entry.deleted;
    named.folderNameLost = entry.folderNameLost;
    named.bytes = file.bytes;
    named.sha256 = file.sha256;
    named.writeDate = entry.writeDate;
    named.writeTime = entry.writeTime;
    named.writeTime10ms = entry.writeTime10ms;
    named.writeUtcOffset = entry.writeUtcOffset;
    return named;
}

} // namespace

CarvedFileNaming::CarvedFileNaming(std::string deepScanFolder, DeepScanHost& host)
    : folder_(std::move(deepScanFolder)), host_(host), turboCopies_(host.TurboScanCopies()) {
    if (!folder_.empty() && folder_.back() != '/') folder_.push_back('/');
    for (std::size_t i = 0; i < turboCopies_.size(); ++i) turboCopyAt_.emplace(turboCopies_[i].startOffset, i);
}

const TurboScanCopy* CarvedFileNaming::TurboCopy(std::int64_t startOffset, std::int64_t bytes) const {
    const auto [first, last] = turboCopyAt_.equal_range(startOffset);
    for (auto it = first; it != last; ++it)
        if (turboCopies_[it->second].bytes == bytes) return &turboCopies_[it->second];
    return nullptr;
}

NamingCounts CarvedFileNaming::Run(std::vector<CarvedFile>& carved, CardNameFinder& names, EntryDataCopier* copier) {
    names.Finish();
    // A pass ended by Stop still gets its files named (each rename is
    // quick, and a file is either moved or not); a Stop that comes during
    // this step ends it.
    const bool stoppedBefore = host_.StopRequested();
    for (std::size_t i = 0; i < carved.size(); ++i) {
        if (i % EventInterval == 0) platform::DoEvents();
        if (!stoppedBefore && host_.StopRequested()) return counts_;
        NameOne(carved[i], names);
    }
    // Copies read the card: a Stop, before or during, leaves them out.
    if (!copier || host_.StopRequested()) return counts_;
    const std::vector<CardEntry> left = names.EntriesNotClaimed();
    for (std::size_t i = 0; i < left.size() && !host_.StopRequested(); ++i) {
        if (i % EventInterval == 0) platform::DoEvents();
        CopyOne(left[i], *copier);
    }
    return counts_;
}

// Reported as a carved file of the entry's size, named from the start.
void CarvedFileNaming::CopyOne(const CardEntry& entry, EntryDataCopier& copier) {
    // What the turbo scan saved from there is not copied again.
    if (TurboCopy(entry.firstByte, static_cast<std::int64_t>(entry.size))) return;
    const std::optional<std::string> type = copier.TypeCheck(entry);
    if (!type) return;
    const auto place = CardFolder(entry.safePath);
    if (!place) return;
    const auto& [folder, name] = *place;
    const auto copied = copier.Copy(entry, folder, taken_.Take(folder, name), [&] { return taken_.Take(folder, name); });
    if (!copied) return;
    ApplyWriteTime(copied->path, entry);
    ++counts_.copied;
    ++counts_.named;
    counts_.bytesCopied += copied->bytes;
    host_.FileCarved(copied->path, copied->bytes, CarvedFileEnd::Complete);
    host_.FileCarvedDigest(copied->path, copied->sha256);
    host_.FileCarvedEndRule(copied->path, CarvedEndRule::EntrySize);
    host_.FileCarvedFrom(copied->path, entry.firstByte, *type);
    CarvedFile file{copied->path, entry.firstByte, copied->bytes, *type, CarvedFileEnd::Complete,
                    CarvedEndRule::EntrySize, copied->sha256};
    host_.FileNamed(NamedRecord(file, copied->path, entry));
}

void CarvedFileNaming::NameOne(CarvedFile& file, CardNameFinder& names) {
    if (file.how == CarvedFileEnd::NotWrittenWhole) return;
    const std::optional<CardEntry> entry = names.EntryAt(file.startOffset, file.extension, file.bytes);
    const std::string oldPath = file.path;  // the name the report knows it by
    const std::string moved = entry ? MoveIntoCardFolders(file.path, entry->safePath) : "";
    if (moved.empty()) {
        RemoveIfAlreadySaved(file, oldPath);
        return;
    }
    file.path = moved;
    CutToEntrySize(file, *entry);
    if (RemoveIfAlreadySaved(file, oldPath)) return;
    ApplyWriteTime(file.path, *entry);
    ++counts_.named;
    host_.FileNamed(NamedRecord(file, oldPath, *entry));
}

// Only bytes past the entry's size go, and only from a file carved whole.
void CarvedFileNaming::CutToEntrySize(CarvedFile& file, const CardEntry& entry) {
    const auto size = static_cast<std::int64_t>(entry.size);
    if (file.how != CarvedFileEnd::Complete || size <= 0 || size >= file.bytes || FormatDecidedEnd(file)) return;
    if (::truncate(file.path.c_str(), size) != 0) return;
    counts_.bytesRemoved += file.bytes - size;
    file.bytes = size;
    file.sha256 = engine::Sha256OfFile(file.path);
}

bool CarvedFileNaming::RemoveIfAlreadySaved(const CarvedFile& file, const std::string& reportedPath) {
    if (file.how != CarvedFileEnd::Complete) return false;
    const TurboScanCopy* copy = TurboCopy(file.startOffset, file.bytes);
    if (!copy || copy->sha256.empty()) return false;
    const std::string hash = file.sha256.empty() ? engine::Sha256OfFile(file.path) : file.sha256;
    if (hash != copy->sha256 || ::unlink(file.path.c_str()) != 0) return false;
    RemoveEmptyFolders(file.path);
    ++counts_.alreadySaved;
    counts_.bytesRemoved += file.bytes;
    host_.FileAlreadySaved(reportedPath, *copy);
    return true;
}

// The new path, or "" when the file stays where it is (a folder cannot be
// made, say because a file has its name).
std::string CarvedFileNaming::MoveIntoCardFolders(const std::string& from, const std::string& safePath) {
    const auto place = CardFolder(safePath);
    if (!place) return "";
    const auto& [folder, name] = *place;
    for (int tries = 0; tries < MaxRenameTries; ++tries) {
        const std::string to = folder + taken_.Take(folder, name);
        if (engine::RenameWithoutReplacing(from, to) == 0) return to;
        if (errno != EEXIST) return "";
    }
    return "";
}

// The folders above path up to the Deep Scan folder, as far as they are
// empty (made for a file that then went).
void CarvedFileNaming::RemoveEmptyFolders(const std::string& path) const {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    const std::filesystem::path top = std::filesystem::path(folder_).parent_path();
    std::error_code ec;
    for (int depth = 0; depth < 256 && folder != top && folder.string().size() > top.string().size(); ++depth) {
        if (!std::filesystem::remove(folder, ec) || ec) return;  // not empty (or not ours to remove)
        folder = folder.parent_path();
    }
}

std::optional<std::pair<std::string, std::string>> CarvedFileNaming::CardFolder(const std::string& safePath) {
    const std::size_t slash = safePath.rfind('/');
    const std::string folder = folder_ + (slash == std::string::npos ? "" : safePath.substr(0, slash + 1));
    const std::string name = slash == std::string::npos ? safePath : safePath.substr(slash + 1);
    if (name.empty()) return std::nullopt;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return std::nullopt;
    return std::make_pair(folder, name);
}

} // namespace wizard
