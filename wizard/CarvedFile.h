// What the deep scan knows of one file it carved and named: kept for the
// whole run, so that the steps after the pass over the drive (names from the
// folders found, photos put back together) can find and change it.
#pragma once

#include <cstdint>
#include <string>

#include "wizard/DeepScanHost.h"

namespace wizard {

struct CarvedFile {
    std::string path;             // where it lies now, in the Deep Scan folder
    std::int64_t startOffset = 0; // the drive byte of its first sector
    std::int64_t bytes = 0;       // bytes on the disk
    std::string extension;        // of the type that matched at its start
    CarvedFileEnd how = CarvedFileEnd::Complete;
    CarvedEndRule rule = CarvedEndRule::NextStart;
    std::string sha256; // of its bytes; "" when unknown
};

} // namespace wizard
