// The desktop program. Its windows are not built yet: until they are, it
// takes its drive options (so that a script calling it behaves as it will),
// says so and points to tranquo-cli, which does the same work.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/drives.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--version") {
        std::printf("Tranquo " TRANQUO_VERSION "\n");
        return 0;
    }
    std::string error;
    if (!platform::AttachFromArguments(args, &error)) {
        std::fprintf(stderr, "Tranquo: %s\n", error.c_str());
        return 2;
    }
    std::fprintf(stderr, "Tranquo: the windows of the desktop program are not available yet; "
                         "use tranquo-cli for recovery and the device tools.\n");
    return 1;
}
