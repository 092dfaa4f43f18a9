// A file that a scan saves into the destination. It is made under a hidden
// temporary name in its folder, created exclusively (nothing that is there
// is ever truncated), written through the shared output writer, and given
// its name only once it is closed, by a rename that never replaces a file.
// So a name in the destination always means a file written to its end, and
// two runs into one folder never write over each other; a run killed midway
// leaves at most a hidden ".tranquo-*.part" file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/Sha256.h"
#include "platform/com.h"
#include "platform/wintypes.h"

struct ILargeFile;

namespace engine {

class NewOutputFile {
public:
    NewOutputFile();
    // Writes through writer (null: the shared one) and hashes nothing: the
    // caller hashes the bytes it hands over, where it likes; Digest is "".
    struct CallerHashes {};
    NewOutputFile(platform::ComPtr<ILargeFile> writer, CallerHashes);
    // A file still open is closed; one that was not given its name is removed.
    ~NewOutputFile();
    NewOutputFile(const NewOutputFile&) = delete;
    NewOutputFile& operator=(const NewOutputFile&) = delete;

    // Creates the temporary file in folder (which must exist) and opens the
    // shared writer on it. False, with the reason in *why, when it cannot.
    bool Open(const std::string& folder, std::string* why);
    // Hands count bytes of data from start to the writer; false when they did
    // not all reach it.
    bool Write(BYTE* data, std::size_t size, std::int32_t start, std::int32_t count);
    // Closes the writer; false when some bytes did not reach the file.
    bool Close();
    // Gives the closed file its name in the folder: name, or when a file of
    // that name appeared meanwhile, the first free one of the names nextName
    // offers (none: the name is required). Returns the name given; "" with
    // *why when the file could not be named (it is then removed).
    std::string Commit(const std::string& name, const std::function<std::string()>& nextName, std::string* why);
    // Removes the file without naming it.
    void Discard();

    // The SHA-256 of the bytes written, hashed as they went by (the file is
    // never read back); "" when a write failed. Once, after Close.
    std::string Digest();

    bool IsOpen() const { return open_; }
    // The bytes the writer accepted since Open.
    std::int64_t BytesWritten() const { return written_; }

private:
    std::string folder_;
    std::string tempPath_;
    bool open_ = false;
    std::int64_t written_ = 0;
    bool writeFailed_ = false;
    std::unique_ptr<Sha256> hash_;
    platform::ComPtr<ILargeFile> writer_; // null: the shared one
    bool hashing_ = true;

    bool OpenWriter(const std::string& path);
    std::int32_t WriteChunk(BYTE* data, std::size_t size, std::int32_t start, std::int32_t count);
    bool CloseWriter();
};

// Renames from to to unless to exists (in any form, a dangling link too):
// 0, or -1 with errno (EEXIST when the name is taken). Atomic where the file
// system allows it.
int RenameWithoutReplacing(const std::string& from, const std::string& to);

} // namespace engine
