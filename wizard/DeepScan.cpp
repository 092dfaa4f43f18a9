#include "wizard/DeepScan.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "Typhex.h"
#include "engine/FileHelpers.h"
#include "engine/FileTypeTable.h"
#include "engine/RawDevice.h"
#include "platform/com.h"
#include "platform/oleauto.h"
#include "platform/ui.h"
#include "support/ProgramFolder.h"
#include "support/RuntimeError.h"
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

private:
    BSTR text_ = nullptr;
};

// One scan: the working state of the Part's carving, step by step.
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
    bool ReadBlock(std::int32_t& count);
    void ScanSector();
    void TestForEnd(bool match, bool& endFound);
    bool FixedLengthEnd(bool reported, bool& endFound);
    bool EndPatternAccepted() const;
    void EndPreviousFile();
    void BeginFile();
    bool ChooseName();
    void OpenFile();
    void EndCurrentFile();
    void EndOfBlock();
    void Finish();
    void ShowRunTimeError(const support::RuntimeError& error);

    bool WritePending(int failureText);
    void ShowProgress();
    void AdvanceFileOffset();
    void DropSignature();
    void CloseFile();

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
    LONG endPoint_ = 0;
    std::string carvedName_;
    std::string currentPath_;

    // Counters.
    DeepScanEnd end_ = DeepScanEnd::Completed;
    std::int64_t totalBytesWritten_ = 0;
    std::int32_t found_ = 0;
    std::int64_t totalFound_ = 0;
    std::int64_t readErrors_ = 0;
};

DeepScanOutcome ScanRun::Run() {
    try {
        Start();
        MainLoop();
        if (end_ == DeepScanEnd::Completed && abort_) end_ = DeepScanEnd::WriteFailure;
        if (end_ == DeepScanEnd::Completed && host_.StopRequested() && scanSector_ < endSector_) {
            end_ = DeepScanEnd::Stopped;
        }
        Finish();
    } catch (const support::RuntimeError& error) {
        end_ = DeepScanEnd::RunTimeError;
        ShowRunTimeError(error);
    }
    DeepScanOutcome outcome;
    outcome.end = end_;
    outcome.found = found_;
    outcome.bytesWritten = totalBytesWritten_;
    outcome.readErrors = readErrors_;
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
    while (scanSector_ < endSector_ && !Stopping()) {
        ShowProgress();
        std::int32_t count = sectorsAtOnce_;
        if (static_cast<std::int64_t>(scanSector_) + count > endSector_) count = endSector_ - scanSector_;
        if (!ReadBlock(count)) {
            if (scanSector_ == firstDataSector_) {
                platform::MsgBox(host_.WizardText(TextFirstSectorUnreadable), platform::vbExclamation,
                                 host_.WizardText(TextTitle));
                end_ = DeepScanEnd::FirstSectorUnreadable;
            } else {
                end_ = DeepScanEnd::ReadFailure;
            }
            return; // no sector after an unreadable one is scanned
        }
        bytePosition_ = 0;
        pendingStart_ = 0;
        eventCounter_ = 0;
        for (std::int32_t i = 0; i < count && !Stopping(); ++i) ScanSector();
        EndOfBlock();
    }
}

