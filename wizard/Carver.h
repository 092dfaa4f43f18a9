// The deep scan's decisions, sector by sector: whether a file starts there
// (the signature database's start index), whether the file being carved
// goes on or ends (its end patterns, its fixed size, 4 GiB, the structure
// its walker reads, the next start), and whether a start that a structure
// claimed must be carved after all. It reads the sectors it is shown and
// keeps only a file's last few bytes (for an end pattern that runs on into
// the next sector); writing is the caller's.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Typhex.h"
#include "platform/com.h"
#include "platform/wintypes.h"
#include "wizard/DeepScanHost.h"
#include "wizard/FileWalk.h"

namespace wizard {

enum class CarveAction {
    Skip,                // no file is being carved, and none starts here
    Start,               // a file starts with this sector
    Continue,            // the sector belongs to the file being carved
    End,                 // the file being carved ends in this sector
    EndPreviousAndStart, // the file being carved ends with the sector before; a new one starts here
    GoBack,              // a start the file claimed must be carved: see CarveDecision::goBackTo
};

// Where a file ends: the bytes of the sector being examined that are its
// last (0 to the sector's), less trim bytes before that sector that its
// structure showed, only then, not to be its own (at most MaxTrimBytes).
struct FileEnd {
    std::int32_t bytes = 0;
    std::int64_t trim = 0;
    CarvedEndRule rule = CarvedEndRule::NextStart;
};

// A walk sees that bytes no longer belong to a file only once it has their
// header: never more than this behind.
constexpr std::int64_t MaxTrimBytes = 65536;

struct CarveDecision {
    CarveAction action = CarveAction::Skip;
    // End: where the file ends in this sector. Start, EndPreviousAndStart:
    // set when the new file also ends in this sector. GoBack: set when the
    // file would have ended here.
    std::optional<FileEnd> endBytes;
    // EndPreviousAndStart: how the file being carved ended (with the sector
    // before, less its trim).
    FileEnd previousEnd;
    // GoBack: the claiming file ends before this drive sector (as far as its
    // bytes are not written yet) and a file starts there: the scan reads on
    // from it. When it cannot go back, the file goes on as Continue (or End
    // with endBytes) would have it.
    std::int64_t goBackTo = 0;
    // End: a start inside the file whose own structure checks out (or was
    // still being read when the file ended). Once the file is written, the
    // scan reads on from this drive sector again, so that the file found
    // there is carved too.
    std::optional<std::int64_t> readAgainFrom;
};

// One sector as the carver sees it: the whole read buffer (the library's end
// test may look past the sector), and where the sector lies in it.
struct SectorView {
    const VARIANT* buffer = nullptr;     // the whole buffer, by reference
    const std::uint8_t* bytes = nullptr; // the same bytes
    std::size_t size = 0;                // the buffer's size
    std::int32_t at = 0;                 // index of the sector's first byte
    std::int32_t length = 0;             // bytes of the sector the drive holds (less only at the drive's end)
    std::int64_t sector = 0;             // its number on the drive
};

class Carver {
public:
    // bytesPerSector: the drive's sector size (the database is told it);
    // driveBytes: the drive's size, beyond which no claim is trusted.
    Carver(ISupportedFileTypes* types, std::int32_t bytesPerSector, std::int64_t driveBytes);
    ~Carver();
    Carver(const Carver&) = delete;
    Carver& operator=(const Carver&) = delete;

    CarveDecision Examine(const SectorView& view);
    // The file being carved ends without a decision of the carver (an
    // unreadable sector, a file that could not be written, a GoBack taken);
    // the next start begins a new one.
    void Drop();
    // The drive cannot be read on: the file being carved ends here. Returns
    // the first start its structure claimed and had not settled yet, which
    // the scan should go back to (the structure can no longer vouch for it).
    std::optional<std::int64_t> Cut();

    // The extension of the type that started the last file, as the database
    // holds it (three characters, space-padded).
    const std::string& Extension() const { return extension_; }
    bool Carving() const { return carving_; }
    // The file offset of the next sector to examine.
    std::int64_t FileOffset() const { return fileOffset_; }

private:
    struct Start {
        IFileSignature* signature = nullptr;
        std::string extension;
    };

    std::optional<Start> FindStart(const SectorView& view, bool& fed, FileEnd& previousEnd);
    bool BelongsToFile(const SectorView& view);
    FileEnd EndBeforeThisSector() const;
    void BeginFile(Start start, const SectorView& view);
    void ReadEndRule();
    void ReadEndPatternStarts();
    std::optional<FileEnd> TestForEnd(const SectorView& view);
    std::optional<FileEnd> StructureEnd(const SectorView& view) const;
    std::optional<FileEnd> PatternEnd(const SectorView& view);
    std::optional<std::int32_t> PatternAcrossSectors(const SectorView& view);
    void KeepTail(const SectorView& view);
    std::optional<std::int32_t> FixedLengthEnd(const SectorView& view, std::optional<std::int64_t> patternEnd) const;
    bool EndPatternAccepted(const SectorView& view, std::int64_t endPoint) const;
    std::optional<std::int64_t> HiddenStart(bool fileEnds);
    void StartProbe(const SectorView& view);
    void FeedProbes(const SectorView& view);
    std::optional<std::int64_t> ProbedStart(const FileEnd& end) const;
    void DropProbes();
    void AdvanceFileOffset();
    void DropSignature();

    ISupportedFileTypes* types_;
    std::int32_t bytesPerSector_;
    std::int64_t driveBytes_;
    platform::ComPtr<IExtraLong> extraLong_;

    bool carving_ = false;
    IFileSignature* signature_ = nullptr; // held while it has an end rule
    std::string extension_;
    BYTE endSequenceCount_ = 0;
    bool fixedLength_ = false;
    LONG fixedSize_ = 0;
    LONG offsetLow_ = 0;
    LONG offsetHigh_ = 0;
    std::int64_t fileOffset_ = 0;
    FileWalk walk_;
    // Starts found inside the file's claimed range while its structure was
    // still being read, in order: carved after all if the
    // structure does not hold.
    struct Claim {
        std::int64_t sector; // on the drive
        std::int64_t offset; // in the file
    };
    std::vector<Claim> claimedStarts_;
    // Starts the file's structure covers only by a length, each walked by
    // its own structure while the file is carved: one that checks out is a
    // file of its own (a stale length covers it), read again once this file
    // ends. A few at a time; the earliest that checked out is kept.
    struct Probe {
        std::int64_t sector; // on the drive
        FileWalk walk;
    };
    std::vector<Probe> probes_;
    struct CheckedOut {
        std::int64_t sector;  // on the drive
        std::int64_t endByte; // the drive byte its structure ends before
    };
    std::optional<CheckedOut> checkedOut_;
    std::int64_t fileStartByte_ = 0; // the drive byte the file being carved starts with
    std::bitset<256> endStarts_;     // the bytes an end pattern can begin with
    std::size_t longestEnd_ = 0;     // the longest end pattern's length
    std::vector<std::uint8_t> tail_; // the file's last bytes before the next sector
    std::vector<std::uint8_t> seam_; // those, then the next sector

};

} // namespace wizard
