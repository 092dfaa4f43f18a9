#include "tests/common/FatImageBuilder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace testcommon {

namespace {

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

void PutText(std::vector<std::uint8_t>& b, std::size_t at, const std::string& text, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) b.at(at + i) = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
}

// The 32 code points of Windows-1252 at 0x80..0x9F (0 where undefined).
constexpr char32_t Cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

std::u32string DecodeUtf8(const std::string& text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + extra >= text.size() + (extra == 0 ? 1 : 0)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        out.push_back(cp);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

bool IsShortNameChar(char c) {
    if (c >= 'A' && c <= 'Z') return true;
    if (c >= '0' && c <= '9') return true;
    return std::strchr("!#$%&'()-@^_`{}~", c) != nullptr && c != 0;
}

std::uint8_t LongNameChecksum(const std::uint8_t* shortName) {
    std::uint8_t sum = 0;
    for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) ? 0x80 : 0) + (sum >> 1) + shortName[i]);
    return sum;
}

std::uint32_t ClusterBytesFor(std::uint64_t size, std::uint32_t bytesPerSector, std::uint64_t lowLimit,
                              std::uint64_t highLimit) {
    // The smallest power-of-two cluster (at least a sector) whose count is
    // below highLimit; lowLimit keeps FAT32 volumes above their minimum.
    std::uint32_t cluster = bytesPerSector;
    while (size / cluster >= highLimit && cluster < 32768) cluster *= 2;
    (void)lowLimit;
    return cluster;
}

} // namespace

std::string Cp1252FromUtf8(const std::string& text) {
    std::string out;
    for (char32_t cp : DecodeUtf8(text)) {
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out.push_back(static_cast<char>(cp));
            continue;
        }
        char mapped = '_';
        for (int i = 0; i < 32; ++i)
            if (Cp1252High[i] == cp && cp != 0) mapped = static_cast<char>(0x80 + i);
        out.push_back(mapped);
    }
    return out;
}

std::u16string Utf16FromUtf8Text(const std::string& text) {
    std::u16string out;
    for (char32_t cp : DecodeUtf8(text)) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::vector<std::uint8_t> PatternBytes(std::size_t count, std::uint32_t seed) {
    std::vector<std::uint8_t> out(count);
    std::uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    if (x == 0) x = 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x >> 11);
    }
    return out;
}

std::vector<std::uint8_t> MakeMbr(std::uint32_t startSector, std::uint32_t sectorCount, std::uint8_t type) {
    std::vector<std::uint8_t> mbr(512, 0);
    const std::size_t e = 446;
    mbr[e] = 0x00;
    mbr[e + 1] = 0xFE;
    mbr[e + 2] = 0xFF;
    mbr[e + 3] = 0xFF;
    mbr[e + 4] = type;
    mbr[e + 5] = 0xFE;
    mbr[e + 6] = 0xFF;
    mbr[e + 7] = 0xFF;
    Put32(mbr, e + 8, startSector);
    Put32(mbr, e + 12, sectorCount);
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    return mbr;
}

FatImageOptions FatImageOptions::Fat12(std::uint32_t sizeKiB, std::uint32_t bytesPerSector) {
    FatImageOptions o;
    o.kind = FatKind::Fat12;
    o.bytesPerSector = bytesPerSector;
    const std::uint64_t size = std::uint64_t(sizeKiB) * 1024;
    o.sectorsPerCluster = ClusterBytesFor(size, bytesPerSector, 0, 4000) / bytesPerSector;
    o.totalSectors = static_cast<std::uint32_t>(size / bytesPerSector);
    o.rootEntries = 224;
    return o;
}

FatImageOptions FatImageOptions::Fat16(std::uint32_t sizeMiB, std::uint32_t bytesPerSector) {
    FatImageOptions o;
    o.kind = FatKind::Fat16;
    o.bytesPerSector = bytesPerSector;
    const std::uint64_t size = std::uint64_t(sizeMiB) * 1024 * 1024;
    o.sectorsPerCluster = ClusterBytesFor(size, bytesPerSector, 4200, 65000) / bytesPerSector;
    o.totalSectors = static_cast<std::uint32_t>(size / bytesPerSector);
    o.rootEntries = 512;
    return o;
}

