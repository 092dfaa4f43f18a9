// How fast a scan goes and how long it still needs, from where it is and
// when: the speed over the last seconds, the time left at that speed, and
// whether failing reads slow it down (then the time left is not to be
// trusted). Shown by the wizard and by tranquo-cli alike.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "wizard/WizardTexts.h"

namespace wizard {

struct PaceReading {
    std::int32_t percent = 0;                 // of the bytes to scan, 0 to 100
    std::optional<double> bytesPerSecond;     // none in the first moments
    std::optional<std::int64_t> secondsLeft;  // none without a speed
    bool slowedByReadErrors = false;          // reads failed in the last seconds
};

class ScanPace {
public:
    using Clock = std::chrono::steady_clock;

    // bytesToScan: the whole scan's length (0 gives 0 %, no estimate).
    ScanPace(std::int64_t bytesToScan, Clock::time_point started);

    // The scan has come this far (bytes from its start).
    void Advance(std::int64_t bytesScanned, Clock::time_point now);
    // The count of failed reads so far.
    void NoteReadErrors(std::int64_t failedReads, Clock::time_point now);

    PaceReading Reading(Clock::time_point now) const;

private:
    struct Sample {
        Clock::time_point at;
        std::int64_t bytes;
    };

    std::int64_t total_;
    std::int64_t scanned_ = 0;
    std::deque<Sample> samples_; // the last seconds, oldest first
    std::int64_t readErrors_ = 0;
    std::optional<Clock::time_point> lastReadError_;
};

// "12.3 MB/s  ·  time left: about 4 min", in the user's language and with
// the decimal separator given; each part is left out until it is known,
// and the time left gives way to a warning while read errors slow the scan.
std::string PaceText(const PaceReading& reading, const WizardTexts& texts, char decimalSeparator);

// The speed alone ("12.3 MB/s") and the time left alone ("about 4 min",
// "about 1 h 5 min"), for front ends that place them themselves.
std::string SpeedText(double bytesPerSecond, char decimalSeparator);
std::string TimeLeftText(std::int64_t seconds, const WizardTexts& texts);

} // namespace wizard
