// The front ends' way in to the udisks2 client (no Qt in this header).
#pragma once

namespace platform::udisks {

// While it lives, udisks2 is the drive namespace's device broker: removable
// drives for a user who may not open their device nodes, after the desktop's
// password prompt. Nothing is contacted until the drives are listed; without
// a system bus or the service, the namespace keeps to its own scan and
// direct opens. The front ends keep one in main(), so that the bus
// connection is closed before the process tears Qt down.
class ScopedUdisks {
public:
    ScopedUdisks();
    ~ScopedUdisks();
    ScopedUdisks(const ScopedUdisks&) = delete;
    ScopedUdisks& operator=(const ScopedUdisks&) = delete;
};

// For console programs: Qt's own debug messages and warnings (its D-Bus
// module reports on its internals, at times also while the process exits,
// after the program's last line) stay off the console, so that what the
// user reads is the program's own output. Critical and fatal messages still
// appear; TRANQUO_QT_MESSAGES=1 in the environment keeps them all.
void KeepQtWarningsOffTheConsole();

} // namespace platform::udisks
