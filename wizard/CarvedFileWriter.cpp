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
// The open file and one being finished behind it: more would only hold
// memory, since the scan waits for the writer at each block anyway.
constexpr std::size_t MaxPiecesQueued = 2;
} // namespace

// A file handed to the writer's thread. The fields below the line are the
// thread's while its tasks run, and read by the caller once they are done.
struct CarvedFileWriter::InWork {
    InWork(platform::ComPtr<ILargeFile> writer, engine::HashWorker& hasher) : output(std::move(writer), hasher) {}
    engine::NewOutputFile output;
    platform::ComPtr<ILargeFile> writer; // output's, given back once it is closed
    std::string name;
    std::string path;
    std::string extension;
    std::uint64_t lastTicket = 0;
    bool failureSaid = false;
    // ---
    int failedTag = 0;
    bool closedWhole = false;
};

CarvedFileWriter::CarvedFileWriter(std::string folder, std::string prefix)
    : folder_(std::move(folder)), stem_(folder_ + prefix), behind_(MaxPiecesQueued) {
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
    auto file = std::make_unique<InWork>(writer, hasher_);
    file->writer = writer;
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

void CarvedFileWriter::Hand(InWork& file, std::vector<BYTE> piece, int tag, Piece kind) {
    InWork* target = &file;
    file.lastTicket = behind_.Post([this, target, piece = std::move(piece), tag, kind]() mutable {
        const bool written =
            kind != Piece::Missing && (piece.empty() || target->output.Write(piece.data(), piece.size(), 0,
                                                                             static_cast<std::int32_t>(piece.size())));
        if (!written && target->failedTag == 0) target->failedTag = tag;
        if (kind == Piece::Last) target->closedWhole = target->output.Close();
        behind_.GiveBack(std::move(piece));
    });
}

// All but the last MaxTrimBytes of what is held and the new bytes go to the
// writer's thread in one piece; the rest is held.
void CarvedFileWriter::Write(const BYTE* data, std::size_t size, std::int32_t start, std::int32_t count, int tag) {
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
    std::vector<BYTE> piece = behind_.TakeBuffer();
    piece.reserve(out);
    piece.insert(piece.end(), held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(fromHeld));
    piece.insert(piece.end(), from, from + (out - fromHeld));
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(fromHeld));
    held_.insert(held_.end(), from + (out - fromHeld), from + bytes);
    Hand(*open_, std::move(piece), tag, Piece::Middle);
}

void CarvedFileWriter::Trim(std::int64_t bytes) {
    const auto drop = static_cast<std::size_t>(std::clamp<std::int64_t>(bytes, 0, static_cast<std::int64_t>(held_.size())));
    held_.resize(held_.size() - drop);
}

int CarvedFileWriter::Settle() {
    if (!open_) return 0;
    behind_.Wait(open_->lastTicket);
    if (open_->failedTag == 0 || open_->failureSaid) return 0;
    open_->failureSaid = true;
    return open_->failedTag;
}

// The held bytes are the last piece; the close follows it on the thread.
void CarvedFileWriter::Close() {
    if (!open_) return;
    std::vector<BYTE> last = behind_.TakeBuffer();
    last.swap(held_);
    held_.clear();
    Hand(*open_, std::move(last), 0, Piece::Last);
    closing_.push_back(std::move(open_));
}

// What counts is what reached the disk: the writer buffers, so a full
// destination may only show at the close.
std::optional<CarvedFileWriter::Closed> CarvedFileWriter::TakeClosed(std::int64_t& nextNumber, bool wait) {
    if (closing_.empty()) return std::nullopt;
    InWork& file = *closing_.front();
    if (!wait && !behind_.Done(file.lastTicket)) return std::nullopt;
    behind_.Wait(file.lastTicket);
    Closed result;
    result.writeFailed = file.failureSaid;
    result.failedTag = file.failedTag;
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
        result.sha256 = file.output.Digest();
        result.whole = file.closedWhole && file.failedTag == 0 && result.bytes >= given;
    }
    writers_.push_back(std::move(file.writer));
    closing_.pop_front();
    return result;
}

} // namespace wizard
