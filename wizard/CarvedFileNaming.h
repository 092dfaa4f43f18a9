// The step after the deep scan's pass that gives carved files back what the
// card's folders say of them: each carved file that an entry found on the
// card claims moves from its numbered name to "Deep Scan/<folders>/<name>"
// (names made safe, never over another file), takes the entry's write time,
// and is cut to the entry's size where its own format does not say where it
// ends. A carved file that is byte for byte a file the turbo scan saved
// whole in this run (same start, length and content) is removed: that copy
// stands for it. Everything else keeps its numbered name.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/SafeName.h"
#include "wizard/CardNameFinder.h"
#include "wizard/CarvedFile.h"
#include "wizard/DeepScanHost.h"
#include "wizard/EntryDataCopier.h"

namespace wizard {

struct NamingCounts {
    std::int32_t named = 0;         // moved to their names from the card
    std::int32_t alreadySaved = 0;  // removed: the turbo scan's copy stands for them
    std::int32_t copied = 0;        // copied from entries whose data the pass did not carve (named too)
    std::int64_t bytesCopied = 0;
    std::int64_t bytesRemoved = 0;  // cut off or removed with them
};

class CarvedFileNaming {
public:
    // deepScanFolder: where the carved files lie, ending in "/".
    CarvedFileNaming(std::string deepScanFolder, DeepScanHost& host);

    // Each file in turn (stop ends the loop); their records follow them.
    // Then, with copier, the entries whose data no carved file holds.
    NamingCounts Run(std::vector<CarvedFile>& carved, CardNameFinder& names, EntryDataCopier* copier);

private:
    void NameOne(CarvedFile& file, CardNameFinder& names);
    void CopyOne(const CardEntry& entry, EntryDataCopier& copier);
    // The folder below the Deep Scan folder for a safe path, made if need
    // be, and the file name; nullopt when it cannot be made.
    std::optional<std::pair<std::string, std::string>> CardFolder(const std::string& safePath);
    void RemoveEmptyFolders(const std::string& path) const;
    // The turbo scan's copy of the bytes from startOffset for bytes, if any.
    const TurboScanCopy* TurboCopy(std::int64_t startOffset, std::int64_t bytes) const;
    void CutToEntrySize(CarvedFile& file, const CardEntry& entry);
    // reportedPath: the name the host was told of the file by.
    bool RemoveIfAlreadySaved(const CarvedFile& file, const std::string& reportedPath);
    std::string MoveIntoCardFolders(const std::string& from, const std::string& safePath);

    std::string folder_;
    DeepScanHost& host_;
    std::vector<TurboScanCopy> turboCopies_;
    std::unordered_multimap<std::int64_t, std::size_t> turboCopyAt_;  // by start offset
    engine::TakenNames taken_;
    NamingCounts counts_;
};

} // namespace wizard
