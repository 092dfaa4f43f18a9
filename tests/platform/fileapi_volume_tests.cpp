// "\\.\X:" volumes: reading, seeking, the geometry query, writing and its
// refusals, share modes, and a backend supplied by a test.
#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>

#include "platform/drives.h"
#include "platform/fileapi.h"
#include "tests/platform/drives_test_support.h"

using namespace drivetest;

namespace {

class VolumeApi : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("TRANQUO_ATTACH");
        platform::ResetDrives();
        image = temp.File("card.img");
        MakeImage(image, 64 * 512, FatBootSector());
        WriteAt(image, 5 * 512, Marker("sector five"));
        WriteAt(image, 63 * 512, Marker("last sector"));
        std::string error;
        auto letters = platform::AttachImage(image, &error);
        ASSERT_EQ(letters.size(), 1u) << error;
        letter = letters[0];
        path = VolumePath(letter);
    }
    void TearDown() override { platform::ResetDrives(); }

    HANDLE Open(DWORD access, DWORD share = FILE_SHARE_READ) {
        return CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    }

    TempFolder temp;
    std::string image;
    std::string path;
    char letter = 0;
};

TEST_F(VolumeApi, ReadsSectorsAndStopsAtTheEnd) {
    HANDLE h = Open(GENERIC_READ);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LONG high = 0;
    EXPECT_EQ(SetFilePointer(h, 5 * 512, &high, FILE_BEGIN), 5u * 512);
    char buffer[1024] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(h, buffer, 512, &read, nullptr));
    EXPECT_STREQ(buffer, "sector five");

    // Across the end: what is there, as a short read.
    SetFilePointer(h, 63 * 512, &high, FILE_BEGIN);
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 512u);
    EXPECT_STREQ(buffer, "last sector");
    // From the end on: a failure, not an endless run of empty reads.
    EXPECT_FALSE(ReadFile(h, buffer, 512, &read, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SECTOR_NOT_FOUND);
    EXPECT_EQ(read, 0u);
    SetFilePointer(h, 1000 * 512, &high, FILE_BEGIN);
    EXPECT_FALSE(ReadFile(h, buffer, 512, &read, nullptr));
    // Reading nothing always works.
    EXPECT_TRUE(ReadFile(h, buffer, 0, &read, nullptr));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(VolumeApi, OpenFileGivesAnHfileThatWorksAsAHandle) {
    OFSTRUCT ofs;
    std::memset(&ofs, 0x55, sizeof ofs);
    HFILE f = OpenFile(path.c_str(), &ofs, OF_READ);
    ASSERT_NE(f, HFILE_ERROR);
    EXPECT_EQ(ofs.nErrCode, 0);
    EXPECT_EQ(ofs.fFixedDisk, 0);
    HANDLE h = HandleFromHfile(f);
    EXPECT_NE(h, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    SetFilePointer(h, 5 * 512, nullptr, FILE_BEGIN);
    char buffer[512] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(h, buffer, 512, &read, nullptr));
    EXPECT_STREQ(buffer, "sector five");
    CloseHandle(h);

    EXPECT_EQ(OpenFile("\\\\.\\Y:", &ofs, OF_READ), HFILE_ERROR);
    EXPECT_EQ(ofs.nErrCode, ERROR_FILE_NOT_FOUND);
}

TEST_F(VolumeApi, GeometryQueryNeedsNoAccessAndGivesTheExactSectorCount) {
    HANDLE h = Open(0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DISK_GEOMETRY geometry{};
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &returned,
                                nullptr));
    EXPECT_EQ(returned, sizeof geometry);
    EXPECT_EQ(geometry.MediaType, RemovableMedia);
    EXPECT_EQ(geometry.BytesPerSector, 512u);
    EXPECT_EQ(geometry.Cylinders.QuadPart * geometry.TracksPerCylinder * geometry.SectorsPerTrack, 64);

    char small[8];
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, small, sizeof small, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(DeviceIoControl(h, 0x12345, nullptr, 0, &geometry, sizeof geometry, &returned, nullptr));

    char buffer[512];
    DWORD read = 0;
    EXPECT_FALSE(ReadFile(h, buffer, 512, &read, nullptr)); // no read access was asked for
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(h);
}

