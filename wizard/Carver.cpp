#include "wizard/Carver.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "Typhex.h"
#include "platform/oleauto.h"
#include "support/ProgramFolder.h"
#include "support/RuntimeError.h"
#include "wizard/DeepScan.h"

namespace wizard {

namespace {

constexpr std::int64_t MaxFileBytes = DeepScanMaxFileBytes;
// Starts walked at once inside one file: the first that checks out is all
// that is needed, and they mostly settle one after the other.
constexpr std::size_t MaxProbes = 4;

// A failing HRESULT from the library reaches the scan as a run-time error of
// the call, with the HRESULT as its number.
[[noreturn]] [[gnu::noinline]] void ThrowCallFailed(HRESULT hr, const char* member) {
    throw support::RuntimeError(hr, "Typhex", std::string("Automation error in ") + member);
}

inline void ThrowIfFailed(HRESULT hr, const char* member) {
    if (FAILED(hr)) [[unlikely]] ThrowCallFailed(hr, member);
}

std::int32_t Clamped(std::int64_t bytes, std::int32_t length) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(bytes, 0, length));
}

} // namespace

Carver::Carver(ISupportedFileTypes* types, std::int32_t bytesPerSector, std::int64_t driveBytes)
    : types_(types), bytesPerSector_(bytesPerSector), driveBytes_(driveBytes) {}

Carver::~Carver() { DropSignature(); }

CarveDecision Carver::Examine(const SectorView& view) {
    CarveDecision decision;
    bool fed = false;
    std::optional<Start> start = FindStart(view, fed, decision.previousEnd);
    if (start) {
        decision.action = carving_ ? CarveAction::EndPreviousAndStart : CarveAction::Start;
        BeginFile(std::move(*start), view);
        fed = false;
    } else if (carving_) {
        decision.action = CarveAction::Continue;
        FeedProbes(view);
    } else {
        return decision;
    }
    if (!fed) walk_.Feed(view.bytes + view.at, static_cast<std::size_t>(view.length));
    const std::optional<FileEnd> end = TestForEnd(view);
    const std::optional<std::int64_t> hidden = HiddenStart(end.has_value());
    if (end) {
        if (!hidden) decision.readAgainFrom = ProbedStart(*end);
        carving_ = false;
        DropSignature();
        DropProbes();
    } else {
        KeepTail(view);
    }
    if (hidden) {
        decision.action = CarveAction::GoBack;
        decision.goBackTo = *hidden;
        decision.endBytes = end;
    } else if (end) {
        if (decision.action == CarveAction::Continue) decision.action = CarveAction::End;
        decision.endBytes = end;
    }
    AdvanceFileOffset();
    return decision;
}

std::optional<std::int64_t> Carver::Cut() {
    std::optional<std::int64_t> hidden;
    if (carving_ && !claimedStarts_.empty()) hidden = claimedStarts_.front().sector;
    Drop();
    return hidden;
}

void Carver::Drop() {
    carving_ = false;
    claimedStarts_.clear();
    DropSignature();
    DropProbes();
}

// Whether a file starts at this sector. A start inside the file being
// carved where its structure puts a part of it (a preview, a thumbnail in a
// segment, the inside of a box) belongs to that file; while the structure is
// still being read, such a start is remembered in case it does not hold.
// The structure is asked once it has been fed the sector (fed is then set);
// when the start ends the file, previousEnd says where.
std::optional<Carver::Start> Carver::FindStart(const SectorView& view, bool& fed, FileEnd& previousEnd) {
    IFileSignature* found = nullptr;
    BSTR extension = nullptr;
    VARIANT_BOOL matched = VARIANT_FALSE;
    const HRESULT hr = types_->FindMatchingStart(*view.buffer, view.at, &found, &extension, &matched);
    Start start{found, platform::Utf8FromBstr(extension)};
    SysFreeString(extension);
    ThrowIfFailed(hr, "FindMatchingStart");
    if (matched != VARIANT_FALSE && carving_) {
        walk_.Feed(view.bytes + view.at, static_cast<std::size_t>(view.length));
        fed = true;
    }
    if (matched == VARIANT_FALSE || BelongsToFile(view)) {
        if (found) found->Release();
        return std::nullopt;
    }
    if (carving_) previousEnd = EndBeforeThisSector();
    return start;
}

