#pragma once
// The test's end of a pseudo-terminal: the program under test opens the slave
// (by its name, or through a COM<n> link), the test plays the modem on the
// master. The master is non-blocking and closed with the object. A failed
// open leaves Ok() false and SlaveName() empty; callers assert on that.
// One thread at a time.
#include <chrono>
#include <cstddef>
#include <string>

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

  // Writes all of bytes, retrying while the line is full; false on an error.
  bool WriteAll(const std::string& bytes);
  // What the slave's side sent, without waiting.
  std::string ReadAvailable();
  // Reads until want bytes arrived or timeout passed.
  std::string ReadAtLeast(std::size_t want, std::chrono::milliseconds timeout);

 private:
  int master_ = -1;
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