TEST_F(VolumeApi, SetFilePointerWithTheHighHalf) {
    std::string big = temp.File("big.img");
    MakeImage(big, 5ull << 30, FatBootSector());
    WriteAt(big, (4ull << 30) + 512, Marker("beyond 4 GiB"));
    std::string error;
    char bigLetter = platform::AttachImage(big, &error).at(0);
    HANDLE h = CreateFileA(VolumePath(bigLetter).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);

    LONG high = 1;
    EXPECT_EQ(SetFilePointer(h, 512, &high, FILE_BEGIN), 512u);
    EXPECT_EQ(high, 1);
    char buffer[512] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(h, buffer, 512, &read, nullptr));
    EXPECT_STREQ(buffer, "beyond 4 GiB");

    // A position whose low half is 0xFFFFFFFF is no failure: GetLastError says so.
    high = 0;
    SetLastError(ERROR_INVALID_FUNCTION);
    EXPECT_EQ(SetFilePointer(h, static_cast<LONG>(0xFFFFFFFFu), &high, FILE_BEGIN), 0xFFFFFFFFu);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(high, 0);

    // Relative moves carry into the high half.
    high = 0;
    EXPECT_EQ(SetFilePointer(h, 1, &high, FILE_CURRENT), 0u);
    EXPECT_EQ(high, 1);
    high = -1;
    EXPECT_EQ(SetFilePointer(h, -1, &high, FILE_CURRENT), 0xFFFFFFFFu);
    EXPECT_EQ(high, 0);

    // Without the high pointer the distance is signed 32-bit.
    EXPECT_EQ(SetFilePointer(h, 100, nullptr, FILE_BEGIN), 100u);
    EXPECT_EQ(SetFilePointer(h, -40, nullptr, FILE_CURRENT), 60u);
    EXPECT_EQ(SetFilePointer(h, -100, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    // ... and a position beyond 32 bits cannot be reported.
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
    high = 0;
    EXPECT_EQ(SetFilePointer(h, 0, &high, FILE_END), 0x40000000u);
    EXPECT_EQ(high, 1);
    CloseHandle(h);

    EXPECT_EQ(SetFilePointer(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(123456)), 0, nullptr, FILE_BEGIN),
              INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(VolumeApi, WritesGoToTheImageAtTheVolumeOffset) {
    HANDLE h = Open(GENERIC_WRITE, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    LONG high = 0;
    SetFilePointer(h, 7 * 512, &high, FILE_BEGIN);
    Bytes data = Marker("written");
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, data.data(), 512, &written, nullptr));
    EXPECT_EQ(written, 512u);
    // A write across the end is cut to the volume: the image never grows.
    SetFilePointer(h, 63 * 512, &high, FILE_BEGIN);
    Bytes two(1024, 0xAB);
    ASSERT_TRUE(WriteFile(h, two.data(), 1024, &written, nullptr));
    EXPECT_EQ(written, 512u);
    EXPECT_FALSE(WriteFile(h, two.data(), 512, &written, nullptr));
    char buffer[16];
    DWORD read = 0;
    EXPECT_FALSE(ReadFile(h, buffer, sizeof buffer, &read, nullptr)); // opened for writing only
    CloseHandle(h);

    EXPECT_EQ(ReadBack(image, 7 * 512, 7), Bytes(data.begin(), data.begin() + 7));
    EXPECT_EQ(std::filesystem::file_size(image), 64u * 512);
}

TEST_F(VolumeApi, WritesToAPartitionStayInsideIt) {
    std::string disk = temp.File("disk.img");
    MakeImage(disk, 1 << 20, MbrSector({{0x0C, 100, 10}, {0x0C, 200, 10}}));
    std::string error;
    auto letters = platform::AttachImage(disk, &error);
    ASSERT_EQ(letters.size(), 2u);
    HANDLE h = CreateFileA(VolumePath(letters[0]).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LONG high = 0;
    SetFilePointer(h, 9 * 512, &high, FILE_BEGIN);
    Bytes data(2048, 0xCD);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, data.data(), 2048, &written, nullptr));
    EXPECT_EQ(written, 512u);
    CloseHandle(h);
    EXPECT_EQ(ReadBack(disk, 109 * 512, 512), Bytes(512, 0xCD));
    EXPECT_EQ(ReadBack(disk, 110 * 512, 512), Bytes(512, 0));
}

