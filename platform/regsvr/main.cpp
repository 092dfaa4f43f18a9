// tranquo-regsvr: registers an in-process COM library in the registry store
// (or removes its registration), as regsvr32 does.
//   tranquo-regsvr [-u] [-s] LIBRARY
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/com.h"
#include "platform/registry.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "Usage: tranquo-regsvr [-u] [-s] LIBRARY\n"
                 "  Calls the library's DllRegisterServer (with -u: DllUnregisterServer).\n"
                 "  -s  print nothing on success\n"
                 "The registry store is %s (set TRANQUO_REGISTRY to use another).\n",
                 platform::RegistryStorePath().c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    bool unregister = false, silent = false;
    std::string library;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-u" || arg == "/u") {
            unregister = true;
        } else if (arg == "-s" || arg == "/s") {
            silent = true;
        } else if (arg == "-h" || arg == "--help") {
            Usage();
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "tranquo-regsvr: unknown option %s\n", arg.c_str());
            return Usage();
        } else if (library.empty()) {
            library = arg;
        } else {
            std::fprintf(stderr, "tranquo-regsvr: only one library at a time\n");
            return Usage();
        }
    }
    if (library.empty()) return Usage();

    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    HRESULT hr = platform::RegisterServer(library, unregister);
    if (FAILED(hr)) {
        std::string why = platform::LastActivationError();
        std::fprintf(stderr, "tranquo-regsvr: %s in %s failed (0x%08X)%s%s\n", entry, library.c_str(),
                     static_cast<unsigned>(hr), why.empty() ? "" : ": ", why.c_str());
        return 1;
    }
    if (!silent)
        std::printf("%s in %s succeeded (store %s).\n", entry, library.c_str(), platform::RegistryStorePath().c_str());
    return 0;
}
