// What the three device tools share beyond their public entry points: the
// message conventions, the hand-back of input, the outcome and the number
// formats of the reports.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/AdvTools.h"

namespace tools::frame {

// A text of the tools' message store (LANG231 .. LANG269).
const std::string& Text(int number);
// A message box titled with the tools' message title.
int Message(const std::string& text, int style);
// Ends an operation: records the outcome and lets the tools window take
// input again.
void Finish(ToolOutcome outcome);
// The run-time error trap's text: the trap's lead-in, a space, the error.
std::string TrapText(const std::string& description);
// A whole number of bytes or sectors in decimal, without exponent.
std::string Decimal(double value);

constexpr const char* CrLf = "\r\n";

// A 64-bit byte offset on a volume as two signed 32-bit halves, moved and
// compared through the process's ExtraLong object. A failing call raises a
// RuntimeError, which the operations' error trap reports.
struct Position {
    std::int32_t low = 0;
    std::int32_t high = 0;
};
// 1 when capacity - position > compareTo, -1 when less, 0 when equal.
std::int32_t CompareDiff(double capacity, const Position& position, std::int32_t compareTo);
// The low 32 bits of capacity - position.
std::int32_t SubInt64FromDouble(double capacity, const Position& position);
Position AddLongToInt64(std::int32_t count, const Position& position);
double Int64ToDouble(const Position& position);

// value rounded to a whole number (halves to even); an overflow error when
// it does not fit 32 bits.
std::int32_t WholeNumber(double value);

// One transfer through the bytes start .. capacity - 1 of a volume, in
// blocks of blockSize bytes (the last one shorter). transfer moves the
// block at a byte offset, buffer holding exactly the block's bytes; false
// with errorText set stops the copy. Events run once before the first block
// and after every yieldStep-th block (every block when yieldStep <= 1).
struct BlockCopy {
    double capacity = 0;
    Position start;
    std::int32_t blockSize = 0;
    std::int32_t yieldStep = 1;
    std::function<bool(std::uint64_t offset, std::vector<std::uint8_t>& buffer, std::string& errorText)> transfer;
};
enum class CopyEnd { Completed, Failed, Stopped };
struct CopyResult {
    CopyEnd end = CopyEnd::Completed;
    Position reached; // the offset after the last block moved
};
// The copy loop of the three tools: stops before the next block when the
// inputs' stop flag is set, and tells the observer the bytes done.
CopyResult CopyBlocks(const BlockCopy& copy, const ToolInputs& inputs, std::string& errorText);

// "212 of 512 MiB": an amount of a total in the total's unit.
std::string AmountOf(double done, double total);
// The report of a restore or erase that was stopped after writing written
// bytes of a card of capacity bytes.
std::string StoppedWritingText(double written, double capacity);

} // namespace tools::frame
