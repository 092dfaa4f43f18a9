// The drive namespace: attached images, MBR partitions, the drive strings,
// types and capacities, the geometry and the scan of removable devices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/drives.h"
#include "platform/fileapi.h"
#include "platform/src/BlockDevice.h"
#include "platform/src/Mbr.h"
#include "platform/src/VolumeGeometry.h"
#include "tests/platform/drives_test_support.h"

using namespace drivetest;

namespace {

class DriveNamespace : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("TRANQUO_ATTACH");
        platform::ResetDrives();
    }
    void TearDown() override {
        ::unsetenv("TRANQUO_ATTACH");
        platform::ResetDrives();
    }
    TempFolder temp;
};

platform::DriveInfo Drive(char letter) {
    platform::DriveInfo info;
    EXPECT_TRUE(platform::FindDrive(letter, &info)) << letter;
    return info;
}

TEST_F(DriveNamespace, RootIsFixedDriveC) {
    platform::DriveInfo c = Drive('C');
    EXPECT_EQ(c.kind, platform::DriveKind::Fixed);
    EXPECT_FALSE(c.attachedImage);
    EXPECT_EQ(GetDriveTypeA("C:\\"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveTypeA("c:"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveTypeA("Z:\\"), DRIVE_NO_ROOT_DIR);
}

TEST_F(DriveNamespace, BareVolumeImageIsOneRemovableDrive) {
    std::string image = temp.File("card.img");
    MakeImage(image, 1 << 20, FatBootSector());
    std::string error;
    std::vector<char> letters = platform::AttachImage(image, &error);
    ASSERT_EQ(letters.size(), 1u) << error;
    EXPECT_GE(letters[0], 'D');

    platform::DriveInfo info = Drive(letters[0]);
    EXPECT_EQ(info.kind, platform::DriveKind::Removable);
    EXPECT_TRUE(info.attachedImage);
    EXPECT_TRUE(info.hasMedia);
    EXPECT_EQ(info.offset, 0u);
    EXPECT_EQ(info.length, 1u << 20);
    EXPECT_EQ(info.partition, 0);
    EXPECT_EQ(info.source, std::filesystem::canonical(image).string());
    EXPECT_EQ(GetDriveTypeA(RootPath(letters[0]).c_str()), DRIVE_REMOVABLE);

    // Attaching the same image again, by any path, gives the same drive.
    EXPECT_EQ(platform::AttachImage(image, &error), letters);
    std::filesystem::create_symlink(image, temp.File("link.img"));
    EXPECT_EQ(platform::AttachImage(temp.File("link.img"), &error), letters);
    std::filesystem::create_directory(temp.File("sub"));
    EXPECT_EQ(platform::AttachImage(temp.File("sub/../card.img"), &error), letters);
}

TEST_F(DriveNamespace, MbrImageGivesOneDrivePerPartitionAtItsOffset) {
    std::string image = temp.File("partitioned.img");
    MakeImage(image, 4 << 20,
              MbrSector({{0x0C, 2048, 2048, 0x80}, {0x05, 4096, 1024}, {0x06, 6144, 2048}}));
    WriteAt(image, 2048 * 512, Marker("first partition"));
    WriteAt(image, 6144 * 512, Marker("second partition"));

    std::string error;
    std::vector<char> letters = platform::AttachImage(image, &error);
    ASSERT_EQ(letters.size(), 2u) << error; // the extended entry is not followed
    platform::DriveInfo first = Drive(letters[0]);
    platform::DriveInfo second = Drive(letters[1]);
    EXPECT_EQ(first.offset, 2048u * 512);
    EXPECT_EQ(first.length, 2048u * 512);
    EXPECT_EQ(first.partition, 1);
    EXPECT_EQ(second.offset, 6144u * 512);
    EXPECT_EQ(second.length, 2048u * 512);
    EXPECT_EQ(second.partition, 3);
    EXPECT_EQ(letters[1], letters[0] + 1);

    for (auto [letter, text] : {std::pair{letters[0], "first partition"}, std::pair{letters[1], "second partition"}}) {
        HANDLE h = CreateFileA(VolumePath(letter).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        char buffer[512] = {};
        DWORD read = 0;
        ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
        EXPECT_EQ(read, 512u);
        EXPECT_STREQ(buffer, text);
        CloseHandle(h);
    }
}

TEST_F(DriveNamespace, AttachRefusesWhatIsNoImage) {
    std::string error;
    EXPECT_TRUE(platform::AttachImage(temp.File("missing.img"), &error).empty());
    EXPECT_NE(error.find("missing.img"), std::string::npos);

    std::string empty = temp.File("empty.img");
    { std::ofstream create(empty); }
    EXPECT_TRUE(platform::AttachImage(empty, &error).empty());
    EXPECT_NE(error.find("empty"), std::string::npos);

    EXPECT_TRUE(platform::AttachImage(temp.Path().string(), &error).empty()); // a folder
}

TEST_F(DriveNamespace, EnvironmentAttachesEachPathAndSkipsBadOnes) {
    std::string a = temp.File("a.img");
    std::string b = temp.File("b.img");
    MakeImage(a, 1 << 20, FatBootSector());
    MakeImage(b, 2 << 20, FatBootSector());
    std::string list = a + "::" + temp.File("missing.img") + ":" + b;
    ::setenv("TRANQUO_ATTACH", list.c_str(), 1);
    platform::ResetDrives();

    std::vector<std::string> sources;
    for (const auto& drive : platform::ListDrives())
        if (drive.attachedImage) sources.push_back(drive.source);
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[0], std::filesystem::canonical(a).string());
    EXPECT_EQ(sources[1], std::filesystem::canonical(b).string());
}

TEST_F(DriveNamespace, LogicalDriveStringsListEveryLetter) {
    std::string image = temp.File("card.img");
    MakeImage(image, 1 << 20, FatBootSector());
    std::string error;
    char letter = platform::AttachImage(image, &error).at(0);

    DWORD needed = GetLogicalDriveStringsA(0, nullptr);
    ASSERT_GE(needed, 9u); // at least "C:\" NUL, "X:\" NUL, NUL
    std::vector<char> buffer(needed, 'x');
    DWORD length = GetLogicalDriveStringsA(needed, buffer.data());
    EXPECT_EQ(length, needed - 1);
    EXPECT_EQ(std::string(buffer.data(), 4), std::string("C:\\\0", 4));
    std::string list(buffer.data(), length);
    EXPECT_NE(list.find(std::string(1, letter) + ":\\"), std::string::npos);
    EXPECT_EQ(length % 4, 0u);
    EXPECT_EQ(buffer[length], '\0');

    std::vector<char> small(needed - 1, 'x');
    EXPECT_EQ(GetLogicalDriveStringsA(needed - 1, small.data()), needed);
}

TEST_F(DriveNamespace, DiskFreeSpaceOfAnImageRootIsItsSize) {
    // 3 GiB: the low half of the size reads negative as a signed 32-bit value.
    std::string image = temp.File("big.img");
    MakeImage(image, 3ull << 30, FatBootSector());
    std::string error;
    char letter = platform::AttachImage(image, &error).at(0);
    ULARGE_INTEGER available{}, total{}, free{};
    ASSERT_TRUE(GetDiskFreeSpaceExA(RootPath(letter).c_str(), &available, &total, &free));
    EXPECT_EQ(total.QuadPart, 3221225472ull);
    EXPECT_EQ(available.QuadPart, 3221225472ull);
    ASSERT_TRUE(GetDiskFreeSpaceExA((std::string(1, letter) + ":").c_str(), nullptr, &total, nullptr));
    EXPECT_EQ(total.QuadPart, 3221225472ull);

    EXPECT_FALSE(GetDiskFreeSpaceExA("Z:\\", &available, &total, &free));
}

TEST_F(DriveNamespace, DiskFreeSpaceOfAFolderIsItsFileSystems) {
    ULARGE_INTEGER available{}, total{}, free{};
    ASSERT_TRUE(GetDiskFreeSpaceExA(temp.Path().c_str(), &available, &total, &free));
    EXPECT_GT(total.QuadPart, 0u);
    EXPECT_LE(available.QuadPart, total.QuadPart);
    // A destination folder that is still to be made: its parent's file system.
    ULARGE_INTEGER totalBelow{};
    ASSERT_TRUE(GetDiskFreeSpaceExA(temp.File("not/made/yet").c_str(), nullptr, &totalBelow, nullptr));
    EXPECT_EQ(totalBelow.QuadPart, total.QuadPart);
}

TEST(VolumeGeometry, ProductIsTheExactSectorCount) {
    for (std::uint64_t sectors : {1ull, 63ull, 32768ull, 131072ull, 3999744ull, 1000003ull /* prime */,
                                  255ull * 63 * 1000, 7812500ull, 0xFFFFFFFFull}) {
        DISK_GEOMETRY g = platform::detail::GeometryForVolume(sectors * 512, 512, true);
        std::uint64_t product =
            static_cast<std::uint64_t>(g.Cylinders.QuadPart) * g.TracksPerCylinder * g.SectorsPerTrack;
        EXPECT_EQ(product, sectors) << sectors;
        EXPECT_LE(g.TracksPerCylinder, 255u);
        EXPECT_LE(g.SectorsPerTrack, 63u);
        EXPECT_GE(g.TracksPerCylinder, 1u);
        EXPECT_EQ(g.BytesPerSector, 512u);
        EXPECT_EQ(g.MediaType, RemovableMedia);
    }
    DISK_GEOMETRY fixed = platform::detail::GeometryForVolume(4096ull * 1000, 4096, false);
    EXPECT_EQ(fixed.MediaType, FixedMedia);
    EXPECT_EQ(static_cast<std::uint64_t>(fixed.Cylinders.QuadPart) * fixed.TracksPerCylinder * fixed.SectorsPerTrack,
              1000u);
    // Beyond 32 bits: whole cylinders of the classic translation.
    DISK_GEOMETRY huge = platform::detail::GeometryForVolume((1ull << 33) * 512, 512, false);
    EXPECT_EQ(huge.TracksPerCylinder, 255u);
    EXPECT_EQ(huge.SectorsPerTrack, 63u);
}

TEST(Mbr, ABootSectorWithSignatureIsNoPartitionTable) {
    Bytes boot = FatBootSector();
    // Even when the boot code happens to look like an entry.
    boot[446 + 4] = 0x0C;
    PutLe32(boot, 446 + 8, 63);
    PutLe32(boot, 446 + 12, 100);
    EXPECT_TRUE(platform::detail::ReadMbrPartitions(boot.data(), boot.size(), 1 << 20).empty());

    Bytes unsigned_ = MbrSector({{0x0C, 63, 100}});
    unsigned_[511] = 0;
    EXPECT_TRUE(platform::detail::ReadMbrPartitions(unsigned_.data(), unsigned_.size(), 1 << 20).empty());

    Bytes badFlag = MbrSector({{0x0C, 63, 100, 0x33}});
    EXPECT_TRUE(platform::detail::ReadMbrPartitions(badFlag.data(), badFlag.size(), 1 << 20).empty());

    Bytes gpt = MbrSector({{0xEE, 1, 1000}});
    EXPECT_TRUE(platform::detail::ReadMbrPartitions(gpt.data(), gpt.size(), 1 << 20).empty());

    // exFAT zeros the old sector-size field; its name tells it apart.
    Bytes exfat = MbrSector({{0x07, 63, 100}});
    exfat[0] = 0xEB, exfat[1] = 0x76, exfat[2] = 0x90;
    std::copy_n("EXFAT   ", 8, exfat.begin() + 3);
    EXPECT_TRUE(platform::detail::ReadMbrPartitions(exfat.data(), exfat.size(), 1 << 20).empty());
}

TEST(Mbr, PartitionsBeyondTheImageAreDroppedOrCut) {
    Bytes table = MbrSector({{0x0B, 100, 50}, {0x0C, 5000, 10}, {0x0E, 900, 500}});
    auto partitions = platform::detail::ReadMbrPartitions(table.data(), table.size(), 1000);
    ASSERT_EQ(partitions.size(), 2u);
    EXPECT_EQ(partitions[0].firstSector, 100u);
    EXPECT_EQ(partitions[0].sectorCount, 50u);
    EXPECT_EQ(partitions[1].number, 3);
    EXPECT_EQ(partitions[1].sectorCount, 100u); // a truncated image still gives what it holds
}

// An image read through a backend: its partition table, or a first sector
// that fails (a failing card), which leaves the image to be taken whole.
TEST(Mbr, AnImageWhoseFirstSectorCannotBeReadIsTakenWhole) {
    class Image : public platform::VolumeBackend {
    public:
        explicit Image(Bytes first) : first_(std::move(first)) {}
        std::uint64_t Size() const override { return 1 << 20; }
        std::uint32_t BytesPerSector() const override { return 512; }
        std::int64_t Read(std::uint64_t offset, void* buffer, std::uint32_t count, DWORD* error) override {
            if (first_.empty() || offset != 0 || count > first_.size()) {
                *error = ERROR_READ_FAULT;
                return -1;
            }
            std::memcpy(buffer, first_.data(), count);
            return count;
        }
        std::int64_t Write(std::uint64_t, const void*, std::uint32_t, DWORD*) override { return -1; }
        bool BeginWrite(DWORD*) override { return false; }
        void EndWrite() override {}

    private:
        Bytes first_;
    };
    Image partitioned(MbrSector({{0x0C, 63, 100}}));
    EXPECT_EQ(platform::detail::ImagePartitions(partitioned, 1 << 20).size(), 1u);
    Image failing({});
    EXPECT_TRUE(platform::detail::ImagePartitions(failing, 1 << 20).empty());
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text << "\n";
}

TEST(RemovableScan, FindsRemovableDevicesAndTheirPartitionsInOrder) {
    TempFolder temp;
    std::filesystem::path block = temp.Path() / "block";
    WriteText(block / "sda" / "removable", "0");           // the system disk
    WriteText(block / "sda" / "sda1" / "partition", "1");
    WriteText(block / "sdc" / "removable", "1");           // a card reader, two partitions
    WriteText(block / "sdc" / "sdc2" / "partition", "2");
    WriteText(block / "sdc" / "sdc1" / "partition", "1");
    WriteText(block / "sdb" / "removable", "1");           // a reader without a partition table
    WriteText(block / "sr0" / "removable", "1");
    WriteText(block / "sr0" / "device" / "type", "5");
    WriteText(block / "mmcblk0" / "removable", "0");       // an SD slot: MMC transport
    WriteText(block / "loop0" / "removable", "1");         // never a drive

    auto volumes = platform::detail::ScanRemovableDevices(block.string(), "/dev");
    std::vector<std::string> names;
    for (const auto& v : volumes) names.push_back(v.name);
    EXPECT_EQ(names, (std::vector<std::string>{"mmcblk0", "sdb", "sdc1", "sdc2", "sr0"}));
    ASSERT_EQ(volumes.size(), 5u);
    EXPECT_EQ(volumes[2].devicePath, "/dev/sdc1");
    EXPECT_EQ(volumes[2].partition, 1);
    EXPECT_EQ(volumes[1].partition, 0);
    EXPECT_EQ(volumes[4].kind, platform::DriveKind::CdRom);
    EXPECT_EQ(volumes[0].kind, platform::DriveKind::Removable);
}

TEST(RemovableScan, SizesComeFromSysfs) {
    TempFolder temp;
    std::filesystem::path device = temp.Path() / "sdb";
    WriteText(device / "size", "3999744");
    WriteText(device / "queue" / "logical_block_size", "4096");
    WriteText(device / "sdb1" / "size", "2048");
    EXPECT_EQ(platform::detail::SysfsDeviceSize(device.string()), 3999744ull * 512);
    EXPECT_EQ(platform::detail::SysfsSectorSize(device.string()), 4096u);
    EXPECT_EQ(platform::detail::SysfsSectorSize((device / "sdb1").string()), 4096u); // from its disk
    EXPECT_EQ(platform::detail::SysfsDeviceSize((temp.Path() / "gone").string()), 0u);
}

} // namespace

namespace {

TEST_F(DriveNamespace, FrontEndsAttachFromTheirCommandLine) {
    std::string a = temp.File("a.img");
    MakeImage(a, 1 << 20, FatBootSector());
    std::vector<std::string> args{"--attach", a, "--verbose", "--attach=" + a, "--", "--attach", "x"};
    std::string error;
    ASSERT_TRUE(platform::AttachFromArguments(args, &error)) << error;
    EXPECT_EQ(args, (std::vector<std::string>{"--verbose", "--", "--attach", "x"}));
    int attached = 0;
    for (const auto& drive : platform::ListDrives()) attached += drive.attachedImage ? 1 : 0;
    EXPECT_EQ(attached, 1);

    std::vector<std::string> bad{"--attach", temp.File("missing.img")};
    EXPECT_FALSE(platform::AttachFromArguments(bad, &error));
    EXPECT_NE(error.find("missing.img"), std::string::npos);
    std::vector<std::string> incomplete{"--attach"};
    EXPECT_FALSE(platform::AttachFromArguments(incomplete, &error));
}

} // namespace
