// The shared frame: block sizes and the report's percentage format.
#include "ToolFixture.h"

namespace {

using namespace testing_tools;

TEST(ToolFrame, PercentagesShowAtMostTwoDecimals) {
    EXPECT_EQ(tools::FormatPercent(0.5), "50%");
    EXPECT_EQ(tools::FormatPercent(0), "0%");
    EXPECT_EQ(tools::FormatPercent(1), "100%");
    EXPECT_EQ(tools::FormatPercent(0.123456), "12.35%");
    EXPECT_EQ(tools::FormatPercent(0.0206), "2.06%");
    EXPECT_EQ(tools::FormatPercent(0.333), "33.3%");
}

class BlockSizeTest : public ToolTest {};

TEST_F(BlockSizeTest, AboutAHundredBlocksOfWholeSectorsAtMostOneMiB) {
    tools::CheckDevice(Attach(MemoryCard(3000)));
    ASSERT_EQ(tools::DeviceValid(), support::True);
    ASSERT_EQ(tools::BootBytesPerSector(), 512);
    EXPECT_EQ(tools::GetBlockSize(4e9 / 100), 1048576);
    EXPECT_EQ(tools::GetBlockSize(1048576.4), 1048576);
    EXPECT_EQ(tools::GetBlockSize(15365.12), 15360);
    EXPECT_EQ(tools::GetBlockSize(1535.6), 1536);
    EXPECT_EQ(tools::GetBlockSize(1535.4), 1024);
    EXPECT_EQ(tools::GetBlockSize(511.5), 512); // halves go to the even neighbour
    EXPECT_EQ(tools::GetBlockSize(510.5), 0);
    EXPECT_EQ(tools::GetBlockSize(511.4), 0);
}

TEST_F(BlockSizeTest, CapacityComesFromTheDriveRoot) {
    engine::DriveNumber drive = Attach(MemoryCard(3001));
    EXPECT_EQ(tools::GetDeviceCapacity(drive), 3001.0 * 512);
    EXPECT_EQ(tools::GetDeviceCapacity(engine::DriveNumberFromLetter('Y')), 0.0);
}

} // namespace
