// tranquo-cli: the command-line front end. The commands register themselves
// from their own files in this folder (see Command.h).
#include <iostream>
#include <string>
#include <vector>

#include "cli/Command.h"
#ifdef TRANQUO_WITH_UDISKS
#include "platform/udisks/Udisks.h"
#endif

int main(int argc, char** argv) {
    cli::InstallInterruptHandler();
    std::vector<std::string> args(argv + 1, argv + argc);
#ifdef TRANQUO_WITH_UDISKS
    platform::udisks::KeepQtWarningsOffTheConsole();
    platform::udisks::ScopedUdisks udisks; // removable drives for a user who may not open them directly
#endif
    return cli::RunCli(args, std::cout, std::cerr);
}
