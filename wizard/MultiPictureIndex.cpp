#include "wizard/MultiPictureIndex.h"

#include <algorithm>
#include <cstring>

#include "platform/bigendian.h"

namespace wizard {

namespace {

constexpr std::size_t SignatureBytes = 4; // "MPF\0"; the index's TIFF header follows
constexpr std::uint32_t MpEntryTag = 0xB002;
constexpr std::size_t EntryBytes = 16;    // attributes, size, offset, two dependent images
constexpr std::uint32_t MaxEntries = 64;

// Reads numbers of the index in its own byte order, bounded by its bytes.
struct IndexReader {
    platform::ByteView bytes;
    bool bigEndian;
    std::uint32_t U16(std::size_t at) const {
        return bigEndian ? platform::ReadBe16(bytes, at) : platform::ReadLe16(bytes, at);
    }
    std::uint32_t U32(std::size_t at) const {
        return bigEndian ? platform::ReadBe32(bytes, at) : platform::ReadLe32(bytes, at);
    }
};

} // namespace

std::int64_t MultiPictureEnd(const std::uint8_t* data, std::size_t count, std::int64_t dataAt) {
    if (count < SignatureBytes + 8 || std::memcmp(data, "MPF\0", SignatureBytes) != 0) return 0;
    // Offsets count from the index's TIFF header.
    const platform::ByteView tiff(data + SignatureBytes, count - SignatureBytes);
    const bool big = tiff[0] == 'M' && tiff[1] == 'M';
    if (!big && !(tiff[0] == 'I' && tiff[1] == 'I')) return 0;
    const IndexReader index{tiff, big};
    const std::size_t directory = index.U32(4);
    const std::uint32_t tags = index.U16(directory);
    if (index.U16(2) != 42 || directory + 2 + 12 * static_cast<std::size_t>(tags) > tiff.size()) return 0;
    const std::int64_t base = dataAt + static_cast<std::int64_t>(SignatureBytes);
    std::int64_t end = 0;
    for (std::uint32_t t = 0; t < tags; ++t) {
        const std::size_t tag = directory + 2 + 12 * static_cast<std::size_t>(t);
        if (index.U16(tag) != MpEntryTag) continue;
        const std::uint32_t entries = index.U32(tag + 4) / EntryBytes;
        const std::size_t entriesAt = index.U32(tag + 8);
        if (entries > MaxEntries || entriesAt + entries * EntryBytes > tiff.size()) return 0;
        for (std::uint32_t e = 0; e < entries; ++e) {
            const std::size_t entry = entriesAt + e * EntryBytes;
            const std::int64_t size = index.U32(entry + 4);
            const std::int64_t offset = index.U32(entry + 8);
            // The first picture is the one holding the index: offset 0.
            if (offset != 0) end = std::max(end, base + offset + size);
        }
    }
    return end;
}

} // namespace wizard