FatImageOptions FatImageOptions::Fat32(std::uint32_t sizeMiB, std::uint32_t bytesPerSector) {
    FatImageOptions o;
    o.kind = FatKind::Fat32;
    o.bytesPerSector = bytesPerSector;
    const std::uint64_t size = std::uint64_t(sizeMiB) * 1024 * 1024;
    // 4 KiB clusters where the count stays a FAT32 one, else one sector.
    std::uint32_t cluster = std::max<std::uint32_t>(4096, bytesPerSector);
    while (cluster > bytesPerSector && size / cluster < 70000) cluster /= 2;
    o.sectorsPerCluster = cluster / bytesPerSector;
    o.totalSectors = static_cast<std::uint32_t>(size / bytesPerSector);
    o.rootEntries = 0;
    return o;
}

FatImageBuilder::FatImageBuilder(FatImageOptions options) : options_(std::move(options)) {
    auto& o = options_;
    if (o.bytesPerSector == 0 || o.sectorsPerCluster == 0 || o.numberOfFats == 0)
        throw std::invalid_argument("FatImageBuilder: zero geometry value");
    const bool fat32 = o.kind == FatKind::Fat32;
    if (o.reservedSectors == 0) o.reservedSectors = fat32 ? 32 : 1;
    if (fat32) o.rootEntries = 0;
    rootDirSectors_ = (std::uint32_t(o.rootEntries) * 32 + o.bytesPerSector - 1) / o.bytesPerSector;

    const std::uint32_t fixed = o.reservedSectors + rootDirSectors_;
    if (o.totalSectors <= fixed) throw std::invalid_argument("FatImageBuilder: volume too small");
    fatSectors_ = 1;
    for (int round = 0; round < 64; ++round) {
        const std::uint64_t used = fixed + std::uint64_t(o.numberOfFats) * fatSectors_;
        if (used >= o.totalSectors) throw std::invalid_argument("FatImageBuilder: volume too small");
        const std::uint64_t clusters = (o.totalSectors - used) / o.sectorsPerCluster;
        std::uint64_t fatBytes = o.kind == FatKind::Fat12   ? ((clusters + 2) * 3 + 1) / 2
                                 : o.kind == FatKind::Fat16 ? (clusters + 2) * 2
                                                            : (clusters + 2) * 4;
        const auto needed = static_cast<std::uint32_t>((fatBytes + o.bytesPerSector - 1) / o.bytesPerSector);
        if (needed <= fatSectors_) break;
        fatSectors_ = needed;
    }
    firstDataSector_ = fixed + o.numberOfFats * fatSectors_;
    countOfClusters_ = (o.totalSectors - firstDataSector_) / o.sectorsPerCluster;
    if (o.checkKind) {
        const bool ok = o.kind == FatKind::Fat12   ? countOfClusters_ < 4085
                        : o.kind == FatKind::Fat16 ? countOfClusters_ >= 4085 && countOfClusters_ < 65525
                                                   : countOfClusters_ >= 65525;
        if (!ok)
            throw std::invalid_argument("FatImageBuilder: " + std::to_string(countOfClusters_) +
                                        " clusters do not make the requested FAT kind");
    }

    image_ = std::make_shared<SparseImage>(VolumeOffset() + std::uint64_t(o.totalSectors) * o.bytesPerSector);
    fat_.assign(countOfClusters_ + 2, 0);
    const std::uint32_t mask = o.kind == FatKind::Fat12 ? 0xFFF : o.kind == FatKind::Fat16 ? 0xFFFF : 0x0FFFFFFF;
    fat_[0] = (0x0FFFFF00u | 0xF8) & mask;
    fat_[1] = mask;

    dirs_.push_back(Directory{});
    if (fat32) {
        if (o.rootCluster < 2 || o.rootCluster > countOfClusters_ + 1)
            throw std::invalid_argument("FatImageBuilder: root cluster out of range");
        fat_[o.rootCluster] = mask;
        if (o.rootCluster == nextFree_) ++nextFree_;
        dirs_[0].clusters.push_back(o.rootCluster);
    }
    // The volume label's entry, first in the root, as a format writes it.
    if (!o.volumeLabel.empty()) {
        std::vector<std::uint8_t> label(32, 0);
        PutText(label, 0, o.volumeLabel.substr(0, 11), 11);
        label[11] = 0x08;
        Put16(label, 22, 0x6000);
        Put16(label, 24, 0x5A21);
        image_->Write(NextSlot(dirs_[0]), label.data(), 32);
    }
}

