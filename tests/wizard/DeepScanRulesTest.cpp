// The small rules of the deep scan that need no drive: names, progress and
// the block bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "TiffMaker.h"
#include "wizard/DeepScan.h"
#include "wizard/JpegWalker.h"
#include "wizard/TiffLayout.h"

namespace {

TEST(DeepScanRules, NumbersHaveAtLeastFiveDigits) {
    EXPECT_EQ(wizard::FormatFileNumber(1), "00001");
    EXPECT_EQ(wizard::FormatFileNumber(57), "00057");
    EXPECT_EQ(wizard::FormatFileNumber(32768), "32768");
    EXPECT_EQ(wizard::FormatFileNumber(123456), "123456");
    EXPECT_EQ(wizard::FormatFileNumber(3000000000LL), "3000000000");
}

TEST(DeepScanRules, NamesDropTheExtensionsPaddingAndUnsafeCharacters) {
    EXPECT_EQ(wizard::CarvedFileName(1, "jpg"), "00001.jpg");
    EXPECT_EQ(wizard::CarvedFileName(2, "MP "), "00002.MP");
    EXPECT_EQ(wizard::CarvedFileName(3, "a/b"), "00003.a_b");
    EXPECT_EQ(wizard::CarvedFileName(4, ""), "00004.");
}

TEST(DeepScanRules, ProgressRoundsHalfToEvenAndStopsAtTheBarMaximum) {
    EXPECT_EQ(wizard::DeepScanProgress(0, 1000, 100), 0);
    EXPECT_EQ(wizard::DeepScanProgress(1, 8, 100), 12);  // 12.5
    EXPECT_EQ(wizard::DeepScanProgress(3, 8, 100), 38);  // 37.5
    EXPECT_EQ(wizard::DeepScanProgress(999, 1000, 100), 100);
    EXPECT_EQ(wizard::DeepScanProgress(600, 1000, 50), 50);
    EXPECT_EQ(wizard::DeepScanProgress(2147483000, 2147483647, 100), 100); // no overflow
}

TEST(DeepScanRules, ABlockNeverExceedsTheBufferOrASixteenBitCount) {
    EXPECT_EQ(wizard::MaxSectorsAtOnce(512), 4000);
    EXPECT_EQ(wizard::MaxSectorsAtOnce(2048), 1000);
    EXPECT_EQ(wizard::MaxSectorsAtOnce(4096), 500);
    EXPECT_EQ(wizard::MaxSectorsAtOnce(16), 32767);
    EXPECT_EQ(wizard::MaxSectorsAtOnce(0), 0);
    EXPECT_EQ(wizard::MaxSectorsAtOnce(-512), 0);
    EXPECT_EQ(wizard::MaxSectorsAtOnce(4096000), 0);
}

TEST(DeepScanRules, TheFolderLiesBelowTheRoot) {
    EXPECT_EQ(wizard::DeepScanFolder("/home/ann/Documents/"),
              "/home/ann/Documents/My Recovered Mobile Device/Deep Scan/");
}

} // namespace

namespace {

// A header that runs into erased space (all FF) is given up, so that it
// does not hide the files that follow.
TEST(DeepScanRules, AJpegHeaderEndsAtTheStartOfScanOrGivesUp) {
    const std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x04, 0xFF, 0xD9,
                                            0xFF, 0xDA, 0x00, 0x03, 0x01, 0x55};
    wizard::JpegWalker header;
    header.Begin(1 << 20);
    header.Feed(jpeg.data(), 5); // segments run across the bytes fed at once
    EXPECT_EQ(header.EndPatternsFrom(), -1);
    header.Feed(jpeg.data() + 5, jpeg.size() - 5);
    EXPECT_EQ(header.EndPatternsFrom(), 13); // the FF D9 inside the first segment is passed

    std::vector<std::uint8_t> erased(4096, 0xFF);
    erased[1] = 0xD8;
    header.Begin(1 << 20);
    header.Feed(erased.data(), erased.size());
    EXPECT_EQ(header.State(), wizard::WalkState::Unstructured);
}

using wizard::TiffLayout;

