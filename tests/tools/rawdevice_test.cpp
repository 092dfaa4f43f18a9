// Sector reads and offset writes through the drive table, on image files and
// in-memory volumes attached as drives.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "MemoryVolume.h"
#include "RequireExtraLong.h"
#include "engine/RawDevice.h"
#include "platform/drives.h"
#include "platform/fileapi.h"
#include "platform/ui.h"
#include "shell/frmPasser.h"
#include "support/RuntimeError.h"

namespace {

using engine::DriveNumber;
using testing_tools::MemoryVolume;

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i / 512) * 7 + i % 251);
    return bytes;
}

class RawDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetDrives();
        engine::ResetDriveTable();
        auto& lang = shell::frmPasser().LANG;
        lang[379] = "Device error";
        lang[383] = "Cannot open the drive for writing. Error code";
        lang[384] = "Cannot open the drive. Error code";
        platform::SetUi(&ui_);
    }
    void TearDown() override {
        engine::ResetDriveTable();
        platform::SetUi(nullptr);
        platform::ResetDrives();
        if (!imagePath_.empty()) std::filesystem::remove(imagePath_);
    }

    DriveNumber AttachFile(const std::vector<std::uint8_t>& bytes) {
        imagePath_ = (std::filesystem::temp_directory_path() /
                      ("rawdevice-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".img"))
                         .string();
        std::ofstream(imagePath_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        std::string error;
        auto letters = platform::AttachImage(imagePath_, &error);
        EXPECT_EQ(letters.size(), 1u) << error;
        return letters.empty() ? 0 : engine::DriveNumberFromLetter(letters[0]);
    }

    DriveNumber AttachMemory(std::shared_ptr<MemoryVolume> volume) {
        return engine::DriveNumberFromLetter(platform::AttachVolume(volume, "memory volume"));
    }

    std::vector<std::uint8_t> ReadBack() {
        std::ifstream in(imagePath_, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    platform::ScriptedUi ui_;
    std::string imagePath_;
};

TEST(RawDeviceNames, DriveNumbersNameLettersFromA) {
    EXPECT_EQ(engine::DevicePath(3), "\\\\.\\C:");
    EXPECT_EQ(engine::DevicePath(1), "\\\\.\\A:");
    EXPECT_EQ(engine::DevicePath(7), "\\\\.\\G:");
    EXPECT_EQ(engine::DriveNumberFromLetter('G'), 7);
    EXPECT_EQ(engine::DriveNumberFromLetter('g'), 7);
}

TEST_F(RawDeviceTest, ReadsSectorsThroughOneCachedHandle) {
    REQUIRE_EXTRA_LONG();
    auto image = Pattern(64 * 512);
    DriveNumber drive = AttachFile(image);
    std::vector<std::uint8_t> buffer(3 * 512);

    ASSERT_EQ(engine::ReadSectors(drive, 5, 3, buffer), support::True);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), image.begin() + 5 * 512));
    const engine::DriveEntry& entry = engine::DriveTableEntry(drive);
    EXPECT_EQ(entry.GeometryKnown, -1);
    EXPECT_EQ(entry.Geometry.BytesPerSector, 512);
    void* handle = entry.Handle;
    ASSERT_NE(handle, nullptr);

    ASSERT_EQ(engine::ReadSectors(drive, 63, 1, buffer), support::True);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 512, image.begin() + 63 * 512));
    EXPECT_EQ(entry.Handle, handle);

    // Nothing to read is a success; past the end is a short read, no message.
    EXPECT_EQ(engine::ReadSectors(drive, 10, 0, buffer), support::True);
    EXPECT_EQ(engine::ReadSectors(drive, 63, 2, buffer), support::False);
    EXPECT_TRUE(ui_.boxes.empty());

    engine::CloseDrive(drive);
    EXPECT_EQ(entry.Handle, nullptr);
    EXPECT_EQ(entry.GeometryKnown, -1);
}

