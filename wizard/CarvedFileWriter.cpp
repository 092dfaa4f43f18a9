#include "wizard/CarvedFileWriter.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>

#include "Typhex.h"
#include "engine/FileHelpers.h"
#include "engine/FileTypeTable.h"
#include "support/RuntimeError.h"
#include "wizard/Carver.h"
#include "wizard/DeepScan.h"

namespace wizard {

namespace {
// Pieces waiting for each thread. The bytes a piece points into are held by
// the scan's block pool, which bounds the memory; a piece copied (the bytes
// held back for a late trim) is at most MaxTrimBytes.
constexpr std::size_t MaxPiecesQueued = 16;
} // namespace

// A file handed to the writer's and the hash's threads. The fields below
// the line are the threads' while their tasks run, and read by the caller
// once they are done.
struct CarvedFileWriter::InWork {
    explicit InWork(const platform::ComPtr<ILargeFile>& writer)
        : output(writer, engine::NewOutputFile::CallerHashes{}), writer(writer) {}
    engine::NewOutputFile output;
    platform::ComPtr<ILargeFile> writer; // output's, given back once it is closed
    std::string name;
    std::string path;
    std::string extension;
    std::uint64_t lastTicket = 0;     // the writer's
    std::uint64_t lastHashTicket = 0; // the hash's
    bool failureSaid = false;
    // ---
    std::atomic<int> failedTag{0}; // read by Settle while the writer works
    bool writeFailed = false;
    bool closedWhole = false;
    engine::Sha256 hash;
    std::string digest;
};

CarvedFileWriter::CarvedFileWriter(std::string folder, std::string prefix)
    : folder_(std::move(folder)), stem_(folder_ + prefix), behind_(MaxPiecesQueued), hashing_(MaxPiecesQueued) {
    std::error_code ignored;
    // The folder may not exist yet (a first run, or earlier results that were
    // removed); without it not one file could be carved.
    std::filesystem::create_directories(folder_, ignored);
    for (std::filesystem::directory_iterator it(folder_, ignored), end; !ignored && it != end; it.increment(ignored)) {
        namesInUse_.insert(it->path().filename().string());
    }
}

CarvedFileWriter::~CarvedFileWriter() = default;

// An earlier result is never replaced while a number is left.
bool CarvedFileWriter::ChooseName(std::int64_t& nextNumber, std::int64_t found, const std::string& extension) {
    extension_ = extension;
    std::int64_t& next = nextNumber;
    next = next > found ? next + 1 : found;
    bool exists = NameInUse(next, extension, name_, path_);
    while (exists && next < std::numeric_limits<std::int64_t>::max()) {
        exists = NameInUse(++next, extension, name_, path_);
    }
    namesInUse_.insert(path_.substr(path_.rfind('/') + 1));
    return !exists;
}

bool CarvedFileWriter::NameInUse(std::int64_t number, const std::string& extension, std::string& name,
                                 std::string& path) {
    name = CarvedFileName(number, extension);
    path = stem_ + name;
    return namesInUse_.count(path.substr(path.rfind('/') + 1)) != 0 || engine::FileExists(path) != support::False;
}

// The name a file takes when another run took its name meanwhile.
std::string CarvedFileWriter::NextFreeName(std::int64_t& nextNumber, InWork& file) {
    while (NameInUse(++nextNumber, file.extension, file.name, file.path) &&
           nextNumber < std::numeric_limits<std::int64_t>::max()) {
    }
    std::string name = file.path.substr(file.path.rfind('/') + 1);
    namesInUse_.insert(name);
    return name;
}

void CarvedFileWriter::Open() {
    held_.clear();
    platform::ComPtr<ILargeFile> writer;
    if (!writers_.empty()) {
        writer = std::move(writers_.back());
        writers_.pop_back();
    } else {
        writer = engine::NewLargeFile();
    }
    auto file = std::make_unique<InWork>(writer);
    file->name = name_;
    file->path = path_;
    file->extension = extension_;
    std::string why;
    const std::string folder = path_.substr(0, path_.rfind('/') + 1);
    if (file->output.Open(folder, &why)) {
        open_ = std::move(file);
        return;
    }
    writers_.push_back(std::move(writer));
    std::error_code ignored;
    if (!std::filesystem::is_directory(folder, ignored)) {
        throw support::RuntimeError(support::ErrPathNotFound, "Fotrida 4", "Path not found: " + path_);
    }
    throw support::RuntimeError(support::ErrPermissionDenied, "Fotrida 4", "Cannot create " + path_ + ": " + why);
}

void CarvedFileWriter::Hand(InWork& file, Bytes piece, int tag, Piece kind) {
    InWork* target = &file;
    file.lastTicket = behind_.Post([target, piece, tag, kind] {
        const bool written =
            kind != Piece::Missing &&
            (piece.size == 0 || target->output.Write(const_cast<BYTE*>(piece.data), piece.size, 0,
                                                     static_cast<std::int32_t>(piece.size)));
        if (!written) {
            target->writeFailed = true;
            int none = 0;
            target->failedTag.compare_exchange_strong(none, tag);
        }
        if (kind == Piece::Last) target->closedWhole = target->output.Close();
    });
    file.lastHashTicket = hashing_.Post([target, piece = std::move(piece), kind] {
        if (piece.size > 0) target->hash.Update(piece.data, piece.size);
        if (kind == Piece::Last) target->digest = target->hash.HexDigest();
    });
}

// All but the last MaxTrimBytes of what is held and the new bytes are handed
// over: the held ones as they are, the new ones where they lie; the rest is
// copied and held.
void CarvedFileWriter::Write(std::shared_ptr<const void> owner, const BYTE* data, std::size_t size,
                             std::int32_t start, std::int32_t count, int tag) {
    constexpr auto Hold = static_cast<std::size_t>(MaxTrimBytes);
    if (!open_) return;
    if (count <= 0 || start < 0 || static_cast<std::size_t>(start) + static_cast<std::size_t>(count) > size) {
        // Bytes that are not there cannot be written: the file is not whole.
        if (count != 0) Hand(*open_, {}, tag, Piece::Missing);
        return;
    }
    const BYTE* from = data + start;
    const auto bytes = static_cast<std::size_t>(count);
    if (held_.size() + bytes <= Hold) {
        held_.insert(held_.end(), from, from + bytes);
        return;
    }
    const std::size_t out = held_.size() + bytes - Hold;
    const std::size_t fromHeld = std::min(out, held_.size());
    if (fromHeld > 0) Hand(*open_, TakeHeld(fromHeld), tag, Piece::Middle);
    const std::size_t direct = out - fromHeld;
    if (direct > 0) Hand(*open_, Bytes{std::move(owner), from, direct}, tag, Piece::Middle);
    held_.insert(held_.end(), from + direct, from + bytes);
}

// The first bytes of those held, as a piece of their own.
CarvedFileWriter::Bytes CarvedFileWriter::TakeHeld(std::size_t bytes) {
    // Copied, not moved: the held bytes keep their buffer from block to block.
    auto piece = std::make_shared<std::vector<BYTE>>(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(bytes));
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(bytes));
    const BYTE* data = piece->data();
    return Bytes{std::move(piece), data, bytes};
}

