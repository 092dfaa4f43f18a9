// make-sample-card IMAGE: writes the sample card of scripts/run, a 32 MiB
// FAT16 camera card with real photos in DCIM/100TRANQ. Some photos were
// deleted the way cameras delete (entry marked, chain cleared), one has a
// long name, and a note that is no photo sits in the root.
#include <cstdio>
#include <string>

#include "tests/common/FatImageBuilder.h"
#include "tests/common/JpegPhoto.h"

using namespace testcommon;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-sample-card IMAGE\n");
        return 2;
    }
    try {
        FatImageOptions options = FatImageOptions::Fat16(32);
        options.volumeLabel = "SAMPLECARD";
        FatImageBuilder card(options);
        const DirHandle dcim = card.AddFolder(card.Root(), "DCIM");
        const DirHandle album = card.AddFolder(dcim, "100TRANQ");
        int live = 0, deleted = 0;
        for (int i = 1; i <= 12; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "DSC%05d.JPG", i);
            const auto photo = MakeJpegPhoto(640 + 32 * (i % 4), 480, static_cast<std::uint32_t>(i));
            const EntryRef ref = card.AddFile(album, name, photo);
            if (i % 3 == 0) {
                card.Delete(ref, /*clearChain=*/true);
                ++deleted;
            } else {
                ++live;
            }
        }
        card.AddFile(album, "Sunset over the harbour.jpg", MakeJpegPhoto(800, 600, 99));
        ++live;
        const EntryRef lost = card.AddFile(album, "Birthday cake.jpg", MakeJpegPhoto(640, 480, 77));
        card.Delete(lost, true);
        ++deleted;
        const std::string note = "Photos of the summer, 2025.\r\n";
        card.AddFile(card.Root(), "README.TXT", std::vector<std::uint8_t>(note.begin(), note.end()));
        card.WriteFile(argv[1]);
        std::printf("%s: FAT16 sample card, %d photos and %d deleted photos in DCIM/100TRANQ\n", argv[1], live, deleted);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make-sample-card: %s\n", error.what());
        return 1;
    }
}
