#include "wizard/MpegPsWalker.h"

#include "platform/bigendian.h"

namespace wizard {

namespace {

constexpr std::uint8_t EndCode = 0xB9;
constexpr std::uint8_t PackStart = 0xBA;
constexpr std::uint8_t SystemHeader = 0xBB;
constexpr std::size_t StartCodeBytes = 6;  // the code and a packet's 16-bit length
constexpr std::size_t Mpeg2PackBytes = 14; // with the stuffing length in its last byte
constexpr std::int64_t Mpeg1PackBytes = 12;
constexpr std::size_t PackProbeBytes = 9; // a start code and the clock reference after it

bool IsStartCode(const std::uint8_t* bytes) { return bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1; }

// The 33-bit system clock reference of a pack header (from its byte 4 on),
// spread over its bytes between marker bits; MPEG-1 and MPEG-2 differ.
std::uint64_t ClockReference(const std::uint8_t* b, bool mpeg2) {
    if (mpeg2) {
        return (static_cast<std::uint64_t>((b[0] >> 3) & 7) << 30) | (static_cast<std::uint64_t>(b[0] & 3) << 28) |
               (static_cast<std::uint64_t>(b[1]) << 20) | (static_cast<std::uint64_t>(b[2] >> 3) << 15) |
               (static_cast<std::uint64_t>(b[2] & 3) << 13) | (static_cast<std::uint64_t>(b[3]) << 5) | (b[4] >> 3);
    }
    return (static_cast<std::uint64_t>((b[0] >> 1) & 7) << 30) | (static_cast<std::uint64_t>(b[1]) << 22) |
           (static_cast<std::uint64_t>(b[2] >> 1) << 15) | (static_cast<std::uint64_t>(b[3]) << 7) | (b[4] >> 1);
}

} // namespace

bool MpegPsWalker::Recognises(const std::uint8_t* first, std::size_t count) {
    return count >= Mpeg2PackBytes && IsStartCode(first) && first[3] == PackStart;
}

void MpegPsWalker::Start() {
    step_ = Step::StartCode;
    packs_ = 0;
    clock_ = 0;
    Read(0, PackProbeBytes);
}

void MpegPsWalker::Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t) {
    if (step_ == Step::StartCode) return StartCode(at, bytes);
    // The rest of an MPEG-2 pack header: its stuffing bytes follow it.
    step_ = Step::StartCode;
    const std::int64_t packAt = at - static_cast<std::int64_t>(PackProbeBytes);
    Read(packAt + static_cast<std::int64_t>(Mpeg2PackBytes) + (bytes[Mpeg2PackBytes - PackProbeBytes - 1] & 7),
         PackProbeBytes);
}

void MpegPsWalker::StartCode(std::int64_t at, const std::uint8_t* bytes) {
    if (!IsStartCode(bytes)) return EndAt(at);
    const std::uint8_t code = bytes[3];
    if (code == EndCode) return Finish(at + 4);
    if (code == PackStart) return Pack(at, bytes);
    // The system header and the packets of the streams carry their lengths.
    if (code < SystemHeader || packs_ == 0) return EndAt(at);
    const std::int64_t end = at + static_cast<std::int64_t>(StartCodeBytes) + platform::ReadBe16(platform::ByteView(bytes, 6), 4);
    Cover(end);
    Read(end, PackProbeBytes);
}

void MpegPsWalker::Pack(std::int64_t at, const std::uint8_t* bytes) {
    const bool mpeg2 = (bytes[4] & 0xC0) == 0x40;
    if (!mpeg2 && (bytes[4] & 0xF0) != 0x20) return EndAt(at);
    const std::uint64_t clock = ClockReference(bytes + 4, mpeg2);
    if (packs_++ > 0 && clock < clock_) return EndAt(at);
    clock_ = clock;
    if (!mpeg2) return Read(at + Mpeg1PackBytes, PackProbeBytes);
    step_ = Step::Pack;
    Read(at + static_cast<std::int64_t>(PackProbeBytes), Mpeg2PackBytes - PackProbeBytes);
}

void MpegPsWalker::NothingFollows(std::int64_t at) {
    EndAt(step_ == Step::Pack ? at - static_cast<std::int64_t>(PackProbeBytes) : at);
}

// Without its end code, the stream ends after its last whole pack or packet.
void MpegPsWalker::EndAt(std::int64_t at) {
    if (packs_ > 0 && at > 0) return Finish(at);
    GiveUp();
}

} // namespace wizard
