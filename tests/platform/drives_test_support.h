// Temporary folders and small card images for the drive and file API tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace drivetest {

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tranquo-drives-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        path_ = ::mkdtemp(buffer.data());
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

using Bytes = std::vector<std::uint8_t>;

inline void PutLe32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

// The start of a FAT volume: a jump, 512 bytes per sector, the signature.
inline Bytes FatBootSector() {
    Bytes sector(512, 0);
    sector[0] = 0xEB;
    sector[1] = 0x3C;
    sector[2] = 0x90;
    sector[11] = 0x00;
    sector[12] = 0x02;
    sector[13] = 4;
    sector[510] = 0x55;
    sector[511] = 0xAA;
    return sector;
}

struct Entry {
    std::uint8_t type;
    std::uint32_t first;
    std::uint32_t count;
    std::uint8_t boot = 0;
};

inline Bytes MbrSector(const std::vector<Entry>& entries) {
    Bytes sector(512, 0);
    sector[0] = 0xFA; // boot code, not a jump
    for (std::size_t i = 0; i < entries.size() && i < 4; ++i) {
        std::size_t at = 446 + 16 * i;
        sector[at] = entries[i].boot;
        sector[at + 4] = entries[i].type;
        PutLe32(sector, at + 8, entries[i].first);
        PutLe32(sector, at + 12, entries[i].count);
    }
    sector[510] = 0x55;
    sector[511] = 0xAA;
    return sector;
}

// Writes bytes at offset into a file of the given size (sparse elsewhere).
inline void WriteAt(const std::string& path, std::uint64_t offset, const Bytes& bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void MakeImage(const std::string& path, std::uint64_t size, const Bytes& firstSector) {
    { std::ofstream create(path, std::ios::binary | std::ios::trunc); }
    std::filesystem::resize_file(path, size);
    WriteAt(path, 0, firstSector);
}

inline Bytes Marker(const std::string& text, std::size_t size = 512) {
    Bytes bytes(size, 0);
    for (std::size_t i = 0; i < text.size() && i < size; ++i) bytes[i] = static_cast<std::uint8_t>(text[i]);
    return bytes;
}

inline Bytes ReadBack(const std::string& path, std::uint64_t offset, std::size_t count) {
    std::ifstream file(path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    Bytes bytes(count, 0);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    return bytes;
}

inline std::string VolumePath(char letter) { return std::string("\\\\.\\") + letter + ":"; }
inline std::string RootPath(char letter) { return std::string(1, letter) + ":\\"; }

} // namespace drivetest
