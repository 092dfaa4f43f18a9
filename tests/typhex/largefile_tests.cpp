// LargeFile: block-buffered writing, reading, sizes, and failures that must
// not be reported as success.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "TyphexTestSupport.h"

namespace typhextest {
namespace {

class LargeFileTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        file_ = Make<ILargeFile>(CLSID_LargeFile, IID_ILargeFile);
    }
    static long long SizeOnDisk(const std::string& path) {
        struct stat status {};
        return ::stat(path.c_str(), &status) == 0 ? static_cast<long long>(status.st_size) : -1;
    }
    VARIANT_BOOL Open(const std::string& path, bool write) {
        Text name(path.c_str());
        VARIANT_BOOL ok = 7;
        file_->OpenFile(name.get(), write ? 1 : 0, &ok);
        return ok;
    }
    LONG Write(std::vector<BYTE>& bytes, LONG position, LONG count) {
        platform::BorrowedByteArray array(bytes.data(), static_cast<ULONG>(bytes.size()));
        LONG result = 12345;
        EXPECT_EQ(file_->WriteData(array.ByRefVariant(), position, count, &result), S_OK);
        return result;
    }
    VARIANT_BOOL Close() {
        VARIANT_BOOL ok = 7;
        EXPECT_EQ(file_->CloseFile(&ok), S_OK);
        return ok;
    }
    ComPtr<ILargeFile> file_;
};

TEST_F(LargeFileTest, DataReachesTheFileInMillionByteBlocks) {
    const std::string path = (PrivateFolder() / "blocks.bin").string();
    ASSERT_EQ(Open(path, true), 1);
    std::vector<BYTE> sector(512);
    long long written = 0;
    for (int piece = 0; written < 2500000; ++piece) {
        const LONG count = static_cast<LONG>(std::min<long long>(512, 2500000 - written));
        for (LONG i = 0; i < count; ++i) sector[i] = static_cast<BYTE>(written + i);
        ASSERT_EQ(Write(sector, 0, count), count);
        written += count;
        const long long expected = written / 1000000 * 1000000;
        if (piece % 97 == 0 || written == 2500000) {
            ASSERT_EQ(SizeOnDisk(path), expected) << written;
        }
    }
    EXPECT_EQ(Close(), 1);
    EXPECT_EQ(SizeOnDisk(path), 2500000);
    std::ifstream in(path, std::ios::binary);
    std::vector<char> contents((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(contents.size(), 2500000u);
    EXPECT_EQ(static_cast<BYTE>(contents[2499999]), static_cast<BYTE>(2499999));
}

TEST_F(LargeFileTest, LargeWritesKeepOrderAndBlocksWithOrWithoutPendingBytes) {
    const std::string path = (PrivateFolder() / "large-writes.bin").string();
    ASSERT_EQ(Open(path, true), 1);
    std::vector<BYTE> source(3600000);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<BYTE>(i * 7 + i / 251);
    // Bytes pending, then a write spanning a block; then whole blocks with
    // nothing pending, taken from an offset into the caller's array.
    ASSERT_EQ(Write(source, 0, 300), 300);
    ASSERT_EQ(Write(source, 300, 1200000), 1200000);
    EXPECT_EQ(SizeOnDisk(path), 1000000);
    ASSERT_EQ(Write(source, 1200300, 799700), 799700);
    EXPECT_EQ(SizeOnDisk(path), 2000000);
    ASSERT_EQ(Write(source, 2000000, 1600000), 1600000);
    EXPECT_EQ(SizeOnDisk(path), 3000000);
    EXPECT_EQ(Close(), 1);
    std::ifstream in(path, std::ios::binary);
    std::vector<char> contents((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(contents.size(), source.size());
    EXPECT_TRUE(std::equal(source.begin(), source.end(), reinterpret_cast<const BYTE*>(contents.data())));
}

TEST_F(LargeFileTest, WritesOfNothingAndEmptyNames) {
    const std::string path = (PrivateFolder() / "nothing.bin").string();
    ASSERT_EQ(Open(path, true), 1);
    std::vector<BYTE> bytes{1, 2, 3};
    EXPECT_EQ(Write(bytes, 0, 0), 0);
    EXPECT_EQ(Write(bytes, 1, 2), 2);
    // An empty name changes nothing: success is not written, the file stays open.
    Text empty("");
    VARIANT_BOOL ok = 7;
    EXPECT_EQ(file_->OpenFile(empty.get(), 1, &ok), S_OK);
    EXPECT_EQ(ok, 7);
    EXPECT_EQ(Write(bytes, 0, 1), 1);
    EXPECT_EQ(Close(), 1);
    EXPECT_EQ(SizeOnDisk(path), 3);
    EXPECT_EQ(Close(), 1); // nothing open
}

TEST_F(LargeFileTest, FailuresAreNotReportedAsSuccess) {
    // A full disk: the pending bytes cannot be written at close.
    ASSERT_EQ(Open("/dev/full", true), 1);
    std::vector<BYTE> bytes(4096, 0xAA);
    EXPECT_EQ(Write(bytes, 0, 4096), 4096); // still in the buffer
    EXPECT_EQ(Close(), 0);

    // A full block that cannot be written: -1 at once, and 0 at close.
    ASSERT_EQ(Open("/dev/full", true), 1);
    std::vector<BYTE> block(1000000, 0x55);
    EXPECT_EQ(Write(block, 0, 1000000), -1);
    EXPECT_EQ(Close(), 0);

    // A file that cannot be created.
    Text bad((PrivateFolder() / "no-folder" / "x.bin").c_str());
    VARIANT_BOOL ok = 7;
    EXPECT_EQ(file_->OpenFile(bad.get(), 1, &ok), E_FAIL);
    EXPECT_EQ(ok, 0);
    // Nothing open: bytes are never counted as written.
    EXPECT_EQ(Write(bytes, 0, 10), -1);
    // A range outside the array is refused.
    platform::BorrowedByteArray array(bytes.data(), static_cast<ULONG>(bytes.size()));
    LONG result = 0;
    EXPECT_EQ(file_->WriteData(array.ByRefVariant(), 4000, 200, &result), E_INVALIDARG);
}

TEST_F(LargeFileTest, ReadingAndSizes) {
    const std::string path = (PrivateFolder() / "read.bin").string();
    { std::ofstream(path, std::ios::binary) << "0123456789"; }
    ASSERT_EQ(Open(path, false), 1);
    Var buffer;
    FillBytes(buffer, std::vector<BYTE>(6, 0));
    LONG count = 0;
    file_->ReadData(&buffer, &count);
    EXPECT_EQ(count, 6);
    file_->ReadData(&buffer, &count);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(BytesOf(buffer.get())[0], '6');
    file_->ReadData(&buffer, &count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(Close(), 1);

    const std::string big = (PrivateFolder() / "sparse.bin").string();
    { std::ofstream touch(big); }
    ASSERT_EQ(::truncate(big.c_str(), 5000000000LL), 0);
    Text name(big.c_str());
    double size = 0;
    file_->FileSize(name.get(), &size);
    EXPECT_EQ(size, 5000000000.0);
    ::unlink(big.c_str());
    Text missing((PrivateFolder() / "missing.bin").c_str());
    file_->FileSize(missing.get(), &size);
    EXPECT_EQ(size, 0);
}

} // namespace
} // namespace typhextest
