#include "PtyMaster.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
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
  ReleaseHold();
  Close();
}

void PtyMaster::Close() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

bool PtyMaster::HoldSlave() {
  if (hold_ < 0 && !slave_.empty()) hold_ = ::open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  return hold_ >= 0;
}

void PtyMaster::ReleaseHold() {
  if (hold_ >= 0) ::close(hold_);
  hold_ = -1;
}

termios PtyMaster::SlaveTermios() const {
  termios t{};
  ::tcgetattr(master_, &t);
  return t;
}

bool PtyMaster::WriteAll(const std::string& bytes) const { return WriteAll(bytes.data(), bytes.size()); }

bool PtyMaster::WriteAll(const void* data, std::size_t len) const {
  const auto* p = static_cast<const char*>(data);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (len > 0) {
    const ssize_t n = ::write(master_, p, len);
    if (n > 0) {
      p += n;
      len -= static_cast<std::size_t>(n);
      deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd fd{master_, POLLOUT, 0};
    ::poll(&fd, 1, 20);
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

bool PtyMaster::WaitReadable(std::chrono::steady_clock::time_point deadline) const {
  if (std::chrono::steady_clock::now() >= deadline) return false;
  pollfd fd{master_, POLLIN, 0};
  return ::poll(&fd, 1, 20) > 0;
}

std::string PtyMaster::ReadAtLeast(std::size_t want, std::chrono::milliseconds timeout) const {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
    if (!WaitReadable(deadline)) continue;
    char buf[4096];
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

std::string PtyMaster::ReadUpTo(std::size_t count, std::chrono::milliseconds timeout) const {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
    if (!WaitReadable(deadline)) continue;
    char buf[4096];
    const ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - got.size()));
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;  // hung up
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