bool Carver::BelongsToFile(const SectorView& view) {
    if (!carving_ || !walk_.Holds(fileOffset_)) return false;
    if (walk_.GetState() == FileWalk::State::Walking) claimedStarts_.push_back({view.sector, fileOffset_});
    if (!walk_.Embeds(fileOffset_)) StartProbe(view);
    return true;
}

// The file being carved ends before this sector, where a start was found:
// exactly where its structure ended, when that lies before the sector.
FileEnd Carver::EndBeforeThisSector() const {
    FileEnd end;
    if (walk_.GetState() != FileWalk::State::Ended) return end;
    const std::int64_t behind = fileOffset_ - walk_.End();
    if (behind >= 0 && behind <= MaxTrimBytes) {
        end.trim = behind;
        end.rule = CarvedEndRule::Structure;
    }
    return end;
}

void Carver::BeginFile(Start start, const SectorView& view) {
    DropSignature();
    signature_ = start.signature;
    extension_ = std::move(start.extension);
    offsetLow_ = 0;
    offsetHigh_ = 0;
    fileOffset_ = 0;
    ReadEndRule();
    const std::int64_t left = driveBytes_ - view.sector * bytesPerSector_;
    walk_.Begin(view.bytes + view.at, static_cast<std::size_t>(view.length), std::min(left, MaxFileBytes));
    claimedStarts_.clear();
    DropProbes();
    fileStartByte_ = view.sector * bytesPerSector_;
    tail_.clear();
    carving_ = true;
}

// A signature without an end rule (no end pattern, not of fixed length) is
// not kept: the file runs until the next start.
void Carver::ReadEndRule() {
    endSequenceCount_ = 0;
    VARIANT_BOOL fixed = VARIANT_FALSE;
    fixedSize_ = 0;
    if (signature_) {
        ThrowIfFailed(signature_->get_EndSequenceCount(&endSequenceCount_), "EndSequenceCount");
        ThrowIfFailed(signature_->get_FixedLength(&fixed), "FixedLength");
        if (fixed != VARIANT_FALSE) ThrowIfFailed(signature_->get_FileSize(&fixedSize_), "FileSize");
    }
    fixedLength_ = fixed != VARIANT_FALSE && fixedSize_ >= 0;
    if (endSequenceCount_ == 0 && fixed == VARIANT_FALSE) DropSignature();
    ReadEndPatternStarts();
}

// The first byte and the length of each end pattern, from its text ("FFD9",
// "xx" for a byte that matches any): what a pattern that runs on into the
// next sector can begin with.
void Carver::ReadEndPatternStarts() {
    endStarts_.reset();
    longestEnd_ = 0;
    if (!signature_ || fixedLength_) return;
    for (SHORT item = 1; item <= endSequenceCount_; ++item) {
        BSTR text = nullptr;
        const HRESULT hr = signature_->EndToString(item, &text);
        const std::string pattern = platform::Utf8FromBstr(text);
        SysFreeString(text);
        ThrowIfFailed(hr, "EndToString");
        if (pattern.size() < 2) continue;
        longestEnd_ = std::max(longestEnd_, pattern.size() / 2);
        unsigned first = 0;
        const auto [end, error] = std::from_chars(pattern.data(), pattern.data() + 2, first, 16);
        if (error != std::errc() || end != pattern.data() + 2) {
            endStarts_.set(); // "xx": any byte
        } else {
            endStarts_.set(first & 0xFF);
        }
    }
}

