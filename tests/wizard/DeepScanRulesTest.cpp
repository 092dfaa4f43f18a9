// The small rules of the deep scan that need no drive: names, progress and
// the block bound.
#include <gtest/gtest.h>

#include <vector>

#include "wizard/DeepScan.h"
#include "wizard/FileHeader.h"

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
    wizard::FileHeader header;
    header.Begin();
    header.Feed(jpeg.data(), 5); // segments run across the bytes fed at once
    EXPECT_EQ(header.GetState(), wizard::FileHeader::State::Walking);
    header.Feed(jpeg.data() + 5, jpeg.size() - 5);
    ASSERT_EQ(header.GetState(), wizard::FileHeader::State::Ended);
    EXPECT_EQ(header.End(), 13); // the FF D9 inside the first segment is passed

    std::vector<std::uint8_t> erased(4096, 0xFF);
    erased[1] = 0xD8;
    header.Begin();
    header.Feed(erased.data(), erased.size());
    EXPECT_EQ(header.GetState(), wizard::FileHeader::State::Unstructured);
}

} // namespace
