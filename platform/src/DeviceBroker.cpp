// The device broker the drive namespace uses, if any.
#include "platform/device_broker.h"

#include <mutex>

namespace platform {

namespace {

struct BrokerSlot {
    std::mutex mutex;
    std::shared_ptr<DeviceBroker> broker;
};

BrokerSlot& Slot() {
    static BrokerSlot slot;
    return slot;
}

} // namespace

void SetDeviceBroker(std::shared_ptr<DeviceBroker> broker) {
    std::lock_guard lock(Slot().mutex);
    Slot().broker = std::move(broker);
}

std::shared_ptr<DeviceBroker> CurrentDeviceBroker() {
    std::lock_guard lock(Slot().mutex);
    return Slot().broker;
}

} // namespace platform
