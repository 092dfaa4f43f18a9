// include_layers SOURCE_ROOT: reads every #include "..." under the source
// folders and fails, naming file, line and include, when a file reaches a
// header of a layer above its own. The layers, lowest first:
//   platform <- typhex
//   platform <- support <- engine <- shell <- wizard <- tools <- cli
// A windows/ folder sits on top of its part and may use the desktop layer
// (platform/desktop); only app/, the windows folders and their tests may
// include a windows/ or desktop header (and the benchmarks, which measure
// windows too). platform/src is private to the platform layer and its tests.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kCoreOrder = {"support", "engine", "shell", "wizard", "tools", "cli"};

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    for (const auto& part : fs::path(path)) parts.push_back(part.string());
    return parts;
}

bool IsWindowsPath(const std::vector<std::string>& parts) {
    return parts.size() > 2 && parts[1] == "windows";
}

// The layer a header or source belongs to: "platform", "platform/src",
// "desktop", "typhex", a core folder, "<part>/windows", "app", "tests",
// "tests/windows", "bench"; nullopt when it is none of ours.
std::optional<std::string> LayerOf(const std::vector<std::string>& parts) {
    if (parts.size() < 2) return std::nullopt;
    const std::string& top = parts[0];
    if (top == "platform") {
        if (parts[1] == "desktop") return "desktop";
        if (parts[1] == "src") return "platform/src";
        return "platform";
    }
    if (top == "tests") {
        for (const auto& part : parts)
            if (part == "windows") return "tests/windows";
        return "tests";
    }
    if (IsWindowsPath(parts)) return top + "/windows";
    if (top == "typhex" || top == "app" || top == "bench" ||
        std::find(kCoreOrder.begin(), kCoreOrder.end(), top) != kCoreOrder.end())
        return top;
    return std::nullopt;
}

bool IsWindowLayer(const std::string& layer) {
    return layer.size() > 8 && layer.compare(layer.size() - 8, 8, "/windows") == 0;
}

// The core layers (and platform, typhex) a layer may include.
std::set<std::string> CoreReach(const std::string& layer) {
    if (layer == "platform") return {"platform"};
    if (layer == "typhex") return {"platform", "typhex"};
    if (layer == "support") return {"platform", "support"};
    std::set<std::string> reach = {"platform", "typhex"};
    for (const auto& core : kCoreOrder) {
        reach.insert(core);
        if (core == layer) break;
    }
    return reach;
}

bool Allowed(const std::string& from, const std::string& to) {
    if (from == to) return true;
    // Benchmarks measure the windows too.
    const bool privileged = from == "app" || from == "tests/windows" || from == "bench" || IsWindowLayer(from);
    if (to == "desktop") return privileged || from == "desktop";
    if (IsWindowLayer(to)) return privileged;
    if (to == "platform/src") return from == "platform" || from == "tests" || from == "tests/windows" ||
                                     from == "desktop";
    if (from == "app" || from == "tests" || from == "tests/windows" || from == "bench") return true;
    if (from == "desktop") return to == "platform";
    if (from == "platform/src") return to == "platform";
    if (IsWindowLayer(from)) return CoreReach(from.substr(0, from.size() - 8)).count(to) > 0;
    return CoreReach(from).count(to) > 0;
}

// The layer of an include as written: "folder/..." names it; a bare name is
// the file's own folder, or the library's public header.
std::optional<std::string> IncludedLayer(const std::string& include, const fs::path& root, const fs::path& file) {
    const auto parts = Split(include);
    if (parts.size() == 1) {
        if (fs::exists(file.parent_path() / include)) return std::nullopt;
        if (fs::exists(root / "typhex" / "include" / include)) return std::string("typhex");
        return std::nullopt;
    }
    if (!fs::exists(root / include)) return std::nullopt; // relative or a system header
    return LayerOf(parts);
}

bool IsSource(const fs::path& path) {
    const auto ext = path.extension().string();
    return ext == ".cpp" || ext == ".h" || ext == ".hpp" || ext == ".cc";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: include_layers SOURCE_ROOT\n";
        return 2;
    }
    const fs::path root = argv[1];
    const std::regex includeLine(R"re(^\s*#\s*include\s*"([^"]+)")re");
    int files = 0, faults = 0;
    for (const char* top : {"platform", "typhex", "support", "engine", "shell", "wizard", "tools", "cli", "app",
                            "bench", "tests"}) {
        if (!fs::is_directory(root / top)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
            if (!entry.is_regular_file() || !IsSource(entry.path())) continue;
            const std::string relative = fs::relative(entry.path(), root).generic_string();
            const auto from = LayerOf(Split(relative));
            if (!from) continue;
            ++files;
            std::ifstream in(entry.path());
            std::string line;
            for (int number = 1; std::getline(in, line); ++number) {
                std::smatch match;
                if (!std::regex_search(line, match, includeLine)) continue;
                const auto to = IncludedLayer(match[1].str(), root, entry.path());
                if (!to || Allowed(*from, *to)) continue;
                std::cerr << relative << ":" << number << ": includes \"" << match[1].str() << "\" (layer " << *to
                          << "), which layer " << *from << " may not use\n";
                ++faults;
            }
        }
    }
    if (files == 0) {
        std::cerr << "no sources found under " << root << "\n";
        return 2;
    }
    if (faults) {
        std::cerr << faults << " include(s) against the layers\n";
        return 1;
    }
    std::cout << files << " files checked, every include follows the layers\n";
    return 0;
}
