// Windows error numbers as the program's messages show them: the number
// followed by what it means, so that "5" reads "5: access denied".
#pragma once

#include <cstdint>
#include <string>

namespace engine {

// "5: access denied"; a number the program does not know stays alone.
std::string ErrorCodeText(std::uint32_t code);

} // namespace engine
