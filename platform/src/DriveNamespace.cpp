#include "platform/src/DriveNamespace.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "platform/src/BlockDevice.h"
#include "platform/src/ImageVolume.h"
#include "platform/src/Mbr.h"

namespace platform {

namespace {

using detail::Volume;

constexpr char RootLetter = 'C';
constexpr char FirstRemovableLetter = 'D';
constexpr char LastLetter = 'Z';

struct Namespace {
    std::recursive_mutex mutex;
    bool initialised = false;
    bool environmentAttached = false;
    std::map<char, Volume> drives;
    std::string sysBlock = "/sys/block";
    std::string devFolder = "/dev";
};

Namespace& TheNamespace() {
    static Namespace ns;
    return ns;
}

std::uint64_t RootFileSystemSize() {
    struct statvfs info {};
    if (::statvfs("/", &info) != 0) return 0;
    return static_cast<std::uint64_t>(info.f_blocks) * info.f_frsize;
}

Volume MakeRootVolume() {
    Volume volume;
    volume.info.letter = RootLetter;
    volume.info.kind = DriveKind::Fixed;
    volume.key = "root";
    if (auto device = detail::RootFileSystemDevice()) {
        volume.info.source = device->devicePath;
        volume.info.partition = device->partition;
        volume.backend = std::make_shared<detail::BlockDevice>(*device);
        volume.followsBackendSize = true;
    } else {
        volume.info.source = "/";
    }
    volume.info.length = RootFileSystemSize();
    return volume;
}

char FreeLetter(const Namespace& ns) {
    for (char letter = FirstRemovableLetter; letter <= LastLetter; ++letter)
        if (ns.drives.find(letter) == ns.drives.end()) return letter;
    return 0;
}

void RefreshLength(Volume& volume) {
    if (volume.followsBackendSize && volume.backend) {
        volume.info.length = volume.backend->Size();
        volume.info.hasMedia = volume.info.length > 0;
    }
}

// Devices that went away give up their letters; new ones take the lowest
// free letters; the others keep theirs. The devices are the device broker's
// when it answers, else the kernel's.
void RescanDevicesLocked(Namespace& ns) {
    std::vector<detail::DeviceVolume> found;
    if (!detail::ScanBrokeredDevices(&found)) found = detail::ScanRemovableDevices(ns.sysBlock, ns.devFolder);
    std::set<std::string> present;
    for (const auto& device : found) present.insert("dev:" + device.name);
    for (auto it = ns.drives.begin(); it != ns.drives.end();) {
        bool isDevice = it->second.key.rfind("dev:", 0) == 0;
        if (isDevice && present.count(it->second.key) == 0)
            it = ns.drives.erase(it);
        else
            ++it;
    }
    for (const auto& device : found) {
        std::string key = "dev:" + device.name;
        auto existing = std::find_if(ns.drives.begin(), ns.drives.end(),
                                     [&](const auto& entry) { return entry.second.key == key; });
        if (existing != ns.drives.end()) {
            // A device now reached through the broker (or no longer) is
            // opened the new way from now on.
            auto block = std::dynamic_pointer_cast<detail::BlockDevice>(existing->second.backend);
            if (block && block->Volume().brokerId != device.brokerId) {
                existing->second.backend = std::make_shared<detail::BlockDevice>(device);
                existing->second.info.throughBroker = !device.brokerId.empty();
            } else if (block) {
                block->SetListedSize(device.listedSize);
            }
            continue;
        }
        char letter = FreeLetter(ns);
        if (!letter) return;
        Volume volume;
        volume.info.letter = letter;
        volume.info.kind = device.kind;
        volume.info.source = device.devicePath;
        volume.info.partition = device.partition;
        volume.info.throughBroker = !device.brokerId.empty();
        volume.backend = std::make_shared<detail::BlockDevice>(device);
        volume.followsBackendSize = true;
        volume.key = key;
        ns.drives.emplace(letter, volume);
    }
    for (auto& [letter, volume] : ns.drives) RefreshLength(volume);
}

std::vector<char> AttachImageLocked(Namespace& ns, const std::string& path, std::string* error);

void AttachFromEnvironmentLocked(Namespace& ns) {
    if (ns.environmentAttached) return;
    ns.environmentAttached = true;
    const char* list = std::getenv("TRANQUO_ATTACH");
    if (!list) return;
    std::string text = list;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(':', start);
        if (end == std::string::npos) end = text.size();
        std::string path = text.substr(start, end - start);
        if (!path.empty()) {
            std::string error;
            // A bad entry must not stop the program; the drive is simply absent.
            AttachImageLocked(ns, path, &error);
        }
        start = end + 1;
    }
}

void EnsureInitialisedLocked(Namespace& ns) {
    if (!ns.initialised) {
        ns.initialised = true;
        ns.drives.emplace(RootLetter, MakeRootVolume());
        RescanDevicesLocked(ns);
    }
    AttachFromEnvironmentLocked(ns);
}

std::vector<char> AttachImageLocked(Namespace& ns, const std::string& path, std::string* error) {
    EnsureInitialisedLocked(ns);
    std::error_code ec;
    // One name per file, so that the same image reached by two paths is
    // attached once.
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
    std::string source = ec ? path : resolved.string();

    std::vector<char> letters;
    std::string keyPrefix = "img:" + source + "@";
    for (const auto& [letter, volume] : ns.drives)
        if (volume.key.rfind(keyPrefix, 0) == 0) letters.push_back(letter);
    if (!letters.empty()) return letters; // attached already

    std::string reason;
    std::shared_ptr<detail::ImageVolume> image = detail::ImageVolume::Open(source, &reason);
    if (!image) {
        if (error) *error = path + ": " + reason;
        return {};
    }
    std::uint64_t size = image->Size();
    if (size < 512) {
        if (error) *error = path + ": the image is empty or shorter than one sector";
        return {};
    }
    std::vector<detail::MbrPartition> partitions = detail::ImagePartitions(*image, size);
    std::size_t needed = partitions.empty() ? 1 : partitions.size();
    std::size_t freeLetters = 0;
    for (char letter = FirstRemovableLetter; letter <= LastLetter; ++letter)
        freeLetters += ns.drives.count(letter) == 0 ? 1 : 0;
    if (freeLetters < needed) {
        if (error) *error = path + ": no drive letter is left";
        return {};
    }

    auto add = [&](std::uint64_t offset, std::uint64_t length, int partition) {
        Volume volume;
        volume.info.letter = FreeLetter(ns);
        volume.info.kind = DriveKind::Removable;
        volume.info.source = source;
        volume.info.offset = offset;
        volume.info.length = length;
        volume.info.attachedImage = true;
        volume.info.hasMedia = true;
        volume.info.partition = partition;
        volume.backend = image;
        volume.key = keyPrefix + std::to_string(offset);
        letters.push_back(volume.info.letter);
        ns.drives.emplace(volume.info.letter, volume);
    };
    if (partitions.empty()) {
        add(0, size, 0);
    } else {
        for (const auto& partition : partitions)
            add(partition.firstSector * 512, partition.sectorCount * 512, partition.number);
    }
    return letters;
}

} // namespace

