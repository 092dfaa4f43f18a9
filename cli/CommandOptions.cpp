#include "cli/CommandOptions.h"

#include <cerrno>
#include <cstdlib>

#include "cli/Command.h"

namespace cli {

namespace {

class Layout : public CLI::Formatter {
public:
    Layout() {
        label("SUBCOMMAND", "COMMAND");
        column_width(26);
    }
    std::string make_option_opts(const CLI::Option* option) const override {
        if (option->get_type_size() == 0) return ""; // a flag
        return " " + option->get_type_name();
    }
};

} // namespace

CLI::Option* AddDriveOption(CLI::App& command, char& letter, const std::string& description) {
    return command
        .add_option_function<std::string>(
            "--drive", [&letter](const std::string& value) { letter = ParseDriveLetter(value); }, description)
        ->type_name("D")
        ->check(CLI::Validator(
            [](std::string& value) {
                return ParseDriveLetter(value) ? std::string() : "'" + value + "' is not a drive letter";
            },
            ""));
}

CLI::Validator NumberBetween(long lowest, long highest) {
    return CLI::Validator(
        [lowest, highest](std::string& value) {
            char* end = nullptr;
            errno = 0;
            const long number = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno == ERANGE || number < lowest || number > highest)
                return "takes a number from " + std::to_string(lowest) + " to " + std::to_string(highest) + ", not '" +
                       value + "'";
            return std::string();
        },
        "");
}

CLI::Validator NotEmpty() {
    return CLI::Validator(
        [](std::string& value) { return value.empty() ? std::string("may not be empty") : std::string(); }, "");
}

std::shared_ptr<CLI::Formatter> HelpLayout() { return std::make_shared<Layout>(); }

} // namespace cli
