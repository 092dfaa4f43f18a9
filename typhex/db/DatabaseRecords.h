// The signature database as plain records, for the typhex-db tool: the file
// form (the same bytes the library's Serialise writes) and the text source.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace typhexdb {

using Pattern = std::vector<std::uint16_t>; // 0..255 a byte, 256 any byte

struct ContentRecord {
    std::int32_t offset = 0;
    Pattern entries;
};

struct SignatureRecord {
    bool fixedLength = false;
    std::int32_t fileSize = 0;
    Pattern start;
    std::vector<ContentRecord> contents;
    std::vector<Pattern> ends;
};

struct TypeRecord {
    std::u16string extension;   // three characters
    std::u16string description;
    int category = 4;           // 1 photo, 2 video, 3 audio, 4 other
    bool allowSearch = false;
    std::vector<SignatureRecord> signatures;
};

using Database = std::vector<TypeRecord>;

// The file form. Encode throws std::runtime_error for what the form cannot
// hold (more than 255 of anything, texts outside the stored range); Decode
// throws for truncated data, naming the offset.
std::vector<std::uint8_t> Encode(const Database& database);
Database Decode(const std::vector<std::uint8_t>& bytes);

// The text source. Parse throws std::runtime_error with "line N: ...".
Database Parse(const std::string& text);
std::string Print(const Database& database);

} // namespace typhexdb
