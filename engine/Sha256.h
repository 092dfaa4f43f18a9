// SHA-256 of bytes fed in pieces, for the recovery report's hashes. The
// work is OpenSSL's, which uses the processor's SHA instructions where it
// has them: the report hashes every recovered byte, so the hash must keep
// up with the scan.
#pragma once

#include <cstddef>
#include <string>

struct evp_md_ctx_st;

namespace engine {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, std::size_t size);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string HexDigest();

private:
    evp_md_ctx_st* context_;
};

// The SHA-256 of a file's contents; empty when it cannot be read.
std::string Sha256OfFile(const std::string& path);

} // namespace engine
