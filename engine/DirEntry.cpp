#include "engine/DirEntry.h"

#include <cstring>

#include "engine/TextEncoding.h"

namespace engine {

namespace {

std::uint16_t U16(const RawEntry& raw, std::size_t at) {
    return static_cast<std::uint16_t>(raw[at] | (raw[at + 1] << 8));
}

constexpr const char* ForbiddenNameCharacters = "\"*+,./:;<=>?[\\]|";

} // namespace

DirEntry ParseDirEntry(const RawEntry& raw) {
    DirEntry e;
    std::memcpy(e.NameBytes.data(), raw.data(), 11);
    e.Attributes = raw[11];
    e.ReservedByte = raw[12];
    e.CreateTimeTenths = raw[13];
    e.CreateTime = U16(raw, 14);
    e.CreateDate = U16(raw, 16);
    e.LastAccessDate = U16(raw, 18);
    e.FirstClusterHigh = U16(raw, 20);
    e.WriteTime = U16(raw, 22);
    e.WriteDate = U16(raw, 24);
    e.FirstClusterLow = U16(raw, 26);
    e.FileSize = U16(raw, 28) | (static_cast<std::uint32_t>(U16(raw, 30)) << 16);
    return e;
}

LongNameEntry ParseLongNameEntry(const RawEntry& raw) {
    LongNameEntry e;
    e.Sequence = raw[0];
    e.Attributes = raw[11];
    e.Type = raw[12];
    e.Checksum = raw[13];
    e.FirstCluster = U16(raw, 26);
    static constexpr std::size_t At[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (std::size_t k = 0; k < 13; ++k) e.Units[k] = static_cast<char16_t>(U16(raw, At[k]));
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

} // namespace engine
