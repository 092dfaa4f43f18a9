// The program's truth values: 16-bit, -1 true and 0 false.
#pragma once

#include <cstdint>

namespace support {

using Truth = std::int16_t;
constexpr Truth True = -1;
constexpr Truth False = 0;
constexpr Truth ToTruth(bool b) { return b ? True : False; }

} // namespace support
