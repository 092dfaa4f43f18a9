#include "shell/DesktopTexts.h"

#include "platform/fileapi.h"
#include "shell/LanguageFile.h"

namespace shell {

std::string DesktopTexts::operator()(int n) const {
    if (n < 1 || static_cast<std::size_t>(n) > entries_.size()) return {};
    return entries_[static_cast<std::size_t>(n) - 1];
}

std::string DesktopTexts::DriveType(unsigned driveType) const {
    if (driveType < DRIVE_REMOVABLE || driveType > DRIVE_RAMDISK) return {};
    return (*this)(desktop_text::Removable + static_cast<int>(driveType - DRIVE_REMOVABLE));
}

DesktopTexts LoadDesktopTexts() {
    return DesktopTexts(LoadSectionWithFallback(LanguageName(), DesktopTextsSection.header, DesktopTextsSection.count));
}

} // namespace shell
