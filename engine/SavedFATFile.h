// Where a file saved by the turbo scan came from: its directory entry, its
// path on the card and the bytes of the card it was read from. Raised with
// every file that reached the destination, so that a run can keep a record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// Bytes of the volume, from its first byte.
struct VolumeByteRun {
    std::int64_t Offset = 0;
    std::int64_t Length = 0;
};

struct SavedFATFile {
    std::string Folder;        // the output folder, ending in "/"
    std::string SavedName;     // the name it was saved under
    std::string CardPath;      // the entry's path on the card ("DCIM/100CAMERA/IMG_0001.JPG"), unsanitised
    bool Deleted = false;      // its entry was marked deleted
    // false: not all of its data could be read (the drive or its clusters
    // ended before its size, or sectors could not be read)
    bool Complete = true;
    std::int64_t UnreadableBytes = 0;  // saved as zeros: their sectors could not be read
    std::uint64_t SizeOnCard = 0;  // as the entry says
    std::uint64_t SizeSaved = 0;
    std::uint8_t Attributes = 0;
    std::uint16_t CreateDate = 0, CreateTime = 0, AccessDate = 0, WriteDate = 0, WriteTime = 0;
    std::uint8_t CreateTimeTenths = 0;
    // exFAT: the write time's 10 ms steps, and the UTC offsets of the write
    // and creation times (bit 7: given; low 7 bits: signed 15-minute steps).
    std::uint8_t WriteTime10ms = 0, WriteUtcOffset = 0, CreateUtcOffset = 0;
    std::int32_t FirstCluster = 0;
    std::string Sha256;        // of the saved bytes, as written; "" when unknown
    // The saved bytes in file order; together they cover at most SizeSaved
    // bytes (a file up to 512 bytes longer than its clusters reads its last
    // cluster again for the rest, which is not listed twice).
    std::vector<VolumeByteRun> Runs;
};

} // namespace engine