std::uint64_t FatImageBuilder::VolumeOffset() const { return std::uint64_t(options_.mbrPartitionStart) * 512; }

std::uint64_t FatImageBuilder::SectorOffset(std::uint32_t sector) const {
    return VolumeOffset() + std::uint64_t(sector) * options_.bytesPerSector;
}

std::uint32_t FatImageBuilder::ClusterSector(std::uint32_t cluster) const {
    return firstDataSector_ + (cluster - 2) * options_.sectorsPerCluster;
}

std::uint64_t FatImageBuilder::ClusterOffset(std::uint32_t cluster) const {
    return SectorOffset(ClusterSector(cluster));
}

std::uint32_t FatImageBuilder::RootDirSector() const {
    if (options_.kind == FatKind::Fat32) return ClusterSector(options_.rootCluster);
    return options_.reservedSectors + options_.numberOfFats * fatSectors_;
}

void FatImageBuilder::SkipClusters(std::uint32_t count) { nextFree_ += count; }

std::uint32_t FatImageBuilder::Allocate() {
    while (nextFree_ <= countOfClusters_ + 1 && fat_[nextFree_] != 0) ++nextFree_;
    if (nextFree_ > countOfClusters_ + 1) throw std::runtime_error("FatImageBuilder: volume full");
    const std::uint32_t c = nextFree_++;
    fat_[c] = 0x0FFFFFFF;  // reserved until chained
    return c;
}

std::vector<std::uint32_t> FatImageBuilder::AllocateClusters(std::uint32_t count, const FileOptions& options) {
    std::vector<std::uint32_t> clusters;
    if (!options.clusters.empty()) {
        clusters = options.clusters;
        for (std::uint32_t c : clusters) {
            if (c < 2 || c > countOfClusters_ + 1) throw std::invalid_argument("FatImageBuilder: cluster out of range");
            fat_[c] = 0x0FFFFFFF;
        }
        return clusters;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (options.fragmentEvery && i > 0 && i % options.fragmentEvery == 0) SkipClusters(options.fragmentGap);
        clusters.push_back(Allocate());
    }
    return clusters;
}

void FatImageBuilder::Chain(const std::vector<std::uint32_t>& clusters) {
    const std::uint32_t eoc = options_.kind == FatKind::Fat12 ? 0xFFF : options_.kind == FatKind::Fat16 ? 0xFFFF : 0x0FFFFFFF;
    for (std::size_t i = 0; i < clusters.size(); ++i)
        fat_[clusters[i]] = i + 1 < clusters.size() ? clusters[i + 1] : eoc;
}

std::uint64_t FatImageBuilder::NextSlot(Directory& dir) {
    const std::uint32_t slot = dir.used;
    if (dir.clusters.empty()) {
        if (slot >= options_.rootEntries) throw std::runtime_error("FatImageBuilder: root directory full");
        ++dir.used;
        return SectorOffset(RootDirSector()) + std::uint64_t(slot) * 32;
    }
    const std::uint32_t perCluster = SlotsPerCluster();
    if (slot >= dir.clusters.size() * perCluster) {
        const std::uint32_t c = Allocate();
        image_->Fill(ClusterOffset(c), 0, BytesPerCluster());
        dir.clusters.push_back(c);
        Chain(dir.clusters);
    }
    ++dir.used;
    return ClusterOffset(dir.clusters[slot / perCluster]) + std::uint64_t(slot % perCluster) * 32;
}

