#include "platform/src/BlockDevice.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/device_broker.h"
#include "platform/src/PosixIo.h"
#include "platform/src/Win32Error.h"

namespace fs = std::filesystem;

namespace platform::detail {

namespace {

std::string ReadFirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

long ReadNumber(const fs::path& path, long fallback) {
    std::string text = ReadFirstLine(path);
    try {
        return text.empty() ? fallback : std::stol(text);
    } catch (...) {
        return fallback;
    }
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool IsVirtualDevice(const std::string& name) {
    return StartsWith(name, "loop") || StartsWith(name, "ram") || StartsWith(name, "zram") ||
           StartsWith(name, "dm-") || StartsWith(name, "md") || StartsWith(name, "nbd");
}

bool IsOptical(const fs::path& device, const std::string& name) {
    return StartsWith(name, "sr") || ReadFirstLine(device / "device" / "type") == "5";
}

bool HasRemovableTransport(const fs::path& device, const std::string& name) {
    if (StartsWith(name, "mmcblk")) return true;
    std::error_code ec;
    fs::path real = fs::canonical(device, ec);
    return !ec && real.string().find("/usb") != std::string::npos;
}

std::vector<DeviceVolume> PartitionsOf(const fs::path& device, const std::string& devFolder, DriveKind kind) {
    std::vector<DeviceVolume> partitions;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(device, ec)) {
        if (!fs::exists(entry.path() / "partition")) continue;
        DeviceVolume volume;
        volume.name = entry.path().filename().string();
        volume.devicePath = devFolder + "/" + volume.name;
        volume.sysfsPath = entry.path().string();
        volume.kind = kind;
        volume.partition = static_cast<int>(ReadNumber(entry.path() / "partition", 0));
        partitions.push_back(volume);
    }
    std::sort(partitions.begin(), partitions.end(),
              [](const DeviceVolume& a, const DeviceVolume& b) { return a.partition < b.partition; });
    return partitions;
}

// The sysfs folder of a device node, when the node is a block device here.
std::string SysfsPathOfNode(const std::string& devicePath) {
    struct stat node {};
    if (::stat(devicePath.c_str(), &node) != 0 || !S_ISBLK(node.st_mode)) return {};
    std::error_code ec;
    fs::path real = fs::canonical(fs::path("/sys/dev/block") / (std::to_string(major(node.st_rdev)) + ":" +
                                                                 std::to_string(minor(node.st_rdev))), ec);
    return ec ? std::string() : real.string();
}

// Whether a failed open of a node is one the broker may do for us: the user
// lacks the right, or the node is not visible here (a sandbox).
bool BrokerMayOpen(int openErrno) { return openErrno == EACCES || openErrno == EPERM || openErrno == ENOENT; }

} // namespace

bool ScanBrokeredDevices(std::vector<DeviceVolume>* volumes) {
    std::shared_ptr<DeviceBroker> broker = CurrentDeviceBroker();
    std::vector<BrokeredDevice> devices;
    if (!broker || !broker->ListDevices(&devices)) return false;
    volumes->clear();
    for (const BrokeredDevice& device : devices) {
        DeviceVolume volume;
        volume.name = fs::path(device.devicePath).filename().string();
        if (volume.name.empty()) continue;
        volume.devicePath = device.devicePath;
        volume.sysfsPath = SysfsPathOfNode(device.devicePath);
        volume.kind = device.kind;
        volume.partition = device.partition;
        volume.brokerId = device.id;
        volume.listedSize = device.size;
        volumes->push_back(volume);
    }
    return true;
}

std::vector<DeviceVolume> ScanRemovableDevices(const std::string& sysBlock, const std::string& devFolder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysBlock, ec)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());

    std::vector<DeviceVolume> volumes;
    for (const std::string& name : names) {
        if (IsVirtualDevice(name)) continue;
        fs::path device = fs::path(sysBlock) / name;
        bool optical = IsOptical(device, name);
        bool removable = optical || ReadNumber(device / "removable", 0) == 1 || HasRemovableTransport(device, name);
        if (!removable) continue;
        DriveKind kind = optical ? DriveKind::CdRom : DriveKind::Removable;
        std::vector<DeviceVolume> partitions = PartitionsOf(device, devFolder, kind);
        if (partitions.empty()) {
            DeviceVolume whole;
            whole.name = name;
            whole.devicePath = devFolder + "/" + name;
            whole.sysfsPath = device.string();
            whole.kind = kind;
            volumes.push_back(whole);
        } else {
            volumes.insert(volumes.end(), partitions.begin(), partitions.end());
        }
    }
    return volumes;
}

std::optional<DeviceVolume> RootFileSystemDevice(const std::string& sysFolder, const std::string& devFolder) {
    struct stat root {};
    if (::stat("/", &root) != 0 || major(root.st_dev) == 0) return std::nullopt;
    fs::path link = fs::path(sysFolder) / "dev" / "block" /
                    (std::to_string(major(root.st_dev)) + ":" + std::to_string(minor(root.st_dev)));
    std::error_code ec;
    fs::path real = fs::canonical(link, ec);
    if (ec) return std::nullopt;
    DeviceVolume volume;
    volume.name = real.filename().string();
    volume.devicePath = devFolder + "/" + volume.name;
    volume.sysfsPath = real.string();
    volume.kind = DriveKind::Fixed;
    volume.partition = static_cast<int>(ReadNumber(real / "partition", 0));
    if (!fs::exists(volume.devicePath)) return std::nullopt;
    return volume;
}

