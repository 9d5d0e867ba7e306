#pragma once
// The serial layer and the file code speak Windows error numbers (2 "not
// found", 5 "access denied", 87 "bad parameter" ...), because its error codes
// and message tables were laid out around them. This is the one place where a
// Linux errno becomes such a number. Never negate a raw errno instead: EIO is 5
// on Linux and would read as "access denied / already open".
#include <string>

namespace platform {

// Windows error numbers this system uses by name.
enum : unsigned long {
  kErrSuccess = 0,
  kErrInvalidFunction = 1,
  kErrFileNotFound = 2,
  kErrPathNotFound = 3,
  kErrTooManyOpenFiles = 4,
  kErrAccessDenied = 5,
  kErrInvalidHandle = 6,
  kErrNotEnoughMemory = 8,
  // Windows' "invalid access" number; the device layer reports a refused
  // permission with it, so that it can never read as 5 "already open".
  kErrPermissionRefused = 12,
  kErrWriteProtect = 19,
  kErrGenFailure = 31,
  kErrSharingViolation = 32,
  kErrNotSupported = 50,
  kErrDevNotExist = 55,
  kErrFileExists = 80,
  kErrInvalidParameter = 87,
  kErrBrokenPipe = 109,
  kErrDiskFull = 112,
  kErrInvalidName = 123,
  kErrBusy = 170,
  kErrFilenameTooLong = 206,
  kErrOperationAborted = 995,
  kErrIoDevice = 1117,
  kErrDeviceNotConnected = 1167,
  kErrTimeout = 1460,
};

// Windows error number for an errno value; unknown values give kErrGenFailure.
// This is the translation for files and general calls (EACCES is 5 "access
// denied" there, as a refused file write should read).
unsigned long WinErrorFromErrno(int err) noexcept;

// The same translation at the serial device boundary, where the port maps 5
// to "already open" and 2/3 to "no such port": EBUSY and a refused exclusive
// lock are 5 (held), ENOENT/ENODEV/ENXIO/ENOTTY/EISDIR are 2 (no such port),
// ENOTDIR 3, EACCES/EPERM kErrPermissionRefused, EIO kErrIoDevice; anything
// else as WinErrorFromErrno.
unsigned long WinErrorFromDeviceErrno(int err) noexcept;

// The system's own message text for a Windows error number, as the operating
// system words it (no trailing line end). Empty for a number it does not know.
std::string SystemErrorMessage(unsigned long winError);

}  // namespace platform
