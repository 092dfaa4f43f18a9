#include "wizard/DeepScanHost.h"

#include "platform/ui.h"

namespace wizard {

const char* CarvedEndRuleName(CarvedEndRule rule) {
    switch (rule) {
    case CarvedEndRule::Structure: return "format structure";
    case CarvedEndRule::EndPattern: return "end pattern";
    case CarvedEndRule::FixedSize: return "fixed size";
    case CarvedEndRule::NextStart: return "next start";
    case CarvedEndRule::SizeLimit: return "size limit";
    case CarvedEndRule::DriveEnd: return "drive end";
    case CarvedEndRule::CutShort: return "cut short";
    case CarvedEndRule::EntrySize: return "entry size";
    }
    return "";
}

void DeepScanHost::ShowMessage(const std::string& text, int style, const std::string& title) {
    platform::MsgBox(text, style, title);
}

bool DeepScanHost::AskToReplace(const std::string& text, const std::string& title) {
    return platform::MsgBox(text, platform::vbYesNo | platform::vbDefaultButton2, title) == platform::IDYES;
}

} // namespace wizard
