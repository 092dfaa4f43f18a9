// Fields of the recovery wizard that outlive its window: the window is
// loaded and unloaded many times in a process, but these keep their values
// from one run to the next.
#pragma once

#include <cstdint>

namespace wizard {

struct WizardFields {
    // The number in the name of the last carved file; 0 at program start.
    // Wide enough for any card: names grow past five digits as needed.
    std::int64_t NextFileNumber = 0;
};

// The one set of fields of this process.
WizardFields& Wizard();

} // namespace wizard
