// The walkers of film and sound containers on small files built byte by
// byte: each ends at the exact byte its structure gives, whatever follows it
// and however the bytes are fed, and gives up on sizes that do not add up.
#include <gtest/gtest.h>

#include "WalkerBytes.h"

namespace {

using namespace wizardtest;
using wizard::WalkState;

Bytes Box(const char* type, std::uint32_t size) {
    Bytes box;
    PutBe32(box, size);
    Put(box, type);
    Fill(box, size >= 8 ? size - 8 : 0);
    return box;
}

Bytes Mp4() {
    return Joined(Joined(Box("ftyp", 24), Box("moov", 700)), Box("mdat", 3000));
}

TEST(ContainerWalker, AnIsoFileEndsAfterItsLastBoxHoweverFed) {
    const Bytes film = Mp4();
    for (const std::size_t piece : {1, 7, 512}) {
        EXPECT_EQ(EndOf(Joined(film, Junk(600)), piece), 3724) << piece;
    }
    EXPECT_EQ(EndOf(film), 3724); // up to the end of the drive
    EXPECT_EQ(EndOf(Joined(film, film)), 3724); // the next file's ftyp
    const Bytes heic = Joined(Joined(Box("ftyp", 24), Box("meta", 400)), Box("mdat", 900)); // a phone's picture
    EXPECT_EQ(EndOf(Joined(heic, Junk(100))), 1324);
    const Bytes old = Joined(Box("moov", 300), Box("mdat", 900)); // QuickTime without ftyp
    EXPECT_EQ(EndOf(Joined(old, old)), 1200);   // the next file's moov
    const auto walker = Walk(Joined(film, Junk(600)));
    EXPECT_TRUE(walker->Holds(2048)); // inside mdat
    EXPECT_FALSE(walker->Holds(3724));
    EXPECT_STREQ(walker->Format(), "ISO media");

    // A 64-bit size, and boxes of every size after a whole file.
    Bytes large = Joined(Box("ftyp", 24), Box("moov", 100));
    PutBe32(large, 1);
    Put(large, "mdat");
    PutBe32(large, 0);
    PutBe32(large, 2016);
    Fill(large, 2000);
    EXPECT_EQ(EndOf(Joined(large, Junk(100))), 2140);
    EXPECT_EQ(EndOf(Joined(film, Box("free", 4))), 3724); // below 8: not a box
    EXPECT_EQ(EndOf(Joined(film, Box("zzzz", 64))), 3724); // unknown type
}

TEST(ContainerWalker, AnIsoFileThatDoesNotAddUpIsNotTrusted) {
    // Not whole when the boxes stop: no media or no description.
    EXPECT_EQ(Walk(Joined(Joined(Box("ftyp", 24), Box("mdat", 900)), Junk(600)))->State(),
              WalkState::Unstructured);
    EXPECT_EQ(Walk(Joined(Box("ftyp", 24), Box("moov", 1)))->State(), WalkState::Unstructured);
    // Size 0 runs to the end, wherever that is: the old rules end it.
    Bytes open = Joined(Box("ftyp", 24), Box("moov", 100));
    PutBe32(open, 0);
    Put(open, "mdat");
    EXPECT_EQ(Walk(Joined(open, Junk(2000)))->State(), WalkState::Unstructured);
    // A last box cut off by the end of the drive, or claiming past it.
    const Bytes film = Mp4();
    EXPECT_EQ(Walk(film, 512, 3723)->State(), WalkState::Unstructured);
    Bytes huge = film;
    huge[724] = 0xFF; // mdat: 4 GiB
    EXPECT_EQ(Walk(huge)->State(), WalkState::Unstructured);
}

Bytes Chunk(const char* id, std::uint32_t size, bool pad = true) {
    Bytes chunk;
    Put(chunk, id);
    PutLe32(chunk, size);
    Fill(chunk, size + (pad ? size & 1 : 0), 0x11);
    return chunk;
}

Bytes Riff(const char* form, const Bytes& chunks, const char* magic = "RIFF") {
    Bytes riff;
    Put(riff, magic);
    PutLe32(riff, static_cast<std::uint32_t>(4 + chunks.size()));
    Put(riff, form);
    return Joined(riff, chunks);
}

TEST(ContainerWalker, ARiffFileEndsWithItsFormsAndTheirChunks) {
    const Bytes wav = Riff("WAVE", Joined(Chunk("fmt ", 16), Chunk("data", 1001)));
    ASSERT_EQ(wav.size(), 1046u); // the odd chunk's pad byte included
    for (const std::size_t piece : {1, 512}) EXPECT_EQ(EndOf(Joined(wav, Junk(700)), piece), 1046);
    EXPECT_EQ(EndOf(Riff("WAVE", Joined(Chunk("fmt ", 16), Chunk("data", 1001, false)))), 1045); // no pad at the end

    // An AVI goes on in its AVIX forms, and only in them.
    const Bytes avi = Riff("AVI ", Joined(Chunk("LIST", 300), Chunk("idx1", 64)));
    const Bytes avix = Riff("AVIX", Chunk("LIST", 2000));
    EXPECT_EQ(EndOf(Joined(Joined(avi, avix), wav)), static_cast<std::int64_t>(avi.size() + avix.size()));
    EXPECT_EQ(EndOf(Joined(avi, wav)), static_cast<std::int64_t>(avi.size()));
    EXPECT_EQ(EndOf(avi), static_cast<std::int64_t>(avi.size()));

    Bytes aiff;
    Put(aiff, "FORM");
    PutBe32(aiff, 4 + 8 + 18);
    Put(aiff, "AIFFCOMM");
    PutBe32(aiff, 18);
    Fill(aiff, 18);
    EXPECT_EQ(EndOf(Joined(aiff, Junk(100))), 38);
}

TEST(ContainerWalker, RiffSizesThatDoNotAddUpAreNotTrusted) {
    Bytes overrun = Riff("WAVE", Joined(Chunk("fmt ", 16), Chunk("data", 1000)));
    overrun[40] = 0xF0; // the data chunk now claims more than its form
    EXPECT_EQ(Walk(overrun)->State(), WalkState::Unstructured);
    Bytes tiny = Riff("WAVE", {});
    tiny[4] = 1; // a form of size 1
    EXPECT_EQ(Walk(Joined(tiny, Junk(100)))->State(), WalkState::Unstructured);
    const Bytes wav = Riff("WAVE", Chunk("data", 5000));
    EXPECT_EQ(Walk(wav, 512, 4000)->State(), WalkState::Unstructured); // past the drive's end
}

// A pack (MPEG-2, with stuffing) followed by one packet of payload bytes;
// clock sets bits of its clock reference.
Bytes Pack(std::size_t payload, std::uint8_t clock = 1, std::uint8_t stuffing = 2) {
    Bytes pack = {0, 0, 1, 0xBA, 0x44, clock, 4, 0, 4, 1, 1, 0x89, 0xC3, static_cast<std::uint8_t>(0xF8 | stuffing)};
    Fill(pack, stuffing, 0xFF);
    Put(pack, {0, 0, 1, 0xE0});
    PutBe16(pack, static_cast<std::uint32_t>(payload));
    Fill(pack, payload, 0x00);
    return pack;
}

TEST(ContainerWalker, AnMpegProgramStreamRunsToItsEndCodeAndHoldsItsPacks) {
    Bytes film = Pack(512 - 16 - 6);
    ASSERT_EQ(film.size(), 512u);
    film = Joined(Joined(film, Pack(900, 2)), Pack(50, 3));
    Put(film, {0, 0, 1, 0xB9});
    const auto walker = Walk(Joined(film, Pack(100)));
    ASSERT_EQ(walker->State(), WalkState::Ended);
    EXPECT_EQ(walker->End(), static_cast<std::int64_t>(film.size()));
    EXPECT_TRUE(walker->Holds(512)); // a pack header on a sector boundary: not a new film
    // Without its end code, the film ends after its last whole packet, or
    // where the next film's clock starts again.
    film.resize(film.size() - 4);
    EXPECT_EQ(EndOf(Joined(film, Junk(600))), static_cast<std::int64_t>(film.size()));
    EXPECT_EQ(EndOf(Joined(film, Pack(700, 0))), static_cast<std::int64_t>(film.size()));
    EXPECT_EQ(Walk(Pack(1000), 512, 300)->State(), WalkState::Unstructured); // past the drive's end
}

const Bytes AsfHeaderGuid = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const Bytes AsfDataGuid = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const Bytes AsfPropertiesGuid = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const Bytes AsfIndexGuid = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};

