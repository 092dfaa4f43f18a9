// A carved JPEG photo that breaks off is put back together from the card.
// A card fills free clusters in order, so a photo written into the gaps
// left by deleted files lies in pieces around the files that stayed: its
// carve runs on into a foreign file. The break shows as a decoding error, a
// foreign file's start before the picture is complete, a cluster that can
// hold no picture data, or a sudden jump in the decoded picture; it lies on
// a cluster boundary. The continuation is looked for among the clusters that
// belong to no file carved whole: right after the end of the file that
// interrupted it, then further ahead, then from the start of the data area;
// a candidate is taken when the picture decodes on across the join without
// error and without a jump. Up to three pieces; the search is bounded in
// candidates and in time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "wizard/DeepScanHost.h"

namespace wizard {

// Reads count bytes of the drive at offset; returns the bytes read (fewer
// at the drive's end), or -1 when the read failed.
using DriveReader = std::function<std::int64_t(std::int64_t offset, std::uint8_t* buffer, std::size_t count)>;

struct JpegRepairInput {
    std::int64_t start = 0;       // the drive byte of the photo's first byte
    std::int64_t carvedBytes = 0; // what the pass carved from there
    // Cluster boundaries lie at dataStart + k x clusterBytes (the sector size
    // and 0 when the layout is not known).
    std::int64_t clusterBytes = 512;
    std::int64_t dataStart = 0;
    std::int64_t driveBytes = 0;
    // Files carved whole, whose clusters can hold no piece of the photo.
    std::vector<DriveRun> taken;
    // Every carved file: the one that starts at a break interrupted the
    // photo, and the continuation is looked for first right after it.
    std::vector<DriveRun> carved;
};

struct JpegRepairLimits {
    int maxPieces = 3;
    int maxCandidates = 150;                   // continuations decoded, per photo
    std::int64_t maxScanBytes = 256LL << 20;   // drive bytes looked over for continuations, per photo
    std::chrono::milliseconds maxTime{2000};   // per photo
    std::int64_t maxPhotoBytes = 64LL << 20;   // larger photos are not checked
};

enum class JpegRepairVerdict {
    NotChecked,         // no picture libjpeg can decode, or too large to check
    Whole,              // the carve decodes whole: nothing to do
    Repaired,           // put back together from runs
    NotWhole,           // broken and not put back together: runs hold what is right
    ProgressiveBroken,  // a broken progressive picture: left as carved
};

struct JpegRepairResult {
    JpegRepairVerdict verdict = JpegRepairVerdict::NotChecked;
    std::vector<DriveRun> runs; // Repaired, NotWhole: the photo's bytes on the drive, in order
    int candidatesTried = 0;
    std::int64_t Bytes() const;
};

JpegRepairResult RepairJpeg(const JpegRepairInput& input, const DriveReader& read,
                            const JpegRepairLimits& limits = {});

// The first cluster of the stream's bytes [from, to) that holds one byte
// value only (no picture data does), as an offset in bytes; -1 when none.
// Clusters begin at firstBoundary + k x clusterBytes (offsets in the bytes).
std::int64_t FirstUniformCluster(const std::uint8_t* bytes, std::int64_t from, std::int64_t to,
                                 std::int64_t firstBoundary, std::int64_t clusterBytes);

// Whether entropy-coded data may begin at bytes: no start of a file, not one
// byte value throughout, and every FF within followed by a stuffed 00 or a
// restart marker, up to the end-of-image marker if it comes.
bool MayContinuePicture(const std::uint8_t* bytes, std::size_t count);

} // namespace wizard
