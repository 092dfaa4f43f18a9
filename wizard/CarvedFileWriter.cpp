#include "wizard/CarvedFileWriter.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>

#include "engine/FileHelpers.h"
#include "support/RuntimeError.h"
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
    writeFailed_ = false;
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
    if (output_.Write(data, size, start, count)) return true;
    writeFailed_ = true;
    return false;
}

// What counts is what reached the disk: the writer buffers, so a full
// destination may only show at the close.
CarvedFileWriter::Closed CarvedFileWriter::Close(std::int64_t& nextNumber) {
    const std::int64_t given = output_.BytesWritten();
    Closed result;
    const bool closed = output_.Close();
    result.writeFailed = writeFailed_;
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
