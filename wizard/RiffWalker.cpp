#include "wizard/RiffWalker.h"

#include "platform/bigendian.h"

namespace wizard {

namespace {

constexpr std::uint32_t Riff = 0x52494646; // "RIFF"
constexpr std::uint32_t Rifx = 0x52494658; // "RIFX"
constexpr std::uint32_t IffForm = 0x464F524D; // "FORM"
constexpr std::uint32_t Avi = 0x41564920;  // "AVI "
constexpr std::uint32_t Avix = 0x41564958; // "AVIX"
constexpr std::size_t FormHeaderBytes = 12;
constexpr std::size_t ChunkHeaderBytes = 8;
// An OpenDML AVI has one form per GiB: 4 GiB need a handful.
constexpr int MaxForms = 64;

std::uint32_t Magic(const std::uint8_t* bytes) { return platform::ReadBe32(platform::ByteView(bytes, 4), 0); }

// A chunk or form id: four printable ASCII characters.
bool IsId(const std::uint8_t* bytes) {
    for (int i = 0; i < 4; ++i) {
        if (bytes[i] < 0x20 || bytes[i] > 0x7E) return false;
    }
    return true;
}

std::int64_t Padded(std::int64_t size) { return size + (size & 1); }

} // namespace

bool RiffWalker::Recognises(const std::uint8_t* first, std::size_t count) {
    if (count < FormHeaderBytes) return false;
    const std::uint32_t magic = Magic(first);
    return (magic == Riff || magic == Rifx || magic == IffForm) && IsId(first + 8);
}

void RiffWalker::Start() {
    step_ = Step::Form;
    bigEndian_ = false;
    avi_ = false;
    form_ = 0;
    formEnd_ = 0;
    forms_ = 0;
    Read(0, FormHeaderBytes);
}

std::uint32_t RiffWalker::Size(const std::uint8_t* bytes) const {
    const platform::ByteView size(bytes, 4);
    return bigEndian_ ? platform::ReadBe32(size, 0) : platform::ReadLe32(size, 0);
}

void RiffWalker::Parse(std::int64_t at, const std::uint8_t* bytes, std::size_t) {
    switch (step_) {
    case Step::Form:
        return Form(at, bytes);
    case Step::Chunk:
        return Chunk(at, bytes);
    case Step::NextForm:
        // An AVI goes on only in forms of its own kind.
        if (Magic(bytes) != form_ || Magic(bytes + 8) != Avix) return Finish(at);
        return Form(at, bytes);
    }
}

void RiffWalker::Form(std::int64_t at, const std::uint8_t* bytes) {
    if (forms_ == 0) {
        form_ = Magic(bytes);
        bigEndian_ = form_ != Riff;
        avi_ = form_ != IffForm && Magic(bytes + 8) == Avi;
    }
    if (++forms_ > MaxForms || !IsId(bytes + 8)) return GiveUp();
    const std::int64_t size = Size(bytes + 4);
    if (size < 4 || size > Limit() - at - 8) return GiveUp();
    formEnd_ = at + 8 + size;
    Cover(formEnd_);
    step_ = Step::Chunk;
    if (formEnd_ == at + static_cast<std::int64_t>(FormHeaderBytes)) return FormEnds();
    Read(at + static_cast<std::int64_t>(FormHeaderBytes), ChunkHeaderBytes);
}

// The chunks must fill their form exactly; the last one may leave out the pad
// byte of an odd size.
void RiffWalker::Chunk(std::int64_t at, const std::uint8_t* bytes) {
    if (!IsId(bytes)) return GiveUp();
    const std::int64_t size = Size(bytes + 4);
    const std::int64_t end = at + static_cast<std::int64_t>(ChunkHeaderBytes) + size;
    if (end == formEnd_ || Padded(end - at) + at == formEnd_) return FormEnds();
    if (end > formEnd_) return GiveUp();
    Read(at + Padded(end - at), ChunkHeaderBytes);
}

void RiffWalker::FormEnds() {
    if (!avi_) return Finish(formEnd_);
    step_ = Step::NextForm;
    Read(formEnd_, FormHeaderBytes);
}

void RiffWalker::NothingFollows(std::int64_t at) {
    if (step_ == Step::NextForm) Finish(at);
}

} // namespace wizard
