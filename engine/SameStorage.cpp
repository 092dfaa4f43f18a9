#include "engine/SameStorage.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <utility>
#include <vector>

namespace engine {

namespace {

namespace fs = std::filesystem;

// Mappings nest a few levels at most (a partition, LVM, dm-crypt, a loop
// device); the bound only guards against a loop in what sysfs shows.
constexpr int MaxDepth = 16;

struct Underlying {
    std::set<std::string> disks;                       // sysfs directories of whole disks
    std::vector<std::pair<dev_t, ino_t>> backingFiles; // of loop devices
};

std::string DeviceDirectory(dev_t device, const std::string& sysfs) {
    std::error_code ec;
    const fs::path link =
        fs::path(sysfs) / "dev" / "block" / (std::to_string(major(device)) + ":" + std::to_string(minor(device)));
    const fs::path dir = fs::canonical(link, ec);
    return ec ? std::string() : dir.string();
}

// A partition's directory lies inside its disk's.
std::string DiskOf(const std::string& dir) {
    std::error_code ec;
    return fs::exists(fs::path(dir) / "partition", ec) ? fs::path(dir).parent_path().string() : dir;
}

void Collect(const std::string& dir, const std::string& sysfs, Underlying& under, int depth) {
    if (dir.empty() || depth > MaxDepth) return;
    const std::string disk = DiskOf(dir);
    if (!under.disks.insert(disk).second && disk == dir) return;
    std::error_code ec;
    for (const std::string& device : {dir, disk}) {
        for (fs::directory_iterator it(fs::path(device) / "slaves", ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code ignored;
            const fs::path slave = fs::canonical(it->path(), ignored);
            if (!ignored) Collect(slave.string(), sysfs, under, depth + 1);
        }
    }
    std::ifstream backing(fs::path(disk) / "loop" / "backing_file");
    std::string file;
    if (backing && std::getline(backing, file) && !file.empty()) {
        struct stat info {};
        if (::stat(file.c_str(), &info) == 0) {
            under.backingFiles.emplace_back(info.st_dev, info.st_ino);
            Collect(DeviceDirectory(info.st_dev, sysfs), sysfs, under, depth + 1);
        }
    }
}

} // namespace

bool DescribeSource(const std::string& path, ReadSource& source) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    source.blockDevice = S_ISBLK(info.st_mode);
    source.device = source.blockDevice ? info.st_rdev : info.st_dev;
    source.inode = source.blockDevice ? 0 : info.st_ino;
    return true;
}

bool StoredOn(dev_t fileSystem, const ReadSource& source, const std::string& sysfs) {
    if (source.blockDevice && fileSystem == source.device) return true;
    Underlying destination;
    Collect(DeviceDirectory(fileSystem, sysfs), sysfs, destination, 0);
    if (!source.blockDevice) {
        for (const auto& [device, inode] : destination.backingFiles)
            if (device == source.device && inode == source.inode) return true;
        return false;
    }
    Underlying read;
    Collect(DeviceDirectory(source.device, sysfs), sysfs, read, 0);
    for (const std::string& disk : read.disks)
        if (destination.disks.count(disk)) return true;
    return false;
}

bool FolderOnSource(const std::string& folder, const std::string& sourcePath) {
    ReadSource source;
    if (folder.empty() || !DescribeSource(sourcePath, source)) return false;
    // The nearest part of the folder that exists is where its files would go.
    std::error_code ec;
    fs::path path = fs::absolute(folder, ec);
    struct stat info {};
    while (::stat(path.c_str(), &info) != 0) {
        if (!path.has_relative_path()) return false;
        path = path.parent_path();
    }
    return StoredOn(info.st_dev, source);
}

} // namespace engine
