#include "engine/FileHelpers.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "engine/TextEncoding.h"
#include "platform/fileapi.h"
#include "platform/littleendian.h"
#include "platform/shell.h"

namespace engine {

namespace {

constexpr unsigned kCarriageReturn = 13;
constexpr unsigned kLineFeed = 10;

// One UTF-16 LE code unit; false at the end of the file (an odd last byte
// is no character and is dropped).
bool ReadUnit(std::FILE* file, char16_t& unit) {
    std::uint8_t bytes[2];
    if (std::fread(bytes, 1, 2, file) != 2) return false;
    unit = static_cast<char16_t>(platform::ReadLe16(bytes, 0));
    return true;
}

std::string ReadUnicodeLine(std::FILE* file) {
    std::u32string line;
    char16_t unit;
    while (ReadUnit(file, unit)) {
        if (unit == kCarriageReturn) break;
        if (unit == kLineFeed) continue;
        char32_t cp = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            char16_t low;
            if (ReadUnit(file, low)) {
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
                } else {
                    // A lone high surrogate: keep the next unit for the next round.
                    std::fseek(file, -2, SEEK_CUR);
                    cp = 0xFFFD;
                }
            } else {
                cp = 0xFFFD;
            }
        }
        line.push_back(cp);
    }
    return Utf8FromCodePoints(line);
}

std::string ReadSingleByteLine(std::FILE* file) {
    std::string line;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
        if (c == static_cast<int>(kCarriageReturn)) break;
        if (c == static_cast<int>(kLineFeed)) continue;
        line.push_back(static_cast<char>(c));
    }
    return Utf8FromCp1252(reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
}

bool IsDriveRoot(const std::string& text) {
    if (text.size() < 2 || text.size() > 3) return false;
    const char letter = text[0];
    const bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    if (!isLetter || text[1] != ':') return false;
    return text.size() == 2 || text[2] == '\\' || text[2] == '/';
}

// The name GetDiskFreeSpaceExA expects: "G:" and "G:/" become "G:\"; a
// folder that does not exist yet (a file about to be written there) is
// measured at its nearest existing parent.
std::string VolumeQueryPath(const std::string& root) {
    if (IsDriveRoot(root)) return root.substr(0, 2) + "\\";
    std::error_code ec;
    std::filesystem::path path(root);
    while (!path.empty() && !std::filesystem::exists(path, ec)) {
        auto parent = path.parent_path();
        if (parent == path) break;
        path = parent;
    }
    return path.empty() ? root : path.string();
}

// The 64-bit result as two 32-bit halves, each corrected by 2^32 when it
// reads negative as a signed value.
double FromHalves(const ULARGE_INTEGER& value) {
    constexpr double kTwoTo32 = 4294967296.0;
    double low = static_cast<LONG>(value.u.LowPart);
    double high = static_cast<LONG>(value.u.HighPart);
    if (low < 0) low += kTwoTo32;
    if (high < 0) high += kTwoTo32;
    return high * kTwoTo32 + low;
}

bool QueryVolume(const std::string& root, double* freeToCaller, double* total) {
    if (root.empty()) return false;
    const std::string path = VolumeQueryPath(root);
    ULARGE_INTEGER available{}, totalBytes{}, totalFree{};
    if (!GetDiskFreeSpaceExA(path.c_str(), &available, &totalBytes, &totalFree)) return false;
    if (freeToCaller) *freeToCaller = FromHalves(available);
    if (total) *total = FromHalves(totalBytes);
    return true;
}

} // namespace

std::string ReadTextLine(std::FILE* file, bool& isUnicode) {
    if (!file) return {};
    if (std::ftell(file) == 0) {
        unsigned char mark[2];
        const std::size_t got = std::fread(mark, 1, 2, file);
        if (got == 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
            isUnicode = true;
        } else {
            isUnicode = false;
            // The two bytes are ordinary text: read them again under the
            // line rules (one of them may end the line).
            std::fseek(file, 0, SEEK_SET);
        }
    }
    return isUnicode ? ReadUnicodeLine(file) : ReadSingleByteLine(file);
}

bool EndOfTextFile(std::FILE* file) {
    if (!file) return true;
    const int c = std::fgetc(file);
    if (c == EOF) return true;
    std::ungetc(c, file);
    return false;
}

support::Truth FileExists(const std::string& path) {
    const std::string bare = StripQuotes(path);
    if (bare.empty()) return support::False;
    struct stat info {};
    if (::stat(bare.c_str(), &info) != 0) return support::False;
    return support::ToTruth(S_ISREG(info.st_mode));
}

std::string StripQuotes(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(' ');
    std::string trimmed = text.substr(first, last - first + 1);
    if (trimmed.size() >= 2 && trimmed.front() == '"' && trimmed.back() == '"') {
        trimmed = trimmed.substr(1, trimmed.size() - 2);
    }
    return trimmed;
}

std::string GetSpecialFolderPath(int folder) {
    LPITEMIDLIST list = nullptr;
    if (SHGetSpecialFolderLocation(nullptr, folder, &list) != S_OK || !list) return {};
    char buffer[MAX_PATH] = {};
    const BOOL converted = SHGetPathFromIDListA(list, buffer);
    CoTaskMemFree(list);
    if (!converted) return {};
    buffer[MAX_PATH - 1] = '\0';
    return std::string(buffer);
}

std::string GetLogicalDriveList() {
    DWORD needed = GetLogicalDriveStringsA(0, nullptr);
    // A drive that appears between the two calls makes the list longer than
    // asked for: ask again with the new size.
    for (int attempt = 0; attempt < 3 && needed > 0; ++attempt) {
        std::string buffer(needed + 1, '\0');
        const DWORD written = GetLogicalDriveStringsA(static_cast<DWORD>(buffer.size()), buffer.data());
        if (written == 0) return {};
        if (written < buffer.size()) {
            // Keep the NUL that ends the list, so that a walk in steps of
            // four characters meets an entry that begins with NUL.
            buffer.resize(written + 1);
            return buffer;
        }
        needed = written;
    }
    return {};
}

std::string DiskCapacity(const std::string& root) {
    double total = 0;
    if (!QueryVolume(root, nullptr, &total)) return "0";
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", total);
    return text;
}

double DiskFreeSpace(const std::string& root) {
    double available = 0;
    if (!QueryVolume(root, &available, nullptr)) return 0;
    return available;
}

} // namespace engine
