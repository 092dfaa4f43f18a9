#include "engine/NewOutputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "Typhex.h"
#include "engine/FileTypeTable.h"
#include "engine/HashWorker.h"
#include "support/Truth.h"

namespace engine {

namespace {

constexpr int MaxTempNameTries = 100;
constexpr std::int32_t HashAlongsideFrom = 128 * 1024;
// Far more names than a folder holds: a bound, not a limit anyone meets.
constexpr long MaxNameTries = 10000000;

std::string TempName() {
    static std::mt19937_64 random{std::random_device{}() ^ static_cast<std::uint64_t>(::getpid())};
    char name[40];
    std::snprintf(name, sizeof name, ".tranquo-%016llx.part", static_cast<unsigned long long>(random()));
    return name;
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder.push_back('/');
    return folder;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

} // namespace

int RenameWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
    // A file system without the flag: a hard link fails on a taken name just
    // as well; one without hard links either gets a look before the rename.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK) return -1;
    if (Exists(to)) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.c_str(), to.c_str());
}

NewOutputFile::NewOutputFile() = default;

NewOutputFile::NewOutputFile(platform::ComPtr<ILargeFile> writer, CallerHashes)
    : writer_(std::move(writer)), hashing_(false) {}

NewOutputFile::~NewOutputFile() {
    if (open_) CloseWriter();
    Discard();
}

bool NewOutputFile::OpenWriter(const std::string& path) {
    return (writer_ ? OpenOutputFile(*writer_.Get(), path) : OpenOutputFile(path)) != support::False;
}

std::int32_t NewOutputFile::WriteChunk(BYTE* data, std::size_t size, std::int32_t start, std::int32_t count) {
    return writer_ ? WriteOutputChunk(*writer_.Get(), data, size, start, count)
                   : WriteOutputChunk(data, size, start, count);
}


bool NewOutputFile::CloseWriter() {
    return (writer_ ? CloseOutputFile(*writer_.Get()) : CloseOutputFile()) != support::False;
}

bool NewOutputFile::Open(const std::string& folder, std::string* why) {
    Discard();
    folder_ = WithSlash(folder);
    written_ = 0;
    writeFailed_ = false;
    if (hashing_) hash_ = std::make_unique<Sha256>();
    int fd = -1;
    for (int i = 0; i < MaxTempNameTries && fd < 0; ++i) {
        tempPath_ = folder_ + TempName();
        fd = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        if (why) *why = "cannot create a file in " + folder_ + ": " + std::strerror(errno);
        tempPath_.clear();
        return false;
    }
    // The writer opens the very file just made, through its descriptor: no
    // other file can take its place, and the folder's name, whatever bytes
    // it has, never passes through the writer's text.
    const std::string viaDescriptor = "/proc/self/fd/" + std::to_string(fd);
    open_ = OpenWriter(Exists(viaDescriptor) ? viaDescriptor : tempPath_);
    const int openError = errno;
    ::close(fd);
    if (!open_) {
        if (why) *why = "cannot open " + tempPath_ + " for writing: " + std::strerror(openError);
        Discard();
        return false;
    }
    return true;
}

// Large pieces are hashed on the second core while the writer takes them;
// handing over a small one would cost more than hashing it here.
bool NewOutputFile::Write(BYTE* data, std::size_t size, std::int32_t start, std::int32_t count) {
    if (!open_) return false;
    const bool inBuffer =
        start >= 0 && count >= 0 && static_cast<std::size_t>(start) + static_cast<std::size_t>(count) <= size;
    const bool alongside = hashing_ && inBuffer && count >= HashAlongsideFrom;
    const std::uint64_t ticket =
        alongside ? HashWorker::Shared().Start(*hash_, data + start, static_cast<std::size_t>(count)) : 0;
    const std::int32_t written = WriteChunk(data, size, start, count);
    if (alongside) HashWorker::Shared().Wait(ticket);
    if (written > 0) written_ += written;
    if (written != count) {
        writeFailed_ = true;
        return false;
    }
    if (hashing_ && !alongside) hash_->Update(data + start, static_cast<std::size_t>(count));
    return true;
}

std::string NewOutputFile::Digest() {
    if (!hash_ || writeFailed_ || open_) return "";
    std::string digest = hash_->HexDigest();
    hash_.reset();
    return digest;
}

bool NewOutputFile::Close() {
    if (!open_) return true;
    open_ = false;
    if (CloseWriter()) return true;
    writeFailed_ = true;
    return false;
}

std::string NewOutputFile::Commit(const std::string& name, const std::function<std::string()>& nextName,
                                  std::string* why) {
    if (open_) Close();
    std::string candidate = name;
    for (long tries = 0; !tempPath_.empty() && tries < MaxNameTries; ++tries) {
        if (RenameWithoutReplacing(tempPath_, folder_ + candidate) == 0) {
            tempPath_.clear();
            return candidate;
        }
        if (errno != EEXIST || !nextName) break;
        candidate = nextName();
    }
    if (why) *why = "cannot save " + folder_ + candidate + ": " + std::strerror(errno);
    Discard();
    return "";
}

void NewOutputFile::Discard() {
    if (open_) {
        CloseWriter();
        open_ = false;
    }
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    tempPath_.clear();
}

} // namespace engine
