#pragma once
// A pseudo-terminal pair for the device tests: the layer opens the slave,
// the test plays the modem on the master. ComDir points CORVANE_COM_DIR at a
// temporary folder of COM<n> symlinks, the way the simulator does.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace serialtest {

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) == 0) slave_ = name;
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return master_ >= 0 && !slave_.empty(); }
  const std::string& SlavePath() const { return slave_; }
  int Master() const { return master_; }

  // The slave's termios as the master sees it (termios calls on a master
  // act on its slave).
  termios SlaveTermios() const {
    termios t{};
    ::tcgetattr(master_, &t);
    return t;
  }

  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  bool Write(const void* data, size_t len) {
    const auto* p = static_cast<const uint8_t*>(data);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (len > 0) {
      const ssize_t n = ::write(master_, p, len);
      if (n > 0) {
        p += n;
        len -= static_cast<size_t>(n);
        continue;
      }
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd fd{master_, POLLOUT, 0};
      ::poll(&fd, 1, 20);
    }
    return true;
  }
  bool Write(const std::string& s) { return Write(s.data(), s.size()); }

  // Reads until want bytes came or the time passed.
  std::vector<uint8_t> Read(size_t want, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::vector<uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    uint8_t buf[4096];
    while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
      pollfd fd{master_, POLLIN, 0};
      if (::poll(&fd, 1, 20) <= 0) continue;
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0) got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

class ComDir {
 public:
  ComDir() {
    char tmpl[] = "/tmp/corvane-com-XXXXXX";
    if (const char* made = ::mkdtemp(tmpl)) dir_ = made;
    ::setenv("CORVANE_COM_DIR", dir_.c_str(), 1);
  }
  ~ComDir() {
    ::unsetenv("CORVANE_COM_DIR");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  ComDir(const ComDir&) = delete;
  ComDir& operator=(const ComDir&) = delete;

  void Link(unsigned n, const std::string& target) {
    const std::string link = dir_ + "/COM" + std::to_string(n);
    ::unlink(link.c_str());
    [[maybe_unused]] int r = ::symlink(target.c_str(), link.c_str());
  }
  const std::string& Path() const { return dir_; }

 private:
  std::string dir_;
};

inline size_t CountEntries(const char* dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}
inline size_t OpenDescriptors() { return CountEntries("/proc/self/fd"); }
inline size_t ProcessThreads() { return CountEntries("/proc/self/task"); }

// Polls cond every 2 ms until it holds or the time passes.
template <class Cond>
bool WaitUntil(Cond cond, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::usleep(2000);
  }
  return true;
}

}  // namespace serialtest
