#include "wizard/DeepScanHost.h"

#include "platform/ui.h"

namespace wizard {

void DeepScanHost::ShowMessage(const std::string& text, int style, const std::string& title) {
    platform::MsgBox(text, style, title);
}

bool DeepScanHost::AskToReplace(const std::string& text, const std::string& title) {
    return platform::MsgBox(text, platform::vbYesNo | platform::vbDefaultButton2, title) == platform::IDYES;
}

} // namespace wizard
