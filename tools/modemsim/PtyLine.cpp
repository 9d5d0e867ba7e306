#include "PtyLine.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace modemsim {

namespace {

std::string SysText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

bool PtyLine::Open(int inotifyFd, std::string& error) {
  Close();
  const int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m < 0) {
    error = SysText("posix_openpt");
    return false;
  }
  char name[PATH_MAX];
  if (::grantpt(m) != 0 || ::unlockpt(m) != 0 || ::ptsname_r(m, name, sizeof name) != 0) {
    error = SysText("grantpt/unlockpt/ptsname");
    ::close(m);
    return false;
  }
  // Open the slave once ourselves: set it raw (no echo, no CR/LF mapping, so
  // the line carries bytes unchanged), and by closing it put the master in
  // the hung-up state that a host's open clears.
  const int s = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (s < 0) {
    error = SysText("open slave");
    ::close(m);
    return false;
  }
  termios t{};
  if (::tcgetattr(s, &t) == 0) {
    ::cfmakeraw(&t);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, B115200);
    ::cfsetospeed(&t, B115200);
    ::tcsetattr(s, TCSANOW, &t);
  }
  master_ = m;
  slavePath_ = name;
  inotifyFd_ = inotifyFd;
  watch_ = inotifyFd >= 0 ? ::inotify_add_watch(inotifyFd, name, IN_OPEN | IN_CLOSE) : -1;
  ::close(s);
  return true;
}

void PtyLine::Close() {
  if (watch_ >= 0 && inotifyFd_ >= 0) ::inotify_rm_watch(inotifyFd_, watch_);
  watch_ = -1;
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

bool PtyLine::HostPresent() const {
  if (master_ < 0) return false;
  pollfd p{master_, 0, 0};
  if (::poll(&p, 1, 0) < 0) return false;
  return (p.revents & POLLHUP) == 0;
}

int PtyLine::UnreadByHost() const {
  if (master_ < 0 || !HostPresent()) return 0;
  const int s = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (s < 0) return 0;
  int n = 0;
  if (::ioctl(s, FIONREAD, &n) != 0) n = 0;
  ::close(s);
  return n;
}

void PtyLine::DropUnreadOutput() {
  if (master_ < 0 || HostPresent()) return;
  const int s = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (s < 0) return;  // a host holding it exclusively: it will read it itself
  char buf[4096];
  while (::read(s, buf, sizeof buf) > 0) {
  }
  ::close(s);
}

std::string LinkComPort(const std::string& dir, int comNumber, const std::string& target,
                        std::string& error) {
  const std::string link = dir + "/COM" + std::to_string(comNumber);
  const std::string temp = link + ".new." + std::to_string(::getpid());
  ::unlink(temp.c_str());
  if (::symlink(target.c_str(), temp.c_str()) != 0) {
    error = SysText(("symlink " + temp).c_str());
    return "";
  }
  if (::rename(temp.c_str(), link.c_str()) != 0) {
    error = SysText(("rename to " + link).c_str());
    ::unlink(temp.c_str());
    return "";
  }
  return link;
}

void UnlinkComPort(const std::string& linkPath, const std::string& target) {
  if (linkPath.empty()) return;
  char buf[PATH_MAX];
  const ssize_t n = ::readlink(linkPath.c_str(), buf, sizeof buf - 1);
  if (n < 0) return;
  buf[n] = '\0';
  if (target == buf) ::unlink(linkPath.c_str());
}

}  // namespace modemsim
