// The program's run-time error: a number, the source that raised it and a
// description. Each window operation (and each CLI command) catches it and
// shows it; the engine turns the ones it meets into LogErrorMessage events.
#pragma once

#include <stdexcept>
#include <string>

namespace support {

class RuntimeError : public std::runtime_error {
public:
    RuntimeError(long number, std::string source, const std::string& description)
        : std::runtime_error(description), number_(number), source_(std::move(source)) {}
    long Number() const { return number_; }
    const std::string& Source() const { return source_; }
    std::string Description() const { return what(); }

private:
    long number_;
    std::string source_;
};

// The numbers of the run-time errors the program raises itself.
constexpr long ErrOverflow = 6;
constexpr long ErrSubscriptOutOfRange = 9;
constexpr long ErrDivisionByZero = 11;
constexpr long ErrTypeMismatch = 13;
constexpr long ErrFileNotFound = 53;
constexpr long ErrFileAlreadyOpen = 55;
constexpr long ErrDeviceIo = 57;
constexpr long ErrFileExists = 58;
constexpr long ErrDiskFull = 61;
constexpr long ErrPermissionDenied = 70;
constexpr long ErrPathNotFound = 76;
constexpr long ErrObjectRequired = 424;

} // namespace support
