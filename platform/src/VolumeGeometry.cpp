#include "platform/src/VolumeGeometry.h"

namespace platform::detail {

namespace {

constexpr std::uint64_t ClassicHeads = 255;
constexpr std::uint64_t ClassicSectorsPerTrack = 63;

// The largest divisor of n that is at most limit (1 at worst).
std::uint64_t LargestDivisorUpTo(std::uint64_t n, std::uint64_t limit) {
    for (std::uint64_t d = limit; d > 1; --d)
        if (n % d == 0) return d;
    return 1;
}

} // namespace

DISK_GEOMETRY GeometryForVolume(std::uint64_t lengthInBytes, std::uint32_t bytesPerSector, bool removable) {
    DISK_GEOMETRY geometry{};
    geometry.MediaType = removable ? RemovableMedia : FixedMedia;
    geometry.BytesPerSector = bytesPerSector;
    std::uint64_t sectors = bytesPerSector ? lengthInBytes / bytesPerSector : 0;
    std::uint64_t sectorsPerTrack = ClassicSectorsPerTrack;
    std::uint64_t heads = ClassicHeads;
    if (sectors == 0) {
        geometry.Cylinders.QuadPart = 0;
    } else if (sectors > 0xFFFFFFFFull) {
        // Too large for an exact 32-bit product anyway: the usual translation,
        // whole cylinders only.
        geometry.Cylinders.QuadPart = static_cast<LONGLONG>(sectors / (heads * sectorsPerTrack));
    } else if (sectors % (heads * sectorsPerTrack) != 0) {
        sectorsPerTrack = LargestDivisorUpTo(sectors, ClassicSectorsPerTrack);
        heads = LargestDivisorUpTo(sectors / sectorsPerTrack, ClassicHeads);
        geometry.Cylinders.QuadPart = static_cast<LONGLONG>(sectors / (sectorsPerTrack * heads));
    } else {
        geometry.Cylinders.QuadPart = static_cast<LONGLONG>(sectors / (heads * sectorsPerTrack));
    }
    geometry.TracksPerCylinder = static_cast<DWORD>(heads);
    geometry.SectorsPerTrack = static_cast<DWORD>(sectorsPerTrack);
    return geometry;
}

} // namespace platform::detail
