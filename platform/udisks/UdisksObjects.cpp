#include "platform/udisks/UdisksObjects.h"

#include <algorithm>

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QList>
#include <QMap>
#include <QVariantMap>

namespace platform::udisks {

namespace {

using InterfaceMap = QMap<QString, QVariantMap>;
using ObjectMap = QMap<QDBusObjectPath, InterfaceMap>;

const QString BlockInterface = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString PartitionInterface = QStringLiteral("org.freedesktop.UDisks2.Partition");
const QString FilesystemInterface = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString DriveInterface = QStringLiteral("org.freedesktop.UDisks2.Drive");

bool Flag(const QVariantMap& properties, const char* name) { return properties.value(name).toBool(); }

std::uint64_t Number(const QVariantMap& properties, const char* name) {
    return properties.value(name).toULongLong();
}

std::string ObjectPath(const QVariantMap& properties, const char* name) {
    QVariant value = properties.value(name);
    if (value.canConvert<QDBusObjectPath>()) return value.value<QDBusObjectPath>().path().toStdString();
    return "/";
}

// Paths travel as NUL-terminated byte arrays.
std::string PathBytes(const QByteArray& bytes) {
    qsizetype end = bytes.indexOf('\0');
    return bytes.left(end < 0 ? bytes.size() : end).toStdString();
}

bool HasMountPoints(const QVariantMap& filesystem) {
    QVariant value = filesystem.value("MountPoints");
    if (value.userType() == QMetaType::QByteArrayList) return !value.value<QByteArrayList>().isEmpty();
    if (!value.canConvert<QDBusArgument>()) return false;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != "aay") return false;
    QList<QByteArray> points;
    argument >> points;
    return std::any_of(points.begin(), points.end(), [](const QByteArray& p) { return !PathBytes(p).empty(); });
}

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

} // namespace

bool ReadManagedObjects(const QDBusMessage& reply, Objects* objects) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != "a{oa{sa{sv}}}" || reply.arguments().isEmpty())
        return false;
    ObjectMap map;
    reply.arguments().at(0).value<QDBusArgument>() >> map;
    for (auto object = map.cbegin(); object != map.cend(); ++object) {
        const std::string path = object.key().path().toStdString();
        const InterfaceMap& interfaces = object.value();
        if (interfaces.contains(DriveInterface)) {
            const QVariantMap& drive = interfaces[DriveInterface];
            objects->drives[path] = {Flag(drive, "Removable") || Flag(drive, "MediaRemovable"), Flag(drive, "Optical")};
        }
        if (!interfaces.contains(BlockInterface)) continue;
        const QVariantMap& block = interfaces[BlockInterface];
        BlockObject entry;
        entry.path = path;
        entry.device = PathBytes(block.value("Device").toByteArray());
        entry.size = Number(block, "Size");
        entry.drive = ObjectPath(block, "Drive");
        entry.system = Flag(block, "HintSystem");
        entry.readOnly = Flag(block, "ReadOnly");
        entry.encryptedBacking = ObjectPath(block, "CryptoBackingDevice") != "/";
        if (interfaces.contains(PartitionInterface)) {
            const QVariantMap& partition = interfaces[PartitionInterface];
            entry.isPartition = true;
            entry.number = static_cast<int>(Number(partition, "Number"));
            entry.table = ObjectPath(partition, "Table");
        }
        if (interfaces.contains(FilesystemInterface)) entry.mounted = HasMountPoints(interfaces[FilesystemInterface]);
        objects->blocks[path] = entry;
    }
    return true;
}

std::vector<BrokeredDevice> RemovableVolumes(const Objects& objects) {
    auto listable = [&](const BlockObject& block) {
        auto drive = objects.drives.find(block.drive);
        return drive != objects.drives.end() && (drive->second.removable || drive->second.optical) && !block.system &&
               !block.encryptedBacking && !block.device.empty();
    };
    std::vector<const BlockObject*> wholes;
    for (const auto& [path, block] : objects.blocks)
        if (!block.isPartition && listable(block)) wholes.push_back(&block);
    std::sort(wholes.begin(), wholes.end(),
              [](const BlockObject* a, const BlockObject* b) { return BaseName(a->device) < BaseName(b->device); });

    std::vector<BrokeredDevice> volumes;
    for (const BlockObject* whole : wholes) {
        DriveKind kind = objects.drives.at(whole->drive).optical ? DriveKind::CdRom : DriveKind::Removable;
        std::vector<const BlockObject*> partitions;
        bool holdsSystem = false;
        for (const auto& [path, block] : objects.blocks) {
            if (!block.isPartition || block.table != whole->path) continue;
            holdsSystem = holdsSystem || block.system;
            if (listable(block)) partitions.push_back(&block);
        }
        if (holdsSystem) continue; // a disk with a system partition is never offered
        std::sort(partitions.begin(), partitions.end(),
                  [](const BlockObject* a, const BlockObject* b) { return a->number < b->number; });
        bool partitioned = std::any_of(objects.blocks.begin(), objects.blocks.end(), [&](const auto& entry) {
            return entry.second.isPartition && entry.second.table == whole->path;
        });
        if (!partitioned) partitions.push_back(whole);
        for (const BlockObject* volume : partitions)
            volumes.push_back({volume->path, volume->device, kind, volume->isPartition ? volume->number : 0, volume->size});
    }
    return volumes;
}

bool InUse(const Objects& objects, const std::string& blockPath) {
    for (const auto& [path, block] : objects.blocks)
        if (block.mounted && (path == blockPath || (block.isPartition && block.table == blockPath))) return true;
    return false;
}

} // namespace platform::udisks
