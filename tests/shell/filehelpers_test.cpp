#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/FileHelpers.h"
#include "platform/drives.h"
#include "platform/shell.h"
#include "TestFolder.h"

using testing_support::TestFolder;
using testing_support::Utf16Le;
using testing_support::WriteBytes;

namespace {

struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::vector<std::string> ReadLines(const std::string& path, int count, bool* unicode = nullptr) {
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
    bool isUnicode = false;
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) lines.push_back(engine::ReadTextLine(file.get(), isUnicode));
    if (unicode) *unicode = isUnicode;
    return lines;
}

// A volume of a given size that is never read.
class SizedVolume : public platform::VolumeBackend {
public:
    explicit SizedVolume(std::uint64_t size) : size_(size) {}
    std::uint64_t Size() const override { return size_; }
    std::uint32_t BytesPerSector() const override { return 512; }
    std::int64_t Read(std::uint64_t, void*, std::uint32_t, DWORD* error) override {
        *error = ERROR_READ_FAULT;
        return -1;
    }
    std::int64_t Write(std::uint64_t, const void*, std::uint32_t, DWORD* error) override {
        *error = ERROR_WRITE_PROTECT;
        return -1;
    }
    bool BeginWrite(DWORD* error) override {
        *error = ERROR_WRITE_PROTECT;
        return false;
    }
    void EndWrite() override {}

private:
    std::uint64_t size_;
};

} // namespace

TEST(ReadTextLine, SplitsAtCarriageReturnAndDropsLineFeeds) {
    TestFolder dir;
    WriteBytes(dir / "crlf.txt", "first\r\nsec\nond\r\n\r\nlast");
    EXPECT_EQ(ReadLines(dir / "crlf.txt", 6),
              (std::vector<std::string>{"first", "second", "", "last", "", ""}));

    WriteBytes(dir / "lf.txt", "one\ntwo\nthree\n");
    EXPECT_EQ(ReadLines(dir / "lf.txt", 2), (std::vector<std::string>{"onetwothree", ""}));
}

TEST(ReadTextLine, ShortFirstLinesKeepTheLineRules) {
    TestFolder dir;
    WriteBytes(dir / "short.txt", "A\r\nB\r\n");
    EXPECT_EQ(ReadLines(dir / "short.txt", 3), (std::vector<std::string>{"A", "B", ""}));
    WriteBytes(dir / "empty-first.txt", "\r\nX");
    EXPECT_EQ(ReadLines(dir / "empty-first.txt", 2), (std::vector<std::string>{"", "X"}));
    WriteBytes(dir / "one.txt", "Z");
    bool unicode = true;
    EXPECT_EQ(ReadLines(dir / "one.txt", 2, &unicode), (std::vector<std::string>{"Z", ""}));
    EXPECT_FALSE(unicode);
}

TEST(ReadTextLine, ConvertsWindows1252ToUtf8) {
    TestFolder dir;
    WriteBytes(dir / "cp1252.txt", "\xA9 2024 \x80 \x93quoted\x94 Stra\xDF" "e\r\n");
    EXPECT_EQ(ReadLines(dir / "cp1252.txt", 1)[0], "© 2024 € “quoted” Straße");
}

TEST(ReadTextLine, Utf16WithMarkKeepsReadingTwoBytesPerCharacter) {
    TestFolder dir;
    WriteBytes(dir / "utf16.txt", Utf16Le(u"[Header]\r\nGr\u00FC\u00DFe \u201Eja\u201C\r\n\U0001F4F7\r\n"));
    bool unicode = false;
    const auto lines = ReadLines(dir / "utf16.txt", 4, &unicode);
    EXPECT_TRUE(unicode);
    EXPECT_EQ(lines, (std::vector<std::string>{"[Header]", "Grüße „ja“", "\U0001F4F7", ""}));
}

TEST(ReadTextLine, BrokenUtf16IsReplacedNotLost) {
    TestFolder dir;
    // A lone high surrogate before "A", then an odd trailing byte.
    WriteBytes(dir / "broken.txt", std::string("\xFF\xFE\x00\xD8" "A\x00" "\r\x00" "B", 9));
    EXPECT_EQ(ReadLines(dir / "broken.txt", 2), (std::vector<std::string>{"\xEF\xBF\xBD" "A", ""}));
}

TEST(StripQuotes, TrimsBlanksAndOnePairOfQuotes) {
    EXPECT_EQ(engine::StripQuotes("  \"/media/card/My Photos\"  "), "/media/card/My Photos");
    EXPECT_EQ(engine::StripQuotes("  plain path "), "plain path");
    EXPECT_EQ(engine::StripQuotes("\""), "\"");
    EXPECT_EQ(engine::StripQuotes("\"\""), "");
    EXPECT_EQ(engine::StripQuotes("\"half"), "\"half");
}

TEST(FileExists, OnlyRegularFilesCount) {
    TestFolder dir;
    WriteBytes(dir / "with space.txt", "x");
    EXPECT_EQ(engine::FileExists(dir / "with space.txt"), support::True);
    EXPECT_EQ(engine::FileExists(" \"" + (dir / "with space.txt") + "\" "), support::True);
    EXPECT_EQ(engine::FileExists(dir.Path()), support::False);
    EXPECT_EQ(engine::FileExists(dir / "missing.txt"), support::False);
    EXPECT_EQ(engine::FileExists(""), support::False);
}

TEST(DiskSizes, ThreeGigabyteVolumeIsCorrectedBySignedHalves) {
    platform::ResetDrives();
    const char letter = platform::AttachVolume(std::make_shared<SizedVolume>(3221225472ull), "3 GiB card");
    ASSERT_NE(letter, 0);
    const std::string root = std::string(1, letter) + ":";
    EXPECT_EQ(engine::DiskCapacity(root), "3221225472");
    EXPECT_EQ(engine::DiskCapacity(root + "\\"), "3221225472");

    const std::string list = engine::GetLogicalDriveList();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.size() % 4, 1u);
    EXPECT_EQ(list.back(), '\0');
    EXPECT_EQ(list.substr(0, 4), std::string("C:\\\0", 4));
    EXPECT_NE(list.find(root + "\\" + std::string(1, '\0')), std::string::npos);
    platform::ResetDrives();
}

TEST(DiskSizes, FreeSpaceOfFoldersAndFailures) {
    TestFolder dir;
    EXPECT_GT(engine::DiskFreeSpace(dir.Path()), 0.0);
    // A backup image about to be written into a folder not made yet.
    EXPECT_GT(engine::DiskFreeSpace(dir / "new/folder/image.img"), 0.0);
    EXPECT_EQ(engine::DiskFreeSpace(""), 0.0);
    EXPECT_EQ(engine::DiskCapacity(""), "0");
}

TEST(GetSpecialFolderPath, DocumentsFolderIsAFolder) {
    const std::string documents = engine::GetSpecialFolderPath(CSIDL_PERSONAL);
    ASSERT_FALSE(documents.empty());
    EXPECT_TRUE(std::filesystem::is_directory(documents));
}
