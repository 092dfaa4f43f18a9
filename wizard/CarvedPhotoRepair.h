// The deep scan's step after the pass that puts broken photos back
// together: each carved JPEG whose carve did not end where its own structure
// says is decoded, and one whose data breaks off is joined with its
// continuation found on the drive (JpegRepair), or cut to what is right.
// The new bytes replace the carved file (a file of this run) under its name.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/RawDevice.h"
#include "wizard/CarvedFile.h"
#include "wizard/DeepScanHost.h"

namespace wizard {

struct PhotoRepairSetup {
    engine::DriveNumber drive = 0;
    std::int64_t driveBytes = 0;
    std::int64_t clusterBytes = 512; // the sector size when the layout is not known
    std::int64_t dataStart = 0;      // the drive byte where clusters begin
};

struct PhotoRepairCounts {
    std::int32_t repaired = 0; // put back together, whole
    std::int32_t notWhole = 0; // broken, saved as far as they are right (or left as carved)
};

// Whether a carved file may be a photo whose data broke off: a JPEG carved
// whole by the scan's rules, but not ended by its own structure.
bool MayBeBrokenPhoto(const CarvedFile& file);

// Checks and repairs the carved photos that may be broken; each one changed
// is told to the host (FileRepaired) and its record in carved is updated.
// Stops early when the host's Stop is requested.
PhotoRepairCounts RepairCarvedPhotos(std::vector<CarvedFile>& carved, const PhotoRepairSetup& setup,
                                     DeepScanHost& host);

} // namespace wizard
