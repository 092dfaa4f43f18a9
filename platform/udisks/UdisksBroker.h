// Removable drives through the udisks2 service on the system bus (found the
// usual way, DBUS_SYSTEM_BUS_ADDRESS included): the drive list from its
// object manager, and descriptors from Block.OpenDevice ("r" for reading,
// "rw" with an exclusive open for writing; OpenForBackup and OpenForRestore
// where an older service lacks it). The desktop's polkit agent asks the user
// for the password (action org.freedesktop.udisks2.open-device).
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <utility>

#include <QString>

#include "platform/device_broker.h"
#include "platform/udisks/UdisksObjects.h"

namespace platform::udisks {

class UdisksBroker : public DeviceBroker {
public:
    ~UdisksBroker() override;
    bool ListDevices(std::vector<BrokeredDevice>* devices) override;
    int OpenDevice(const std::string& id, BrokerAccess access, DWORD* error) override;

private:
    bool Connect();
    bool FetchObjects(Objects* objects);
    int CallOpen(const std::string& id, BrokerAccess access, DWORD* error);

    std::mutex mutex_;
    QString connection_; // empty while not connected
    int attempts_ = 0;
    std::set<std::pair<std::string, BrokerAccess>> refused_;
};

} // namespace platform::udisks
