#include "engine/FATEngine.h"
#include "engine/EngineText.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "engine/FileHelpers.h"
#include "engine/MessageTexts.h"
#include "platform/fileapi.h"
#include "platform/ui.h"
#include "support/ProgramFolder.h"
#include "support/RuntimeError.h"

namespace engine {

namespace {

constexpr long ErrDeviceUnavailable = 68;

// The engine's [FATMisc] texts; the built-in English stands in while no
// language file was loaded (tests, a damaged installation).
std::string FatMiscText(int lang) {
    const std::string& text = MessageTexts().at(static_cast<std::size_t>(lang));
    if (!text.empty()) return text;
    switch (lang) {
    case 377: return "The list of standard file names (stdfiles.lis) could not be read.";
    case 378: return "The names of deleted files will not be repaired.";
    case 379: return "Tranquo Recovery Engine";
    case 380: return "The list of standard folder names (stddirs.lis) could not be read.";
    case 381: return "The names of deleted folders will not be repaired.";
    case 385: return "The turbo scan was stopped while it was reading the folders of the drive.";
    case 386: return "The turbo scan cannot go on. A deep scan can still search the drive for lost files.";
    case 387: return "The boot sector of the drive is damaged, or its format is not FAT12, FAT16, FAT32 or exFAT.";
    default: return "";
    }
}

// Reads the trimmed, non-empty lines of a program-folder list; false when
// the file cannot be opened.
bool ReadNameList(const std::string& fileName, std::vector<std::string>& lines) {
    const std::string path = support::ProgramFolder() + "/" + fileName;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) return false;
    bool isUnicode = false;
    // Bounded by the file: every call consumes at least one byte.
    while (!EndOfTextFile(file.get())) {
        std::string line = TrimBlanks(ReadTextLine(file.get(), isUnicode));
        if (!line.empty()) lines.push_back(std::move(line));
    }
    return true;
}

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec) && !ec;
}

} // namespace

FATEngine::FATEngine() { LoadStandardNameLists(); }

support::Truth FATEngine::LoadStandardNameLists() {
    if (!ReadNameList("stddirs.lis", standardDirNames_)) {
        platform::MsgBox(FatMiscText(380) + "\r\n" + FatMiscText(381), platform::vbExclamation, FatMiscText(379));
        return support::False;
    }
    if (!ReadNameList("stdfiles.lis", standardFileNames_)) {
        platform::MsgBox(FatMiscText(377) + "\r\n" + FatMiscText(378), platform::vbExclamation, FatMiscText(379));
        return support::False;
    }
    return support::True;
}

void FATEngine::SetSectorsAtOnce(std::int16_t sectors) {
    // At least one sector; the top leaves room for rounding up to a cluster
    // within a 16-bit sector count.
    sectorsAtOnce_ = static_cast<std::int16_t>(std::clamp<int>(sectors, 1, 32767 - 128));
}

void FATEngine::SetDestFolder(const std::string& folder) { destFolder_ = folder; }
void FATEngine::StopScan() { stopRequested_ = support::True; }
void FATEngine::PauseScan() { paused_ = support::True; }
void FATEngine::ResumeScan() { paused_ = support::False; }
void FATEngine::SetDriveForTests(DriveNumber drive) {
    driveNumber_ = drive;
    GetDriveGeometry(driveNumber_, geometry_);
}

void FATEngine::TraceMessage(const std::string& text) { trace_.push_back(text); }

void FATEngine::RaiseInfo(const std::string& message) {
    RaiseOrHold([this, message] {
        if (Events.LogInfoMessage) Events.LogInfoMessage(message);
    });
}

void FATEngine::RaiseError(const std::string& message) {
    RaiseOrHold([this, message] {
        if (Events.LogErrorMessage) Events.LogErrorMessage(message);
    });
}

void FATEngine::RaiseOrHold(std::function<void()> event) {
    if (heldEvents_.empty())
        event();
    else
        heldEvents_.push_back(std::move(event));
}

