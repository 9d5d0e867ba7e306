#pragma once
// Test equipment for the console tests: a private program folder, modems
// stood in for by pseudo-terminals linked as COM<n>, recorders for the
// operator's dialogs and the central exception handler, and waiting on the
// event loop.
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ComDir.h"
#include "EventWait.h"
#include "PtyMaster.h"
#include "Recorders.h"
#include "uToolkit.h"

namespace corvane::test {

// Spins the event loop until pred holds or ms pass; returns pred().
inline bool WaitUntil(const std::function<bool()>& pred, int ms = 3000) {
  return testsupport::WaitUntil(pred, ms);
}
using testsupport::Pump;  // spins the event loop for ms

// A pseudo-terminal whose slave end is linked as $CORVANE_COM_DIR/COM<n>.
class TFakeModemEnd {
 public:
  TFakeModemEnd(const std::string& comDir, int comNumber);
  void Write(const std::string& bytes);
  std::string ReadAvailable();  // what the port sent, without waiting
  int Com() const { return com_; }

 private:
  testsupport::PtyMaster master_{/*raw=*/true};
  int com_;
  testsupport::ComLink link_;  // declared after the master: unlinked before it closes
};

using TDialogRecorder = testsupport::DialogRecorder;
using TCentralRecorder = testsupport::CentralRecorder;

// A folder for the INI files and one for the COM links, both temporary;
// CORVANE_COM_DIR points at the second while the object lives.
class TConsoleFolder {
 public:
  TConsoleFolder();
  std::string Dir() const;     // program folder, trailing '/'
  std::string ComDir() const;  // COM link folder
  void WriteFile(const std::string& name, const std::string& bytes) const;
  std::string ReadFile(const std::string& name) const;
  bool Exists(const std::string& name) const;
  TFakeModemEnd& AddModem(int comNumber);

 private:
  QTemporaryDir program_;
  testsupport::ComDir com_{"corvane-console-com"};
  std::map<int, std::unique_ptr<TFakeModemEnd>> modems_;
};

std::string ReadWholeFile(const std::string& path);

}  // namespace corvane::test
