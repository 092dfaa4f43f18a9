// The recovery engine: one object per turbo scan. PreScan reads a FAT or
// exFAT card's boot sector and first FAT, walks every directory breadth first
// (deleted ones too, with long names and repaired short names) and saves
// every file whose type the signature database allows into the destination
// folder, reporting through its events. Everything runs on the caller's
// thread but the saved files' SHA-256, which a second thread takes behind
// the scan while the saving lasts; the events come on the caller's thread.
// The message pump runs at fixed points, where StopScan and PauseScan take
// effect. The engine never prints.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/BootSector.h"
#include "engine/DirEntry.h"
#include "engine/ExFatAllocation.h"
#include "engine/ExFatBootRegion.h"
#include "engine/ExFatEntrySet.h"
#include "engine/HashBehind.h"
#include "engine/RawDevice.h"
#include "engine/SavedFATFile.h"
#include "engine/SafeName.h"
#include "support/AlignedBytes.h"
#include "support/RuntimeError.h"
#include "support/Truth.h"

namespace engine {

class NewOutputFile;

// Entry classes of a FAT value.
constexpr std::uint8_t FatInUse = 1;
constexpr std::uint8_t FatFree = 2;
constexpr std::uint8_t FatBad = 4;
constexpr std::uint8_t FatEndOfChain = 8;

constexpr std::int32_t FatTypeFAT12 = 1;
constexpr std::int32_t FatTypeFAT16 = 2;
constexpr std::int32_t FatTypeFAT32 = 3;
constexpr std::int32_t FatTypeExFAT = 4;

// Classifies a FAT value by its low 12, 16 or 28 bits (FAT type 1, 2, 3):
// FF8 and above end a chain, FF1 to FF7 are bad; otherwise in use or free.
std::uint8_t ClassifyFATValue(std::int32_t fatType, std::uint32_t value);

// The events, raised on the scan's thread in the order the scan meets them.
// Counts are 32-bit so that cards with more than 32,767 files report them
// whole. A saved file's events (and those after them) come once its digest
// is known: at the latest before the next file is written, and before the
// scan returns.
struct FATEngineEvents {
    std::function<void(const std::string& message)> LogInfoMessage;
    std::function<void(const std::string& message)> LogErrorMessage;
    std::function<void(std::int32_t processed)> OnProgress;
    std::function<void(std::int32_t count)> OnFATFilesFound;
    std::function<void(const std::string& folder, const std::string& fileName)> OnFoundFATFile;
    // After every file written (whole, or incomplete at the drive's end):
    // where on the card it came from.
    std::function<void(const SavedFATFile& file)> OnSavedFATFile;
};

struct DirRecord {
    std::string Name;
    std::int32_t FirstCluster = 0;
    std::int32_t FirstSector = 0;
    std::uint8_t Flags = 0;   // bit 0: deleted
    std::uint8_t Status = 0;  // 0 live, 1 deleted and recoverable, 2 deleted, first cluster reused
    support::Truth Visited = support::False;
    std::int32_t ParentIndex = -1;
    // exFAT: the folder's clusters are one run (no FAT chain), and its length.
    bool Contiguous = false;
    std::uint64_t Length = 0;
};

struct FileRecord {
    std::uint8_t Attributes = 0;
    std::int32_t FirstCluster = 0;
    std::uint16_t WriteTime = 0;
    std::uint16_t WriteDate = 0;
    std::uint8_t CreateTimeTenths = 0;
    std::uint16_t CreateTime = 0;
    std::uint16_t CreateDate = 0;
    std::uint16_t AccessDate = 0;
    std::string Name;
    std::uint64_t Size = 0;
    std::uint8_t Flags = 0;
    std::uint8_t Status = 0;
    support::Truth Realigned = support::False;
    std::int32_t ParentIndex = -1;
    // exFAT: the data is one run of clusters (no FAT chain); the write
    // time's 10 ms steps (0 to 199); the UTC offsets of the write and
    // creation times (bit 7: given; the low 7 bits a signed number of
    // 15-minute steps).
    bool Contiguous = false;
    std::uint8_t WriteTime10ms = 0;
    std::uint8_t WriteUtcOffset = 0;
    std::uint8_t CreateUtcOffset = 0;
};

// What kept a saved file from being whole.
struct ReadShortfall {
    bool pastDriveEnd = false;         // its clusters lead past the drive's end
    bool clustersRanOut = false;       // its clusters on the card end before its size
    std::int64_t unreadableBytes = 0;  // in sectors that could not be read, saved as zeros
    const char* clustersReason = nullptr; // why they ran out, when the file system tells more
    bool Any() const { return pastDriveEnd || clustersRanOut || unreadableBytes > 0; }
};

// Why a saved file is not whole, for its message.
std::string ShortfallText(const ReadShortfall& shortfall);
// Joins folder parts with exactly one "/" between them and one at the end.
std::string JoinFolder(const std::string& folder, const std::string& relative);
// Makes a saved file read-only when its entry was (hidden, system and
// archive have no meaning here).
void ApplyReadOnly(const std::string& path, std::uint8_t attributes);

// What the saving of one scan came to.
struct SaveSummary {
    std::int32_t Saved = 0;       // files saved whole
    std::int32_t Incomplete = 0;  // saved as far as the card gave them, not whole
    std::int32_t NotWritten = 0;  // could not be written (or not tried once the destination was full)
    bool DestinationFull = false; // a file was not written for lack of space on the destination
};

class FATEngine {
public:
    // Loads the standard name lists from the program folder (a missing list
    // shows its message box and leaves name repair off).
    FATEngine();

