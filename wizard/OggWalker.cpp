#include "wizard/OggWalker.h"

#include <algorithm>
#include <cstring>

#include "platform/littleendian.h"

namespace wizard {

namespace {

constexpr std::size_t PageHeaderBytes = 27;
constexpr std::uint8_t Continued = 1;
constexpr std::uint8_t BeginsStream = 2;
constexpr std::uint8_t EndsStream = 4;
// Multiplexed streams in one file: a film has a few.
constexpr int MaxStreams = 32;

bool IsPage(const std::uint8_t* bytes) {
    return std::memcmp(bytes, "OggS", 4) == 0 && bytes[4] == 0 && (bytes[5] & ~7) == 0;
}

} // namespace

bool OggWalker::Recognises(const std::uint8_t* first, std::size_t count) {
    return count >= PageHeaderBytes && IsPage(first) && (first[5] & BeginsStream);
}

void OggWalker::Start() {
    table_ = false;
    endsStream_ = false;
    serial_ = 0;
    open_.clear();
    streams_ = 0;
    Read(0, PageHeaderBytes);
}

void OggWalker::Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) {
    if (table_) return SegmentTable(at, bytes, count);
    PageHeader(at, bytes);
}

void OggWalker::PageHeader(std::int64_t at, const std::uint8_t* bytes) {
    if (!IsPage(bytes)) return GiveUp();
    const std::uint8_t flags = bytes[5];
    serial_ = platform::ReadLe32(platform::ByteView(bytes, PageHeaderBytes), 14);
    const auto stream = std::find(open_.begin(), open_.end(), serial_);
    if (flags & BeginsStream) {
        // A stream begins once, before it has data of its own.
        if (stream != open_.end() || (flags & Continued) || ++streams_ > MaxStreams) return GiveUp();
        open_.push_back(serial_);
    } else if (stream == open_.end()) {
        return GiveUp(); // a page of no stream begun here
    }
    endsStream_ = flags & EndsStream;
    const std::uint8_t segments = bytes[26];
    if (segments == 0) return SegmentTable(at + static_cast<std::int64_t>(PageHeaderBytes), bytes, 0);
    table_ = true;
    Read(at + static_cast<std::int64_t>(PageHeaderBytes), segments);
}

void OggWalker::SegmentTable(std::int64_t at, const std::uint8_t* bytes, std::size_t count) {
    table_ = false;
    std::int64_t body = 0;
    for (std::size_t i = 0; i < count; ++i) body += bytes[i];
    const std::int64_t end = at + static_cast<std::int64_t>(count) + body;
    Cover(end);
    if (endsStream_) {
        open_.erase(std::find(open_.begin(), open_.end(), serial_));
        if (open_.empty()) return Finish(end);
    }
    Read(end, PageHeaderBytes);
}

} // namespace wizard
