// The files the deep scan carves: their names (a running number, at least
// five digits, and the type's extension, after the prefix), opening,
// writing and closing them, one at a time. Each is made new under a hidden
// temporary name, hashed as it is written, and given its name only when it
// is closed, without replacing a file that took the name meanwhile (it then
// takes the next free number). It reports what happened; it shows nothing
// and asks nothing.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/NewOutputFile.h"
#include "engine/WriteBehind.h"
#include "platform/wintypes.h"

namespace wizard {

class CarvedFileWriter {
public:
    // folder: where the files go (it is created if need be, and the names
    // already in it are taken); prefix: put before every number.
    CarvedFileWriter(std::string folder, std::string prefix);
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
    // Appends count bytes of data from index start. False when they did not
    // all reach the writer; the file is then marked as failed. The file's
    // last bytes (MaxTrimBytes) are held back until Close, for Trim.
    bool Write(BYTE* data, std::size_t size, std::int32_t start, std::int32_t count);
    // Appends as Write does, but the bytes reach the writer on a thread of
    // its own while the caller goes on: they are copied, so data may change
    // at once. Whether they all reached it, Settle says.
    void WriteLater(const BYTE* data, std::size_t size, std::int32_t start, std::int32_t count);
    // Waits for the bytes given to WriteLater: false when some did not reach
    // the writer (the file is then marked as failed, and that is said once).
    // Every other call waits for them too.
    bool Settle();
    // Drops the file's last bytes given to Write (at most those held back).
    void Trim(std::int64_t bytes);

    struct Closed {
        bool whole = false;       // every byte given reached the disk
        bool writeFailed = false; // a Write had already failed (and was reported)
        bool named = false;       // the file is in the folder under Path()
        std::int64_t bytes = 0;   // bytes on the disk
        std::string why;          // why it could not be named
        std::string sha256;       // of the bytes written; "" when a write failed
    };
    // Closes the file and names it: the chosen name, or when that was taken
    // meanwhile the next free number after nextNumber (which keeps it). A
    // file cut short is named too, with what it has. Says what reached the
    // disk; a file that cannot be named is removed.
    Closed Close(std::int64_t& nextNumber);

    bool IsOpen() const { return output_.IsOpen(); }
    const std::string& Name() const { return name_; }
    const std::string& Path() const { return path_; }

private:
    bool NameInUse(std::int64_t number, const std::string& extension);

    std::string NextFreeName(std::int64_t& nextNumber);

    std::string folder_;
    std::string stem_;
    std::string extension_;
    std::string name_;
    std::string path_;
    bool Flush(std::size_t count);

    engine::NewOutputFile output_;
    bool writeFailed_ = false;
    std::vector<BYTE> held_; // the file's last bytes, not yet written
    bool laterFailed_ = false; // a piece for WriteLater could not be handed over
    // File names in the folder: the free-name search tests them without
    // asking the file system, however many there are.
    std::unordered_set<std::string> namesInUse_;
    // Last: it stops, after its piece, before output_ goes.
    engine::WriteBehind behind_;
};

} // namespace wizard
