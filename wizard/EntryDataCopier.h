// Files whose entries the card's folders still hold but whose data the
// carver never met as a file of its own (its start lay inside a file carved
// before it, say): copied from their first cluster for the entry's size, as
// one run of clusters (after a format no FAT says otherwise), and only when
// the bytes there start a file of the entry's type.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/RawDevice.h"
#include "wizard/CardNameFinder.h"

struct ISupportedFileTypes;

namespace wizard {

class EntryDataCopier {
public:
    EntryDataCopier(ISupportedFileTypes* types, engine::DriveNumber drive, std::int32_t bytesPerSector,
                    std::int64_t driveSectors);

    // The extension (as the database holds it) of the type that starts at
    // the entry's first byte, when it is the entry's own type; nullopt when
    // the bytes there are not of its type, or cannot be read.
    std::optional<std::string> TypeCheck(const CardEntry& entry);

    struct Copied {
        std::string path;
        std::int64_t bytes = 0;
        std::string sha256;
        bool whole = false;  // every byte was read and written
    };
    // Writes the entry's bytes as a new file named name in folder (the next
    // free name from nextName when it is taken meanwhile); nullopt when no
    // file could be made, or when the copies would come to more bytes than
    // the drive holds (a card whose entries claim the same bytes over and
    // over does not fill the destination).
    std::optional<Copied> Copy(const CardEntry& entry, const std::string& folder, const std::string& name,
                               const std::function<std::string()>& nextName);

private:
    bool ReadAt(std::int64_t sector, std::int32_t count);

    ISupportedFileTypes* types_;
    engine::DriveNumber drive_;
    std::int32_t bytesPerSector_;
    std::int64_t driveSectors_;
    std::vector<std::uint8_t> buffer_;
    std::int64_t copiedBytes_ = 0;
};

} // namespace wizard
