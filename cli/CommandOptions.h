// The kinds of values tranquo-cli's options take, with the checks CLI11
// makes on them before a command runs, and the help's layout. A value that
// fails its check is a usage error (exit status 2) whose text names the
// option and what it takes.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace cli {

// "--drive D": a drive letter ("D", "d:", "D:/"), stored upper case in
// letter.
CLI::Option* AddDriveOption(CLI::App& command, char& letter, const std::string& description);

// A whole number from lowest to highest, nothing else in the value.
CLI::Validator NumberBetween(long lowest, long highest);

// A value that may not be empty (a folder or file name).
CLI::Validator NotEmpty();

// The help's layout: an option's value as one word ("--drive D"), without
// CLI11's notes on types and exclusions, which the descriptions give in
// words; "COMMAND" in the usage line.
std::shared_ptr<CLI::Formatter> HelpLayout();

} // namespace cli
