#include "wizard/DeepScan.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <unordered_set>

#include "Typhex.h"
#include "engine/FileHelpers.h"
#include "engine/FileTypeTable.h"
#include "engine/NewOutputFile.h"
#include "engine/RawDevice.h"
#include "platform/com.h"
#include "platform/fileapi.h"
#include "platform/oleauto.h"
#include "platform/ui.h"
#include "support/ProgramFolder.h"
#include "support/RuntimeError.h"
#include "wizard/FileHeader.h"
#include "wizard/TiffLayout.h"
#include "wizard/WizardState.h"

namespace wizard {

namespace {

// Numbers of the texts of [RecoveryWizard] the scan uses.
constexpr int TextRunTimeError = 15;
constexpr int TextFileNotFound = 23;
constexpr int TextDeviceUnavailableBefore = 24;
constexpr int TextDeviceUnavailableAfter = 25;
constexpr int TextPathNotFound = 26;
constexpr int TextTitle = 27;
constexpr int TextScanning = 33;
constexpr int TextFirstSectorUnreadable = 43;
constexpr int TextWriteFailedAtStart = 44;
constexpr int TextReplaceBefore = 45;
constexpr int TextReplaceAfter = 46;
constexpr int TextWriteFailedAtEnd = 47;

constexpr long ErrDeviceUnavailable = 68;
constexpr int EventInterval = 16;

// A failing HRESULT from the library reaches the scan as a run-time error of
// the call, with the HRESULT as its number.
[[noreturn]] [[gnu::noinline]] void ThrowCallFailed(HRESULT hr, const char* member) {
    throw support::RuntimeError(hr, "Typhex", std::string("Automation error in ") + member);
}

inline void ThrowIfFailed(HRESULT hr, const char* member) {
    if (FAILED(hr)) [[unlikely]] ThrowCallFailed(hr, member);
}

class Bstr {
public:
    Bstr() = default;
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(text_); }
    BSTR* Slot() { return &text_; }
    std::string Utf8() const { return platform::Utf8FromBstr(text_); }
    void Swap(Bstr& other) { std::swap(text_, other.text_); }

private:
    BSTR text_ = nullptr;
};

// One scan: the working state of the carving, step by step.
class ScanRun {
public:
    ScanRun(DeepScanHost& host, ISupportedFileTypes* types, std::vector<BYTE>& buffer)
        : host_(host), types_(types), buffer_(buffer), array_(buffer.data(), static_cast<ULONG>(buffer.size())),
          bufferVariant_(array_.ByRefVariant()) {}
    ScanRun(const ScanRun&) = delete;
    ScanRun& operator=(const ScanRun&) = delete;
    ~ScanRun() { DropSignature(); }

    DeepScanOutcome Run();

private:
    void Start();
    void MainLoop();
    bool ReadBlock(std::int32_t& count, bool& firstSectorTriedAlone);
    void ScanBlock(std::int32_t count);
    void ScanFailedBlock(std::int32_t blockCount, bool firstSectorRead, bool firstSectorTriedAlone);
    void SectorUnreadable();
    void SkipAhead();
    bool ComeBackToSkippedSectors();
    void ScanPartialLastSector();
    void ScanSector();
    bool FindStart();
    bool InsideTiff() const;
    bool TiffEndsHere(bool& endFound);
    void TestForEnd(bool match, bool& endFound);
    bool FixedLengthEnd(bool reported, bool& endFound);
    bool EndPatternAccepted() const;
    void EndPreviousFile();
    void BeginFile();
    bool ChooseName();
    bool NameInUse(std::int64_t number);
    std::string NextFreeName();
    void OpenFile();
    void EndCurrentFile();
    void EndOfBlock();
    void Finish();
    void ShowRunTimeError(const support::RuntimeError& error);

    bool WritePending(int failureText);
    void ShowProgress();
    void AdvanceFileOffset();
    void DropSignature();
    void CloseFile(CarvedFileEnd how);
    std::int64_t FileOffset() const {
        return (static_cast<std::int64_t>(offsetHigh_) << 32) | static_cast<std::uint32_t>(offsetLow_);
    }

    // The whole buffer, by reference: the library reads it in place.
    const VARIANT& BufferVariant() const { return bufferVariant_; }
    bool Stopping() { return abort_ || host_.StopRequested(); }

    DeepScanHost& host_;
    ISupportedFileTypes* types_;
    std::vector<BYTE>& buffer_;
    platform::BorrowedByteArray array_;
    VARIANT bufferVariant_;
    platform::ComPtr<IExtraLong> extraLong_;

