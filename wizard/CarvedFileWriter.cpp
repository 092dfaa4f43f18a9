#include "wizard/CarvedFileWriter.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>

#include "engine/FileHelpers.h"
#include "support/RuntimeError.h"
#include "wizard/Carver.h"
#include "wizard/DeepScan.h"

namespace wizard {

CarvedFileWriter::CarvedFileWriter(std::string folder, std::string prefix)
    : folder_(std::move(folder)), stem_(folder_ + prefix) {
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
    bool exists = NameInUse(next, extension);
    while (exists && next < std::numeric_limits<std::int64_t>::max()) exists = NameInUse(++next, extension);
    namesInUse_.insert(path_.substr(path_.rfind('/') + 1));
    return !exists;
}

bool CarvedFileWriter::NameInUse(std::int64_t number, const std::string& extension) {
    name_ = CarvedFileName(number, extension);
    path_ = stem_ + name_;
    const std::string name = path_.substr(path_.rfind('/') + 1);
    return namesInUse_.count(name) != 0 || engine::FileExists(path_) != support::False;
}

// The name a file takes when another run took its name meanwhile.
std::string CarvedFileWriter::NextFreeName(std::int64_t& nextNumber) {
    while (NameInUse(++nextNumber, extension_) && nextNumber < std::numeric_limits<std::int64_t>::max()) {
    }
    std::string name = path_.substr(path_.rfind('/') + 1);
    namesInUse_.insert(name);
    return name;
}

void CarvedFileWriter::Open() {
    Settle();
    writeFailed_ = false;
    held_.clear();
    std::string why;
    const std::string folder = path_.substr(0, path_.rfind('/') + 1);
    if (output_.Open(folder, &why)) return;
    std::error_code ignored;
    if (!std::filesystem::is_directory(folder, ignored)) {
        throw support::RuntimeError(support::ErrPathNotFound, "Fotrida 4", "Path not found: " + path_);
    }
    throw support::RuntimeError(support::ErrPermissionDenied, "Fotrida 4", "Cannot create " + path_ + ": " + why);
}

bool CarvedFileWriter::Write(BYTE* data, std::size_t size, std::int32_t start, std::int32_t count) {
    constexpr auto Hold = static_cast<std::size_t>(MaxTrimBytes);
    if (!Settle()) return false;
    if (count <= 0 || start < 0 || static_cast<std::size_t>(start) + static_cast<std::size_t>(count) > size) {
        return Flush(held_.size()) && output_.Write(data, size, start, count);
    }
    const auto bytes = static_cast<std::size_t>(count);
    if (bytes >= Hold) {
        const auto now = static_cast<std::int32_t>(bytes - Hold);
        const bool written = Flush(held_.size()) && (now == 0 || output_.Write(data, size, start, now));
        held_.assign(data + start + (bytes - Hold), data + start + bytes);
        if (!written) writeFailed_ = true;
        return written;
    }
    held_.insert(held_.end(), data + start, data + start + bytes);
    return held_.size() <= Hold || Flush(held_.size() - Hold);
}

// All but the last MaxTrimBytes of what is held and the new bytes go to the
// worker in one piece; the rest is held, as Write holds it.
void CarvedFileWriter::WriteLater(const BYTE* data, std::size_t size, std::int32_t start, std::int32_t count) {
    constexpr auto Hold = static_cast<std::size_t>(MaxTrimBytes);
    if (!behind_.Wait()) laterFailed_ = true;
    if (count <= 0 || start < 0 || static_cast<std::size_t>(start) + static_cast<std::size_t>(count) > size ||
        !output_.IsOpen()) {
        if (!Write(const_cast<BYTE*>(data), size, start, count)) laterFailed_ = true;
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
    behind_.Hand(output_, std::move(piece));
}

bool CarvedFileWriter::Settle() {
    const bool written = behind_.Wait() && !laterFailed_;
    laterFailed_ = false;
    if (!written) writeFailed_ = true;
    return written;
}

// Writes the first count bytes held back.
bool CarvedFileWriter::Flush(std::size_t count) {
    if (count == 0) return true;
    const bool written = output_.Write(held_.data(), held_.size(), 0, static_cast<std::int32_t>(count));
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
    if (!written) writeFailed_ = true;
    return written;
}

void CarvedFileWriter::Trim(std::int64_t bytes) {
    const auto drop = static_cast<std::size_t>(std::clamp<std::int64_t>(bytes, 0, static_cast<std::int64_t>(held_.size())));
    held_.resize(held_.size() - drop);
}

// What counts is what reached the disk: the writer buffers, so a full
// destination may only show at the close.
CarvedFileWriter::Closed CarvedFileWriter::Close(std::int64_t& nextNumber) {
    Closed result;
    Settle();
    result.writeFailed = writeFailed_;
    if (output_.IsOpen()) Flush(held_.size());
    held_.clear();
    const std::int64_t given = output_.BytesWritten();
    const bool closed = output_.Close();
    const std::string folder = path_.substr(0, path_.rfind('/') + 1);
    const std::string name = output_.Commit(
        path_.substr(folder.size()), [this, &nextNumber] { return NextFreeName(nextNumber); }, &result.why);
    if (name.empty()) return result;
    result.named = true;
    path_ = folder + name; // name_ is that of the last name tried
    std::error_code error;
    const auto onDisk = std::filesystem::file_size(path_, error);
    result.bytes = error ? 0 : std::min<std::int64_t>(static_cast<std::int64_t>(onDisk), given);
    result.sha256 = output_.Digest();
    result.whole = closed && !writeFailed_ && result.bytes >= given;
    return result;
}

} // namespace wizard
