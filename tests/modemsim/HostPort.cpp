#include "HostPort.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <regex>
#include <stdexcept>

namespace modemsim_test {

HostPort::HostPort(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) throw std::runtime_error("cannot open " + path);
  termios t{};
  ::tcgetattr(fd_, &t);
  ::cfmakeraw(&t);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::tcsetattr(fd_, TCSANOW, &t);
}

HostPort::~HostPort() { Close(); }

void HostPort::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void HostPort::Send(std::string_view bytes) {
  size_t off = 0;
  while (off < bytes.size() && fd_ >= 0) {
    const ssize_t n = ::write(fd_, bytes.data() + off, bytes.size() - off);
    if (n > 0) {
      off += static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd p{fd_, POLLOUT, 0};
      ::poll(&p, 1, 100);
    } else if (n < 0 && errno != EINTR) {
      return;
    }
  }
}

bool HostPort::Pump(std::chrono::milliseconds wait) {
  if (fd_ < 0 || gone_) return false;
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return false;
  char buf[4096];
  const ssize_t n = ::read(fd_, buf, sizeof buf);
  if (n > 0) {
    buffer_.append(buf, static_cast<size_t>(n));
    return true;
  }
  if (n == 0 || (n < 0 && errno == EIO)) gone_ = true;
  return false;
}

std::string HostPort::Take(size_t end) {
  std::string out = buffer_.substr(0, end);
  buffer_.erase(0, end);
  return out;
}

std::string HostPort::ReadUntil(std::string_view needle, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const size_t p = buffer_.find(needle);
    if (p != std::string::npos) return Take(p + needle.size());
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left <= 0ms || gone_) return Take(buffer_.size());
    Pump(std::min(left, 50ms));
  }
}

std::string HostPort::ReadLine(std::string_view prefix, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const size_t p = buffer_.find(prefix);
    const size_t e = p == std::string::npos ? p : buffer_.find("\r\n", p);
    if (e != std::string::npos) return Take(e + 2);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left <= 0ms || gone_) return Take(buffer_.size());
    Pump(std::min(left, 50ms));
  }
}

std::string HostPort::ReadFor(std::chrono::milliseconds quiet) {
  const auto deadline = std::chrono::steady_clock::now() + quiet;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left <= 0ms || gone_) break;
    Pump(left);
  }
  std::string out;
  out.swap(buffer_);
  return out;
}

namespace {

// A final result line, or the "> " prompt, wherever it stands.
const std::regex& FinalResult() {
  static const std::regex final(
      "\r\n(OK|ERROR|NO CARRIER|BUSY|NO ANSWER|\\+CME ERROR: [^\r]*|\\+CMS ERROR: [^\r]*)\r\n|\r\n> ");
  return final;
}

}  // namespace

bool HasFinalResult(const std::string& reply) { return std::regex_search(reply, FinalResult()); }

std::string HostPort::Command(std::string_view line, std::chrono::milliseconds timeout) {
  Send(line);
  return ReadFinal(timeout);
}

std::string HostPort::ReadFinal(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::smatch m;
    if (std::regex_search(buffer_, m, FinalResult()))
      return Take(static_cast<size_t>(m.position(0) + m.length(0)));
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left <= 0ms || gone_) return Take(buffer_.size());
    Pump(std::min(left, 50ms));
  }
}

bool HostPort::LineGone(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!gone_ && std::chrono::steady_clock::now() < deadline) {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    ::poll(&p, 1, 20);
    if (p.revents & (POLLHUP | POLLERR)) gone_ = true;
    else if (p.revents & POLLIN) Pump(0ms);
  }
  return gone_;
}

}  // namespace modemsim_test