    FATEngineEvents Events;

    void SetSectorsAtOnce(std::int16_t sectors);
    // The folder the files are saved into ("/" at the end or not).
    void SetDestFolder(const std::string& folder);
    void StopScan();
    void PauseScan();
    void ResumeScan();
    // The structural scan of the drive with that letter. Raises
    // support::RuntimeError: 50 on a CD-ROM drive, 68 when the drive cannot
    // be opened (the description names it and the reason), 10 when the boot
    // sector cannot be read or is unusable, 70 when stopped during the
    // directory walk.
    void PreScan(const std::string& driveLetter, support::Truth keepFolderStructure);
    // Reads and checks the drive's boot sector; its layout is then Layout().
    support::Truth ReadDeviceBootSector(DriveNumber drive);
    // The layout of the last boot-sector parse of this engine (empty and
    // not usable before one, and after one that failed).
    const VolumeLayout& Layout() const { return layout_; }
    // Creates a folder and its missing parents.
    support::Truth ForceDirectories(const std::string& path);

    // Read-only views for the callers that inspect a scan (tests, tools).
    const std::vector<DirRecord>& Directories() const { return directories_; }
    const std::vector<FileRecord>& Files() const { return files_; }
    // 0, or why the boot sector was not usable: 10 unreadable values, 12
    // clusters over 32 KiB (exFAT: over what one read holds), 13 FAT32 root
    // cluster out of range, 14 a data area that does not fit the drive.
    std::int32_t LastError() const { return lastError_; }
    // 1 FAT12, 2 FAT16, 3 FAT32, 4 exFAT.
    std::int32_t FATType() const { return fatType_; }
    std::int32_t CountOfClusters() const { return countOfClusters_; }
    std::int32_t BytesPerCluster() const { return bytesPerCluster_; }
    std::int32_t RootDirSector() const { return rootDirSector_; }
    std::int32_t RootCluster() const { return rootCluster_; }
    std::uint8_t FATCopyForChains() const { return fatCopyForChains_; }
    const std::vector<std::uint32_t>& FAT1Values() const { return fat1Values_; }
    const std::vector<std::string>& StandardDirNames() const { return standardDirNames_; }
    const std::vector<std::string>& StandardFileNames() const { return standardFileNames_; }
    // What went to the trace hook (diagnostics that are never shown).
    const std::vector<std::string>& TraceLog() const { return trace_; }

    // The counts of the last SaveAllFiles. Every file counted as incomplete
    // or not written was reported through LogErrorMessage, once.
    const SaveSummary& SaveResults() const { return saveSummary_; }

