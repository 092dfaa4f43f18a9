// CreateFileA, ReadFile, WriteFile and SetFilePointer on ordinary files.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/fileapi.h"
#include "tests/platform/drives_test_support.h"

using namespace drivetest;

namespace {

HANDLE Create(const std::string& path, DWORD access, DWORD disposition, DWORD share = 0) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(FileApi, DispositionsCreateOpenAndTruncateAsOnWindows) {
    TempFolder temp;
    std::string path = temp.File("out.bin");

    HANDLE h = Create(path, GENERIC_READ, OPEN_EXISTING);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Create(temp.File("no/such/folder/out.bin"), GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    h = Create(path, GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_NE(h, nullptr);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "hello world", 11, &written, nullptr));
    EXPECT_EQ(written, 11u);
    CloseHandle(h);
    EXPECT_EQ(Contents(path), "hello world");

    EXPECT_EQ(Create(path, GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(Contents(path), "hello world"); // a refused create leaves the file alone

    h = Create(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), 11u);
    WriteFile(h, "!", 1, &written, nullptr);
    CloseHandle(h);
    EXPECT_EQ(Contents(path), "hello world!");

    h = Create(path, GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(h);
    EXPECT_EQ(Contents(path), "");

    h = Create(temp.File("fresh.bin"), GENERIC_WRITE, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(h);

    EXPECT_EQ(Create(temp.Path().string(), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE); // a folder
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Create(path, GENERIC_READ, 99), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(FileApi, ReadsSeeksAndKeepsToTheAccessAskedFor) {
    TempFolder temp;
    std::string path = temp.File("data.bin");
    std::ofstream(path, std::ios::binary) << "0123456789";

    HANDLE h = Create(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[16] = {};
    DWORD read = 0;
    EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
    ASSERT_TRUE(ReadFile(h, buffer, 3, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "456");
    EXPECT_EQ(SetFilePointer(h, -2, nullptr, FILE_END), 8u);
    ASSERT_TRUE(ReadFile(h, buffer, 16, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "89");
    // At the end of a file a read succeeds with nothing, as Windows does.
    ASSERT_TRUE(ReadFile(h, buffer, 16, &read, nullptr));
    EXPECT_EQ(read, 0u);

    DWORD written = 7;
    EXPECT_FALSE(WriteFile(h, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(h);

    EXPECT_FALSE(ReadFile(h, buffer, 1, &read, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, buffer, 1, &read, nullptr));
    EXPECT_FALSE(CloseHandle(nullptr));
}

TEST(FileApi, ShareModesAreHonouredWithinTheProcess) {
    TempFolder temp;
    std::string path = temp.File("shared.bin");
    std::ofstream(path) << "keep me";

    HANDLE reader = Create(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    HANDLE second = Create(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    // A writer is refused while readers do not share writing, and a refused
    // CREATE_ALWAYS does not truncate the file.
    EXPECT_EQ(Create(path, GENERIC_WRITE, CREATE_ALWAYS, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Contents(path), "keep me");
    CloseHandle(reader);
    CloseHandle(second);

    HANDLE writer = Create(path, GENERIC_WRITE, OPEN_EXISTING, 0);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Create(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
    CloseHandle(writer);
}

TEST(FileApi, OpenFileReportsErrorsInTheOfstruct) {
    TempFolder temp;
    std::string path = temp.File("there.txt");
    std::ofstream(path) << "x";
    OFSTRUCT ofs{};
    EXPECT_EQ(OpenFile(temp.File("absent.txt").c_str(), &ofs, OF_READ), HFILE_ERROR);
    EXPECT_EQ(ofs.nErrCode, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ofs.cBytes, sizeof ofs);
    HFILE f = OpenFile(path.c_str(), &ofs, OF_EXIST);
    EXPECT_NE(f, HFILE_ERROR); // the file is there; nothing stays open
    f = OpenFile(path.c_str(), &ofs, OF_READ);
    ASSERT_NE(f, HFILE_ERROR);
    EXPECT_STREQ(ofs.szPathName, path.c_str());
    EXPECT_TRUE(CloseHandle(HandleFromHfile(f)));
}

} // namespace
