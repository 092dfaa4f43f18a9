// The break finder and the continuation search over a drive made in memory:
// photos split on cluster boundaries around noise, zeros and other photos.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include <jpeglib.h>

#include "JpegMaker.h"
#include "wizard/JpegDecoder.h"
#include "wizard/JpegRepair.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using wizard::DriveRun;

constexpr std::int64_t Cluster = 512;

struct Drive {
    Bytes bytes;
    wizard::DriveReader Reader() const {
        return [this](std::int64_t offset, std::uint8_t* out, std::size_t count) -> std::int64_t {
            if (offset < 0 || offset >= static_cast<std::int64_t>(bytes.size())) return 0;
            const auto n = std::min<std::size_t>(count, bytes.size() - static_cast<std::size_t>(offset));
            std::memcpy(out, bytes.data() + offset, n);
            return static_cast<std::int64_t>(n);
        };
    }
    void Put(std::int64_t at, const std::uint8_t* data, std::size_t count) {
        if (bytes.size() < static_cast<std::size_t>(at) + count) bytes.resize(static_cast<std::size_t>(at) + count);
        std::memcpy(bytes.data() + at, data, count);
    }
};

Bytes Noise(std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(count);
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<std::uint8_t>(random()); });
    return bytes;
}

wizard::JpegDecodeResult Decode(const Bytes& photo, bool findJumps) {
    return wizard::DecodeJpeg(
        [&](std::int64_t offset, std::uint8_t* out, std::size_t count) -> std::size_t {
            if (offset >= static_cast<std::int64_t>(photo.size())) return 0;
            const auto n = std::min<std::size_t>(count, photo.size() - static_cast<std::size_t>(offset));
            std::memcpy(out, photo.data() + offset, n);
            return n;
        },
        findJumps);
}

// The decode ends exactly past the end-of-image marker: a repaired photo
// is cut there.
TEST(JpegDecoder, WholePhotosDecodeToTheirExactEnd) {
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        const Bytes photo = wizardtest::MakeJpeg(200 + 40 * static_cast<int>(seed % 4), 240, 300 + seed, 90);
        const wizard::JpegDecodeResult decoded = Decode(photo, false);
        EXPECT_EQ(decoded.stop, wizard::JpegDecodeStop::Complete) << "seed " << seed << " row " << decoded.rowEnds.size();
        EXPECT_EQ(decoded.stoppedAt, static_cast<std::int64_t>(photo.size())) << "seed " << seed;
    }
}

// The same picture rewritten as a progressive JPEG (as jpegtran does).
Bytes Progressive(const Bytes& baseline) {
    jpeg_decompress_struct in{};
    jpeg_compress_struct out{};
    jpeg_error_mgr inErrors{}, outErrors{};
    in.err = jpeg_std_error(&inErrors);
    out.err = jpeg_std_error(&outErrors);
    jpeg_create_decompress(&in);
    jpeg_create_compress(&out);
    jpeg_mem_src(&in, baseline.data(), static_cast<unsigned long>(baseline.size()));
    jpeg_read_header(&in, TRUE);
    jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&in);
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&out, &bytes, &size);
    jpeg_copy_critical_parameters(&in, &out);
    jpeg_simple_progression(&out);
    jpeg_write_coefficients(&out, coefficients);
    jpeg_finish_compress(&out);
    jpeg_finish_decompress(&in);
    Bytes result(bytes, bytes + size);
    jpeg_destroy_compress(&out);
    jpeg_destroy_decompress(&in);
    std::free(bytes);
    return result;
}

// Lays photo out on a drive of noise in pieces at the given cluster
// numbers, with what goes between; returns the runs it lies in.
std::vector<DriveRun> Scatter(Drive& drive, const Bytes& photo, const std::vector<std::pair<std::int64_t, std::int64_t>>& pieces) {
    std::vector<DriveRun> runs;
    std::size_t done = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const auto [cluster, clusters] = pieces[i];
        const std::size_t count = i + 1 == pieces.size() ? photo.size() - done
                                                         : static_cast<std::size_t>(clusters * Cluster);
        drive.Put(cluster * Cluster, photo.data() + done, count);
        runs.push_back({cluster * Cluster, static_cast<std::int64_t>(count)});
        done += count;
    }
    return runs;
}

wizard::JpegRepairInput InputFor(const Drive& drive, const DriveRun& carve) {
    wizard::JpegRepairInput input;
    input.start = carve.offset;
    input.carvedBytes = carve.length;
    input.clusterBytes = Cluster;
    input.driveBytes = static_cast<std::int64_t>(drive.bytes.size());
    input.carved = {carve};
    return input;
}

// Three pieces around noise and zeros, the carve running on through the
// noise: put back together to the byte, the pieces in order.
TEST(JpegRepair, APhotoInThreePiecesAroundNoiseAndZerosIsPutBackTogether) {
    Drive drive;
    drive.bytes = Noise(400 * Cluster, 3);
    std::fill(drive.bytes.begin() + 150 * Cluster, drive.bytes.begin() + 170 * Cluster, 0);
    const Bytes photo = wizardtest::MakeJpeg(320, 240, 77, 90);
    const auto runs = Scatter(drive, photo, {{100, 20}, {130, 20}, {170, 0}});
    const wizard::JpegRepairResult result =
        wizard::RepairJpeg(InputFor(drive, {100 * Cluster, 60 * Cluster}), drive.Reader());
    ASSERT_EQ(result.verdict, wizard::JpegRepairVerdict::Repaired);
    ASSERT_EQ(result.runs.size(), 3u);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(result.runs[i].offset, runs[i].offset) << i;
        EXPECT_EQ(result.runs[i].length, runs[i].length) << i;
    }
}