    // The steps of PreScan, public so that each can be exercised alone.
    support::Truth ReadBootSector();
    std::uint32_t ReadFATEntry(std::int64_t cluster, std::int32_t copy);
    support::Truth ReadClusterChains();
    support::Truth ProbeFATEmpty();
    support::Truth WalkDirectories();
    support::Truth SaveAllFiles();
    support::Truth SaveFATFileEXT(FileRecord& file, const std::string& relativeFolder);
    // Name repair of deleted short names from a list (directory or file).
    std::string RepairDeletedName(const std::string& name, const std::vector<std::string>& list) const;
    support::Truth HasFreeSpace(double byteCount) const;
    // (cluster - 2) x SectorsPerCluster + FirstDataSector.
    std::int64_t ClusterToSector(std::int64_t cluster) const;
    void SetDriveForTests(DriveNumber drive);

private:
    // Where a directory is being read, and which of its clusters were read:
    // a directory reads each cluster once and never more than the volume has.
    struct DirectoryCursor {
        std::int64_t cluster = 0;
        std::int64_t sector = 0;
        std::int64_t index = 0;
        // The clusters a probe has read.
        std::unordered_set<std::int64_t> seenClusters;
        // Instead, for the walk: the clusters every folder has read. No two
        // folders share a cluster, so a folder stops where it runs into one
        // another has read (or one of its own: a loop).
        std::unordered_set<std::int64_t>* walkedClusters = nullptr;
        std::int64_t clustersRead = 0;
        // The folder being walked ("/DCIM/100MSDCF/"); empty for a probe,
        // which gives up at an unreadable sector instead of skipping it.
        std::string folder;
        bool readErrorReported = false;
    };
    struct NextEntry {
        DirEntry entry;
        std::string name;
        bool longName = false;
        bool realigned = false;
    };

    support::Truth LoadStandardNameLists();
    void TraceMessage(const std::string& text);
    void RaiseInfo(const std::string& message);
    void RaiseError(const std::string& message);
    // Raises an event now, or after the events held for a digest.
    void RaiseOrHold(std::function<void()> event);
    // Raises the held events in order, waiting for the digests they carry.
    void RaiseHeldEvents();
    // Runs save with a hash thread for the files it saves; every event held
    // is raised before it returns, also when save throws.
    support::Truth SaveWithHashing(const std::function<support::Truth()>& save);
    bool ReadBootSectorInto(std::int32_t sector);
    // The primary boot sector, or the backup one when the primary's sector
    // size is not usable; one that cannot be read gives way to a common
    // layout. Throws when the drive's sector is too large for the buffer.
    void ReadBootSectorRecord();
    // 0 when the derived layout fits a volume this drive can hold; else why
    // not (12, 13 or 14, as LastError gives it).
    std::int32_t LayoutFault();
    // Reads volume sectors (in the boot sector's unit) from the drive; a
    // drive that reports smaller sectors than the volume uses (an image
    // file of a 2048-byte-sector card) is read in as many of its own.
    support::Truth ReadVolumeSectors(std::int64_t sector, std::int64_t count, std::uint8_t* buffer, std::size_t size);
    // The bytes of one volume sector as the drive delivers it.
    std::int64_t SectorBytes() const { return std::int64_t(geometry_.BytesPerSector) * sectorRatio_; }
    bool DeriveGeometry();
    std::int64_t DriveSectorsInVolumeUnits() const;
    bool IsEndOfChain(std::uint32_t value) const;

    // Reads the folder at this index of the list (-1: the root) into the
    // list, adding to the clusters read so far.
    using FolderReader = std::function<void(std::int32_t index, std::unordered_set<std::int64_t>& walkedClusters)>;
    // The root, then every folder the reads add, breadth first: each start
    // read once, the depth bounded, Stop honoured between folders.
    support::Truth WalkFolderList(const FolderReader& readFolder);
    bool ReadDirectory(std::int32_t parent, std::int64_t cluster, std::int64_t sector,
                       std::unordered_set<std::int64_t>& walkedClusters);
    bool GetNextDirEntry(DirectoryCursor& cursor, NextEntry& next);
    bool GetNextFATRecord(DirectoryCursor& cursor, RawEntry& out);
    // The steps of GetNextFATRecord: the sector that holds the cursor's
    // entry (-1 at the directory's end), moving to the directory's next
    // cluster, and stepping over a sector that cannot be read (false for a
    // probe, which gives up instead).
    std::int64_t CursorSector(DirectoryCursor& cursor);
    bool StepToNextCluster(DirectoryCursor& cursor);
    bool SkipUnreadableSector(DirectoryCursor& cursor, std::int64_t sector);
    bool ReadDirectorySector(std::int64_t sector);
    bool AssembleLongName(DirectoryCursor& cursor, const RawEntry& firstRaw, DirEntry& entry, std::string& name);
    bool IsValidEntry(const DirEntry& entry) const;
    bool RealignEntry(const DirectoryCursor& cursor, DirEntry& entry);
    bool IsLiveDeletedDirectory(std::int64_t cluster);
    void AddDirectory(DirRecord record);
    void AddFile(FileRecord record);
    std::string DirectoryPath(std::int32_t index) const;
    std::string CardPath(const FileRecord& file) const;
    // A file written under its name, and its digest (known once hashed).
    struct WrittenFile {
        std::string name; // "": not written, the scan was stopped or its destination taken away first
        HashBehind::PendingDigest digest;
    };
    // Holds the file's record until its digest is known.
    void RaiseSaved(const FileRecord& file, const WrittenFile& written, const std::string& folder,
                    const std::vector<std::int64_t>& clusters, std::uint64_t sizeOnCard,
                    const ReadShortfall& shortfall);
    void NotWritten(const FileRecord& file, const std::string& reason);
    support::RuntimeError WriteFailure(const std::string& path, std::int64_t bytesLeft);

