#include "engine/ExFatEntrySet.h"

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

#include "engine/DirEntry.h"
#include "engine/TextEncoding.h"

namespace engine {

namespace {

using platform::ByteView;

constexpr std::uint8_t InUse = 0x80;
constexpr std::uint8_t EndOfDirectory = 0x00;
constexpr std::uint8_t BitmapType = 0x81;
constexpr std::uint8_t UpcaseType = 0x82;
constexpr std::uint8_t FileType = 0x85;
constexpr std::uint8_t StreamType = 0xC0;
constexpr std::uint8_t NameType = 0xC1;
constexpr std::uint8_t SecondaryBit = 0x40;  // with 0x80 clear and 0x20 clear: a critical secondary
constexpr std::size_t NameUnitsPerEntry = 15;

// Where the fields lie in each kind of entry.
enum : std::size_t {
    File_SecondaryCount = 1,
    File_SetChecksum = 2,
    File_Attributes = 4,
    File_Create = 8,
    File_Modified = 12,
    File_Accessed = 16,
    File_Create10ms = 20,
    File_Modified10ms = 21,
    File_CreateUtc = 22,
    File_ModifiedUtc = 23,
    File_AccessedUtc = 24,
    Stream_Flags = 1,
    Stream_NameLength = 3,
    Stream_ValidDataLength = 8,
    Stream_FirstCluster = 20,
    Stream_DataLength = 24,
    Name_Units = 2,
    Bitmap_Flags = 1,
    Bitmap_FirstCluster = 20,
    Bitmap_DataLength = 24,
};

constexpr std::uint8_t NoFatChainFlag = 0x02;

// A set's secondary entry: the type byte with its in-use bit as the set's.
bool IsSecondary(std::uint8_t type, bool deleted) {
    const bool inUse = (type & InUse) != 0;
    return inUse != deleted && (type & SecondaryBit) != 0;
}

// The set starting at at, when it is one: whole, well formed and with its
// checksum; false otherwise.
bool ParseSet(ByteView bytes, std::size_t at, ExFatEntrySet& set, std::size_t& length) {
    using namespace platform;
    const std::uint8_t type = ReadU8(bytes, at);
    const bool deleted = type == (FileType & ~InUse);
    const std::size_t secondaries = ReadU8(bytes, at + File_SecondaryCount);
    // A stream extension and at least one name entry; at most 17 of them.
    if (secondaries < 2 || secondaries > 18) return false;
    length = (secondaries + 1) * ExFatEntrySize;
    if (at + length > bytes.size()) return false;
    const std::size_t stream = at + ExFatEntrySize;
    const std::uint8_t streamType = deleted ? (StreamType & ~InUse) : StreamType;
    if (ReadU8(bytes, stream) != streamType) return false;
    const std::size_t nameLength = ReadU8(bytes, stream + Stream_NameLength);
    const std::size_t nameEntries = (nameLength + NameUnitsPerEntry - 1) / NameUnitsPerEntry;
    if (nameLength == 0 || nameEntries > secondaries - 1) return false;
    const std::uint8_t nameType = deleted ? (NameType & ~InUse) : NameType;
    for (std::size_t k = 0; k < nameEntries; ++k)
        if (ReadU8(bytes, stream + (k + 1) * ExFatEntrySize) != nameType) return false;
    for (std::size_t k = nameEntries + 1; k < secondaries; ++k)
        if (!IsSecondary(ReadU8(bytes, stream + k * ExFatEntrySize), deleted)) return false;
    const ByteView whole = bytes.subspan(at, length);
    if (ExFatEntrySetChecksum(whole, deleted) != ReadLe16(bytes, at + File_SetChecksum)) return false;

    set.Deleted = deleted;
    set.Offset = at;
    set.Attributes = ReadLe16(bytes, at + File_Attributes);
    set.CreateTimestamp = ReadLe32(bytes, at + File_Create);
    set.ModifiedTimestamp = ReadLe32(bytes, at + File_Modified);
    set.AccessedTimestamp = ReadLe32(bytes, at + File_Accessed);
    set.Create10ms = ReadU8(bytes, at + File_Create10ms);
    set.Modified10ms = ReadU8(bytes, at + File_Modified10ms);
    set.CreateUtcOffset = ReadU8(bytes, at + File_CreateUtc);
    set.ModifiedUtcOffset = ReadU8(bytes, at + File_ModifiedUtc);
    set.AccessedUtcOffset = ReadU8(bytes, at + File_AccessedUtc);
    set.NoFatChain = (ReadU8(bytes, stream + Stream_Flags) & NoFatChainFlag) != 0;
    set.FirstCluster = ReadLe32(bytes, stream + Stream_FirstCluster);
    set.DataLength = ReadLe64(bytes, stream + Stream_DataLength);
    set.ValidDataLength = ReadLe64(bytes, stream + Stream_ValidDataLength);
    std::u16string units;
    for (std::size_t k = 0; k < nameLength; ++k) {
        const std::size_t entry = stream + (k / NameUnitsPerEntry + 1) * ExFatEntrySize;
        const char16_t unit = static_cast<char16_t>(ReadLe16(bytes, entry + Name_Units + 2 * (k % NameUnitsPerEntry)));
        if (unit == 0) break;
        units.push_back(unit);
    }
    set.Name = Utf8FromUtf16Units(units.data(), units.size());
    return true;
}

} // namespace

std::uint16_t ExFatEntrySetChecksum(ByteView set, bool deleted) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < set.size(); ++i) {
        if (i == File_SetChecksum || i == File_SetChecksum + 1) continue;
        std::uint8_t byte = set[i];
        if (deleted && i % ExFatEntrySize == 0) byte |= InUse;
        sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + byte);
    }
    return sum;
}

