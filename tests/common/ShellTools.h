// What the tests that make cards with other programs (mkfs.fat, mtools,
// ffmpeg, exfat-fuse) share: running a command, quoting a path for it, and
// reading a file back whole.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testcommon {

// Runs a shell command with its output silenced; its exit status, or -1
// when it did not exit.
int Shell(const std::string& command);

// The path in single quotes, for a command line (test paths hold none).
std::string Quote(const std::filesystem::path& path);

// The file's bytes; empty when it cannot be read.
std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path);

} // namespace testcommon