std::vector<char> AttachImage(const std::string& path, std::string* error) {
    Namespace& ns = TheNamespace();
    std::lock_guard lock(ns.mutex);
    return AttachImageLocked(ns, path, error);
}

bool AttachFromArguments(std::vector<std::string>& args, std::string* error) {
    std::vector<std::string> rest;
    bool literal = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string path;
        if (literal || (args[i] != "--attach" && args[i].rfind("--attach=", 0) != 0)) {
            literal = literal || args[i] == "--";
            rest.push_back(args[i]);
            continue;
        }
        if (args[i] == "--attach") {
            if (i + 1 >= args.size()) {
                if (error) *error = "--attach needs an image path";
                return false;
            }
            path = args[++i];
        } else {
            path = args[i].substr(9);
        }
        if (AttachImage(path, error).empty()) return false;
    }
    args = std::move(rest);
    return true;
}

void AttachFromEnvironment() {
    Namespace& ns = TheNamespace();
    std::lock_guard lock(ns.mutex);
    EnsureInitialisedLocked(ns);
}

char AttachVolume(std::shared_ptr<VolumeBackend> backend, const std::string& description) {
    if (!backend) return 0;
    Namespace& ns = TheNamespace();
    std::lock_guard lock(ns.mutex);
    EnsureInitialisedLocked(ns);
    char letter = FreeLetter(ns);
    if (!letter) return 0;
    static unsigned long serial = 0;
    Volume volume;
    volume.info.letter = letter;
    volume.info.kind = DriveKind::Removable;
    volume.info.source = description;
    volume.info.attachedImage = true;
    volume.backend = std::move(backend);
    volume.followsBackendSize = true;
    volume.key = "vol:" + std::to_string(++serial);
    RefreshLength(volume);
    ns.drives.emplace(letter, volume);
    return letter;
}

