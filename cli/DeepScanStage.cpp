#include "cli/DeepScanStage.h"

#include <algorithm>
#include <cstdio>

namespace cli {

namespace {

constexpr int BarWidth = 30;

const char* CarvedText(wizard::CarvedFileEnd how) {
    switch (how) {
    case wizard::CarvedFileEnd::Complete: return "carved";
    case wizard::CarvedFileEnd::NotWrittenWhole: return "not written whole:";
    default: return "incomplete";
    }
}

const char* CarvedReason(wizard::CarvedFileEnd how) {
    switch (how) {
    case wizard::CarvedFileEnd::CutAtUnreadableSector: return ": the drive could not be read on";
    case wizard::CarvedFileEnd::CutByStop: return ": the scan was stopped";
    case wizard::CarvedFileEnd::CutByError: return ": the scan ended with an error";
    case wizard::CarvedFileEnd::BrokenOff: return ": its data breaks off and the rest was not found";
    default: return "";
    }
}

const char* EndText(wizard::DeepScanEnd end) {
    switch (end) {
    case wizard::DeepScanEnd::Completed: return "completed";
    case wizard::DeepScanEnd::Stopped: return "stopped";
    case wizard::DeepScanEnd::ReadFailure: return "completed past unreadable sectors";
    case wizard::DeepScanEnd::FirstSectorUnreadable: return "failed: the drive could not be read";
    case wizard::DeepScanEnd::WriteFailure: return "failed: a carved file could not be written";
    case wizard::DeepScanEnd::RunTimeError: return "failed";
    }
    return "";
}

} // namespace

int DeepScanUi::MessageBox(const std::string& text, int style, const std::string& title) {
    constexpr int ButtonsMask = 0x7;
    constexpr int DefaultButtonMask = 0x300;
    const bool replaceQuestion =
        (style & ButtonsMask) == platform::vbYesNo && (style & DefaultButtonMask) == platform::vbDefaultButton2;
    if (!assumeYes_ || !replaceQuestion) return console_.MessageBox(text, style, title);
    err_ << (title.empty() ? "tranquo" : title) << ": " << text << "\n  -> No (--yes never replaces a file)\n"
         << std::flush;
    return platform::IDNO;
}

void DeepScanConsole::ShowStatus(const std::string& text) {
    if (quiet_ || text.empty()) return;
    EndBar();
    out_ << text << '\n' << std::flush;
}

void DeepScanConsole::ShowImagesFound(std::int64_t carved) {
    carved_ = carved;
    DrawBar();
}

void DeepScanConsole::ShowReadErrors(std::int64_t errors) {
    readErrors_ = errors;
    DrawBar();
}

void DeepScanConsole::ShowProgress(std::int32_t value) {
    if (value == percent_) return;
    percent_ = value;
    DrawBar();
}

void DeepScanConsole::ShowPace(const std::string& text) {
    if (text == pace_) return;
    pace_ = text;
    DrawBar();
}

void DeepScanConsole::FileCarved(const std::string& path, std::int64_t bytes, wizard::CarvedFileEnd how) {
    const bool whole = how == wizard::CarvedFileEnd::Complete;
    // A file that is not whole is worth a line even when quiet.
    if (whole && (quiet_ || terminal_)) return;
    EndBar();
    out_ << CarvedText(how) << " " << path << " (" << bytes << " bytes)" << CarvedReason(how) << "\n" << std::flush;
    DrawBar();
}

void DeepScanConsole::FileNamed(const wizard::CarvedFileNamed& named) {
    if (quiet_ || terminal_) return;
    if (named.oldPath == named.newPath)
        out_ << "named " << named.newPath << " (copied for its entry's size)\n" << std::flush;
    else
        out_ << "named " << named.newPath << " (was " << named.oldPath << ")\n" << std::flush;
}

void DeepScanConsole::FileAlreadySaved(const std::string& carvedPath, const std::string& turboPath) {
    if (quiet_ || terminal_) return;
    out_ << "not kept " << carvedPath << ": the turbo scan saved it as " << turboPath << "\n" << std::flush;
}

void DeepScanConsole::PhotoPutBackTogether(const std::string& path, std::int64_t bytes, std::size_t pieces) {
    if (quiet_ || terminal_) return;
    out_ << "put back together " << path << " (" << bytes << " bytes, from " << pieces << " pieces)\n" << std::flush;
}

void DeepScanConsole::EndBar() {
    if (barShown_) out_ << '\n' << std::flush;
    barShown_ = false;
}

void DeepScanConsole::DrawBar() {
    if (quiet_ || !terminal_ || summarized_) return;
    const int shown = std::clamp(percent_, 0, 100);
    const int filled = shown * BarWidth / 100;
    out_ << "\rDeep scan [" << std::string(filled, '#') << std::string(BarWidth - filled, ' ') << "] " << shown
         << "%  " << carved_ << " files  " << readErrors_ << " read errors" << (pace_.empty() ? "" : "  ") << pace_
         << "\x1b[K" << std::flush; // the rest of a longer line before is cleared
    barShown_ = true;
}

RunOutcome DeepScanConsole::Summarize(const wizard::DeepScanOutcome& o, double seconds,
                                      const std::string& destinationRoot) {
    EndBar();
    summarized_ = true;
    RunOutcome outcome = RunOutcome::Succeeded;
    switch (o.end) {
    case wizard::DeepScanEnd::FirstSectorUnreadable:
    case wizard::DeepScanEnd::WriteFailure:
    case wizard::DeepScanEnd::RunTimeError:
        outcome = RunOutcome::Failed;
        break;
    case wizard::DeepScanEnd::Stopped:
        outcome = RunOutcome::Stopped;
        break;
    default:
        break;
    }
    // A file that did not reach the disk whole, or that unreadable sectors
    // cut short, is a failure, however the scan ended.
    if ((o.filesNotWritten > 0 || o.filesCutAtUnreadableSectors > 0 || o.photosNotWhole > 0) &&
        outcome != RunOutcome::Stopped) {
        outcome = RunOutcome::Failed;
    }
    char secondsText[32];
    std::snprintf(secondsText, sizeof secondsText, "%.1f", seconds);
    // Files cut short by unreadable sectors: as the report says it.
    const bool withErrors = o.end == wizard::DeepScanEnd::ReadFailure && o.filesCutAtUnreadableSectors > 0;
    out_ << "Deep scan " << (withErrors ? "completed with errors" : EndText(o.end)) << ": " << o.found << (o.found == 1 ? " file" : " files") << " carved, "
         << HumanSize(static_cast<unsigned long long>(o.bytesWritten)) << " written";
    if (o.filesNamed > 0)
        out_ << ", " << o.filesNamed << (o.filesNamed == 1 ? " file" : " files") << " with their names from the card";
    if (o.filesAlreadySaved > 0)
        out_ << ", " << o.filesAlreadySaved << " already saved by the turbo scan";
    if (o.photosRepaired > 0)
        out_ << ", " << o.photosRepaired << (o.photosRepaired == 1 ? " photo" : " photos") << " put back together";
    if (o.incompleteFiles > 0) out_ << ", " << o.incompleteFiles << " incomplete";
    if (o.filesNotWritten > 0) out_ << ", " << o.filesNotWritten << " not written whole";
    out_ << ", " << o.readErrors << " read errors";
    if (o.unreadableSectors > 0) {
        out_ << ", " << o.unreadableSectors << (o.unreadableSectors == 1 ? " sector" : " sectors")
             << " could not be read";
        if (o.skippedSectors > 0) out_ << " (" << o.skippedSectors << " skipped)";
    }
    out_ << ", " << secondsText << " s, in " << wizard::DeepScanFolder(destinationRoot) << "\n" << std::flush;
    return outcome;
}

} // namespace cli
