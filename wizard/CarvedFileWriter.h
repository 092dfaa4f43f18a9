// The files the deep scan carves: their names (a running number, at least
// five digits, and the type's extension, after the prefix), opening,
// writing and closing them. Each is made new under a hidden temporary name,
// hashed as it is written, and given its name only when it is closed,
// without replacing a file that took the name meanwhile (it then takes the
// next free number). The bytes are written and the files closed on a
// thread of their own, and hashed on another, behind the caller; the caller
// takes each closed file's outcome in order. It reports what happened; it shows nothing and
// asks nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/NewOutputFile.h"
#include "engine/Sha256.h"
#include "engine/WriteBehind.h"
#include "platform/wintypes.h"

namespace wizard {

class CarvedFileWriter {
public:
    // folder: where the files go (it is created if need be, and the names
    // already in it are taken); prefix: put before every number.
    CarvedFileWriter(std::string folder, std::string prefix);
    // Files still being written are finished and closed; those not taken
    // with TakeClosed are removed.
    ~CarvedFileWriter();
    CarvedFileWriter(const CarvedFileWriter&) = delete;
    CarvedFileWriter& operator=(const CarvedFileWriter&) = delete;

    // Picks the next free name for a file of this extension: the number goes
    // on from nextNumber (or from found, the files found so far, when that is
    // larger), past every name that is taken, and nextNumber keeps it. False
    // when no number is left: Path() is then the taken name.
    bool ChooseName(std::int64_t& nextNumber, std::int64_t found, const std::string& extension);
    // Creates the file that will take the chosen name. Raises the run-time
    // error for a path that is not found or a file that may not be created:
    // nothing more could be carved.
    void Open();
    // Appends count bytes of data from index start (size: the bytes at
    // data). They are written and hashed from where they lie, behind the
    // caller: they must not change while the writer holds owner, which keeps
    // them alive. tag is said back (by Settle or in Closed) when they do not
    // reach the file. The file's last bytes (MaxTrimBytes) are held back,
    // copied, until Close, for Trim.
    void Write(std::shared_ptr<const void> owner, const BYTE* data, std::size_t size, std::int32_t start,
               std::int32_t count, int tag);
    // Drops the file's last bytes given to Write (at most those held back).
    void Trim(std::int64_t bytes);
    // The tag of the open file's bytes known not to have reached the file
    // (said once), 0 otherwise. It does not wait: a failure shows once the
    // writer has come to the bytes, and at the latest in Closed.
    int Settle();
    // Hands the open file over to be finished, closed and hashed behind the
    // caller; TakeClosed gives the outcome.
    void Close();

    struct Closed {
        bool whole = false;       // every byte given reached the disk
        bool writeFailed = false; // a failure was already said by Settle
        int failedTag = 0;        // the tag of the bytes that did not reach the disk, if any
        bool named = false;       // the file is in the folder under path
        std::int64_t bytes = 0;   // bytes on the disk
        std::string why;          // why it could not be named
        std::string sha256;       // of the bytes written; "" when a write failed
        std::string path;         // where it is (or, not named, would have been)
        std::string name;         // its name without the folder and prefix
    };
    // The oldest file handed to Close, named: the chosen name, or when that
    // was taken meanwhile the next free number after nextNumber (which
    // keeps it). A file cut short is named too, with what it has; one that
    // cannot be named is removed. Waits for it when wait is set, else
    // nothing while it is still being written (or when none is left).
    std::optional<Closed> TakeClosed(std::int64_t& nextNumber, bool wait);
    // Files handed to Close and not yet taken.
    std::size_t Closing() const { return closing_.size(); }

    bool IsOpen() const { return open_ != nullptr; }
    // The name chosen last (and its path): the open file's while one is.
    const std::string& Name() const { return name_; }
    const std::string& Path() const { return path_; }

private:
    struct InWork;
    enum class Piece { Middle, Last, Missing }; // Last: the file is closed after it
    struct Bytes {
        std::shared_ptr<const void> owner; // keeps data alive until both threads are done with it
        const BYTE* data = nullptr;
        std::size_t size = 0;
    };

    bool NameInUse(std::int64_t number, const std::string& extension, std::string& name, std::string& path);
    std::string NextFreeName(std::int64_t& nextNumber, InWork& file);
    void Hand(InWork& file, Bytes piece, int tag, Piece kind);
    Bytes TakeHeld(std::size_t bytes);

    std::string folder_;
    std::string stem_;
    std::string extension_;
    std::string name_;
    std::string path_;

    std::vector<BYTE> held_; // the open file's last bytes, not yet handed over
    std::unique_ptr<InWork> open_;
    std::deque<std::unique_ptr<InWork>> closing_;
    std::vector<platform::ComPtr<ILargeFile>> writers_; // free writers, used again
    // File names in the folder: the free-name search tests them without
    // asking the file system, however many there are.
    std::unordered_set<std::string> namesInUse_;
    // Last: they finish their tasks before the files they work on go. The
    // bytes are written on one thread and hashed on another, each in the
    // order they were given, so that neither waits for the other.
    engine::WriteBehind behind_;
    engine::WriteBehind hashing_;
};

} // namespace wizard
