#include "wizard/TiffLayout.h"

#include <algorithm>

namespace wizard {

namespace {

// What is kept of the file: its first bytes (directories usually sit there,
// or point back into them), and one window of bytes from a part far ahead.
constexpr std::int64_t KeptBytes = 1024 * 1024;
constexpr std::int64_t WindowBytes = 256 * 1024;
// Bounds on what the bytes may ask for; real files stay far below them.
constexpr std::size_t MaxDirectories = 64;
constexpr std::uint32_t MaxEntries = 1000;
constexpr int MaxItems = 256;
constexpr std::uint32_t MaxArrayValues = 65536;
// Over all directories of one file: a camera's hold a few hundred entries.
constexpr std::uint32_t MaxEntriesPerFile = 4096;
constexpr std::uint32_t MaxPartsPerFile = 262144;
constexpr std::size_t MaxDataStarts = 65536;
constexpr std::size_t MaxMetadata = 1024;
constexpr std::int64_t MaxFileBytes = 4294967296LL;
constexpr std::int64_t HeaderBytes = 8;

// Tags.
constexpr std::uint32_t StripOffsets = 273;
constexpr std::uint32_t StripByteCounts = 279;
constexpr std::uint32_t TileOffsets = 324;
constexpr std::uint32_t TileByteCounts = 325;
constexpr std::uint32_t SubIfds = 330;
constexpr std::uint32_t JpegInterchangeFormat = 513;
constexpr std::uint32_t JpegInterchangeFormatLength = 514;
constexpr std::uint32_t ExifIfd = 34665;
constexpr std::uint32_t GpsIfd = 34853;

// Field types.
constexpr std::uint16_t TypeShort = 3;
constexpr std::uint16_t TypeLong = 4;
constexpr std::uint16_t TypeIfd = 13;

std::int64_t TypeSize(std::uint16_t type) {
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;           // BYTE, ASCII, SBYTE, UNDEFINED
    case 3: case 8: return 2;                            // SHORT, SSHORT
    case 4: case 9: case 11: case 13: return 4;          // LONG, SLONG, FLOAT, IFD
    case 5: case 10: case 12: return 8;                  // RATIONAL, SRATIONAL, DOUBLE
    default: return 0;                                   // unknown: its size is not known
    }
}

bool IsOffsetType(std::uint16_t type) { return type == TypeShort || type == TypeLong || type == TypeIfd; }

// "II" or "MM", then 42 (TIFF) or Olympus's "RO"/"RS" in the same byte order.
bool LooksLikeTiff(const std::uint8_t* b) {
    if (b[0] == 'I' && b[1] == 'I') {
        const unsigned magic = b[2] | (b[3] << 8);
        return magic == 42 || magic == 0x4F52 || magic == 0x5352;
    }
    if (b[0] == 'M' && b[1] == 'M') {
        const unsigned magic = (b[2] << 8) | b[3];
        return magic == 42 || magic == 0x4F52 || magic == 0x5352;
    }
    return false;
}

} // namespace

bool TiffLayout::Recognises(const std::uint8_t* first, std::size_t count) {
    return count >= HeaderBytes && LooksLikeTiff(first);
}

std::int64_t TiffLayout::Values::Bytes() const { return static_cast<std::int64_t>(count) * TypeSize(type); }

void TiffLayout::Begin(std::int64_t limit) {
    state_ = State::Walking;
    limit_ = std::min(limit, MaxFileBytes);
    bigEndian_ = false;
    headerRead_ = false;
    fed_ = 0;
    extent_ = 0;
    end_ = 0;
    items_ = 0;
    entriesLeft_ = MaxEntriesPerFile;
    partsLeft_ = MaxPartsPerFile;
    kept_.clear();
    window_.clear();
    windowAt_ = -1;
    wakeAt_ = 0;
    pending_.clear();
    directories_.clear();
    dataStarts_.clear();
    metadata_.clear();
}

