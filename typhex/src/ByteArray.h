// The Variants the library's interfaces pass: byte arrays read in place,
// byte arrays handed out, arrays of objects, and the text form of patterns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Typhex.h"
#include "platform/littleendian.h"

namespace typhex {

// 0..255 a literal byte; 256 any byte. Any value with a high byte reads as 256.
using PatternEntry = std::uint16_t;
inline constexpr PatternEntry DontCareEntry = 0x0100;
inline constexpr std::size_t MaxEntries = 255;

inline PatternEntry NormalisedEntry(std::uint32_t value) {
    return (value & 0xFF00u) ? DontCareEntry : static_cast<PatternEntry>(value & 0xFFu);
}

// A caller's byte array, read where it lies. Positions count from its first
// element whatever its lower bound.
struct ByteSpan {
    const BYTE* data = nullptr;
    std::int64_t size = 0;
};

// False when the Variant is not a one-dimensional array of bytes, held
// directly (VT_ARRAY|VT_UI1) or by reference (VT_ARRAY|VT_UI1|VT_BYREF).
bool ByteSpanOf(const VARIANT& variant, ByteSpan* span);
// The same for writing into the caller's array.
bool WritableByteSpanOf(const VARIANT& variant, BYTE** data, std::int64_t* size);

// Empties an out Variant before it receives a result.
void ClearOut(VARIANT* variant);

// A new VT_ARRAY|VT_UI1 Variant, lower bound 0, holding the bytes.
HRESULT MakeByteArray(const std::vector<BYTE>& bytes, VARIANT* out);

// A new VT_ARRAY|VT_DISPATCH Variant (lower bound 0, created with the element
// interface id) that takes over the given references.
HRESULT MakeObjectArray(REFIID elementIid, std::vector<IDispatch*>& elements, VARIANT* out);

// An array of new ByteValue objects, one per entry, each set by Deserialise.
HRESULT MakeByteValueArray(const PatternEntry* entries, std::size_t count, VARIANT* out);

// The entries of a ByteValue array argument (passed directly, not by
// reference); null elements and elements that are no ByteValue are skipped.
// False when the Variant is not such an array.
bool ReadByteValueArray(const VARIANT& variant, std::vector<PatternEntry>* entries);

// "FFD8FF", with "xx" for a position that matches any byte.
std::string PatternText(const PatternEntry* entries, std::size_t count);

BSTR NewBstr(const std::string& ascii);
std::u16string BstrText(BSTR text);

// Little-endian writers and readers over a record buffer (the platform's
// one set); a read past the end of the span gives 0.
inline void PutU8(std::vector<BYTE>& out, unsigned value) { platform::AppendU8(out, value); }
inline void PutU16(std::vector<BYTE>& out, unsigned value) { platform::AppendLe16(out, value); }
inline void PutI32(std::vector<BYTE>& out, std::int32_t value) {
    platform::AppendLe32(out, static_cast<std::uint32_t>(value));
}
inline std::uint16_t GetU16(const ByteSpan& bytes, std::int64_t at) {
    return platform::ReadLe16(platform::ByteView(bytes.data, static_cast<std::size_t>(bytes.size)),
                              static_cast<std::size_t>(at));
}
inline std::int32_t GetI32(const ByteSpan& bytes, std::int64_t at) {
    return platform::ReadLeI32(platform::ByteView(bytes.data, static_cast<std::size_t>(bytes.size)),
                               static_cast<std::size_t>(at));
}

} // namespace typhex
