#include "shell/Startup.h"

#include <cerrno>
#include <cstdlib>

namespace shell {

std::string VersionText(const std::string& word) {
    return (word.empty() ? std::string("Version") : word) + " " + std::to_string(TRANQUO_VERSION_MAJOR) + "." + std::to_string(TRANQUO_VERSION_MINOR) + "." +
           std::to_string(TRANQUO_VERSION_PATCH);
}

int TranslucentSettings::Flags() const { return (chkColor ? 1 : 0) + (chkAlpha ? 2 : 0); }

int TranslucentSettings::Alpha() const {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(txtTransparency.c_str(), &end, 10);
    if (end == txtTransparency.c_str() || value < 0) return 0;
    if (value > 255 || errno == ERANGE) return 255;
    return static_cast<int>(value);
}

} // namespace shell