    // Inputs.
    engine::DriveNumber drive_ = 0;
    std::int32_t bytesPerSector_ = 0;
    std::int32_t endSector_ = 0;
    std::int32_t firstDataSector_ = 0;
    std::int32_t sectorsAtOnce_ = 1;
    std::int32_t barMaximum_ = 100;
    std::string stem_;

    // Position.
    std::int32_t scanSector_ = 0;
    std::int32_t bytePosition_ = 0;
    std::int32_t eventCounter_ = 0;
    // Bytes of the sector being examined that the drive holds: the sector
    // size, except for a drive's last, partial sector.
    std::int32_t sectorBytes_ = 0;
    bool anySectorRead_ = false;
    std::int64_t badRun_ = 0;   // unreadable sectors in a row
    std::int64_t skipStep_ = 0; // the next skip ahead, in sectors
    std::int64_t skippedFrom_ = -1; // first sector of the last skip, until a read after it

    // The file being carved.
    bool carving_ = false;
    bool abort_ = false;
    IFileSignature* signature_ = nullptr;
    bool hasEndRule_ = false;
    bool fixedLength_ = false;
    LONG fixedSize_ = 0;
    BYTE endSequenceCount_ = 0;
    Bstr extension_;
    LONG offsetLow_ = 0;
    LONG offsetHigh_ = 0;
    std::int32_t pendingStart_ = 0;
    std::int64_t pendingBytes_ = 0;
    std::int64_t bytesWritten_ = 0;
    bool writeFailed_ = false; // a write of this file failed (and was reported)
    std::int64_t carveStart_ = 0; // the drive byte of its first sector
    std::string carveType_;       // the extension that matched there
    FileHeader header_;
    TiffLayout tiff_;
    LONG endPoint_ = 0;
    std::string carvedName_;
    std::string currentPath_;
    engine::NewOutputFile output_;

