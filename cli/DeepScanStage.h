// The deep-scan half of `tranquo-cli recover`'s console: a progress bar on a
// terminal (one plain line per carved file otherwise), the summary, the exit
// status the stage asks for, and the console's answer to the scan's one
// question.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "cli/Command.h"
#include "platform/ui.h"
#include "wizard/DeepScan.h"

namespace cli {

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

// What the console shows of a deep scan.
class DeepScanConsole {
public:
    DeepScanConsole(std::ostream& out, bool quiet, bool progressBar)
        : out_(out), quiet_(quiet), terminal_(progressBar) {}

    void ShowStatus(const std::string& text);
    void ShowImagesFound(std::int64_t carved);
    void ShowReadErrors(std::int64_t errors);
    void ShowProgress(std::int32_t value);
    // The speed and the time left, shown after the bar's counters.
    void ShowPace(const std::string& text);
    void FileCarved(const std::string& path, std::int64_t bytes, wizard::CarvedFileEnd how);
    // After the pass: a carved file took its name from the card, or was the
    // turbo scan's copy and was removed. One line each, as for carved files.
    void FileNamed(const wizard::CarvedFileNamed& named);
    void FileAlreadySaved(const std::string& carvedPath, const std::string& turboPath);
    // Listed like a carved file (not when quiet or on a terminal).
    void PhotoPutBackTogether(const std::string& path, std::int64_t bytes, std::size_t pieces);
    // Ends the bar's line before other output.
    void EndBar();
    // Prints the summary (also when quiet: it is the run's result) and
    // returns how the stage ended: Failed when nothing could be read, a
    // carved file did not reach the disk whole, was cut by an unreadable
    // sector or is a photo whose data breaks off, or an error ended it,
    // Stopped after Stop, else Succeeded (also
    // past unreadable sectors that cut no file).
    RunOutcome Summarize(const wizard::DeepScanOutcome& outcome, double seconds, const std::string& destinationRoot);

private:
    void DrawBar();

    std::ostream& out_;
    bool quiet_;
    bool terminal_;
    bool barShown_ = false;
    bool summarized_ = false; // the bar is not drawn again after the summary
    int percent_ = -1;
    std::int64_t carved_ = 0;
    std::int64_t readErrors_ = 0;
    std::string pace_;
};

} // namespace cli