TEST_F(VolumeApi, ReadingNeverChangesTheImage) {
    struct stat before {};
    ::stat(image.c_str(), &before);
    Bytes content = ReadBack(image, 0, 64 * 512);
    for (DWORD access : {0u, GENERIC_READ}) {
        HANDLE h = Open(access);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        char buffer[4096];
        DWORD read = 0;
        ReadFile(h, buffer, sizeof buffer, &read, nullptr);
        DISK_GEOMETRY geometry;
        DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &read, nullptr);
        CloseHandle(h);
    }
    struct stat after {};
    ::stat(image.c_str(), &after);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(ReadBack(image, 0, 64 * 512), content);
}

TEST_F(VolumeApi, WritingIsRefusedForTheFixedDrive) {
    HANDLE h = CreateFileA("\\\\.\\C:", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    h = CreateFileA("\\\\.\\c:", GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    OFSTRUCT ofs{};
    EXPECT_EQ(OpenFile("\\\\.\\C:", &ofs, OF_READWRITE), HFILE_ERROR);
    EXPECT_EQ(ofs.nErrCode, ERROR_ACCESS_DENIED);

    // Reading C: either works (a real root device we may read) or fails with
    // a code; it never crashes.
    h = CreateFileA("\\\\.\\C:", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        EXPECT_NE(GetLastError(), ERROR_SUCCESS);
    else
        CloseHandle(h);

    EXPECT_EQ(CreateFileA("\\\\.\\Q:", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    // Other device names are no files either, whatever the disposition.
    EXPECT_EQ(CreateFileA("\\\\.\\PhysicalDrive0", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(std::filesystem::exists("\\\\.\\PhysicalDrive0"));
}

TEST_F(VolumeApi, AnExclusiveWriterShutsOutOtherReadersAndWriters) {
    HANDLE reader = Open(GENERIC_READ, FILE_SHARE_READ);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    // A reader that does not share writing keeps writers out.
    EXPECT_EQ(Open(GENERIC_WRITE, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(reader);

    HANDLE writer = Open(GENERIC_WRITE, 0);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    OFSTRUCT ofs{};
    EXPECT_EQ(OpenFile(path.c_str(), &ofs, OF_READ), HFILE_ERROR);
    EXPECT_EQ(ofs.nErrCode, ERROR_SHARING_VIOLATION);
    // The geometry query takes no part in share modes.
    HANDLE query = Open(0);
    EXPECT_NE(query, INVALID_HANDLE_VALUE);
    CloseHandle(query);
    CloseHandle(writer);

    HANDLE again = Open(GENERIC_READ);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

// A card with a bad sector: reads of sector 3 fail.
class FlakyCard : public platform::VolumeBackend {
public:
    std::uint64_t Size() const override { return 16 * 512; }
    std::uint32_t BytesPerSector() const override { return 512; }
    std::int64_t Read(std::uint64_t offset, void* buffer, std::uint32_t count, DWORD* error) override {
        if (offset <= 3 * 512 && offset + count > 3 * 512) {
            *error = ERROR_READ_FAULT;
            return -1;
        }
        std::memset(buffer, 0x11, count);
        return count;
    }
    std::int64_t Write(std::uint64_t, const void*, std::uint32_t count, DWORD*) override { return count; }
    bool BeginWrite(DWORD* error) override {
        *error = ERROR_WRITE_PROTECT;
        return false;
    }
    void EndWrite() override {}
};

TEST_F(VolumeApi, ABackendsFailuresReachTheCaller) {
    char flaky = platform::AttachVolume(std::make_shared<FlakyCard>(), "flaky card");
    ASSERT_NE(flaky, 0);
    platform::DriveInfo info;
    ASSERT_TRUE(platform::FindDrive(flaky, &info));
    EXPECT_EQ(info.length, 16u * 512);
    EXPECT_EQ(info.source, "flaky card");
    EXPECT_EQ(GetDriveTypeA(RootPath(flaky).c_str()), DRIVE_REMOVABLE);

    HANDLE h = CreateFileA(VolumePath(flaky).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[1024];
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(h, buffer, 1024, &read, nullptr));
    EXPECT_FALSE(ReadFile(h, buffer, 1024, &read, nullptr)); // sectors 2 and 3
    EXPECT_EQ(GetLastError(), ERROR_READ_FAULT);
    CloseHandle(h);

    EXPECT_EQ(CreateFileA(VolumePath(flaky).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_WRITE_PROTECT);
}

} // namespace