Bytes AsfObject(const Bytes& guid, std::uint64_t size) {
    Bytes object = guid;
    PutLe64(object, size);
    Fill(object, static_cast<std::size_t>(size - 24), 0x22);
    return object;
}

// Header (with the file properties) 134 bytes, data 3000, index 100.
Bytes Asf(std::uint64_t fileSize) {
    Bytes asf = AsfHeaderGuid;
    PutLe64(asf, 30 + 104);
    PutLe32(asf, 1);
    Put(asf, {1, 2});
    Bytes properties = AsfPropertiesGuid;
    PutLe64(properties, 104);
    Fill(properties, 16);
    PutLe64(properties, fileSize);
    Fill(properties, 104 - 48, 0);
    return Joined(Joined(Joined(asf, properties), AsfObject(AsfDataGuid, 3000)), AsfObject(AsfIndexGuid, 100));
}

TEST(ContainerWalker, AnAsfFileEndsAtItsFileSizeOrItsLastObject) {
    EXPECT_EQ(EndOf(Joined(Asf(3234), Junk(500))), 3234);
    EXPECT_EQ(EndOf(Joined(Asf(3134), Junk(500))), 3134); // the index left out by the size
    EXPECT_EQ(EndOf(Joined(Asf(0), Junk(500))), 3234);    // no size: the objects say
    EXPECT_EQ(Walk(Joined(Asf(2000), Junk(500)))->State(), WalkState::Unstructured); // inside the data
    EXPECT_EQ(Walk(Asf(3234), 512, 3000)->State(), WalkState::Unstructured);
}

