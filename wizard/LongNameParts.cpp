#include "wizard/LongNameParts.h"

#include <algorithm>

#include "engine/TextEncoding.h"

namespace wizard {

std::string LongNameParts::NameFor(const engine::DirEntry& entry) const {
    if (parts_.empty() || broken_) return "";
    const std::uint8_t checksum = parts_.front().Checksum;
    for (const auto& p : parts_)
        if (p.Checksum != checksum) return "";
    const bool deleted = entry.IsDeleted();
    if (!deleted) {
        if (engine::LongNameChecksum(entry.NameBytes) != checksum) return "";
        if (parts_.front().Sequence != (0x40 | parts_.size())) return "";
        for (std::size_t i = 0; i < parts_.size(); ++i)
            if ((parts_[i].Sequence & 0x1F) != parts_.size() - i) return "";
    } else if (!std::all_of(parts_.begin(), parts_.end(),
                            [](const auto& p) { return p.Sequence == engine::DeletedMark; })) {
        return "";
    }
    std::vector<char16_t> units;
    for (auto it = parts_.rbegin(); it != parts_.rend(); ++it) units.insert(units.end(), it->Units.begin(), it->Units.end());
    const auto end = std::find(units.begin(), units.end(), char16_t(0));
    return engine::Utf8FromUtf16Units(units.data(), static_cast<std::size_t>(end - units.begin()));
}

bool LongNameParts::ContinuesInto(const engine::RawEntry& next) const {
    if (parts_.empty() || broken_) return false;
    const engine::LongNameEntry& last = parts_.back();
    if (next[11] == engine::AttrLongName) {
        const engine::LongNameEntry part = engine::ParseLongNameEntry(next);
        if (part.Checksum != last.Checksum) return false;
        if (last.Sequence == engine::DeletedMark) return part.Sequence == engine::DeletedMark;
        return (last.Sequence & 0x1F) == (part.Sequence & 0x1F) + 1 && !(part.Sequence & 0x40);
    }
    const engine::DirEntry entry = engine::ParseDirEntry(next);
    if (next[0] == 0 || entry.IsDeleted() != (last.Sequence == engine::DeletedMark)) return false;
    return entry.IsDeleted() || ((last.Sequence & 0x1F) == 1 && engine::LongNameChecksum(entry.NameBytes) == last.Checksum);
}

} // namespace wizard
