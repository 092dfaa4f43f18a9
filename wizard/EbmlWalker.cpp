#include "wizard/EbmlWalker.h"

#include <algorithm>
#include <array>
#include <bit>

namespace wizard {

namespace {

constexpr std::uint32_t EbmlHeader = 0x1A45DFA3;
constexpr std::uint32_t Segment = 0x18538067;
// The elements found at the top level of a segment.
constexpr std::array SegmentChildren = {
    0x114D9B74u, // SeekHead
    0x1549A966u, // Info
    0x1654AE6Bu, // Tracks
    0x1F43B675u, // Cluster
    0x1C53BB6Bu, // Cues
    0x1043A770u, // Chapters
    0x1254C367u, // Tags
    0x1941A469u, // Attachments
    0xECu,       // Void
    0xBFu,       // CRC-32
};
constexpr std::size_t MaxIdBytes = 4;
constexpr std::size_t MaxSizeBytes = 8;
constexpr std::size_t ElementHeaderBytes = MaxIdBytes + MaxSizeBytes;

// A variable-length number: its length is told by the first byte's leading
// zeros. Returns the bytes used, 0 when it is longer than allowed.
std::size_t VarInt(const std::uint8_t* bytes, std::size_t maxBytes, bool keepMarker, std::uint64_t& value,
                   bool& allOnes) {
    if (bytes[0] == 0) return 0;
    const auto length = static_cast<std::size_t>(std::countl_zero(bytes[0])) + 1;
    if (length > maxBytes) return 0;
    const std::uint8_t marker = static_cast<std::uint8_t>(0x80 >> (length - 1));
    value = keepMarker ? bytes[0] : bytes[0] & (marker - 1);
    allOnes = (bytes[0] & (marker - 1)) == marker - 1;
    for (std::size_t i = 1; i < length; ++i) {
        value = (value << 8) | bytes[i];
        allOnes = allOnes && bytes[i] == 0xFF;
    }
    return length;
}

} // namespace

bool EbmlWalker::Recognises(const std::uint8_t* first, std::size_t count) {
    return count >= ElementHeaderBytes && first[0] == 0x1A && first[1] == 0x45 && first[2] == 0xDF && first[3] == 0xA3;
}

void EbmlWalker::Start() {
    step_ = Step::Header;
    segmentEnd_ = 0;
    Read(0, ElementHeaderBytes);
}

void EbmlWalker::Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t) {
    std::uint64_t id = 0;
    std::uint64_t size = 0;
    bool unknownSize = false;
    const std::size_t idBytes = VarInt(bytes, MaxIdBytes, true, id, unknownSize);
    const std::size_t sizeBytes = idBytes ? VarInt(bytes + idBytes, MaxSizeBytes, false, size, unknownSize) : 0;
    if (sizeBytes == 0 || unknownSize) return GiveUp();
    const std::int64_t dataAt = at + static_cast<std::int64_t>(idBytes + sizeBytes);
    if (size > static_cast<std::uint64_t>(Limit() - dataAt)) return GiveUp();
    const std::int64_t end = dataAt + static_cast<std::int64_t>(size);
    switch (step_) {
    case Step::Header:
        if (id != EbmlHeader) return GiveUp();
        step_ = Step::Segment;
        return Read(end, ElementHeaderBytes);
    case Step::Segment:
        if (id != Segment) return GiveUp();
        segmentEnd_ = end;
        step_ = Step::Child;
        Cover(end);
        return Read(dataAt, ElementHeaderBytes);
    case Step::Child:
        if (std::find(SegmentChildren.begin(), SegmentChildren.end(), id) == SegmentChildren.end() ||
            end > segmentEnd_) {
            return GiveUp();
        }
        if (end == segmentEnd_) return Finish(end);
        return Read(end, ElementHeaderBytes);
    }
}

} // namespace wizard