// The photo's bottom rows cross a sharp edge (its colours wrap round there),
// which looks like a jump: a short last piece after it still joins.
TEST(JpegRepair, AShortLastPieceAcrossASharpEdgeJoins) {
    Drive drive;
    drive.bytes = Noise(200 * Cluster, 6);
    const Bytes photo = wizardtest::MakeJpeg(160, 120, 5, 90);
    const std::int64_t first = static_cast<std::int64_t>(photo.size()) / Cluster - 1;
    const auto runs = Scatter(drive, photo, {{10, first}, {100, 0}});
    ASSERT_LT(runs[1].length, 2 * Cluster);
    const wizard::JpegRepairResult result =
        wizard::RepairJpeg(InputFor(drive, {10 * Cluster, (first + 10) * Cluster}), drive.Reader());
    ASSERT_EQ(result.verdict, wizard::JpegRepairVerdict::Repaired);
    ASSERT_EQ(result.runs.size(), 2u);
    EXPECT_EQ(result.runs[1].offset, runs[1].offset);
    EXPECT_EQ(result.runs[1].length, runs[1].length);
}

// A camera's header (here 8 KiB of EXIF with a thumbnail) may itself be
// split. What its segments hold cannot be checked, so the photo is not put
// back together there, but it is said to be broken, never whole.
TEST(JpegRepair, APhotoBrokenOffInItsHeaderIsSaidToBeBroken) {
    Drive drive;
    drive.bytes = Noise(300 * Cluster, 8);
    const Bytes photo = wizardtest::MakeCameraJpeg(wizardtest::MakeJpeg(320, 240, 81, 90),
                                                   wizardtest::MakeJpeg(64, 48, 82, 80), 8192);
    Scatter(drive, photo, {{10, 6}, {120, 0}});
    const DriveRun carve{10 * Cluster, 40 * Cluster};
    const wizard::JpegRepairResult result = wizard::RepairJpeg(InputFor(drive, carve), drive.Reader());
    ASSERT_EQ(result.verdict, wizard::JpegRepairVerdict::NotWhole);
    ASSERT_EQ(result.runs.size(), 1u);
    EXPECT_EQ(result.runs[0].length, carve.length);
}

// A progressive photo holds its picture in several passes over the whole
// of it: it is not put back together, but a broken one is said to be.
TEST(JpegRepair, ABrokenProgressivePhotoIsSaidToBeBroken) {
    Drive drive;
    drive.bytes = Noise(200 * Cluster, 7);
    const Bytes photo = Progressive(wizardtest::MakeJpeg(320, 240, 80, 90));
    Scatter(drive, photo, {{10, 20}, {100, 0}});
    const wizard::JpegRepairResult broken =
        wizard::RepairJpeg(InputFor(drive, {10 * Cluster, 40 * Cluster}), drive.Reader());
    EXPECT_EQ(broken.verdict, wizard::JpegRepairVerdict::ProgressiveBroken);
    drive.Put(10 * Cluster, photo.data(), photo.size());
    const wizard::JpegRepairResult whole = wizard::RepairJpeg(
        InputFor(drive, {10 * Cluster, static_cast<std::int64_t>(photo.size())}), drive.Reader());
    EXPECT_EQ(whole.verdict, wizard::JpegRepairVerdict::Whole);
}

// Another photo's data between the pieces decodes as picture data too: the
// photo is put back together from its own pieces or cut, never made whole
// from foreign bytes. Without a continuation it is cut where it is right.
TEST(JpegRepair, APhotoIsNeverMadeWholeFromAnotherPhotosData) {
    Drive drive;
    drive.bytes = Noise(400 * Cluster, 4);
    const Bytes photo = wizardtest::MakeJpeg(320, 240, 78, 90);
    const Bytes other = wizardtest::MakeJpeg(320, 240, 79, 90);
    drive.Put(120 * Cluster, other.data(), other.size()); // the pieces lie around its data
    const auto runs = Scatter(drive, photo, {{90, 30}, {200, 0}});
    const DriveRun carve{90 * Cluster, 30 * Cluster}; // cut at the other photo's start
    const wizard::JpegRepairInput input = InputFor(drive, carve);
    const wizard::JpegRepairResult result = wizard::RepairJpeg(input, drive.Reader());
    if (result.verdict == wizard::JpegRepairVerdict::Repaired) {
        ASSERT_EQ(result.runs.size(), 2u);
        EXPECT_EQ(result.runs[1].offset, runs[1].offset);
    } else {
        EXPECT_EQ(result.verdict, wizard::JpegRepairVerdict::NotWhole);
    }

    const Bytes noise = Noise(photo.size(), 5);
    drive.Put(200 * Cluster, noise.data(), noise.size());
    const wizard::JpegRepairResult cut = wizard::RepairJpeg(input, drive.Reader());
    ASSERT_EQ(cut.verdict, wizard::JpegRepairVerdict::NotWhole);
    ASSERT_EQ(cut.runs.size(), 1u);
    EXPECT_EQ(cut.runs[0].offset, carve.offset);
    EXPECT_GT(cut.runs[0].length, 0);
    EXPECT_LE(cut.runs[0].length, runs[0].length);
}

} // namespace
