#pragma once
// The modem's end of its serial line: the master of a pseudo-terminal pair
// whose slave the host opens as COM<n>. The slave is set raw once at
// creation (the host sets its own line settings later). The master is
// non-blocking. Whether a host holds the slave open is read from poll()'s
// POLLHUP on the master; an inotify watch on the slave reports opens, so the
// loop never spins on a hung-up master. Loop-thread only.
#include <string>

namespace modemsim {

class PtyLine {
 public:
  PtyLine() = default;
  ~PtyLine() { Close(); }
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // Creates the pair and watches the slave on inotifyFd. false with `error`
  // set when the system refuses.
  bool Open(int inotifyFd, std::string& error);
  // Closes the master: the host's slave then reads end of file / EIO, the
  // way a modem that is unplugged vanishes from the port.
  void Close();
  bool IsOpen() const { return master_ >= 0; }

  int MasterFd() const { return master_; }
  const std::string& SlavePath() const { return slavePath_; }
  int WatchDescriptor() const { return watch_; }

  // True while some process holds the slave open.
  bool HostPresent() const;
  // Bytes sent that the host has not read yet (0 when no host is there or
  // the count cannot be had).
  int UnreadByHost() const;
  // Reads what the last host left unread on the slave and drops it, so the
  // next host does not receive lines that went out to nobody.
  void DropUnreadOutput();

 private:
  int master_ = -1;
  int inotifyFd_ = -1;
  int watch_ = -1;
  std::string slavePath_;
};

// Points $dir/COM<n> at target, replacing an old link atomically. Returns
// the link path, or "" with `error` set.
std::string LinkComPort(const std::string& dir, int comNumber, const std::string& target,
                        std::string& error);
// Removes the link when it still points at target (another bank may have
// taken the name since).
void UnlinkComPort(const std::string& linkPath, const std::string& target);

}  // namespace modemsim
