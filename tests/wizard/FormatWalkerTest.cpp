// The choice of a format walker by a file's first bytes, and the walkers of
// pictures and MPEG audio on small files built byte by byte.
#include <gtest/gtest.h>

#include "TiffMaker.h"
#include "WalkerBytes.h"
#include "wizard/Mp3Walker.h"

namespace {

using namespace wizardtest;
using wizard::WalkState;

const char* FormatOf(const Bytes& first) {
    const auto walker = wizard::WalkerFor(first.data(), first.size());
    return walker ? walker->Format() : "none";
}

Bytes Start(std::initializer_list<std::uint8_t> magic) {
    Bytes first(magic);
    first.resize(512, 0);
    return first;
}

TEST(FormatWalker, TheWalkerIsChosenByTheFilesOwnFirstBytes) {
    EXPECT_STREQ(FormatOf(Start({0xFF, 0xD8, 0xFF, 0xE1})), "JPEG");
    EXPECT_STREQ(FormatOf(Start({'I', 'I', 42, 0, 8, 0, 0, 0})), "TIFF");
    EXPECT_STREQ(FormatOf(Start({'M', 'M', 'O', 'R', 0, 0, 0, 8})), "TIFF"); // Olympus
    EXPECT_STREQ(FormatOf(Start({0, 0, 0, 24, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c'})), "ISO media");
    EXPECT_STREQ(FormatOf(Start({0, 0, 0, 8, 'w', 'i', 'd', 'e'})), "ISO media"); // QuickTime without ftyp
    EXPECT_STREQ(FormatOf(Start({'R', 'I', 'F', 'F', 1, 0, 0, 0, 'W', 'A', 'V', 'E'})), "RIFF");
    EXPECT_STREQ(FormatOf(Start({'F', 'O', 'R', 'M', 0, 0, 1, 0, 'A', 'I', 'F', 'F'})), "RIFF");
    EXPECT_STREQ(FormatOf(Start({0x89, 'P', 'N', 'G', 13, 10, 26, 10})), "PNG");
    EXPECT_STREQ(FormatOf(Start({'G', 'I', 'F', '8', '7', 'a'})), "GIF");
    EXPECT_STREQ(FormatOf(Start({'B', 'M'})), "BMP");
    EXPECT_STREQ(FormatOf(Start({'#', '!', 'A', 'M', 'R', '\n'})), "AMR");
    EXPECT_STREQ(FormatOf(Start({0, 0, 1, 0xBA, 0x44})), "MPEG");
    EXPECT_STREQ(FormatOf(Start({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C})), "ASF");
    EXPECT_STREQ(FormatOf(Start({'O', 'g', 'g', 'S', 0, 2})), "Ogg");
    EXPECT_STREQ(FormatOf(Start({0x1A, 0x45, 0xDF, 0xA3})), "Matroska");
    EXPECT_STREQ(FormatOf(Start({'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0})), "MPEG audio");
    EXPECT_STREQ(FormatOf(Start({'I', 'I', 'U', 0})), "none"); // Panasonic raw: no walker yet
    EXPECT_STREQ(FormatOf(Start({0, 0, 1, 0xB3})), "none");    // an MPEG video stream
    EXPECT_STREQ(FormatOf(Start({'O', 'g', 'g', 'S', 0, 0})), "none"); // no stream begins
    EXPECT_STREQ(FormatOf({0xFF, 0xD8}), "none");
}

// Baseline and progressive: tables, then scans whose coded data holds
// stuffed FF 00 and restart markers; a new scan's tables between them.
Bytes Jpeg() {
    Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x10};
    Put(jpeg, {0xFF, 0xD8, 0xFF, 0xD9}); // an embedded picture's markers
    Fill(jpeg, 10, 0);
    Put(jpeg, {0xFF, 0xFF, 0xC2, 0x00, 0x05, 1, 2, 3}); // a fill byte before SOF2
    Put(jpeg, {0xFF, 0xDA, 0x00, 0x04, 1, 2});
    Put(jpeg, {0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56, 0xFF, 0xD1, 0x78});
    Put(jpeg, {0xFF, 0xC4, 0x00, 0x04, 0xFF, 0xD9}); // tables for the next scan
    Put(jpeg, {0xFF, 0xDA, 0x00, 0x03, 9, 0xAB, 0xFF, 0x00, 0xCD});
    Put(jpeg, {0xFF, 0xD9});
    return jpeg;
}

TEST(FormatWalker, AJpegEndsAtItsEoiPastEveryScan) {
    const Bytes jpeg = Jpeg();
    for (const std::size_t piece : {1, 5, 512}) {
        const auto walker = Walk(Joined(jpeg, Joined(Jpeg(), Junk(100))), piece);
        ASSERT_EQ(walker->State(), WalkState::Ended) << piece;
        EXPECT_EQ(walker->End(), static_cast<std::int64_t>(jpeg.size()));
        EXPECT_EQ(walker->EndPatternsFrom(), 34); // past the first scan's header
        EXPECT_TRUE(walker->Holds(6));            // the embedded picture
        EXPECT_FALSE(walker->Holds(walker->End()));
    }
}

TEST(FormatWalker, ABrokenJpegIsGivenUp) {
    for (const std::uint8_t length : {0, 1}) {
        Bytes jpeg = Jpeg();
        jpeg[5] = length;
        const auto walker = Walk(jpeg);
        EXPECT_EQ(walker->State(), WalkState::Unstructured);
        EXPECT_EQ(walker->EndPatternsFrom(), 0);
    }
    Bytes erased = Jpeg();
    erased.resize(40);
    erased.resize(4096, 0xFF); // coded data running into erased space
    EXPECT_EQ(Walk(erased)->State(), WalkState::Unstructured);
    EXPECT_EQ(Walk(Jpeg(), 512, 20)->State(), WalkState::Unstructured); // a segment past the drive's end
    Bytes restart = Jpeg();
    restart[36] = 0xD8; // a new picture inside the coded data
    EXPECT_EQ(Walk(restart)->State(), WalkState::Unstructured);
    Bytes cut = Jpeg();
    cut.resize(36);
    EXPECT_EQ(Walk(cut)->State(), WalkState::Walking);
}

// A camera's JPEG with a Multi-Picture index (big-endian, as cameras write
// it) listing itself and a preview stored after its EOI.
Bytes MultiPictureJpeg(const Bytes& preview) {
    Bytes index;
    Put(index, std::string("MPF\0", 4));
    const std::size_t tiffAt = index.size();
    Put(index, {'M', 'M', 0, 42, 0, 0, 0, 8}); // directory right after the header
    PutBe16(index, 1);
    Put(index, {0xB0, 0x02, 0, 7, 0, 0, 0, 32, 0, 0, 0, 26}); // two entries at 26
    PutBe32(index, 0);
    const std::size_t entriesAt = index.size();
    Fill(index, 32, 0);
    Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE2};
    PutBe16(jpeg, static_cast<std::uint32_t>(index.size() + 2));
    const std::size_t indexAt = jpeg.size();
    jpeg.insert(jpeg.end(), index.begin(), index.end());
    Put(jpeg, {0xFF, 0xDA, 0x00, 0x03, 1, 0x12, 0x34, 0xFF, 0xD9});
    const auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) jpeg[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    };
    const std::size_t entries = indexAt + entriesAt;
    put32(entries + 4, static_cast<std::uint32_t>(jpeg.size()));
    put32(entries + 16 + 4, static_cast<std::uint32_t>(preview.size()));
    put32(entries + 16 + 8, static_cast<std::uint32_t>(jpeg.size() - (indexAt + tiffAt)));
    return Joined(jpeg, preview);
}

TEST(FormatWalker, AJpegEndsAfterThePicturesItsMultiPictureIndexLists) {
    const Bytes camera = MultiPictureJpeg(Jpeg());
    const auto walker = Walk(Joined(camera, Junk(300)));
    ASSERT_EQ(walker->State(), WalkState::Ended);
    EXPECT_EQ(walker->End(), static_cast<std::int64_t>(camera.size()));
    EXPECT_TRUE(walker->Holds(static_cast<std::int64_t>(camera.size() - Jpeg().size()))); // the preview
    // A preview said to lie past the drive's end is not trusted.
    EXPECT_EQ(EndOf(camera, 512, static_cast<std::int64_t>(camera.size()) - 1),
              static_cast<std::int64_t>(camera.size() - Jpeg().size()));
}

Bytes Png(std::uint32_t dataLength) {
    Bytes png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    for (const auto& [type, length] : {std::pair{"IHDR", 13u}, std::pair{"IDAT", dataLength}, std::pair{"IEND", 0u}}) {
        PutBe32(png, length);
        Put(png, type);
        Fill(png, std::min(length, 5000u) + 4, 0x49); // data and CRC
    }
    return png;
}

Bytes Gif() {
    Bytes gif;
    Put(gif, "GIF89a");
    Put(gif, {2, 0, 2, 0, 0x80, 0, 0}); // a global colour table of two entries
    Fill(gif, 6, 0);
    Put(gif, {0x21, 0xF9, 4, 0, 0, 0, 0, 0});             // graphic control extension
    Put(gif, {0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0, 2, 3});     // image, code size 2, a 3-byte block
    Fill(gif, 3, 0x3B);                                    // trailer bytes inside the data
    Put(gif, {0, 0x3B});
    return gif;
}

Bytes Bmp(std::uint32_t sizeField) {
    Bytes bmp = {'B', 'M'};
    PutLe32(bmp, sizeField);
    PutLe32(bmp, 0);
    PutLe32(bmp, 54);
    for (const std::uint32_t value : {40u, 3u, 2u}) PutLe32(bmp, value); // 3 x 2 pixels
    PutLe16(bmp, 1);
    PutLe16(bmp, 24);
    Fill(bmp, 24, 0);
    Fill(bmp, 24, 0x77); // two rows of 9 bytes padded to 12
    return bmp;
}

TEST(FormatWalker, PicturesEndWithTheirLastChunkTrailerOrSize) {
    const Bytes png = Png(3000);
    for (const std::size_t piece : {1, 512}) EXPECT_EQ(EndOf(Joined(png, Png(10)), piece), 3057);
    EXPECT_EQ(Walk(Png(0x7FFFFF00))->State(), WalkState::Unstructured); // past the drive's end
    Bytes renamed = png;
    renamed[12] = 'J'; // the first chunk is no IHDR
    EXPECT_EQ(Walk(renamed)->State(), WalkState::Unstructured);

    const Bytes gif = Gif();
    for (const std::size_t piece : {1, 512}) {
        EXPECT_EQ(EndOf(Joined(gif, Junk(600)), piece), static_cast<std::int64_t>(gif.size()));
    }
    EXPECT_EQ(Walk(Joined(Bytes(gif.begin(), gif.end() - 1), Junk(100)))->State(), WalkState::Unstructured);

    EXPECT_EQ(EndOf(Joined(Bmp(78), Junk(600))), 78);
    EXPECT_EQ(EndOf(Joined(Bmp(200), Junk(600))), 200); // more after the pixels (a colour profile)
    EXPECT_EQ(Walk(Joined(Bmp(60), Junk(600)))->State(), WalkState::Unstructured); // smaller than its pixels
    EXPECT_EQ(Walk(Bmp(4000), 512, 1000)->State(), WalkState::Unstructured);
}

TEST(FormatWalker, MpegAudioFramesHaveTheLengthsTheirHeadersGive) {
    const auto length = [](std::initializer_list<std::uint8_t> header) {
        const Bytes bytes(header);
        return wizard::MpegAudioFrameBytes(bytes.data());
    };
    EXPECT_EQ(length({0xFF, 0xFB, 0x90, 0x00}), 417); // MPEG-1 layer III, 128 kbit/s, 44.1 kHz
    EXPECT_EQ(length({0xFF, 0xFB, 0x92, 0x00}), 418); // the same with its padding byte
    EXPECT_EQ(length({0xFF, 0xF3, 0x80, 0x00}), 208); // MPEG-2 layer III, 64 kbit/s, 22.05 kHz
    EXPECT_EQ(length({0xFF, 0xFD, 0xE0, 0x00}), 1253); // MPEG-1 layer II, 384 kbit/s, with CRC
    EXPECT_EQ(length({0xFF, 0xFF, 0xC4, 0x00}), 384); // MPEG-1 layer I, 384 kbit/s, 48 kHz
    EXPECT_EQ(length({0xFF, 0xFB, 0x00, 0x00}), 0);   // free format
    EXPECT_EQ(length({0xFF, 0xFB, 0x9C, 0x00}), 0);   // a reserved sample rate
    EXPECT_EQ(length({0xFF, 0xEB, 0x90, 0x00}), 0);   // a reserved version
}

Bytes Frames(int count) {
    Bytes frames;
    for (int i = 0; i < count; ++i) {
        Put(frames, {0xFF, 0xFB, 0x90, 0x00});
        Fill(frames, 413, static_cast<std::uint8_t>(i));
    }
    return frames;
}

TEST(FormatWalker, AnMp3EndsAfterItsLastFrameOrTag) {
    Bytes id3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 1, 0}; // 128 bytes of tag
    Fill(id3, 128, 0);
    const Bytes mp3 = Joined(id3, Frames(5));
    EXPECT_EQ(EndOf(Joined(mp3, Junk(600)), 1), 138 + 5 * 417);
    Bytes v1;
    Put(v1, "TAG");
    Fill(v1, 125, 0x20);
    EXPECT_EQ(EndOf(Joined(Joined(mp3, v1), Frames(3))), 138 + 5 * 417 + 128);
    Bytes ape;
    Put(ape, "APETAGEX");
    PutLe32(ape, 2000);
    PutLe32(ape, 42); // items and footer
    PutLe32(ape, 1);
    PutLe32(ape, 0xA0000000); // has a header, is the header
    Fill(ape, 8 + 10, 0);
    Put(ape, "APETAGEX");
    Fill(ape, 24, 0);
    EXPECT_EQ(EndOf(Joined(Joined(Joined(mp3, ape), v1), Junk(300))), 138 + 5 * 417 + 74 + 128);
    // One frame is no stream; a frame of another stream ends it.
    EXPECT_EQ(Walk(Joined(Joined(id3, Frames(1)), Junk(600)))->State(), WalkState::Unstructured);
    Bytes other = Frames(1);
    other[2] = 0x94; // 48 kHz
    EXPECT_EQ(EndOf(Joined(mp3, other)), 138 + 5 * 417);
    EXPECT_EQ(Walk(mp3, 512, 900)->State(), WalkState::Unstructured); // a frame past the drive's end
}

// AMR frames as encoders write them: the quality bit set, the type's length.
Bytes AmrFrames(std::uint8_t header, std::size_t length, int count) {
    Bytes frames;
    for (int i = 0; i < count; ++i) {
        frames.push_back(header);
        Fill(frames, length - 1, static_cast<std::uint8_t>(0x11 * i + 1));
    }
    return frames;
}

TEST(FormatWalker, AnAmrRecordingEndsAfterItsLastFrame) {
    Bytes narrow;
    Put(narrow, "#!AMR\n");
    narrow = Joined(Joined(narrow, AmrFrames(0x3C, 32, 50)), AmrFrames(0x7C, 1, 3)); // 12.2 kbit/s, then no data
    const auto narrowEnd = static_cast<std::int64_t>(narrow.size());
    EXPECT_EQ(EndOf(Joined(narrow, Bytes(700, 0)), 1), narrowEnd); // zeros are no frames
    EXPECT_EQ(EndOf(Joined(narrow, Bytes(700, 0))), narrowEnd);
    EXPECT_EQ(EndOf(narrow), narrowEnd); // up to the drive's end
    Bytes wide;
    Put(wide, "#!AMR-WB\n");
    wide = Joined(wide, AmrFrames(0x44, 61, 20)); // 23.85 kbit/s
    EXPECT_EQ(EndOf(Joined(wide, Bytes(300, 0xFF)), 7), static_cast<std::int64_t>(wide.size()));
    // No frame at all, and a last frame cut by the drive's end, are no recording.
    Bytes bare;
    Put(bare, "#!AMR\n");
    EXPECT_EQ(Walk(Joined(bare, Bytes(600, 0)))->State(), WalkState::Unstructured);
    EXPECT_EQ(Walk(narrow, 512, narrowEnd - 20)->State(), WalkState::Unstructured);
}

TEST(FormatWalker, ATiffIsNotTrustedPastTheDrivesEnd) {
    const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xD9};
    const auto raw = MakeRawTiff(false, jpeg, jpeg, 2000, 3);
    const auto size = static_cast<std::int64_t>(raw.bytes.size());
    const auto walker = Walk(raw.bytes);
    ASSERT_EQ(walker->State(), WalkState::Ended);
    EXPECT_EQ(walker->End(), size);
    EXPECT_TRUE(walker->Holds(static_cast<std::int64_t>(raw.previewAt)));
    EXPECT_EQ(Walk(raw.bytes, 512, size - 1)->State(), WalkState::Unstructured);
}

} // namespace
