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
    bool Complete = true;      // false: the drive ended before the rest of its data
    std::uint32_t SizeOnCard = 0;  // as the entry says
    std::uint32_t SizeSaved = 0;
    std::uint8_t Attributes = 0;
    std::uint16_t CreateDate = 0, CreateTime = 0, AccessDate = 0, WriteDate = 0, WriteTime = 0;
    std::uint8_t CreateTimeTenths = 0;
    std::int32_t FirstCluster = 0;
    std::string Sha256;        // of the saved bytes, as written; "" when unknown
    // The saved bytes in file order; together they cover at most SizeSaved
    // bytes (a file up to 512 bytes longer than its clusters reads its last
    // cluster again for the rest, which is not listed twice).
    std::vector<VolumeByteRun> Runs;
};

} // namespace engine
