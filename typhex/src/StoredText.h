// How the database file stores text: one byte per character, shifted down by
// TextShift. Every character from TextShift + 1 to 255 survives, so every
// printable character of a description does; a character equal to TextShift
// would be stored as the 0x00 that ends a description.
#pragma once

namespace typhex {

inline constexpr unsigned TextShift = 0x05;

} // namespace typhex
