// Small files built byte by byte for the format-walker tests, and the walk
// of such bytes in pieces of any size, as the deep scan feeds them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wizard/FormatWalker.h"

namespace wizardtest {

using Bytes = std::vector<std::uint8_t>;

inline void Put(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }
inline void Put(Bytes& out, std::initializer_list<std::uint8_t> bytes) { out.insert(out.end(), bytes); }
inline void PutBe16(Bytes& out, std::uint32_t v) { Put(out, {std::uint8_t(v >> 8), std::uint8_t(v)}); }
inline void PutBe32(Bytes& out, std::uint32_t v) {
    PutBe16(out, v >> 16);
    PutBe16(out, v & 0xFFFF);
}
inline void PutLe16(Bytes& out, std::uint32_t v) { Put(out, {std::uint8_t(v), std::uint8_t(v >> 8)}); }
inline void PutLe32(Bytes& out, std::uint32_t v) {
    PutLe16(out, v & 0xFFFF);
    PutLe16(out, v >> 16);
}
inline void PutLe64(Bytes& out, std::uint64_t v) {
    PutLe32(out, static_cast<std::uint32_t>(v));
    PutLe32(out, static_cast<std::uint32_t>(v >> 32));
}
inline void Fill(Bytes& out, std::size_t count, std::uint8_t value = 0x5A) { out.insert(out.end(), count, value); }

// Bytes of another file, or none: what a walk must not take for its own.
inline Bytes Junk(std::size_t count) {
    Bytes junk;
    for (std::size_t i = 0; i < count; ++i) junk.push_back(static_cast<std::uint8_t>(i * 151 + 7));
    return junk;
}

inline Bytes Joined(Bytes file, const Bytes& after) {
    file.insert(file.end(), after.begin(), after.end());
    return file;
}

// The walker WalkerFor picks for bytes, fed them in pieces of piece bytes
// with the file's limit at limit (all of bytes when negative); null when
// none knows them.
inline std::unique_ptr<wizard::FormatWalker> Walk(const Bytes& bytes, std::size_t piece = 512,
                                                  std::int64_t limit = -1) {
    auto walker = wizard::WalkerFor(bytes.data(), bytes.size());
    if (!walker) return walker;
    walker->Begin(limit < 0 ? static_cast<std::int64_t>(bytes.size()) : limit);
    for (std::size_t at = 0; at < bytes.size() && walker->State() == wizard::WalkState::Walking; at += piece) {
        walker->Feed(bytes.data() + at, std::min(piece, bytes.size() - at));
    }
    return walker;
}

// The end a walk found, or -1 when it did not end; -2 when no walker knows
// the bytes.
inline std::int64_t EndOf(const Bytes& bytes, std::size_t piece = 512, std::int64_t limit = -1) {
    const auto walker = Walk(bytes, piece, limit);
    if (!walker) return -2;
    return walker->State() == wizard::WalkState::Ended ? walker->End() : -1;
}

} // namespace wizardtest
