// The DISK_GEOMETRY that a volume reports. Cards and images have no real
// cylinders and heads, so the numbers are chosen for the callers, which take
// cylinders x tracks x sectors per track as the volume's sector count: the
// product is the exact sector count whenever that fits in 32 bits.
#pragma once

#include <cstdint>

#include "platform/fileapi.h"

namespace platform::detail {

DISK_GEOMETRY GeometryForVolume(std::uint64_t lengthInBytes, std::uint32_t bytesPerSector, bool removable);

} // namespace platform::detail
