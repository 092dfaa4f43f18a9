// The deep scan's reading of the drive: blocks of sectors into one buffer,
// retries, a failed block narrowed down sector by sector, jumps over long
// unreadable stretches, and the partial sector an image may end with. It
// only moves forward (apart from an explicit, budgeted Rewind), so every
// sector is tried a bounded number of times and the work of a scan is
// bounded by the drive's size, whatever the drive does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>

#include "engine/RawDevice.h"

namespace wizard {

// Reads count bytes at a byte offset of the drive into buffer, through the
// drive's cached handle (opened for reading on first use, without a
// message). Returns the bytes read, fewer than count at the drive's end, or
// -1 when the read failed. It reaches what sector reads cannot name: the
// bytes past a drive's last whole sector.
std::int64_t ReadDriveBytes(engine::DriveNumber drive, std::uint64_t offset, std::uint8_t* buffer,
                            std::uint32_t count);

// After this many unreadable sectors in a row the source jumps ahead, in
// steps that start at this many sectors and double while the drive stays
// unreadable (up to a hundredth of the drive).
constexpr std::int64_t SkipAfterBadSectors = 16;

enum class SectorRunKind {
    Read,          // count sectors are in the buffer from index 0
    Unreadable,    // count sectors were tried and could not be read
    Skipped,       // count sectors lie in an unreadable stretch; most were jumped over untried
    PartialSector, // the drive's last bytes, less than a sector: partialBytes of them in the buffer, then zeros
    End,           // nothing more to read
};

struct SectorRun {
    SectorRunKind kind = SectorRunKind::End;
    std::int64_t first = 0;        // the run's first sector
    std::int32_t count = 0;        // its sectors
    std::int32_t partialBytes = 0; // PartialSector only
};

// What the source asks of the scan that uses it.
class SectorReadEvents {
public:
    virtual ~SectorReadEvents() = default;
    // Read attempts for a failing block; asked again at each failed attempt.
    virtual std::int32_t RetryLimit() = 0;
    // After each failed read, with the count of failed reads so far.
    virtual void ReadFailed(std::int64_t failedReads) = 0;
    // Ends the halving over a stretch early.
    virtual bool StopRequested() = 0;
};

struct SectorRange {
    std::int64_t first = 0; // first sector read
    std::int64_t end = 0;   // the sector before which reading stops
};

class SectorSource {
public:
    // buffer must hold sectorsAtOnce whole sectors (and at least one).
    SectorSource(engine::DriveNumber drive, std::int32_t bytesPerSector, SectorRange range,
                 std::int32_t sectorsAtOnce, std::uint8_t* buffer, std::size_t bufferSize, SectorReadEvents& events);

    // The next run of sectors from Position() on.
    SectorRun Next();
    // Reads from now on go into buffer, of the size given at the start.
    void UseBuffer(std::uint8_t* buffer) { buffer_ = buffer; }
    // Goes back to an earlier sector, to read it again. The sectors read
    // twice this way are budgeted (the length of the range, over the whole
    // scan); false, and nothing changes, when the budget would be exceeded.
    // A sector found unreadable is not tried again, nor counted twice.
    bool Rewind(std::int64_t sector);

    std::int64_t Position() const { return next_; }
    std::int64_t FailedReads() const { return failedReads_; }
    // Sectors lost: tried and failed, or jumped over in a stretch.
    std::int64_t UnreadableSectors() const { return unreadable_; }
    // Of those, the ones never tried.
    std::int64_t SkippedSectors() const { return skipped_; }
    bool AnySectorRead() const { return anyRead_; }

private:
    SectorRun ReadBlock();
    SectorRun ReadAlone();
    SectorRun ReadRest();
    SectorRun SkipStretch();
    SectorRun ReadPartialSector();
    SectorRun FindStretchEnd(std::int64_t from, std::int64_t readable, std::int64_t triedBad);
    bool ReadSectorsAt(std::int64_t sector, std::int32_t count);
    void Failed();
    void CountLost(std::int64_t from, std::int64_t count, std::int64_t untried);
    SectorRun Good(std::int64_t sector, std::int32_t count);
    SectorRun Bad(std::int64_t sector);

    engine::DriveNumber drive_;
    std::int32_t bytesPerSector_;
    SectorRange range_;
    std::int32_t sectorsAtOnce_;
    std::uint8_t* buffer_;
    std::size_t bufferSize_;
    SectorReadEvents& events_;

    std::int64_t next_;
    std::int64_t narrowEnd_ = 0; // single-sector reads up to here (a failed block)
    std::int64_t badRun_ = 0;    // unreadable sectors in a row
    std::int64_t skipStep_ = SkipAfterBadSectors;
    std::int64_t rereadBudget_;
    std::int64_t countedTo_ = 0;     // lost sectors before this were counted (before a Rewind)
    std::set<std::int64_t> knownBad_; // sectors tried and found unreadable
    bool readRest_ = false;      // what is left of a failed block is tried whole once
    bool partialDone_ = false;
    bool anyRead_ = false;
    std::int64_t failedReads_ = 0;
    std::int64_t unreadable_ = 0;
    std::int64_t skipped_ = 0;
};

} // namespace wizard
