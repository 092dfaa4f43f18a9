// The file-type table: the signature database loaded once into the
// library's SupportedFileTypes object, with each type's extension and search
// flag copied for fast lookups, and the output-file wrappers around the one
// shared LargeFile writer. Process-wide state, used from the UI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/com.h"
#include "platform/wintypes.h"
#include "support/Truth.h"

struct ISupportedFileTypes;
struct ILargeFile;

namespace engine {

// Loads "settings.zq4" from the program folder into FileTypes() unless it is
// loaded already. Raises support::RuntimeError (source "Fotrida 4",
// "Unable to load file type data from settings.zq4") when the file cannot be
// loaded, and a RuntimeError (429) when the library cannot be activated.
void LoadFileTypeData();
// The loaded database (borrowed; null until LoadFileTypeData succeeded).
ISupportedFileTypes* FileTypes();
// Drops the database (the wizard's unload); the next LoadFileTypeData loads
// it again. The extension arrays keep their contents until then.
void ReleaseFileTypes();

std::int32_t FileTypeCount();
const std::vector<std::string>& FileTypeExtensions();  // upper case
const std::vector<support::Truth>& FileTypeAllowSearch();

// True when a type with that extension (trimmed, any case) exists and may be
// searched for; a variant spelling of a type's extension (".jpeg", ".mpeg",
// see ExtensionAliases) counts as that type. False while no database is loaded.
support::Truth IsSearchableExtension(const std::string& extension);

// For tests: fills the table from (extension, allowSearch) pairs without the
// library, as if a database with those types had been loaded. An empty list
// returns to the unloaded state.
void UseFileTypeTableForTests(const std::vector<std::pair<std::string, bool>>& types);

// Output files, one open at a time, through the shared LargeFile (created on
// the first open and kept for the life of the process). Paths are UTF-8.
// OpenOutputFile: true when the file was opened (created or truncated).
support::Truth OpenOutputFile(const std::string& path);
// Appends count bytes of buffer from position start; returns the bytes
// written (count), -1 when the write fell short or there is no writer.
std::int32_t WriteOutputChunk(std::vector<BYTE>& buffer, std::int32_t start, std::int32_t count);
std::int32_t WriteOutputChunk(BYTE* data, std::size_t size, std::int32_t start, std::int32_t count);
// Flushes and closes; true when there is no writer, false when the pending
// bytes could not be written.
support::Truth CloseOutputFile();
// The same on a writer of the caller's own (NewLargeFile), which another
// thread may use while the shared one is busy.
platform::ComPtr<ILargeFile> NewLargeFile();
support::Truth OpenOutputFile(ILargeFile& writer, const std::string& path);
std::int32_t WriteOutputChunk(ILargeFile& writer, BYTE* data, std::size_t size, std::int32_t start, std::int32_t count);
support::Truth CloseOutputFile(ILargeFile& writer);

// The output file of one save: closed by Close, whose result says whether
// its bytes reached the disk, or else when it goes out of scope (an error
// thrown mid-file), so that the shared writer is never left open.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() {
        if (open_) CloseOutputFile();
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    support::Truth Open(const std::string& path) {
        open_ = OpenOutputFile(path) != support::False;
        return support::ToTruth(open_);
    }
    support::Truth Close() {
        open_ = false;
        return CloseOutputFile();
    }

private:
    bool open_ = false;
};

} // namespace engine
