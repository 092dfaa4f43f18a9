// SHA-256 (FIPS 180-4) of bytes fed in pieces, for the recovery report's
// hashes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace wizard {

class Sha256 {
public:
    Sha256();
    void Update(const void* data, std::size_t size);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingSize_ = 0;
    std::uint64_t totalBytes_ = 0;
};

// The SHA-256 of a file's contents; empty when it cannot be read.
std::string Sha256OfFile(const std::string& path);

} // namespace wizard