std::uint64_t FatImageBuilder::EntryOffset(DirHandle handle, std::uint32_t slot) const {
    const Directory& dir = dirs_.at(static_cast<std::size_t>(handle.index));
    if (dir.clusters.empty()) return SectorOffset(RootDirSector()) + std::uint64_t(slot) * 32;
    const std::uint32_t perCluster = SlotsPerCluster();
    return ClusterOffset(dir.clusters.at(slot / perCluster)) + std::uint64_t(slot % perCluster) * 32;
}

std::uint32_t FatImageBuilder::EntryCount(DirHandle dir) const { return dirs_.at(static_cast<std::size_t>(dir.index)).used; }

std::vector<std::uint8_t> FatImageBuilder::MakeShortName(Directory& dir, const std::string& name,
                                                         const FileOptions& options, bool* needsLongName) {
    std::vector<std::uint8_t> bytes(11, ' ');
    *needsLongName = options.forceLongName;
    if (!options.shortName.empty()) {
        const std::string raw = Cp1252FromUtf8(options.shortName);
        for (std::size_t i = 0; i < 11 && i < raw.size(); ++i) bytes[i] = static_cast<std::uint8_t>(raw[i]);
        if (name != options.shortName) *needsLongName = true;
        return bytes;
    }
    const auto dot = name.rfind('.');
    const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    const bool plain = !base.empty() && base.size() <= 8 && ext.size() <= 3 &&
                       std::all_of(base.begin(), base.end(), IsShortNameChar) &&
                       std::all_of(ext.begin(), ext.end(), IsShortNameChar) &&
                       (dot == std::string::npos || !ext.empty());
    if (plain) {
        for (std::size_t i = 0; i < base.size(); ++i) bytes[i] = static_cast<std::uint8_t>(base[i]);
        for (std::size_t i = 0; i < ext.size(); ++i) bytes[8 + i] = static_cast<std::uint8_t>(ext[i]);
        return bytes;
    }
    *needsLongName = true;
    auto squeeze = [](const std::string& text, std::size_t width) {
        std::string out;
        for (char c : text) {
            char u = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
            if (IsShortNameChar(u)) out.push_back(u);
            else if (static_cast<unsigned char>(c) >= 0x80 || c == '+' || c == ',' || c == ';' || c == '=' ||
                     c == '[' || c == ']')
                out.push_back('_');
            if (out.size() == width) break;
        }
        return out;
    };
    std::string b = squeeze(base, 6);
    if (b.empty()) b = "FILE";
    const std::string e = squeeze(ext, 3);
    const std::string tail = "~" + std::to_string(++dir.shortNameCounter);
    b = b.substr(0, std::min<std::size_t>(b.size(), 8 - tail.size())) + tail;
    for (std::size_t i = 0; i < b.size(); ++i) bytes[i] = static_cast<std::uint8_t>(b[i]);
    for (std::size_t i = 0; i < e.size(); ++i) bytes[8 + i] = static_cast<std::uint8_t>(e[i]);
    return bytes;
}

