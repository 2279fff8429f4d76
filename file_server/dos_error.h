#pragma once
// Error numbers that the client understands (the DOS and Win32 numbering), and the
// translation of this machine's errno values into them.

#include <cstdint>

namespace zelvo::file_server {

enum DosError : uint16_t {
    kErrNone = 0,
    kErrFileNotFound = 2,
    kErrPathNotFound = 3,
    kErrTooManyOpenFiles = 4,
    kErrAccessDenied = 5,
    kErrInvalidHandle = 6,
    kErrNotEnoughMemory = 8,
    kErrInvalidData = 13, // also what every failed make or remove directory reports
    kErrNotSameDevice = 17,
    kErrNoMoreFiles = 18,
    kErrWriteProtect = 19,
    kErrGeneralFailure = 31,
    kErrSharingViolation = 32,
    kErrLockViolation = 33,
    kErrFileExists = 80,
    kErrInvalidParameter = 87,
    kErrDiskFull = 112,
    kErrInvalidName = 123,
    kErrDirNotEmpty = 145,
    kErrNotLocked = 158,
};

uint16_t dosErrorFromErrno(int err);

} // namespace zelvo::file_server
