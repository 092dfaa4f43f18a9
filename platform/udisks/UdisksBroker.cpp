#include "platform/udisks/UdisksBroker.h"
#include "platform/udisks/Udisks.h"

#include <cstdio>

#include <fcntl.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QtGlobal>
#include <QVariantMap>

namespace platform::udisks {

namespace {

const QString Service = QStringLiteral("org.freedesktop.UDisks2");
const QString ManagerPath = QStringLiteral("/org/freedesktop/UDisks2");
const QString BlockInterface = QStringLiteral("org.freedesktop.UDisks2.Block");

// Listing is quick, or the service is not well: then the kernel's list.
constexpr int ListTimeoutMs = 10'000;
// An open may wait for the user to type a password into the desktop's prompt.
constexpr int OpenTimeoutMs = 5 * 60'000;

DWORD ErrorOf(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    if (name.startsWith("org.freedesktop.UDisks2.Error.NotAuthorized")) return ERROR_ACCESS_DENIED;
    if (name == "org.freedesktop.UDisks2.Error.DeviceBusy" || reply.errorMessage().contains("busy"))
        return ERROR_SHARING_VIOLATION;
    if (name == "org.freedesktop.DBus.Error.UnknownObject") return ERROR_FILE_NOT_FOUND;
    return ERROR_NOT_READY;
}

} // namespace

void KeepQtWarningsOffTheConsole() {
    if (qEnvironmentVariableIsSet("TRANQUO_QT_MESSAGES")) return;
    static const QtMessageHandler qtDefault = qInstallMessageHandler(nullptr);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (type != QtCriticalMsg && type != QtFatalMsg) return;
        if (qtDefault) qtDefault(type, context, message);
        else std::fprintf(stderr, "%s\n", qPrintable(message));
    });
}

ScopedUdisks::ScopedUdisks() { SetDeviceBroker(std::make_shared<UdisksBroker>()); }

ScopedUdisks::~ScopedUdisks() { SetDeviceBroker(nullptr); }

UdisksBroker::~UdisksBroker() {
    if (!connection_.isEmpty()) QDBusConnection::disconnectFromBus(connection_);
}

bool UdisksBroker::Connect() {
    if (!connection_.isEmpty()) {
        if (QDBusConnection(connection_).isConnected()) return true;
        QDBusConnection::disconnectFromBus(connection_);
        connection_.clear();
    }
    // A fresh name each time: Qt hands back a failed connection by its name.
    QString name = QStringLiteral("tranquo-udisks-%1").arg(++attempts_);
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SystemBus, name);
    if (!bus.isConnected() || !(bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
        QDBusConnection::disconnectFromBus(name);
        return false;
    }
    connection_ = name;
    return true;
}

bool UdisksBroker::FetchObjects(Objects* objects) {
    if (!Connect()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, ManagerPath, "org.freedesktop.DBus.ObjectManager",
                                                      "GetManagedObjects");
    return ReadManagedObjects(QDBusConnection(connection_).call(call, QDBus::Block, ListTimeoutMs), objects);
}

bool UdisksBroker::ListDevices(std::vector<BrokeredDevice>* devices) {
    std::lock_guard lock(mutex_);
    Objects objects;
    if (!FetchObjects(&objects)) return false;
    *devices = RemovableVolumes(objects);
    refused_.clear(); // a new listing may ask the user again
    return true;
}

int UdisksBroker::OpenDevice(const std::string& id, BrokerAccess access, DWORD* error) {
    std::lock_guard lock(mutex_);
    if (refused_.count({id, access})) {
        *error = ERROR_ACCESS_DENIED;
        return -1;
    }
    Objects objects;
    if (!FetchObjects(&objects)) {
        *error = ERROR_ACCESS_DENIED; // as the direct open before it
        return -1;
    }
    auto block = objects.blocks.find(id);
    if (block == objects.blocks.end()) {
        *error = ERROR_FILE_NOT_FOUND;
        return -1;
    }
    if (access == BrokerAccess::ReadWrite) {
        // Checked here, before anything is asked: the service would open a
        // mounted card for writing if it were not told to open exclusively.
        DWORD refusal = ERROR_SUCCESS;
        if (block->second.system) refusal = ERROR_ACCESS_DENIED;
        else if (block->second.readOnly) refusal = ERROR_WRITE_PROTECT;
        else if (InUse(objects, id)) refusal = ERROR_SHARING_VIOLATION;
        if (refusal != ERROR_SUCCESS) {
            *error = refusal;
            return -1;
        }
    }
    int fd = CallOpen(id, access, error);
    if (fd < 0 && *error == ERROR_ACCESS_DENIED) refused_.insert({id, access});
    return fd;
}

int UdisksBroker::CallOpen(const std::string& id, BrokerAccess access, DWORD* error) {
    const bool write = access == BrokerAccess::ReadWrite;
    const QString path = QString::fromStdString(id);
    QDBusMessage call = QDBusMessage::createMethodCall(Service, path, BlockInterface, "OpenDevice");
    QVariantMap options;
    if (write) options.insert("flags", static_cast<int>(O_EXCL));
    call << QString(write ? "rw" : "r") << options;
    call.setInteractiveAuthorizationAllowed(true);
    QDBusConnection bus(connection_);
    QDBusMessage reply = bus.call(call, QDBus::Block, OpenTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage && reply.errorName() == "org.freedesktop.DBus.Error.UnknownMethod") {
        // Older services open for a backup (read-only) or a restore (write, exclusive).
        call = QDBusMessage::createMethodCall(Service, path, BlockInterface, write ? "OpenForRestore" : "OpenForBackup");
        call << QVariantMap();
        call.setInteractiveAuthorizationAllowed(true);
        reply = bus.call(call, QDBus::Block, OpenTimeoutMs);
    }
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *error = ErrorOf(reply);
        return -1;
    }
    if (reply.arguments().isEmpty() || !reply.arguments().at(0).canConvert<QDBusUnixFileDescriptor>()) {
        *error = ERROR_NOT_READY;
        return -1;
    }
    QDBusUnixFileDescriptor descriptor = reply.arguments().at(0).value<QDBusUnixFileDescriptor>();
    int fd = descriptor.isValid() ? ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
    if (fd < 0) *error = ERROR_NOT_READY;
    return fd;
}

} // namespace platform::udisks
