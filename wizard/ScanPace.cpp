#include "wizard/ScanPace.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace wizard {

namespace {

// The speed is taken over this much of the recent past: long enough to
// smooth the blocks and the writes, short enough to follow a card that
// slows down.
constexpr std::chrono::seconds SpeedWindow{10};
// Less than this gives no speed yet.
constexpr std::chrono::milliseconds ShortestSpan{2000};
// A failed read this recent marks the scan as slowed.
constexpr std::chrono::seconds ReadErrorMemory{30};

double SecondsBetween(ScanPace::Clock::time_point from, ScanPace::Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

} // namespace

ScanPace::ScanPace(std::int64_t bytesToScan, Clock::time_point started) : total_(std::max<std::int64_t>(0, bytesToScan)) {
    samples_.push_back({started, 0});
}

void ScanPace::Advance(std::int64_t bytesScanned, Clock::time_point now) {
    scanned_ = std::clamp<std::int64_t>(bytesScanned, 0, total_);
    samples_.push_back({now, scanned_});
    // Keep one sample at or before the window's start, so the span covers it.
    while (samples_.size() > 2 && samples_[1].at <= now - SpeedWindow) samples_.pop_front();
}

void ScanPace::NoteReadErrors(std::int64_t failedReads, Clock::time_point now) {
    if (failedReads > readErrors_) lastReadError_ = now;
    readErrors_ = std::max(readErrors_, failedReads);
}

PaceReading ScanPace::Reading(Clock::time_point now) const {
    PaceReading reading;
    if (total_ > 0)
        reading.percent = static_cast<std::int32_t>(std::clamp<std::int64_t>(scanned_ * 100 / total_, 0, 100));
    reading.slowedByReadErrors = lastReadError_ && now - *lastReadError_ < ReadErrorMemory;
    const Sample& oldest = samples_.front();
    // Up to now, not to the last advance: a scan that is stuck slows down.
    if (now - oldest.at < ShortestSpan) return reading;
    const double speed = static_cast<double>(scanned_ - oldest.bytes) / SecondsBetween(oldest.at, now);
    reading.bytesPerSecond = speed;
    if (speed > 0 && scanned_ < total_) reading.secondsLeft = static_cast<std::int64_t>(std::ceil(static_cast<double>(total_ - scanned_) / speed));
    return reading;
}

std::string SpeedText(double bytesPerSecond, char decimalSeparator) {
    const double megabytes = std::max(0.0, bytesPerSecond) / (1024.0 * 1024.0);
    char text[48];
    std::snprintf(text, sizeof text, "%.1f MB/s", megabytes);
    std::string result = text;
    if (const auto point = result.find('.'); point != std::string::npos) result[point] = decimalSeparator;
    return result;
}

std::string TimeLeftText(std::int64_t seconds, const WizardTexts& texts) {
    const std::string about = texts(text::TimeLeftAbout);
    seconds = std::max<std::int64_t>(0, seconds);
    if (seconds < 60) {
        // In steps of ten: the last seconds are never exact.
        const std::int64_t rounded = std::max<std::int64_t>(10, (seconds + 9) / 10 * 10);
        if (rounded < 60) return about + " " + std::to_string(rounded) + " " + texts(text::Seconds);
        seconds = 60;
    }
    const std::int64_t minutes = (seconds + 59) / 60;
    if (minutes < 60) return about + " " + std::to_string(minutes) + " " + texts(text::Minutes);
    return about + " " + std::to_string(minutes / 60) + " " + texts(text::Hours) + " " + std::to_string(minutes % 60) +
           " " + texts(text::Minutes);
}

std::string PaceText(const PaceReading& reading, const WizardTexts& texts, char decimalSeparator) {
    std::string speed = reading.bytesPerSecond ? SpeedText(*reading.bytesPerSecond, decimalSeparator) : "";
    const std::string left = reading.slowedByReadErrors ? texts(text::SlowedByReadErrors)
                             : reading.secondsLeft      ? TimeLeftText(*reading.secondsLeft, texts)
                                                        : std::string();
    if (speed.empty() || left.empty()) return speed + left;
    return speed + "  \xC2\xB7  " + left; // a middle dot between them
}

} // namespace wizard
