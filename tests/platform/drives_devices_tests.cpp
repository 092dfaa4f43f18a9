// Removable devices in the namespace, over a made-up sysfs tree: letters are
// kept while a device is present, and a reader without a card has no media.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/drives.h"
#include "platform/fileapi.h"
#include "platform/src/DriveNamespace.h"
#include "tests/platform/drives_test_support.h"

using namespace drivetest;

namespace {

class RemovableDevices : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("TRANQUO_ATTACH");
        block = temp.Path() / "block";
        std::filesystem::create_directories(block);
        platform::detail::SetDeviceScanFolders(block.string(), (temp.Path() / "dev").string());
        platform::ResetDrives();
    }
    void TearDown() override {
        platform::detail::SetDeviceScanFolders("", "");
        platform::ResetDrives();
    }

    void AddDevice(const std::string& name, std::uint64_t sectors, int sectorSize = 512) {
        std::filesystem::create_directories(block / name / "queue");
        std::ofstream(block / name / "removable") << "1\n";
        std::ofstream(block / name / "size") << sectors << "\n";
        std::ofstream(block / name / "queue" / "logical_block_size") << sectorSize << "\n";
    }
    void RemoveDevice(const std::string& name) { std::filesystem::remove_all(block / name); }

    std::map<char, std::string> Letters() {
        std::map<char, std::string> letters;
        for (const auto& drive : platform::ListDrives()) letters[drive.letter] = drive.source;
        return letters;
    }

    TempFolder temp;
    std::filesystem::path block;
};

TEST_F(RemovableDevices, DrivesKeepTheirLettersWhileTheyArePresent) {
    AddDevice("sdb", 2048);
    std::string dev = (temp.Path() / "dev").string();
    EXPECT_EQ(Letters(), (std::map<char, std::string>{{'C', Letters().at('C')}, {'D', dev + "/sdb"}}));

    std::string image = temp.File("card.img");
    MakeImage(image, 1 << 20, FatBootSector());
    std::string error;
    EXPECT_EQ(platform::AttachImage(image, &error), std::vector<char>{'E'});

    AddDevice("sdc", 4096); // plugged in later: the next free letter
    EXPECT_EQ(Letters().at('F'), dev + "/sdc");

    RemoveDevice("sdb"); // pulled out: its letter goes, the others stay
    auto after = Letters();
    EXPECT_EQ(after.count('D'), 0u);
    EXPECT_EQ(after.at('E'), std::filesystem::canonical(image).string());
    EXPECT_EQ(after.at('F'), dev + "/sdc");
    EXPECT_EQ(GetDriveTypeA("D:\\"), DRIVE_NO_ROOT_DIR);

    AddDevice("sdb", 2048); // back again: the lowest free letter
    EXPECT_EQ(Letters().at('D'), dev + "/sdb");
}

TEST_F(RemovableDevices, AReaderWithoutACardHasNoMedia) {
    AddDevice("sdb", 0);
    platform::DriveInfo info;
    platform::ListDrives();
    ASSERT_TRUE(platform::FindDrive('D', &info));
    EXPECT_FALSE(info.hasMedia);
    EXPECT_EQ(GetDriveTypeA("D:\\"), DRIVE_REMOVABLE);
    ULARGE_INTEGER total{};
    ASSERT_TRUE(GetDiskFreeSpaceExA("D:\\", nullptr, &total, nullptr));
    EXPECT_EQ(total.QuadPart, 0u);

    // The geometry query opens nothing, and fails as an empty drive does.
    HANDLE h = CreateFileA("\\\\.\\D:", 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DISK_GEOMETRY geometry{};
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &returned,
                                 nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
    CloseHandle(h);

    // The card goes in: the same letter, now with its size and sector size.
    AddDevice("sdb", 8192, 4096);
    platform::ListDrives();
    ASSERT_TRUE(platform::FindDrive('D', &info));
    EXPECT_TRUE(info.hasMedia);
    EXPECT_EQ(info.length, 8192u * 512);
    h = CreateFileA("\\\\.\\D:", 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &returned,
                                nullptr));
    EXPECT_EQ(geometry.BytesPerSector, 4096u);
    EXPECT_EQ(geometry.Cylinders.QuadPart * geometry.TracksPerCylinder * geometry.SectorsPerTrack, 1024);
    CloseHandle(h);

    // Its device node does not exist here: reading fails with a code, cleanly.
    EXPECT_EQ(CreateFileA("\\\\.\\D:", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

} // namespace