// The end tests for this sector, on a start sector with the new file's
// rule and offset 0: where the file ends, if it ends here. A structure that
// checks out says where; while it is still being read, or when there is
// none, the end patterns and the fixed size do.
std::optional<FileEnd> Carver::TestForEnd(const SectorView& view) {
    // A file that has reached 4 GiB ends with the sector before this one.
    if (fileOffset_ >= MaxFileBytes) return FileEnd{0, 0, CarvedEndRule::SizeLimit};
    const FileWalk::State state = walk_.GetState();
    if (state == FileWalk::State::Ended) return StructureEnd(view);
    if (!signature_ || (state == FileWalk::State::Walking && !fixedLength_)) return std::nullopt;
    return PatternEnd(view);
}

// A file whose structure was read whole ends where the structure says: in
// this sector, or before it when the walk saw only now that the bytes were
// no longer part of it. One whose end lies further on goes on.
std::optional<FileEnd> Carver::StructureEnd(const SectorView& view) const {
    const std::int64_t left = walk_.End() - fileOffset_;
    if (left > view.length) return std::nullopt;
    if (left < -MaxTrimBytes) return FileEnd{0, 0, CarvedEndRule::NextStart};
    if (left <= 0) return FileEnd{0, -left, CarvedEndRule::Structure};
    return FileEnd{static_cast<std::int32_t>(left), 0, CarvedEndRule::Structure};
}

// End patterns count only past the file's header: one inside it ends a
// picture embedded there. The fixed size ends a file too.
std::optional<FileEnd> Carver::PatternEnd(const SectorView& view) {
    std::int64_t headerLeft = 0;
    if (endSequenceCount_ != 0) {
        const std::int64_t from = walk_.EndPatternsFrom();
        headerLeft = from < 0 ? view.length : std::max<std::int64_t>(0, from - fileOffset_);
    }
    VARIANT_BOOL ended = VARIANT_FALSE;
    constexpr LONG None = -1;
    LONG endPoint = None;
    if (headerLeft < view.length) {
        const auto startAt = static_cast<LONG>(view.at + headerLeft);
        const auto offset = static_cast<LONG>(offsetLow_ + headerLeft);
        ThrowIfFailed(signature_->MatchesEnd(*view.buffer, startAt, offset, &endPoint, &ended), "MatchesEnd");
        // Past the header the test looks a sector's length ahead, into the
        // next sector: an end there is found with that sector.
        if (headerLeft > 0 && ended != VARIANT_FALSE && endPoint != None && endPoint >= view.at + view.length) {
            ended = VARIANT_FALSE;
            endPoint = None;
        }
    } else if (fixedLength_) {
        // Only the fixed length can end the file in this sector.
        ThrowIfFailed(signature_->MatchesEnd(*view.buffer, view.at, offsetLow_, &endPoint, &ended), "MatchesEnd");
        endPoint = None;
    }
    std::optional<std::int64_t> patternEnd;
    if (ended != VARIANT_FALSE && endPoint != None) patternEnd = endPoint;
    if (fixedLength_) {
        const std::optional<std::int32_t> end = FixedLengthEnd(view, patternEnd);
        if (!end) return std::nullopt;
        return FileEnd{*end, 0, CarvedEndRule::FixedSize};
    }
    if (headerLeft == 0) {
        if (auto end = PatternAcrossSectors(view)) return FileEnd{*end, 0, CarvedEndRule::EndPattern};
    }
    if (!patternEnd) return std::nullopt;
    return FileEnd{Clamped(*patternEnd - view.at + 1, view.length), 0, CarvedEndRule::EndPattern};
}

