// One copy of the program per user: a lock on a file in the user's runtime
// folder. The lock goes with the process, so a copy that crashed does not
// keep the next one from starting.
#pragma once

#include <string>

namespace shell {

// $XDG_RUNTIME_DIR/tranquo/Tranquo.lock; without a runtime folder, a
// private folder of the user's under the temporary folder.
std::string InstanceLockPath();

// An exclusive lock on a file, held until destruction.
class InstanceLock {
public:
    explicit InstanceLock(std::string path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    const std::string& Path() const { return path_; }
    // The file could be opened (a lock can be asked for).
    bool Opened() const { return fd_ >= 0; }
    // This object holds the lock.
    bool Held() const { return held_; }

private:
    std::string path_;
    int fd_ = -1;
    bool held_ = false;
};

// Takes this process's lock (kept for the rest of the run) unless it holds
// it already; true when another process holds it. When the lock cannot be
// asked for at all (no usable folder) the answer is false: a start is never
// refused for want of a lock file.
bool AnotherCopyIsRunning();

} // namespace shell
