#include "wizard/WizardState.h"

namespace wizard {

WizardFields& Wizard() {
    static WizardFields fields;
    return fields;
}

} // namespace wizard
