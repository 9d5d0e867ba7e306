#include "PtyMaster.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace corvane::testsupport {

PtyMaster::PtyMaster(bool raw) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  char name[128];
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name, sizeof name) != 0)
    return;
  if (raw) {
    termios tio{};
    ::tcgetattr(master_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(master_, TCSANOW, &tio);
  }
  slave_ = name;
}

PtyMaster::~PtyMaster() {
  if (master_ >= 0) ::close(master_);
}

bool PtyMaster::WriteAll(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) done += static_cast<std::size_t>(n);
    else if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
  }
  return true;
}

std::string PtyMaster::ReadAvailable() {
  std::string got;
  char buf[512];
  for (;;) {
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

std::string PtyMaster::ReadAtLeast(std::size_t want, std::chrono::milliseconds timeout) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
    pollfd fd{master_, POLLIN, 0};
    if (::poll(&fd, 1, 20) <= 0) continue;
    char buf[256];
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

ComLink::ComLink(const std::string& dir, int comNumber, const std::string& device)
    : path_(dir + "/COM" + std::to_string(comNumber)) {
  ok_ = ::symlink(device.c_str(), path_.c_str()) == 0;
}

ComLink::~ComLink() {
  if (ok_) ::unlink(path_.c_str());
}

}  // namespace corvane::testsupport
