#include "engine/ExtensionAliases.h"

#include <array>
#include <string_view>
#include <utility>

namespace engine {

namespace {

// Only forms of the same format: the saved file keeps its own name, the
// alias only lets it be recovered as the type it is.
constexpr std::array<std::pair<std::string_view, std::string_view>, 28> Aliases{{
    {"JPEG", "JPG"}, {"JPE", "JPG"},  {"JFIF", "JPG"}, {"JIF", "JPG"},
    {"TIFF", "TIF"}, {"HEIC", "HEI"}, {"HEIF", "HEI"},
    {"MPEG", "MPG"}, {"MPE", "MPG"},  {"MP2", "MPG"},  {"M2V", "MPG"}, {"M2P", "MPG"}, {"VOB", "MPG"},
    {"QT", "MOV"},   {"3G2", "3GP"},  {"ASF", "WMV"},  {"WMA", "WMV"}, {"WEBM", "MKV"}, {"MKA", "MKV"},
    {"WAVE", "WAV"}, {"FLAC", "FLA"}, {"AIFF", "AIF"}, {"AIFC", "AIF"},
    {"OGA", "OGG"},  {"OGV", "OGG"},  {"OPUS", "OGG"}, {"M4B", "M4A"}, {"MPG4", "MP4"},
}};

} // namespace

std::string ExtensionAliasOf(const std::string& upperExtension) {
    for (const auto& [alias, extension] : Aliases)
        if (alias == upperExtension) return std::string(extension);
    return {};
}

} // namespace engine