void CarvedFileWriter::Trim(std::int64_t bytes) {
    const auto drop = static_cast<std::size_t>(std::clamp<std::int64_t>(bytes, 0, static_cast<std::int64_t>(held_.size())));
    held_.resize(held_.size() - drop);
}

int CarvedFileWriter::Settle() {
    if (!open_ || open_->failureSaid) return 0;
    const int tag = open_->failedTag.load();
    if (tag == 0) return 0;
    open_->failureSaid = true;
    return tag;
}

// The held bytes are the last piece; the close follows it on the thread.
void CarvedFileWriter::Close() {
    if (!open_) return;
    Bytes last;
    if (!held_.empty()) last = TakeHeld(held_.size());
    held_.clear();
    Hand(*open_, std::move(last), 0, Piece::Last);
    closing_.push_back(std::move(open_));
}

// What counts is what reached the disk: the writer buffers, so a full
// destination may only show at the close.
std::optional<CarvedFileWriter::Closed> CarvedFileWriter::TakeClosed(std::int64_t& nextNumber, bool wait) {
    if (closing_.empty()) return std::nullopt;
    InWork& file = *closing_.front();
    if (!wait && !(behind_.Done(file.lastTicket) && hashing_.Done(file.lastHashTicket))) return std::nullopt;
    behind_.Wait(file.lastTicket);
    hashing_.Wait(file.lastHashTicket);
    Closed result;
    result.writeFailed = file.failureSaid;
    result.failedTag = file.failedTag.load();
    const std::int64_t given = file.output.BytesWritten();
    const std::string folder = file.path.substr(0, file.path.rfind('/') + 1);
    const std::string name = file.output.Commit(
        file.path.substr(folder.size()), [this, &nextNumber, &file] { return NextFreeName(nextNumber, file); },
        &result.why);
    result.path = file.path;
    result.name = file.name;
    if (!name.empty()) {
        result.named = true;
        result.path = folder + name; // file.name is that of the last name tried
        std::error_code error;
        const auto onDisk = std::filesystem::file_size(result.path, error);
        result.bytes = error ? 0 : std::min<std::int64_t>(static_cast<std::int64_t>(onDisk), given);
        // A failed last piece has no tag of its own: it still makes the file not whole.
        const bool allWritten = file.closedWhole && !file.writeFailed;
        result.sha256 = allWritten ? file.digest : "";
        result.whole = allWritten && result.bytes >= given;
    }
    writers_.push_back(std::move(file.writer));
    closing_.pop_front();
    return result;
}

} // namespace wizard