EntryRef FatImageBuilder::WriteEntry(int dirIndex, const std::string& name, std::uint8_t attributes,
                                     std::uint32_t firstCluster, std::uint32_t size, const FileOptions& options) {
    Directory& dir = dirs_.at(static_cast<std::size_t>(dirIndex));
    EntryRef ref;
    ref.directory = dirIndex;
    bool longName = false;
    std::vector<std::uint8_t> shortName = MakeShortName(dir, name, options, &longName);
    if (longName) {
        std::u16string units = Utf16FromUtf8Text(name);
        if (units.size() % 13 != 0) {
            units.push_back(0);
            while (units.size() % 13 != 0) units.push_back(0xFFFF);
        }
        const std::size_t count = units.size() / 13;
        const std::uint8_t checksum = LongNameChecksum(shortName.data());
        for (std::size_t n = count; n >= 1; --n) {
            std::vector<std::uint8_t> e(32, 0);
            e[0] = static_cast<std::uint8_t>(n | (n == count ? 0x40 : 0));
            e[11] = 0x0F;
            e[13] = checksum;
            const std::size_t at[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
            for (std::size_t k = 0; k < 13; ++k) Put16(e, at[k], units[(n - 1) * 13 + k]);
            const std::uint64_t offset = NextSlot(dir);
            image_->Write(offset, e.data(), 32);
            ref.longEntryOffsets.push_back(offset);
        }
    }
    std::vector<std::uint8_t> e(32, 0);
    std::copy(shortName.begin(), shortName.end(), e.begin());
    e[11] = attributes;
    Put16(e, 14, options.writeTime);
    Put16(e, 16, options.writeDate);
    Put16(e, 18, options.writeDate);
    Put16(e, 20, firstCluster >> 16);
    Put16(e, 22, options.writeTime);
    Put16(e, 24, options.writeDate);
    Put16(e, 26, firstCluster & 0xFFFF);
    Put32(e, 28, size);
    ref.shortEntryOffset = NextSlot(dir);
    image_->Write(ref.shortEntryOffset, e.data(), 32);
    return ref;
}

DirHandle FatImageBuilder::AddFolder(DirHandle parent, const std::string& name, const FileOptions& options) {
    FileOptions folderOptions = options;
    std::vector<std::uint32_t> clusters = AllocateClusters(1, folderOptions);
    if (clusters.size() != 1 && options.clusters.empty()) throw std::logic_error("folder allocation");
    Chain(clusters);
    for (std::uint32_t c : clusters) image_->Fill(ClusterOffset(c), 0, BytesPerCluster());

    Directory folder;
    folder.parent = parent.index;
    folder.clusters = clusters;
    dirs_.push_back(folder);
    const int index = static_cast<int>(dirs_.size()) - 1;

    // "." and "..": ".." names the parent's first cluster, 0 for the root.
    const Directory& up = dirs_.at(static_cast<std::size_t>(parent.index));
    const std::uint32_t parentCluster = parent.index == 0 ? 0 : up.clusters.front();
    for (const auto& [dotName, cluster] :
         {std::pair<std::string, std::uint32_t>{".", clusters.front()}, {"..", parentCluster}}) {
        std::vector<std::uint8_t> e(32, 0);
        PutText(e, 0, dotName, 11);
        e[11] = 0x10;
        Put16(e, 20, cluster >> 16);
        Put16(e, 26, cluster & 0xFFFF);
        Put16(e, 22, options.writeTime);
        Put16(e, 24, options.writeDate);
        image_->Write(NextSlot(dirs_[static_cast<std::size_t>(index)]), e.data(), 32);
    }

    FileOptions entryOptions = options;
    entryOptions.attributes = static_cast<std::uint8_t>(options.attributes == 0x20 ? 0x10 : options.attributes | 0x10);
    EntryRef ref = WriteEntry(parent.index, name, entryOptions.attributes, clusters.front(), 0, entryOptions);
    ref.clusters = clusters;
    ref.folder = index;
    dirs_[static_cast<std::size_t>(index)].entry = ref;
    return DirHandle{index};
}

const EntryRef& FatImageBuilder::FolderEntry(DirHandle folder) const {
    if (folder.index <= 0) throw std::invalid_argument("FatImageBuilder: the root has no entry");
    return dirs_.at(static_cast<std::size_t>(folder.index)).entry;
}

EntryRef FatImageBuilder::AddFile(DirHandle parent, const std::string& name, const std::vector<std::uint8_t>& bytes,
                                  const FileOptions& options) {
    const std::uint32_t clusterBytes = BytesPerCluster();
    const auto count = static_cast<std::uint32_t>((bytes.size() + clusterBytes - 1) / clusterBytes);
    std::vector<std::uint32_t> clusters = count || !options.clusters.empty() ? AllocateClusters(count, options)
                                                                             : std::vector<std::uint32_t>{};
    Chain(clusters);
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        const std::size_t from = i * clusterBytes;
        const std::size_t n = from < bytes.size() ? std::min<std::size_t>(clusterBytes, bytes.size() - from) : 0;
        image_->Fill(ClusterOffset(clusters[i]), 0, clusterBytes);
        if (n) image_->Write(ClusterOffset(clusters[i]), bytes.data() + from, n);
    }
    const std::uint32_t size =
        options.sizeOverride != 0xFFFFFFFF ? options.sizeOverride : static_cast<std::uint32_t>(bytes.size());
    EntryRef ref = WriteEntry(parent.index, name, options.attributes, clusters.empty() ? 0 : clusters.front(), size,
                              options);
    ref.clusters = clusters;
    return ref;
}

