#include "shell/VendorLinks.h"

#include <cstdint>

#include "platform/shell.h"

namespace shell {

bool OpenAddress(const char* address) {
    const HINSTANCE result = ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<std::intptr_t>(result) > 32;
}

} // namespace shell