// The library looks for end patterns within one sector's window: a pattern
// that begins in the sector before and ends in this one is looked for here,
// in the file's last bytes before this sector followed by this sector.
std::optional<std::int32_t> Carver::PatternAcrossSectors(const SectorView& view) {
    const std::int64_t from = walk_.EndPatternsFrom();
    const std::int64_t back = std::min<std::int64_t>(static_cast<std::int64_t>(tail_.size()), fileOffset_ - from);
    if (endSequenceCount_ == 0 || from < 0 || back <= 0) return std::nullopt;
    const auto first = tail_.end() - back;
    if (std::none_of(first, tail_.end(), [this](std::uint8_t b) { return endStarts_.test(b); })) return std::nullopt;
    seam_.assign(first, tail_.end());
    seam_.insert(seam_.end(), view.bytes + view.at, view.bytes + view.at + view.length);
    platform::BorrowedByteArray array(seam_.data(), static_cast<ULONG>(seam_.size()));
    const VARIANT seam = array.ByRefVariant();
    VARIANT_BOOL ended = VARIANT_FALSE;
    LONG endPoint = -1;
    ThrowIfFailed(signature_->MatchesEnd(seam, 0, static_cast<LONG>(offsetLow_ - back), &endPoint, &ended),
                  "MatchesEnd");
    // One that ends before this sector was tested with the sector before.
    if (ended == VARIANT_FALSE || endPoint < back || endPoint - back >= view.length) return std::nullopt;
    return static_cast<std::int32_t>(endPoint - back + 1);
}

// The file's last bytes (one fewer than the longest end pattern), for a
// pattern that runs on into the next sector.
void Carver::KeepTail(const SectorView& view) {
    if (!signature_ || longestEnd_ < 2) return;
    const std::size_t tailBytes = longestEnd_ - 1;
    const auto length = static_cast<std::size_t>(view.length);
    const std::size_t keep = std::min(length, tailBytes);
    if (keep == tailBytes) tail_.clear();
    tail_.insert(tail_.end(), view.bytes + view.at + (length - keep), view.bytes + view.at + length);
    if (tail_.size() > tailBytes) tail_.erase(tail_.begin(), tail_.end() - static_cast<std::ptrdiff_t>(tailBytes));
}

// A fixed-length file is its size long from its first byte. The library's
// test answers for the whole rest of the buffer at once, so the end within
// the file is worked out here: an accepted end pattern before the size is
// reached ends the file there, else the sector that holds its last byte does.
std::optional<std::int32_t> Carver::FixedLengthEnd(const SectorView& view,
                                                   std::optional<std::int64_t> patternEnd) const {
    const std::int64_t remaining = static_cast<std::int64_t>(fixedSize_) - fileOffset_;
    if (patternEnd && endSequenceCount_ != 0 && EndPatternAccepted(view, *patternEnd) &&
        *patternEnd - view.at + 1 <= remaining) {
        return Clamped(*patternEnd - view.at + 1, view.length);
    }
    if (remaining <= bytesPerSector_) return Clamped(remaining, view.length);
    return std::nullopt;
}

// Whether the end pattern that ends at endPoint was accepted: the rest of
// its sector, counted from the file's first byte, is zero padding.
bool Carver::EndPatternAccepted(const SectorView& view, std::int64_t endPoint) const {
    const std::int64_t fileLength = endPoint + 1 + fileOffset_ - view.at;
    if (fileLength % bytesPerSector_ == 0) return true;
    const std::int64_t sectorEnd = (fileLength / bytesPerSector_ + 1) * bytesPerSector_ - fileOffset_ + view.at - 1;
    const std::int64_t last = std::min<std::int64_t>(sectorEnd, static_cast<std::int64_t>(view.size) - 1);
    for (std::int64_t i = endPoint + 1; i <= last; ++i) {
        if (view.bytes[static_cast<std::size_t>(i)] != 0) return false;
    }
    return true;
}