Bytes OggPage(std::uint8_t flags, std::uint32_t serial, std::size_t body) {
    Bytes page;
    Put(page, "OggS");
    Put(page, {0, flags});
    Fill(page, 8, 0);
    PutLe32(page, serial);
    Fill(page, 8, 0);
    const std::size_t segments = body / 255 + 1;
    page.push_back(static_cast<std::uint8_t>(segments));
    for (std::size_t i = 1; i < segments; ++i) page.push_back(255);
    page.push_back(static_cast<std::uint8_t>(body % 255));
    Fill(page, body, 0x33);
    return page;
}

TEST(ContainerWalker, AnOggFileEndsWhenEveryStreamThatBeganHasEnded) {
    Bytes ogg = Joined(OggPage(2, 7, 30), OggPage(2, 9, 40));
    ogg = Joined(Joined(ogg, OggPage(0, 7, 3000)), OggPage(4, 7, 10));
    const Bytes open = ogg;
    ogg = Joined(ogg, OggPage(4, 9, 0));
    for (const std::size_t piece : {1, 512}) {
        EXPECT_EQ(EndOf(Joined(ogg, OggPage(2, 11, 20)), piece), static_cast<std::int64_t>(ogg.size()));
    }
    // A page of a stream that never began here, or a stream left open.
    EXPECT_EQ(Walk(Joined(open, OggPage(0, 5, 10)))->State(), WalkState::Unstructured);
    EXPECT_EQ(Walk(Joined(open, Junk(100)))->State(), WalkState::Unstructured);
}

// An EBML element: a one- to four-byte id, an eight-byte size.
Bytes Element(std::uint32_t id, std::uint64_t size, const Bytes& data = {}) {
    Bytes element;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if ((id >> shift) != 0) element.push_back(static_cast<std::uint8_t>(id >> shift));
    }
    element.push_back(0x01);
    for (int shift = 48; shift >= 0; shift -= 8) element.push_back(static_cast<std::uint8_t>(size >> shift));
    element.insert(element.end(), data.begin(), data.end());
    if (data.empty() && size < 0x00FFFFFFFFFFFFFF) Fill(element, static_cast<std::size_t>(size), 0x44);
    return element;
}

TEST(ContainerWalker, AMatroskaFileEndsWithItsSegment) {
    const Bytes children = Joined(Joined(Element(0x1549A966, 40), Element(0x1F43B675, 3000)), {0xEC, 0x82, 0, 0});
    const Bytes mkv = Joined(Element(0x1A45DFA3, 20), Element(0x18538067, children.size(), children));
    EXPECT_EQ(EndOf(Joined(mkv, Junk(300)), 7), static_cast<std::int64_t>(mkv.size()));
    // A child past its segment, and a segment of unknown size.
    Bytes overrun = children;
    overrun[children.size() - 3] = 0x90;
    EXPECT_EQ(Walk(Joined(Element(0x1A45DFA3, 20), Element(0x18538067, children.size(), overrun)))->State(),
              WalkState::Unstructured);
    Bytes live = Joined(Element(0x1A45DFA3, 20), Element(0x18538067, 0x00FFFFFFFFFFFFFF));
    EXPECT_EQ(Walk(Joined(live, children))->State(), WalkState::Unstructured);
}

} // namespace