std::vector<std::string> LoopDevicesBacking(std::uint64_t device, std::uint64_t inode, const std::string& sysBlock,
                                            const std::string& devFolder) {
    std::vector<std::string> loops;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysBlock, ec)) {
        std::string name = entry.path().filename().string();
        if (!StartsWith(name, "loop")) continue;
        // The path as the process that set the loop up named it; compared by
        // identity, since the same file has many names.
        std::string backing = ReadFirstLine(entry.path() / "loop" / "backing_file");
        struct stat info {};
        if (backing.empty() || ::stat(backing.c_str(), &info) != 0) continue;
        if (info.st_dev == device && info.st_ino == inode) loops.push_back(devFolder + "/" + name);
    }
    std::sort(loops.begin(), loops.end());
    return loops;
}

std::uint64_t SysfsDeviceSize(const std::string& sysfsPath) {
    long sectors = ReadNumber(fs::path(sysfsPath) / "size", 0); // always in 512-byte units
    return sectors > 0 ? static_cast<std::uint64_t>(sectors) * 512 : 0;
}

std::uint32_t SysfsSectorSize(const std::string& sysfsPath) {
    fs::path queue = fs::path(sysfsPath) / "queue" / "logical_block_size";
    if (!fs::exists(queue)) queue = fs::path(sysfsPath).parent_path() / "queue" / "logical_block_size"; // a partition
    long size = ReadNumber(queue, 512);
    return size >= 512 && size <= 65536 ? static_cast<std::uint32_t>(size) : 512;
}

BlockDevice::BlockDevice(DeviceVolume volume) : volume_(std::move(volume)) {}

BlockDevice::~BlockDevice() {
    if (readFd_ >= 0) ::close(readFd_);
    if (writeFd_ >= 0) ::close(writeFd_);
}

std::uint64_t BlockDevice::Size() const {
    std::lock_guard lock(mutex_);
    int fd = readFd_ >= 0 ? readFd_ : writeFd_;
    std::uint64_t size = 0;
    if (fd >= 0 && ::ioctl(fd, BLKGETSIZE64, &size) == 0) return size;
    struct stat opened {};
    // What a broker hands out need not be a block device (an image file).
    if (fd >= 0 && ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)) return static_cast<std::uint64_t>(opened.st_size);
    if (volume_.sysfsPath.empty()) return volume_.listedSize;
    return SysfsDeviceSize(volume_.sysfsPath);
}

void BlockDevice::SetListedSize(std::uint64_t size) {
    std::lock_guard lock(mutex_);
    volume_.listedSize = size;
}

std::uint32_t BlockDevice::BytesPerSector() const {
    std::lock_guard lock(mutex_);
    int fd = readFd_ >= 0 ? readFd_ : writeFd_;
    int size = 0;
    if (fd >= 0 && ::ioctl(fd, BLKSSZGET, &size) == 0 && size >= 512) return static_cast<std::uint32_t>(size);
    if (volume_.sysfsPath.empty()) return 512;
    return SysfsSectorSize(volume_.sysfsPath);
}

int BlockDevice::OpenNode(int flags, DWORD* error) {
    int fd = ::open(volume_.devicePath.c_str(), flags | O_CLOEXEC);
    if (fd >= 0) return fd;
    int openErrno = errno;
    *error = Win32ErrorFromErrno(openErrno);
    std::shared_ptr<DeviceBroker> broker = CurrentDeviceBroker();
    if (volume_.brokerId.empty() || !broker || !BrokerMayOpen(openErrno)) return -1;
    BrokerAccess access = (flags & O_ACCMODE) == O_RDONLY ? BrokerAccess::Read : BrokerAccess::ReadWrite;
    return broker->OpenDevice(volume_.brokerId, access, error);
}

bool BlockDevice::BeginRead(DWORD* error) {
    std::lock_guard lock(mutex_);
    if (readers_ == 0) {
        int fd = OpenNode(O_RDONLY, error);
        if (fd < 0) return false;
        readFd_ = fd;
    }
    ++readers_;
    return true;
}

void BlockDevice::EndRead() {
    std::lock_guard lock(mutex_);
    if (readers_ == 0) return;
    if (--readers_ == 0) {
        ::close(readFd_);
        readFd_ = -1;
    }
}

bool BlockDevice::BeginWrite(DWORD* error) {
    std::lock_guard lock(mutex_);
    if (writers_ == 0) {
        int fd = OpenNode(O_RDWR | O_EXCL, error);
        if (fd < 0) return false;
        writeFd_ = fd;
    }
    ++writers_;
    return true;
}

void BlockDevice::EndWrite() {
    std::lock_guard lock(mutex_);
    if (writers_ == 0) return;
    if (--writers_ == 0) {
        ::fsync(writeFd_);
        ::close(writeFd_);
        writeFd_ = -1;
    }
}

std::int64_t BlockDevice::Read(std::uint64_t offset, void* buffer, std::uint32_t count, DWORD* error) {
    int fd;
    {
        std::lock_guard lock(mutex_);
        fd = readFd_ >= 0 ? readFd_ : writeFd_;
    }
    if (fd < 0) {
        *error = ERROR_ACCESS_DENIED;
        return -1;
    }
    return ReadFully(fd, offset, buffer, count, error);
}

std::int64_t BlockDevice::Write(std::uint64_t offset, const void* buffer, std::uint32_t count, DWORD* error) {
    int fd;
    {
        std::lock_guard lock(mutex_);
        fd = writeFd_;
    }
    if (fd < 0) {
        *error = ERROR_ACCESS_DENIED;
        return -1;
    }
    return WriteFully(fd, offset, buffer, count, error);
}

} // namespace platform::detail
