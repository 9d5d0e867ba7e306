#include "WakeEvent.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform {

WakeEvent::~WakeEvent() { Destroy(); }

int WakeEvent::Create() {
  Destroy();
  fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  return fd_ >= 0 ? 0 : errno;
}

void WakeEvent::Destroy() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void WakeEvent::Signal() {
  if (fd_ < 0) return;
  const uint64_t one = 1;
  // A full counter still leaves the descriptor readable, which is all we need.
  [[maybe_unused]] ssize_t r = ::write(fd_, &one, sizeof one);
}

void WakeEvent::Drain() {
  if (fd_ < 0) return;
  uint64_t value;
  [[maybe_unused]] ssize_t r = ::read(fd_, &value, sizeof value);
}

}  // namespace platform
