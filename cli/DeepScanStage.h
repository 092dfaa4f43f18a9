// The deep-scan stage of `tranquo-cli recover`: runs the deep scan on a
// drive with the console as its window (a progress bar on a terminal, one
// plain line per carved file otherwise) and prints a summary.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "engine/RawDevice.h"
#include "platform/ui.h"
#include "wizard/DeepScan.h"

namespace cli {

struct DeepScanStageOptions {
    engine::DriveNumber drive = 0;
    engine::DriveGeometry geometry;
    std::int32_t firstDataSector = 0;
    std::int32_t sectorsAtOnce = 0; // 0: the wizard's proposal for the drive
    std::int32_t retries = 1;       // read attempts for a failing block
    std::string prefix;
    std::string destinationRoot;    // ends in "/"
    std::int64_t filesFoundBefore = 0; // by the turbo scan of the same run
    bool quiet = false;
    bool progressBar = false;       // a bar on a terminal, else one line per file
};

struct DeepScanStageResult {
    wizard::DeepScanOutcome outcome;
    double seconds = 0;
    // The exit status this stage asks for: 0 success (also past unreadable
    // sectors, with what could be read carved), 1 failure (among them any
    // carved file not written whole), 130 stopped.
    int exitStatus = 0;
};

// The console while the deep scan runs. The scan's one question replaces an
// earlier result (asked only when no free number is left for a name): under
// --yes it is answered No, its default, never Yes. Everything else goes to
// the console's services unchanged.
class DeepScanUi : public platform::UiServices {
public:
    DeepScanUi(platform::UiServices& console, bool assumeYes, std::ostream& err)
        : console_(console), assumeYes_(assumeYes), err_(err) {}
    void DoEvents() override { console_.DoEvents(); }
    int MessageBox(const std::string& text, int style, const std::string& title) override;
    std::string FileDialog(const platform::FileDialogRequest& request) override {
        return console_.FileDialog(request);
    }

private:
    platform::UiServices& console_;
    bool assumeYes_;
    std::ostream& err_;
};

// The sectors read at once that the wizard proposes for a drive: a
// hundredth of the drive, at most what one read can hold.
std::int32_t ProposedSectorsAtOnce(const engine::DriveGeometry& geometry);

// The [RecoveryWizard] texts of the user's language (English when that has
// none); entry n is texts[n - 1].
const std::vector<std::string>& RecoveryWizardTexts();

// Loads the signature database if needed and runs the scan, writing to
// context.out. Messages and questions go through platform::Ui(); Ctrl-C
// stops the scan after the sector it is working on (what was carved stays).
DeepScanStageResult RunDeepScanStage(const DeepScanStageOptions& options, Context& context);

} // namespace cli
