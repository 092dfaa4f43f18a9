#include "wizard/SectorSource.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "platform/fileapi.h"

namespace wizard {

std::int64_t ReadDriveBytes(engine::DriveNumber drive, std::uint64_t offset, std::uint8_t* buffer,
                            std::uint32_t count) {
    std::string ignored;
    if (!engine::DriveTableEntry(drive).Handle && !engine::OpenDriveForReading(drive, ignored)) return -1;
    HANDLE handle = engine::DriveTableEntry(drive).Handle;
    LONG high = static_cast<LONG>(offset >> 32);
    if (SetFilePointer(handle, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN) ==
        INVALID_SET_FILE_POINTER) {
        return -1;
    }
    DWORD done = 0;
    if (!ReadFile(handle, buffer, count, &done, nullptr)) return -1;
    return done;
}

SectorSource::SectorSource(engine::DriveNumber drive, std::int32_t bytesPerSector, SectorRange range,
                           std::int32_t sectorsAtOnce, std::uint8_t* buffer, std::size_t bufferSize,
                           SectorReadEvents& events)
    : drive_(drive), bytesPerSector_(bytesPerSector), range_(range), sectorsAtOnce_(std::max(1, sectorsAtOnce)),
      buffer_(buffer), bufferSize_(bufferSize), events_(events), next_(range.first),
      rereadBudget_(std::max<std::int64_t>(0, range.end - range.first)) {}

SectorRun SectorSource::Next() {
    if (next_ >= range_.end) return ReadPartialSector();
    if (next_ < narrowEnd_ && readRest_) return ReadRest();
    if (next_ < narrowEnd_) return badRun_ >= SkipAfterBadSectors ? SkipStretch() : ReadAlone();
    return ReadBlock();
}

bool SectorSource::Rewind(std::int64_t sector) {
    if (sector < range_.first || sector >= next_ || next_ - sector > rereadBudget_) return false;
    rereadBudget_ -= next_ - sector;
    countedTo_ = std::max(countedTo_, next_);
    next_ = sector;
    narrowEnd_ = 0;
    readRest_ = false;
    partialDone_ = false;
    return true;
}

// One block; after a failed read the first sector is tried alone as often
// as the retry limit allows. A block that could not be read whole is then
// taken sector by sector, so that only the sectors that are really
// unreadable are lost.
SectorRun SectorSource::ReadBlock() {
    auto blockCount = static_cast<std::int32_t>(std::min<std::int64_t>(sectorsAtOnce_, range_.end - next_));
    // Read again after a Rewind: a sector known unreadable is not tried again.
    const auto bad = knownBad_.lower_bound(next_);
    if (bad != knownBad_.end() && *bad == next_) return Bad(next_);
    if (bad != knownBad_.end() && *bad < next_ + blockCount) blockCount = static_cast<std::int32_t>(*bad - next_);
    std::int32_t count = blockCount;
    std::int32_t attempts = 0;
    bool ok = false;
    bool triedAlone = false;
    do {
        triedAlone = count == 1;
        ok = ReadSectorsAt(next_, count);
        if (!ok) {
            // A read that succeeds fills what it asked for; after a failed
            // one no stale byte of an earlier block may pass for the card's.
            std::memset(buffer_, 1, static_cast<std::size_t>(bytesPerSector_) * blockCount);
            count = 1;
            ++attempts;
            Failed();
        }
    } while (!ok && attempts < events_.RetryLimit());
    if (ok && count == blockCount) return Good(next_, count);
    narrowEnd_ = next_ + blockCount;
    readRest_ = false;
    if (ok) return Good(next_, 1);
    if (triedAlone) return Bad(next_);
    return Next();
}

// After a stretch, what is left of the failed block is tried whole once:
// the drive is often readable again for good.
SectorRun SectorSource::ReadRest() {
    readRest_ = false;
    const auto count = static_cast<std::int32_t>(narrowEnd_ - next_);
    std::memset(buffer_, 1, static_cast<std::size_t>(bytesPerSector_) * count);
    if (ReadSectorsAt(next_, count)) return Good(next_, count);
    Failed();
    return Next();
}

SectorRun SectorSource::ReadAlone() {
    if (knownBad_.count(next_) != 0) return Bad(next_);
    std::memset(buffer_, 1, static_cast<std::size_t>(bytesPerSector_));
    if (ReadSectorsAt(next_, 1)) return Good(next_, 1);
    Failed();
    return Bad(next_);
}

// A drive that fails in one place often fails around it, and each failed
// read can take long: after a run of unreadable sectors the source jumps
// ahead in growing steps (up to a hundredth of the drive) rather than trying
// each sector. A jump that lands on a readable sector is followed by a
// halving back to where the stretch ends, so that what follows it is read.
SectorRun SectorSource::SkipStretch() {
    const std::int64_t from = next_;
    const std::int64_t step = std::min(skipStep_, range_.end - from);
    const std::int64_t landing = from + step;
    const std::int64_t largest = std::max(SkipAfterBadSectors, (range_.end - range_.first) / 100);
    skipStep_ = std::min(skipStep_ * 2, largest);
    SectorRun run{SectorRunKind::Skipped, from, static_cast<std::int32_t>(step), 0};
    if (landing >= range_.end) {
        next_ = range_.end;
        CountLost(from, step, step);
        return run;
    }
    if (ReadSectorsAt(landing, 1)) return FindStretchEnd(from, landing, 0);
    Failed();
    next_ = landing + 1;
    ++run.count;
    CountLost(from, run.count, step);
    return run;
}

// The stretch from `from` on ends at or before the readable sector
// `readable`: halving finds its end, assuming it is one stretch. Every
// sector before the end is lost (counted once); the source goes on at the
// first readable one.
SectorRun SectorSource::FindStretchEnd(std::int64_t from, std::int64_t readable, std::int64_t triedBad) {
    std::int64_t unreadable = from - 1;
    while (readable - unreadable > 1 && !events_.StopRequested()) {
        const std::int64_t middle = unreadable + (readable - unreadable) / 2;
        if (ReadSectorsAt(middle, 1)) {
            readable = middle;
        } else {
            Failed();
            unreadable = middle;
            ++triedBad;
        }
    }
    const std::int64_t lost = readable - from;
    CountLost(from, lost, lost - triedBad);
    next_ = readable;
    badRun_ = 0;
    skipStep_ = SkipAfterBadSectors;
    readRest_ = true;
    if (lost == 0) return Next();
    return SectorRun{SectorRunKind::Skipped, from, static_cast<std::int32_t>(lost), 0};
}

// A drive (or an image) whose size is no multiple of the sector size ends in
// a partial sector that the geometry does not count.
SectorRun SectorSource::ReadPartialSector() {
    if (partialDone_) return SectorRun{};
    partialDone_ = true;
    std::memset(buffer_, 0, static_cast<std::size_t>(bytesPerSector_));
    const std::int64_t read =
        ReadDriveBytes(drive_, static_cast<std::uint64_t>(next_) * static_cast<std::uint64_t>(bytesPerSector_),
                       buffer_, static_cast<std::uint32_t>(bytesPerSector_));
    if (read <= 0 || read >= bytesPerSector_) return SectorRun{};
    return SectorRun{SectorRunKind::PartialSector, next_, 1, static_cast<std::int32_t>(read)};
}

bool SectorSource::ReadSectorsAt(std::int64_t sector, std::int32_t count) {
    if (sector > std::numeric_limits<std::int32_t>::max()) return false;
    return engine::ReadSectors(drive_, static_cast<std::int32_t>(sector), static_cast<std::int16_t>(count), buffer_,
                               bufferSize_) != support::False;
}

// Sectors lost are counted once, also when a Rewind passes them again.
void SectorSource::CountLost(std::int64_t from, std::int64_t count, std::int64_t untried) {
    const std::int64_t fresh = std::max<std::int64_t>(0, from + count - std::max(from, countedTo_));
    unreadable_ += fresh;
    skipped_ += std::min(untried, fresh);
}

void SectorSource::Failed() {
    ++failedReads_;
    events_.ReadFailed(failedReads_);
}

SectorRun SectorSource::Good(std::int64_t sector, std::int32_t count) {
    anyRead_ = true;
    badRun_ = 0;
    skipStep_ = SkipAfterBadSectors;
    next_ = sector + count;
    return SectorRun{SectorRunKind::Read, sector, count, 0};
}

SectorRun SectorSource::Bad(std::int64_t sector) {
    knownBad_.insert(sector);
    CountLost(sector, 1, 0);
    ++badRun_;
    next_ = sector + 1;
    return SectorRun{SectorRunKind::Unreadable, sector, 1, 0};
}

} // namespace wizard
