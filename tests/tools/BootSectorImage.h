// A FAT16-style boot sector for test volumes: what the device check needs
// to accept a card, with the reserved area a test chooses.
#pragma once

#include <cstdint>
#include <vector>

namespace testing_tools {

inline void PutLe16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes.at(at) = static_cast<std::uint8_t>(value);
    bytes.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

inline void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

// 512-byte sectors, 4 sectors per cluster, two FATs of fatSectors each, 512
// root entries. The sector count is what the boot sector claims; the tools
// take the capacity from the drive.
inline std::vector<std::uint8_t> BootSector(std::uint32_t totalSectors, std::uint16_t reservedSectors = 1,
                                            std::uint16_t fatSectors = 8) {
    std::vector<std::uint8_t> sector(512, 0);
    sector[0] = 0xEB;
    sector[1] = 0x3C;
    sector[2] = 0x90;
    const char oem[] = "MSDOS5.0";
    for (int i = 0; i < 8; ++i) sector[3 + i] = static_cast<std::uint8_t>(oem[i]);
    PutLe16(sector, 11, 512);
    sector[13] = 4;
    PutLe16(sector, 14, reservedSectors);
    sector[16] = 2;
    PutLe16(sector, 17, 512);
    if (totalSectors < 65536)
        PutLe16(sector, 19, static_cast<std::uint16_t>(totalSectors));
    else
        PutLe32(sector, 32, totalSectors);
    sector[21] = 0xF8;
    PutLe16(sector, 22, fatSectors);
    PutLe16(sector, 24, 63);
    PutLe16(sector, 26, 255);
    sector[38] = 0x29;
    sector[510] = 0x55;
    sector[511] = 0xAA;
    return sector;
}

} // namespace testing_tools
