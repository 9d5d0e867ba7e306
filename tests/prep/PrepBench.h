#pragma once
// Test equipment for the preparation tool: simulated modems on
// pseudo-terminals linked as COM<n> in a private folder (CORVANE_COM_DIR
// points there), the tool's window on the offscreen platform, recorders for
// the operator's dialogs and the central exception handler, and waiting on
// the event loop.
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ComDir.h"
#include "EventWait.h"
#include "ModemBank.h"
#include "Recorders.h"
#include "uToolkit.h"
#include "uzInitModemV4.h"

namespace prep_test {

using namespace std::chrono_literals;

// Spins the event loop until pred holds or ms pass; returns pred().
inline bool WaitUntil(const std::function<bool()>& pred, int ms = 5000) {
  return corvane::testsupport::WaitUntil(pred, ms);
}
using corvane::testsupport::Pump;

// A quick modem with echo on, reports off, the SIM Toolkit off and a card in
// the holder; `extra` lines are appended to its [modem] section.
std::string Scenario(const std::string& extra = "");

// A fault rule from its scenario keys, e.g. {{"command", "AT+CFUN"}, {"reply", "error"}}.
modemsim::FaultRule Fault(const std::vector<std::pair<std::string, std::string>>& keys);

// Recorders for the dialogs and the central exception handler.
using DialogRecorder = corvane::testsupport::DialogRecorder;
using CentralRecorder = corvane::testsupport::CentralRecorder;

// Modems COM<firstCom> .. and one tool window (not counted by the limiter).
class PrepBench {
 public:
  explicit PrepBench(int count = 1, int firstCom = 5, const std::string& scenario = Scenario(),
                     int replyTimeOutMs = 0);
  ~PrepBench();

  modemsim::Modem& Modem(int index = 0) { return bank->At(index); }
  corvane::prep::TfzInitModem& Window() { return *window; }

  // Types the port and baud texts and presses "Set".
  void SetPort(const QString& port, const QString& baud = QStringLiteral("115200"));
  // What the tool sent to modem `index` since `from`.
  std::string HostSince(std::size_t from, int index = 0) const;
  std::vector<std::string> Log() const;
  // Waits until the log's last line is `line`.
  bool WaitLog(const std::string& line, int ms = 5000);
  // Waits until the modem at `index` has a host and has finished booting.
  bool WaitModemReady(int index = 0);

  corvane::testsupport::ComDir comDir{"corvane-prep"};
  std::unique_ptr<modemsim::ModemBank> bank;
  std::unique_ptr<corvane::prep::TfzInitModem> window;
  DialogRecorder dialogs;
  CentralRecorder central;
};

}  // namespace prep_test
