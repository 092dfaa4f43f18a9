// Builds FAT12, FAT16 and FAT32 card images byte for byte, for exact test
// fixtures: folders and files with given bytes, long names, deleted entries
// (with or without their chains), fragmented files, a wiped FAT, a damaged
// primary boot sector, directory loops, raw entries, and an optional MBR in
// front of the volume. The image is held sparsely (SparseImage), so cards of
// many gigabytes cost only what was written.
//
// Typical use:
//   FatImageBuilder card(FatImageOptions::Fat16(64));
//   auto dcim = card.AddFolder(card.Root(), "DCIM");
//   auto photo = card.AddFile(dcim, "DSC00001.JPG", bytes);
//   card.Delete(photo, /*clearChain=*/true);
//   card.WriteFile(path);            // or card.Volume() for AttachVolume
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/SparseImage.h"

namespace testcommon {

enum class FatKind { Fat12, Fat16, Fat32 };

struct FatImageOptions {
    FatKind kind = FatKind::Fat16;
    std::uint32_t bytesPerSector = 512;      // 512, 1024, 2048 or 4096
    std::uint32_t sectorsPerCluster = 4;
    std::uint32_t totalSectors = 131072;     // of the volume (without the MBR area)
    std::uint16_t reservedSectors = 0;       // 0: 1 for FAT12/16, 32 for FAT32
    std::uint8_t numberOfFats = 2;
    std::uint16_t rootEntries = 512;         // FAT12/16 only
    std::uint32_t rootCluster = 2;           // FAT32 only
    std::string volumeLabel = "TESTCARD";
    // When not 0, an MBR with one partition starting at this sector is put
    // in front of the volume (the image then holds the MBR and the volume).
    std::uint32_t mbrPartitionStart = 0;
    // The cluster count must fall into the kind's range (the builder
    // throws otherwise), so that a fixture is what its name says.
    bool checkKind = true;

    // Presets: size in MiB of the volume, with cluster sizes that keep the
    // cluster count in the kind's range.
    static FatImageOptions Fat12(std::uint32_t sizeKiB = 4096, std::uint32_t bytesPerSector = 512);
    static FatImageOptions Fat16(std::uint32_t sizeMiB = 64, std::uint32_t bytesPerSector = 512);
    static FatImageOptions Fat32(std::uint32_t sizeMiB = 64, std::uint32_t bytesPerSector = 512);
};

// A directory of the image (0 is the root).
struct DirHandle {
    int index = 0;
};

// One entry written into a directory: where its short entry and its long-name
// entries are, and its clusters.
struct EntryRef {
    int directory = 0;                   // the directory that holds the entry
    std::uint64_t shortEntryOffset = 0;  // byte offset of the 32-byte short entry in the image
    std::vector<std::uint64_t> longEntryOffsets;
    std::vector<std::uint32_t> clusters; // first cluster first
    int folder = -1;                     // for folders: their DirHandle index
};

struct FileOptions {
    // Explicit clusters in chain order; empty: the next free clusters.
    std::vector<std::uint32_t> clusters;
    // When not 0 and clusters is empty: after every fragmentEvery clusters,
    // fragmentGap clusters are left free (a fragmented file).
    std::uint32_t fragmentEvery = 0;
    std::uint32_t fragmentGap = 1;
    // The 11 bytes of the short name ("DSC00001JPG"); empty: derived from the
    // name (upper case 8.3 names stand alone, others get a long name and a
    // BASE~N short name).
    std::string shortName;
    bool forceLongName = false;  // a long name even for a plain 8.3 name
    std::uint8_t attributes = 0x20;
    std::uint32_t sizeOverride = 0xFFFFFFFF;  // the size written in the entry (default: bytes.size())
    std::uint16_t writeTime = 0x6000;         // 12:00:00
    std::uint16_t writeDate = 0x5A21;         // 2025-01-01
};

class FatImageBuilder {
public:
    explicit FatImageBuilder(FatImageOptions options);

    DirHandle Root() const { return DirHandle{0}; }

    // Folders get "." and ".." and one cluster (more as entries are added).
    DirHandle AddFolder(DirHandle parent, const std::string& name, const FileOptions& options = {});
    EntryRef AddFile(DirHandle parent, const std::string& name, const std::vector<std::uint8_t>& bytes,
                     const FileOptions& options = {});
    // The entry of a folder made by AddFolder.
    const EntryRef& FolderEntry(DirHandle folder) const;

    // Marks the short entry and its long-name entries with 0xE5. With
    // clearChain the FAT entries of its clusters become 0 in every copy, as
    // when a camera deletes a photo.
    void Delete(const EntryRef& entry, bool clearChain);
    void Delete(DirHandle folder, bool clearChain) { Delete(FolderEntry(folder), clearChain); }

    // Appends 32 raw bytes as the directory's next entry; returns its offset.
    std::uint64_t AddRawEntry(DirHandle dir, const std::vector<std::uint8_t>& entry32);
    // The byte offset in the image of a directory's slot (entry index).
    std::uint64_t EntryOffset(DirHandle dir, std::uint32_t slot) const;
    std::uint32_t EntryCount(DirHandle dir) const;

