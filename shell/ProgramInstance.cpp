#include "shell/ProgramInstance.h"

#include <cstdlib>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace shell {

namespace {

// A folder of ours (created 0700 when missing); false for a folder that
// belongs to someone else or is no folder, which must not decide for us.
bool OwnFolder(const std::string& folder) {
    ::mkdir(folder.c_str(), 0700);
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
}

} // namespace

std::string InstanceLockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base = (runtime && *runtime) ? runtime : "/tmp/tranquo-" + std::to_string(::getuid());
    if (runtime && *runtime) base += "/tranquo";
    return base + "/Tranquo.lock";
}

InstanceLock::InstanceLock(std::string path) : path_(std::move(path)) {
    const std::string folder = path_.substr(0, path_.rfind('/'));
    if (folder.empty() || !OwnFolder(folder)) return;
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ >= 0) held_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_); // releases the lock
}

bool AnotherCopyIsRunning() {
    static std::unique_ptr<InstanceLock> ours;
    const std::string path = InstanceLockPath();
    if (!ours || ours->Path() != path || !ours->Held()) {
        ours.reset(); // a lock of ours on an old path is let go first
        ours = std::make_unique<InstanceLock>(path);
    }
    return ours->Opened() && !ours->Held();
}

} // namespace shell
