#include "file_server/dos_error.h"

#include <cerrno>

namespace zelvo::file_server {

uint16_t dosErrorFromErrno(int err)
{
    switch (err) {
    case 0:
        return kErrNone;
    case ENOENT:
        return kErrFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return kErrPathNotFound;
    case EMFILE:
    case ENFILE:
        return kErrTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case ENXIO:
    case ENODEV:
        return kErrAccessDenied;
    case EBADF:
        return kErrInvalidHandle;
    case ENOMEM:
        return kErrNotEnoughMemory;
    case EXDEV:
        return kErrNotSameDevice;
    case EROFS:
        return kErrWriteProtect;
    case EBUSY:
    case ETXTBSY:
        return kErrSharingViolation;
    case EAGAIN:
    case EDEADLK:
        return kErrLockViolation;
    case EEXIST:
        return kErrFileExists;
    case EINVAL:
    case EOVERFLOW:
        return kErrInvalidParameter;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return kErrDiskFull;
    case ENOTEMPTY:
        return kErrDirNotEmpty;
    default:
        return kErrGeneralFailure;
    }
}

} // namespace zelvo::file_server
