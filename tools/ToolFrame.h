// What the three device tools share beyond their public entry points: the
// message conventions, the hand-back of input, the outcome and the number
// formats of the reports.
#pragma once

#include <cstdint>
#include <string>

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

} // namespace tools::frame