ExFatDirectoryContents ParseExFatDirectory(ByteView bytes) {
    ExFatDirectoryContents contents;
    std::size_t at = 0;
    // Every pass moves on by at least one entry.
    while (at + ExFatEntrySize <= bytes.size()) {
        const std::uint8_t type = platform::ReadU8(bytes, at);
        if (type == EndOfDirectory) {
            contents.Ended = true;
            break;
        }
        std::size_t length = ExFatEntrySize;
        if (type == FileType || type == (FileType & ~InUse)) {
            ExFatEntrySet set;
            std::size_t setLength = 0;
            if (ParseSet(bytes, at, set, setLength)) {
                contents.Sets.push_back(std::move(set));
                length = setLength;
            }
        } else if (type == BitmapType) {
            ExFatBitmapEntry bitmap;
            bitmap.FatIndex = platform::ReadU8(bytes, at + Bitmap_Flags) & 1;
            bitmap.FirstCluster = platform::ReadLe32(bytes, at + Bitmap_FirstCluster);
            bitmap.DataLength = platform::ReadLe64(bytes, at + Bitmap_DataLength);
            contents.Bitmaps.push_back(bitmap);
        } else if (type == UpcaseType) {
            contents.HasUpcaseTable = true;
        }
        at += length;
    }
    return contents;
}

std::int64_t ExFatTimestampSeconds(std::uint32_t timestamp, std::uint8_t utcOffset) {
    const std::uint16_t date = static_cast<std::uint16_t>(timestamp >> 16);
    const std::uint16_t time = static_cast<std::uint16_t>(timestamp & 0xFFFF);
    // mktime and timegm would turn 29 February of a common year into March.
    if (!IsRealFatDate(date) || !IsRealFatTime(time)) return -1;
    std::tm when{};
    when.tm_year = 80 + (date >> 9);
    when.tm_mon = ((date >> 5) & 15) - 1;
    when.tm_mday = date & 31;
    when.tm_hour = time >> 11;
    when.tm_min = (time >> 5) & 63;
    when.tm_sec = (time & 31) * 2;
    if (!(utcOffset & 0x80)) {
        when.tm_isdst = -1;
        const std::time_t local = std::mktime(&when);
        return local == static_cast<std::time_t>(-1) ? -1 : static_cast<std::int64_t>(local);
    }
    // Seven-bit two's complement: 15-minute steps from -16 h to +15:45.
    const int steps = (utcOffset & 0x40) ? static_cast<int>(utcOffset & 0x7F) - 128 : (utcOffset & 0x7F);
    return static_cast<std::int64_t>(timegm(&when)) - std::int64_t(steps) * 15 * 60;
}

void ApplyWriteTime(const std::string& path, std::uint16_t date, std::uint16_t time, std::uint8_t time10ms,
                    std::uint8_t utcOffset) {
    const std::int64_t seconds = ExFatTimestampSeconds((std::uint32_t(date) << 16) | time, utcOffset);
    if (seconds < 0) return;
    const int steps = time10ms <= 199 ? time10ms : 0;
    const timespec when{static_cast<std::time_t>(seconds + steps / 100), static_cast<long>(steps % 100) * 10000000L};
    const timespec times[2] = {when, when};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

} // namespace engine
