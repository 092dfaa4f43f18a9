// The registry's keys and values in memory, and the one text file per user
// that keeps them. Internal to the platform layer; the Reg* calls in
// Registry.cpp are the interface.
//
// File layout (readable, one section per key, sorted):
//   [HKEY_CLASSES_ROOT\CLSID\{...}]
//   @=sz:Some Class                 the key's default value
//   ThreadingModel=sz:Both          REG_SZ stored with its terminating NUL
//   Partial=sz-raw:abc              REG_SZ stored without one
//   Count=dword:0000002A            REG_DWORD
//   Blob=hex(3):01,02,ff            any other type or size
// In names and texts "\\" is a backslash and "\xHH" any other byte that
// would break the line; key names in section headers use "%HH".
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

#include "platform/wintypes.h"

namespace platform::registry {

struct Value {
    std::string name; // as first written; empty for the default value
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct Key {
    std::string name;
    std::map<std::string, Value> values;               // by folded name
    std::map<std::string, std::unique_ptr<Key>> subkeys; // by folded name
};

// Case-insensitive identity of key and value names, as on Windows.
std::string Fold(std::string_view name);

constexpr int kRootCount = 4; // HKEY_CLASSES_ROOT .. HKEY_USERS
const char* RootName(int root);

struct Tree {
    Key roots[kRootCount];
};

// What a change did: whether the tree must be written.
enum class Outcome { Unchanged, Changed };

class Store {
public:
    static Store& Instance();

    // Runs fn on the current tree, read afresh when the file (or the path
    // the environment names) has changed since it was last read.
    template <class Fn>
    LONG Read(Fn fn) {
        std::lock_guard lock(mutex_);
        Refresh();
        return fn(tree_);
    }

    // Runs fn under the store's file lock on a fresh copy of the tree; when
    // fn reports a change the whole tree is written atomically. A failed
    // write leaves the file as it was and the change is dropped.
    // Inside a batch the lock is already held and the change waits for
    // EndBatch to be written.
    template <class Fn>
    LONG Modify(Fn fn) {
        std::lock_guard lock(mutex_);
        std::optional<FileLock> fileLock;
        if (batchDepth_ == 0) {
            fileLock.emplace(LockFile());
            Refresh();
        }
        if (!writable_) return ERROR_ACCESS_DENIED;
        Outcome outcome = Outcome::Unchanged;
        LONG status = fn(tree_, outcome);
        if (outcome == Outcome::Changed) {
            if (batchDepth_ > 0) {
                batchDirty_ = true;
                return status;
            }
            LONG saved = Save();
            if (saved != ERROR_SUCCESS) {
                stale_ = true;
                return saved;
            }
        }
        return status;
    }

    // A batch holds the file lock from its start and writes the store once,
    // at its end, for all the changes made meanwhile (batches nest; the
    // outermost end writes). EndBatch returns the status of that write.
    void BeginBatch();
    LONG EndBatch();

    void Forget();

private:
    struct FileIdentity {
        bool exists = false;
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        long long mtimeNs = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    class FileLock {
    public:
        explicit FileLock(int fd) : fd_(fd) {}
        FileLock(FileLock&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
        FileLock(const FileLock&) = delete;
        ~FileLock();

    private:
        int fd_;
    };

    FileLock LockFile();
    void Refresh();
    void Load();
    LONG Save();
    static FileIdentity Identify(const std::string& path);

    std::mutex mutex_;
    Tree tree_;
    std::string path_;
    FileIdentity identity_;
    bool loaded_ = false;
    bool stale_ = false;
    bool writable_ = true;
    bool hadBadLines_ = false;
    int batchDepth_ = 0;
    bool batchDirty_ = false;
    std::optional<FileLock> batchLock_;
};

// The text form of a whole tree, and back (malformed lines are skipped and
// counted in badLines).
std::string Serialise(const Tree& tree);
void Parse(std::string_view text, Tree* tree, int* badLines);

} // namespace platform::registry
