#include "tools/TransferMeter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tools {

namespace {

constexpr double kMeasuredFrom = 1.0; // seconds before a speed is worth showing
constexpr const char* kGap = "   ";

} // namespace

namespace {

const char* const kUnits[] = {"bytes", "KB", "MB", "GB", "TB"};

// The largest 1024-based unit in which bytes reads as at least 1.
int UnitOf(double bytes) {
    int unit = 0;
    for (; unit < 4 && bytes >= 1024.0; ++unit) bytes /= 1024.0;
    return unit;
}

std::string AmountIn(double bytes, int unit) {
    char text[64];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes / std::pow(1024.0, unit), kUnits[unit]);
    return text;
}

} // namespace

std::string ByteAmount(double bytes) { return AmountIn(bytes, UnitOf(bytes)); }

std::string Duration(double seconds) {
    auto total = static_cast<long long>(std::ceil(std::max(0.0, seconds)));
    char text[64];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

TransferView ViewOfTransfer(std::uint64_t done, std::uint64_t total, std::uint64_t moved, double seconds) {
    TransferView view;
    done = std::min(done, total);
    view.permille = total ? static_cast<int>(done * 1000 / total) : 1000;
    // Both amounts in the total's unit, so that they compare at a glance.
    const int unit = UnitOf(static_cast<double>(total));
    view.text = AmountIn(static_cast<double>(done), unit) + " / " + AmountIn(static_cast<double>(total), unit);
    if (seconds >= kMeasuredFrom && moved > 0) {
        const double speed = static_cast<double>(moved) / seconds;
        view.text += kGap + ByteAmount(speed) + "/s" + kGap + Duration(static_cast<double>(total - done) / speed);
    }
    return view;
}

TransferMeter::TransferMeter()
    : TransferMeter([] {
          using namespace std::chrono;
          return duration<double>(steady_clock::now().time_since_epoch()).count();
      }) {}

TransferMeter::TransferMeter(Clock clock) : clock_(std::move(clock)) {}

TransferView TransferMeter::Update(std::uint64_t done, std::uint64_t total) {
    const double now = clock_();
    if (!measuring_ || done < firstDone_) {
        measuring_ = true;
        firstTime_ = now;
        firstDone_ = done;
    }
    return ViewOfTransfer(done, total, done - firstDone_, now - firstTime_);
}

} // namespace tools