void FATEngine::RaiseHeldEvents() {
    while (!heldEvents_.empty()) {
        // Taken off first: an event that throws is not raised twice.
        const std::function<void()> event = std::move(heldEvents_.front());
        heldEvents_.pop_front();
        event();
    }
}

std::int64_t FATEngine::ClusterToSector(std::int64_t cluster) const {
    return (cluster - 2) * layout_.Boot.SectorsPerCluster + layout_.FirstDataSector;
}

support::Truth FATEngine::ReadDeviceBootSector(DriveNumber drive) {
    driveNumber_ = drive;
    if (geometry_.BytesPerSector == 0) GetDriveGeometry(driveNumber_, geometry_);
    return ReadBootSector();
}

void FATEngine::PreScan(const std::string& driveLetter, support::Truth keepFolderStructure) {
    const char letter = driveLetter.empty() ? '\0' : static_cast<char>(std::toupper(static_cast<unsigned char>(driveLetter[0])));
    driveNumber_ = DriveNumberFromLetter(letter);
    GetDriveGeometry(driveNumber_, geometry_);

    const std::string root = std::string(1, letter) + ":\\";
    if (GetDriveTypeA(root.c_str()) == DRIVE_CDROM) throw support::RuntimeError(50, "TurboScan", "Not on CDROM");

    RaiseInfo("Started Pre-Scan");
    keepFolderStructure_ = keepFolderStructure ? support::True : support::False;
    ForceDirectories(keepFolderStructure ? destFolder_ : destFolder_ + "/");

    if (stopRequested_) return;
    RaiseInfo("Reading BootSector");
    // A drive that cannot be opened is said once, naming the drive and the
    // reason, instead of at every read of a scan that would find nothing.
    std::string openError;
    const DriveCloser closeDrive(driveNumber_); // also after a stop or an error
    if (!OpenDriveForReading(driveNumber_, openError))
        throw support::RuntimeError(ErrDeviceUnavailable, FatMiscText(379), openError);
    const bool layoutUsable = ReadBootSector() != support::False;
    // A layout guessed for a card whose boot sector cannot be read would
    // walk folders that are not there; the deep scan reads the rest.
    if (layout_.FirstSectorUnreadable)
        throw support::RuntimeError(10, FatMiscText(379),
                                    "The boot sector of the drive (its first sector) cannot be read.\r\n\r\n" +
                                        FatMiscText(386));
    if (!layoutUsable)
        throw support::RuntimeError(10, FatMiscText(379), FatMiscText(387) + "\r\n\r\n" + FatMiscText(386));

    ReadClusterChains();
    if (stopRequested_) return;

    RaiseInfo("Reading FAT Table");
    if (!WalkDirectories())
        throw support::RuntimeError(70, FatMiscText(379), FatMiscText(385) + "\r\n\r\n" + FatMiscText(386));

    if (stopRequested_) return;
    RaiseInfo("Saving files found");
    SaveAllFiles();

    if (stopRequested_) return;
    RaiseInfo("Finished Pre-Scan");
}

support::Truth FATEngine::ForceDirectories(const std::string& path) {
    std::string folder = path;
    if (!folder.empty() && folder.back() == '/') folder.pop_back();
    const std::string trimmed = TrimBlanks(folder);
    const auto slash = trimmed.rfind('/');
    const std::string parent = slash == std::string::npos ? "" : trimmed.substr(0, slash);
    // The shortest folder is the root: "/" is empty once its slash is gone.
    if (!folder.empty() && !IsDirectory(folder) && folder != parent) {
        const bool parentMade = ForceDirectories(parent) != support::False;
        std::error_code ec;
        const bool made = std::filesystem::create_directory(folder, ec) && !ec;
        return support::ToTruth(parentMade && made);
    }
    return support::True;
}

support::Truth FATEngine::HasFreeSpace(double byteCount) const {
    if (byteCount < 0) return support::False;
    const double freeMegabytes = DiskFreeSpace(destFolder_) / (1024.0 * 1024.0);
    if (byteCount == 0) return support::ToTruth(freeMegabytes >= 1.0);
    return support::ToTruth(freeMegabytes * 1024.0 * 1024.0 >= byteCount);
}

} // namespace engine