    // Zeros every FAT entry from cluster 2 on in every copy (a quick format
    // that left the directories); with keepRootChain a FAT32 root keeps its
    // chain.
    void WipeFat(bool keepRootChain = true);
    void SetFatEntry(std::uint32_t cluster, std::uint32_t value);  // every copy
    std::uint32_t FatEntry(std::uint32_t cluster) const;
    // Points the last cluster of the directory back at its first one.
    void MakeDirectoryLoop(DirHandle dir);
    // Makes the primary boot sector unusable (bytes per sector 0, the jump
    // and signature gone). The FAT32 backup at sector 6 stays.
    void DamagePrimaryBootSector();
    // Overwrites bytes of the boot sector whenever the image is made
    // (fields a test wants wrong; fuzzing).
    void PatchBootSector(std::uint32_t offset, const std::vector<std::uint8_t>& bytes, bool backupToo = false);

    // Geometry.
    FatKind Kind() const { return options_.kind; }
    std::uint32_t BytesPerSector() const { return options_.bytesPerSector; }
    std::uint32_t SectorsPerCluster() const { return options_.sectorsPerCluster; }
    std::uint32_t BytesPerCluster() const { return options_.bytesPerSector * options_.sectorsPerCluster; }
    std::uint32_t CountOfClusters() const { return countOfClusters_; }
    std::uint32_t FatSectors() const { return fatSectors_; }
    std::uint32_t FirstDataSector() const { return firstDataSector_; }      // within the volume
    std::uint32_t RootDirSector() const;                                   // within the volume
    std::uint64_t VolumeOffset() const;                                    // bytes before the volume (MBR)
    std::uint64_t ClusterOffset(std::uint32_t cluster) const;              // byte offset in the image
    std::uint32_t ClusterSector(std::uint32_t cluster) const;              // sector within the volume
    // The next cluster the allocator would give; lets a test reserve clusters.
    std::uint32_t NextFreeCluster() const { return nextFree_; }
    void SkipClusters(std::uint32_t count);

    // The image (the FATs are written into it on every call).
    std::shared_ptr<SparseImage> Image();
    std::vector<std::uint8_t> Bytes() { return Image()->Bytes(); }
    void WriteFile(const std::string& path) { Image()->WriteFile(path); }
    // A volume over the image for platform::AttachVolume (the volume part
    // only when there is an MBR, unless wholeImage).
    std::shared_ptr<SparseVolume> Volume(bool wholeImage = false);

private:
    struct Directory {
        int parent = -1;
        std::vector<std::uint32_t> clusters;  // empty: the fixed FAT12/16 root
        std::uint32_t used = 0;               // slots written
        std::uint32_t shortNameCounter = 0;
        EntryRef entry;                       // for folders
    };

    void WriteBootSector();
    void ApplyPatches();
    void WriteFats();
    std::uint32_t Allocate();
    std::vector<std::uint32_t> AllocateClusters(std::uint32_t count, const FileOptions& options);
    void Chain(const std::vector<std::uint32_t>& clusters);
    std::uint64_t NextSlot(Directory& dir);
    EntryRef WriteEntry(int dirIndex, const std::string& name, std::uint8_t attributes, std::uint32_t firstCluster,
                        std::uint32_t size, const FileOptions& options);
    std::vector<std::uint8_t> MakeShortName(Directory& dir, const std::string& name, const FileOptions& options,
                                            bool* needsLongName);
    std::uint64_t SectorOffset(std::uint32_t sector) const;  // volume sector to image offset
    std::uint32_t SlotsPerCluster() const { return BytesPerCluster() / 32; }

    FatImageOptions options_;
    std::shared_ptr<SparseImage> image_;
    std::vector<std::uint32_t> fat_;
    std::vector<Directory> dirs_;
    std::uint32_t countOfClusters_ = 0;
    std::uint32_t fatSectors_ = 0;
    std::uint32_t rootDirSectors_ = 0;
    std::uint32_t firstDataSector_ = 0;
    std::uint32_t nextFree_ = 2;
    bool bootDamaged_ = false;
    struct Patch {
        std::uint32_t offset;
        std::vector<std::uint8_t> bytes;
        bool backupToo;
    };
    std::vector<Patch> patches_;
};

// Builds an MBR (partition table at 446, signature 55 AA) with one partition.
std::vector<std::uint8_t> MakeMbr(std::uint32_t startSector, std::uint32_t sectorCount, std::uint8_t type);

// Windows-1252 bytes of a UTF-8 text (characters outside the code page
// become '_'), and UTF-16 units of a UTF-8 text.
std::string Cp1252FromUtf8(const std::string& text);
std::u16string Utf16FromUtf8Text(const std::string& text);

// Deterministic pseudo-random bytes (a file's contents that no other file
// shares).
std::vector<std::uint8_t> PatternBytes(std::size_t count, std::uint32_t seed);

} // namespace testcommon
