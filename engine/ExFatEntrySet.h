// exFAT directory entries: the entry sets of files and folders (a file
// entry, its stream extension and its name entries, with the set's
// checksum), live or deleted, and the allocation bitmap and up-case table
// entries of the root directory. Parsed from a directory's bytes as read
// from the card; nothing here trusts them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/littleendian.h"

namespace engine {

constexpr std::size_t ExFatEntrySize = 32;
constexpr std::uint16_t ExFatAttrDirectory = 0x10;

// One file or folder: its file entry, stream extension and name.
struct ExFatEntrySet {
    bool Deleted = false;             // the in-use bits are clear
    std::uint16_t Attributes = 0;
    // Date (high 16 bits) and time (low 16 bits) as FAT writes them.
    std::uint32_t CreateTimestamp = 0;
    std::uint32_t ModifiedTimestamp = 0;
    std::uint32_t AccessedTimestamp = 0;
    std::uint8_t Create10ms = 0;      // 0 to 199
    std::uint8_t Modified10ms = 0;
    // Bit 7 set: the low 7 bits are a signed offset from UTC in 15-minute steps.
    std::uint8_t CreateUtcOffset = 0;
    std::uint8_t ModifiedUtcOffset = 0;
    std::uint8_t AccessedUtcOffset = 0;
    bool NoFatChain = false;          // the data is one run of clusters; the FAT holds no chain for it
    std::uint32_t FirstCluster = 0;
    std::uint64_t ValidDataLength = 0;
    std::uint64_t DataLength = 0;
    std::string Name;                 // UTF-8, as the card has it (not made safe)
    std::size_t Offset = 0;           // of the file entry in the directory's bytes

    bool IsDirectory() const { return (Attributes & ExFatAttrDirectory) != 0; }
};

// The allocation bitmap entry (one per FAT; bit 0 of its flags names which).
struct ExFatBitmapEntry {
    std::uint8_t FatIndex = 0;
    std::uint32_t FirstCluster = 0;
    std::uint64_t DataLength = 0;
};

struct ExFatDirectoryContents {
    std::vector<ExFatEntrySet> Sets;
    std::vector<ExFatBitmapEntry> Bitmaps;
    bool HasUpcaseTable = false;
    bool Ended = false;               // an end-of-directory entry was met
};

// The entry sets of a directory's bytes, up to its end-of-directory entry.
// A set is taken only whole and with a matching checksum; anything else is
// passed over one entry at a time, so a damaged set costs only itself.
ExFatDirectoryContents ParseExFatDirectory(platform::ByteView bytes);

// The checksum of an entry set (all its entries; the checksum field left
// out). A deleted set is summed as it was while in use.
std::uint16_t ExFatEntrySetChecksum(platform::ByteView set, bool deleted);

// The clock time a timestamp stands for, in seconds since 1970: local time
// of this computer when the UTC offset is not given. -1 for a date that
// does not exist.
std::int64_t ExFatTimestampSeconds(std::uint32_t timestamp, std::uint8_t utcOffset);

// Gives a saved file an entry's write time: FAT's date and time, exFAT's
// 10 ms steps (0 to 199) and UTC offset (0 for FAT: local time, as cameras
// write it). A date that does not exist is left out.
void ApplyWriteTime(const std::string& path, std::uint16_t date, std::uint16_t time, std::uint8_t time10ms = 0,
                    std::uint8_t utcOffset = 0);

} // namespace engine