    // The steps of SaveFATFileEXT.
    // Adjacent clusters read at once: how many sectors, the index of the
    // last cluster in the run, and what ended it.
    struct ClusterRun {
        enum class End { Limit, Break, Final };
        std::int64_t sectors;
        std::size_t last;
        End end;
    };
    // The first FAT's value of a cluster (0 outside the table), and the
    // highest cluster the table and the drive both have.
    std::uint32_t Fat1Value(std::int64_t cluster) const;
    std::int64_t Fat1Bound() const;
    void RealignToChainStart(FileRecord& file) const;
    // The file's clusters, in order, as many as its size needs; current is
    // the last one looked at. pastDriveEnd: the chain leads past the drive.
    std::vector<std::int64_t> FileClusters(const FileRecord& file, bool& pastDriveEnd, std::int64_t& current);
    // A deleted file whose chain was cleared: its first cluster, then the
    // free clusters after it, as many as its size needs. Clusters in use
    // belong to files that stayed and are stepped over.
    std::vector<std::int64_t> FreeClustersFrom(const FileRecord& file, bool& pastDriveEnd, std::int64_t& current);
    // The first free cluster at or after from; past the last cluster when
    // there is none.
    std::int64_t NextFreeCluster(std::int64_t from);
    ClusterRun NextClusterRun(const std::vector<std::int64_t>& clusters, std::size_t first,
                              std::int64_t runLimit) const;
    void WaitWhilePaused();
    // Reads count sectors into the first bytes of buffer. A run that cannot
    // be read is read again sector by sector, and only the sectors that
    // fail become zeros. Returns how many of the first wanted bytes are
    // such zeros.
    std::int64_t ReadRunOrZeros(std::int64_t start, std::int64_t count, support::AlignedBytes& buffer,
                                std::size_t bytes, std::int64_t wanted, int& failures);
    std::int64_t ReadSectorBySector(std::int64_t start, std::int64_t count, support::AlignedBytes& buffer,
                                    std::size_t bytes, std::int64_t wanted);
    // Writes size bytes of the clusters to the output file, each run read
    // into the hash's next buffer and hashed behind; throws on a failed
    // write. startOutput opens the output once the first run is read, and
    // says false when nothing is to be written (the copy then ends).
    // Returns the bytes that could not be read (written as zeros).
    std::int64_t CopyClusters(const std::vector<std::int64_t>& clusters, std::int64_t size, const std::string& path,
                              std::int64_t& current, NewOutputFile& output,
                              const std::function<bool()>& startOutput);
    // Writes the file's bytes from its clusters under a temporary name in
    // folder and names it when whole (never over a name taken meanwhile).
    // Before it writes anything, the file before is reported; when that
    // (or anything else) stopped the scan, nothing is written. Adds its
    // unreadable bytes to shortfall. Throws on a failed write.
    WrittenFile WriteSavedFile(const FileRecord& file, const std::string& folder,
                               const std::vector<std::int64_t>& clusters, std::int64_t& current,
                               ReadShortfall& shortfall);
    // Applies the entry's write time and attributes and reports the file,
    // whole or not; a file not started (no name) is counted as such only.
    support::Truth ReportSavedFile(const FileRecord& file, const std::string& folder, const WrittenFile& written,
                                   const std::vector<std::int64_t>& clusters, const ReadShortfall& shortfall,
                                   std::uint64_t sizeOnCard);
    bool FileDataIsRecoverable(const DirEntry& entry, std::int64_t firstCluster);

