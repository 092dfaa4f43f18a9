// Whether a sector read during the deep scan is a piece of a FAT folder.
// The test is strict and decides on the whole sector: every 32-byte entry
// must be a plausible short entry or long-name entry (or the zeros after the
// folder's end marker), so that the bytes of a photo are never taken for a
// folder, whatever a few of their entries happen to look like.
#pragma once

#include <cstdint>
#include <span>

namespace wizard {

// What can be known of the volume before its layout is: the largest cluster
// number and file size any layout of the drive allows.
struct DirectorySectorBounds {
    std::int64_t maxCluster = 0;
    std::uint64_t maxFileSize = 0;
};

enum class DirectorySectorKind {
    NotDirectory,
    FolderStart,  // a folder's first sector: "." and ".." lead
    FolderPart,   // any other sector of a folder
};

struct DirectorySectorTest {
    DirectorySectorKind kind = DirectorySectorKind::NotDirectory;
    std::int64_t ownCluster = 0;     // FolderStart: the "." entry's cluster
    std::int64_t parentCluster = 0;  // FolderStart: the ".." entry's cluster (0: the root)
    bool endsFolder = false;         // an end marker (0x00) lies in the sector
};

// sector: one whole sector (a multiple of 32 bytes). A sector of zeros is
// not taken: it says nothing.
DirectorySectorTest TestDirectorySector(std::span<const std::uint8_t> sector, const DirectorySectorBounds& bounds);

} // namespace wizard