void TiffLayout::Feed(const std::uint8_t* bytes, std::size_t count) {
    if (state_ != State::Walking || count == 0) return;
    // Most files are no TIFF: they are told at their first bytes, unkept.
    if (fed_ == 0 && count >= 4 && !LooksLikeTiff(bytes)) return Broken();
    const auto n = static_cast<std::int64_t>(count);
    if (fed_ < KeptBytes) {
        const auto take = static_cast<std::size_t>(std::min(n, KeptBytes - fed_));
        kept_.insert(kept_.end(), bytes, bytes + take);
    }
    if (windowAt_ >= 0) {
        const std::int64_t next = windowAt_ + static_cast<std::int64_t>(window_.size());
        const std::int64_t stop = std::min(fed_ + n, windowAt_ + WindowBytes);
        if (next >= fed_ && next < stop) {
            window_.insert(window_.end(), bytes + (next - fed_), bytes + (stop - fed_));
        }
    }
    fed_ += n;
    if (!headerRead_) {
        if (fed_ < HeaderBytes) return;
        ReadHeader();
    }
    // Nothing queued can be read, or found lost, before the feed passes the
    // nearest part's first byte: a part far ahead costs nothing meanwhile.
    if (fed_ > wakeAt_) Resolve();
}

void TiffLayout::ReadHeader() {
    headerRead_ = true;
    if (!LooksLikeTiff(kept_.data())) return Broken();
    bigEndian_ = kept_[0] == 'M';
    Cover(0, HeaderBytes);
    AddMetadata(0, HeaderBytes);
    const std::int64_t first = U32(4);
    if (first == 0) return Broken();
    AddDirectory(first, true);
}

// Reads every queued part whose bytes are there, until none is left (Ended)
// or the rest must wait for bytes still to come.
void TiffLayout::Resolve() {
    bool progress = true;
    while (progress && state_ == State::Walking) {
        progress = false;
        for (std::size_t i = 0; i < pending_.size() && state_ == State::Walking;) {
            Pending item = pending_[i]; // reading may queue more parts
            if (TryRead(item)) {
                pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
                progress = true;
            } else {
                pending_[i] = item;
                ++i;
            }
        }
    }
    if (state_ != State::Walking) return;
    if (pending_.empty()) {
        std::sort(dataStarts_.begin(), dataStarts_.end());
        end_ = extent_;
        state_ = State::Ended;
        return;
    }
    MoveWindow();
    wakeAt_ = limit_;
    for (const Pending& item : pending_) {
        std::int64_t at = 0;
        std::int64_t length = 0;
        Needed(item, at, length);
        wakeAt_ = std::min(wakeAt_, at);
    }
}

// Reads the part if its bytes are there; gives up on one whose bytes went by
// unkept. Returns true when the part is done with.
bool TiffLayout::TryRead(Pending& item) {
    switch (item.kind) {
    case Kind::Directory: {
        if (Available(item.at, 2)) {
            const std::uint32_t entries = U16(item.at);
            if (entries == 0 || entries > MaxEntries || entries > entriesLeft_) {
                Broken();
                return true;
            }
            item.length = 2 + 12 * static_cast<std::int64_t>(entries) + (item.chained ? 4 : 0);
        }
        if (!Available(item.at, item.length)) break;
        ReadDirectory(item);
        return true;
    }
    case Kind::DirectoryList:
        if (!Available(item.at, item.length)) break;
        for (std::uint32_t i = 0; i < item.offsets.count && state_ == State::Walking; ++i) {
            AddDirectory(Value(item.offsets, i), true);
        }
        return true;
    case Kind::DataParts:
        if (Available(item.offsets.at, item.offsets.Bytes()) && Available(item.sizes.at, item.sizes.Bytes())) {
            ReadDataParts(item);
            return true;
        }
        if (!CanStillCome(item.offsets.at, item.offsets.Bytes()) ||
            !CanStillCome(item.sizes.at, item.sizes.Bytes())) {
            Broken();
            return true;
        }
        return false;
    }
    if (!CanStillCome(item.at, item.length)) {
        Broken();
        return true;
    }
    return false;
}

