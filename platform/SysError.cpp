#include "SysError.h"

#include <cerrno>
#include <cstring>
#include <iterator>

namespace platform {
namespace {

struct Row {
  int err;
  unsigned long win;
};

// First row for a Windows number names the errno whose text stands for it.
constexpr Row kRows[] = {
    {ENOENT, kErrFileNotFound},     {ENOTDIR, kErrPathNotFound},
    {EMFILE, kErrTooManyOpenFiles}, {ENFILE, kErrTooManyOpenFiles},
    {EACCES, kErrAccessDenied},     {EPERM, kErrAccessDenied},
    {EBADF, kErrInvalidHandle},     {ENOMEM, kErrNotEnoughMemory},
    {EROFS, kErrWriteProtect},      {EWOULDBLOCK, kErrSharingViolation},
    {ENOTSUP, kErrNotSupported},    {ENOSYS, kErrNotSupported},
    {ENODEV, kErrDevNotExist},      {ENXIO, kErrDevNotExist},
    {EEXIST, kErrFileExists},       {EINVAL, kErrInvalidParameter},
    {ENOTTY, kErrInvalidFunction},  {EPIPE, kErrBrokenPipe},
    {ENOSPC, kErrDiskFull},         {EDQUOT, kErrDiskFull},
    {EBUSY, kErrBusy},              {ENAMETOOLONG, kErrFilenameTooLong},
    {ECANCELED, kErrOperationAborted}, {EINTR, kErrOperationAborted},
    {EIO, kErrIoDevice},            {EHOSTDOWN, kErrDeviceNotConnected},
    {ETIMEDOUT, kErrTimeout},       {EFAULT, kErrGenFailure},
};

// At the device boundary a few errno values mean something else than for a
// file: whether the port exists, is held by someone, or is closed to us.
constexpr Row kDeviceRows[] = {
    {EBUSY, kErrAccessDenied},          {EWOULDBLOCK, kErrAccessDenied},
    {ENOENT, kErrFileNotFound},         {ENODEV, kErrFileNotFound},
    {ENXIO, kErrFileNotFound},          {ENOTTY, kErrFileNotFound},
    {EISDIR, kErrFileNotFound},         {ENOTDIR, kErrPathNotFound},
    {EACCES, kErrPermissionRefused},    {EPERM, kErrPermissionRefused},
    {EIO, kErrIoDevice},
};

// Texts of our own where the errno text would mislead the operator.
constexpr struct {
  unsigned long win;
  const char* text;
} kOwnTexts[] = {
    {kErrSuccess, "Success"},
    {kErrGenFailure, "A device attached to the system is not functioning"},
    {kErrPermissionRefused,
     "Permission to open the serial device was refused (is the user in the dialout group?)"},
};

}  // namespace

unsigned long WinErrorFromErrno(int err) noexcept {
  if (err == 0) return kErrSuccess;
  for (const Row& r : kRows)
    if (r.err == err) return r.win;
  return kErrGenFailure;
}

unsigned long WinErrorFromDeviceErrno(int err) noexcept {
  for (const Row& r : kDeviceRows)
    if (r.err == err) return r.win;
  return WinErrorFromErrno(err);
}

std::string SystemErrorMessage(unsigned long winError) {
  for (const auto& own : kOwnTexts)
    if (own.win == winError) return own.text;
  for (const Row& r : kRows) {
    if (r.win == winError) {
      char buf[256];
      // GNU strerror_r may return a static string instead of filling buf.
      const char* text = strerror_r(r.err, buf, sizeof buf);
      return text ? std::string(text) : std::string();
    }
  }
  return {};
}

}  // namespace platform
