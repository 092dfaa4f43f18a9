#include "wizard/DirectorySector.h"

#include <algorithm>

#include "engine/DirEntry.h"
#include "platform/littleendian.h"

namespace wizard {

namespace {

using engine::RawEntry;

constexpr std::size_t EntryBytes = 32;
// Long names have at most 255 characters: 20 entries of 13.
constexpr std::uint8_t MaxLongNameEntries = 20;
constexpr std::uint8_t LastLongNameEntry = 0x40;
// Bits of byte 12 that Windows uses for the case of an 8.3 name.
constexpr std::uint8_t NameCaseBits = 0x18;

bool IsValidTime(std::uint16_t t) { return (t & 0x1F) <= 29 && ((t >> 5) & 0x3F) <= 59 && (t >> 11) <= 23; }

// 0 stands for a date the device did not set.
bool IsValidDate(std::uint16_t d) {
    if (d == 0) return true;
    const unsigned day = d & 0x1F, month = (d >> 5) & 0x0F;
    return day >= 1 && month >= 1 && month <= 12;
}

bool HasValidStamps(const engine::DirEntry& e) {
    return IsValidTime(e.WriteTime) && IsValidDate(e.WriteDate) && IsValidTime(e.CreateTime) &&
           IsValidDate(e.CreateDate) && IsValidDate(e.LastAccessDate) && e.CreateTimeTenths <= 199;
}

bool IsDotName(const engine::DirEntry& e, int dots) {
    for (int i = 0; i < 11; ++i)
        if (e.NameBytes[static_cast<std::size_t>(i)] != (i < dots ? '.' : ' ')) return false;
    return true;
}

bool IsPlausibleShortEntry(const engine::DirEntry& e, const DirectorySectorBounds& bounds) {
    if ((e.Attributes & 0xC0) != 0 || (e.ReservedByte & ~NameCaseBits) != 0) return false;
    if (!engine::HasValidNameBytes(e) || !HasValidStamps(e)) return false;
    const std::int64_t cluster = e.FirstCluster();
    if (e.Attributes & engine::AttrVolumeLabel)
        return !(e.Attributes & engine::AttrDirectory) && cluster == 0 && e.FileSize == 0;
    if (e.Attributes & engine::AttrDirectory) return e.FileSize == 0 && cluster >= 2 && cluster <= bounds.maxCluster;
    if (e.FileSize == 0) return cluster == 0;
    return cluster >= 2 && cluster <= bounds.maxCluster && e.FileSize <= bounds.maxFileSize;
}

bool IsPlausibleDotEntry(const engine::DirEntry& e, int dots, const DirectorySectorBounds& bounds) {
    if (!IsDotName(e, dots) || !(e.Attributes & engine::AttrDirectory) || e.FileSize != 0) return false;
    if ((e.Attributes & 0xC8) != 0 || !HasValidStamps(e)) return false;
    const std::int64_t cluster = e.FirstCluster();
    return cluster <= bounds.maxCluster && (dots == 2 || cluster >= 2);
}

// A long-name entry on its own: type 0, cluster word 0, a sequence number
// of 1 to 20 (or the deletion mark), and the name's units ending in 0 and
// then padded.
bool IsPlausibleLongNameEntry(const engine::LongNameEntry& e) {
    if (e.Attributes != engine::AttrLongName || e.Type != 0 || e.FirstCluster != 0) return false;
    if (e.Sequence != engine::DeletedMark) {
        const unsigned number = e.Sequence & 0x1F;
        if ((e.Sequence & 0xA0) != 0 || number < 1 || number > MaxLongNameEntries) return false;
    }
    bool ended = false;
    for (const char16_t unit : e.Units) {
        if (ended) {
            // Padding: 0xFFFF as the format asks, or zeros as some devices write.
            if (unit != 0xFFFF && unit != 0) return false;
        } else if (unit == 0) {
            ended = true;
        } else if (unit < 0x20) {
            return false;
        }
    }
    return true;
}

// The first entry's bytes that rule most sectors out at once: a sector of
// zeros (nothing to learn) or of a photo's data.
bool FirstEntryMayBeOne(std::span<const std::uint8_t> sector) {
    if (sector[0] == 0) return false;
    const std::uint8_t attributes = sector[11];
    if (attributes & 0xC0) return false;
    if (attributes == engine::AttrLongName) return sector[12] == 0 && sector[26] == 0 && sector[27] == 0;
    return (sector[12] & ~NameCaseBits) == 0;
}

bool RestIsZero(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// The live long name being followed: the sequence number the next entry
// must carry (0: none open; ShortEntryDue: the entry it names) and its
// checksum.
constexpr unsigned ShortEntryDue = 0x100;
struct LongNameChain {
    unsigned expected = 0;
    std::uint8_t checksum = 0;
};

// Takes the next long-name entry of a sector (first: its first entry);
// false when it breaks the name being followed.
bool FollowLongName(const engine::LongNameEntry& lfn, bool first, LongNameChain& name) {
    if (!IsPlausibleLongNameEntry(lfn)) return false;
    if (lfn.Sequence == engine::DeletedMark) {
        // A deleted name's order is lost: nothing to hold it to, but it
        // cannot interrupt a live one.
        return name.expected == 0;
    }
    if ((lfn.Sequence & LastLongNameEntry) || (name.expected == 0 && first)) {
        // A name's last part comes first; or a name that began in the
        // sector before.
        if (name.expected != 0) return false;
        name.expected = (lfn.Sequence & 0x1F) - 1u;
        name.checksum = lfn.Checksum;
        if (name.expected == 0) name.expected = ShortEntryDue;
        return true;
    }
    if (name.expected != (lfn.Sequence & 0x1Fu) || lfn.Checksum != name.checksum) return false;
    name.expected = name.expected == 1 ? ShortEntryDue : name.expected - 1;
    return true;
}

} // namespace

DirectorySectorTest TestDirectorySector(std::span<const std::uint8_t> sector, const DirectorySectorBounds& bounds) {
    DirectorySectorTest result;
    const std::size_t count = sector.size() / EntryBytes;
    if (count == 0 || sector.size() % EntryBytes != 0 || !FirstEntryMayBeOne(sector)) return result;
    LongNameChain name;
    bool startsWithDots = false;
    std::size_t named = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto bytes = sector.subspan(i * EntryBytes, EntryBytes);
        RawEntry raw{};
        std::copy(bytes.begin(), bytes.end(), raw.begin());
        if (raw[0] == 0) {
            // The end marker: nothing follows it in the folder.
            if (!RestIsZero(sector.subspan(i * EntryBytes))) return {};
            if (name.expected != 0 || named == 0) return {};
            result.endsFolder = true;
            break;
        }
        if (raw[11] == engine::AttrLongName) {
            if (!FollowLongName(engine::ParseLongNameEntry(raw), i == 0, name)) return {};
            ++named;
            continue;
        }
        const engine::DirEntry entry = engine::ParseDirEntry(raw);
        if (i < 2 && IsPlausibleDotEntry(entry, static_cast<int>(i) + 1, bounds) && (i == 0 || startsWithDots)) {
            if (i == 0) {
                startsWithDots = true;
                result.ownCluster = entry.FirstCluster();
            } else {
                result.parentCluster = entry.FirstCluster();
            }
            ++named;
            continue;
        }
        if (i == 1 && startsWithDots) return {};  // "." without ".."
        if (!IsPlausibleShortEntry(entry, bounds)) return {};
        if (name.expected != 0) {
            // A live long name must end right here, in the entry it names.
            if (name.expected != ShortEntryDue || entry.IsDeleted() ||
                engine::LongNameChecksum(entry.NameBytes) != name.checksum)
                return {};
            name.expected = 0;
        }
        ++named;
    }
    if (named == 0) return {};
    result.kind = startsWithDots ? DirectorySectorKind::FolderStart : DirectorySectorKind::FolderPart;
    return result;
}

} // namespace wizard
