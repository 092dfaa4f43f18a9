#include "wizard/EntryDataCopier.h"

#include <algorithm>

#include "Typhex.h"
#include "engine/EngineText.h"
#include "engine/ExtensionAliases.h"
#include "engine/NewOutputFile.h"
#include "platform/oleauto.h"
#include "wizard/Carver.h"

namespace wizard {

namespace {

// Sectors read at once by the copy.
constexpr std::int32_t ChunkSectors = 2048;
// What the type check reads: enough for a start and its first headers, and
// little for each of the many entries a card may hold.
constexpr std::int32_t CheckSectors = 8;

std::string UpperTrimmed(const std::string& text) {
    std::string out = engine::TrimBlanks(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool SameType(const std::string& entryName, const std::string& databaseExtension) {
    const std::string wanted = UpperTrimmed(databaseExtension);
    const std::string own = UpperTrimmed(engine::GetExtension(entryName));
    return !wanted.empty() && (own == wanted || engine::ExtensionAliasOf(own) == wanted);
}

} // namespace

EntryDataCopier::EntryDataCopier(ISupportedFileTypes* types, engine::DriveNumber drive, std::int32_t bytesPerSector,
                                 std::int64_t driveSectors)
    : types_(types), drive_(drive), bytesPerSector_(bytesPerSector), driveSectors_(driveSectors),
      buffer_(static_cast<std::size_t>(ChunkSectors) * std::max(bytesPerSector, 1) + 1, 0) {}

bool EntryDataCopier::ReadAt(std::int64_t sector, std::int32_t count) {
    if (sector < 0 || count <= 0 || sector + count > driveSectors_ || sector + count > INT32_MAX) return false;
    return engine::ReadSectors(drive_, static_cast<std::int32_t>(sector), static_cast<std::int16_t>(count),
                               buffer_.data(), buffer_.size()) != 0;
}

std::optional<std::string> EntryDataCopier::TypeCheck(const CardEntry& entry) {
    if (!types_ || bytesPerSector_ <= 0 || entry.size == 0 || entry.firstByte % bytesPerSector_ != 0) return std::nullopt;
    const std::int64_t sector = entry.firstByte / bytesPerSector_;
    const std::int64_t sectors = (static_cast<std::int64_t>(entry.size) + bytesPerSector_ - 1) / bytesPerSector_;
    // The whole file must lie on the drive.
    if (sector + sectors > driveSectors_) return std::nullopt;
    const auto count = static_cast<std::int32_t>(std::min<std::int64_t>(sectors, CheckSectors));
    if (!ReadAt(sector, count)) return std::nullopt;
    // Only what was read is shown: the rest of the buffer holds older bytes.
    const std::size_t read = static_cast<std::size_t>(count) * static_cast<std::size_t>(bytesPerSector_);
    platform::BorrowedByteArray array(buffer_.data(), static_cast<ULONG>(read));
    VARIANT bytes = array.ByRefVariant();
    Carver carver(types_, bytesPerSector_, driveSectors_ * bytesPerSector_);
    const SectorView view{&bytes, buffer_.data(), read, 0, bytesPerSector_, sector};
    const CarveDecision decision = carver.Examine(view);
    if (decision.action != CarveAction::Start && decision.action != CarveAction::EndPreviousAndStart)
        return std::nullopt;
    // A structure that ends the file before the entry's size says the bytes
    // there are another file's.
    if (decision.endBytes && decision.endBytes->rule == CarvedEndRule::Structure &&
        decision.endBytes->bytes < static_cast<std::int64_t>(entry.size))
        return std::nullopt;
    if (!SameType(entry.cardPath, carver.Extension())) return std::nullopt;
    return carver.Extension();
}

std::optional<EntryDataCopier::Copied> EntryDataCopier::Copy(const CardEntry& entry, const std::string& folder,
                                                             const std::string& name,
                                                             const std::function<std::string()>& nextName) {
    const auto size = static_cast<std::int64_t>(entry.size);
    if (copiedBytes_ + size > driveSectors_ * bytesPerSector_) return std::nullopt;
    engine::NewOutputFile output;
    std::string why;
    if (!output.Open(folder, &why)) return std::nullopt;
    Copied copied;
    copied.whole = true;
    std::int64_t sector = entry.firstByte / bytesPerSector_;
    for (std::int64_t left = static_cast<std::int64_t>(entry.size); left > 0 && copied.whole;) {
        const std::int64_t sectors = std::min<std::int64_t>((left + bytesPerSector_ - 1) / bytesPerSector_, ChunkSectors);
        const auto bytes = static_cast<std::int32_t>(std::min<std::int64_t>(left, sectors * bytesPerSector_));
        copied.whole = ReadAt(sector, static_cast<std::int32_t>(sectors)) &&
                       output.Write(buffer_.data(), buffer_.size(), 0, bytes);
        sector += sectors;
        left -= bytes;
    }
    copied.whole = output.Close() && copied.whole;
    if (!copied.whole) {
        output.Discard();
        return std::nullopt;
    }
    copied.sha256 = output.Digest();
    copied.bytes = output.BytesWritten();
    copiedBytes_ += copied.bytes;
    const std::string given = output.Commit(name, nextName, &why);
    if (given.empty()) return std::nullopt;
    copied.path = folder + given;
    return copied;
}

} // namespace wizard