void FatImageBuilder::Delete(const EntryRef& entry, bool clearChain) {
    image_->SetByte(entry.shortEntryOffset, 0xE5);
    for (std::uint64_t offset : entry.longEntryOffsets) image_->SetByte(offset, 0xE5);
    if (clearChain)
        for (std::uint32_t c : entry.clusters) fat_.at(c) = 0;
}

std::uint64_t FatImageBuilder::AddRawEntry(DirHandle dir, const std::vector<std::uint8_t>& entry32) {
    if (entry32.size() != 32) throw std::invalid_argument("FatImageBuilder: an entry has 32 bytes");
    const std::uint64_t offset = NextSlot(dirs_.at(static_cast<std::size_t>(dir.index)));
    image_->Write(offset, entry32.data(), 32);
    return offset;
}

void FatImageBuilder::WipeFat(bool keepRootChain) {
    for (std::size_t c = 2; c < fat_.size(); ++c) fat_[c] = 0;
    if (keepRootChain && options_.kind == FatKind::Fat32) Chain(dirs_[0].clusters);
}

void FatImageBuilder::SetFatEntry(std::uint32_t cluster, std::uint32_t value) { fat_.at(cluster) = value; }

std::uint32_t FatImageBuilder::FatEntry(std::uint32_t cluster) const { return fat_.at(cluster); }

void FatImageBuilder::MakeDirectoryLoop(DirHandle handle) {
    const Directory& dir = dirs_.at(static_cast<std::size_t>(handle.index));
    if (dir.clusters.empty()) throw std::invalid_argument("FatImageBuilder: the fixed root has no chain");
    fat_[dir.clusters.back()] = dir.clusters.front();
}

void FatImageBuilder::DamagePrimaryBootSector() { bootDamaged_ = true; }

void FatImageBuilder::PatchBootSector(std::uint32_t offset, const std::vector<std::uint8_t>& bytes, bool backupToo) {
    patches_.push_back({offset, bytes, backupToo});
}

void FatImageBuilder::ApplyPatches() {
    for (const auto& patch : patches_) {
        image_->Write(SectorOffset(0) + patch.offset, patch.bytes.data(), patch.bytes.size());
        if (patch.backupToo && options_.kind == FatKind::Fat32)
            image_->Write(SectorOffset(6) + patch.offset, patch.bytes.data(), patch.bytes.size());
    }
}

