#include "shell/VendorLinks.h"

#include <cstdint>

#include "platform/shell.h"
#include "platform/ui.h"

namespace shell {

std::string ShownAddress(const char* address) {
    std::string shown(address);
    if (shown.rfind("https://", 0) == 0) shown.erase(0, 8);
    if (!shown.empty() && shown.back() == '/') shown.pop_back();
    return shown;
}

bool OpenAddress(const char* address) {
    const HINSTANCE result = ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<std::intptr_t>(result) > 32;
}

void OpenAddressOrTell(const char* address, const std::string& title) {
    if (OpenAddress(address)) return;
    platform::MsgBox("The web browser could not be started. Please open this address yourself:\r\n\r\n" +
                         std::string(address),
                     platform::vbExclamation, title);
}

} // namespace shell
