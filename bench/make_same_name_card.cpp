// make-same-name-card IMAGE [COUNT]: a hostile card for the turbo-scan name
// benchmark: one folder whose COUNT entries (20,000 by default) all say
// A.JPG, each with a small file of its own.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/common/FatImageBuilder.h"

using namespace testcommon;

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make-same-name-card IMAGE [COUNT]\n");
        return 2;
    }
    const long count = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 20000;
    try {
        FatImageBuilder card(FatImageOptions::Fat16(64));
        const DirHandle dcim = card.AddFolder(card.Root(), "DCIM");
        FileOptions options;
        options.shortName = "A       JPG";
        for (long i = 0; i < count; ++i)
            card.AddFile(dcim, "A.JPG", PatternBytes(1000, static_cast<std::uint32_t>(i)), options);
        card.WriteFile(argv[1]);
        std::printf("%s: %ld entries named A.JPG in DCIM\n", argv[1], count);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make-same-name-card: %s\n", error.what());
        return 1;
    }
}