void FatImageBuilder::WriteBootSector() {
    const auto& o = options_;
    const bool fat32 = o.kind == FatKind::Fat32;
    std::vector<std::uint8_t> b(o.bytesPerSector, 0);
    b[0] = 0xEB;
    b[1] = fat32 ? 0x58 : 0x3C;
    b[2] = 0x90;
    PutText(b, 3, "TRANQUO ", 8);
    Put16(b, 11, o.bytesPerSector);
    b[13] = static_cast<std::uint8_t>(o.sectorsPerCluster);
    Put16(b, 14, o.reservedSectors);
    b[16] = o.numberOfFats;
    Put16(b, 17, o.rootEntries);
    Put16(b, 19, !fat32 && o.totalSectors < 65536 ? o.totalSectors : 0);
    b[21] = 0xF8;
    Put16(b, 22, fat32 ? 0 : fatSectors_);
    Put16(b, 24, 63);
    Put16(b, 26, 255);
    Put32(b, 28, o.mbrPartitionStart);
    Put32(b, 32, !fat32 && o.totalSectors < 65536 ? 0 : o.totalSectors);
    const std::uint32_t volumeId = 0x1234ABCD;
    if (fat32) {
        Put32(b, 36, fatSectors_);
        Put32(b, 44, o.rootCluster);
        Put16(b, 48, 1);
        Put16(b, 50, 6);
        b[64] = 0x80;
        b[66] = 0x29;
        Put32(b, 67, volumeId);
        PutText(b, 71, o.volumeLabel, 11);
        PutText(b, 82, "FAT32", 8);
    } else {
        b[36] = 0x80;
        b[38] = 0x29;
        Put32(b, 39, volumeId);
        PutText(b, 43, o.volumeLabel, 11);
        PutText(b, 54, o.kind == FatKind::Fat12 ? "FAT12" : "FAT16", 8);
    }
    b[510] = 0x55;
    b[511] = 0xAA;
    image_->Write(SectorOffset(0), b.data(), b.size());
    if (fat32) {
        image_->Write(SectorOffset(6), b.data(), b.size());
        std::vector<std::uint8_t> info(o.bytesPerSector, 0);
        Put32(info, 0, 0x41615252);
        Put32(info, 484, 0x61417272);
        Put32(info, 488, 0xFFFFFFFF);
        Put32(info, 492, 0xFFFFFFFF);
        Put32(info, 508, 0xAA550000);
        image_->Write(SectorOffset(1), info.data(), info.size());
        image_->Write(SectorOffset(7), info.data(), info.size());
    }
    if (bootDamaged_) {
        const std::uint8_t zeros[3] = {0, 0, 0};
        image_->Write(SectorOffset(0), zeros, 3);
        image_->Write(SectorOffset(0) + 11, zeros, 2);
        image_->Write(SectorOffset(0) + 510, zeros, 2);
    }
}

void FatImageBuilder::WriteFats() {
    const auto& o = options_;
    std::vector<std::uint8_t> table(std::size_t(fatSectors_) * o.bytesPerSector, 0);
    for (std::size_t c = 0; c < fat_.size(); ++c) {
        const std::uint32_t v = fat_[c];
        switch (o.kind) {
        case FatKind::Fat12: {
            const std::size_t at = c + c / 2;
            if (at + 1 >= table.size()) break;
            if (c % 2 == 0) {
                table[at] = static_cast<std::uint8_t>(v);
                table[at + 1] = static_cast<std::uint8_t>((table[at + 1] & 0xF0) | ((v >> 8) & 0x0F));
            } else {
                table[at] = static_cast<std::uint8_t>((table[at] & 0x0F) | ((v << 4) & 0xF0));
                table[at + 1] = static_cast<std::uint8_t>(v >> 4);
            }
            break;
        }
        case FatKind::Fat16:
            Put16(table, c * 2, v & 0xFFFF);
            break;
        case FatKind::Fat32:
            Put32(table, c * 4, v & 0x0FFFFFFF);
            break;
        }
    }
    for (std::uint32_t copy = 0; copy < o.numberOfFats; ++copy)
        image_->Write(SectorOffset(o.reservedSectors + copy * fatSectors_), table.data(), table.size());
}

std::shared_ptr<SparseImage> FatImageBuilder::Image() {
    WriteFats();
    WriteBootSector();
    ApplyPatches();
    if (options_.mbrPartitionStart) {
        const std::uint8_t type = options_.kind == FatKind::Fat12 ? 0x01 : options_.kind == FatKind::Fat16 ? 0x06 : 0x0C;
        const std::uint64_t sectors512 = std::uint64_t(options_.totalSectors) * options_.bytesPerSector / 512;
        const auto mbr = MakeMbr(options_.mbrPartitionStart, static_cast<std::uint32_t>(sectors512), type);
        image_->Write(0, mbr.data(), mbr.size());
    }
    return image_;
}

std::shared_ptr<SparseVolume> FatImageBuilder::Volume(bool wholeImage) {
    auto image = Image();
    if (wholeImage) return std::make_shared<SparseVolume>(image, options_.bytesPerSector, 0, image->Size());
    return std::make_shared<SparseVolume>(image, options_.bytesPerSector, VolumeOffset(),
                                          std::uint64_t(options_.totalSectors) * options_.bytesPerSector);
}

} // namespace testcommon
