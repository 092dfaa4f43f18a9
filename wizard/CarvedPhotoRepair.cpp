#include "wizard/CarvedPhotoRepair.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "engine/NewOutputFile.h"
#include "platform/ui.h"
#include "wizard/JpegRepair.h"
#include "wizard/SectorSource.h"

namespace wizard {

namespace {

bool IsJpegExtension(std::string extension) {
    while (!extension.empty() && extension.back() == ' ') extension.pop_back();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == "jpg" || extension == "jpeg" || extension == "jpe";
}

// Ended by what the scan's rules saw of the drive, not by a guess: such
// files hold no piece of another file.
bool CarvedWhole(const CarvedFile& file) {
    return file.how == CarvedFileEnd::Complete &&
           (file.rule == CarvedEndRule::Structure || file.rule == CarvedEndRule::EndPattern ||
            file.rule == CarvedEndRule::FixedSize);
}

struct Written {
    bool ok = false;
    std::int64_t bytes = 0;
    std::string sha256;
};

// Writes the runs' bytes as a new file in the folder of path and puts it in
// path's place. The old file stays when anything fails.
Written Replace(const std::string& path, const std::vector<DriveRun>& runs, engine::DriveNumber drive) {
    Written result;
    const std::filesystem::path old(path);
    const std::string folder = old.parent_path().string() + "/";
    engine::NewOutputFile output;
    if (!output.Open(folder, nullptr)) return result;
    std::vector<BYTE> chunk(1 << 20);
    bool ok = true;
    for (const DriveRun& run : runs) {
        for (std::int64_t at = 0; ok && at < run.length;) {
            const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(run.length - at, chunk.size()));
            const std::int64_t got = ReadDriveBytes(drive, static_cast<std::uint64_t>(run.offset + at), chunk.data(), want);
            ok = got == want && output.Write(chunk.data(), chunk.size(), 0, static_cast<std::int32_t>(got));
            at += want;
        }
    }
    const std::int64_t bytes = output.BytesWritten();
    ok = output.Close() && ok;
    if (!ok) return result; // the temporary file is removed with output
    const std::string sha256 = output.Digest();
    // Named beside the old file first (a name left by an earlier run is not
    // taken over), then moved over it in one step.
    const std::string stem = "." + old.filename().string() + ".repaired";
    int tries = 0;
    const std::string temporary =
        output.Commit(stem, [&stem, &tries] { return stem + std::to_string(++tries); }, nullptr);
    if (temporary.empty()) return result;
    std::error_code error;
    std::filesystem::rename(folder + temporary, path, error);
    if (error) {
        std::filesystem::remove(folder + temporary, error);
        return result;
    }
    return Written{true, bytes, sha256};
}

} // namespace

bool MayBeBrokenPhoto(const CarvedFile& file) {
    return IsJpegExtension(file.extension) && file.how == CarvedFileEnd::Complete &&
           file.rule != CarvedEndRule::Structure;
}

PhotoRepairCounts RepairCarvedPhotos(std::vector<CarvedFile>& carved, const PhotoRepairSetup& setup,
                                     DeepScanHost& host) {
    PhotoRepairCounts counts;
    JpegRepairInput input;
    input.clusterBytes = std::max<std::int64_t>(1, setup.clusterBytes);
    input.dataStart = setup.dataStart;
    input.driveBytes = setup.driveBytes;
    for (const CarvedFile& file : carved) {
        input.carved.push_back({file.startOffset, file.bytes});
        if (CarvedWhole(file) && !MayBeBrokenPhoto(file)) input.taken.push_back({file.startOffset, file.bytes});
    }
    const DriveReader read = [&setup](std::int64_t offset, std::uint8_t* buffer, std::size_t count) {
        return ReadDriveBytes(setup.drive, static_cast<std::uint64_t>(offset), buffer,
                              static_cast<std::uint32_t>(count));
    };
    for (CarvedFile& file : carved) {
        if (host.StopRequested()) break;
        if (!MayBeBrokenPhoto(file)) continue;
        platform::DoEvents();
        input.start = file.startOffset;
        input.carvedBytes = file.bytes;
        const JpegRepairResult result = RepairJpeg(input, read);
        switch (result.verdict) {
        case JpegRepairVerdict::NotChecked:
        case JpegRepairVerdict::Whole:
            continue;
        case JpegRepairVerdict::NotWhole:
            if (result.runs.size() != 1 || result.runs[0].offset != file.startOffset ||
                result.runs[0].length != file.bytes)
                break;
            [[fallthrough]]; // nothing of it to cut: it stays as carved
        case JpegRepairVerdict::ProgressiveBroken:
            ++counts.notWhole;
            file.how = CarvedFileEnd::BrokenOff;
            file.rule = CarvedEndRule::CutShort;
            host.FileRepaired(file.path, {{file.startOffset, file.bytes}}, file.bytes, file.sha256, false);
            continue;
        case JpegRepairVerdict::Repaired:
            break;
        }
        const bool whole = result.verdict == JpegRepairVerdict::Repaired;
        const Written written = Replace(file.path, result.runs, setup.drive);
        if (written.ok) {
            file.bytes = written.bytes;
            file.sha256 = written.sha256;
        }
        // A photo that could not be rewritten is still broken as carved.
        const bool nowWhole = whole && written.ok;
        if (nowWhole) {
            ++counts.repaired;
            file.rule = CarvedEndRule::Structure;
            // Its pieces are its own now: no other photo continues there.
            for (const DriveRun& run : result.runs) input.taken.push_back(run);
        } else {
            ++counts.notWhole;
            file.how = CarvedFileEnd::BrokenOff;
            file.rule = CarvedEndRule::CutShort;
        }
        const std::vector<DriveRun> runs =
            written.ok ? result.runs : std::vector<DriveRun>{{file.startOffset, file.bytes}};
        host.FileRepaired(file.path, runs, file.bytes, file.sha256, nowWhole);
    }
    return counts;
}

} // namespace wizard
