#include "TiffMaker.h"

#include <random>

namespace wizardtest {

void TiffWriter::Put16(std::size_t at, std::uint32_t value) {
    if (bytes.size() < at + 2) bytes.resize(at + 2);
    bytes[at + (big ? 0 : 1)] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + (big ? 1 : 0)] = static_cast<std::uint8_t>(value);
}

void TiffWriter::Put32(std::size_t at, std::uint32_t value) {
    Put16(at + (big ? 0 : 2), value >> 16);
    Put16(at + (big ? 2 : 0), value & 0xFFFF);
}

void TiffWriter::Put(std::size_t at, const std::vector<std::uint8_t>& data) {
    if (bytes.size() < at + data.size()) bytes.resize(at + data.size());
    std::copy(data.begin(), data.end(), bytes.begin() + static_cast<long>(at));
}

void TiffWriter::Header(std::uint32_t firstDirectory) {
    Put(0, big ? std::vector<std::uint8_t>{'M', 'M', 0, 42} : std::vector<std::uint8_t>{'I', 'I', 42, 0});
    Put32(4, firstDirectory);
}

void TiffWriter::Directory(std::size_t at, const std::vector<Entry>& entries, std::uint32_t next) {
    Put16(at, static_cast<std::uint32_t>(entries.size()));
    std::size_t p = at + 2;
    for (const Entry& e : entries) {
        Put16(p, e.tag);
        Put16(p + 2, e.type);
        Put32(p + 4, e.count);
        if (e.type == 3 && e.count == 1) {
            Put16(p + 8, e.value); // a SHORT sits in the field's first two bytes
        } else {
            Put32(p + 8, e.value);
        }
        p += 12;
    }
    Put32(p, next);
}

RawTiff MakeRawTiff(bool bigEndian, const std::vector<std::uint8_t>& thumbnail,
                    const std::vector<std::uint8_t>& preview, std::size_t rawBytes, std::uint32_t seed) {
    constexpr std::uint32_t Exif = 300, SubIfd = 400, Ifd1 = 600, MakerNote = 800;
    constexpr auto Thumbnail = static_cast<std::uint32_t>(RawTiffThumbnail);
    RawTiff raw;
    raw.previewAt = (Thumbnail + thumbnail.size() + 511) / 512 * 512;
    raw.rawAt = raw.previewAt + preview.size() + 100;
    TiffWriter w(bigEndian);
    w.Header(RawTiffIfd0);
    if (!bigEndian) w.Put(8, {'C', 'R', 2, 0});
    const auto previewAt = static_cast<std::uint32_t>(raw.previewAt);
    const auto rawAt = static_cast<std::uint32_t>(raw.rawAt);
    w.Directory(RawTiffIfd0,
                {{256, 3, 1, 160},
                 {271, 2, 6, 200},
                 {273, 4, 1, previewAt},
                 {279, 4, 1, static_cast<std::uint32_t>(preview.size())},
                 {330, 4, 1, SubIfd},
                 {34665, 4, 1, Exif}},
                Ifd1);
    w.Put(200, {'C', 'a', 'n', 'o', 'n', 0});
    w.Directory(Exif, {{37500, 7, 64, MakerNote}}, 0);
    w.Directory(SubIfd, {{273, 4, 1, rawAt}, {279, 4, 1, static_cast<std::uint32_t>(rawBytes)}}, 0);
    w.Directory(Ifd1, {{513, 4, 1, Thumbnail}, {514, 4, 1, static_cast<std::uint32_t>(thumbnail.size())}}, 0);
    w.Put(MakerNote, std::vector<std::uint8_t>(64, 0x4D));
    w.Put(Thumbnail, thumbnail);
    w.Put(raw.previewAt, preview);
    std::mt19937 random(seed);
    std::vector<std::uint8_t> data(rawBytes);
    for (std::size_t i = 0; i < rawBytes; ++i) {
        data[i] = static_cast<std::uint8_t>(random());
        // No file start by chance on a sector boundary of the raw data.
        if ((raw.rawAt + i) % 512 == 0) data[i] = 0;
    }
    w.Put(raw.rawAt, data);
    raw.bytes = std::move(w.bytes);
    return raw;
}

} // namespace wizardtest
