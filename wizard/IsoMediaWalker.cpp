#include "wizard/IsoMediaWalker.h"

#include <algorithm>
#include <array>

#include "platform/bigendian.h"

namespace wizard {

namespace {

constexpr std::uint32_t Fourcc(const char (&code)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

constexpr std::uint32_t Ftyp = Fourcc("ftyp");
constexpr std::uint32_t Moov = Fourcc("moov");
constexpr std::uint32_t Meta = Fourcc("meta");
constexpr std::uint32_t Mdat = Fourcc("mdat");
constexpr std::uint32_t Moof = Fourcc("moof");

// The box types found at the top level of the files cameras, phones and
// muxers write; anything else ends the structure.
constexpr std::array TopLevelTypes = {
    Ftyp, Moov, Meta, Mdat, Moof, Fourcc("free"), Fourcc("skip"), Fourcc("wide"), Fourcc("uuid"),
    Fourcc("pdin"), Fourcc("mfra"), Fourcc("sidx"), Fourcc("styp"), Fourcc("ssix"), Fourcc("prft"),
    Fourcc("emsg"), Fourcc("pnot"), Fourcc("PICT"), Fourcc("junk"), Fourcc("meco"), Fourcc("bloc"),
    Fourcc("jP  "), Fourcc("udta"), Fourcc("iods"), Fourcc("CNCV"),
};
// Types a file may begin with.
constexpr std::array FirstTypes = {Ftyp, Moov, Mdat, Fourcc("wide"), Fourcc("free"), Fourcc("skip"), Fourcc("pnot")};
// Far more boxes than any real file has at its top level.
constexpr int MaxBoxes = 100000;
constexpr std::size_t BoxHeaderBytes = 8;

bool IsOneOf(std::uint32_t type, const auto& types) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

} // namespace

bool IsoMediaWalker::Recognises(const std::uint8_t* first, std::size_t count) {
    if (count < BoxHeaderBytes) return false;
    const platform::ByteView bytes(first, count);
    const std::uint32_t size = platform::ReadBe32(bytes, 0);
    return (size == 1 || size >= BoxHeaderBytes) && IsOneOf(platform::ReadBe32(bytes, 4), FirstTypes);
}

void IsoMediaWalker::Start() {
    largeSize_ = false;
    type_ = 0;
    description_ = false;
    media_ = false;
    moov_ = false;
    meta_ = false;
    boxes_ = 0;
    Read(0, BoxHeaderBytes);
}

void IsoMediaWalker::Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) {
    if (!largeSize_) return BoxHeader(at, bytes);
    largeSize_ = false;
    const std::uint64_t size = platform::ReadBe64(platform::ByteView(bytes, count), 0);
    const std::int64_t boxAt = at - static_cast<std::int64_t>(BoxHeaderBytes);
    if (size < 2 * BoxHeaderBytes) return EndBefore(boxAt);
    Box(boxAt, size);
}

void IsoMediaWalker::BoxHeader(std::int64_t at, const std::uint8_t* bytes) {
    const platform::ByteView header(bytes, BoxHeaderBytes);
    const std::uint32_t size = platform::ReadBe32(header, 0);
    type_ = platform::ReadBe32(header, 4);
    // A file has one ftyp, first, and one moov or meta: another is the
    // next file's.
    const bool again = (type_ == Ftyp && boxes_ > 0) || (type_ == Moov && moov_) || (type_ == Meta && meta_);
    if (!IsOneOf(type_, TopLevelTypes) || ++boxes_ > MaxBoxes || again) return EndBefore(at);
    if (boxes_ == 1 && !IsOneOf(type_, FirstTypes)) return GiveUp();
    if (size == 0) {
        // To the end of the file, wherever that is.
        Cover(Limit());
        return GiveUp();
    }
    if (size == 1) {
        largeSize_ = true;
        return Read(at + static_cast<std::int64_t>(BoxHeaderBytes), BoxHeaderBytes);
    }
    if (size < BoxHeaderBytes) return EndBefore(at);
    Box(at, size);
}

void IsoMediaWalker::Box(std::int64_t at, std::uint64_t size) {
    if (size > static_cast<std::uint64_t>(Limit() - at)) return GiveUp();
    moov_ = moov_ || type_ == Moov;
    meta_ = meta_ || type_ == Meta;
    if (type_ == Moov || type_ == Meta || type_ == Moof) description_ = true;
    if (type_ == Mdat) media_ = true;
    const std::int64_t end = at + static_cast<std::int64_t>(size);
    Cover(end);
    Read(end, BoxHeaderBytes);
}

void IsoMediaWalker::NothingFollows(std::int64_t at) {
    // A 64-bit size cut off by the end of the drive: its box is not there.
    EndBefore(largeSize_ ? at - static_cast<std::int64_t>(BoxHeaderBytes) : at);
}

// The boxes end before at: a whole file if they hold media and its description.
void IsoMediaWalker::EndBefore(std::int64_t at) {
    if (description_ && media_) return Finish(at);
    GiveUp();
}

} // namespace wizard