bool ScanRun::ReadBlock(std::int32_t& count) {
    std::memset(buffer_.data(), 1, static_cast<std::size_t>(bytesPerSector_) * count);
    std::int32_t attempts = 0;
    bool ok = false;
    do {
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
    VARIANT_BOOL matched = VARIANT_FALSE;
    ThrowIfFailed(types_->FindMatchingStart(BufferVariant(), bytePosition_, &signature_, extension_.Slot(), &matched),
                  "FindMatchingStart");
    const bool match = matched != VARIANT_FALSE;
    bool endFound = false;
    if (match || carving_) TestForEnd(match, endFound);

    if (match) {
        if (carving_) EndPreviousFile();
        BeginFile();
    }
    if (carving_) {
        if (endFound) {
            pendingBytes_ += std::clamp<std::int64_t>(static_cast<std::int64_t>(endPoint_) - bytePosition_ + 1, 0,
                                                      bytesPerSector_);
            EndCurrentFile();
        } else {
            pendingBytes_ += bytesPerSector_;
        }
    }
    ++scanSector_;
    bytePosition_ += bytesPerSector_;
    if (match || carving_) AdvanceFileOffset();
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
    }
    if (offsetHigh_ == 1) {
        // The file has reached 4 GiB: it ends with the sector before this one.
        endFound = true;
        endPoint_ = bytePosition_ - 1;
        DropSignature();
    } else if (hasEndRule_ && signature_) {
        VARIANT_BOOL ended = VARIANT_FALSE;
        const LONG before = endPoint_ = -1;
        ThrowIfFailed(signature_->MatchesEnd(BufferVariant(), bytePosition_, offsetLow_, &endPoint_, &ended),
                      "MatchesEnd");
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
    CloseFile();
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
    carving_ = true;
}

// Picks the next free number; returns false when the user declines to
// replace an existing file (only possible above the search limit).
bool ScanRun::ChooseName() {
    std::int64_t& next = Wizard().NextFileNumber;
    next = next > found_ ? next + 1 : found_;
    bool exists = false;
    do {
        carvedName_ = CarvedFileName(next, extension_.Utf8());
        currentPath_ = stem_ + carvedName_;
        exists = engine::FileExists(currentPath_) != support::False;
        if (exists) ++next;
    } while (exists && found_ <= DeepScanNameSearchLimit);
    if (!exists) return true;
    const int answer = platform::MsgBox(host_.WizardText(TextReplaceBefore) + " " + currentPath_ + " " +
                                            host_.WizardText(TextReplaceAfter),
                                        platform::vbYesNo | platform::vbDefaultButton2, host_.WizardText(TextTitle));
    return answer == platform::IDYES;
}

// A file that cannot be created is a run-time error: without it nothing more
// can be carved.
void ScanRun::OpenFile() {
    if (engine::OpenOutputFile(currentPath_) != support::False) return;
    std::error_code ignored;
    if (!std::filesystem::is_directory(std::filesystem::path(currentPath_).parent_path(), ignored)) {
        throw support::RuntimeError(support::ErrPathNotFound, "Fotrida 4", "Path not found: " + currentPath_);
    }
    throw support::RuntimeError(support::ErrPermissionDenied, "Fotrida 4", "Permission denied: " + currentPath_);
}

void ScanRun::EndCurrentFile() {
    if (pendingBytes_ > 0) {
        WritePending(TextWriteFailedAtEnd);
        pendingBytes_ = 0;
        ShowProgress();
        platform::DoEvents();
    }
    CloseFile();
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
        engine::CloseOutputFile();
        carving_ = false;
        host_.FileCarved(currentPath_, bytesWritten_);
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
    if (carving_) {
        engine::CloseOutputFile();
        carving_ = false;
        host_.FileCarved(currentPath_, bytesWritten_);
    }
    engine::CloseDrive(drive_);
}

bool ScanRun::WritePending(int failureText) {
    const auto count = static_cast<std::int32_t>(pendingBytes_);
    const std::int32_t written = engine::WriteOutputChunk(buffer_, pendingStart_, count);
    if (written != count) {
        abort_ = true;
        platform::MsgBox(host_.WizardText(failureText) + " " + currentPath_, platform::vbOKOnly,
                         host_.WizardText(TextTitle));
        return false;
    }
    bytesWritten_ += count;
    totalBytesWritten_ += count;
    return true;
}

void ScanRun::CloseFile() {
    if (engine::CloseOutputFile() == support::False) abort_ = true;
    carving_ = false;
    host_.FileCarved(currentPath_, bytesWritten_);
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
