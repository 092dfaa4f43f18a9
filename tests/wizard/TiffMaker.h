// Small TIFF-based raw files for the carving tests, laid out as cameras
// write them: directories up front, pictures and raw data behind them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wizardtest {

// Writes TIFF values and directories into a byte vector in either byte order.
struct TiffWriter {
    struct Entry {
        std::uint16_t tag;
        std::uint16_t type; // 3 SHORT, 4 LONG, 7 UNDEFINED, 2 ASCII
        std::uint32_t count;
        std::uint32_t value; // the value, or the offset of values that do not fit
    };
    explicit TiffWriter(bool bigEndian) : big(bigEndian) {}
    void Put16(std::size_t at, std::uint32_t value);
    void Put32(std::size_t at, std::uint32_t value);
    void Put(std::size_t at, const std::vector<std::uint8_t>& data);
    // "II*\0" or "MM\0*" and the first directory's offset.
    void Header(std::uint32_t firstDirectory);
    // A directory at at: its entries (sorted by tag) and the next one's offset.
    void Directory(std::size_t at, const std::vector<Entry>& entries, std::uint32_t next);

    bool big;
    std::vector<std::uint8_t> bytes;
};

// A raw file: IFD0 (whose strip is the preview JPEG, starting on a 512-byte
// boundary of the file), IFD1 with the thumbnail as JPEG interchange format,
// an EXIF directory with a maker note, and a SubIFD with the raw data as its
// strip, which ends the file. Little-endian files carry Canon's "CR" mark.
struct RawTiff {
    std::vector<std::uint8_t> bytes;
    std::size_t previewAt = 0;
    std::size_t rawAt = 0;
};
RawTiff MakeRawTiff(bool bigEndian, const std::vector<std::uint8_t>& thumbnail,
                    const std::vector<std::uint8_t>& preview, std::size_t rawBytes, std::uint32_t seed);

// Where MakeRawTiff puts the parts that tests damage.
constexpr std::size_t RawTiffIfd0 = 16;
constexpr std::size_t RawTiffThumbnail = 1024; // on a sector boundary too
constexpr std::size_t RawTiffSubIfdPointer = RawTiffIfd0 + 2 + 12 * 4 + 8; // the value of entry 330
constexpr std::size_t RawTiffIfd1Next = 600 + 2 + 12 * 2;

} // namespace wizardtest
