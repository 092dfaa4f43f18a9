// tranquo-cli: the command-line front end. The commands register themselves
// from their own files in this folder (see Command.h).
#include <iostream>
#include <string>
#include <vector>

#include "cli/Command.h"

int main(int argc, char** argv) {
    cli::InstallInterruptHandler();
    std::vector<std::string> args(argv + 1, argv + argc);
    return cli::RunCli(args, std::cout, std::cerr);
}
