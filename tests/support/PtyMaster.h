#pragma once
// The test's end of a pseudo-terminal: the program under test opens the slave
// (by its name, or through a COM<n> link), the test plays the modem on the
// master. The master is non-blocking and closed with the object (or earlier,
// by Close, which the program sees as its modem unplugged). A failed open
// leaves Ok() false and SlaveName() empty; callers assert on that.
// One thread at a time, except that one thread may write while another
// reads.
#include <chrono>
#include <cstddef>
#include <string>

#include <termios.h>

namespace corvane::testsupport {

class PtyMaster {
 public:
  // raw: the line in raw mode before anyone opens the slave.
  explicit PtyMaster(bool raw = false);
  ~PtyMaster();
  PtyMaster(const PtyMaster&) = delete;
  PtyMaster& operator=(const PtyMaster&) = delete;

  bool Ok() const { return !slave_.empty(); }
  int Fd() const { return master_; }
  const std::string& SlaveName() const { return slave_; }

  // The slave's line settings as the program under test left them (termios
  // calls on a master act on its slave).
  termios SlaveTermios() const;

  // Writes all of bytes, waiting while the line is full; false on an error or
  // when the line stayed full for 10 s.
  bool WriteAll(const std::string& bytes) const;
  bool WriteAll(const void* data, std::size_t len) const;
  // What the slave's side sent, without waiting.
  std::string ReadAvailable();
  // Reads until want bytes arrived or timeout passed; may return more than
  // want when more came (so stray extra bytes show).
  std::string ReadAtLeast(std::size_t want,
                          std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  // Reads until count bytes arrived or timeout passed, never more than count
  // (what follows stays for the next read).
  std::string ReadUpTo(std::size_t count, std::chrono::milliseconds timeout) const;

  // Keeps the slave open from the test's side, so the master sees no hang-up
  // between the program's opens and bytes written before its first open
  // wait. ReleaseHold lets the program's last close hang the line up.
  bool HoldSlave();
  void ReleaseHold();
  // Closes the master now.
  void Close();

 private:
  bool WaitReadable(std::chrono::steady_clock::time_point deadline) const;

  int master_ = -1;
  int hold_ = -1;
  std::string slave_;
};

// A symlink <dir>/COM<n> to a device, removed with the object. Ok() is false
// when the link could not be made.
class ComLink {
 public:
  ComLink(const std::string& dir, int comNumber, const std::string& device);
  ~ComLink();
  ComLink(const ComLink&) = delete;
  ComLink& operator=(const ComLink&) = delete;

  bool Ok() const { return ok_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  bool ok_ = false;
};

}  // namespace corvane::testsupport
