#include "shell/DestinationChoice.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "shell/DestinationFolder.h"

namespace shell {

namespace {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return home && home[0] == '/' ? std::string(home) : std::string("/");
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// Mount tables write blanks and a few other characters as octal escapes.
std::string DecodeMountField(const std::string& field) {
    std::string decoded;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && std::isdigit(static_cast<unsigned char>(field[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(field[i + 2])) &&
            std::isdigit(static_cast<unsigned char>(field[i + 3]))) {
            decoded += static_cast<char>(std::strtol(field.substr(i + 1, 3).c_str(), nullptr, 8));
            i += 3;
        } else {
            decoded += field[i];
        }
    }
    return decoded;
}

bool Holds(const std::string& place, const std::string& folder) {
    if (place == "/") return !folder.empty() && folder[0] == '/';
    return folder == place || (folder.size() > place.size() && folder.compare(0, place.size(), place) == 0 &&
                               folder[place.size()] == '/');
}

bool IsFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

} // namespace

std::vector<FolderPlace> FolderPlacesFrom(const std::string& home, const std::string& mountsText) {
    std::vector<FolderPlace> places{{WithoutTrailingSlash(home), PlaceKind::Home}, {"/", PlaceKind::FileSystem}};
    std::istringstream lines(mountsText);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint;
        if (!(fields >> device >> mountPoint)) continue;
        if (device.rfind("/dev/", 0) != 0 || device.rfind("/dev/loop", 0) == 0) continue;
        mountPoint = WithoutTrailingSlash(DecodeMountField(mountPoint));
        if (mountPoint.empty() || mountPoint[0] != '/' || mountPoint == "/" || mountPoint.rfind("/boot", 0) == 0)
            continue;
        bool known = false;
        for (const FolderPlace& place : places) known = known || place.path == mountPoint;
        if (!known) places.push_back({mountPoint, PlaceKind::Volume});
    }
    return places;
}

std::vector<FolderPlace> FolderPlaces() {
    std::ifstream mounts("/proc/self/mounts");
    std::stringstream text;
    text << mounts.rdbuf();
    return FolderPlacesFrom(HomeFolder(), text.str());
}

std::size_t PlaceOf(const std::string& folder, const std::vector<FolderPlace>& places) {
    std::size_t best = 0, bestLength = 0;
    bool found = false;
    for (std::size_t i = 0; i < places.size(); ++i) {
        if (!Holds(places[i].path, folder)) continue;
        if (!found || places[i].path.size() > bestLength) {
            best = i;
            bestLength = places[i].path.size();
            found = true;
        }
    }
    return best;
}

std::string NearestExistingFolder(const std::string& path) {
    if (path.empty() || path[0] != '/') return HomeFolder();
    std::filesystem::path folder = WithoutTrailingSlash(path);
    // Bounded by the path's depth: each step goes one folder up.
    while (!IsFolder(folder.string()) && folder.has_relative_path()) folder = folder.parent_path();
    return IsFolder(folder.string()) ? WithoutTrailingSlash(folder.string()) : HomeFolder();
}

std::string PresetFolder() { return NearestExistingFolder(CurrentDestinationRoot()); }

std::string DestinationRootFor(const std::string& folder) {
    if (!folder.empty() && folder.back() == '/') return folder;
    return folder + "/";
}

std::string TypedFolder(const std::string& typed) {
    const std::size_t first = typed.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    std::string folder = typed.substr(first, typed.find_last_not_of(" \t") - first + 1);
    if (folder == "~" || folder.rfind("~/", 0) == 0) folder = HomeFolder() + folder.substr(1);
    return folder;
}

bool IsUsableDestination(const std::string& folder) { return !folder.empty() && folder[0] == '/' && IsFolder(folder); }

std::string ChangeDestinationRoot(const std::string& folder, const std::string& changedText) {
    const std::string root = DestinationRootFor(folder);
    StoreDestinationRoot(root);
    return changedText + " " + root;
}

} // namespace shell
