// The deep scan's speed and time left, as both front ends show them.
#include <gtest/gtest.h>

#include "wizard/ScanPace.h"

namespace {

using namespace std::chrono_literals;
using Clock = wizard::ScanPace::Clock;
constexpr std::int64_t MiB = 1024 * 1024;

wizard::WizardTexts Texts() {
    std::vector<std::string> entries(86);
    entries[wizard::text::TimeLeftAbout - 1] = "time left: about";
    entries[wizard::text::Hours - 1] = "h";
    entries[wizard::text::Minutes - 1] = "min";
    entries[wizard::text::Seconds - 1] = "s";
    entries[wizard::text::SlowedByReadErrors - 1] = "read errors slow the scan down";
    return wizard::WizardTexts(entries);
}

TEST(ScanPace, TheSpeedFollowsTheLastSecondsAndGivesTheTimeLeft) {
    const Clock::time_point start{};
    wizard::ScanPace pace(1000 * MiB, start);
    EXPECT_FALSE(pace.Reading(start + 1s).bytesPerSecond); // too early to say

    // 10 MiB/s for 20 s, then 2 MiB/s: after 10 s more only the slow part counts.
    pace.Advance(200 * MiB, start + 20s);
    wizard::PaceReading reading = pace.Reading(start + 20s);
    EXPECT_EQ(reading.percent, 20);
    ASSERT_TRUE(reading.bytesPerSecond);
    EXPECT_DOUBLE_EQ(*reading.bytesPerSecond, 10.0 * MiB);
    EXPECT_EQ(reading.secondsLeft, 80);
    for (int s = 21; s <= 32; ++s) pace.Advance((200 + 2 * (s - 20)) * MiB, start + std::chrono::seconds(s));
    reading = pace.Reading(start + 32s);
    EXPECT_NEAR(*reading.bytesPerSecond, 2.0 * MiB, 0.01 * MiB);
    EXPECT_EQ(reading.secondsLeft, 388);

    // A scan that no longer moves slows down as time goes by.
    reading = pace.Reading(start + 60s);
    EXPECT_LT(*reading.bytesPerSecond, 1.0 * MiB);
    EXPECT_GT(*reading.secondsLeft, 776);
    EXPECT_FALSE(reading.slowedByReadErrors);
    pace.Advance(1000 * MiB, start + 61s);
    EXPECT_FALSE(pace.Reading(start + 61s).secondsLeft); // nothing left to scan
}

TEST(ScanPace, RecentReadErrorsMarkTheEstimateAsUntrustworthy) {
    const Clock::time_point start{};
    wizard::ScanPace pace(100 * MiB, start);
    pace.NoteReadErrors(0, start + 1s);
    EXPECT_FALSE(pace.Reading(start + 1s).slowedByReadErrors);
    pace.NoteReadErrors(3, start + 5s);
    EXPECT_TRUE(pace.Reading(start + 6s).slowedByReadErrors);
    pace.NoteReadErrors(3, start + 30s); // no new one
    EXPECT_FALSE(pace.Reading(start + 40s).slowedByReadErrors);
}

TEST(ScanPace, TheTextGivesWhatIsKnownInTheUsersWords) {
    const wizard::WizardTexts texts = Texts();
    wizard::PaceReading reading;
    EXPECT_EQ(wizard::PaceText(reading, texts, ','), "");
    reading.bytesPerSecond = 12.34 * MiB;
    EXPECT_EQ(wizard::PaceText(reading, texts, ','), "12,3 MB/s");
    reading.secondsLeft = 3 * 3600 + 125;
    EXPECT_EQ(wizard::PaceText(reading, texts, ','), "12,3 MB/s  \xC2\xB7  time left: about 3 h 3 min");
    reading.slowedByReadErrors = true;
    EXPECT_EQ(wizard::PaceText(reading, texts, '.'), "12.3 MB/s  \xC2\xB7  read errors slow the scan down");
    EXPECT_EQ(wizard::TimeLeftText(0, texts), "time left: about 10 s");
    EXPECT_EQ(wizard::TimeLeftText(41, texts), "time left: about 50 s");
    EXPECT_EQ(wizard::TimeLeftText(55, texts), "time left: about 1 min");
    EXPECT_EQ(wizard::TimeLeftText(61, texts), "time left: about 2 min");
}

} // namespace