    // exFAT, in the same steps: the boot region (main or backup), the FAT
    // and the allocation bitmap, the directory tree, and each file's data.
    // Whether sector 0 (or, when sector 0 is no FAT boot sector, the backup
    // region) says exFAT.
    bool LooksLikeExFat();
    support::Truth ReadExFatBootRegion();
    support::Truth ReadExFatTables();
    support::Truth WalkExFatDirectories();
    void ReadExFatDirectory(std::int32_t parent, const ExFatExtent& extent,
                            std::unordered_set<std::int64_t>& walkedClusters);
    void AddExFatEntrySet(std::int32_t parent, const ExFatEntrySet& set);
    support::Truth SaveExFatFile(FileRecord& file, const std::string& relativeFolder);
    ExFatVolumeBounds ExFatBounds() const;
    // The first bytes of the drive, enough for both boot regions of any
    // sector size (fewer on a drive too small for them).
    std::vector<std::uint8_t> ReadDriveStart();
    // The bytes of the clusters, up to bytes of them; a part that cannot be
    // read becomes fill bytes. False when a part could not be read.
    bool ReadClusterBytes(const std::vector<std::int64_t>& clusters, std::uint64_t bytes, std::uint8_t fill,
                          std::vector<std::uint8_t>& out);

    // Drive and settings.
    DriveNumber driveNumber_ = 0;
    DriveGeometry geometry_{};
    std::int16_t sectorsAtOnce_ = 64;
    support::Truth stopRequested_ = support::False;
    support::Truth paused_ = support::False;
    support::Truth keepFolderStructure_ = support::False;
    std::string destFolder_;
    std::int32_t lastError_ = 0;
    std::int32_t sectorRatio_ = 1;  // volume sector / drive sector

    // Volume geometry.
    VolumeLayout layout_;
    std::int64_t volumeClusters_ = 0;  // as the boot sector counts them (not cut to the drive)
    std::vector<std::uint8_t> bootSectorBuffer_ = std::vector<std::uint8_t>(2 * 2048, 0);
    std::uint8_t fatCopyForChains_ = 1;
    std::int32_t fatType_ = 0;
    std::int32_t totalSectors_ = 0;
    std::int64_t readableSectors_ = 0;  // of the volume that the drive holds
    std::int32_t bytesPerCluster_ = 0;
    std::int32_t rootCluster_ = 0;
    std::int32_t rootDirSector_ = 0;
    std::int32_t fatSize_ = 0;
    std::int32_t dataSectors_ = 0;
    std::int32_t countOfClusters_ = 0;

    // exFAT: the boot sector in use and the allocation bitmap.
    ExFatBootSector exfatBoot_;
    ExFatBitmap exfatBitmap_;

    // FAT.
    std::vector<std::uint32_t> fat1Values_ = std::vector<std::uint32_t>(1, 0);
    std::vector<std::uint32_t> nextFreeCluster_;  // by cluster, from the first FAT; made on first use
    std::vector<std::uint8_t> fatSectorBuffer_ = std::vector<std::uint8_t>(2 * 2048, 0);
    std::int64_t cachedFATSector_ = -1;

    // Directories.
    std::vector<std::uint8_t> directorySectorBuffer_ = std::vector<std::uint8_t>(2 * 2048, 0);
    std::int64_t cachedDirSector_ = -1;
    std::vector<std::string> standardDirNames_;
    std::vector<std::string> standardFileNames_;
    std::vector<DirRecord> directories_;
    std::vector<FileRecord> files_;
    std::unordered_set<std::string> directoryKeys_;
    std::unordered_set<std::string> fileKeys_;

    // Saving.
    // NotStarted: nothing written, since the scan was stopped or its
    // destination taken away before the file's first byte.
    enum class SaveOutcome { Saved, Incomplete, NotWritten, NotStarted };
    TakenNames takenNames_;
    SaveSummary saveSummary_;
    // While files are saved: the hashes behind the scan, and the events
    // waiting for them (with those raised after them, to keep the order).
    HashBehind* hashing_ = nullptr;
    std::deque<std::function<void()>> heldEvents_;
    // The destination folder's identity when the saving began, to notice it
    // being removed or replaced mid-run (not known: not looked at).
    struct FolderIdentity {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        bool known = false;
        bool operator==(const FolderIdentity&) const = default;
    };
    FolderIdentity destination_;
    static FolderIdentity IdentityOf(const std::string& folder);
    bool DestinationUnchanged() const;
    support::RuntimeError DestinationChanged() const;
    SaveOutcome lastSaveOutcome_ = SaveOutcome::NotWritten;
    bool destinationExhausted_ = false;  // a write failed for lack of space: the rest are not tried

    std::vector<std::string> trace_;
};

} // namespace engine
