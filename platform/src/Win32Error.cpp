#include "platform/src/Win32Error.h"

#include <cerrno>

namespace platform::detail {

DWORD Win32ErrorFromErrno(int e, IoDirection direction) {
    switch (e) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERROR_DISK_FULL;
    case ENOMEDIUM:
    case ENXIO:
    case ENODEV: return ERROR_NOT_READY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ESPIPE: return ERROR_SEEK;
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    default: break;
    }
    switch (direction) {
    case IoDirection::Read: return ERROR_READ_FAULT;
    case IoDirection::Write: return ERROR_WRITE_FAULT;
    case IoDirection::None: break;
    }
    return ERROR_INVALID_FUNCTION;
}

} // namespace platform::detail
