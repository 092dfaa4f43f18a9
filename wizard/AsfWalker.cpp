#include "wizard/AsfWalker.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/littleendian.h"

namespace wizard {

namespace {

using Guid = std::uint8_t[16];
constexpr Guid HeaderGuid = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid DataGuid = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                           0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid FilePropertiesGuid = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                     0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
// The index objects that may follow the data object.
constexpr Guid IndexGuids[] = {
    {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB},
    {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE},
    {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C, 0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4, 0x8C},
    {0xD0, 0x3F, 0xB7, 0x3C, 0x4A, 0x0C, 0x03, 0x48, 0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F, 0x0C},
};
constexpr std::size_t ObjectHeaderBytes = 24;   // GUID and 64-bit size
constexpr std::size_t HeaderObjectBytes = 30;   // and the count of header objects, two reserved bytes
constexpr std::int64_t FileSizeAt = 40;         // in the file properties object
constexpr std::int64_t FlagsAt = 88;
constexpr std::uint32_t MaxHeaderObjects = 1024;

bool Is(const std::uint8_t* bytes, const Guid& guid) { return std::memcmp(bytes, guid, sizeof(Guid)) == 0; }

std::int64_t ObjectSize(const std::uint8_t* bytes) {
    const std::uint64_t size = platform::ReadLe64(platform::ByteView(bytes, ObjectHeaderBytes), 16);
    return size > static_cast<std::uint64_t>(INT64_MAX) ? -1 : static_cast<std::int64_t>(size);
}

} // namespace

bool AsfWalker::Recognises(const std::uint8_t* first, std::size_t count) {
    return count >= HeaderObjectBytes && Is(first, HeaderGuid);
}

void AsfWalker::Start() {
    step_ = Step::HeaderObject;
    headerEnd_ = 0;
    partEnd_ = 0;
    partsLeft_ = 0;
    fileSize_ = 0;
    data_ = false;
    Read(0, HeaderObjectBytes);
}

void AsfWalker::Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t count) {
    switch (step_) {
    case Step::HeaderObject: {
        const std::int64_t size = ObjectSize(bytes);
        partsLeft_ = platform::ReadLe32(platform::ByteView(bytes, count), 24);
        if (size < static_cast<std::int64_t>(HeaderObjectBytes) || size > Limit() || partsLeft_ > MaxHeaderObjects) {
            return GiveUp();
        }
        headerEnd_ = size;
        Cover(headerEnd_);
        step_ = Step::HeaderPart;
        return Read(HeaderObjectBytes, ObjectHeaderBytes);
    }
    case Step::HeaderPart:
        return HeaderPart(at, bytes);
    case Step::FileSize: {
        // The file size (and, 48 bytes on, the flags, read from these bytes too).
        const platform::ByteView properties(bytes, count);
        const std::uint64_t size = platform::ReadLe64(properties, 0);
        const bool broadcast = platform::ReadLe32(properties, FlagsAt - FileSizeAt) & 1;
        if (!broadcast && size > static_cast<std::uint64_t>(headerEnd_) && size <= static_cast<std::uint64_t>(Limit())) {
            fileSize_ = static_cast<std::int64_t>(size);
        }
        return NextHeaderPart();
    }
    case Step::TopObject:
        return TopObject(at, bytes);
    }
}

// The objects inside the header must fill it exactly.
void AsfWalker::HeaderPart(std::int64_t at, const std::uint8_t* bytes) {
    const std::int64_t size = ObjectSize(bytes);
    if (partsLeft_ == 0 || size < static_cast<std::int64_t>(ObjectHeaderBytes) || size > headerEnd_ - at) {
        return GiveUp();
    }
    --partsLeft_;
    partEnd_ = at + size;
    const bool last = partEnd_ == headerEnd_;
    if (last != (partsLeft_ == 0)) return GiveUp();
    if (Is(bytes, FilePropertiesGuid) && size >= FlagsAt + 4) {
        step_ = Step::FileSize;
        return Read(at + FileSizeAt, static_cast<std::size_t>(FlagsAt + 4 - FileSizeAt));
    }
    NextHeaderPart();
}

void AsfWalker::NextHeaderPart() {
    if (partEnd_ < headerEnd_) {
        step_ = Step::HeaderPart;
        return Read(partEnd_, ObjectHeaderBytes);
    }
    step_ = Step::TopObject;
    Read(headerEnd_, ObjectHeaderBytes);
}

void AsfWalker::TopObject(std::int64_t at, const std::uint8_t* bytes) {
    const bool index = std::any_of(std::begin(IndexGuids), std::end(IndexGuids),
                                   [bytes](const Guid& guid) { return Is(bytes, guid); });
    const std::int64_t size = ObjectSize(bytes);
    if ((!Is(bytes, DataGuid) && !(index && data_)) || size < static_cast<std::int64_t>(ObjectHeaderBytes)) {
        return EndBefore(at);
    }
    const std::int64_t end = size > Limit() - at ? -1 : at + size;
    if (end < 0 || (fileSize_ != 0 && end > fileSize_)) return GiveUp();
    data_ = true;
    Cover(end);
    if (end == fileSize_) return Finish(end);
    Read(end, ObjectHeaderBytes);
}

void AsfWalker::NothingFollows(std::int64_t at) {
    if (step_ == Step::TopObject) EndBefore(at);
}

// The objects end before at: with the file size known, that must be there.
void AsfWalker::EndBefore(std::int64_t at) {
    if (data_ && (fileSize_ == 0 || fileSize_ == at)) return Finish(at);
    GiveUp();
}

} // namespace wizard
