// make-fuzz-seeds DIR: the card images that bench/fuzz_cards.py starts its
// mutants from, made byte for byte by the tests' image builders: a FAT12, a
// FAT16, a FAT32 and an exFAT card, each with nested folders, photos (real
// JPEGs), long names, fragmented files and deleted files and folders (with
// and without their chains).
#include <cstdio>
#include <string>

#include "tests/common/ExFatImageBuilder.h"
#include "tests/common/FatImageBuilder.h"
#include "tests/common/JpegPhoto.h"

using namespace testcommon;

namespace {

void Fill(FatImageBuilder& card, std::uint32_t seed) {
    const DirHandle dcim = card.AddFolder(card.Root(), "DCIM");
    const DirHandle album = card.AddFolder(dcim, "100TRANQ");
    const DirHandle holiday = card.AddFolder(dcim, "Holiday at the sea, 2025");
    for (int i = 1; i <= 6; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "DSC%05d.JPG", i);
        FileOptions options;
        if (i % 2 == 0) options.fragmentEvery = 2;
        const EntryRef ref = card.AddFile(album, name, MakeJpegPhoto(160 + 16 * i, 120, seed + i, 70), options);
        if (i % 3 == 0) card.Delete(ref, /*clearChain=*/i == 3);
    }
    card.AddFile(holiday, "Sunset over the harbour.jpg", MakeJpegPhoto(200, 150, seed + 20, 70));
    const EntryRef lost = card.AddFile(holiday, "Birthday cake with candles.jpg", MakeJpegPhoto(180, 120, seed + 21, 70));
    card.Delete(lost, true);
    const DirHandle gone = card.AddFolder(card.Root(), "OLDPICS");
    card.AddFile(gone, "IMG_0001.JPG", MakeJpegPhoto(120, 90, seed + 30, 70));
    card.Delete(gone, false);
    const std::string note = "Photos of the summer.\r\n";
    card.AddFile(card.Root(), "README.TXT", std::vector<std::uint8_t>(note.begin(), note.end()));
}

void Make(const std::string& path, FatImageOptions options, std::uint32_t seed) {
    FatImageBuilder card(options);
    Fill(card, seed);
    card.WriteFile(path);
    std::printf("%s\n", path.c_str());
}

void MakeExFat(const std::string& path, std::uint32_t seed) {
    ExFatImageBuilder card;
    const std::size_t dcim = card.AddFolder(card.Root(), "DCIM");
    const std::size_t album = card.AddFolder(dcim, "100TRANQ", 1, false);
    const std::size_t holiday = card.AddFolder(dcim, "Holiday at the sea, 2025 \xC3\xBC");
    for (int i = 1; i <= 6; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "DSC%05d.JPG", i);
        ExFatFileOptions options;
        if (i % 2 == 0) options.contiguous = false, options.fragmentEvery = 2;
        const ExFatEntryRef ref = card.AddFile(album, name, MakeJpegPhoto(160 + 16 * i, 120, seed + i, 70), options);
        if (i % 3 == 0) card.Delete(ref, /*clearChain=*/i == 3);
    }
    card.AddFile(holiday, "Sunset over the harbour.jpg", MakeJpegPhoto(200, 150, seed + 20, 70));
    card.Delete(card.AddFile(holiday, "Birthday cake with candles.jpg", MakeJpegPhoto(180, 120, seed + 21, 70)));
    const std::size_t gone = card.AddFolder(card.Root(), "OLDPICS");
    card.Delete(card.AddFile(gone, "IMG_0001.JPG", MakeJpegPhoto(120, 90, seed + 30, 70)));
    card.Delete({card.Root(), 1});
    card.Build()->WriteFile(path);
    std::printf("%s\n", path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-fuzz-seeds DIR\n");
        return 2;
    }
    try {
        const std::string dir = argv[1];
        Make(dir + "/builder-fat12.img", FatImageOptions::Fat12(2048), 100);
        Make(dir + "/builder-fat16.img", FatImageOptions::Fat16(4), 200);
        Make(dir + "/builder-fat32.img", FatImageOptions::Fat32(36), 300);
        FatImageOptions withMbr = FatImageOptions::Fat16(4);
        withMbr.mbrPartitionStart = 63;
        Make(dir + "/builder-fat16-mbr.img", withMbr, 400);
        MakeExFat(dir + "/builder-exfat.img", 500);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make-fuzz-seeds: %s\n", error.what());
        return 1;
    }
}