TEST_F(RawDeviceTest, UnopenableDriveShowsOneBoxPerAttempt) {
    DriveNumber drive = engine::DriveNumberFromLetter('Y');
    std::vector<std::uint8_t> buffer(512);
    engine::DriveGeometry geometry;
    geometry.BytesPerSector = 4096;

    EXPECT_EQ(engine::GetDriveGeometry(drive, geometry), support::False);
    EXPECT_EQ(geometry.BytesPerSector, 4096);
    EXPECT_EQ(engine::DriveTableEntry(drive).GeometryKnown, 0);
    EXPECT_TRUE(ui_.boxes.empty());

    EXPECT_EQ(engine::ReadSectors(drive, 0, 1, buffer), support::False);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].title, "Device error");
    EXPECT_EQ(ui_.boxes[0].style, platform::vbExclamation);
    EXPECT_EQ(ui_.boxes[0].text.rfind("Cannot open the drive. Error code  ", 0), 0u) << ui_.boxes[0].text;
    EXPECT_EQ(engine::LastOpenError(), ui_.boxes[0].text);

    EXPECT_EQ(engine::ReadSectors(drive, 0, 1, buffer), support::False);
    EXPECT_EQ(ui_.boxes.size(), 2u);
}

TEST_F(RawDeviceTest, BufferTooSmallIsReportedNotOverrun) {
    DriveNumber drive = AttachFile(Pattern(16 * 512));
    std::vector<std::uint8_t> buffer(512);
    EXPECT_EQ(engine::ReadSectors(drive, 2, 2, buffer), support::False);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_NE(ui_.boxes[0].text.find(" - dwStartSector=2; BytesPerSector=512"), std::string::npos)
        << ui_.boxes[0].text;
    EXPECT_EQ(ui_.boxes[0].style, platform::vbExclamation);
}

TEST_F(RawDeviceTest, WritesAtOffsetsAfterPreparing) {
    auto image = Pattern(32 * 512);
    DriveNumber drive = AttachFile(image);
    std::string errorText = "untouched";

    ASSERT_EQ(engine::PrepareDriveForWrite(drive, errorText), support::True) << errorText;
    std::vector<std::uint8_t> block(1024, 0xAB);
    ASSERT_EQ(engine::WriteAtOffset(drive, 3 * 512, 0, block.data(), 1024, errorText), support::True);
    EXPECT_EQ(errorText, "untouched");
    engine::CloseDrive(drive);

    auto after = ReadBack();
    ASSERT_EQ(after.size(), image.size());
    std::copy(block.begin(), block.end(), image.begin() + 3 * 512);
    EXPECT_EQ(after, image);
}

TEST_F(RawDeviceTest, PreparingReusesAnyCachedHandle) {
    REQUIRE_EXTRA_LONG();
    auto volume = std::make_shared<MemoryVolume>(64 * 512);
    DriveNumber drive = AttachMemory(volume);
    std::vector<std::uint8_t> buffer(512);
    ASSERT_EQ(engine::ReadSectors(drive, 0, 1, buffer), support::True);
    void* readHandle = engine::DriveTableEntry(drive).Handle;
    std::string errorText;
    EXPECT_EQ(engine::PrepareDriveForWrite(drive, errorText), support::True);
    EXPECT_EQ(engine::DriveTableEntry(drive).Handle, readHandle);
    EXPECT_EQ(volume->writeSessions, 0);
}

TEST_F(RawDeviceTest, ShortWriteIsReportedWithBothCounts) {
    auto volume = std::make_shared<MemoryVolume>(64 * 512);
    volume->failWritesFrom = 2048;
    DriveNumber drive = AttachMemory(volume);
    std::string errorText;
    ASSERT_EQ(engine::PrepareDriveForWrite(drive, errorText), support::True) << errorText;
    std::vector<std::uint8_t> block(4096, 1);
    EXPECT_EQ(engine::WriteAtOffset(drive, 0, 0, block.data(), 4096, errorText), support::False);
    EXPECT_EQ(errorText, "Tried to write 4096 bytes, but only managed to write 2048");

    EXPECT_EQ(engine::WriteAtOffset(drive, 4096, 0, block.data(), 512, errorText), support::False);
    EXPECT_EQ(errorText, "WriteFile call failed. Error code=" + std::to_string(ERROR_WRITE_FAULT) + ": write fault");
}

