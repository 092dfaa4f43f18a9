#include "wizard/WizardTexts.h"

#include "shell/LanguageFile.h"

namespace wizard {

WizardTexts LoadWizardTexts() {
    const std::string language = shell::LanguageName();
    shell::LoadFATMiscTexts(language);
    return WizardTexts(shell::LoadSectionWithFallback(language, shell::RecoveryWizardSection.header,
                                                      shell::RecoveryWizardSection.count));
}

} // namespace wizard
