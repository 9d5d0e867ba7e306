#pragma once
// Pseudo-terminal pairs standing in for modems: the port opens the slave side
// through a COM<n> symlink in a temporary folder (CORVANE_COM_DIR), the test
// plays the modem on the master side.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace porttest {

class ComDir {
 public:
  ComDir() {
    char tmpl[] = "/tmp/corvane-port-XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
    path_ = tmpl;
    setenv("CORVANE_COM_DIR", path_.c_str(), 1);
  }
  ~ComDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ComDir(const ComDir&) = delete;
  ComDir& operator=(const ComDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string Link(int com) const { return path_ + "/COM" + std::to_string(com); }

 private:
  std::string path_;
};

// One pseudo-terminal pair whose slave is reachable as COM<n>.
class Modem {
 public:
  Modem(const ComDir& dir, int com) : link_(dir.Link(com)) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
      throw std::runtime_error("posix_openpt");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
    slave_ = name;
    std::filesystem::create_symlink(slave_, link_);
    // Hold the slave open ourselves so that the master never sees a hang-up
    // between the port's opens (and data written before the first open waits).
    hold_ = ::open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~Modem() {
    std::error_code ec;
    std::filesystem::remove(link_, ec);
    if (hold_ >= 0) ::close(hold_);
    if (master_ >= 0) ::close(master_);
  }
  Modem(const Modem&) = delete;
  Modem& operator=(const Modem&) = delete;

  int Master() const { return master_; }
  const std::string& Slave() const { return slave_; }

  void Write(const std::string& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n < 0) throw std::runtime_error("write to master");
      done += static_cast<size_t>(n);
    }
  }

  // Reads until `count` bytes came or `ms` passed; returns what came.
  std::string Read(size_t count, int ms = 2000) const {
    std::string out;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < count) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buf[4096];
      ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }

  // Drops the keep-alive handle: after the port closes, the master then sees
  // the hang-up as a modem would see its cable pulled.
  void ReleaseHold() {
    if (hold_ >= 0) ::close(hold_);
    hold_ = -1;
  }

 private:
  std::string link_;
  std::string slave_;
  int master_ = -1;
  int hold_ = -1;
};

inline int CountOpenDescriptors() {
  int n = 0;
  for (auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)e;
    ++n;
  }
  return n;
}

inline int CountThreads() {
  int n = 0;
  for (auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
    (void)e;
    ++n;
  }
  return n;
}

}  // namespace porttest
