// The 32-byte directory entries of FAT: the short entry and the long-name
// entry, parsed from raw bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace engine {

constexpr std::uint8_t AttrReadOnly = 0x01;
constexpr std::uint8_t AttrHidden = 0x02;
constexpr std::uint8_t AttrSystem = 0x04;
constexpr std::uint8_t AttrVolumeLabel = 0x08;
constexpr std::uint8_t AttrDirectory = 0x10;
constexpr std::uint8_t AttrArchive = 0x20;
constexpr std::uint8_t AttrLongName = 0x0F;
constexpr std::uint8_t DeletedMark = 0xE5;

using RawEntry = std::array<std::uint8_t, 32>;

struct DirEntry {
    std::array<std::uint8_t, 11> NameBytes{};
    std::uint8_t Attributes = 0;
    std::uint8_t ReservedByte = 0;
    std::uint8_t CreateTimeTenths = 0;
    std::uint16_t CreateTime = 0;
    std::uint16_t CreateDate = 0;
    std::uint16_t LastAccessDate = 0;
    std::uint16_t FirstClusterHigh = 0;
    std::uint16_t WriteTime = 0;
    std::uint16_t WriteDate = 0;
    std::uint16_t FirstClusterLow = 0;
    std::uint32_t FileSize = 0;

    std::int64_t FirstCluster() const { return FirstClusterLow + 65536LL * FirstClusterHigh; }
    bool IsDeleted() const { return NameBytes[0] == DeletedMark; }
};

struct LongNameEntry {
    std::uint8_t Sequence = 0;
    std::uint8_t Attributes = 0;
    std::uint8_t Type = 0;
    std::uint8_t Checksum = 0;
    std::uint16_t FirstCluster = 0;
    std::array<char16_t, 13> Units{};  // the 5, 6 and 2 units in name order
};

DirEntry ParseDirEntry(const RawEntry& raw);
LongNameEntry ParseLongNameEntry(const RawEntry& raw);

// The 11 name bytes as Windows-1252 characters without the blanks: base, or
// base "." extension. A leading 0x05 stands for the character 0xE5.
std::string BuildShortName(const DirEntry& entry);

// Whether a FAT date names a real day: month 1 to 12 and a day the month
// has (29 February only in leap years; 2100 is none). Cards hold anything.
bool IsRealFatDate(std::uint16_t date);
// Whether a FAT time is one: hours 0 to 23, minutes 0 to 59, seconds 0 to 58.
bool IsRealFatTime(std::uint16_t time);

// The name-byte test of a valid entry: byte 0 not a blank; no byte among
// the characters " * + , . / : ; < = > ? [ \ ] |; no control byte except a
// leading 0x05.
bool HasValidNameBytes(const DirEntry& entry);

// The checksum of the 11 name bytes that each long-name entry of the short
// entry carries.
std::uint8_t LongNameChecksum(const std::array<std::uint8_t, 11>& nameBytes);

} // namespace engine
