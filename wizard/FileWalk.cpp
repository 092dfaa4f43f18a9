#include "wizard/FileWalk.h"

namespace wizard {

namespace {

bool LooksLikeJpeg(const std::uint8_t* b, std::size_t count) { return count >= 2 && b[0] == 0xFF && b[1] == 0xD8; }

// "II" or "MM", then 42 (TIFF) or Olympus's "RO"/"RS" in the same byte order.
bool LooksLikeTiff(const std::uint8_t* b, std::size_t count) {
    if (count < 4) return false;
    unsigned magic = 0;
    if (b[0] == 'I' && b[1] == 'I') {
        magic = b[2] | (b[3] << 8);
    } else if (b[0] == 'M' && b[1] == 'M') {
        magic = (b[2] << 8) | b[3];
    }
    return magic == 42 || magic == 0x4F52 || magic == 0x5352;
}

} // namespace

void FileWalk::Begin(const std::uint8_t* first, std::size_t count, std::int64_t limit) {
    kind_ = LooksLikeJpeg(first, count) ? Kind::Jpeg : LooksLikeTiff(first, count) ? Kind::Tiff : Kind::None;
    if (kind_ == Kind::Jpeg) header_.Begin(limit);
    if (kind_ == Kind::Tiff) tiff_.Begin(limit);
}

void FileWalk::Feed(const std::uint8_t* bytes, std::size_t count) {
    if (kind_ == Kind::Jpeg && header_.GetState() == FileHeader::State::Walking) header_.Feed(bytes, count);
    if (kind_ == Kind::Tiff && tiff_.GetState() == TiffLayout::State::Walking) tiff_.Feed(bytes, count);
}

// A JPEG's end is not told by its header: past the header the walk goes on
// (the end patterns end the file).
FileWalk::State FileWalk::GetState() const {
    switch (kind_) {
    case Kind::Jpeg:
        return header_.GetState() == FileHeader::State::Unstructured ? State::Unstructured : State::Walking;
    case Kind::Tiff:
        switch (tiff_.GetState()) {
        case TiffLayout::State::Walking: return State::Walking;
        case TiffLayout::State::Ended: return State::Ended;
        case TiffLayout::State::Unstructured: return State::Unstructured;
        }
        return State::Unstructured;
    case Kind::None:
        break;
    }
    return State::Unstructured;
}

std::int64_t FileWalk::End() const { return kind_ == Kind::Tiff ? tiff_.End() : 0; }

bool FileWalk::Holds(std::int64_t offset) const {
    if (kind_ == Kind::Tiff) return tiff_.Holds(offset);
    if (kind_ != Kind::Jpeg) return false;
    switch (header_.GetState()) {
    case FileHeader::State::Walking: return true;
    case FileHeader::State::Ended: return offset < header_.End();
    case FileHeader::State::Unstructured: return false;
    }
    return false;
}

std::int64_t FileWalk::EndPatternsFrom() const {
    if (kind_ != Kind::Jpeg) return 0;
    switch (header_.GetState()) {
    case FileHeader::State::Walking: return -1;
    case FileHeader::State::Ended: return header_.End();
    case FileHeader::State::Unstructured: return 0;
    }
    return 0;
}

} // namespace wizard
