#include "engine/DirEntry.h"

#include <cstring>

#include "engine/TextEncoding.h"
#include "platform/littleendian.h"

namespace engine {

namespace {

// Where a directory entry's fields lie; a long-name entry shares the
// attribute byte and the cluster word with it.
enum DirEntryOffset : std::size_t {
    DIR_Name = 0,
    DIR_Attr = 11,
    DIR_NTRes = 12,
    DIR_CrtTimeTenth = 13,
    DIR_CrtTime = 14,
    DIR_CrtDate = 16,
    DIR_LstAccDate = 18,
    DIR_FstClusHI = 20,
    DIR_WrtTime = 22,
    DIR_WrtDate = 24,
    DIR_FstClusLO = 26,
    DIR_FileSize = 28,
    LDIR_Ord = 0,
    LDIR_Name1 = 1,  // five UTF-16 units
    LDIR_Attr = 11,
    LDIR_Type = 12,
    LDIR_Chksum = 13,
    LDIR_Name2 = 14, // six units
    LDIR_FstClusLO = 26,
    LDIR_Name3 = 28, // two units
};

constexpr const char* ForbiddenNameCharacters = "\"*+,./:;<=>?[\\]|";

} // namespace

DirEntry ParseDirEntry(const RawEntry& raw) {
    using namespace platform;
    const ByteView in(raw);
    DirEntry e;
    ReadBytes(in, DIR_Name, e.NameBytes);
    e.Attributes = ReadU8(in, DIR_Attr);
    e.ReservedByte = ReadU8(in, DIR_NTRes);
    e.CreateTimeTenths = ReadU8(in, DIR_CrtTimeTenth);
    e.CreateTime = ReadLe16(in, DIR_CrtTime);
    e.CreateDate = ReadLe16(in, DIR_CrtDate);
    e.LastAccessDate = ReadLe16(in, DIR_LstAccDate);
    e.FirstClusterHigh = ReadLe16(in, DIR_FstClusHI);
    e.WriteTime = ReadLe16(in, DIR_WrtTime);
    e.WriteDate = ReadLe16(in, DIR_WrtDate);
    e.FirstClusterLow = ReadLe16(in, DIR_FstClusLO);
    e.FileSize = ReadLe32(in, DIR_FileSize);
    return e;
}

LongNameEntry ParseLongNameEntry(const RawEntry& raw) {
    using namespace platform;
    const ByteView in(raw);
    LongNameEntry e;
    e.Sequence = ReadU8(in, LDIR_Ord);
    e.Attributes = ReadU8(in, LDIR_Attr);
    e.Type = ReadU8(in, LDIR_Type);
    e.Checksum = ReadU8(in, LDIR_Chksum);
    e.FirstCluster = ReadLe16(in, LDIR_FstClusLO);
    static constexpr std::size_t At[13] = {LDIR_Name1,      LDIR_Name1 + 2,  LDIR_Name1 + 4,  LDIR_Name1 + 6,
                                           LDIR_Name1 + 8,  LDIR_Name2,      LDIR_Name2 + 2,  LDIR_Name2 + 4,
                                           LDIR_Name2 + 6,  LDIR_Name2 + 8,  LDIR_Name2 + 10, LDIR_Name3,
                                           LDIR_Name3 + 2};
    for (std::size_t k = 0; k < 13; ++k) e.Units[k] = static_cast<char16_t>(ReadLe16(in, At[k]));
    return e;
}

std::string BuildShortName(const DirEntry& entry) {
    std::uint8_t base[8];
    std::size_t baseLength = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        std::uint8_t b = entry.NameBytes[i];
        if (i == 0 && b == 0x05) b = DeletedMark;
        if (b != ' ') base[baseLength++] = b;
    }
    std::uint8_t ext[3];
    std::size_t extLength = 0;
    for (std::size_t i = 8; i < 11; ++i)
        if (entry.NameBytes[i] != ' ') ext[extLength++] = entry.NameBytes[i];
    std::string name = Utf8FromCp1252(base, baseLength);
    if (extLength) name += "." + Utf8FromCp1252(ext, extLength);
    return name;
}

bool HasValidNameBytes(const DirEntry& entry) {
    if (entry.NameBytes[0] == ' ') return false;
    for (std::size_t i = 0; i < 11; ++i) {
        const std::uint8_t b = entry.NameBytes[i];
        if (b >= 0x20) {
            if (std::strchr(ForbiddenNameCharacters, b) != nullptr) return false;
        } else if (!(i == 0 && b == 0x05)) {
            return false;
        }
    }
    return true;
}

bool IsRealFatDate(std::uint16_t date) {
    static constexpr int DaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int year = 1980 + (date >> 9), month = (date >> 5) & 15, day = date & 31;
    if (month < 1 || month > 12 || day < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= DaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool IsRealFatTime(std::uint16_t time) { return (time >> 11) <= 23 && ((time >> 5) & 63) <= 59 && (time & 31) <= 29; }

std::uint8_t LongNameChecksum(const std::array<std::uint8_t, 11>& nameBytes) {
    std::uint8_t sum = 0;
    for (const std::uint8_t b : nameBytes) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + b);
    return sum;
}

} // namespace engine
