// The long-name entries met before a short entry, in the order of the
// folder, and the name they give it.
#pragma once

#include <string>
#include <vector>

#include "engine/DirEntry.h"

namespace wizard {

class LongNameParts {
public:
    static constexpr std::size_t MaxParts = 20;  // 255 characters

    void Add(const engine::LongNameEntry& part) {
        if (parts_.size() < MaxParts) parts_.push_back(part);
        else broken_ = true;
    }
    void Clear() {
        parts_.clear();
        broken_ = false;
    }
    // The name these parts give the short entry, or "" when they do not
    // belong to it. A live name is checked by its sequence numbers and its
    // checksum; a deleted one lost its numbers and its short name's first
    // byte, so its parts are taken in reverse order when their checksums agree.
    std::string NameFor(const engine::DirEntry& entry) const;
    bool Empty() const { return parts_.empty(); }
    // Whether the entry that follows these parts goes on with their name:
    // the next part of a live name (or its short entry), or another part of
    // a deleted name with the same checksum. The test that links a folder
    // to the cluster it continues in when the FAT is gone.
    bool ContinuesInto(const engine::RawEntry& next) const;

private:
    std::vector<engine::LongNameEntry> parts_;
    bool broken_ = false;
};

} // namespace wizard
