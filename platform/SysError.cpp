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

}  // namespace

unsigned long WinErrorFromErrno(int err) noexcept {
  if (err == 0) return kErrSuccess;
  for (const Row& r : kRows)
    if (r.err == err) return r.win;
  return kErrGenFailure;
}

std::string SystemErrorMessage(unsigned long winError) {
  if (winError == kErrSuccess) return "Success";
  if (winError == kErrGenFailure) return "A device attached to the system is not functioning";
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