    // Counters.
    DeepScanEnd end_ = DeepScanEnd::Completed;
    std::int64_t totalBytesWritten_ = 0;
    std::int32_t found_ = 0;
    std::int64_t totalFound_ = 0;
    std::int64_t readErrors_ = 0;
    std::int64_t unreadableSectors_ = 0;
    std::int64_t skippedSectors_ = 0;
    std::int32_t incompleteFiles_ = 0;
    std::int32_t filesNotWritten_ = 0;
    // File names in the folder: the free-name search tests them without
    // asking the file system, however many there are.
    std::unordered_set<std::string> namesInUse_;
};

DeepScanOutcome ScanRun::Run() {
    try {
        Start();
        MainLoop();
        Finish(); // may still find that the last file was not written whole
        if (end_ == DeepScanEnd::Completed && abort_) end_ = DeepScanEnd::WriteFailure;
        if (end_ == DeepScanEnd::Completed && host_.StopRequested() && scanSector_ < endSector_) {
            end_ = DeepScanEnd::Stopped;
        }
        if (end_ == DeepScanEnd::Completed && unreadableSectors_ > 0) {
            end_ = anySectorRead_ ? DeepScanEnd::ReadFailure : DeepScanEnd::FirstSectorUnreadable;
        }
    } catch (const support::RuntimeError& error) {
        end_ = DeepScanEnd::RunTimeError;
        ShowRunTimeError(error);
    }
    DeepScanOutcome outcome;
    outcome.end = end_;
    outcome.found = found_;
    outcome.bytesWritten = totalBytesWritten_;
    outcome.readErrors = readErrors_;
    outcome.unreadableSectors = unreadableSectors_;
    outcome.skippedSectors = skippedSectors_;
    outcome.incompleteFiles = incompleteFiles_;
    outcome.filesNotWritten = filesNotWritten_;
    return outcome;
}

void ScanRun::Start() {
    // Absolute, since the folder becomes the current directory.
    std::error_code ignored;
    std::string folder = DeepScanFolder(host_.DestinationRoot());
    const auto absolute = std::filesystem::absolute(folder, ignored);
    if (!ignored) folder = absolute.string();
    // The folder may not exist yet (a first run, or earlier results that were
    // removed); without it not one file could be carved.
    std::filesystem::create_directories(folder, ignored);
    std::filesystem::current_path(folder, ignored);
    stem_ = folder + host_.FilenamePrefix();
    for (std::filesystem::directory_iterator it(folder, ignored), end; !ignored && it != end; it.increment(ignored)) {
        namesInUse_.insert(it->path().filename().string());
    }

    host_.EnterScanningLook();
    host_.ShowReadErrors(0);
    totalFound_ = std::max<std::int64_t>(0, host_.FilesFoundShown());
    host_.SetStopRequested(false);
    host_.ShowStatus(host_.WizardText(TextScanning));
    host_.ShowCurrentFile("");
    platform::DoEvents();

    drive_ = host_.Drive();
    const engine::DriveGeometry geometry = host_.Geometry();
    bytesPerSector_ = geometry.BytesPerSector;
    sectorBytes_ = bytesPerSector_;
    endSector_ = geometry.TotalSectors;
    firstDataSector_ = host_.FirstDataSector();
    // A boot sector that puts its data area outside the drive is damaged:
    // scan the whole drive rather than nothing.
    if (firstDataSector_ < 0 || firstDataSector_ >= endSector_) firstDataSector_ = 0;
    scanSector_ = firstDataSector_;
    barMaximum_ = host_.BarMaximum();
    sectorsAtOnce_ = std::clamp(host_.SectorsAtOnce(), 1, std::max(1, MaxSectorsAtOnce(bytesPerSector_)));
    if (!types_) {
        engine::LoadFileTypeData(); // raises the run-time error when the database cannot be read
        types_ = engine::FileTypes();
    }
    if (types_) ThrowIfFailed(types_->put_SectorSize(bytesPerSector_), "SectorSize");
}

void ScanRun::MainLoop() {
    if (!types_ || MaxSectorsAtOnce(bytesPerSector_) == 0) {
        // Nothing can be read with this geometry (or there is no database).
        platform::MsgBox(host_.WizardText(TextFirstSectorUnreadable), platform::vbExclamation,
                         host_.WizardText(TextTitle));
        end_ = DeepScanEnd::FirstSectorUnreadable;
        return;
    }
    // A drive that cannot be opened: one message that names it and the
    // reason, instead of one at every read attempt.
    std::string openError;
    if (!engine::OpenDriveForReading(drive_, openError)) {
        platform::MsgBox(openError, platform::vbExclamation, host_.WizardText(TextTitle));
        end_ = DeepScanEnd::FirstSectorUnreadable;
        return;
    }
    skipStep_ = DeepScanSkipAfterBadSectors;
    while (scanSector_ < endSector_ && !Stopping()) {
        ShowProgress();
        std::int32_t count = sectorsAtOnce_;
        if (static_cast<std::int64_t>(scanSector_) + count > endSector_) count = endSector_ - scanSector_;
        const std::int32_t blockCount = count;
        bool triedAlone = false;
        const bool read = ReadBlock(count, triedAlone);
        if (read && ComeBackToSkippedSectors()) continue;
        if (read && count == blockCount) {
            ScanBlock(count);
        } else {
            ScanFailedBlock(blockCount, read, triedAlone);
        }
    }
    if (!Stopping() && scanSector_ == endSector_) ScanPartialLastSector();
}

// Examines the count sectors read into the buffer from scanSector_.
void ScanRun::ScanBlock(std::int32_t count) {
    anySectorRead_ = true;
    badRun_ = 0;
    skipStep_ = DeepScanSkipAfterBadSectors;
    bytePosition_ = 0;
    pendingStart_ = 0;
    eventCounter_ = 0;
    for (std::int32_t i = 0; i < count && !Stopping(); ++i) ScanSector();
    EndOfBlock();
}

// A block that could not be read whole is taken sector by sector, so that
// only the sectors that are really unreadable are lost. Its first sector may
// have been tried alone already (firstSectorRead: it is in the buffer).
void ScanRun::ScanFailedBlock(std::int32_t blockCount, bool firstSectorRead, bool firstSectorTriedAlone) {
    const std::int64_t blockEnd = static_cast<std::int64_t>(scanSector_) + blockCount;
    if (firstSectorRead) {
        ScanBlock(1);
    } else if (firstSectorTriedAlone) {
        SectorUnreadable();
    }
    std::int32_t sinceEvents = 0;
    while (scanSector_ < blockEnd && !Stopping()) {
        if (++sinceEvents == EventInterval) {
            platform::DoEvents();
            sinceEvents = 0;
        }
        if (badRun_ >= DeepScanSkipAfterBadSectors) {
            SkipAhead();
            if (scanSector_ >= blockEnd) return;
        }
        std::memset(buffer_.data(), 1, static_cast<std::size_t>(bytesPerSector_));
        if (engine::ReadSectors(drive_, scanSector_, 1, buffer_.data(), buffer_.size()) != support::False) {
            if (!ComeBackToSkippedSectors()) ScanBlock(1);
            continue;
        }
        ++readErrors_;
        host_.ShowReadErrors(readErrors_);
        platform::DoEvents();
        SectorUnreadable();
    }
}

// The sector at scanSector_ cannot be read: the file being carved ends with
// the last sector that was read, and is incomplete.
void ScanRun::SectorUnreadable() {
    if (scanSector_ == firstDataSector_) {
        platform::MsgBox(host_.WizardText(TextFirstSectorUnreadable), platform::vbExclamation,
                         host_.WizardText(TextTitle));
    }
    if (carving_) {
        EndOfBlock();
        DropSignature();
        CloseFile(CarvedFileEnd::CutAtUnreadableSector);
        host_.ShowCurrentFile(carvedName_);
    }
    ++unreadableSectors_;
    ++badRun_;
    ++scanSector_;
}

// A drive that fails in one place often fails around it, and each failed
// read can take long: after a run of unreadable sectors the scan jumps ahead
// in growing steps (up to a hundredth of the drive) rather than trying each
// one, and counts the sectors it jumped over as unread until a read works
// again (see ComeBackToSkippedSectors). A good read makes the steps small
// again. A jump may go past the block being narrowed; the next block read
// then starts where it lands.
void ScanRun::SkipAhead() {
    skippedFrom_ = scanSector_;
    const std::int64_t step = std::min<std::int64_t>(skipStep_, endSector_ - scanSector_);
    scanSector_ += static_cast<std::int32_t>(step);
    unreadableSectors_ += step;
    skippedSectors_ += step;
    const std::int64_t largest = std::max<std::int64_t>(DeepScanSkipAfterBadSectors, endSector_ / 100);
    skipStep_ = std::min(skipStep_ * 2, largest);
    ShowProgress();
}

// A read after a skip worked: the drive is readable again somewhere in the
// sectors jumped over. Their readable end is found by halving (the sector
// before the jump is known unreadable, the one read is readable), and the
// scan goes back to it. Returns true when scanSector_ moved back (the buffer
// no longer holds it).
bool ScanRun::ComeBackToSkippedSectors() {
    if (skippedFrom_ < 0) return false;
    std::int64_t unreadable = skippedFrom_ - 1;
    std::int64_t readable = scanSector_;
    skippedFrom_ = -1;
    while (readable - unreadable > 1 && !Stopping()) {
        const std::int64_t middle = unreadable + (readable - unreadable) / 2;
        if (engine::ReadSectors(drive_, static_cast<std::int32_t>(middle), 1, buffer_.data(), buffer_.size()) !=
            support::False) {
            readable = middle;
        } else {
            unreadable = middle;
            ++readErrors_;
            host_.ShowReadErrors(readErrors_);
            platform::DoEvents();
        }
    }
    if (readable == scanSector_) return false;
    const std::int64_t regained = scanSector_ - readable;
    unreadableSectors_ -= regained;
    skippedSectors_ -= regained;
    scanSector_ = static_cast<std::int32_t>(readable);
    return true;
}

// A drive (or an image) whose size is no multiple of the sector size ends in
// a partial sector that the geometry does not count; its bytes are examined
// too, as a sector whose missing part is zero.
void ScanRun::ScanPartialLastSector() {
    void*& handle = engine::DriveTableEntry(drive_).Handle;
    if (!handle) handle = engine::OpenDrive(drive_, support::False);
    if (!handle) return;
    const std::int64_t position = static_cast<std::int64_t>(scanSector_) * bytesPerSector_;
    LONG high = static_cast<LONG>(position >> 32);
    if (SetFilePointer(handle, static_cast<LONG>(position & 0xFFFFFFFF), &high, FILE_BEGIN) ==
        INVALID_SET_FILE_POINTER) {
        return;
    }
    std::memset(buffer_.data(), 0, static_cast<std::size_t>(bytesPerSector_));
    DWORD read = 0;
    if (!ReadFile(handle, buffer_.data(), static_cast<DWORD>(bytesPerSector_), &read, nullptr) || read == 0 ||
        read >= static_cast<DWORD>(bytesPerSector_)) {
        return;
    }
    sectorBytes_ = static_cast<std::int32_t>(read);
    ScanBlock(1);
    sectorBytes_ = bytesPerSector_;
}

bool ScanRun::ReadBlock(std::int32_t& count, bool& firstSectorTriedAlone) {
    std::memset(buffer_.data(), 1, static_cast<std::size_t>(bytesPerSector_) * count);
    std::int32_t attempts = 0;
    bool ok = false;
    do {
        firstSectorTriedAlone = count == 1;
        ok = engine::ReadSectors(drive_, scanSector_, static_cast<std::int16_t>(count), buffer_.data(),
                                 buffer_.size()) != support::False;
        if (!ok) {
            count = 1;
            ++attempts;
            ++readErrors_;
            platform::DoEvents();
            host_.ShowReadErrors(readErrors_);
        }
    } while (!ok && attempts < host_.RetryLimit());
    return ok;
}

void ScanRun::ScanSector() {
    if (++eventCounter_ == EventInterval) {
        platform::DoEvents();
        eventCounter_ = 0;
    }
    const bool match = FindStart();
    bool endFound = false;
    if (match || carving_) TestForEnd(match, endFound);

    if (match) {
        if (carving_) EndPreviousFile();
        BeginFile();
    }
    if (carving_) {
        if (endFound) {
            pendingBytes_ += std::clamp<std::int64_t>(static_cast<std::int64_t>(endPoint_) - bytePosition_ + 1, 0,
                                                      sectorBytes_);
            EndCurrentFile();
        } else {
            pendingBytes_ += sectorBytes_;
        }
    }
    ++scanSector_;
    bytePosition_ += bytesPerSector_;
    if (match || carving_) AdvanceFileOffset();
}

// Whether a file starts at the current sector; if so, signature_ and
// extension_ are its.
bool ScanRun::FindStart() {
    // A sector inside the header of the file being carved starts no file: a
    // picture embedded there (a preview) belongs to that file.
    if (carving_ && header_.GetState() == FileHeader::State::Walking) return false;
    VARIANT_BOOL matched = VARIANT_FALSE;
    if (!InsideTiff()) {
        ThrowIfFailed(
            types_->FindMatchingStart(BufferVariant(), bytePosition_, &signature_, extension_.Slot(), &matched),
            "FindMatchingStart");
        return matched != VARIANT_FALSE;
    }
    // Inside a TIFF-based file a start where its directories put a part (an
    // embedded preview, raw data coded as JPEG) belongs to it. One anywhere
    // else is another file written over its space, and ends it as usual.
    IFileSignature* found = nullptr;
    Bstr extension;
    ThrowIfFailed(types_->FindMatchingStart(BufferVariant(), bytePosition_, &found, extension.Slot(), &matched),
                  "FindMatchingStart");
    if (matched == VARIANT_FALSE || tiff_.Holds(FileOffset())) {
        if (found) found->Release();
        return false;
    }
    DropSignature();
    signature_ = found;
    extension_.Swap(extension);
    return true;
}

// Whether the sector lies inside the TIFF-based file being carved, as its
// directories tell.
bool ScanRun::InsideTiff() const {
    return carving_ && tiff_.GetState() == TiffLayout::State::Ended && FileOffset() < tiff_.End();
}

// A TIFF-based file whose directories were all read ends with its furthest
// part, when that lies in this sector.
bool ScanRun::TiffEndsHere(bool& endFound) {
    if (tiff_.GetState() != TiffLayout::State::Ended) return false;
    const std::int64_t left = tiff_.End() - FileOffset();
    if (left <= 0 || left > sectorBytes_) return false;
    endFound = true;
    endPoint_ = static_cast<LONG>(bytePosition_ + left - 1);
    DropSignature();
    return true;
}

// The end tests for the sector at the current position. On a start sector
// they use the new file's signature, with offset 0.
void ScanRun::TestForEnd(bool match, bool& endFound) {
    if (match) {
        offsetLow_ = 0;
        offsetHigh_ = 0;
        endSequenceCount_ = 0;
        VARIANT_BOOL fixed = VARIANT_FALSE;
        fixedSize_ = 0;
        if (signature_) {
            ThrowIfFailed(signature_->get_EndSequenceCount(&endSequenceCount_), "EndSequenceCount");
            ThrowIfFailed(signature_->get_FixedLength(&fixed), "FixedLength");
            if (fixed != VARIANT_FALSE) ThrowIfFailed(signature_->get_FileSize(&fixedSize_), "FileSize");
        }
        fixedLength_ = fixed != VARIANT_FALSE && fixedSize_ >= 0;
        hasEndRule_ = signature_ && (endSequenceCount_ != 0 || fixed != VARIANT_FALSE);
        if (!hasEndRule_) DropSignature();
        header_.Begin();
        tiff_.Begin();
    }
    if (header_.GetState() == FileHeader::State::Walking) {
        header_.Feed(buffer_.data() + bytePosition_, static_cast<std::size_t>(sectorBytes_));
    }
    if (tiff_.GetState() == TiffLayout::State::Walking) {
        tiff_.Feed(buffer_.data() + bytePosition_, static_cast<std::size_t>(sectorBytes_));
    }
    if (offsetHigh_ == 1) {
        // The file has reached 4 GiB: it ends with the sector before this one.
        endFound = true;
        endPoint_ = bytePosition_ - 1;
        DropSignature();
    } else if (TiffEndsHere(endFound)) {
        return;
    } else if (hasEndRule_ && signature_) {
        // End patterns count only past the file's header: one inside it ends
        // a picture embedded there.
        std::int64_t headerLeft = 0;
        if (endSequenceCount_ != 0 && header_.GetState() == FileHeader::State::Walking) headerLeft = sectorBytes_;
        if (endSequenceCount_ != 0 && header_.GetState() == FileHeader::State::Ended) {
            headerLeft = std::max<std::int64_t>(0, header_.End() - FileOffset());
        }
        VARIANT_BOOL ended = VARIANT_FALSE;
        const LONG before = endPoint_ = -1;
        if (headerLeft < sectorBytes_) {
            const auto startAt = static_cast<LONG>(bytePosition_ + headerLeft);
            const auto offset = static_cast<LONG>(offsetLow_ + headerLeft);
            ThrowIfFailed(signature_->MatchesEnd(BufferVariant(), startAt, offset, &endPoint_, &ended), "MatchesEnd");
            // Past the header the test looks a sector's length ahead, into
            // the next sector: an end there is found with that sector.
            if (headerLeft > 0 && ended != VARIANT_FALSE && endPoint_ != before &&
                endPoint_ >= bytePosition_ + sectorBytes_) {
                ended = VARIANT_FALSE;
                endPoint_ = before;
            }
        } else if (fixedLength_) {
            // Only the fixed length can end the file in this sector.
            ThrowIfFailed(signature_->MatchesEnd(BufferVariant(), bytePosition_, offsetLow_, &endPoint_, &ended),
                          "MatchesEnd");
            endPoint_ = before;
        }
        endFound = ended != VARIANT_FALSE;
        if (fixedLength_ && !FixedLengthEnd(endFound && endPoint_ != before, endFound)) return;
        if (endFound) DropSignature();
    }
}

// A fixed-length file is its size long from its first byte. The library's
// test answers for the whole rest of the buffer at once, so the end within
// the file is worked out here: an accepted end pattern before the size is
// reached ends the file there, else the sector that holds its last byte does.
// Returns false when the file goes on.
bool ScanRun::FixedLengthEnd(bool patternMayHaveEnded, bool& endFound) {
    const std::int64_t offset = (static_cast<std::int64_t>(offsetHigh_) << 32) | static_cast<std::uint32_t>(offsetLow_);
    const std::int64_t remaining = static_cast<std::int64_t>(fixedSize_) - offset;
    if (patternMayHaveEnded && endSequenceCount_ != 0 && EndPatternAccepted() &&
        static_cast<std::int64_t>(endPoint_) - bytePosition_ + 1 <= remaining) {
        endFound = true;
        return true;
    }
    if (remaining <= bytesPerSector_) {
        endFound = true;
        endPoint_ = static_cast<LONG>(bytePosition_ + std::max<std::int64_t>(remaining, 0) - 1);
        return true;
    }
    endFound = false;
    return false;
}

// Whether the end pattern that left endPoint_ was accepted: the rest of its
// sector, counted from the file's first byte, is zero padding.
bool ScanRun::EndPatternAccepted() const {
    const std::int64_t offset = (static_cast<std::int64_t>(offsetHigh_) << 32) | static_cast<std::uint32_t>(offsetLow_);
    const std::int64_t fileLength = static_cast<std::int64_t>(endPoint_) + 1 + offset - bytePosition_;
    if (fileLength % bytesPerSector_ == 0) return true;
    const std::int64_t sectorEnd =
        (fileLength / bytesPerSector_ + 1) * bytesPerSector_ - offset + bytePosition_ - 1;
    const std::int64_t last = std::min<std::int64_t>(sectorEnd, static_cast<std::int64_t>(buffer_.size()) - 1);
    for (std::int64_t i = static_cast<std::int64_t>(endPoint_) + 1; i <= last; ++i) {
        if (buffer_[static_cast<std::size_t>(i)] != 0) return false;
    }
    return true;
}

// A new start ends the file being carved with the sector before it.
void ScanRun::EndPreviousFile() {
    if (pendingBytes_ > 0) {
        WritePending(TextWriteFailedAtStart);
        pendingBytes_ = 0;
        ShowProgress();
        platform::DoEvents();
    }
    CloseFile(CarvedFileEnd::Complete);
    host_.ShowCurrentFile(carvedName_);
}

void ScanRun::BeginFile() {
    ++found_;
    ++totalFound_;
    host_.ShowFilesFound(totalFound_);
    host_.ShowImagesFound(found_);
    if (!ChooseName()) return; // the user kept the existing file: counted, not written
    OpenFile();
    pendingStart_ = bytePosition_;
    bytesWritten_ = 0;
    writeFailed_ = false;
    carving_ = true;
    carveStart_ = static_cast<std::int64_t>(scanSector_) * bytesPerSector_;
    carveType_ = extension_.Utf8();
}

// Picks the next free number, however many files there are: an earlier
// result is never replaced while a number is left. Returns false when the
// user declines to replace an existing file (only when the numbers have run
// out).
bool ScanRun::ChooseName() {
    std::int64_t& next = Wizard().NextFileNumber;
    next = next > found_ ? next + 1 : found_;
    bool exists = NameInUse(next);
    while (exists && next < std::numeric_limits<std::int64_t>::max()) exists = NameInUse(++next);
    namesInUse_.insert(currentPath_.substr(currentPath_.rfind('/') + 1));
    if (!exists) return true;
    const int answer = platform::MsgBox(host_.WizardText(TextReplaceBefore) + " " + currentPath_ + " " +
                                            host_.WizardText(TextReplaceAfter),
                                        platform::vbYesNo | platform::vbDefaultButton2, host_.WizardText(TextTitle));
    return answer == platform::IDYES;
}

bool ScanRun::NameInUse(std::int64_t number) {
    carvedName_ = CarvedFileName(number, extension_.Utf8());
    currentPath_ = stem_ + carvedName_;
    const std::string name = currentPath_.substr(currentPath_.rfind('/') + 1);
    return namesInUse_.count(name) != 0 || engine::FileExists(currentPath_) != support::False;
}

// The name a file takes when another run took its name meanwhile.
std::string ScanRun::NextFreeName() {
    std::int64_t& next = Wizard().NextFileNumber;
    while (NameInUse(++next) && next < std::numeric_limits<std::int64_t>::max()) {
    }
    std::string name = currentPath_.substr(currentPath_.rfind('/') + 1);
    namesInUse_.insert(name);
    return name;
}

// A file that cannot be created is a run-time error: without it nothing more
// can be carved. It is written under a temporary name and named when closed.
void ScanRun::OpenFile() {
    std::string why;
    const std::string folder = currentPath_.substr(0, currentPath_.rfind('/') + 1);
    if (output_.Open(folder, &why)) return;
    std::error_code ignored;
    if (!std::filesystem::is_directory(folder, ignored)) {
        throw support::RuntimeError(support::ErrPathNotFound, "Fotrida 4", "Path not found: " + currentPath_);
    }
    throw support::RuntimeError(support::ErrPermissionDenied, "Fotrida 4", "Cannot create " + currentPath_ + ": " + why);
}

void ScanRun::EndCurrentFile() {
    if (pendingBytes_ > 0) {
        WritePending(TextWriteFailedAtEnd);
        pendingBytes_ = 0;
        ShowProgress();
        platform::DoEvents();
    }
    CloseFile(CarvedFileEnd::Complete);
    host_.ShowCurrentFile(carvedName_);
}

// The bytes of a file that goes on into the next block are written now; it
// continues from the start of the buffer there.
void ScanRun::EndOfBlock() {
    if (carving_ && pendingBytes_ >= 1) {
        WritePending(TextWriteFailedAtEnd);
        pendingBytes_ = 0;
        ShowProgress();
        platform::DoEvents();
    }
}

void ScanRun::Finish() {
    if (carving_) {
        // Stopped or ended by a failed write before the drive's end: the file
        // may go on beyond.
        const bool early = scanSector_ < endSector_;
        if (early && host_.StopRequested()) {
            CloseFile(CarvedFileEnd::CutByStop);
        } else {
            CloseFile(early && abort_ ? CarvedFileEnd::CutByError : CarvedFileEnd::Complete);
        }
        host_.ShowCurrentFile(carvedName_);
    }
    engine::CloseDrive(drive_);
}

void ScanRun::ShowRunTimeError(const support::RuntimeError& error) {
    std::string text = host_.WizardText(TextRunTimeError) + " " + std::to_string(error.Number()) + ". ";
    switch (error.Number()) {
    case support::ErrFileNotFound:
        text += host_.WizardText(TextFileNotFound);
        break;
    case ErrDeviceUnavailable:
        text += host_.WizardText(TextDeviceUnavailableBefore) + " " + std::to_string(drive_) +
                host_.WizardText(TextDeviceUnavailableAfter);
        break;
    case support::ErrPathNotFound:
        text += host_.WizardText(TextPathNotFound);
        break;
    default:
        text += error.Description();
        break;
    }
    platform::MsgBox(text, platform::vbOKOnly, "");
    host_.EnableBack();
    // What was carved of the open file is kept: its buffered bytes would be
    // lost if it stayed open.
    if (carving_) CloseFile(CarvedFileEnd::CutByError);
    engine::CloseDrive(drive_);
}

bool ScanRun::WritePending(int failureText) {
    const auto count = static_cast<std::int32_t>(pendingBytes_);
    const std::int64_t before = output_.BytesWritten();
    if (!output_.Write(buffer_.data(), buffer_.size(), pendingStart_, count)) {
        abort_ = true;
        writeFailed_ = true;
        bytesWritten_ += output_.BytesWritten() - before;
        platform::MsgBox(host_.WizardText(failureText) + " " + currentPath_, platform::vbOKOnly,
                         host_.WizardText(TextTitle));
        return false;
    }
    bytesWritten_ += count;
    return true;
}

// Closes the file being carved and reports it. What counts is what reached
// the disk: the writer buffers, so a full destination may only show at the
// close. A file not written whole ends the scan (the destination is full or
// failing: the next file would fare no better).
void ScanRun::CloseFile(CarvedFileEnd how) {
    const bool closed = output_.Close();
    carving_ = false;
    // Named only now that it is closed; a file cut short keeps what it has
    // under its name, and the record says it is incomplete.
    std::string why;
    const std::string folder = currentPath_.substr(0, currentPath_.rfind('/') + 1);
    const std::string name =
        output_.Commit(currentPath_.substr(folder.size()), [this] { return NextFreeName(); }, &why);
    if (name.empty()) {
        abort_ = true;
        ++filesNotWritten_;
        if (!writeFailed_)
            platform::MsgBox(host_.WizardText(TextWriteFailedAtEnd) + " " + currentPath_ + ": " + why,
                             platform::vbOKOnly, host_.WizardText(TextTitle));
        // Nothing is left under a name, so the record has nothing to list.
        host_.FileCarved(currentPath_, 0, CarvedFileEnd::NotWrittenWhole);
        return;
    }
    currentPath_ = folder + name;
    std::error_code error;
    const auto onDisk = std::filesystem::file_size(currentPath_, error);
    const std::int64_t written = error ? 0 : std::min<std::int64_t>(static_cast<std::int64_t>(onDisk), bytesWritten_);
    if (!closed || writeFailed_ || written < bytesWritten_) {
        abort_ = true;
        ++filesNotWritten_;
        if (!writeFailed_) {
            platform::MsgBox(host_.WizardText(TextWriteFailedAtEnd) + " " + currentPath_, platform::vbOKOnly,
                             host_.WizardText(TextTitle));
        }
        how = CarvedFileEnd::NotWrittenWhole;
    } else if (how != CarvedFileEnd::Complete) {
        ++incompleteFiles_;
    }
    totalBytesWritten_ += written;
    host_.FileCarved(currentPath_, written, how);
    host_.FileCarvedDigest(currentPath_, output_.Digest());
    host_.FileCarvedFrom(currentPath_, carveStart_, carveType_);
}

void ScanRun::ShowProgress() { host_.ShowProgress(DeepScanProgress(scanSector_, endSector_, barMaximum_)); }

void ScanRun::AdvanceFileOffset() {
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
}

void ScanRun::DropSignature() {
    if (signature_) std::exchange(signature_, nullptr)->Release();
}

} // namespace

