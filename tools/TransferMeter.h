// What the tools window shows while a tool runs: the share done, the bytes
// done of the total, the speed and the time left, from the progress the
// copy loop reports and the time since it started. The texts are numbers
// and units only, the same in every language.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace tools {

struct TransferView {
    int permille = 0;  // 0 .. 1000
    std::string text;  // "12.5 MB / 64.0 MB   3.2 MB/s   0:16"
};

// The view of done of total bytes when moved bytes took seconds; the speed
// and the time left are left out until a second has been measured.
TransferView ViewOfTransfer(std::uint64_t done, std::uint64_t total, std::uint64_t moved, double seconds);
// 1024-based units as the drive list uses them: "512 bytes", "12.5 MB".
// The progress line gives the bytes done in the unit of the total.
std::string ByteAmount(double bytes);
// "0:16", "12:05", "1:02:03".
std::string Duration(double seconds);

// Measures one run from its first report: the time before it (the file
// dialog, the question) and its first block are not part of the speed.
class TransferMeter {
public:
    using Clock = std::function<double()>; // seconds, rising
    TransferMeter();
    explicit TransferMeter(Clock clock);
    // Forgets the run measured so far.
    void Start() { measuring_ = false; }
    TransferView Update(std::uint64_t done, std::uint64_t total);

private:
    Clock clock_;
    bool measuring_ = false;
    double firstTime_ = 0;
    std::uint64_t firstDone_ = 0;
};

} // namespace tools