TiffLayout::State Walk(TiffLayout& layout, const std::vector<std::uint8_t>& bytes, std::size_t piece) {
    layout.Begin();
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        layout.Feed(bytes.data() + at, std::min(piece, bytes.size() - at));
    }
    return layout.GetState();
}

// Directories, arrays and values run across the pieces fed; the end is the
// furthest part, and only the parts the directories name hold a file start.
TEST(DeepScanRules, ATiffEndsWithItsFurthestPartInEitherByteOrder) {
    const std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0xFF, 0xD9};
    for (const bool big : {false, true}) {
        const auto raw = wizardtest::MakeRawTiff(big, jpeg, std::vector<std::uint8_t>(3000, 0x11), 5000, 1);
        TiffLayout layout;
        ASSERT_EQ(Walk(layout, raw.bytes, 7), TiffLayout::State::Ended) << big;
        EXPECT_EQ(layout.End(), static_cast<std::int64_t>(raw.bytes.size()));
        EXPECT_TRUE(layout.Holds(static_cast<std::int64_t>(raw.previewAt)));
        EXPECT_TRUE(layout.Holds(800 + 63)); // inside the maker note
        EXPECT_FALSE(layout.Holds(static_cast<std::int64_t>((raw.rawAt / 512 + 1) * 512)));
        EXPECT_FALSE(layout.Holds(layout.End()));
    }
    auto orf = wizardtest::MakeRawTiff(false, jpeg, jpeg, 100, 1).bytes;
    orf[2] = 'R'; // Olympus: "IIRO"
    orf[3] = 'O';
    TiffLayout layout;
    EXPECT_EQ(Walk(layout, orf, 512), TiffLayout::State::Ended);
    EXPECT_EQ(Walk(layout, jpeg, 512), TiffLayout::State::Unstructured);
}

// A TIFF written as libtiff writes it: the image data first, the directory
// after it (beyond the kept first bytes), pointing back to one kept.
TEST(DeepScanRules, ATiffDirectoryFarAheadIsReadWhenItsBytesCome) {
    constexpr std::uint32_t Far = 1536 * 1024;
    wizardtest::TiffWriter w(false);
    w.Header(Far);
    w.Directory(100, {{513, 4, 1, 2000}, {514, 4, 1, 500}}, 0);
    w.Directory(Far, {{273, 4, 1, 4096}, {279, 4, 1, Far - 4096}, {330, 4, 1, 100}}, 0);
    TiffLayout layout;
    ASSERT_EQ(Walk(layout, std::vector<std::uint8_t>(w.bytes.begin(), w.bytes.begin() + Far), 512),
              TiffLayout::State::Walking);
    ASSERT_EQ(Walk(layout, w.bytes, 512), TiffLayout::State::Ended);
    EXPECT_EQ(layout.End(), Far + 2 + 3 * 12 + 4);
    EXPECT_TRUE(layout.Holds(2000));
}

// Damage: the walk gives up (a loop, an absurd count) or never ends (a
// directory past the file's end); either way the scan carves as without it.
TEST(DeepScanRules, ADamagedTiffIsGivenUpOrNeverEnds) {
    const std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xD9};
    const auto raw = wizardtest::MakeRawTiff(false, jpeg, jpeg, 2000, 2);
    TiffLayout layout;
    auto loop = raw;
    loop.bytes[wizardtest::RawTiffIfd1Next] = wizardtest::RawTiffIfd0;
    EXPECT_EQ(Walk(layout, loop.bytes, 512), TiffLayout::State::Unstructured);
    auto absurd = raw;
    absurd.bytes[wizardtest::RawTiffIfd0 + 1] = 0xEA; // 59,910 entries
    EXPECT_EQ(Walk(layout, absurd.bytes, 512), TiffLayout::State::Unstructured);
    auto beyond = raw;
    beyond.bytes[wizardtest::RawTiffSubIfdPointer + 3] = 0x10; // 256 MiB on
    EXPECT_EQ(Walk(layout, beyond.bytes, 512), TiffLayout::State::Walking);
}

} // namespace