void ResetDrives() {
    Namespace& ns = TheNamespace();
    std::lock_guard lock(ns.mutex);
    ns.drives.clear();
    ns.initialised = false;
    ns.environmentAttached = false;
}

std::vector<DriveInfo> ListDrives() {
    Namespace& ns = TheNamespace();
    std::lock_guard lock(ns.mutex);
    EnsureInitialisedLocked(ns);
    RescanDevicesLocked(ns);
    std::vector<DriveInfo> drives;
    for (const auto& [letter, volume] : ns.drives) drives.push_back(volume.info);
    return drives;
}

bool FindDrive(char letter, DriveInfo* info) {
    detail::Volume volume;
    if (!detail::FindVolume(letter, &volume)) return false;
    if (info) *info = volume.info;
    return true;
}

std::vector<std::string> LoopDevicesUsing(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    return detail::LoopDevicesBacking(info.st_dev, info.st_ino);
}

namespace detail {

void SetDeviceScanFolders(const std::string& sysBlock, const std::string& devFolder) {
    Namespace& ns = TheNamespace();
    std::lock_guard lock(ns.mutex);
    ns.sysBlock = sysBlock.empty() ? "/sys/block" : sysBlock;
    ns.devFolder = devFolder.empty() ? "/dev" : devFolder;
}

bool FindVolume(char letter, Volume* volume) {
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    Namespace& ns = TheNamespace();
    std::lock_guard lock(ns.mutex);
    EnsureInitialisedLocked(ns);
    auto found = ns.drives.find(letter);
    if (found == ns.drives.end()) return false;
    RefreshLength(found->second);
    if (found->second.key == "root" && !found->second.backend) found->second.info.length = RootFileSystemSize();
    if (volume) *volume = found->second;
    return true;
}

bool IsDeviceNamespacePath(const char* path) {
    auto slash = [](char c) { return c == '\\' || c == '/'; };
    return path && slash(path[0]) && slash(path[1]) && path[2] == '.' && slash(path[3]);
}

bool ParseVolumePath(const char* path, char* letter) {
    if (!IsDeviceNamespacePath(path)) return false;
    if (!std::isalpha(static_cast<unsigned char>(path[4])) || path[5] != ':' || path[6] != '\0') return false;
    *letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[4])));
    return true;
}

bool ParseDriveRoot(const char* path, char* letter) {
    if (!path || !std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':') return false;
    if (!(path[2] == '\0' || ((path[2] == '\\' || path[2] == '/') && path[3] == '\0'))) return false;
    *letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    return true;
}

} // namespace detail

} // namespace platform
