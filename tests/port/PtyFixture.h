#pragma once
// Pseudo-terminals standing in for modems: the port opens the slave side
// through a COM<n> link in a private folder (CORVANE_COM_DIR), the test plays
// the modem on the master side. Test thread only.
#include <chrono>
#include <stdexcept>
#include <string>

#include <unistd.h>

#include "ComDir.h"
#include "ProcessCounts.h"
#include "PtyMaster.h"

namespace porttest {

class ComDir : public corvane::testsupport::ComDir {
 public:
  ComDir() : corvane::testsupport::ComDir("corvane-port") {}
};

// One pseudo-terminal whose slave is reachable as COM<n>. The test holds the
// slave open itself, so the master never sees a hang-up between the port's
// opens (and data written before the first open waits).
class Modem {
 public:
  Modem(const ComDir& dir, int com) {
    if (!pty_.Ok()) throw std::runtime_error("posix_openpt");
    if (!dir.Link(com, pty_.SlaveName())) throw std::runtime_error("symlink");
    link_ = dir.LinkPath(com);
    pty_.HoldSlave();
  }
  ~Modem() { ::unlink(link_.c_str()); }
  Modem(const Modem&) = delete;
  Modem& operator=(const Modem&) = delete;

  int Master() const { return pty_.Fd(); }
  const std::string& Slave() const { return pty_.SlaveName(); }

  void Write(const std::string& bytes) const {
    if (!pty_.WriteAll(bytes)) throw std::runtime_error("write to master");
  }
  // Reads until `count` bytes came or `ms` passed; returns what came.
  std::string Read(size_t count, int ms = 2000) const { return pty_.ReadUpTo(count, std::chrono::milliseconds(ms)); }

  // Drops the keep-alive handle: after the port closes, the master then sees
  // the hang-up as a modem would see its cable pulled.
  void ReleaseHold() { pty_.ReleaseHold(); }
  // Closes the master: the modem is unplugged while the port is open.
  void Unplug() { pty_.Close(); }

 private:
  corvane::testsupport::PtyMaster pty_;
  std::string link_;
};

using corvane::testsupport::OpenDescriptorCount;
using corvane::testsupport::ThreadCount;

}  // namespace porttest