void TiffLayout::ReadDirectory(const Pending& item) {
    const std::uint32_t entries = U16(item.at);
    entriesLeft_ -= entries;
    Cover(item.at, item.length);
    AddMetadata(item.at, item.length);
    Values stripOffsets, stripSizes, tileOffsets, tileSizes;
    std::int64_t jpegAt = -1;
    std::int64_t jpegLength = -1;
    for (std::uint32_t i = 0; i < entries && state_ == State::Walking; ++i) {
        const std::int64_t entry = item.at + 2 + 12 * static_cast<std::int64_t>(i);
        const std::uint32_t tag = U16(entry);
        Values values;
        values.type = static_cast<std::uint16_t>(U16(entry + 2));
        values.count = U32(entry + 4);
        const std::int64_t bytes = values.Bytes();
        if (bytes == 0) continue; // an unknown type: skipped, as readers do
        values.at = bytes <= 4 ? entry + 8 : static_cast<std::int64_t>(U32(entry + 8));
        if (bytes > 4) {
            if (values.at < HeaderBytes || values.at + bytes > limit_) return Broken();
            Cover(values.at, bytes);
            AddMetadata(values.at, bytes);
        }
        switch (tag) {
        case StripOffsets: stripOffsets = values; break;
        case StripByteCounts: stripSizes = values; break;
        case TileOffsets: tileOffsets = values; break;
        case TileByteCounts: tileSizes = values; break;
        case JpegInterchangeFormat:
            if (values.count == 1 && IsOffsetType(values.type)) jpegAt = Value(values, 0);
            break;
        case JpegInterchangeFormatLength:
            if (values.count == 1 && IsOffsetType(values.type)) jpegLength = Value(values, 0);
            break;
        case SubIfds:
            AddSubDirectories(values);
            break;
        case ExifIfd:
        case GpsIfd:
            if (values.count != 1 || !IsOffsetType(values.type) || values.type == TypeShort) return Broken();
            AddDirectory(Value(values, 0), false);
            break;
        default:
            break;
        }
    }
    if (state_ != State::Walking) return;
    if (stripOffsets.count != 0 || stripSizes.count != 0) AddDataParts(stripOffsets, stripSizes);
    if (tileOffsets.count != 0 || tileSizes.count != 0) AddDataParts(tileOffsets, tileSizes);
    if (state_ != State::Walking) return;
    if (jpegAt >= 0 && jpegLength > 0) {
        if (jpegAt < HeaderBytes || jpegAt + jpegLength > limit_) return Broken();
        Cover(jpegAt, jpegLength);
        AddDataStart(jpegAt);
    }
    if (item.chained) {
        const std::int64_t next = U32(item.at + 2 + 12 * static_cast<std::int64_t>(entries));
        if (next != 0) AddDirectory(next, true);
    }
}

// The directories a SubIFDs entry names: one at once, several through
// their list of offsets.
void TiffLayout::AddSubDirectories(const Values& values) {
    if (!IsOffsetType(values.type) || values.type == TypeShort || values.count > MaxDirectories) return Broken();
    if (values.count == 1) return AddDirectory(Value(values, 0), true);
    if (++items_ > MaxItems) return Broken();
    Pending list;
    list.kind = Kind::DirectoryList;
    list.at = values.at;
    list.length = values.Bytes();
    list.offsets = values;
    pending_.push_back(list);
}

// A directory to read. One out of bounds, or one met before (a loop), means
// the structure cannot be trusted.
void TiffLayout::AddDirectory(std::int64_t at, bool chained) {
    if (at < HeaderBytes || at >= limit_ || directories_.size() >= MaxDirectories || ++items_ > MaxItems ||
        std::find(directories_.begin(), directories_.end(), at) != directories_.end()) {
        return Broken();
    }
    directories_.push_back(at);
    Pending directory;
    directory.kind = Kind::Directory;
    directory.at = at;
    directory.length = 2;
    directory.chained = chained;
    pending_.push_back(directory);
}

// Strips or tiles: where each begins and how long it is, in two arrays of
// the same length.
void TiffLayout::AddDataParts(const Values& offsets, const Values& sizes) {
    if (!IsOffsetType(offsets.type) || !IsOffsetType(sizes.type) || offsets.count != sizes.count ||
        offsets.count == 0 || offsets.count > MaxArrayValues || offsets.count > partsLeft_ || ++items_ > MaxItems) {
        return Broken();
    }
    partsLeft_ -= offsets.count;
    Pending parts;
    parts.kind = Kind::DataParts;
    parts.at = offsets.at;
    parts.length = offsets.Bytes();
    parts.offsets = offsets;
    parts.sizes = sizes;
    pending_.push_back(parts);
}

