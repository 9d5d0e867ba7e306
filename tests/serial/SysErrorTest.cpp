// errno at the device and file boundary becomes the Windows numbers the
// layer's codes are built on, and the port's open mapping on top of it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "ComPath.h"
#include "SerCodes.h"
#include "SysError.h"

namespace {

TEST(DeviceErrno, HeldMissingAndRefusedStayApart) {
  struct Row {
    int err;
    unsigned long win;
    int32_t portCode;  // what the port reports for the open
  };
  const Row rows[] = {
      {EBUSY, platform::kErrAccessDenied, serial::ecAlreadyOpen},
      {EWOULDBLOCK, platform::kErrAccessDenied, serial::ecAlreadyOpen},
      {ENOENT, platform::kErrFileNotFound, serial::ecBadId},
      {ENODEV, platform::kErrFileNotFound, serial::ecBadId},
      {ENXIO, platform::kErrFileNotFound, serial::ecBadId},
      {ENOTTY, platform::kErrFileNotFound, serial::ecBadId},
      {ENOTDIR, platform::kErrPathNotFound, serial::ecBadId},
      {EACCES, platform::kErrPermissionRefused, -12},
      {EPERM, platform::kErrPermissionRefused, -12},
      // EIO is 5 on Linux; it must never read as "already open".
      {EIO, platform::kErrIoDevice, -1117},
  };
  for (const Row& r : rows) {
    const unsigned long win = platform::WinErrorFromDeviceErrno(r.err);
    EXPECT_EQ(win, r.win) << r.err;
    EXPECT_EQ(serial::OpenResultCode(-static_cast<int32_t>(win)), r.portCode) << r.err;
  }
}

TEST(DeviceErrno, PermissionTextNamesTheCause) {
  const std::string text = platform::SystemErrorMessage(platform::kErrPermissionRefused);
  EXPECT_NE(text.find("ermission"), std::string::npos);
  EXPECT_NE(text.find("dialout"), std::string::npos);
}

TEST(FileErrno, AccessDeniedStaysFive) {
  EXPECT_EQ(platform::WinErrorFromErrno(EACCES), platform::kErrAccessDenied);
  EXPECT_EQ(platform::WinErrorFromErrno(ENOENT), platform::kErrFileNotFound);
}

TEST(ComPath, ResolvesNumbersAndNames) {
  ::setenv("CORVANE_COM_DIR", "/tmp/somewhere", 1);
  EXPECT_EQ(platform::ComDevicePath(7), "/tmp/somewhere/COM7");
  ::unsetenv("CORVANE_COM_DIR");
  if (::access("/dev/corvane/COM3", F_OK) != 0) {
    EXPECT_EQ(platform::ComDevicePath(3), "/dev/ttyS2");
  }
  EXPECT_EQ(platform::ComDevicePath(0), "");

  struct Row {
    const char* name;
    bool ok;
    unsigned n;
  };
  const Row rows[] = {{"\\\\.\\COM13", true, 13}, {"COM1", true, 1}, {"com4", true, 4},
                      {"/dev/ttyS0", false, 0}, {"COM", false, 0},   {"COM1x", false, 0}};
  for (const Row& r : rows) {
    unsigned n = 0;
    EXPECT_EQ(platform::ParseComName(r.name, n), r.ok) << r.name;
    if (r.ok) {
      EXPECT_EQ(n, r.n) << r.name;
    }
  }
}

}  // namespace