std::string DeepScanFolder(const std::string& destinationRoot) {
    return destinationRoot + "My Recovered Mobile Device/Deep Scan/";
}

std::string FormatFileNumber(std::int64_t number) {
    std::string digits = std::to_string(number < 0 ? -number : number);
    if (digits.size() < 5) digits.insert(0, 5 - digits.size(), '0');
    return number < 0 ? "-" + digits : digits;
}

std::string CarvedFileName(std::int64_t number, const std::string& extension) {
    std::string ext = extension;
    while (!ext.empty() && ext.back() == ' ') ext.pop_back();
    for (char& c : ext) {
        if (c == '/' || c == '\0' || static_cast<unsigned char>(c) < 0x20) c = '_';
    }
    return FormatFileNumber(number) + "." + ext;
}

std::int32_t DeepScanProgress(std::int32_t scanSector, std::int32_t endSector, std::int32_t barMaximum) {
    if (endSector == 0) return 0;
    const double percentage = std::nearbyint(static_cast<double>(scanSector) / endSector * 100.0);
    return percentage > barMaximum ? barMaximum : static_cast<std::int32_t>(percentage);
}

std::int32_t MaxSectorsAtOnce(std::int32_t bytesPerSector) {
    if (bytesPerSector <= 0 || bytesPerSector > DeepScanMaxBlockBytes) return 0;
    return std::min<std::int32_t>(DeepScanMaxBlockBytes / bytesPerSector, std::numeric_limits<std::int16_t>::max());
}

DeepScan::DeepScan() : buffer_(DeepScanBufferSize, 0) {}

std::int32_t DeepScan::Run(DeepScanHost& host, ISupportedFileTypes* types) {
    ISupportedFileTypes* database = types ? types : engine::FileTypes();
    ScanRun run(host, database, buffer_);
    outcome_ = run.Run();
    return outcome_.found;
}

} // namespace wizard
