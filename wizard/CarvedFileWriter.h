// The files the deep scan carves: their names (a running number, at least
// five digits, and the type's extension, after the prefix), opening,
// writing and closing them through the output-file functions, one at a
// time. It reports what happened; it shows nothing and asks nothing.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

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
    // Creates the file of the chosen name (replacing one only when no number
    // was left). Raises the run-time error for a path that is not found or a
    // file that may not be created: nothing more could be carved.
    void Open();
    // Appends count bytes of data from index start. False when they did not
    // all reach the writer; the file is then marked as failed.
    bool Write(BYTE* data, std::size_t size, std::int32_t start, std::int32_t count);

    struct Closed {
        bool whole = false;        // every byte given reached the disk
        bool writeFailed = false;  // a Write had already failed (and was reported)
        std::int64_t bytes = 0;    // bytes on the disk
    };
    // Closes the file and says what reached the disk.
    Closed Close();

    bool IsOpen() const { return open_; }
    const std::string& Name() const { return name_; }
    const std::string& Path() const { return path_; }

private:
    bool NameInUse(std::int64_t number, const std::string& extension);

    std::string folder_;
    std::string stem_;
    std::string name_;
    std::string path_;
    bool open_ = false;
    bool writeFailed_ = false;
    std::int64_t bytesWritten_ = 0;
    // File names in the folder: the free-name search tests them without
    // asking the file system, however many there are.
    std::unordered_set<std::string> namesInUse_;
};

} // namespace wizard