void TiffLayout::ReadDataParts(const Pending& item) {
    for (std::uint32_t i = 0; i < item.offsets.count; ++i) {
        const std::int64_t at = Value(item.offsets, i);
        const std::int64_t length = Value(item.sizes, i);
        if (length == 0) continue; // an empty strip, left unwritten
        if (at < HeaderBytes || at + length > limit_) return Broken();
        Cover(at, length);
        AddDataStart(at);
    }
}

void TiffLayout::Cover(std::int64_t at, std::int64_t length) { extent_ = std::max(extent_, at + length); }

void TiffLayout::AddMetadata(std::int64_t at, std::int64_t length) {
    if (metadata_.size() < MaxMetadata) metadata_.push_back({at, at + length});
}

void TiffLayout::AddDataStart(std::int64_t at) {
    if (dataStarts_.size() < MaxDataStarts) dataStarts_.push_back(at);
}

// File parts beyond the kept first bytes are read through the window: it is
// placed at the nearest such part still ahead, unless a part is already
// waiting for the bytes it holds.
void TiffLayout::MoveWindow() {
    std::int64_t nearest = -1;
    for (const Pending& item : pending_) {
        std::int64_t at = 0;
        std::int64_t length = 0;
        Needed(item, at, length);
        if (at + length <= KeptBytes) continue;
        if (windowAt_ >= 0 && at >= windowAt_ && at + length <= windowAt_ + WindowBytes) return;
        if (at >= fed_ && (nearest < 0 || at < nearest)) nearest = at;
    }
    if (nearest < 0) return;
    windowAt_ = nearest;
    window_.clear();
}

// The bytes a part waits for first.
void TiffLayout::Needed(const Pending& item, std::int64_t& at, std::int64_t& length) const {
    if (item.kind == Kind::DataParts && Available(item.offsets.at, item.offsets.Bytes())) {
        at = item.sizes.at;
        length = item.sizes.Bytes();
        return;
    }
    at = item.at;
    length = item.length;
}

bool TiffLayout::Available(std::int64_t at, std::int64_t length) const {
    if (at < 0 || length < 0 || at + length > fed_) return false;
    if (at + length <= static_cast<std::int64_t>(kept_.size())) return true;
    return windowAt_ >= 0 && at >= windowAt_ && at + length <= windowAt_ + static_cast<std::int64_t>(window_.size());
}

bool TiffLayout::CanStillCome(std::int64_t at, std::int64_t length) const {
    if (at < 0 || length < 0) return false;
    if (at + length <= KeptBytes) return true;
    if (length > WindowBytes) return false;
    if (windowAt_ >= 0 && at >= windowAt_ && at + length <= windowAt_ + WindowBytes) return true;
    return at >= fed_; // ahead: the window can still be placed there
}

// Reads as their callers ensured with Available; the window's tail pads a
// read that would run past it with zeros.
std::uint32_t TiffLayout::U16(std::int64_t at) const {
    std::uint8_t b[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        const std::int64_t p = at + i;
        if (p < static_cast<std::int64_t>(kept_.size())) {
            b[i] = kept_[static_cast<std::size_t>(p)];
        } else if (windowAt_ >= 0 && p >= windowAt_ && p - windowAt_ < static_cast<std::int64_t>(window_.size())) {
            b[i] = window_[static_cast<std::size_t>(p - windowAt_)];
        }
    }
    return bigEndian_ ? (b[0] << 8) | b[1] : b[0] | (b[1] << 8);
}

std::uint32_t TiffLayout::U32(std::int64_t at) const {
    const std::uint32_t first = U16(at);
    const std::uint32_t second = U16(at + 2);
    return bigEndian_ ? (first << 16) | second : first | (second << 16);
}

std::uint32_t TiffLayout::Value(const Values& values, std::uint32_t index) const {
    if (values.type == TypeShort) return U16(values.at + 2 * static_cast<std::int64_t>(index));
    return U32(values.at + 4 * static_cast<std::int64_t>(index));
}

bool TiffLayout::Holds(std::int64_t offset) const {
    if (state_ != State::Ended || offset < 0 || offset >= end_) return false;
    if (std::binary_search(dataStarts_.begin(), dataStarts_.end(), offset)) return true;
    return std::any_of(metadata_.begin(), metadata_.end(),
                       [offset](const Range& range) { return offset >= range.at && offset < range.end; });
}

} // namespace wizard
