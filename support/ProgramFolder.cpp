#include "support/ProgramFolder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace support {

std::string ProgramFolder() {
    if (const char* overridden = std::getenv("TRANQUO_PROGRAM_DIR"); overridden && *overridden) {
        return overridden;
    }
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return ".";
    return exe.parent_path().string();
}

} // namespace support