// A start remembered inside the file's claimed range is settled once the
// structure has been read past it: it belongs to the file when the structure
// holds and still accounts for it. One the structure turned out not to
// account for (broken, or shorter than it claimed), and one still unsettled
// when the file ends, is a file of its own: the first such start.
std::optional<std::int64_t> Carver::HiddenStart(bool fileEnds) {
    if (claimedStarts_.empty()) return std::nullopt;
    const FileWalk::State state = walk_.GetState();
    std::optional<std::int64_t> hidden;
    auto unsettled = claimedStarts_.begin();
    for (auto it = claimedStarts_.begin(); it != claimedStarts_.end(); ++it) {
        const bool settled = state != FileWalk::State::Walking || walk_.EndPatternsFrom() > it->offset;
        if (!settled && !fileEnds) {
            *unsettled++ = *it;
            continue;
        }
        const bool belongs = settled && state != FileWalk::State::Unstructured && walk_.Holds(it->offset);
        if (!belongs && !hidden) hidden = it->sector;
    }
    claimedStarts_.erase(unsettled, claimedStarts_.end());
    if (hidden) claimedStarts_.clear();
    return hidden;
}

// A start the file covers by a length only: its own structure is walked
// from here (fed with this sector by FeedProbes). Once one checked out, the
// starts after it need no walk: the scan reads them again anyway.
void Carver::StartProbe(const SectorView& view) {
    if (probes_.size() >= MaxProbes || checkedOut_) return;
    Probe probe{view.sector, {}};
    const std::int64_t left = driveBytes_ - view.sector * bytesPerSector_;
    probe.walk.Begin(view.bytes + view.at, static_cast<std::size_t>(view.length), std::min(left, MaxFileBytes));
    if (probe.walk.GetState() == FileWalk::State::Walking) probes_.push_back(std::move(probe));
}

void Carver::FeedProbes(const SectorView& view) {
    for (Probe& probe : probes_) {
        probe.walk.Feed(view.bytes + view.at, static_cast<std::size_t>(view.length));
        if (probe.walk.GetState() == FileWalk::State::Ended && (!checkedOut_ || probe.sector < checkedOut_->sector))
            checkedOut_ = CheckedOut{probe.sector, probe.sector * bytesPerSector_ + probe.walk.End()};
    }
    std::erase_if(probes_, [this](const Probe& probe) {
        return probe.walk.GetState() != FileWalk::State::Walking || (checkedOut_ && probe.sector > checkedOut_->sector);
    });
}

// Where to read again once the file has ended (in this sector, as end
// says): the first start whose own structure checked out, or was still
// being read (a photo is never hidden for want of its last bytes). One that
// ends where the file ends is a part of it that can be read on its own (a
// pack of a film, a frame of a sound), not a file of its own.
std::optional<std::int64_t> Carver::ProbedStart(const FileEnd& end) const {
    const std::int64_t fileEnd = walk_.GetState() == FileWalk::State::Ended
                                     ? fileStartByte_ + walk_.End()
                                     : fileStartByte_ + fileOffset_ + end.bytes - end.trim;
    std::optional<std::int64_t> first;
    if (checkedOut_ && checkedOut_->endByte < fileEnd) first = checkedOut_->sector;
    for (const Probe& probe : probes_) {
        if (!first || probe.sector < *first) first = probe.sector;
    }
    return first;
}

void Carver::DropProbes() {
    probes_.clear();
    checkedOut_.reset();
}

void Carver::AdvanceFileOffset() {
    if (!extraLong_) {
        platform::EnsureClassRegistered(CLSID_ExtraLong, support::ProgramFolder() + "/libTyphex.so");
        ThrowIfFailed(CoCreateInstance(CLSID_ExtraLong, nullptr, CLSCTX_INPROC_SERVER, IID_IExtraLong,
                                       extraLong_.PutVoid()),
                      "ExtraLong");
    }
    LONG low = 0;
    LONG high = 0;
    ThrowIfFailed(extraLong_->AddLongToInt64(bytesPerSector_, &offsetLow_, &offsetHigh_, &low, &high),
                  "AddLongToInt64");
    offsetLow_ = low;
    offsetHigh_ = high;
    fileOffset_ = (static_cast<std::int64_t>(offsetHigh_) << 32) | static_cast<std::uint32_t>(offsetLow_);
}

void Carver::DropSignature() {
    if (signature_) std::exchange(signature_, nullptr)->Release();
}

} // namespace wizard
