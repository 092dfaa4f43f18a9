#include "engine/ErrorCodeText.h"

#include "platform/wintypes.h"

namespace engine {

namespace {

const char* Meaning(std::uint32_t code) {
    switch (code) {
    case ERROR_SUCCESS: return "no error";
    case ERROR_INVALID_FUNCTION: return "not supported by this device";
    case ERROR_FILE_NOT_FOUND: return "no such device or file";
    case ERROR_PATH_NOT_FOUND: return "path not found";
    case ERROR_TOO_MANY_OPEN_FILES: return "too many open files";
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_INVALID_HANDLE: return "invalid handle";
    case ERROR_NOT_ENOUGH_MEMORY: return "not enough memory";
    case ERROR_INVALID_DRIVE: return "no such drive";
    case ERROR_WRITE_PROTECT: return "the medium is write-protected";
    case ERROR_NOT_READY: return "the device is not ready (no card in it?)";
    case ERROR_SEEK: return "seek failed";
    case ERROR_SECTOR_NOT_FOUND: return "sector not found";
    case ERROR_WRITE_FAULT: return "write fault";
    case ERROR_READ_FAULT: return "read fault";
    case ERROR_SHARING_VIOLATION: return "the device is in use";
    case ERROR_HANDLE_EOF: return "end of the device";
    case ERROR_NOT_SUPPORTED: return "not supported";
    case ERROR_FILE_EXISTS: return "the file exists";
    case ERROR_INVALID_PARAMETER: return "invalid parameter";
    case ERROR_DISK_FULL: return "the disk is full";
    case ERROR_NEGATIVE_SEEK: return "seek before the start";
    case ERROR_FILENAME_EXCED_RANGE: return "name too long";
    default: return nullptr;
    }
}

} // namespace

std::string ErrorCodeText(std::uint32_t code) {
    const char* meaning = Meaning(code);
    return std::to_string(code) + (meaning ? std::string(": ") + meaning : std::string());
}

} // namespace engine