TEST_F(RawDeviceTest, RefusedWriteOpenCarriesTheTextAndCode) {
    auto volume = std::make_shared<MemoryVolume>(64 * 512);
    volume->refuseWrites = true;
    DriveNumber drive = AttachMemory(volume);
    std::string errorText;
    EXPECT_EQ(engine::PrepareDriveForWrite(drive, errorText), support::False);
    EXPECT_EQ(errorText, "Cannot open the drive for writing. Error code " + std::to_string(ERROR_SHARING_VIOLATION) + ": the device is in use");
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, errorText);
    EXPECT_EQ(engine::DriveTableEntry(drive).Handle, nullptr);
    EXPECT_EQ(volume->writes, 0);
}

TEST_F(RawDeviceTest, TheSystemDriveIsNeverOpenedForWriting) {
    std::string errorText;
    EXPECT_EQ(engine::PrepareDriveForWrite(3, errorText), support::False);
    EXPECT_EQ(errorText.rfind("Cannot open the drive for writing. Error code ", 0), 0u) << errorText;
    EXPECT_EQ(engine::DriveTableEntry(3).Handle, nullptr);
}

TEST_F(RawDeviceTest, WritesReachOffsetsBeyondFourGiB) {
    REQUIRE_EXTRA_LONG();
    constexpr std::uint64_t size = 6ull << 30;
    auto volume = std::make_shared<MemoryVolume>(size, 512, 4096);
    DriveNumber drive = AttachMemory(volume);
    std::string errorText;
    ASSERT_EQ(engine::PrepareDriveForWrite(drive, errorText), support::True);
    std::vector<std::uint8_t> block(512, 9);
    ASSERT_EQ(engine::WriteAtOffset(drive, 0x200, 1, block.data(), 512, errorText), support::True) << errorText;
    EXPECT_EQ(volume->lastWriteOffset, 0x100000200ull);

    // Reads turn sector numbers into 64-bit offsets as well.
    engine::CloseDrive(drive);
    std::vector<std::uint8_t> buffer(512);
    int readsBefore = volume->reads;
    ASSERT_EQ(engine::ReadSectors(drive, 0x800001, 1, buffer), support::True); // byte 4 GiB + 512
    EXPECT_GT(volume->reads, readsBefore);
}

TEST_F(RawDeviceTest, SectorSizesBeyondSixteenBitsAreReported) {
    REQUIRE_EXTRA_LONG();
    DriveNumber drive = AttachMemory(std::make_shared<MemoryVolume>(64 * 65536, 65536));
    std::vector<std::uint8_t> buffer(65536);
    EXPECT_EQ(engine::ReadSectors(drive, 1, 1, buffer), support::False);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_NE(ui_.boxes[0].text.find(" - dwStartSector=1; BytesPerSector=65536"), std::string::npos)
        << ui_.boxes[0].text;
}

TEST_F(RawDeviceTest, ReleaseAllDrivesClosesEverythingAndSaysFalse) {
    REQUIRE_EXTRA_LONG();
    DriveNumber first = AttachMemory(std::make_shared<MemoryVolume>(64 * 512));
    DriveNumber second = AttachMemory(std::make_shared<MemoryVolume>(64 * 512));
    std::vector<std::uint8_t> buffer(512);
    ASSERT_EQ(engine::ReadSectors(first, 0, 1, buffer), support::True);
    ASSERT_EQ(engine::ReadSectors(second, 0, 1, buffer), support::True);

    EXPECT_EQ(engine::ReleaseAllDrives(first), support::False);
    EXPECT_EQ(engine::DriveTableEntry(first).Handle, nullptr);
    EXPECT_EQ(engine::DriveTableEntry(second).Handle, nullptr);
    EXPECT_EQ(engine::ReleaseAllDrives(engine::DriveNumberFromLetter('Y')), support::False);
}

} // namespace
