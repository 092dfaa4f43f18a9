#include "wizard/CarvedFileWriter.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>

#include "engine/FileHelpers.h"
#include "engine/FileTypeTable.h"
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

// The writer buffers: a file left open by an error still gets its bytes.
CarvedFileWriter::~CarvedFileWriter() {
    if (open_) engine::CloseOutputFile();
}

// An earlier result is never replaced while a number is left.
bool CarvedFileWriter::ChooseName(std::int64_t& nextNumber, std::int64_t found, const std::string& extension) {
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

void CarvedFileWriter::Open() {
    bytesWritten_ = 0;
    writeFailed_ = false;
    if (engine::OpenOutputFile(path_) != support::False) {
        open_ = true;
        return;
    }
    std::error_code ignored;
    if (!std::filesystem::is_directory(std::filesystem::path(path_).parent_path(), ignored)) {
        throw support::RuntimeError(support::ErrPathNotFound, "Fotrida 4", "Path not found: " + path_);
    }
    throw support::RuntimeError(support::ErrPermissionDenied, "Fotrida 4", "Permission denied: " + path_);
}

bool CarvedFileWriter::Write(BYTE* data, std::size_t size, std::int32_t start, std::int32_t count) {
    const std::int32_t written = engine::WriteOutputChunk(data, size, start, count);
    if (written == count) {
        bytesWritten_ += count;
        return true;
    }
    writeFailed_ = true;
    if (written > 0) bytesWritten_ += written;
    return false;
}

// What counts is what reached the disk: the writer buffers, so a full
// destination may only show at the close.
CarvedFileWriter::Closed CarvedFileWriter::Close() {
    const bool closed = engine::CloseOutputFile() != support::False;
    open_ = false;
    std::error_code error;
    const auto onDisk = std::filesystem::file_size(path_, error);
    Closed result;
    result.bytes = error ? 0 : std::min<std::int64_t>(static_cast<std::int64_t>(onDisk), bytesWritten_);
    result.writeFailed = writeFailed_;
    result.whole = closed && !writeFailed_ && result.bytes >= bytesWritten_;
    return result;
}

} // namespace wizard
