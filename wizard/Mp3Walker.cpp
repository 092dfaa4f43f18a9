#include "wizard/Mp3Walker.h"

#include <cstring>

#include "platform/bigendian.h"

namespace wizard {

namespace {

constexpr std::size_t Id3HeaderBytes = 10;
constexpr std::size_t FrameHeaderBytes = 4;
// A frame header and what may follow it up to the end of an encoder's info
// tag ("Xing", "Info" or "VBRI"), which only a file's first frame carries.
constexpr std::size_t FrameProbeBytes = 40;
constexpr std::size_t ApeFooterBytes = 32;
constexpr std::int64_t Id3v1Bytes = 128;
// Frames before the file counts as MPEG audio: one lone header is chance.
constexpr std::int64_t MinFrames = 2;
// Bits that stay the same in every frame of one stream: sync, version,
// layer and sample rate.
constexpr std::uint32_t StreamBits = 0xFFFE0C00;

// Bit rates in kbit/s by version class (MPEG-1, MPEG-2/2.5), layer and index.
constexpr int Bitrates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
};
constexpr int SampleRates[3] = {44100, 48000, 32000};

// An ID3v2 size: four bytes of seven bits each.
bool SyncSafe(const std::uint8_t* bytes, std::int64_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (bytes[i] & 0x80) return false;
        value = (value << 7) | bytes[i];
    }
    return true;
}

bool IsId3v2(const std::uint8_t* bytes) {
    std::int64_t size = 0;
    return std::memcmp(bytes, "ID3", 3) == 0 && bytes[3] != 0xFF && bytes[4] != 0xFF && SyncSafe(bytes + 6, size);
}

// Whether the layer III frame carries an encoder's info tag: it begins a file.
bool HasInfoTag(const std::uint8_t* frame) {
    const bool layer3 = ((frame[1] >> 1) & 3) == 1;
    const bool mpeg1 = ((frame[1] >> 3) & 3) == 3;
    const bool mono = (frame[3] >> 6) == 3;
    const std::size_t xingAt = 4 + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
    return layer3 && (std::memcmp(frame + xingAt, "Xing", 4) == 0 || std::memcmp(frame + xingAt, "Info", 4) == 0 ||
                      std::memcmp(frame + 36, "VBRI", 4) == 0);
}

} // namespace

std::int64_t MpegAudioFrameBytes(const std::uint8_t* header) {
    const std::uint32_t h = platform::ReadBe32(platform::ByteView(header, 4), 0);
    const unsigned version = (h >> 19) & 3; // 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
    const unsigned layer = (h >> 17) & 3;   // 3 layer I, 2 layer II, 1 layer III
    const unsigned bitrateIndex = (h >> 12) & 15;
    const unsigned rateIndex = (h >> 10) & 3;
    if ((h & 0xFFE00000) != 0xFFE00000 || version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 ||
        rateIndex == 3 || (h & 3) == 2) {
        return 0;
    }
    const bool mpeg1 = version == 3;
    const std::int64_t bitrate = Bitrates[mpeg1 ? 0 : 1][3 - layer][bitrateIndex] * 1000LL;
    const std::int64_t rate = SampleRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const std::int64_t padding = (h >> 9) & 1;
    if (layer == 3) return (12 * bitrate / rate + padding) * 4;
    // Layer III of MPEG-2 and 2.5 has half as many samples per frame.
    const std::int64_t factor = layer == 1 && !mpeg1 ? 72 : 144;
    return factor * bitrate / rate + padding;
}

bool Mp3Walker::Recognises(const std::uint8_t* first, std::size_t count) {
    if (count >= Id3HeaderBytes && IsId3v2(first)) return true;
    if (count < FrameHeaderBytes) return false;
    const std::int64_t length = MpegAudioFrameBytes(first);
    if (length <= 0) return false;
    // A bare stream: its second frame, when these bytes hold it, must follow.
    if (static_cast<std::size_t>(length) + FrameHeaderBytes > count) return true;
    return MpegAudioFrameBytes(first + length) > 0 &&
           (platform::ReadBe32(platform::ByteView(first, 4), 0) & StreamBits) ==
               (platform::ReadBe32(platform::ByteView(first + length, 4), 0) & StreamBits);
}

void Mp3Walker::Start() {
    step_ = Step::Start;
    stream_ = 0;
    frames_ = 0;
    tagged_ = false;
    Read(0, FrameProbeBytes);
}

void Mp3Walker::Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t) {
    switch (step_) {
    case Step::Start:
        return FirstBytes(at, bytes);
    case Step::Frame:
        return Frame(at, bytes);
    }
}

void Mp3Walker::FirstBytes(std::int64_t at, const std::uint8_t* bytes) {
    step_ = Step::Frame;
    if (!IsId3v2(bytes)) return Frame(at, bytes);
    std::int64_t size = 0;
    SyncSafe(bytes + 6, size);
    const bool footer = bytes[5] & 0x10;
    const std::int64_t end = at + static_cast<std::int64_t>(Id3HeaderBytes) * (footer ? 2 : 1) + size;
    Cover(end);
    Read(end, FrameProbeBytes);
}

void Mp3Walker::Frame(std::int64_t at, const std::uint8_t* bytes) {
    const std::int64_t length = MpegAudioFrameBytes(bytes);
    const std::uint32_t bits = platform::ReadBe32(platform::ByteView(bytes, 4), 0) & StreamBits;
    if (length > 0 && !tagged_ && (frames_ == 0 || (bits == stream_ && !HasInfoTag(bytes)))) {
        if (frames_++ == 0) stream_ = bits;
        Cover(at + length);
        return Read(at + length, FrameProbeBytes);
    }
    if (frames_ < MinFrames) return GiveUp();
    if (std::memcmp(bytes, "TAG", 3) == 0) {
        // ID3v1: 128 bytes, always last.
        Cover(at + Id3v1Bytes);
        return Finish(at + Id3v1Bytes);
    }
    if (std::memcmp(bytes, "APETAGEX", 8) == 0 && !tagged_) return ApeTag(at, bytes);
    EndAt(at);
}

// An APE tag: a 32-byte header or footer "APETAGEX" whose size counts the
// items and the footer; a header comes first when the tag has one.
void Mp3Walker::ApeTag(std::int64_t at, const std::uint8_t* bytes) {
    const platform::ByteView tag(bytes, ApeFooterBytes);
    const std::int64_t size = platform::ReadLe32(tag, 12);
    const bool isHeader = platform::ReadLe32(tag, 20) & 0x20000000;
    // Met first, a footer is a tag without items.
    const std::int64_t end = at + static_cast<std::int64_t>(ApeFooterBytes) + (isHeader ? size : 0);
    if (size < static_cast<std::int64_t>(ApeFooterBytes) || end > Limit()) return EndAt(at);
    tagged_ = true;
    Cover(end);
    Read(end, FrameProbeBytes);
}

void Mp3Walker::NothingFollows(std::int64_t at) {
    if (step_ == Step::Start) return GiveUp();
    EndAt(at);
}

void Mp3Walker::EndAt(std::int64_t at) {
    if (frames_ >= MinFrames) return Finish(at);
    GiveUp();
}

} // namespace wizard
